// xbrun: runs a module written in the pcode assembler's text.
//
//   xbrun FILE [ARGS...]     FILE's module comes first in the image (its first
//                            symbol must be the procedure to run), followed by
//                            the six standard modules; ARGS are its parameters
//                            and the exit code is the program's. A file that
//                            cannot be read or assembled: a message on
//                            standard error and exit code 2.
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

#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/app_main.h"
#include "modules/modules.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "tools/asm/disassembler.h"
#include "tools/asm/module_emitter.h"
#include "tools/xbrun_shell.h"

namespace {

using namespace xb;

constexpr int EXIT_BAD_INPUT = 2;

pcasm::AsmModule program;
ImageModule image[1 + modules::STANDARD_MODULE_COUNT];

void writeOut(xb::os::Handle h, const std::string& text) {
    uint32_t done = 0;
    os::writeFile(h, text.data(), uint32_t(text.size()), &done);
}

int fail(const std::string& text) {
    writeOut(os::stdError(), "xbrun: " + text + "\n");
    return EXIT_BAD_INPUT;
}

bool readWhole(const char* name, std::string* text, std::string* why) {
    os::Handle h = os::createFile(name, os::ACCESS_READ, os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING, 0x80);
    if (h == os::INVALID) {
        *why = "cannot open (error " + std::to_string(os::lastError()) + ")";
        return false;
    }
    char buffer[65536];
    uint32_t got = 0;
    bool ok = true;
    while ((ok = os::readFile(h, buffer, sizeof buffer, &got)) && got > 0) {
        text->append(buffer, got);
        if (text->size() > (64u << 20)) {
            *why = "larger than 64 MB";
            ok = false;
            break;
        }
    }
    if (!ok && why->empty()) *why = "cannot read (error " + std::to_string(os::lastError()) + ")";
    os::closeHandle(h);
    return ok;
}

bool assembleFile(const char* name, pcasm::AsmModule* m, std::string* why) {
    std::string text;
    if (!readWhole(name, &text, why)) return false;
    pcasm::AsmError e{};
    if (!pcasm::assemble(text.data(), text.size(), m, &e)) {
        *why = e.message;
        return false;
    }
    return true;
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

void bindProgram() { pcasm::bindModule(&program); }

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) return argc == 2 ? listModules() : fail("usage: xbrun --list");
    if (argc >= 2 && std::strcmp(argv[1], "--emit-module") == 0) return emitModule(argc, argv);
    if (argc >= 2 && (std::strcmp(argv[1], "-e") == 0 || std::strcmp(argv[1], "-i") == 0)) shell::run(argc, argv);
    if (argc < 2) return fail("usage: xbrun FILE [ARGS...] | -e EXPR [EXPR...] | -i | --list | --emit-module IDENTIFIER [--header] FILE");

    std::string why;
    if (!assembleFile(argv[1], &program, &why)) return fail(std::string(argv[1]) + ": " + why);
    bool firstIsProc = false;
    for (uint32_t i = 0; i < program.procCount; ++i) firstIsProc |= program.procs[i].symbol == 1;
    if (!firstIsProc)
        return fail(std::string(argv[1]) + ": the first symbol must be the procedure to run (symbol NAME proc)");

    image[0] = pcasm::moduleImage(program);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image[1 + i] = modules::imageModule(*standard[i]);
    setImage(image, 1 + modules::STANDARD_MODULE_COUNT);
    afterSymbolRegistration = bindProgram;
    // The program sees the rest of the line: FILE as its own name, then ARGS.
    os::setCommandLine(argc, argv);
    processEntry(skipParameter(os::commandLine()));
}
