#include "vm/vm_init.h"

#include "vm/symbols.h"
#include "base/memory.h"
#include "vm/engine.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/literals.h"
#include "vm/memvars.h"
#include "vm/object_pool.h"
#include "vm/short_strings.h"
#include "vm/stack.h"
#include "vm/statics.h"

namespace xb {

namespace {

// At teardown: the stacks, and the pools' chunks (every object is freed or
// abandoned by then).
void releaseVmAreas() {
    dropLiterals();
    shortStringsDrop();
    stackFree();
    releasePools();
}

}  // namespace

void vmStart() {
    stackInit();
    shortStringsInit();
    initDispatch();
    selectEngineFromEnvironment();
    registerSequenceHandler(stackSequenceHandler);
    memReleaseItemAreas = releaseVmAreas;
}

void vmRelease() {
    memvarsFree();
    tempValuesFree();
    freeSymbols();
    freeIdleTasks();
    freeAllObjects();
    stackFree();
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
