// The output functions of pcode: OUTERR and OUTSTD write their arguments as
// pieces (a blank between two arguments), QOUT and QQOUT show each argument
// in a message box, SETCOLOR reports the one colour text there is.
#include "vm/function.h"
#include "runtime/display.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "base/hooks.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {


namespace {

void writePieces(void (*write)(const char*, uint32_t)) {
    for (uint32_t i = 1; i <= paramCount(); ++i) {
        if (i > 1) write(" ", 1);
        DisplayText t = displayText(argumentItem(i));
        write(t.text, t.length);
    }
}

void showArguments() {
    for (uint32_t i = 1; i <= paramCount(); ++i) {
        if (i > 1) showBox(" ", 1, "QOUT", 0);
        DisplayText t = displayText(argumentItem(i));
        showBox(t.text, t.length, "QOUT", 0);
    }
}

}  // namespace

XB_NATIVE(fnOUTERR, "OUTERR") {
    writePieces(errorOutput);
    return 0;
}

XB_NATIVE(fnOUTSTD, "OUTSTD") {
    writePieces(standardOutput);
    return 0;
}

XB_NATIVE(fnQQOUT, "QQOUT") {
    showArguments();
    return 0;
}

XB_NATIVE(fnQOUT, "QOUT") {
    // The new-line step has nothing to move on a screenless process.
    showArguments();
    if (idleServices) idleServices();
    dispatchIdleTasks(0x2000);
    return 0;
}

XB_NATIVE(fnSETCOLOR, "SETCOLOR") {
    retCString(kColourText);
    return 0;
}

}  // namespace xb
