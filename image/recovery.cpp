#include "image/recovery.h"

#include "macro/run.h"
#include "vm/interp.h"
#include "vm/memvars.h"

namespace xb {

void recoverRegisters(const VmState& saved, Item* top) {
    vm = saved;
    vm.top = top;
    resetSequences();
    // undo the privates of the frames the jump abandoned, newest first
    MemvarTable* t = memvarTable();
    while (t && t->privateDepth) {
        vm.frame = vm.stack + t->privates[t->privateDepth - 1].frame;
        releasePrivates();
    }
    vm.frame = saved.frame;
    vm.frameFlags = saved.frameFlags;
    macroRunsAbandoned();
}

}  // namespace xb
