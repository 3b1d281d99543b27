// The crash handler on Win32: the unhandled-exception filter hands the
// report callback a description of the exception, its code and the address
// of the faulting instruction, then lets the process end (execute handler).
// Not installed in sanitizer builds.
#include <windows.h>

#include "platform/exception_names.h"
#include "platform/platform.h"

namespace xb::os {

namespace {

void (*crashReport)(const char*, uint32_t, uintptr_t);
volatile LONG crashing;

LONG WINAPI onException(EXCEPTION_POINTERS* e) {
    // A second exception while reporting the first: just end.
    if (InterlockedExchange(&crashing, 1)) return EXCEPTION_EXECUTE_HANDLER;
    const EXCEPTION_RECORD* record = e->ExceptionRecord;
    uint32_t code = record->ExceptionCode;
    if (crashReport)
        crashReport(exceptionName(code), code, reinterpret_cast<uintptr_t>(record->ExceptionAddress));
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void installCrashHandler(void (*report)(const char* what, uint32_t code, uintptr_t address)) {
#ifdef XB_SANITIZE
    (void)report;
#else
    crashReport = report;
    SetUnhandledExceptionFilter(onException);
#endif
}

}  // namespace xb::os
