// Test helpers around the pcode assembler: assemble a module from text and
// fail the running test with the assembler's message when the text is wrong.
//
//   xb::pcasm::ScopedModule m(R"(
//       symbol MAIN proc
//       proc MAIN
//           ENDPROC
//       end)");
//   const xb::Function* f = m.proc("MAIN");
#pragma once
// before gtest: vm/symbols.h declares a NAME_MAX that <limits.h> would break
#include "tools/asm/assembler.h"

#include <gtest/gtest.h>

#include <cstring>

namespace xb::pcasm {

// Assembles text; on failure records a test failure with the message and
// returns an empty module (count 0, no procedures). Tests of the run-time
// checks pass AsmOptions{false} to run code the verifier would refuse.
inline AsmModule assembleOrDie(const char* text, AsmOptions options = {}) {
    AsmModule m{};
    AsmError e{};
    if (!assemble(text, std::strlen(text), &m, &e, options)) ADD_FAILURE() << "assembler: " << e.message;
    return m;
}

// Owns an assembled module for the length of a test.
struct ScopedModule {
    AsmModule m;
    explicit ScopedModule(const char* text, AsmOptions options = {}) : m(assembleOrDie(text, options)) {}
    ~ScopedModule() { freeModule(&m); }
    ScopedModule(const ScopedModule&) = delete;
    ScopedModule& operator=(const ScopedModule&) = delete;

    // The procedure's Function; records a failure and returns null when absent.
    const Function* proc(const char* name) const {
        const AsmProc* p = findProc(m, name);
        if (!p) ADD_FAILURE() << "no procedure " << name;
        return p ? p->function : nullptr;
    }
    ImageModule image() const { return moduleImage(m); }
};

}  // namespace xb::pcasm
