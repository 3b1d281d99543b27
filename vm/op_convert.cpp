// STR and VAL: numbers to text and back, shaped by the number formatter.
#include "base/numfmt.h"
#include "vm/builtins.h"
#include "vm/normalize.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The number in *slot as text of the given shape, built into *slot (the
// number holds no heap object, so nothing needs to stay rooted).
void numberText(Item* slot, double value, NumberShape shape) {
    char* out = makeStringBuffer(slot, shape.width);
    formatNumber(value, shape.width, shape.decimals, out);
}

}  // namespace

// STR(n): the item's own width and decimals (none for an Integer); a width
// of 0 takes the numeric width rule.
XB_OPCODE(STR1) {
    Item* n = vm.top;
    if (!isNumeric(n)) return opStatus(E_STR1);
    const bool isInteger = n->type == T_INTEGER;
    const double value = numericValue(n);
    numberText(n, value, strShape1(value, isInteger, n->width, n->decimals, currentNumberSettings()));
    return 0;
}

// STR(n, w): width w (10 when below 1), no decimals.
XB_OPCODE(STR2) {
    Item* w = vm.top;
    Item* n = w - 1;
    if (!isNumeric(n) || !integerArgument(w)) return opStatus(E_STR2);
    numberText(n, numericValue(n), strShape2(w->v.l));
    pop();
    return 0;
}

// STR(n, w, d): width as STR(n, w); d decimals (0 when below 1), at most
// width - 1.
XB_OPCODE(STR3) {
    Item* d = vm.top;
    Item* w = d - 1;
    Item* n = d - 2;
    if (!isNumeric(n) || !integerArgument(w) || !integerArgument(d)) return opStatus(E_STR3);
    numberText(n, numericValue(n), strShape3(w->v.l, d->v.l));
    dropAbove(3);
    return 0;
}

// VAL(text): an Integer of width 10 for a short text without decimals, else
// a Double with the text's length as width and the digits after its point
// as decimals.
XB_OPCODE(VAL) {
    Item* s = vm.top;
    if (!isString(s)) return opStatus(E_VAL);
    const ValResult r = valText(strData(s), strLength(s));
    if (r.isInteger) putInteger(s, r.integer, 10);
    else putDouble(s, r.value, r.width, r.decimals);
    return 0;
}

}  // namespace xb
