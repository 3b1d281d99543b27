// The inputs of a program, as the runner (xbrun) and the compiler driver
// (xbc) take them from their command lines: source files (.prg, or any name
// not ending in .xbasm) go through the source compiler together, as one
// program; pcode assembler files (.xbasm) through the assembler. The result
// is one module per file, in command-line order.
//
// Owners: a LoadedProgram owns its modules until freeLoadedProgram();
// strings and codeblocks of a running program point into their pcode, so a
// program that runs keeps them to the end of the process.
#pragma once
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "pp/diagnostic.h"
#include "tools/asm/assembler.h"

namespace xb::xbc {

// True for a pcode assembler file (the name ends in ".xbasm", any case).
bool isAssemblerFile(const std::string& name);

// Reads a whole file through the platform layer. False with *why set
// ("cannot open (error 2)", "larger than 64 MB", ...).
bool readWholeFile(const std::string& name, std::string* text, std::string* why);

struct LoadedProgram {
    // One per input file, in command-line order: plain copies of the records
    // below (the memory belongs to them).
    std::vector<pcasm::AsmModule> modules;
    CompiledProgram compiled;                 // the source files' modules
    std::vector<pcasm::AsmModule> assembled;  // the assembler files' modules
};

// Compiles and assembles files into *out. True on success. Otherwise *out is
// left empty and *diags holds the errors (file:line:col: message); warnings
// are appended either way. A file that cannot be read is an error at line 0.
// A public procedure defined by two files is an error.
bool loadProgram(const std::vector<std::string>& files, const CompileOptions& options, LoadedProgram* out,
                 std::vector<pp::Diagnostic>* diags);

void freeLoadedProgram(LoadedProgram* p);

// Whether the program can start: a procedure _APPMAIN in any module, or else
// the first entry of the first module's table is a public procedure of that
// module. False with *why set otherwise.
bool checkProgramStart(const std::vector<pcasm::AsmModule>& modules, std::string* why);

// The diagnostics as text, one line each ("file:line:col: error: message").
std::string formatDiagnostics(const std::vector<pp::Diagnostic>& diags);

// The reader the preprocessor uses for #include.
bool readIncludeFile(const std::string& path, std::string* contents);

}  // namespace xb::xbc
