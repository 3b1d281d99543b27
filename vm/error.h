// The error system's interface for raising code. A failing operation fills an
// ErrorDescriptor; the error system turns it into an ErrorObject, evaluates the
// error block with it and hands the answer back (in the return Item).
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

// flags
constexpr uint16_t EF_RETRY = 1;
constexpr uint16_t EF_SUBSTITUTE = 2;
constexpr uint16_t EF_DEFAULT = 4;

// general codes used across the runtime
enum GenCode : uint16_t {
    EG_ARG = 1, EG_BOUND = 2, EG_STROVERFLOW = 3, EG_NUMOVERFLOW = 4, EG_ZERODIV = 5, EG_NUMERR = 6,
    EG_SYNTAX = 7, EG_COMPLEXITY = 8, EG_MEM = 11, EG_NOFUNC = 12, EG_NOMETHOD = 13, EG_NOVAR = 14,
    EG_NOALIAS = 15, EG_NOVARMETHOD = 16, EG_BADALIAS = 17, EG_DUPALIAS = 18, EG_CREATE = 20,
    EG_OPEN = 21, EG_CLOSE = 22, EG_READ = 23, EG_WRITE = 24, EG_PRINT = 25, EG_UNSUPPORTED = 30,
    EG_LIMIT = 31, EG_CORRUPTION = 32, EG_DATATYPE = 33, EG_DATAWIDTH = 34, EG_NOTABLE = 35,
    EG_NOORDER = 36, EG_SHARED = 37, EG_UNLOCKED = 38, EG_READONLY = 39, EG_APPENDLOCK = 40, EG_LOCK = 41,
};

struct ErrorDescriptor {
    uint16_t severity;
    uint16_t genCode;
    uint16_t osCode;
    uint16_t flags;
    uint16_t tries;
    uint16_t subCode;
    const char* subsystem;
    const char* description;
    const char* operation;
    const char* fileName;
};
#if XB_TARGET_64
static_assert(sizeof(ErrorDescriptor) == 48 && offsetof(ErrorDescriptor, subsystem) == 16,
              "ErrorDescriptor layout on x86_64");
#else
static_assert(sizeof(ErrorDescriptor) == 28 && offsetof(ErrorDescriptor, subsystem) == 12,
              "ErrorDescriptor is 28 bytes");
#endif

// The one builder of descriptors: severity 2 with the given fields,
// everything else zero. Inline, so that code built without the virtual
// machine (the table engine's fuzz target) builds its descriptors here too.
constexpr ErrorDescriptor errorDescriptor(const char* subsystem, uint16_t genCode, uint16_t subCode, uint16_t flags,
                                          const char* operation = nullptr) {
    return ErrorDescriptor{.severity = 2,
                           .genCode = genCode,
                           .osCode = 0,
                           .flags = flags,
                           .tries = 0,
                           .subCode = subCode,
                           .subsystem = subsystem,
                           .description = nullptr,
                           .operation = operation,
                           .fileName = nullptr};
}

// What a raising driver or native routine says about its error. Fields left
// out are zero (no operating-system code, no file, the general code's own
// description).
struct ErrorReport {
    const char* subsystem;
    uint16_t genCode;
    uint16_t subCode;
    uint16_t flags;  // EF_RETRY, EF_SUBSTITUTE, EF_DEFAULT
    const char* operation = nullptr;
    const char* fileName = nullptr;
    uint16_t osCode = 0;
    const char* description = nullptr;
};
// The one raise for code that has no descriptor of its own: raises with the
// operands and decides on the answer. 0: substituted (the answer is in the
// return Item) or default chosen; 1: retry; 0xFFFF: the error block
// unwound. An answer the flags do not allow is the unrecoverable-error stop.
uint16_t raiseReport(const ErrorReport& report, const Item* operands = nullptr, uint16_t count = 0);

// Raises: builds the error object and evaluates the error block; the block's
// value is left in the return Item. Returns 0, or 0xFFFF when the block unwound.
uint16_t raiseError(ErrorDescriptor* d, const Item* operands, uint16_t count);
// Clears can-substitute, raises without operands; 0 default, 1 retry, 0xFFFF unwound.
uint16_t raiseAndDecide(ErrorDescriptor* d);
// Raises with the top count stack Items as operands; with can-substitute the
// answer replaces them. 0, 1 retry, 0xFFFF unwound.
uint16_t raiseOperatorError(ErrorDescriptor* d, uint16_t count);
// For the running native function: operation = its name, operands = its
// parameters, can-retry removed. 0 or 0xFFFF.
uint16_t raiseFunctionError(uint16_t genCode, const char* subsystem, uint16_t subCode, uint16_t flags);
uint16_t argumentError(const char* subsystem, uint16_t subCode, uint16_t flags);
uint16_t noAreaError(const char* subsystem, uint16_t subCode);

[[noreturn]] void fatalError(uint32_t code);
// Message 9997: the error block's answer does not fit the error's flags.
[[noreturn]] void unrecoverableErrorStop();

// Spanish description of a general or fatal code ("Error interno" for unknown ones).
const char* errorDescription(uint32_t code);

// The last operating-system code of a raise, read and set by DOSERROR.
uint16_t lastOsCode();
void setLastOsCode(uint16_t code);

// The launcher evaluates the error block; errorSystemStart() (runtime/
// errorsys.h) installs it. Until then a provisional launcher reports the error
// on standard error and ends the run with exit code 1. Tests may install
// their own decision.
using ErrorLauncher = uint16_t (*)(ErrorDescriptor* d, const Item* operands, uint16_t count);
extern ErrorLauncher& errorLauncher;

// Where failure paths send their text (the error output channel) and how they
// end the process (shutdown without exit procedures). Set at start-up.
extern void (*&errorOutputWrite)(const char* text, uint32_t n);
[[noreturn]] void exitAfterFailure(uint32_t code);
extern void (*&exitAfterFailureHook)(uint32_t code);

// "NAME (line)" of the running procedure, or false when no procedure is active.
bool currentProcedureLocation(char* buf, uint32_t size);

}  // namespace xb
