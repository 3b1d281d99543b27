// The way out: the shutdown sequence with its depth counter, the end of the
// process with the error level, and the pcode functions ERRORLEVEL and __QUIT.
#include <cstring>

#include "vm/function.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "lib/classes.h"
#include "platform/platform.h"
#include "rdd/areas.h"
#include "runtime/errorsys.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "runtime/settings_block.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/native.h"
#include "vm/stack.h"
#include "vm/statics.h"
#include "vm/vm_init.h"

namespace xb {

namespace {

int16_t level;
uint16_t depth;

void runExitProcedures() {
    SymbolList& exits = exitProcedures();
    for (uint32_t i = 0; i < exits.count; ++i) callSymbol(exits.items[i], 0, nullptr);
    freeSymbolList(exits);
}

// ERRORBLOCK(NIL) releases the block in force.
void releaseErrorBlock() {
    GlobalSymbol* s = findSymbol("ERRORBLOCK");
    if (!s || !s->function || !vm.stack) return;
    pushSymbol(s);
    pushNil();
    pushNil();
    callProc(1);
}

}  // namespace

int16_t errorLevel() { return level; }
void setErrorLevel(int16_t value) { level = value; }

uint16_t shutdownRuntime(uint16_t code) {
    ++depth;
    if (depth == 1 && code == 0) {
        leaveErrorHandler();
        runExitProcedures();
        releaseErrorBlock();
    }
    databaseEvent(EVENT_STOP);
    consoleEvent(EVENT_STOP);
    if (depth >= 4) {
        const char text[] = "\r\n\r\nAborted during termination";
        errorOutput(text, sizeof text - 1);
        return 1;
    }
    ++depth;
    freeClasses();
    errorSystemStop();
    memvarsDropPublics();
    vmStop();
    memvarsFree();
    tempValuesFree();
    settingsRelease();
    freeIdleTasks();
    freeSymbols();
    return uint16_t(memTeardown(code));
}

void exitProgram(uint16_t code) {
    uint16_t r = shutdownRuntime(code);
    if (r != 0) os::exitProcess(1);
    os::exitProcess(uint32_t(int32_t(level)));
}

// ERRORLEVEL([level]) -> the level before the call; the last argument, when
// given, becomes the new level (0 when it is not a number).
XB_NATIVE(fnERRORLEVEL, "ERRORLEVEL") {
    retInt(level);
    uint16_t n = paramCount();
    if (n > 0) {
        Item* last = derefItem(paramItem(n, M_ANY));
        level = int16_t(isNumeric(last) ? itemInt(last) : 0);
    }
    return 0;
}

XB_NATIVE(fnQUIT, "__QUIT") { exitProgram(0); }

}  // namespace xb
