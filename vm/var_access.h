// Small helpers the variable, array and codeblock opcodes share: reading a
// symbol operand (module-table number or 32-bit symbol number) and storing
// the top into a local-like variable.
#pragma once
#include <cstdint>

#include "vm/interp.h"
#include "vm/stack.h"
#include "vm/symref.h"

namespace xb {

// The s operand: an entry of the running module table.
inline GlobalSymbol* readSymbolOperand() { return moduleGlobal(vm.moduleSymbols, fetchU16()); }

// The x operand: a GlobalSymbol as symbolRef encodes it (macro-compiled code).
inline GlobalSymbol* readSymbolOperandX() { return symbolFromRef(fetchU32()); }

// Pops the top into a local, static or outer local. Through a reference the
// full store rules apply; a plain variable only loses the memo bit of the
// value (no fixedFormat adjustment, unlike memory variables).
inline void popIntoVariable(Item* var) {
    if (var->type & M_REF) {
        storeTop(var);
        return;
    }
    Item* v = vm.top;
    if ((v->type & T_MEMO) == T_MEMO) v->type = T_STRING;
    *var = *v;
    --vm.top;
}

// Pushes a reference to var: its own reference when it holds one (references
// never chain), else an ItemRef to it.
inline void pushVariableRef(Item* var) {
    if (var->type & M_REF) {
        push(var);
        return;
    }
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_ITEMREF;
    t->v.o.ptr = var;
}

}  // namespace xb
