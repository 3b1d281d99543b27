// Getting the machine back after a fatal error that did not end the process.
// A host that must survive one (the external-call library, the fuzz
// targets) catches it with a jump out of the failure path; everything the
// abandoned run was in the middle of is then undone here.
#pragma once

#include "vm/item.h"
#include "vm/vm.h"

namespace xb {

// Restores the registers saved when the run began, with top as the stack
// top (the saved top, or lower to drop a call being prepared): the
// sequences are reset, the privates of the frames the jump abandoned are
// released newest first, and the macro compilations in progress are given
// up. The return Item, the call result and the error handler's state are
// the caller's.
void recoverRegisters(const VmState& saved, Item* top);

}  // namespace xb
