// Numeric built-ins: INT, ROUND, EXP, LOG, SQRT, MIN, MAX and WORD.
#include <cmath>

#include "base/numfmt.h"
#include "vm/settings.h"
#include "vm/builtins.h"
#include "vm/stack.h"

namespace xb {

namespace {

inline bool isIntOrDouble(const Item* it) { return it->type == T_INTEGER || it->type == T_DOUBLE; }

// EXP, LOG and SQRT: the C library's result (its special values for domain
// errors), a Double of width 0 with the decimals setting.
uint16_t libraryFunction(double (*f)(double), OpErrorWord error) {
    Item* x = vm.top;
    if (!isIntOrDouble(x)) return opStatus(error);
    double r = f(numericValue(x));
    putDouble(x, r, 0, settingDecimals());
    return 0;
}

// MIN and MAX. Operands of different types must be an Integer and a Double;
// the Integer becomes a Double with 0 decimals. The result is the left
// operand's Item holding the chosen value, so it keeps its own width and
// decimals even when the right operand's value is taken.
uint16_t minMax(bool wantMax, OpErrorWord error) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (a->type != b->type) {
        if (!isIntOrDouble(a) || !isIntOrDouble(b)) return opStatus(error);
        Item* i = a->type == T_INTEGER ? a : b;
        putDouble(i, double(i->v.l), i->width, 0);
    }
    int cmp;
    switch (a->type) {
    case T_INTEGER:
    case T_DATE: cmp = (a->v.l > b->v.l) - (a->v.l < b->v.l); break;
    case T_DOUBLE: cmp = (a->v.d > b->v.d) - (a->v.d < b->v.d); break;
    case T_LOGICAL: cmp = int(a->v.l != 0) - int(b->v.l != 0); break;
    default: return opStatus(error);
    }
    if (wantMax ? cmp < 0 : cmp > 0) a->v = b->v;
    pop();
    return 0;
}

}  // namespace

XB_OPCODE(EXP) { return libraryFunction(static_cast<double (*)(double)>(std::exp), E_EXP); }
XB_OPCODE(LOG) { return libraryFunction(static_cast<double (*)(double)>(std::log), E_LOG); }
XB_OPCODE(SQRT) { return libraryFunction(static_cast<double (*)(double)>(std::sqrt), E_SQRT); }

XB_OPCODE(MAX) { return minMax(true, E_MAX); }
XB_OPCODE(MIN) { return minMax(false, E_MIN); }

// INT(x): an Integer stays as it is. A Double is multiplied by the double
// just above 1 before it is cut, so that a value a few units of the last
// place below a whole number (the result of 0.1 * 30, say) counts as that
// number. From 2^52 on every double is whole already and is kept as it is,
// which also keeps the product from overflowing to infinity.
XB_OPCODE(INT) {
    Item* x = vm.top;
    if (x->type == T_INTEGER) return 0;
    if (x->type != T_DOUBLE) return opStatus(E_INT);
    double v = x->v.d;
    if (std::fabs(v) < 4503599627370496.0) {
        const double nudged = v * 1.0000000000000002;
        v = std::trunc(nudged);
    }
    putDouble(x, v, 0, 0);
    return 0;
}

// ROUND(x, n): half away from zero at decimal n (tens, hundreds ... for a
// negative n); a Double of width 0 with n decimals, 0 when n is negative.
XB_OPCODE(ROUND) {
    Item* n = vm.top;
    Item* x = n - 1;
    if (!isIntOrDouble(x) || !integerArgument(n)) return opStatus(E_ROUND);
    const int32_t places = n->v.l;
    const double r = roundNumber(numericValue(x), places);
    // the decimals field is 16 bits: a larger count is shown as the largest
    const uint16_t decimals = places <= 0 ? 0 : places > 0xFFFF ? uint16_t(0xFFFF) : uint16_t(places);
    putDouble(x, r, 0, decimals);
    pop();
    return 0;
}

// WORD(x): the whole number marked for passing to native code as a 16-bit
// word. Anything but a number raises without substitution.
XB_OPCODE(WORD) {
    Item* x = vm.top;
    int32_t v;
    if (x->type == T_INTEGER) v = x->v.l;
    else if (x->type == T_DOUBLE) v = doubleToInt(x->v.d);
    else return opStatus(E_WORD);
    itemClear(x);
    x->type = T_WORD;
    x->v.l = v;
    return 0;
}

}  // namespace xb
