#include "vm/guard.h"

#include "vm/error.h"
#include "vm/stack.h"

namespace xb {

uint16_t raiseGuardError(const char* operation, uint16_t count, bool substitute) {
    if (vm.frameFlags & FF_QUIET) return ST_UNWIND;
    ErrorDescriptor d = errorDescriptor("BASE", EG_ARG, GUARD_SUBCODE, substitute ? EF_SUBSTITUTE : EF_DEFAULT,
                                        operation);
    uint16_t r = raiseOperatorError(&d, count);
    return r == ST_UNWIND ? ST_UNWIND : 0;
}

}  // namespace xb
