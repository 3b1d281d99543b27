// One shell line into a registered procedure (see shell_lines.h).
#include "tools/shell_lines.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "compiler/compiler.h"
#include "vm/symbols.h"
#include "pp/preprocess.h"
#include "tools/asm/assembler.h"
#include "tools/asm/disassembler.h"
#include "vm/memvars.h"
#include "vm/symref.h"

namespace xb::shell {

namespace {

// Until the process ends: never destroyed, so the symbol index (which points
// into the modules' tables) and running code never see them go.
std::vector<pcasm::AsmModule*>* keptModules = new std::vector<pcasm::AsmModule*>;
int lineNumber = 0;

bool nameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool compileText(const std::string& file, const std::string& text, pcasm::AsmModule* out,
                 std::vector<pp::Diagnostic>* diags) {
    xbc::CompileOptions options;
    options.needsMain = false;
    xbc::CompiledProgram program;
    if (!xbc::compileProgram({{file, text}}, options, &program, diags)) return false;
    if (program.modules.size() != 1) {
        xbc::freeProgram(&program);
        return false;
    }
    *out = program.modules[0];
    program.modules.clear();
    return true;
}

// True when the preprocessor changes the line (a command or a definition).
bool commandLine(const std::string& line) {
    pp::Options options;
    std::vector<pp::Line> lines;
    std::vector<pp::Diagnostic> diags;
    if (!pp::preprocess(line, "line", options, &lines, &diags)) return true;
    for (const pp::Line& l : lines)
        if (l.expanded) return true;
    return false;
}

// The names the module's code assigns as memory variables (POPMEMVAR).
std::vector<std::string> assignedMemvars(const pcasm::AsmModule& m) {
    std::vector<std::string> names;
    std::string text = pcasm::disassemble(m.code, m.codeLength, m.table, m.count);
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string ln = text.substr(at, nl - at);
        at = nl + 1;
        size_t op = ln.find("POPMEMVAR ");
        size_t semi = ln.find("; ");
        if (op == std::string::npos || semi == std::string::npos) continue;
        std::string name = ln.substr(semi + 2);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

// Registers the module's table as start-up does for the image's modules.
void registerModule(pcasm::AsmModule* m) {
    std::memcpy(m->table, m->pristine, m->count * sizeof(ModuleSymbol));
    ImageModule image = pcasm::moduleImage(*m);
    for (uint32_t i = 1; i < m->count; ++i) {
        ModuleSymbol* e = &m->table[i];
        if (!e->name[0]) continue;
        setEntryGlobal(e, registerSymbol(e, imageFunction(image, e)));
    }
    pcasm::bindModule(m);
}

int firstErrorColumn(const std::vector<pp::Diagnostic>& diags, std::string* message) {
    for (const pp::Diagnostic& d : diags) {
        if (d.warning) continue;
        *message = d.message;
        return d.column;
    }
    *message = "the line does not compile";
    return 0;
}

// A PRIVATE statement at the start of a line declares PUBLIC variables: the
// shell's lines share one level, and a private would die with its line.
std::string privateAsPublic(const std::string& line) {
    size_t a = line.find_first_not_of(" \t");
    if (a == std::string::npos) return line;
    size_t b = a;
    while (b < line.size() && nameChar(line[b])) ++b;
    if (b - a < 4 || b - a > 7 || b >= line.size() || (line[b] != ' ' && line[b] != '\t')) return line;
    static const char WORD[] = "PRIVATE";
    for (size_t i = a; i < b; ++i)
        if (std::toupper(static_cast<unsigned char>(line[i])) != WORD[i - a]) return line;
    return line.substr(0, a) + "PUBLIC" + line.substr(b);
}

}  // namespace

bool looksLikeAssignment(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos || !(nameChar(text[i]) && !(text[i] >= '0' && text[i] <= '9'))) return false;
    while (i < text.size() && nameChar(text[i])) ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) return false;
    char c = text[i], d = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '=') return d != '=';
    if ((c == '+' || c == '-') && d == c) return true;
    if (std::strchr(":+-*/^%", c) && d == '=') return true;
    return false;
}

CompiledLine compileLine(const std::string& line) {
    CompiledLine result;
    ++lineNumber;
    std::string file = "shell_" + std::to_string(lineNumber);
    auto m = std::make_unique<pcasm::AsmModule>();
    std::vector<pp::Diagnostic> diags;
    bool compiled = false;
    if (!looksLikeAssignment(line) && !commandLine(line)) {
        std::vector<pp::Diagnostic> ignored;
        compiled = compileText(file, "RETURN (" + line + ")", m.get(), &ignored);
        result.expression = compiled;
    }
    if (!compiled && !compileText(file, privateAsPublic(line), m.get(), &diags)) {
        result.column = firstErrorColumn(diags, &result.message);
        return result;
    }
    std::string procName = "SHELL_" + std::to_string(lineNumber);
    if (m->procCount != 1 || procName != m->procs[0].name) {
        result.message = "procedures, functions and STATIC variables cannot be declared in the shell";
        pcasm::freeModule(m.get());
        return result;
    }
    for (const std::string& name : assignedMemvars(*m)) {
        GlobalSymbol* s = findOrCreateSymbol(name.c_str());
        if (s && !s->memvarSlot) *newPublic(s) = Item{};
    }
    registerModule(m.get());
    result.procedure = findSymbol(m->procs[0].name);
    keptModules->push_back(m.release());
    return result;
}

}  // namespace xb::shell
