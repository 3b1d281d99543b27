// National character tables: case maps, character classes and the sort
// weights of the Spanish collation, all over the 256 Windows-1252 bytes.
// Every upper-casing of names in the runtime goes through toUpper/upperText,
// and every ordering of strings (relational operators, index keys) goes
// through collateCompare. The tables are fixed data; the lookups are pure.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xb {

// Upper-case map: a-z, 224-239, 241-246, 248-254 move down by 32; every
// other byte (208 and 240, 215 and 247, 223, 255, all of 128-191) is itself.
extern const uint8_t upperTable[256];
// Lower-case map: the exact inverse of upperTable on the same ranges.
extern const uint8_t lowerTable[256];
// Character-class flags (CharClass bits) per byte. The letters above 127
// here sit at their code page 437/850 positions (164/165 are n/N with tilde
// there), unlike the case maps and the weights, which use Windows-1252.
extern const uint8_t charClassTable[256];
// Sort weight per byte: N-tilde between N and O, accented vowels weigh as
// their base vowel, upper case before lower case, C-cedilla after the letters.
extern const uint8_t sortWeightTable[256];

// Flags of charClassTable.
enum CharClass : uint8_t {
    ccLetter = 1,
    ccDigit = 2,
    ccBlank = 4,     // tab and space
    ccYes = 8,       // letters that answer yes in a logical picture (S T Y)
    ccNo = 16,       // letters that answer no (F N)
    ccCurrency = 64  // '$'
};

// Single-byte lookups.
inline uint8_t toUpper(uint8_t c) { return upperTable[c]; }
inline uint8_t toLower(uint8_t c) { return lowerTable[c]; }
inline uint8_t charClass(uint8_t c) { return charClassTable[c]; }
inline uint8_t sortWeight(uint8_t c) { return sortWeightTable[c]; }

// Map n bytes of src through upperTable / lowerTable into dst. dst may be
// src (in-place); otherwise the ranges must not overlap. No terminator is
// written.
void upperText(char* dst, const char* src, size_t n);
void lowerText(char* dst, const char* src, size_t n);

// Collation compare over the first min(na, nb) bytes of a and b: -1, 0 or 1.
// The identical leading bytes are skipped by plain byte comparison; from
// the first differing byte on, characters are compared by weight, and equal
// weights (such as 'a' and a-acute) go on to the next character. A length
// difference alone never makes a difference: callers decide what it means.
int collateCompare(const char* a, const char* b, size_t na, size_t nb);

// Character tests of the library (each applied by the caller to the first
// character of its text argument).
// Upper-case letter: the byte changes under the lower-case map (so A-grave is).
inline bool isUpperChar(uint8_t c) { return lowerTable[c] != c; }
// Lower-case letter: the byte changes under the upper-case map.
inline bool isLowerChar(uint8_t c) { return upperTable[c] != c; }
// ASCII letter only: A-Z or a-z.
inline bool isAlphaChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// ASCII digit: 0-9.
inline bool isDigitChar(uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace xb
