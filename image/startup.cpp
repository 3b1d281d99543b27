// Start-up: the entry of the process, the start-up sequence in its fixed
// order, and the run of the initialisation procedures and the main procedure.
#include "image/startup.h"

#include <cstring>

#include "image/crash_report.h"
#include "vm/symbols.h"
#include "platform/platform.h"
#include "rdd/areas.h"
#include "vm/error.h"
#include "runtime/errorsys.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "runtime/serial.h"
#include "runtime/settings_block.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/vm_init.h"

namespace xb {

void (*&afterSymbolRegistration)() = runtimeHooks.afterSymbolRegistration;

namespace {

uint16_t argCount;
char** args;

void writeText(const char* text) { errorOutput(text, uint32_t(std::strlen(text))); }

void failureExit(uint32_t code) { exitProgram(uint16_t(code ? code : 1)); }
void quitFromUnwinding() { exitProgram(0); }

// Runs the initialisation procedures of one pass, last registered first.
void initPass(const SymbolList& list, const char* only, bool others) {
    for (uint32_t i = list.count; i > 0; --i) {
        GlobalSymbol* s = list.items[i - 1];
        bool named = std::strcmp(symbolName(s), "STATICS$") == 0 || std::strcmp(symbolName(s), "CLIPINIT$") == 0;
        bool take = others ? !named : std::strcmp(symbolName(s), only) == 0;
        if (take) callSymbol(s, argCount, args);
    }
}

void freeCommandLine() {
    for (uint16_t i = 0; i < argCount; ++i) memFree(args[i]);
    memFree(args);
    args = nullptr;
    argCount = 0;
}

}  // namespace

uint16_t commandLineCount() { return argCount; }
char** commandLineArgs() { return args; }

int initialiseRuntime() {
    if (!os::heapCreate()) return 1;
    outputStart();
    errorOutputWrite = errorOutput;
    memReportLine = writeText;
    vmStart();
    registerModuleSymbols();
    if (afterSymbolRegistration) afterSymbolRegistration();
    settingsHooksStart();
    registerIdleTask(gcIdleTask, 0x2001);
    findOrCreateSymbol("DADOVIR");
    vmBindSymbols();
    settingsStart();
    errorSystemStart();
    consoleEvent(EVENT_START);
    databaseEvent(EVENT_START);
    return 0;
}

void runInitProcedures() {
    SymbolList& init = initProcedures();
    if (init.count) {
        initPass(init, "STATICS$", false);
        initPass(init, "CLIPINIT$", false);
        initPass(init, nullptr, true);
        freeSymbolList(init);
    }
}

int runProgram() {
    runInitProcedures();
    GlobalSymbol* help = findSymbol("HELP");
    if (help && help->function) callSymbol(findSymbol("__SETHELPK"), argCount, args);
    if (callSymbol(findSymbol("_APPMAIN"), argCount, args)) return 0;
    if (ModuleSymbol* first = firstModuleSymbol()) callSymbol(findOrCreateSymbol(first->name), argCount, args);
    return 0;
}

void processEntry(const char* commandLine) {
    crashReportStart();
    // Every failure path ends through the shutdown sequence (without the
    // exit procedures), from the first step on.
    errorOutputWrite = errorOutput;
    exitAfterFailureHook = failureExit;
    quitHook = quitFromUnwinding;
    if (initialiseRuntime() != 0) {
        writeText("\r\n\r\nInitialization errors\r\n");
        exitProgram(1);
    }
    const char* line = commandLine ? commandLine : os::commandLine();
    uint16_t n = splitCommandLine(line, nullptr);
    args = static_cast<char**>(memAlloc(uint32_t(n) * sizeof(char*)));
    splitCommandLine(line, args);
    argCount = n;
    for (uint16_t i = 1; i < argCount; ++i) applySerialSwitch(args[i]);
    runProgram();
    freeCommandLine();
    exitProgram(0);
}

}  // namespace xb
