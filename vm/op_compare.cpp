// The relational operators, the substring test `$` and JUMPNOTEQUAL.
#include <cstring>

#include "vm/object.h"
#include "vm/operators.h"
#include "vm/stack.h"

namespace xb {

namespace {

enum Relation { R_EXACT, R_EQUAL, R_NOTEQUAL, R_LESS, R_LESSEQUAL, R_GREATER, R_GREATEREQUAL };

constexpr OpErrorWord errorOf(Relation r) {
    constexpr OpErrorWord words[] = {E_EXACTEQUAL, E_EQUAL, E_NOTEQUAL, E_LESS, E_LESSEQUAL, E_GREATER, E_GREATEREQUAL};
    return words[r];
}

// x R y with the language's meaning of each relation (== and = alike). On
// doubles this is IEEE: a NaN is unequal to everything and unordered.
template <Relation R, class T>
inline bool relate(T x, T y) {
    if constexpr (R == R_EXACT || R == R_EQUAL) return x == y;
    else if constexpr (R == R_NOTEQUAL) return x != y;
    else if constexpr (R == R_LESS) return x < y;
    else if constexpr (R == R_LESSEQUAL) return x <= y;
    else if constexpr (R == R_GREATER) return x > y;
    else return x >= y;
}

// Everything but two Integers. Leaves the Logical in a's slot and pops b, or
// returns the operator's argument error with both operands untouched.
template <Relation R>
[[gnu::noinline]] uint16_t compareSlow(Item* a, Item* b) {
    clearMemoBit(a);
    clearMemoBit(b);
    bool result;
    if (a->type != b->type) {
        if constexpr (R == R_EXACT || R == R_EQUAL || R == R_NOTEQUAL) {
            if (a->type == T_NIL || b->type == T_NIL) {
                setLogical(a, R == R_NOTEQUAL);
                pop();
                return 0;
            }
        }
        if (!coerceNumeric(a, b)) return opStatus(errorOf(R));
        result = relate<R>(a->v.d, b->v.d);
    } else {
        switch (a->type) {
        case T_NIL:
            // two NILs are equal, and have no order
            if constexpr (R == R_EXACT || R == R_EQUAL || R == R_NOTEQUAL) result = R != R_NOTEQUAL;
            else return opStatus(errorOf(R));
            break;
        case T_INTEGER:
        case T_DATE:
        case T_LOGICAL:
            result = relate<R>(a->v.l, b->v.l);
            break;
        case T_DOUBLE:
            result = relate<R>(a->v.d, b->v.d);
            break;
        case T_STRING:
            if constexpr (R == R_EXACT) {
                uint32_t n = strLength(a);
                result = n == strLength(b) && std::memcmp(strData(a), strData(b), n) == 0;
            } else {
                result = relate<R>(compareStrings(1), 0);
            }
            break;
        case T_ARRAY:
            // only identity, and only for ==
            if constexpr (R == R_EXACT) result = bodyOf(a) == bodyOf(b);
            else return opStatus(errorOf(R));
            break;
        default:
            // Codeblocks, Symbols, Aliases, Words: no comparison
            return opStatus(errorOf(R));
        }
    }
    setLogical(a, result);
    pop();
    return 0;
}

template <Relation R>
inline uint16_t compareTop() {
    Item* b = vm.top;
    Item* a = b - 1;
    if (a->type == T_INTEGER && b->type == T_INTEGER) {
        setLogical(a, relate<R>(a->v.l, b->v.l));
    } else if (isIntOrDouble(a->type) && isIntOrDouble(b->type)) {
        // what coerceNumeric would give, without rewriting the operands
        setLogical(a, relate<R>(numberOf(a), numberOf(b)));
    } else {
        return compareSlow<R>(a, b);
    }
    vm.top = a;
    return 0;
}

}  // namespace

XB_OPCODE(EXACTEQUAL) { return compareTop<R_EXACT>(); }
XB_OPCODE(EQUAL) { return compareTop<R_EQUAL>(); }
XB_OPCODE(NOTEQUAL) { return compareTop<R_NOTEQUAL>(); }
XB_OPCODE(LESS) { return compareTop<R_LESS>(); }
XB_OPCODE(LESSEQUAL) { return compareTop<R_LESSEQUAL>(); }
XB_OPCODE(GREATER) { return compareTop<R_GREATER>(); }
XB_OPCODE(GREATEREQUAL) { return compareTop<R_GREATEREQUAL>(); }

// a $ b: a occurs in b as a run of bytes (no collation); an empty a never does.
XB_OPCODE(INSTRING) {
    Item* b = vm.top;
    Item* a = b - 1;
    clearMemoBit(a);
    clearMemoBit(b);
    if (a->type != T_STRING || b->type != T_STRING) return opStatus(E_INSTRING);
    uint32_t la = strLength(a), lb = strLength(b);
    bool found = false;
    if (la != 0 && la <= lb) {
        const char* needle = strData(a);
        const char* hay = strData(b);
        const char* last = hay + (lb - la);
        for (const char* p = hay; p <= last; ++p) {
            p = static_cast<const char*>(std::memchr(p, needle[0], size_t(last - p) + 1));
            if (!p) break;
            if (std::memcmp(p, needle, la) == 0) {
                found = true;
                break;
            }
        }
    }
    setLogical(a, found);
    pop();
    return 0;
}

// a b -> ; jumps when the 32-bit values differ. A Double is truncated first.
// A left operand that is no number raises the "==" argument error; when the
// error block substitutes a value, that value is dropped as the operands
// would have been and the jump is not taken, so the stack stays balanced.
XB_OPCODE(JUMPNOTEQUAL) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (!isIntOrDouble(a->type)) {
        skipJump();
        uint16_t r = raiseHandlerError(E_EXACTEQUAL);
        if (r == ST_UNWIND) return ST_UNWIND;
        pop();
        return 0;
    }
    int32_t x = a->type == T_DOUBLE ? doubleToInt(a->v.d) : a->v.l;
    int32_t y = b->type == T_DOUBLE ? doubleToInt(b->v.d) : b->v.l;
    vm.top -= 2;
    if (x != y) takeJump();
    else skipJump();
    return 0;
}

}  // namespace xb
