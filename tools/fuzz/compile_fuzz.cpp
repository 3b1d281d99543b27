// libFuzzer target for the source compiler: every input is the text of one
// source file, compiled as a program (warnings on, so that every check
// runs). A compile must end with a module or with diagnostics, never crash,
// hang or leak; a successful compile's module already passed the pcode
// verifier inside compileProgram.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<xb::xbc::SourceFile> files{{"fuzz.prg", std::string(reinterpret_cast<const char*>(data), size)}};
    xb::xbc::CompileOptions options;
    options.pp.standardHeader = false;
    options.warnings = true;
    xb::xbc::CompiledProgram program;
    std::vector<xb::pp::Diagnostic> diags;
    bool ok = xb::xbc::compileProgram(files, options, &program, &diags);
    if (ok && program.modules.size() != 1) __builtin_trap();
    if (!ok && !program.modules.empty()) __builtin_trap();
    size_t errors = 0;
    for (const auto& d : diags) errors += !d.warning;
    if (ok == (errors > 0)) __builtin_trap();  // failure and errors go together
    if (errors > size_t(xb::pp::MAX_ERRORS_PER_FILE)) __builtin_trap();
    xb::xbc::freeProgram(&program);
    return 0;
}
