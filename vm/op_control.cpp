// Control opcodes: lines, ends, returns, jumps, call set-up and idle.
#include "vm/symref.h"
#include "vm/error.h"
#include "base/memory.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/stack.h"
#include "vm/symref.h"

namespace xb {

namespace {

inline GlobalSymbol* operandSymbol() { return moduleGlobal(vm.moduleSymbols, fetchU16()); }
inline GlobalSymbol* operandSymbolX() { return symbolFromRef(fetchU32()); }

// All four conditional jumps need a Logical on top.
constexpr OpErrorWord NOT_LOGICAL = errorWord(1066, 1, false);

inline void jumpBy() { takeJump(); }

}  // namespace

void (*&idleServices)() = runtimeHooks.idleServices;

XB_OPCODE(NOP) { return 0; }
// 111 is a second NOP (it has no mnemonic of its own).
constexpr uint8_t OP_NOP_SECOND = 0x6F;
static OpRegistration op_NOP_second_registration(OP_NOP_SECOND, op_NOP);

XB_OPCODE(LINE) {
    vm.lineNumber = fetchU16();
    return 0;
}

XB_OPCODE(DEBUGINFO) {
    vm.frameFlags |= FF_DEBUG;
    jumpBy();
    return 0;
}

XB_OPCODE(ENDPROC) {
    vm.running = 0;
    return 0;
}

XB_OPCODE(ENDBLOCK) {
    vm.running = 0;
    return 0;
}

XB_OPCODE(POPRET) {
    storeTop(returnItem());
    return 0;
}

XB_OPCODE(PUSHRET) {
    push(returnItem());
    itemClear(returnItem());
    return 0;
}

XB_OPCODE(PUSHSYM) {
    pushSymbol(operandSymbol());
    return 0;
}

XB_OPCODE(PUSHSYMNIL) {
    pushSymbol(operandSymbol());
    pushNil();
    return 0;
}

XB_OPCODE(PUSHSYMX) {
    pushSymbol(operandSymbolX());
    return 0;
}

XB_OPCODE(PUSHSYMNILX) {
    pushSymbol(operandSymbolX());
    pushNil();
    return 0;
}

XB_OPCODE(JUMP) {
    jumpBy();
    return 0;
}

XB_OPCODE(JUMPFALSE) {
    if (vm.top->type != T_LOGICAL) return opStatus(NOT_LOGICAL);
    bool b = vm.top->v.l != 0;
    --vm.top;
    if (!b) jumpBy();
    else skipJump();
    return 0;
}

XB_OPCODE(JUMPTRUE) {
    if (vm.top->type != T_LOGICAL) return opStatus(NOT_LOGICAL);
    bool b = vm.top->v.l != 0;
    --vm.top;
    if (b) jumpBy();
    else skipJump();
    return 0;
}

XB_OPCODE(JUMPFALSEKEEP) {
    if (vm.top->type != T_LOGICAL) return opStatus(NOT_LOGICAL);
    if (vm.top->v.l) {
        --vm.top;
        skipJump();
    } else {
        jumpBy();
    }
    return 0;
}

XB_OPCODE(JUMPTRUEKEEP) {
    if (vm.top->type != T_LOGICAL) return opStatus(NOT_LOGICAL);
    if (!vm.top->v.l) {
        --vm.top;
        skipJump();
    } else {
        jumpBy();
    }
    return 0;
}

XB_OPCODE(IDLE) {
    if (idleServices) idleServices();
    dispatchIdleTasks(0x2000);
    return 0;
}

}  // namespace xb
