// The module level of the assembler: `module`, `symbol` and `proc` lines, and
// the assembled module's memory.
#include "tools/asm/assembler.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/asm/builder.h"
#include "tools/asm/lexer.h"
#include "tools/asm/names.h"
#include "tools/asm/procedure.h"
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

bool setError(AsmError* err, uint32_t line, const std::string& text) { return setAsmError(err, line, text); }

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
bool declareSymbol(const Line& l, ModuleBuilder* builder, AsmError* err) {
    const auto& t = l.tokens;
    if (t.size() < 2 || t[1].kind != TOK_WORD) return setError(err, l.number, "symbol needs a name");
    const std::string& name = t[1].text;
    uint8_t scope = SC_PUBLIC;
    bool isProc = false;
    bool scopeSeen = false;
    for (size_t i = 2; i < t.size(); ++i) {
        int sc = -1;
        if (isWord(t, i, "public")) sc = SC_PUBLIC;
        else if (isWord(t, i, "static")) sc = SC_STATIC;
        else if (isWord(t, i, "init")) sc = SC_INIT;
        else if (isWord(t, i, "exit")) sc = SC_EXIT;
        if (sc >= 0) {
            if (scopeSeen) return setError(err, l.number, "more than one scope for symbol " + name);
            scopeSeen = true;
            scope = uint8_t(sc);
        } else if (isWord(t, i, "proc")) {
            if (isProc) return setError(err, l.number, "proc given twice for symbol " + name);
            isProc = true;
        } else {
            return setError(err, l.number, "unknown symbol keyword " + t[i].text +
                                               " (expected public, static, init, exit or proc)");
        }
    }
    Failure f{};
    if (!builder->declare(name, scope, isProc, l.number, &f)) return setError(err, f.line, f.text);
    return true;
}

}  // namespace

bool assemble(const char* text, size_t length, AsmModule* out, AsmError* err, AsmOptions options) {
    *out = AsmModule{};
    if (err) *err = AsmError{};
    if (!text) length = 0;
    std::vector<Line> lines;
    if (!splitLines(text ? text : "", length, &lines, err)) return false;

    // The table first, so that procedures may name symbols declared below them.
    ModuleBuilder builder;
    for (const Line& l : lines)
        if (isWord(l.tokens, 0, "symbol") && !declareSymbol(l, &builder, err)) return false;

    uint32_t moduleLine = 0;
    ProcAssembler* body = nullptr;
    for (const Line& l : lines) {
        const auto& t = l.tokens;
        if (body) {
            bool ended = false;
            Failure f{};
            if (!body->statement(l.number, t, &ended, &f)) return setError(err, f.line, f.text);
            if (ended) {
                builder.endProc();
                body = nullptr;
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
            builder.setName(upperName(t[1].text));
            moduleLine = l.number;
        } else if (isWord(t, 0, "proc")) {
            if (t.size() != 2 || t[1].kind != TOK_WORD) return setError(err, l.number, "proc needs one name");
            std::string name = upperName(t[1].text);
            uint16_t n = builder.symbols().find(name);
            if (!n || !builder.symbols().decls[n - 1].isProc)
                return setError(err, l.number, "proc " + t[1].text + " needs a line `symbol " + t[1].text + " proc`");
            Failure f{};
            body = builder.beginProc(name, l.number, &f);
            if (!body) return setError(err, f.line, f.text);
        } else if (isWord(t, 0, "end")) {
            return setError(err, l.number, "end outside a procedure");
        } else {
            return setError(err, l.number, "expected module, symbol or proc");
        }
    }
    return builder.finish(out, err, options);
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
