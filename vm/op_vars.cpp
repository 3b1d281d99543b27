// Memory-variable opcodes, the declarations PRIVATE, PUBLIC and PARAMETERS,
// and the local-reference and self opcodes.
#include "vm/symbols.h"
#include "vm/guard.h"
#include "vm/symref.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/stack.h"
#include "vm/var_access.h"

namespace xb {

namespace {

constexpr uint16_t DROPPED = 1;

// The n names of a declaration must be there and be Symbols. When one is
// not, the declaration raises; the default drops the n Items and declares
// nothing (DROPPED). 0 when all is well, 0xFFFF when the error unwound.
uint16_t checkNames(uint16_t n, const char* operation) {
    needItems(n);
    for (Item* it = vm.top - n + 1; it <= vm.top; ++it) {
        if (it->type == T_SYMBOL && it->v.o.ptr) continue;
        uint16_t r = raiseGuardError(operation, 0, false);
        if (r) return r;
        vm.top -= n;
        return DROPPED;
    }
    return 0;
}

}  // namespace

XB_OPCODE(PUSHMEMVAR) { return pushMemvar(readSymbolOperand()); }
XB_OPCODE(PUSHMEMVARX) { return pushMemvar(readSymbolOperandX()); }
XB_OPCODE(POPMEMVAR) { return popMemvar(readSymbolOperand()); }
XB_OPCODE(POPMEMVARX) { return popMemvar(readSymbolOperandX()); }
XB_OPCODE(PUSHMEMVARREF) { return pushMemvarRef(readSymbolOperand()); }
XB_OPCODE(PUSHMEMVARREFX) { return pushMemvarRef(readSymbolOperandX()); }

// Each of the n Symbols on top, in push order, gets a private of this frame,
// even when the name already has a variable.
XB_OPCODE(PRIVATE) {
    uint16_t n = fetchU16();
    if (uint16_t r = checkNames(n, "PRIVATE")) return r == DROPPED ? 0 : r;
    Item* first = vm.top - n + 1;
    for (uint16_t i = 0; i < n; ++i) newPrivate(symbolOf(first + i));
    vm.top -= n;
    return 0;
}

// Names that have no variable yet become publics; existing publics and
// privates keep their values.
XB_OPCODE(PUBLIC) {
    uint16_t n = fetchU16();
    if (uint16_t r = checkNames(n, "PUBLIC")) return r == DROPPED ? 0 : r;
    Item* first = vm.top - n + 1;
    for (uint16_t i = 0; i < n; ++i) {
        GlobalSymbol* s = symbolOf(first + i);
        if (!s->memvarSlot) newPublic(s);
    }
    vm.top -= n;
    return 0;
}

// The n Symbols on top become privates holding parameters 1..n. Parameter i
// is the Item i places above the self slot; a slot that lies among the
// Symbols themselves was never a parameter slot and gives NIL.
XB_OPCODE(PARAMETERS) {
    uint16_t n = fetchU16();
    if (uint16_t r = checkNames(n, "PARAMETERS")) return r == DROPPED ? 0 : r;
    Item* first = vm.top - n + 1;
    for (uint16_t i = 0; i < n; ++i) newPrivate(symbolOf(first + i));
    for (uint16_t i = n; i >= 1; --i) {
        Item* var = memvarItem(symbolOf(vm.top)->memvarSlot);
        Item* param = selfSlot() + i;
        if (param < first) {
            *var = *param;
            if ((var->type & T_MEMO) == T_MEMO) var->type = T_STRING;
        } else {
            itemClear(var);
        }
        --vm.top;
    }
    return 0;
}

XB_OPCODE(PUSHLOCALREF) {
    pushVariableRef(frameLocal(fetchU16()));
    return 0;
}

// The receiver; an Array pushed this way is marked as a method receiver and
// carries its object's class handle.
XB_OPCODE(PUSHSELF) {
    pushDeref(selfSlot());
    if (vm.top->type & T_ARRAY) {
        setItemReceiver(vm.top, 1);
        setItemClassHandle(vm.top, bodyOf(vm.top)->classHandle);
    }
    return 0;
}

}  // namespace xb
