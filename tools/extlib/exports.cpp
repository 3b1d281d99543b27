// The library side of library calls: a library built from this runtime
// exports the five entries that image/extcall.h describes, over its own
// copy of the runtime (its own symbol table, evaluation stack and heap).
//
// The runtime starts at the first call of any export (never in the
// loader's entry point), with the start-up sequence of a program minus the
// process-wide steps (crash handler, error mode, command line), and runs
// the initialisation procedures of its image: the sample module first, then
// the standard modules (their error handler writes the report).
//
// Nothing a library procedure does may end the host process: a fatal error,
// and the default error handler's __QUIT, jump back to the export that is
// running, which restores the machine's registers as they were when it
// began, leaves the return Item NIL and returns. The report has been
// written to the error output by then.
//
// The library symbols this side accepts are the ones DllGetSymbol handed
// out; any other number is ignored (the call then returns NIL).
#include <csetjmp>
#include <cstdint>

#include "image/extcall.h"
#include "image/item_import.h"
#include "image/recovery.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "macro/run.h"
#include "modules/modules.h"
#include "vm/error.h"
#include "runtime/errorsys.h"
#include "vm/function.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/vm.h"

#if defined(_WIN32)
#define XB_EXPORT extern "C"  // exported through tools/extlib/extlib.def
#else
#define XB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace xb::modules {
extern const CompiledModule libSample;
}

namespace xb {

namespace {

enum class State { NotStarted, Running, Broken };
State state = State::NotStarted;

std::jmp_buf callEnd;
// The registers the running export began with (a global: a local changed
// after setjmp would be indeterminate after the jump).
VmState entryRegisters;

// The call being prepared by DllPutSymbol and DllPutItem.
bool pending = false;
Item* callBase = nullptr;  // the stack top before the call's symbol
uint16_t pushedArgs = 0;

GlobalSymbol* handed[MAX_LIBRARY_SYMBOLS];
uint32_t handedCount = 0;

[[noreturn]] void endCall() {
    // Only reached from inside an export, each of which sets callEnd first.
    std::longjmp(callEnd, 1);
}
void failureInCall(uint32_t) { endCall(); }
void quitInCall() { endCall(); }

// __QUIT inside the library ends the call, not the process.
XB_NATIVE(fnLibQuit, "__LIBQUIT") { endCall(); }

// Forces a collection of the library's heap (the sample module's COLLECTS).
XB_NATIVE(fnLibCollect, "__LIBCOLLECT") {
    requestCollection();
    collectGarbage(true);
    return 0;
}

// Back to the registers an export began with, after a jump out of
// whatever the procedure was doing.
void recover(const VmState& saved) {
    recoverRegisters(saved, pending ? callBase : saved.top);  // drop a call being prepared or run
    leaveErrorHandler();
    vm.callResult = 0;
    pending = false;
    itemClear(returnItem());
}

void startRuntime() {
    static ImageModule image[1 + modules::STANDARD_MODULE_COUNT];
    image[0] = modules::imageModule(modules::libSample);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image[1 + i] = modules::imageModule(*standard[i]);
    setImage(image, 1 + modules::STANDARD_MODULE_COUNT);
    if (initialiseRuntime() != 0) {
        state = State::Broken;
        return;
    }
    exitAfterFailureHook = failureInCall;
    quitHook = quitInCall;
    if (GlobalSymbol* quit = findSymbol("__QUIT")) quit->function = &fnLibQuit;
    state = State::Running;
    entryRegisters = vm;
    runInitProcedures();
}

bool wasHanded(GlobalSymbol* s) {
    for (uint32_t i = 0; i < handedCount; ++i)
        if (handed[i] == s) return true;
    return false;
}

}  // namespace

}  // namespace xb

using namespace xb;

// Every export: start the runtime if need be, and come back here (with the
// registers restored) from anything that would end the process.
#define XB_LIBRARY_ENTRY(refused)                             \
    if (state == State::Broken) return refused;               \
    if (state == State::Running) entryRegisters = vm;         \
    if (setjmp(callEnd) != 0) {                               \
        if (state == State::Running) recover(entryRegisters); \
        else state = State::Broken;                           \
        return refused;                                       \
    }                                                         \
    if (state == State::NotStarted) {                         \
        startRuntime();                                       \
        if (state != State::Running) {                        \
            return refused;                                   \
        }                                                     \
        entryRegisters = vm;                                  \
    }

// The library is unloaded: its runtime gives back everything it holds (no
// exit procedures: nothing of the library may run pcode any more). Without
// this the heap of a library loaded and freed again and again would only grow.
void stopRuntime() {
    if (state != State::Running) return;
    state = State::Broken;
    if (setjmp(callEnd) != 0) return;  // a failure while stopping: leave the rest
    shutdownRuntime(1);
}

#if defined(_WIN32)
// Only on FreeLibrary (reserved null); at process exit the system reclaims
// the whole process, and the loader lock is held either way.
extern "C" int __stdcall DllMain(void*, unsigned long reason, void* reserved) {
    if (reason == 0 /* DLL_PROCESS_DETACH */ && reserved == nullptr) stopRuntime();
    return 1;
}
#else
__attribute__((destructor)) static void unloaded() { stopRuntime(); }
#endif

XB_EXPORT uint32_t XB_DLLCALL DllGetSymbol(const char* name) {
    XB_LIBRARY_ENTRY(0)
    uint32_t result = 0;
    GlobalSymbol* s = name ? findSymbol(name) : nullptr;
    if (s && (wasHanded(s) || handedCount < MAX_LIBRARY_SYMBOLS)) {
        if (!wasHanded(s)) handed[handedCount++] = s;
        result = symbolRef(s);
    }
    return result;
}

XB_EXPORT void XB_DLLCALL DllPutSymbol(uint32_t symbol) {
    XB_LIBRARY_ENTRY()
    if (pending) vm.top = callBase;  // a call prepared and never run
    pending = false;
    itemClear(returnItem());
    GlobalSymbol* s = nullptr;
    for (uint32_t i = 0; i < handedCount && !s; ++i)
        if (symbolRef(handed[i]) == symbol) s = handed[i];
    if (s && s->function) {
        callBase = vm.top;
        pushSymbol(s);
        pushNil();
        pushedArgs = 0;
        pending = true;
    }
}

XB_EXPORT void XB_DLLCALL DllPutItem(const Item* item) {
    XB_LIBRARY_ENTRY()
    if (pending && item && pushedArgs < 0xFFFF) {
        Item* slot = pushSlot();
        itemClear(slot);
        importItem(slot, item);
        ++pushedArgs;
    }
}

XB_EXPORT void XB_DLLCALL DllDo(uint32_t count) {
    XB_LIBRARY_ENTRY()
    (void)count;  // the arguments are the ones DllPutItem pushed
    if (pending) {
        callProc(pushedArgs);  // pending until it returns: a jump drops the call
        pending = false;
    } else {
        itemClear(returnItem());
    }
}

XB_EXPORT const Item* XB_DLLCALL DllGetEval() {
    XB_LIBRARY_ENTRY(nullptr)
    return returnItem();
}
