// Module statics and the temporary values kept in the static area.
#include "vm/symref.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/guard.h"
#include "vm/interp.h"
#include "vm/statics.h"
#include "vm/stack.h"
#include "vm/var_access.h"

namespace xb {

namespace {

// Static i of the running module; null without a statics base or when i
// lies outside the static area.
inline Item* staticItem(uint16_t i) {
    if (!vm.staticsBase) return nullptr;
    Item* it = vm.staticsBase + i - 1;
    return it >= vm.staticsLow && it < vm.statics + STACK_SLOTS ? it : nullptr;
}

// The open temporary values, innermost last; tempValuesFree resets the record.
struct TempValues {
    Item** temps = nullptr;
    uint32_t tempCount = 0;
    uint32_t tempCapacity = 0;
};
TempValues tempValues;
}  // namespace

// count → : reserves count NIL statics at the low end of the static area and
// records, in the statics symbol's alias-area word, the number of Items in
// use after the reservation minus 1.
XB_OPCODE(STATICSALLOC) {
    GlobalSymbol* s = readSymbolOperand();
    uint16_t n = vm.top->v.area;
    staticsReserve(n);  // NIL-filled; crossing the start is fatal 667
    uint32_t position = uint32_t(vm.statics + STACK_SLOTS - vm.staticsLow) - 1;
    // the word is 16 bits: a block it cannot locate would alias another module's
    if (position > 0xFFFF) fatalError(667);
    s->aliasArea = uint16_t(position);
    --vm.top;
    return 0;
}

XB_OPCODE(STATICSBASE) {
    GlobalSymbol* s = readSymbolOperand();
    vm.staticsBase = vm.statics + STACK_SLOTS - 1 - s->aliasArea;
    return 0;
}

XB_OPCODE(PUSHSTATIC) {
    Item* var = staticItem(fetchU16());
    if (!var) return raiseGuardError("PUSHSTATIC", 0, true);
    pushDeref(var);
    return 0;
}

XB_OPCODE(POPSTATIC) {
    Item* var = staticItem(fetchU16());
    if (!var) {
        uint16_t r = raiseGuardError("POPSTATIC", 0, false);
        if (r == 0) --vm.top;  // the default: the value is dropped
        return r;
    }
    popIntoVariable(var);
    return 0;
}

XB_OPCODE(PUSHSTATICREF) {
    Item* var = staticItem(fetchU16());
    if (!var) return raiseGuardError("PUSHSTATICREF", 0, true);
    pushVariableRef(var);
    return 0;
}

// 1 opens a temporary value (a NIL Item of the static area), 2 pops the top
// into the innermost one, anything else closes the innermost one.
XB_OPCODE(TEMPVALUE) {
    uint8_t b = fetchU8();
    if (b == 1) {
        if (tempValues.tempCount == tempValues.tempCapacity) {
            tempValues.tempCapacity += 16;
            tempValues.temps = static_cast<Item**>(memRealloc(tempValues.temps, tempValues.tempCapacity * sizeof(Item*)));
        }
        tempValues.temps[tempValues.tempCount++] = tempAlloc();
    } else if (b == 2) {
        if (tempValues.tempCount) *tempValues.temps[tempValues.tempCount - 1] = *vm.top;
        --vm.top;
    } else if (tempValues.tempCount) {
        tempRelease(tempValues.temps[--tempValues.tempCount]);
    }
    return 0;
}

XB_OPCODE(PUSHTEMP) {
    if (tempValues.tempCount) push(tempValues.temps[tempValues.tempCount - 1]);
    else pushNil();
    return 0;
}

// Forgets the open temporary values (their Items go with the static area).
void tempValuesFree() {
    memFree(tempValues.temps);
    tempValues = TempValues{};
}

}  // namespace xb
