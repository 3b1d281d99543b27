// Pictures: formatting a value through a picture text such as "@E 9,999.99"
// or "@R X-X" (TRANSFORM). A picture is an optional function part (an '@',
// flag letters, up to the first blank) followed by a template of placeholders
// and literals.
//
// Pure functions over caller buffers: nothing allocates and nothing reads the
// settings; the `fixedFormat`/`decimals` settings come in a NumberSettings and
// dates are turned into text by a callback (so the caller decides which date
// format is in force). Argument checking of TRANSFORM is the caller's.
// Picture letters and the '!' conversions go through the national upper-case
// table.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/numfmt.h"

namespace xb {

// The flags of a picture's function part.
struct PictureFunctions {
    bool upperCase;         // '!': every copied character in upper case
    bool parenthesesLeft;   // '(': negative numbers as "(" at the start ... ")"
    bool parenthesesRight;  // ')': as '(', the "(" just before the first non-blank
    bool alphaOnly;         // 'A': read, no effect on formatting
    bool leftJustify;       // 'B': leading blanks moved to the end
    bool credit;            // 'C': " CR" after a positive number
    bool dateTemplate;      // 'D': the template is the date template
    bool european;          // 'E': '.' and ',' swapped; day and month swapped
    bool clearOnKey;        // 'K': read, no effect on formatting
    bool insertLiterals;    // 'R': literals are inserted, not over value characters
    bool debit;             // 'X': " DB" after a negative number
    bool blankZero;         // 'Z': all blanks for a zero
    uint16_t scrollWidth;   // 'S' and digits: the result is at least this long
};

// Reads the function part of pic (len bytes) into *f (cleared first). When
// pic starts with '@', the letters up to the first blank set the flags
// (through the upper-case table; unknown letters are ignored) and 'S' reads
// the digits after it as the scroll width (saturating at 65535). Returns
// where the template starts: after that blank, len when there is none, 0 when
// there is no function part.
uint32_t readPictureFunctions(const char* pic, uint32_t len, PictureFunctions* f);

// The kind of value a template is read for.
enum class PictureKind : uint8_t { Text, Number, Date, Logical };

// Whether c is a placeholder of a template for values of the given kind
// (letters compared through the upper-case table): text "9#ALNXY!", number
// and date "9#*$", logical "L#Y". Every other character is a literal.
bool isPlaceholder(PictureKind kind, uint8_t c);

// Turns a date (day number, 0 = empty) into its text in the date format in
// force, writing at most 10 characters to out (which holds 11), and returns
// the length. context is passed through.
using DateTextFn = uint32_t (*)(void* context, int32_t dayNumber, char* out);

struct DateFormatter {
    DateTextFn text;
    void* context;
};

// The date template: the text of the empty date with every blank turned
// into '9' ("99/99/99" for the format "MM/DD/YY"). out holds 11 bytes;
// returns the length (0 without a formatter).
uint32_t dateTemplate(const DateFormatter& dates, char* out);

// Merges the value text v (n bytes) into the template p (m bytes) for a value
// of the given kind and sign (-1, 0 or 1; text, date and logical values are
// merged with 0), writing at most capacity bytes to out; returns the length
// written. Literals, separators (with the sign moving past a ','), '*' and
// '$' fill, 'Y' and '!' placeholders, and the flags R, E, (, ), C, X, Z and B
// are applied in that order; a result that does not fit is cut at capacity.
uint32_t mergePicture(PictureKind kind, int sign, const char* v, uint32_t n, const char* p,
                      uint32_t m, const PictureFunctions& f, char* out, uint32_t capacity);

// A value for TRANSFORM.
enum class ValueKind : uint8_t { Nil, Number, Text, Date, Logical };

struct TransformValue {
    ValueKind kind;
    // Number: the value (an integer converted exactly), whether it was an
    // integer, and its display width and decimals (width 0: not set).
    double number;
    bool isInteger;
    uint16_t width;
    uint16_t decimals;
    // Text or memo.
    const char* text;
    uint32_t length;
    // Date: the day number (0 = empty).
    int32_t date;
    // Logical.
    bool logical;
};

// Everything TRANSFORM needs besides the value and the picture.
struct TransformContext {
    NumberSettings numbers;
    DateFormatter dates;  // for date values and the D and E flags
};

// The number of bytes the buffer given to transform() must hold for this
// value and picture (pic may be null when the picture is NIL).
uint32_t transformBufferSize(const TransformValue& value, const char* pic, uint32_t picLen,
                             const TransformContext& ctx);

// TRANSFORM(value, picture): formats value through pic (null or empty: no
// picture) into buf, which holds bufSize bytes, at least
// transformBufferSize(). The result starts at buf[0]; its length is returned
// in *length. It is the merged text padded with blanks to the scroll width.
// Returns false (writing nothing) when the buffer is too small. A NIL value
// gives the empty text.
//
// Numbers: the default width rule applies first when the width is 0 or
// fixedFormat is on. With a template, decimals are the placeholders after
// its first '.' and the width the placeholders before it plus the decimals
// and the point (at most 64); a template of decimals only (".99") drops the
// leading "0" of values from 0 to below 1. X, ( and ) show a negative value
// without its sign. Text is cut to the template length (with R, to its
// placeholder count). Dates, and any value under D or a non-number under E,
// take the date template.
bool transform(const TransformValue& value, const char* pic, uint32_t picLen,
               const TransformContext& ctx, char* buf, uint32_t bufSize, uint32_t* length);

}  // namespace xb
