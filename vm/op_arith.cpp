// Arithmetic operators: + - * / % ^, negation, ABS, ++ and --, with their
// type rules, result widths and decimals, date arithmetic and the string
// forms of + and -.
#include <cmath>
#include <cstring>

#include "base/memory.h"
#include "vm/settings.h"
#include "vm/object.h"
#include "vm/operators.h"
#include "vm/stack.h"

namespace xb {

namespace {

constexpr int64_t INT_LOW = -2147483647LL - 1;
constexpr int64_t INT_HIGH = 2147483647LL;

// Decimals an operand brings to a Double result: an Integer converts with 0.
inline uint32_t decimalsOf(const Item* it) { return it->type == T_DOUBLE ? it->decimals : 0; }

// a + b or a - b on two Strings; builds the new String into a's slot. Both
// operands stay on the stack (rooted) while the buffer is allocated; after
// that a's old value lives only in the local copy, and nothing allocates
// any more.
void joinStrings(Item* a, const Item* b, bool moveBlanks) {
    Item left = *a;
    uint32_t la = strLength(&left), lb = strLength(b);
    uint32_t keep = la;
    if (moveBlanks) {
        const char* s = strData(&left);
        while (keep > 0 && s[keep - 1] == ' ') --keep;
    }
    if (uint64_t(la) + lb > 0xFFFFFFFFu) memExhausted();
    char* out = makeStringBuffer(a, la + lb);
    std::memcpy(out, strData(&left), keep);
    std::memcpy(out + keep, strData(b), lb);
    std::memset(out + keep + lb, ' ', la - keep);
}

// Out of line, so that the fast paths of the handlers stay small.
[[gnu::noinline]] uint16_t plusSlow(Item* a, Item* b) {
    clearMemoBit(a);
    clearMemoBit(b);
    if (a->type == T_DATE) {
        if (b->type == T_INTEGER || b->type == T_DATE) {
            setDate(a, addDays(a->v.l, b->v.l));
            pop();
            return 0;
        }
        if (b->type == T_DOUBLE) {
            setDate(a, doubleToInt(double(a->v.l) + b->v.d));
            pop();
            return 0;
        }
    }
    if (a->type != b->type && !coerceNumeric(a, b)) return opStatus(E_PLUS);
    switch (a->type) {
    case T_INTEGER: {
        int64_t s = int64_t(a->v.l) + b->v.l;
        // the largest Integer sum is one below the 32-bit maximum
        if (s >= INT_LOW && s <= INT_HIGH - 1) a->v.l = int32_t(s);
        else setDouble(a, double(s), 0, settingDecimals());
        break;
    }
    case T_DOUBLE:
        setDouble(a, a->v.d + b->v.d, 0, capDecimals(a->decimals > b->decimals ? a->decimals : b->decimals));
        break;
    case T_STRING:
        joinStrings(a, b, false);
        break;
    default:
        // Logicals, Arrays, Codeblocks, Symbols, Aliases, NILs: no sum
        return opStatus(E_PLUS);
    }
    pop();
    return 0;
}

[[gnu::noinline]] uint16_t minusSlow(Item* a, Item* b) {
    clearMemoBit(a);
    clearMemoBit(b);
    if (a->type == T_DATE) {
        if (b->type == T_INTEGER) {
            setDate(a, addDays(a->v.l, int32_t(0u - uint32_t(b->v.l))));
            pop();
            return 0;
        }
        if (b->type == T_DOUBLE) {
            setDate(a, addDays(a->v.l, int32_t(0u - uint32_t(doubleToInt(b->v.d)))));
            pop();
            return 0;
        }
        if (b->type == T_DATE) {
            // the days between: an Integer with the left Item's width
            setInteger(a, int32_t(uint32_t(a->v.l) - uint32_t(b->v.l)), a->width, 0);
            pop();
            return 0;
        }
    }
    if (a->type != b->type && !coerceNumeric(a, b)) return opStatus(E_MINUS);
    switch (a->type) {
    case T_INTEGER: {
        int64_t s = int64_t(a->v.l) - b->v.l;
        if (s >= INT_LOW + 1 && s <= INT_HIGH) a->v.l = int32_t(s);
        else setDouble(a, double(s), a->width, capDecimals(a->decimals > b->decimals ? a->decimals : b->decimals));
        break;
    }
    case T_DOUBLE:
        setDouble(a, a->v.d - b->v.d, 0, capDecimals(a->decimals > b->decimals ? a->decimals : b->decimals));
        break;
    case T_STRING:
        joinStrings(a, b, true);
        break;
    default:
        return opStatus(E_MINUS);
    }
    pop();
    return 0;
}

// The operands of * / % ^ must be Integers or Doubles (no Dates).
inline bool bothNumbers(Item* a, Item* b) {
    clearMemoBit(a);
    clearMemoBit(b);
    return isIntOrDouble(a->type) && isIntOrDouble(b->type);
}

inline bool isZero(const Item* it) { return it->type == T_DOUBLE ? it->v.d == 0.0 : it->v.l == 0; }

}  // namespace

XB_OPCODE(PLUS) {
    Item* b = vm.top;
    Item* a = b - 1;
    // the common cases first: two Integers whose sum stays an Integer, and
    // any mix of Integers and Doubles
    if (a->type == T_INTEGER && b->type == T_INTEGER) {
        int32_t s;
        if (!__builtin_add_overflow(a->v.l, b->v.l, &s) && s != INT32_MAX) {
            a->v.l = s;
            vm.top = a;
            return 0;
        }
    } else if (isIntOrDouble(a->type) && isIntOrDouble(b->type)) {
        uint32_t da = decimalsOf(a), db = decimalsOf(b);
        setDouble(a, numberOf(a) + numberOf(b), 0, capDecimals(da > db ? da : db));
        vm.top = a;
        return 0;
    }
    return plusSlow(a, b);
}

XB_OPCODE(MINUS) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (a->type == T_INTEGER && b->type == T_INTEGER) {
        int32_t s;
        if (!__builtin_sub_overflow(a->v.l, b->v.l, &s) && s != INT32_MIN) {
            a->v.l = s;
            vm.top = a;
            return 0;
        }
    } else if (isIntOrDouble(a->type) && isIntOrDouble(b->type)) {
        uint32_t da = decimalsOf(a), db = decimalsOf(b);
        setDouble(a, numberOf(a) - numberOf(b), 0, capDecimals(da > db ? da : db));
        vm.top = a;
        return 0;
    }
    return minusSlow(a, b);
}

XB_OPCODE(MULT) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (!bothNumbers(a, b)) return opStatus(E_MULT);
    setDouble(a, numberOf(a) * numberOf(b), 0, capDecimals(decimalsOf(a) + decimalsOf(b)));
    pop();
    return 0;
}

XB_OPCODE(DIVIDE) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (!bothNumbers(a, b)) return opStatus(E_DIVIDE);
    if (isZero(b)) return opStatus(E_DIVIDE_ZERO);
    setDouble(a, numberOf(a) / numberOf(b), 0, settingDecimals());
    pop();
    return 0;
}

XB_OPCODE(MODULUS) {
    Item* b = vm.top;
    Item* a = b - 1;
    // two operands of one non-numeric type are refused too, rather than
    // computed on their raw bytes
    if (!bothNumbers(a, b)) return opStatus(E_MODULUS);
    if (isZero(b)) return opStatus(E_MODULUS_ZERO);
    setDouble(a, std::fmod(numberOf(a), numberOf(b)), 0, settingDecimals());
    pop();
    return 0;
}

XB_OPCODE(POWER) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (!bothNumbers(a, b)) return opStatus(E_POWER);
    double x = numberOf(a), y = numberOf(b);
    double r = x == 0.0 ? 0.0 : y == 0.0 ? 1.0 : std::pow(x, y);
    setDouble(a, r, 0, settingDecimals());
    pop();
    return 0;
}

XB_OPCODE(NEGATE) {
    Item* a = vm.top;
    clearMemoBit(a);
    if (a->type == T_INTEGER) {
        // -(-2147483648) has no Integer: it becomes the Double
        if (a->v.l == INT32_MIN) setDouble(a, 2147483648.0, 0, 0);
        else setInteger(a, -a->v.l, 0, a->decimals);
        return 0;
    }
    if (a->type == T_DOUBLE) {
        a->v.d = -a->v.d;
        a->width = 0;
        return 0;
    }
    return opStatus(E_NEGATE);
}

XB_OPCODE(ABS) {
    Item* a = vm.top;
    clearMemoBit(a);
    if (a->type == T_INTEGER) {
        if (a->v.l == INT32_MIN) setDouble(a, 2147483648.0, a->width, a->decimals);
        else if (a->v.l < 0) a->v.l = -a->v.l;
        return 0;
    }
    if (a->type == T_DOUBLE) {
        a->v.d = std::fabs(a->v.d);
        return 0;
    }
    return opStatus(E_ABS);
}

XB_OPCODE(INC) {
    Item* a = vm.top;
    if (a->type == T_INTEGER) {
        // at the limit the Double of the exact result keeps the Item's fields
        if (a->v.l == INT32_MAX) setDouble(a, 2147483648.0, a->width, a->decimals);
        else ++a->v.l;
        return 0;
    }
    clearMemoBit(a);
    if (a->type == T_DOUBLE) {
        a->v.d += 1.0;
        return 0;
    }
    if (a->type == T_DATE) {
        a->v.l = addDays(a->v.l, 1);
        return 0;
    }
    return opStatus(E_INC);
}

XB_OPCODE(DEC) {
    Item* a = vm.top;
    if (a->type == T_INTEGER) {
        if (a->v.l == INT32_MIN) setDouble(a, -2147483649.0, a->width, a->decimals);
        else --a->v.l;
        return 0;
    }
    clearMemoBit(a);
    if (a->type == T_DOUBLE) {
        a->v.d -= 1.0;
        return 0;
    }
    if (a->type == T_DATE) {
        a->v.l = addDays(a->v.l, -1);
        return 0;
    }
    return opStatus(E_DEC);
}

}  // namespace xb
