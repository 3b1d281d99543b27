// The generator's shared services: the module's symbol table, diagnostics,
// instruction and label emission.
#include "compiler/gen.h"

#include <algorithm>
#include <cstring>
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

void ProcGen::emitOp(int op) { body.push_back(Instr{I_PLAIN, uint8_t(op), 0, 0, line, col, {}, {}}); }

void ProcGen::emitN(int op, int64_t v) {
    body.push_back(Instr{I_NUMBER, uint8_t(op), int32_t(v), 0, line, col, {}, {}});
}

void ProcGen::emitPair(int op, int64_t v, int64_t w) {
    body.push_back(Instr{I_PAIR, uint8_t(op), int32_t(v), int32_t(w), line, col, {}, {}});
}

void ProcGen::emitSym(int op, const std::string& name) {
    body.push_back(Instr{I_SYMBOL, uint8_t(op), 0, 0, line, col, name, {}});
}

void ProcGen::emitJump(int op, const std::string& l) {
    body.push_back(Instr{I_JUMP, uint8_t(op), 0, 0, line, col, l, {}});
}

void ProcGen::emitString(const char* bytes, size_t n) {
    body.push_back(Instr{I_STRING, OP_PUSHSTR, 0, 0, line, col, std::string(bytes, n), {}});
}

void ProcGen::emitDouble(int width, int decimals, const uint8_t bits[8]) {
    Instr i{I_DOUBLE, OP_PUSHDOUBLE, width, decimals, line, col, {}, {}};
    std::memcpy(i.bits, bits, 8);
    body.push_back(std::move(i));
}

void ProcGen::emitLine(int sourceLine) { emitN(OP_LINE, sourceLine > 65535 ? 65535 : sourceLine); }

void ProcGen::openBlock() { body.push_back(Instr{I_OPEN, OP_PUSHBLOCK, 0, 0, line, col, {}, {}}); }

void ProcGen::closeBlock() { body.push_back(Instr{I_CLOSE, 0, 0, 0, line, col, {}, {}}); }

std::string ProcGen::newLabel() { return "L" + std::to_string(++labelCounter); }

void ProcGen::label(const std::string& l) { body.push_back(Instr{I_LABEL, 0, 0, 0, line, col, l, {}}); }

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
