// xbrun: runs a program from its source files or pcode assembler files.
//
//   xbrun FILE [FILE...] [--] [ARGS...]
//                            FILE is source (.prg, compiled in memory) or
//                            pcode assembler text (.xbasm); after the first
//                            FILE, arguments are files while they end in .prg
//                            or .xbasm (-- ends the list). One module per
//                            file, in that order, then the six standard
//                            modules; the program starts at _APPMAIN when a
//                            module defines it, else at the first symbol of
//                            the first file, which must be a public
//                            procedure. ARGS are its parameters (the first
//                            FILE its own name) and the exit code is the
//                            program's. Console output goes to standard
//                            output, errors to standard error and to
//                            Error.txt beside the first FILE. A file that
//                            cannot be read, compiled or assembled:
//                            "file:line:col: error: message" on standard
//                            error and exit code 2, nothing run.
//   xbrun --help             the usage.
//   xbrun --list             every procedure of the seven compiled modules, as
//                            assembler text, module by module.
//   xbrun -e EXPR [EXPR...] / xbrun -i
//                            the expression shell (tools/xbrun_shell.cpp).
//   xbrun --emit-module ID [--header] FILE
//                            C++ source that embeds FILE's module (how the
//                            compiled modules are made, tools/genmodules.sh).
#include <cstring>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/app_main.h"
#include "modules/modules.h"
#include "platform/platform.h"
#include "runtime/output.h"
#include "tools/asm/assembler.h"
#include "tools/asm/disassembler.h"
#include "tools/asm/module_emitter.h"
#include "tools/xbc/inputs.h"
#include "tools/xbc/program_image.h"
#include "tools/xbrun_shell.h"

namespace {

using namespace xb;

constexpr int EXIT_BAD_INPUT = 2;

const char USAGE[] =
    "usage: xbrun FILE.prg|FILE.xbasm [FILE...] [--] [ARGS...]  run a program\n"
    "       xbrun -e EXPRESSION [EXPRESSION...]                 evaluate expressions\n"
    "       xbrun -i                                           the shell: statements, commands, expressions\n"
    "       xbrun --list                                       the compiled modules as assembler text\n"
    "       xbrun --emit-module IDENTIFIER [--header] FILE     C++ source embedding FILE's module\n"
    "       xbrun --help                                       this text\n"
#ifdef XB_HAVE_LIBEDIT
    "The shell edits lines and keeps their history (libedit) on a terminal.\n";
#else
    "The shell reads plain lines (built without libedit).\n";
#endif

void writeOut(xb::os::Handle h, const std::string& text) {
    uint32_t done = 0;
    os::writeFile(h, text.data(), uint32_t(text.size()), &done);
}

int fail(const std::string& text) {
    writeOut(os::stdError(), "xbrun: " + text + "\n");
    return EXIT_BAD_INPUT;
}

// A source file (.prg) is compiled alone as one module of the image (the
// generated standard modules are made this way).
bool compileFile(const char* name, const std::string& text, pcasm::AsmModule* m, std::string* why) {
    xbc::CompileOptions options;
    options.needsMain = false;
    xbc::CompiledProgram program;
    std::vector<pp::Diagnostic> diags;
    bool ok = xbc::compileProgram({{name, text}}, options, &program, &diags);
    for (const pp::Diagnostic& d : diags) *why += (why->empty() ? "" : "\n") + pp::formatDiagnostic(d);
    if (!ok) return false;
    *m = program.modules[0];
    return true;
}

bool assembleFile(const char* name, pcasm::AsmModule* m, std::string* why) {
    std::string text;
    if (!xbc::readWholeFile(name, &text, why)) return false;
    size_t n = std::strlen(name);
    if (n > 4 && std::strcmp(name + n - 4, ".prg") == 0) return compileFile(name, text, m, why);
    pcasm::AsmError e{};
    if (!pcasm::assemble(text.data(), text.size(), m, &e)) {
        *why = e.message;
        return false;
    }
    return true;
}

bool isProgramFile(const char* name) {
    std::string n = name;
    if (xbc::isAssemblerFile(n)) return true;
    if (n.size() < 4) return false;
    std::string ext = n.substr(n.size() - 4);
    for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".prg";
}

// Compiles or assembles the files, then runs them with the rest of the line.
int runFiles(int argc, char** argv) {
    std::vector<std::string> files{argv[1]};
    int used = 1;  // arguments after "xbrun" that name files (or end their list)
    while (used + 1 < argc && isProgramFile(argv[used + 1])) files.push_back(argv[++used]);
    if (used + 1 < argc && std::strcmp(argv[used + 1], "--") == 0) ++used;

    static xbc::LoadedProgram program;  // lives as long as the run
    std::vector<pp::Diagnostic> diags;
    xbc::CompileOptions options;
    bool ok = xbc::loadProgram(files, options, &program, &diags);
    writeOut(os::stdError(), xbc::formatDiagnostics(diags));
    if (!ok) return EXIT_BAD_INPUT;
    std::string why;
    if (!xbc::checkProgramStart(program.modules, &why)) {
        xbc::freeLoadedProgram(&program);
        return fail(files[0] + ": " + why);
    }

    // The program sees its first file as its own name, then ARGS.
    os::setCommandLine(argc, argv);
    const char* afterRunner = skipParameter(os::commandLine());
    const char* rest = afterRunner;
    for (int i = 0; i < used; ++i) rest = skipParameter(rest);
    static std::string line;
    line = std::string(afterRunner, size_t(skipParameter(afterRunner) - afterRunner)) + rest;
    static std::string logOwner;
    logOwner = xbc::absoluteFileName(files[0]);
    outputSetLogOwner(logOwner.c_str());
    xbc::runModules(program.modules, line.c_str());
}

const char* scopeWord(uint8_t scope) {
    switch (scope) {
    case SC_STATIC: return " static";
    case SC_INIT: return " init";
    case SC_EXIT: return " exit";
    default: return "";
    }
}

std::string listModule(const modules::CompiledModule& m) {
    std::string out = std::string("module ") + m.name + "\n";
    for (uint32_t n = 1; n < m.count; ++n) {
        const ModuleSymbol& e = m.pristine[n];
        bool defined = false;
        for (uint32_t i = 0; i < m.procCount; ++i) defined |= std::strcmp(m.procs[i].name, e.name) == 0;
        out += std::string("symbol ") + e.name + scopeWord(e.scope) + (defined ? " proc" : "") + "  ; " +
               std::to_string(n) + "\n";
    }
    for (uint32_t i = 0; i < m.procCount; ++i) {
        const modules::CompiledProc& p = m.procs[i];
        out += std::string("\nproc ") + p.name + "\n";
        std::string body = pcasm::disassemble(p.code, p.length, m.pristine, m.count);
        for (size_t at = 0; at < body.size();) {
            size_t nl = body.find('\n', at);
            if (nl == std::string::npos) nl = body.size();
            out += "    " + body.substr(at, nl - at) + "\n";
            at = nl + 1;
        }
        out += "end\n";
    }
    return out;
}

int listModules() {
    std::string out = listModule(modules::appMain);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) out += "\n" + listModule(*standard[i]);
    writeOut(os::stdOutput(), out);
    return 0;
}

int emitModule(int argc, char** argv) {
    bool header = argc == 5 && std::strcmp(argv[3], "--header") == 0;
    if (argc != (header ? 5 : 4)) return fail("usage: xbrun --emit-module IDENTIFIER [--header] FILE");
    const char* file = argv[argc - 1];
    pcasm::AsmModule m{};
    std::string why;
    if (!assembleFile(file, &m, &why)) return fail(std::string(file) + ": " + why);
    std::string source;
    bool ok = pcasm::emitModuleSource(m, argv[2], file, header ? pcasm::EmitForm::Header : pcasm::EmitForm::Source,
                                      &source, &why);
    pcasm::freeModule(&m);
    if (!ok) return fail(std::string(file) + ": " + why);
    writeOut(os::stdOutput(), source);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    outputSetConsole(true);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        writeOut(os::stdOutput(), USAGE);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) return argc == 2 ? listModules() : fail("usage: xbrun --list");
    if (argc >= 2 && std::strcmp(argv[1], "--emit-module") == 0) return emitModule(argc, argv);
    if (argc >= 2 && (std::strcmp(argv[1], "-e") == 0 || std::strcmp(argv[1], "-i") == 0)) shell::run(argc, argv);
    if (argc < 2) return fail(std::string("no program to run\n") + USAGE);
    return runFiles(argc, argv);
}
