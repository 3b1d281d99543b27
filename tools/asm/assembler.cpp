// The module level of the assembler: `module`, `symbol` and `proc` lines, and
// the assembled module's memory.
#include "tools/asm/assembler.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/asm/lexer.h"
#include "tools/asm/names.h"
#include "tools/asm/procedure.h"
#include "tools/asm/verifier.h"
#include "vm/symref.h"

namespace xb::pcasm {

namespace {

bool isWord(const std::vector<Token>& t, size_t i, const char* w) {
    return i < t.size() && t[i].kind == TOK_WORD && sameWord(t[i].text, w);
}

struct Line {
    uint32_t number;
    std::vector<Token> tokens;
};

struct ProcOut {
    uint16_t symbol;
    std::vector<uint8_t> code;
    std::vector<ProcXref> xrefs;
    std::vector<uint32_t> lines;  // per code byte, see ProcAssembler::lines()
};

bool setError(AsmError* err, uint32_t line, const std::string& text) {
    if (err) {
        err->line = line;
        std::snprintf(err->message, sizeof err->message, "line %lu: %s", static_cast<unsigned long>(line),
                      text.c_str());
    }
    return false;
}

bool splitLines(const char* text, size_t length, std::vector<Line>* lines, AsmError* err) {
    size_t pos = 0;
    uint32_t number = 0;
    std::string why;
    while (pos < length || (pos == length && number == 0)) {
        const void* nl = std::memchr(text + pos, '\n', length - pos);
        size_t end = nl ? size_t(static_cast<const char*>(nl) - text) : length;
        ++number;
        Line l{number, {}};
        if (!tokenizeLine(text + pos, end - pos, &l.tokens, &why)) return setError(err, number, why);
        if (!l.tokens.empty()) lines->push_back(std::move(l));
        pos = end + 1;
        if (!nl) break;
    }
    return true;
}

// `symbol NAME [public|static|init|exit] [proc]`
bool declareSymbol(const Line& l, SymbolTable* table, AsmError* err) {
    const auto& t = l.tokens;
    if (t.size() < 2 || t[1].kind != TOK_WORD) return setError(err, l.number, "symbol needs a name");
    const std::string& name = t[1].text;
    if (!isName(name)) return setError(err, l.number, "bad symbol name " + name);
    if (name.size() > SYMBOL_NAME_MAX) return setError(err, l.number, "name longer than 58 characters: " + name);
    SymbolDecl d{upperName(name), SC_PUBLIC, false, l.number};
    bool scopeSeen = false;
    for (size_t i = 2; i < t.size(); ++i) {
        int scope = -1;
        if (isWord(t, i, "public")) scope = SC_PUBLIC;
        else if (isWord(t, i, "static")) scope = SC_STATIC;
        else if (isWord(t, i, "init")) scope = SC_INIT;
        else if (isWord(t, i, "exit")) scope = SC_EXIT;
        if (scope >= 0) {
            if (scopeSeen) return setError(err, l.number, "more than one scope for symbol " + name);
            scopeSeen = true;
            d.scope = uint8_t(scope);
        } else if (isWord(t, i, "proc")) {
            if (d.isProc) return setError(err, l.number, "proc given twice for symbol " + name);
            d.isProc = true;
        } else {
            return setError(err, l.number, "unknown symbol keyword " + t[i].text +
                                               " (expected public, static, init, exit or proc)");
        }
    }
    if (uint16_t first = table->find(d.name))
        return setError(err, l.number, "duplicate symbol " + d.name + " (first at line " +
                                           std::to_string(table->decls[first - 1].line) + ")");
    if (table->decls.size() >= 65535) return setError(err, l.number, "more than 65535 symbols");
    table->decls.push_back(d);
    table->byName[d.name] = uint16_t(table->decls.size());
    return true;
}

// The whole module at once: whether static opcodes are allowed depends on
// every procedure.
bool verify(const std::vector<ProcOut>& procs, AsmError* err) {
    std::vector<VerifyProc> list;
    for (const ProcOut& p : procs) list.push_back({p.code.data(), uint32_t(p.code.size()), p.lines.data()});
    VerifyFault f{};
    if (verifyModule(list.data(), uint32_t(list.size()), &f)) return true;
    return setError(err, f.line, f.text);
}

void build(const SymbolTable& symbols, const std::string& moduleName, std::vector<ProcOut>& procs, AsmModule* m) {
    std::memcpy(m->name, moduleName.data(), moduleName.size());
    m->count = symbols.count();
    m->pristine = new ModuleSymbol[m->count]();
    m->table = new ModuleSymbol[m->count]();
    for (uint32_t n = 1; n < m->count; ++n) {
        const SymbolDecl& d = symbols.decls[n - 1];
        std::memcpy(m->pristine[n].name, d.name.data(), d.name.size());
        m->pristine[n].scope = d.scope;
    }
    size_t total = 0, xrefs = 0;
    for (const ProcOut& p : procs) {
        total += p.code.size();
        xrefs += p.xrefs.size();
    }
    m->codeLength = uint32_t(total);
    m->code = new uint8_t[total ? total : 1]();
    m->procCount = uint32_t(procs.size());
    m->functions = new Function[procs.size() ? procs.size() : 1]();
    m->procs = new AsmProc[procs.size() ? procs.size() : 1]();
    m->xrefCount = uint32_t(xrefs);
    m->xrefs = new AsmXref[xrefs ? xrefs : 1]();
    uint32_t offset = 0, x = 0;
    for (size_t i = 0; i < procs.size(); ++i) {
        const ProcOut& p = procs[i];
        std::memcpy(m->code + offset, p.code.data(), p.code.size());
        m->functions[i] = {nullptr, m->code + offset, m->table};
        m->procs[i] = {m->pristine[p.symbol].name, p.symbol, &m->functions[i], offset, uint32_t(p.code.size())};
        setImageFunction(&m->pristine[p.symbol], m->functions, uint32_t(i));
        for (const ProcXref& r : p.xrefs) {
            m->xrefs[x].offset = offset + r.offset;
            std::memcpy(m->xrefs[x].name, r.name.data(), r.name.size());
            ++x;
        }
        offset += uint32_t(p.code.size());
    }
    std::memcpy(m->table, m->pristine, m->count * sizeof(ModuleSymbol));
}

}  // namespace

bool assemble(const char* text, size_t length, AsmModule* out, AsmError* err, AsmOptions options) {
    *out = AsmModule{};
    if (err) *err = AsmError{};
    if (!text) length = 0;
    std::vector<Line> lines;
    if (!splitLines(text ? text : "", length, &lines, err)) return false;

    // The table first, so that procedures may name symbols declared below them.
    SymbolTable symbols;
    for (const Line& l : lines)
        if (isWord(l.tokens, 0, "symbol") && !declareSymbol(l, &symbols, err)) return false;

    std::string moduleName;
    uint32_t moduleLine = 0;
    std::vector<ProcOut> procs;
    std::vector<uint32_t> procLine(symbols.count(), 0);  // per entry: line of its proc
    std::unique_ptr<ProcAssembler> body;
    uint32_t bodyLine = 0;
    for (const Line& l : lines) {
        const auto& t = l.tokens;
        if (body) {
            bool ended = false;
            Failure f{};
            if (!body->statement(l.number, t, &ended, &f)) return setError(err, f.line, f.text);
            if (ended) {
                procs.back().code = body->code();
                procs.back().xrefs = body->xrefs();
                procs.back().lines = body->lines();
                body.reset();
            }
            continue;
        }
        if (isWord(t, 0, "symbol")) continue;  // taken above
        if (isWord(t, 0, "module")) {
            if (moduleLine) return setError(err, l.number, "a second module line (first at line " +
                                                                std::to_string(moduleLine) + ")");
            if (t.size() != 2 || t[1].kind != TOK_WORD) return setError(err, l.number, "module needs one name");
            if (!isName(t[1].text)) return setError(err, l.number, "bad module name " + t[1].text);
            if (t[1].text.size() > SYMBOL_NAME_MAX)
                return setError(err, l.number, "name longer than 58 characters: " + t[1].text);
            moduleName = upperName(t[1].text);
            moduleLine = l.number;
        } else if (isWord(t, 0, "proc")) {
            if (t.size() != 2 || t[1].kind != TOK_WORD) return setError(err, l.number, "proc needs one name");
            std::string name = upperName(t[1].text);
            uint16_t n = symbols.find(name);
            if (!n || !symbols.decls[n - 1].isProc)
                return setError(err, l.number, "proc " + t[1].text + " needs a line `symbol " + t[1].text + " proc`");
            if (procLine[n])
                return setError(err, l.number, "duplicate proc " + name + " (first at line " +
                                                   std::to_string(procLine[n]) + ")");
            procLine[n] = l.number;
            procs.push_back({n, {}, {}, {}});
            body = std::make_unique<ProcAssembler>(symbols);
            bodyLine = l.number;
        } else if (isWord(t, 0, "end")) {
            return setError(err, l.number, "end outside a procedure");
        } else {
            return setError(err, l.number, "expected module, symbol or proc");
        }
    }
    if (body) return setError(err, bodyLine, "procedure without end");
    for (uint32_t n = 1; n < symbols.count(); ++n)
        if (symbols.decls[n - 1].isProc && !procLine[n])
            return setError(err, symbols.decls[n - 1].line,
                            "symbol " + symbols.decls[n - 1].name + " is declared proc but has no body");
    if (options.verify && !verify(procs, err)) return false;
    build(symbols, moduleName, procs, out);
    return true;
}

ImageModule moduleImage(const AsmModule& m) { return {m.table, m.pristine, m.count, m.functions, m.procCount}; }

void bindModule(AsmModule* m) {
    for (uint32_t i = 0; i < m->xrefCount; ++i) {
        auto a = symbolRef(findOrCreateSymbol(m->xrefs[i].name));
        uint8_t* p = m->code + m->xrefs[i].offset;
        p[0] = uint8_t(a);
        p[1] = uint8_t(a >> 8);
        p[2] = uint8_t(a >> 16);
        p[3] = uint8_t(a >> 24);
    }
}

void freeModule(AsmModule* m) {
    delete[] m->table;
    delete[] m->pristine;
    delete[] m->code;
    delete[] m->functions;
    delete[] m->procs;
    delete[] m->xrefs;
    *m = AsmModule{};
}

const AsmProc* findProc(const AsmModule& m, const char* name) {
    std::string u = upperName(name);
    for (uint32_t i = 0; i < m.procCount; ++i)
        if (u == m.procs[i].name) return &m.procs[i];
    return nullptr;
}

}  // namespace xb::pcasm
