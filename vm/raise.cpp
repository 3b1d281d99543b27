// Raising errors and deciding on the error block's answer. The launcher that
// builds the error object and evaluates the error block is installed by the
// error system; before that a provisional one reports on standard error.
#include <cstdio>
#include <cstring>

#include "vm/symbols.h"
#include "platform/platform.h"
#include "vm/error.h"
#include "base/hooks.h"
#include "vm/stack.h"

namespace xb {

namespace {

uint16_t lastOs;

bool isTrue(const Item* it) { return it->type == T_LOGICAL && it->v.l; }

// The answer to an error that cannot substitute: retry, default or stop.
uint16_t decide(const ErrorDescriptor* d) {
    const Item* answer = returnItem();
    if (answer->type != T_LOGICAL) unrecoverableErrorStop();
    if (isTrue(answer) && (d->flags & EF_RETRY)) return 1;
    if (!(d->flags & EF_DEFAULT) || isTrue(answer)) unrecoverableErrorStop();
    return 0;
}

}  // namespace

// The defaults of the hooks below (base/hooks.h).
void stdErrorWrite(const char* text, uint32_t n) {
    uint32_t done;
    os::writeFile(os::stdError(), text, n, &done);
}

uint16_t provisionalLauncher(ErrorDescriptor* d, const Item*, uint16_t) {
    char text[256];
    int n = std::snprintf(text, sizeof text, "Error %s/%u  %s: %s\n", d->subsystem ? d->subsystem : "",
                          unsigned(d->subCode), d->description ? d->description : errorDescription(d->genCode),
                          d->operation ? d->operation : "");
    errorOutputWrite(text, uint32_t(n));
    exitAfterFailure(1);
}

void defaultExitAfterFailure(uint32_t code) { os::exitProcess(code); }

ErrorLauncher& errorLauncher = runtimeHooks.errorLauncher;
void (*&errorOutputWrite)(const char* text, uint32_t n) = runtimeHooks.errorOutputWrite;
void (*&exitAfterFailureHook)(uint32_t code) = runtimeHooks.exitAfterFailureHook;

void exitAfterFailure(uint32_t code) {
    exitAfterFailureHook(code);
    os::exitProcess(code);
}

uint16_t lastOsCode() { return lastOs; }
void setLastOsCode(uint16_t code) { lastOs = code; }

uint16_t raiseReport(const ErrorReport& report, const Item* operands, uint16_t count) {
    ErrorDescriptor d = errorDescriptor(report.subsystem, report.genCode, report.subCode, report.flags, report.operation);
    d.fileName = report.fileName;
    d.osCode = report.osCode;
    d.description = report.description;
    if (raiseError(&d, operands, count) == ST_UNWIND) return ST_UNWIND;
    if (d.flags & EF_SUBSTITUTE) return 0;
    return decide(&d);
}

uint16_t raiseError(ErrorDescriptor* d, const Item* operands, uint16_t count) {
    lastOs = d->osCode;
    return errorLauncher(d, operands, count);
}

uint16_t raiseAndDecide(ErrorDescriptor* d) {
    d->flags = uint16_t(d->flags & ~EF_SUBSTITUTE);
    if (raiseError(d, nullptr, 0) == ST_UNWIND) return ST_UNWIND;
    return decide(d);
}

uint16_t raiseOperatorError(ErrorDescriptor* d, uint16_t count) {
    if (raiseError(d, vm.top - count + 1, count) == ST_UNWIND) return ST_UNWIND;
    if (!(d->flags & EF_SUBSTITUTE)) return decide(d);
    if (count == 0) pushSlot();
    else vm.top -= count - 1;
    *vm.top = *returnItem();
    itemClear(returnItem());
    return 0;
}

namespace {

const char* runningProcedureName() {
    GlobalSymbol* s = frameProcSymbol(vm.frame);
    return s ? symbolName(s) : "";
}

}  // namespace

uint16_t raiseFunctionError(uint16_t genCode, const char* subsystem, uint16_t subCode, uint16_t flags) {
    ErrorDescriptor d =
        errorDescriptor(subsystem, genCode, subCode, uint16_t(flags & ~EF_RETRY), runningProcedureName());
    if (raiseError(&d, vm.frame + 2, vm.paramCount) == ST_UNWIND) return ST_UNWIND;
    if (d.flags & EF_SUBSTITUTE) return 0;
    if (!(d.flags & EF_DEFAULT)) unrecoverableErrorStop();
    return 0;
}

uint16_t argumentError(const char* subsystem, uint16_t subCode, uint16_t flags) {
    return raiseFunctionError(EG_ARG, subsystem, subCode, flags);
}

uint16_t noAreaError(const char* subsystem, uint16_t subCode) {
    ErrorDescriptor d = errorDescriptor(subsystem, EG_NOTABLE, subCode, EF_DEFAULT, runningProcedureName());
    uint16_t r = raiseAndDecide(&d);
    if (r == 0 || r == ST_UNWIND) return r;
    unrecoverableErrorStop();
}

// Each failure line is one write: the error output shows every piece it is
// given in a message box of its own.
void unrecoverableErrorStop() {
    char where[160];
    char line[240];
    if (currentProcedureLocation(where, sizeof where))
        std::snprintf(line, sizeof line, "\r\n%s, %s", errorDescription(9997), where);
    else
        std::snprintf(line, sizeof line, "\r\n%s", errorDescription(9997));
    errorOutputWrite(line, uint32_t(std::strlen(line)));
    exitAfterFailure(1);
}

void fatalError(uint32_t code) {
    char where[160];
    bool active = currentProcedureLocation(where, sizeof where);
    char line[280];
    std::snprintf(line, sizeof line, "%s%s  Error no recuperable %lu: %s\r\n", active ? "\r\n" : "",
                  active ? where : "", static_cast<unsigned long>(code), errorDescription(code));
    errorOutputWrite(line, uint32_t(std::strlen(line)));
    exitAfterFailure(1);
}

// The default of memExhausted (base/hooks.h): the tracked heap sits below the
// error layer, so its failure is reported from here.
void defaultMemExhausted() { fatalError(5304); }

}  // namespace xb
