// Numbers to text and back: the fixed-width formatter every numeric output
// goes through, ROUND's rounding, the default width of a number that has
// none, the text-to-number conversion of VAL, and the width/decimals that
// STR picks for each of its call forms.
//
// Everything here is a pure function over doubles, integers and caller
// buffers: nothing allocates, nothing reads the settings block (callers pass
// the `fixedFormat` and `decimals` settings in a NumberSettings), nothing
// raises. Argument checking of STR and VAL is the caller's.
#pragma once
#include <cstdint>

namespace xb {

// The two settings that shape numbers without a width of their own.
struct NumberSettings {
    bool fixedFormat;   // SET FIXED: every number shows `decimals` decimals
    uint16_t decimals;  // SET DECIMALS
};

// Display width and decimals of a number.
struct NumberShape {
    uint16_t width;
    uint16_t decimals;
};

// The largest width a number can be shown in (the width field of a number
// Item is 16 bits); STR clamps larger widths to it.
constexpr uint32_t kMaxNumberWidth = 65535;

// 10 to the power e, by repeated squaring; a negative e gives the reciprocal.
// Overflows to +inf (and so to 0 for negative e) beyond the double range.
double powerOfTen(int32_t e);

// ROUND(x, decimals): half away from zero at the given decimal (a negative
// count rounds to tens, hundreds...). Zero stays zero. Values that already
// have no digits at that position (huge magnitudes, or more decimals than a
// double holds) come back unchanged; NaN and infinities too. The ROUND
// result Item has width 0 and `decimals` decimals (0 when negative).
double roundNumber(double x, int32_t decimals);

// Writes x into exactly `width` characters at out, right-aligned, with
// `decimals` decimals, rounding half away from zero at the last decimal.
// A '-' stands before the first digit only when the rounded value is not
// zero (-0.04 with one decimal shows "0.0"). The integral part is written
// with all its exact digits however large it is. When the text does not fit
// in `width`, or x is NaN or infinite, out gets `width` asterisks. Writes
// nothing beyond out[width - 1]; width 0 writes nothing. Up to 15 decimals
// the rounding works on the fraction scaled by a power of ten (so 2.675
// shows as 2.68 with two decimals); with more, the decimals are those of the
// double's exact binary value, rounded at the last one, zeros after its end.
void formatNumber(double x, uint32_t width, uint32_t decimals, char* out);

// formatNumber over a 32-bit integer (converted exactly to a double).
void formatInteger(int32_t n, uint32_t width, uint32_t decimals, char* out);

// The default width rule of a number item: fills in a width when `width` is
// 0, and under `fixedFormat` replaces the decimals by the `decimals`
// setting (taking the old decimals' room out of a given width first). A
// double without width gets 10 (0 <= value < 10^9), decimals + 11 (negative
// above -10^9) or 20; an integer 10 (|value| < 10^9) or 20. The decimal point
// and decimals are then added to the width. Callers apply it when the width
// is 0, and for display and TRANSFORM also whenever `fixedFormat` is on.
// The width saturates at kMaxNumberWidth.
NumberShape defaultShape(bool isInteger, double value, uint16_t width, uint16_t decimals,
                         NumberSettings settings);

// Text to number: a text of 64 characters or more gives 0. Leading blanks
// and tabs are skipped; then an optional '-' (a '+' ends the number at once,
// giving 0), digits, an optional '.' and digits. The first other character
// ends the number.
double textToNumber(const char* text, uint32_t length);

// Text to number with its layout: the value as above, the width (the text
// length) and the decimals (the characters after the first '.' of the text,
// 0 without one), both saturating at kMaxNumberWidth.
struct NumberText {
    double value;
    uint16_t width;
    uint16_t decimals;
};
NumberText textToNumberLayout(const char* text, uint32_t length);

// VAL(text): an integer of width 10 (the value cut toward zero) when the text
// has no decimals and is shorter than 10 characters, otherwise a double with
// the width and decimals of the layout.
struct ValResult {
    bool isInteger;
    int32_t integer;  // when isInteger
    double value;     // when !isInteger
    uint16_t width;
    uint16_t decimals;
};
ValResult valText(const char* text, uint32_t length);

// The shape STR shows its number in; the text itself is then
// formatNumber(value, shape.width, shape.decimals, buffer of shape.width).
//
// STR(n): the item's width and decimals (0 decimals for an integer); an item
// of width 0 gets the default rule first.
NumberShape strShape1(double value, bool isInteger, uint16_t width, uint16_t decimals,
                      NumberSettings settings);
// STR(n, w): width w when w >= 1, else 10; no decimals.
NumberShape strShape2(int32_t width);
// STR(n, w, d): width as STR(n, w); decimals d when d >= 1, else 0, and at
// most width - 1.
NumberShape strShape3(int32_t width, int32_t decimals);

}  // namespace xb
