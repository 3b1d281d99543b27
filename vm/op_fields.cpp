// Field opcodes (plain, aliased and the field-or-memvar PUSHVARIABLE), the
// alias opcode and the start and end of an aliased expression.
#include "vm/symbols.h"
#include "vm/error.h"
#include "vm/fields.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/stack.h"
#include "vm/var_access.h"

namespace xb {

namespace {

uint16_t pushCurrentField(GlobalSymbol* s) {
    FieldDescriptor* d;
    if (uint16_t r = waitForField(s, AREA_CURRENT, &d)) return r;
    return pushField(d);
}

uint16_t popCurrentField(GlobalSymbol* s) {
    FieldDescriptor* d;
    if (uint16_t r = waitForField(s, AREA_CURRENT, &d)) return r;
    return popField(d);
}

// The Alias (or area number) on top is popped first.
uint16_t pushAliasedField(GlobalSymbol* s) {
    uint16_t area = areaOfItem(vm.top);
    --vm.top;
    FieldDescriptor* d;
    if (uint16_t r = waitForField(s, area, &d)) return r;
    return pushField(d);
}

uint16_t popAliasedField(GlobalSymbol* s) {
    uint16_t area = areaOfItem(vm.top);
    --vm.top;
    FieldDescriptor* d;
    if (uint16_t r = waitForField(s, area, &d)) return r;
    return popField(d);
}

// A field of the current area when there is one, else the memory variable;
// with neither, the missing-variable error until one of them exists.
uint16_t pushVariable(GlobalSymbol* s) {
    for (uint16_t tries = 1;; ++tries) {
        if (FieldDescriptor* d = findField(s, fieldAccess()->currentArea())) return pushField(d);
        if (s->memvarSlot) return pushMemvar(s);
        if (raiseMissingVariable(s, tries) == ST_UNWIND) return ST_UNWIND;
    }
}

// An alias without a work area raises (name, 15, 1002, retry) until it has one.
uint16_t pushAlias(GlobalSymbol* s) {
    for (uint16_t tries = 1; !s->aliasArea; ++tries)
        if (raiseMissingAlias(s, tries) == ST_UNWIND) return ST_UNWIND;
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_ALIAS;
    t->v.area = s->aliasArea;
    return 0;
}

}  // namespace

XB_OPCODE(PUSHFIELD) { return pushCurrentField(readSymbolOperand()); }
XB_OPCODE(PUSHFIELDX) { return pushCurrentField(readSymbolOperandX()); }
XB_OPCODE(POPFIELD) { return popCurrentField(readSymbolOperand()); }
XB_OPCODE(POPFIELDX) { return popCurrentField(readSymbolOperandX()); }
XB_OPCODE(PUSHALIASFIELD) { return pushAliasedField(readSymbolOperand()); }
XB_OPCODE(PUSHALIASFIELDX) { return pushAliasedField(readSymbolOperandX()); }
XB_OPCODE(POPALIASFIELD) { return popAliasedField(readSymbolOperand()); }
XB_OPCODE(POPALIASFIELDX) { return popAliasedField(readSymbolOperandX()); }
XB_OPCODE(PUSHVARIABLE) { return pushVariable(readSymbolOperand()); }
XB_OPCODE(PUSHVARIABLEX) { return pushVariable(readSymbolOperandX()); }
XB_OPCODE(PUSHALIAS) { return pushAlias(readSymbolOperand()); }
XB_OPCODE(PUSHALIASX) { return pushAlias(readSymbolOperandX()); }

// Start of alias->(expression): the top selects the area (an Alias or an
// Integer its number, a String the alias area of the name, anything else 0,
// which takes the lowest free area) and is replaced by the number of the
// area that was current.
XB_OPCODE(ALIASSELECT) {
    uint16_t area = 0;
    if (vm.top->type == T_ALIAS || vm.top->type == T_INTEGER) {
        area = areaOfItem(vm.top);
    } else if (vm.top->type & M_STRING) {
        char name[SYMBOL_NAME_MAX + 1];
        uint32_t n = strLength(vm.top);
        if (n > uint32_t(SYMBOL_NAME_MAX)) n = SYMBOL_NAME_MAX;
        for (uint32_t i = 0; i < n; ++i) name[i] = strData(vm.top)[i];
        name[n] = 0;
        if (GlobalSymbol* s = findSymbolTrimmed(name)) area = s->aliasArea;
    }
    uint16_t previous = fieldAccess()->selectArea(area);
    itemClear(vm.top);
    vm.top->type = T_INTEGER;
    vm.top->v.l = previous;
    return 0;
}

// End of alias->(expression): the saved area below the top becomes current
// again and the expression's value takes its place.
XB_OPCODE(ALIASRESTORE) {
    fieldAccess()->selectArea(areaOfItem(vm.top - 1));
    vm.top[-1] = vm.top[0];
    --vm.top;
    return 0;
}

}  // namespace xb
