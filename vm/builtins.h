// Pieces the inline built-in functions share: their argument-error words, the
// "Integer argument" rule, and the setters that turn an argument slot into
// the result.
//
// A built-in works in place: its arguments are the topmost Items (the first
// one deepest) and on success one result replaces them. On failure the
// handler returns its error word and leaves the arguments where they are, so
// that the error carries them and a substituted value takes their place.
#pragma once
#include <cstdint>

#include "vm/interp.h"
#include "vm/item.h"
#include "vm/vm.h"

namespace xb {

// Argument errors: general code 1, subsystem "BASE", the function's own
// arguments, substitution allowed (WORD's excepted). The operation name comes
// from the subcode's low six bits.
constexpr OpErrorWord E_INT = errorWord(1090, 1, true);
constexpr OpErrorWord E_WORD = errorWord(1091, 1, false);
constexpr OpErrorWord E_MIN = errorWord(1092, 2, true);
constexpr OpErrorWord E_MAX = errorWord(1093, 2, true);
constexpr OpErrorWord E_ROUND = errorWord(1094, 2, true);
constexpr OpErrorWord E_LOG = errorWord(1095, 1, true);
constexpr OpErrorWord E_EXP = errorWord(1096, 1, true);
constexpr OpErrorWord E_SQRT = errorWord(1097, 1, true);
constexpr OpErrorWord E_VAL = errorWord(1098, 1, true);
constexpr OpErrorWord E_STR1 = errorWord(1099, 1, true);
constexpr OpErrorWord E_STR2 = errorWord(1099, 2, true);
constexpr OpErrorWord E_STR3 = errorWord(1099, 3, true);
constexpr OpErrorWord E_TRIM = errorWord(1100, 1, true);
constexpr OpErrorWord E_LTRIM = errorWord(1101, 1, true);
constexpr OpErrorWord E_UPPER = errorWord(1102, 1, true);
constexpr OpErrorWord E_LOWER = errorWord(1103, 1, true);
constexpr OpErrorWord E_CHR = errorWord(1104, 1, true);
constexpr OpErrorWord E_SPACE = errorWord(1105, 1, true);
constexpr OpErrorWord E_REPLICATE = errorWord(1106, 2, true);
constexpr OpErrorWord E_ASC = errorWord(1107, 1, true);
constexpr OpErrorWord E_AT = errorWord(1108, 2, true);
constexpr OpErrorWord E_SUBSTR2 = errorWord(1110, 2, true);
constexpr OpErrorWord E_SUBSTR3 = errorWord(1110, 3, true);
constexpr OpErrorWord E_LEN = errorWord(1111, 1, true);
constexpr OpErrorWord E_YEAR = errorWord(1112, 1, true);
constexpr OpErrorWord E_MONTH = errorWord(1113, 1, true);
constexpr OpErrorWord E_DAY = errorWord(1114, 1, true);
constexpr OpErrorWord E_DOW = errorWord(1115, 1, true);
constexpr OpErrorWord E_CMONTH = errorWord(1116, 1, true);
constexpr OpErrorWord E_CDOW = errorWord(1117, 1, true);
constexpr OpErrorWord E_DTOC = errorWord(1118, 1, true);
constexpr OpErrorWord E_CTOD = errorWord(1119, 1, true);
constexpr OpErrorWord E_DTOS = errorWord(1120, 1, true);
constexpr OpErrorWord E_TRANSFORM = errorWord(1122, 2, true);
constexpr OpErrorWord E_LEFT = errorWord(1124, 2, true);

// An Integer argument: an Integer, or a Double that is truncated toward zero
// in place (NaN and values beyond 32 bits give the i386 result 0x80000000).
// False, with the Item unchanged, for any other type.
inline bool integerArgument(Item* it) {
    if (it->type == T_INTEGER) return true;
    if (it->type != T_DOUBLE) return false;
    int32_t v = doubleToInt(it->v.d);
    itemClear(it);
    it->type = T_INTEGER;
    it->v.l = v;
    return true;
}

// Numeric value of an Integer or a Double.
inline double numericValue(const Item* it) { return it->type == T_DOUBLE ? it->v.d : double(it->v.l); }

// Result setters: the whole Item is rewritten, so nothing of the argument
// that stood in the slot survives.
inline void putInteger(Item* it, int32_t v, uint16_t width) {
    itemClear(it);
    it->type = T_INTEGER;
    it->width = width;
    it->v.l = v;
}
inline void putDouble(Item* it, double d, uint16_t width, uint16_t decimals) {
    itemClear(it);
    it->type = T_DOUBLE;
    it->width = width;
    it->decimals = decimals;
    it->v.d = d;
}
inline void putLogical(Item* it, bool b) {
    itemClear(it);
    it->type = T_LOGICAL;
    it->v.l = b ? 1 : 0;
}
inline void putDate(Item* it, int32_t day) {
    itemClear(it);
    it->type = T_DATE;
    it->v.l = day;
}

// Replaces the top `count` Items by the one in the deepest of them.
inline void dropAbove(uint32_t count) { vm.top -= count - 1; }

}  // namespace xb
