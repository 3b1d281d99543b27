// The generator's shared services: the module's symbol table, diagnostics,
// instruction and label emission.
#include "compiler/gen.h"

#include <algorithm>
#include <unordered_map>

#include "vm/opcodes.h"

namespace xb::xbc {

SymbolEntry& ModuleGen::symbol(const std::string& name) {
    auto it = symbolIndex.find(name);
    if (it != symbolIndex.end()) return symbols[it->second - 1];
    SymbolEntry s;
    s.name = name;
    symbols.push_back(s);
    symbolIndex[name] = symbols.size();
    return symbols.back();
}

void ModuleGen::error(int line, int col, const std::string& message) {
    if (errorCount >= pp::MAX_ERRORS_PER_FILE) return;
    ++errorCount;
    diags->push_back(pp::Diagnostic{file, line, col, false, message});
}

void ModuleGen::warning(int line, int col, const std::string& message) {
    diags->push_back(pp::Diagnostic{file, line, col, true, message});
}

namespace {

// Mnemonic -> its number, so that the assembler reads instructions by
// number (its own look-up by name walks the whole opcode list).
const std::unordered_map<std::string, int>& opcodeNumbers() {
    static const std::unordered_map<std::string, int> map = [] {
        std::unordered_map<std::string, int> m;
        for (int i = 0; i < 256; ++i)
            if (const char* n = opcodeInfo(uint8_t(i)).name) m.emplace(n, i);
        return m;
    }();
    return map;
}

}  // namespace

void ProcGen::emit(const std::string& text) {
    size_t space = text.find(' ');
    std::string word = text.substr(0, space);
    if (!word.empty() && word.back() != ':' && word[0] >= 'A' && word[0] <= 'Z') {
        auto it = opcodeNumbers().find(word);
        if (it != opcodeNumbers().end()) {
            std::string numbered = std::to_string(it->second);
            if (space != std::string::npos) numbered += text.substr(space);
            body.push_back({std::move(numbered), line, col});
            return;
        }
    }
    body.push_back({text, line, col});
}

std::string ProcGen::newLabel() { return "L" + std::to_string(++labelCounter); }

void ProcGen::label(const std::string& l) { emit(l + ":"); }

std::string ProcGen::sym(const std::string& name) { return sym(name, line, col); }

std::string ProcGen::sym(const std::string& name, const Expr* at) {
    return at ? sym(name, at->line ? at->line : line, at->col) : sym(name);
}

std::string ProcGen::sym(const std::string& name, int atLine, int atCol) {
    pendingSymbols.push_back({atLine, atCol, name});
    return name;
}

void ProcGen::flushSymbols() {
    std::stable_sort(pendingSymbols.begin(), pendingSymbols.end(), [](const PendingSymbol& a, const PendingSymbol& b) {
        return a.line != b.line ? a.line < b.line : a.col < b.col;
    });
    for (const PendingSymbol& p : pendingSymbols) mod->symbol(p.name);
    pendingSymbols.clear();
}

void ProcGen::error(int c, const std::string& message) {
    failed = true;
    mod->error(line, c, message);
}

void ProcGen::errorAt(const Expr* e, const std::string& message) {
    failed = true;
    mod->error(e->line ? e->line : line, e->col, message);
}

std::string lineOpcode(int line) { return "LINE " + std::to_string(line > 65535 ? 65535 : line); }

std::string nameFromFile(const std::string& file) {
    size_t slash = file.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    std::string out;
    for (char c : base) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        out += ok ? (c >= 'a' && c <= 'z' ? char(c - 32) : c) : '_';
    }
    if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out = "_" + out;
    if (out.size() > NAME_MAX_LEN) out.resize(NAME_MAX_LEN);
    return out;
}

}  // namespace xb::xbc
