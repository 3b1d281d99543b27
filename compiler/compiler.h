// The source compiler: xBase source files in, pcode modules out.
//
// Each file goes through the preprocessor (pp/preprocess.h) and becomes one
// module, in the same record the pcode assembler makes (tools/asm/assembler.h),
// so the verifier, the disassembler (--emit xbasm), the C++ module emitter
// (--emit cpp), the runner and the executable writer take compiled and
// assembled modules alike.
//
// Owners: the modules of a CompiledProgram belong to the caller until
// freeProgram(); strings and codeblocks of a running program point into their
// pcode, so a program's modules live as long as the run.
#pragma once
#include <string>
#include <vector>

#include "pp/diagnostic.h"
#include "pp/preprocess.h"
#include "tools/asm/assembler.h"

namespace xb::xbc {

struct SourceFile {
    std::string name;  // as given on the command line; the module is named after it
    std::string text;  // the file's bytes
};

struct CompileOptions {
    pp::Options pp;         // include folders, definitions, the file reader, the standard header
    bool warnings = false;  // -w: undeclared variables, unreachable code
    // false: the files are modules for an image that gets its main procedure
    // elsewhere (the standard modules), so the first entry need not be one.
    bool needsMain = true;
};

// One module per source file, in the order the files were given.
struct CompiledProgram {
    std::vector<pcasm::AsmModule> modules;
};

// Compiles the files as one program (a public name defined twice is an
// error; STATIC names stay per file). True on success. On failure *out is
// left empty and *diags holds the errors (up to pp::MAX_ERRORS_PER_FILE per
// file); warnings are appended either way.
bool compileProgram(const std::vector<SourceFile>& files, const CompileOptions& options,
                    CompiledProgram* out, std::vector<pp::Diagnostic>* diags);

// Releases every module and leaves *p empty.
void freeProgram(CompiledProgram* p);

}  // namespace xb::xbc
