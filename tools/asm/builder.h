// Building a module without text. Both the text assembler (assembler.cpp)
// and the source compiler drive it: declare the symbol table, then one
// ProcAssembler per procedure (procedure.h: typed instructions, labels,
// codeblocks), then finish(), which runs the verifier on the whole module
// and lays out the AsmModule the interpreter takes.
//
// Owners: the builder owns its procedures' code until finish() copies it
// into the AsmModule, which then belongs to the caller (freeModule()).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/asm/assembler.h"
#include "tools/asm/names.h"
#include "tools/asm/procedure.h"

namespace xb::pcasm {

class ModuleBuilder {
public:
    // The module's name (upper case, at most SYMBOL_NAME_MAX), may stay empty.
    void setName(const std::string& upper) { name_ = upper; }

    // Appends a table entry. `line` is what faults about it name. False with
    // *fail set for a bad or duplicate name or a full table.
    bool declare(const std::string& name, uint8_t scope, bool isProc, uint32_t line, Failure* fail);
    const SymbolTable& symbols() const { return symbols_; }
    // Changes what entry n (1-based, declared) says, for a driver that
    // learns an entry's scope or its procedure after first naming it.
    void redeclare(uint16_t n, uint8_t scope, bool isProc, uint32_t line) {
        SymbolDecl& d = symbols_.decls[n - 1];
        d.scope = scope;
        d.isProc = isProc;
        d.line = line;
    }

    // Starts the body of procedure `upper` (declared proc, not begun before).
    // The returned assembler stays valid until endProc(); false with *fail set
    // otherwise.
    ProcAssembler* beginProc(const std::string& upper, uint32_t line, Failure* fail);
    // Takes the finished body (ProcAssembler::finish accepted) into the module.
    void endProc();
    bool inProc() const { return body_ != nullptr; }
    uint32_t procLine() const { return bodyLine_; }

    // Every declared proc has a body, the verifier accepts the module (when
    // options.verify); then *out holds it. False with *err set otherwise.
    bool finish(AsmModule* out, AsmError* err, AsmOptions options);

private:
    struct ProcOut {
        uint16_t symbol;
        std::vector<uint8_t> code;
        std::vector<ProcXref> xrefs;
        std::vector<uint32_t> lines;  // per code byte, see ProcAssembler::lines()
    };
    SymbolTable symbols_;
    std::string name_;
    std::vector<ProcOut> procs_;
    std::vector<uint32_t> procLine_{0};  // per entry: line of its proc, 0 before it
    std::unique_ptr<ProcAssembler> body_;
    uint32_t bodyLine_ = 0;
};

// "line N: text" into *err (when not null); returns false.
bool setAsmError(AsmError* err, uint32_t line, const std::string& text);

}  // namespace xb::pcasm
