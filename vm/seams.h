// Every seam of the runtime as one value: the hooks record (base/hooks.h:
// replaceable routines, the file layer's system calls, the field table, the
// database layer's tunables) and the live opcode table (vm/interp.h), which
// the class layer and tests change while they run. A test takes the whole
// set before it changes anything and puts it back afterwards in one step;
// the VM test fixture does this around every test.
#pragma once

#include "base/hooks.h"
#include "vm/interp.h"

namespace xb {

struct Seams {
    RuntimeHooks hooks;
    OpHandler opcodes[256];
};

Seams currentSeams();
void restoreSeams(const Seams& saved);

}  // namespace xb
