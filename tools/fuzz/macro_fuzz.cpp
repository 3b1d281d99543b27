// libFuzzer target for the macro compiler: every input is a macro text. It
// is compiled twice (the second compile must give back every byte it took:
// only the first may add symbols, which are never removed) and then run
// through the macro evaluation opcode. Only side-effect-free functions can
// be called: every native function outside the list below is unbound, so
// a call of it is the undefined-function error. Every raised error ends the
// evaluation (the error launcher unwinds), and a fatal error (invalid
// opcode, stack overflow, memory exhaustion) ends only that input: the
// failure exit jumps back here and the machine's registers are restored.
//
// Build (clang): see docs/macro-compiler.md, "Fuzzing".
#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "image/recovery.h"
#include "vm/function.h"
#include "vm/symbols.h"
#include "macro/compiler.h"
#include "macro/run.h"
#include "platform/platform.h"
#include "vm/error.h"
#include "base/memory.h"
#include "tools/asm/assembler.h"
#include "vm/fields.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

const char* const SIDE_EFFECT_FREE[] = {"ISALPHA", "ISDIGIT", "ISLOWER", "ISUPPER",
                                        "PROCNAME", "PROCLINE", "GETSETBLOCK"};

const char MODULE[] = R"(symbol FUZZ proc
proc FUZZ
    FRAME 1 0
    PUSHLOCAL 1
    MACROEVAL
    POPRET
    ENDPROC
end
)";

pcasm::AsmModule module;
ImageModule image[1];
std::jmp_buf inputEnd;
bool running = false;

uint16_t unwindingLauncher(ErrorDescriptor*, const Item*, uint16_t) {
    vm.callResult = ST_UNWIND;
    return ST_UNWIND;
}
void quietOutput(const char*, uint32_t) {}
void endInput(uint32_t) {
    if (!running) std::abort();
    std::longjmp(inputEnd, 1);
}

bool allowed(const char* name) {
    for (const char* a : SIDE_EFFECT_FREE)
        if (std::strcmp(a, name) == 0) return true;
    return false;
}

void start() {
    pcasm::AsmError e{};
    if (!pcasm::assemble(MODULE, sizeof MODULE - 1, &module, &e)) std::abort();
    image[0] = pcasm::moduleImage(module);
    os::heapCreate();
    vmStart();
    setImage(image, 1);
    registerModuleSymbols();
    pcasm::bindModule(&module);
    vmBindSymbols();
    for (NativeRegistration* r = nativeRegistrations(); r; r = r->next)
        if (!allowed(r->name)) findOrCreateSymbol(r->name)->function = nullptr;
    errorLauncher = unwindingLauncher;
    errorOutputWrite = quietOutput;
    exitAfterFailureHook = endInput;
}

// Compiling the same text again allocates and frees the same; anything
// left over is a leak on some path of the compiler. Both modes are compiled
// once first: the symbols a compile creates stay (and may take a new pool
// block), and store mode can name symbols the other mode does not.
void checkCompileGivesEverythingBack(const char* text, uint32_t n) {
    uint32_t length;
    for (bool storeMode : {false, true})
        if (uint8_t* c = compileMacro(text, n, &length, storeMode)) memFree(c);
    int32_t before = memInUse();
    for (bool storeMode : {false, true})
        if (uint8_t* c = compileMacro(text, n, &length, storeMode)) memFree(c);
    if (memInUse() != before) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    start();
    return 0;
}

static int runOne(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* probe = std::getenv("XB_FUZZ_PROBE");
    if (!probe) return runOne(data, size);
    runOne(data, size);
    collectGarbage(true);
    int32_t before = memInUse();
    for (int i = 0; i < 10; ++i) runOne(data, size);
    collectGarbage(true);
    if (memInUse() != before)
        std::fprintf(stderr, "grows %ld: %.*s\n", long(memInUse() - before), int(size), reinterpret_cast<const char*>(data));
    return 0;
}

static int runOne(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    checkCompileGivesEverythingBack(text, uint32_t(size));

    VmState saved = vm;
    GlobalSymbol* fuzz = findSymbol("FUZZ");
    if (setjmp(inputEnd) == 0) {
        running = true;
        pushSymbol(fuzz);
        pushNil();
        pushString(text, uint32_t(size));
        callProc(1);
    } else {
        // a fatal error ended this input: back to the registers of its start
        recoverRegisters(saved, saved.top);
    }
    running = false;
    vm.callResult = 0;
    static unsigned runs;
    if (++runs % 256 == 0) {
        collectGarbage(true);
        if (std::getenv("XB_FUZZ_TRACE")) std::fprintf(stderr, "run %u: %ld bytes tracked\n", runs, long(memInUse()));
    }
    return 0;
}
