// Pieces the operator handlers share: the error words they return, numeric
// coercion of mixed operands, the relational string comparison, and the few
// Item setters that turn the left operand into the result in place.
//
// Every two-operand operator works in place: the left operand (below the top)
// becomes the result and the right operand (the top) is popped.
#pragma once
#include <cstdint>

#include "vm/interp.h"
#include "vm/item.h"

namespace xb {

// The argument errors (gencode 1, two operands unless noted, substitution
// allowed) and the zero-divide errors of the operators.
constexpr OpErrorWord E_EXACTEQUAL = errorWord(1070, 2, true);
constexpr OpErrorWord E_EQUAL = errorWord(1071, 2, true);
constexpr OpErrorWord E_NOTEQUAL = errorWord(1072, 2, true);
constexpr OpErrorWord E_LESS = errorWord(1073, 2, true);
constexpr OpErrorWord E_LESSEQUAL = errorWord(1074, 2, true);
constexpr OpErrorWord E_GREATER = errorWord(1075, 2, true);
constexpr OpErrorWord E_GREATEREQUAL = errorWord(1076, 2, true);
constexpr OpErrorWord E_NOT = errorWord(1077, 1, true);
constexpr OpErrorWord E_AND = errorWord(1078, 2, true);
constexpr OpErrorWord E_OR = errorWord(1079, 2, true);
constexpr OpErrorWord E_NEGATE = errorWord(1080, 1, true);
constexpr OpErrorWord E_PLUS = errorWord(1081, 2, true);
constexpr OpErrorWord E_MINUS = errorWord(1082, 2, true);
constexpr OpErrorWord E_MULT = errorWord(1083, 2, true);
constexpr OpErrorWord E_DIVIDE = errorWord(1084, 2, true);
constexpr OpErrorWord E_MODULUS = errorWord(1085, 2, true);
constexpr OpErrorWord E_INC = errorWord(1086, 1, true);
constexpr OpErrorWord E_DEC = errorWord(1087, 1, true);
constexpr OpErrorWord E_POWER = errorWord(1088, 2, true);
constexpr OpErrorWord E_ABS = errorWord(1089, 1, true);
constexpr OpErrorWord E_INSTRING = errorWord(1109, 2, true);
constexpr OpErrorWord E_DIVIDE_ZERO = errorWord(1340, 2, true);
constexpr OpErrorWord E_MODULUS_ZERO = errorWord(1341, 2, true);

// The memo bit is cleared before the types are looked at: a Memo operand
// counts as a String.
inline void clearMemoBit(Item* it) { it->type = uint16_t(it->type & ~T_MEMOBIT); }

inline bool isIntOrDouble(uint16_t type) { return type == T_INTEGER || type == T_DOUBLE; }
// Numeric value of an Integer or a Double operand.
inline double numberOf(const Item* it) { return it->type == T_DOUBLE ? it->v.d : double(it->v.l); }

// Operands of different types: succeeds only when both are Integer, Double or
// Date; then every operand that is not a Double becomes one (a Date gives its
// day number) with decimals 0, keeping its width. On failure nothing changes.
bool coerceNumeric(Item* a, Item* b);

// Compares the two Strings on top (left below, right on top) without changing
// the stack: -1, 0 or 1. Mode 0 is the exact comparison of `==` (bytes, the
// longer string greater); any other mode collates and applies the
// exactCompare setting to a difference in length.
int compareStrings(int mode);
// The same over plain bytes, with the setting passed in.
int compareStringBytes(const char* a, uint32_t la, const char* b, uint32_t lb, int mode, bool exact);

// Result setters: every field of the Item is written, so nothing of the
// operand's old value survives.
inline void setLogical(Item* it, bool b) {
    it->type = T_LOGICAL;
    it->width = 0;
    it->decimals = 0;
    it->pad6 = 0;
    it->v.raw[0] = b ? 1u : 0u;
    it->v.raw[1] = 0;
}
inline void setInteger(Item* it, int32_t v, uint16_t width, uint16_t decimals) {
    it->type = T_INTEGER;
    it->width = width;
    it->decimals = decimals;
    it->pad6 = 0;
    it->v.raw[0] = uint32_t(v);
    it->v.raw[1] = 0;
}
inline void setDouble(Item* it, double d, uint16_t width, uint16_t decimals) {
    it->type = T_DOUBLE;
    it->width = width;
    it->decimals = decimals;
    it->pad6 = 0;
    it->v.d = d;
}
inline void setDate(Item* it, int32_t day) {
    it->type = T_DATE;
    it->pad6 = 0;
    it->v.raw[0] = uint32_t(day);
    it->v.raw[1] = 0;
}

// Day arithmetic wraps in 32 bits instead of overflowing.
inline int32_t addDays(int32_t day, int32_t n) { return int32_t(uint32_t(day) + uint32_t(n)); }

// Decimals of a sum, difference or product: at most 9.
inline uint16_t capDecimals(uint32_t d) { return uint16_t(d > 9 ? 9 : d); }

// Raises a handler error word at once, as the interpreter does with a word a
// handler returns, for handlers that must act on the answer themselves.
// 0 substituted (the value replaced the operands), 1 retry, ST_UNWIND.
uint16_t raiseHandlerError(OpErrorWord word);

}  // namespace xb
