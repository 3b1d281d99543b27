// The error system's functions callable from pcode: the error block, the
// network-error flag, the last operating-system code, and the names and
// lines of the active procedures.
#include "vm/function.h"
#include "runtime/errorsys.h"
#include "vm/native.h"
#include "vm/procname.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The frame `level` calls above the caller of the running native function.
Item* callerLevel() {
    int32_t level = paramInt(1);
    if (level < 0) return nullptr;
    return frameAbove(vm.frame, uint32_t(level) + 1);
}

}  // namespace

// ([new block]) -> the block in force before the call (NIL when none)
XB_NATIVE(fnERRORBLOCK, "ERRORBLOCK") {
    if (const Item* b = currentErrorBlock()) retItem(b);
    else retNil();
    if (paramCount() >= 1) setErrorBlock(paramItem(1, T_BLOCK));
    return 0;
}

// ([logical]) -> the flag before the call
XB_NATIVE(fnNETERR, "NETERR") {
    retLogical(netErr());
    if (Item* p = paramItem(1, T_LOGICAL)) setNetErr(p->v.l != 0);
    return 0;
}

// ([code]) -> the operating-system code of the last raise
XB_NATIVE(fnDOSERROR, "DOSERROR") {
    retInt(lastOsCode());
    if (Item* p = paramItem(1, M_NUMERIC)) setLastOsCode(uint16_t(itemInt(p)));
    return 0;
}

// ([level]) -> display name of the procedure level calls above the caller
XB_NATIVE(fnPROCNAME, "PROCNAME") {
    char name[160];
    uint32_t n = frameDisplayName(callerLevel(), name, sizeof name);
    retString(name, n);
    return 0;
}

// ([level]) -> the line that procedure recorded last, 0 past the outermost
XB_NATIVE(fnPROCLINE, "PROCLINE") {
    retInt(frameLine(callerLevel()));
    return 0;
}

}  // namespace xb
