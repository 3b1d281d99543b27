// The generator's instructions into the assembler's module builder
// (tools/asm/builder.h), one procedure at a time as each is finished: the
// builder checks and encodes every operand and jump, the verifier runs when
// the module is complete. Table entries only ever grow at the end, so an
// entry's number is final once named; its scope and procedure flag may be
// learnt later (a name called before its definition) and are brought up to
// date before the procedure's body and once more at the end. The builder's
// "lines" are indexes into ModuleGen::sourceAt, so a fault names the source
// position that made the instruction. The one name used before its entry
// exists is STATICS$ (the table's last entry): from the first procedure that
// needs it, procedures wait for the module's end, in order.
#include "compiler/gen.h"
#include "vm/opcodes.h"
#include "vm/symbol.h"

namespace xb::xbc {

namespace {

uint8_t tableScope(uint8_t scope) {
    switch (scope) {
    case SCOPE_STATIC: return SC_STATIC;
    case SCOPE_INIT: return SC_INIT;
    case SCOPE_EXIT: return SC_EXIT;
    default: return SC_PUBLIC;
    }
}

uint32_t at(ModuleGen* m, int line, int col) {
    m->sourceAt.push_back({line, col});
    return uint32_t(m->sourceAt.size() - 1);
}

void failed(ModuleGen* m, uint32_t n, const std::string& why) {
    m->buildFailed = true;
    m->buildLine = n < m->sourceAt.size() ? m->sourceAt[n].first : 0;
    m->buildCol = n < m->sourceAt.size() ? m->sourceAt[n].second : 0;
    m->buildWhy = why;
}

// Hands the entries named since the last call to the builder.
bool declareNew(ModuleGen* m) {
    if (!m->builder) {
        m->builder = std::make_unique<pcasm::ModuleBuilder>();
        m->builder->setName(m->moduleName);
    }
    pcasm::Failure f{};
    for (; m->declared < m->symbols.size(); ++m->declared) {
        const SymbolEntry& s = m->symbols[m->declared];
        if (!m->builder->declare(s.name, tableScope(s.scope), s.isProc, at(m, s.defLine, 0), &f)) {
            failed(m, f.line, f.text);
            return false;
        }
    }
    return true;
}

void redeclare(ModuleGen* m, size_t index) {
    const SymbolEntry& s = m->symbols[index];
    m->builder->redeclare(uint16_t(index + 1), tableScope(s.scope), s.isProc, at(m, s.defLine, 0));
}

bool instruction(pcasm::ProcAssembler* pa, const Instr& i, uint32_t n, pcasm::Failure* f) {
    switch (i.kind) {
    case I_PLAIN: return pa->opPlain(n, i.op, f);
    case I_NUMBER: return pa->opNumber(n, i.op, i.a, f);
    case I_PAIR: return pa->opPair(n, i.op, i.a, i.b, f);
    case I_SYMBOL: return pa->opSymbol(n, i.op, pcasm::upperName(i.text), f);
    case I_JUMP: return pa->opJump(n, i.op, i.text, f);
    case I_STRING: return pa->opString(n, i.op, i.text.data(), i.text.size(), f);
    case I_DOUBLE: return pa->opDouble(n, i.op, i.a, i.b, i.bits, f);
    case I_OPEN: return pa->openBlock(n, i.op, -1, f);
    case I_CLOSE: return pa->closeBlock(n, f);
    case I_LABEL: return pa->label(n, i.text, f);
    }
    return false;
}

// Whether the procedure names the statics' entry while it is not yet in the table.
bool needsStatics(const ModuleGen& m, const ProcCode& code) {
    if (m.symbolIndex.count("STATICS$")) return false;
    for (const Instr& i : code.code)
        if (i.kind == I_SYMBOL && (i.op == OP_STATICSBASE || i.op == OP_STATICSALLOC) && i.text == "STATICS$")
            return true;
    return false;
}

void assembleNow(ModuleGen* m, const ProcCode& code) {
    if (m->buildFailed || !declareNew(m)) return;
    auto it = m->symbolIndex.find(code.name);
    if (it != m->symbolIndex.end()) redeclare(m, it->second - 1);
    pcasm::Failure f{};
    pcasm::ProcAssembler* pa = m->builder->beginProc(pcasm::upperName(code.name), at(m, 0, 0), &f);
    if (!pa) return failed(m, f.line, f.text);
    for (const Instr& i : code.code)
        if (!instruction(pa, i, at(m, i.line, i.col), &f)) return failed(m, f.line, f.text);
    if (!pa->finish(at(m, 0, 0), &f)) return failed(m, f.line, f.text);
    m->builder->endProc();
}

}  // namespace

void assembleProc(ModuleGen* m, ProcCode&& p) {
    ProcCode code = std::move(p);  // released on return
    if (m->buildFailed) return;
    if (!m->pending.empty() || needsStatics(*m, code)) {
        m->pending.push_back(std::move(code));
        return;
    }
    assembleNow(m, code);
}

bool finishModule(ModuleGen* m, pcasm::AsmModule* out, int* line, int* col, std::string* why) {
    *out = pcasm::AsmModule{};
    for (const ProcCode& code : m->pending) assembleNow(m, code);
    m->pending.clear();
    if (!m->buildFailed && declareNew(m)) {
        for (size_t i = 0; i < m->symbols.size(); ++i) redeclare(m, i);
        pcasm::AsmError err{};
        if (m->builder->finish(out, &err, {})) {
            m->builder.reset();
            return true;
        }
        std::string text = err.message;
        size_t colon = text.find(": ");
        failed(m, err.line, colon == std::string::npos ? text : text.substr(colon + 2));
    }
    *line = m->buildLine;
    *col = m->buildCol;
    *why = m->buildWhy;
    m->builder.reset();
    return false;
}

}  // namespace xb::xbc
