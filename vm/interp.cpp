// The dispatch loop and the handling of a handler's non-zero result.
#include "vm/interp.h"

#include <cstdio>
#include <cstring>

#include "vm/error.h"
#include "platform/environment.h"
#include "vm/engine.h"
#include "vm/stack.h"

namespace xb {

OpHandler opTable[256];
uint32_t dispatchGeneration;

namespace {
OpHandler registered[256];
EngineKind engine = ENGINE_FAST;
}  // namespace

OpRegistration::OpRegistration(uint8_t op, OpHandler h) { opTable[op] = registered[op] = h; }

OpHandler registeredOpHandler(uint8_t op) { return registered[op]; }

void selectEngine(EngineKind kind) { engine = kind; }
EngineKind currentEngine() { return engine; }

void selectEngineFromEnvironment() {
    char value[16];
    if (!os::environmentValue("XB_ENGINE", value, sizeof value)) return;
    if (std::strcmp(value, "classic") == 0) engine = ENGINE_CLASSIC;
    else if (std::strcmp(value, "fast") == 0) engine = ENGINE_FAST;
}

void initDispatch() {
    for (auto& h : opTable)
        if (!h) h = invalidOpcode;
    ++dispatchGeneration;
}

void installOpHandler(uint8_t op, OpHandler h) {
    opTable[op] = h ? h : invalidOpcode;
    ++dispatchGeneration;
}

bool hasOpHandler(uint8_t op) { return opTable[op] && opTable[op] != invalidOpcode; }

uint16_t invalidOpcode() {
    char text[32];
    int n = std::snprintf(text, sizeof text, "_0ERR() %lX", static_cast<unsigned long>(vm.pc[-1]));
    if (errorOutputWrite) errorOutputWrite(text, uint32_t(n));
    fatalError(999);
}

ErrorDescriptor statusDescriptor(uint16_t word) {
    uint16_t flags = uint16_t(((word & 0x4000) ? EF_RETRY : 0) | ((word & 0x8000) ? EF_SUBSTITUTE : 0));
    return errorDescriptor("BASE", uint16_t((word >> 6) & 0x1F), uint16_t(1000 + (word & 0x7FF)), flags,
                           operatorName(word & 0x3F));
}

// A handler returned r; 0 means carry on, anything else ends the activation.
uint16_t handleOpResult(uint16_t r, const uint8_t* instruction) {
    if (vm.frameFlags & FF_QUIET) return ST_UNWIND;
    if (r != ST_UNWIND) {
        ErrorDescriptor d = statusDescriptor(r);
        uint16_t outcome = raiseOperatorError(&d, statusOperandCount(r));
        if (outcome == 0) return 0;
        if (outcome == 1) {
            // retry from the first byte of the failed instruction
            vm.pc = instruction;
            return 0;
        }
        r = ST_UNWIND;
    }
    vm.callResult = r;
    const uint8_t* address;
    if (findRecoveryPoint(vm.execDepth, &address)) {
        vm.pc = address;
        vm.callResult = 0;
        return 0;
    }
    return ST_UNWIND;
}

// The running frame has lost its self slot (the bottom frame has none).
void checkFrameItems() {
    if (vm.top < vm.frame || vm.frame != vm.stack) stackUnderflow();
}

namespace {

// Every nested activation also costs native stack. Deep pcode recursion must
// end in the evaluation-stack fatal error, never in a crash of the native
// stack, so the depth of the native stack is bounded too. The executables
// reserve more than this (see CMakeLists.txt).
#if defined(_WIN32)
constexpr uintptr_t NATIVE_STACK_BUDGET = 24u << 20;
#else
constexpr uintptr_t NATIVE_STACK_BUDGET = 6u << 20;
#endif
uintptr_t nativeStackBase;

inline void checkNativeStack() {
    char probe;
    auto here = reinterpret_cast<uintptr_t>(&probe);
    if (vm.execDepth == 1) nativeStackBase = here;
    else if (nativeStackBase > here && nativeStackBase - here > NATIVE_STACK_BUDGET) stackOverflow();
}

}  // namespace

uint16_t execute(const uint8_t* pcode, ModuleSymbol* moduleSymbols) {
    const uint8_t* savedPc = vm.pc;
    ModuleSymbol* savedModule = vm.moduleSymbols;
    uint8_t savedRunning = vm.running;
    vm.pc = pcode;
    vm.moduleSymbols = moduleSymbols;
    ++vm.execDepth;
    checkNativeStack();
    if (vm.top > vm.stackEnd) stackOverflow();
    vm.frameFlags |= FF_RUNNING;
    vm.running = 1;
    uint16_t result = engine == ENGINE_FAST ? runFast() : runClassic();
    vm.moduleSymbols = savedModule;
    vm.pc = savedPc;
    vm.running = savedRunning;
    --vm.execDepth;
    return result;
}

uint16_t runClassic() {
    uint16_t result = 0;
    while (vm.running) {
        // Taking more Items than the frame holds ends the run before the next
        // instruction, or a raise, reads what lies below it.
        if (vm.top <= vm.frame) [[unlikely]] checkFrameItems();
        const uint8_t* instruction = vm.pc;
        uint16_t r = opTable[*vm.pc++]();
        if (r) [[unlikely]] {
            if (vm.top <= vm.frame) checkFrameItems();
            r = handleOpResult(r, instruction);
            if (r) {
                result = r;
                break;
            }
        }
    }
    return result;
}

const char* operatorName(uint32_t index) {
    static const char* const names[61] = {
        "", "&", "conditional", "array dimension", "array access", "array assign", "==", "=", "<>", "<", "<=",
        ">", ">=", ".NOT.", ".AND.", ".OR.", "-", "+", "-", "*", "/", "%", "++", "--", "^", "ABS", "INT", "WORD",
        "MIN", "MAX", "ROUND", "LOG", "EXP", "SQRT", "VAL", "STR", "TRIM", "LTRIM", "UPPER", "LOWER", "CHR",
        "SPACE", "REPLICATE", "ASC", "AT", "$", "SUBSTR", "LEN", "YEAR", "MONTH", "DAY", "DOW", "CMONTH", "CDOW",
        "DTOC", "CTOD", "DTOS", "TYPE", "TRANSFORM", "AADD", "LEFT"};
    return index <= 60 ? names[index] : "";
}

}  // namespace xb
