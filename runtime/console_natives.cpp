// The output functions of pcode: OUTERR and OUTSTD write their arguments as
// pieces (a blank between two arguments); QOUT and QQOUT hand each argument
// to the console output (standard output in a console program, a message box
// each in the windowed product), QOUT after starting a new line; SETCOLOR
// reports the one colour text there is.
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
    writePieces(consoleOutput);
    return 0;
}

XB_NATIVE(fnQOUT, "QOUT") {
    consoleNewLine();
    writePieces(consoleOutput);
    if (idleServices) idleServices();
    dispatchIdleTasks(0x2000);
    return 0;
}

XB_NATIVE(fnSETCOLOR, "SETCOLOR") {
    retCString(kColourText);
    return 0;
}

}  // namespace xb
