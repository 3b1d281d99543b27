#include "vm/vm_init.h"

#include "vm/symbols.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

void vmStart() {
    stackInit();
    initDispatch();
    registerSequenceHandler(stackSequenceHandler);
    memReleaseItemAreas = stackFree;
}

void vmBindSymbols() { evalSymbol = findOrCreateSymbol("EVAL"); }

void vmStop() {
    resetSequences();
    if (!vm.stack) return;
    vm.staticsLow = vm.statics + STACK_SLOTS;
    vm.tempFree = nullptr;
    itemClear(returnItem());
    collectGarbage(true);
}

}  // namespace xb
