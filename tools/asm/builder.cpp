#include "tools/asm/builder.h"

#include <cstdio>
#include <cstring>

#include "tools/asm/verifier.h"

namespace xb::pcasm {

namespace {

bool fail(Failure* f, uint32_t line, std::string text) {
    f->line = line;
    f->text = std::move(text);
    return false;
}

}  // namespace

bool setAsmError(AsmError* err, uint32_t line, const std::string& text) {
    if (err) {
        err->line = line;
        std::snprintf(err->message, sizeof err->message, "line %lu: %s", static_cast<unsigned long>(line),
                      text.c_str());
    }
    return false;
}

bool ModuleBuilder::declare(const std::string& name, uint8_t scope, bool isProc, uint32_t line, Failure* f) {
    if (!isName(name)) return fail(f, line, "bad symbol name " + name);
    if (name.size() > SYMBOL_NAME_MAX) return fail(f, line, "name longer than 58 characters: " + name);
    SymbolDecl d{upperName(name), scope, isProc, line};
    auto ins = symbols_.byName.emplace(d.name, uint16_t(symbols_.decls.size() + 1));
    if (!ins.second)
        return fail(f, line, "duplicate symbol " + d.name + " (first at line " +
                                 std::to_string(symbols_.decls[ins.first->second - 1].line) + ")");
    if (symbols_.decls.size() >= 65535) {
        symbols_.byName.erase(ins.first);
        return fail(f, line, "more than 65535 symbols");
    }
    symbols_.decls.push_back(std::move(d));
    procLine_.push_back(0);
    return true;
}

ProcAssembler* ModuleBuilder::beginProc(const std::string& upper, uint32_t line, Failure* f) {
    uint16_t n = symbols_.find(upper);
    if (!n || !symbols_.decls[n - 1].isProc) {
        fail(f, line, "proc " + upper + " needs a line `symbol " + upper + " proc`");
        return nullptr;
    }
    if (procLine_[n]) {
        fail(f, line, "duplicate proc " + upper + " (first at line " + std::to_string(procLine_[n]) + ")");
        return nullptr;
    }
    procLine_[n] = line;
    procs_.push_back({n, {}, {}, {}});
    body_ = std::make_unique<ProcAssembler>(symbols_);
    bodyLine_ = line;
    return body_.get();
}

void ModuleBuilder::endProc() {
    ProcOut& p = procs_.back();
    p.code = body_->takeCode();
    p.xrefs = body_->takeXrefs();
    p.lines = body_->takeLines();
    body_.reset();
}

bool ModuleBuilder::finish(AsmModule* m, AsmError* err, AsmOptions options) {
    *m = AsmModule{};
    if (body_) return setAsmError(err, bodyLine_, "procedure without end");
    for (uint32_t n = 1; n < symbols_.count(); ++n)
        if (symbols_.decls[n - 1].isProc && !procLine_[n])
            return setAsmError(err, symbols_.decls[n - 1].line,
                               "symbol " + symbols_.decls[n - 1].name + " is declared proc but has no body");
    if (options.verify) {
        // The whole module at once: whether static opcodes are allowed
        // depends on every procedure.
        std::vector<VerifyProc> list;
        list.reserve(procs_.size());
        for (const ProcOut& p : procs_) list.push_back({p.code.data(), uint32_t(p.code.size()), p.lines.data()});
        VerifyFault vf{};
        if (!verifyModule(list.data(), uint32_t(list.size()), &vf)) return setAsmError(err, vf.line, vf.text);
    }

    std::memcpy(m->name, name_.data(), name_.size() < SYMBOL_NAME_MAX ? name_.size() : SYMBOL_NAME_MAX);
    m->count = symbols_.count();
    m->pristine = new ModuleSymbol[m->count]();
    m->table = new ModuleSymbol[m->count]();
    for (uint32_t n = 1; n < m->count; ++n) {
        const SymbolDecl& d = symbols_.decls[n - 1];
        std::memcpy(m->pristine[n].name, d.name.data(), d.name.size());
        m->pristine[n].scope = d.scope;
    }
    size_t total = 0, xrefs = 0;
    for (const ProcOut& p : procs_) {
        total += p.code.size();
        xrefs += p.xrefs.size();
    }
    m->codeLength = uint32_t(total);
    m->code = new uint8_t[total ? total : 1]();
    m->procCount = uint32_t(procs_.size());
    m->functions = new Function[procs_.size() ? procs_.size() : 1]();
    m->procs = new AsmProc[procs_.size() ? procs_.size() : 1]();
    m->xrefCount = uint32_t(xrefs);
    m->xrefs = new AsmXref[xrefs ? xrefs : 1]();
    uint32_t offset = 0, x = 0;
    for (size_t i = 0; i < procs_.size(); ++i) {
        const ProcOut& p = procs_[i];
        if (!p.code.empty()) std::memcpy(m->code + offset, p.code.data(), p.code.size());
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
    return true;
}

}  // namespace xb::pcasm
