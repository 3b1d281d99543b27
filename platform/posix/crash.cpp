// The crash handler on POSIX: the fault signals a Windows process would see
// as unhandled exceptions (SIGSEGV, SIGBUS, SIGILL, SIGFPE) are caught on an
// alternate stack, so that a stack overflow is reported too. The signal is
// translated into the Windows exception code, the faulting instruction's
// address is taken from the signal context, the report callback runs, and
// the process ends with _exit(1).
//
// The callback runs inside a signal handler: it may only format into static
// buffers and write with write(2) (os::messageBox and os::writeFile on the
// standard handles qualify); it must not allocate, lock or use stdio. A
// second fault while it runs ends the process at once, also with code 1.
//
// Not installed in sanitizer builds, whose runtime reports faults itself.
#include <csignal>
#include <cstdint>
#include <ucontext.h>
#include <unistd.h>

#include "platform/exception_names.h"
#include "platform/platform.h"

namespace xb::os {

#ifndef XB_SANITIZE
namespace {

void (*crashReport)(const char*, uint32_t, uintptr_t);
volatile sig_atomic_t crashing;
alignas(16) char alternateStack[64 * 1024];

uint32_t exceptionCode(int sig, int code) {
    switch (sig) {
        case SIGSEGV: return EXC_ACCESS_VIOLATION;
        case SIGBUS: return code == BUS_ADRALN ? EXC_MISALIGNMENT : EXC_IN_PAGE_ERROR;
        case SIGILL: return code == ILL_PRVOPC ? EXC_PRIVILEGED_INSTRUCTION : EXC_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return EXC_INT_DIVIDE_BY_ZERO;
                case FPE_INTOVF: return EXC_INT_OVERFLOW;
                case FPE_FLTDIV: return EXC_FLT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF: return EXC_FLT_OVERFLOW;
                case FPE_FLTUND: return EXC_FLT_UNDERFLOW;
                case FPE_FLTRES: return EXC_FLT_INEXACT;
                case FPE_FLTSUB: return EXC_FLT_STACK_CHECK;
                default: return EXC_FLT_INVALID;
            }
        default: return EXC_ACCESS_VIOLATION;
    }
}

uintptr_t faultAddress(const siginfo_t* info, const void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__i386__)
    if (uc) return uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__x86_64__)
    if (uc) return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#endif
    return uintptr_t(info->si_addr);
}

void onFault(int sig, siginfo_t* info, void* context) {
    if (crashing) _exit(1);
    crashing = 1;
    uint32_t code = exceptionCode(sig, info->si_code);
    if (crashReport) crashReport(exceptionName(code), code, faultAddress(info, context));
    _exit(1);
}

}  // namespace
#endif

void installCrashHandler(void (*report)(const char* what, uint32_t code, uintptr_t address)) {
#ifdef XB_SANITIZE
    (void)report;
#else
    crashReport = report;
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;  // a fault in the report re-enters
    sigemptyset(&action.sa_mask);
    const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
    for (int sig : signals) sigaction(sig, &action, nullptr);
#endif
}

}  // namespace xb::os
