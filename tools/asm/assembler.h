// The pcode assembler: turns the text form of one module (its symbol table
// and its procedures, see docs/pcode-assembler.md) into a module the
// interpreter can run: a writable ModuleSymbol table with its pristine image
// copy, one Function per procedure and the pcode bytes behind them.
//
// The text is an input boundary (the runner loads untrusted files): every
// operand is range-checked, symbol numbers must lie in the module table, local
// indexes within the FRAME, jumps on an instruction of their own procedure or
// block, and every failure is reported as "line N: ..." without crashing.
// Then the pcode verifier (verifier.h) follows every path of the assembled
// code and refuses, with the line, code that would take the stack below its
// frame or reach an instruction with two different depths.
//
// Lifecycle of an assembled module:
//   assemble()            -> table, pristine copy, Functions, code (fixed addresses)
//   moduleImage()         -> the ImageModule to hand to setImage()
//   registerModuleSymbols() (start-up, not ours)
//   bindModule()          -> patches the X operands (GlobalSymbol addresses)
//   freeModule()          -> releases everything
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/function.h"
#include "vm/symbols.h"

namespace xb::pcasm {

// Longest name a table entry holds. (Not NAME_MAX: the C library defines a
// macro of that name, which would silently change these sizes wherever
// <limits.h> comes first.)
constexpr size_t SYMBOL_NAME_MAX = 58;
static_assert(sizeof(ModuleSymbol::name) == SYMBOL_NAME_MAX + 1, "names fill the entry up to the scope byte");

// One procedure of the module.
struct AsmProc {
    const char* name;    // the name in the pristine table
    uint16_t symbol;     // its entry number in the table
    Function* function;  // {nullptr, pcode, &table[0]}
    uint32_t offset;     // first byte within AsmModule::code
    uint32_t length;     // bytes of pcode
};

// An X operand: 4 bytes at code[offset] that bindModule() fills with the
// address of the GlobalSymbol of name.
struct AsmXref {
    uint32_t offset;
    char name[SYMBOL_NAME_MAX + 1];
};

// An assembled module. A plain record: copying it copies the pointers, the
// memory stays where it is until freeModule().
struct AsmModule {
    char name[SYMBOL_NAME_MAX + 1];  // from the `module` line; empty when absent
    ModuleSymbol* table;      // writable table the pcode refers to (entry 0 zero)
    ModuleSymbol* pristine;   // its image form, copied in by registerModuleSymbols
    uint32_t count;           // entries including the zero entry
    uint8_t* code;            // every procedure's pcode, one after another
    uint32_t codeLength;
    Function* functions;      // procCount records, one per procedure
    AsmProc* procs;
    uint32_t procCount;
    AsmXref* xrefs;
    uint32_t xrefCount;
};

struct AsmError {
    uint32_t line;         // 1-based line of the fault
    char message[192];     // "line 12: ..."
};

struct AsmOptions {
    // Run the pcode verifier on every procedure and codeblock. Only tests of
    // the interpreter's own run-time checks turn it off, to run code that the
    // verifier would refuse.
    bool verify = true;
};

// Assembles text[0..length). On success fills *out and returns true; on
// failure leaves *out empty, fills *err and returns false.
bool assemble(const char* text, size_t length, AsmModule* out, AsmError* err, AsmOptions options = {});

// The module as one entry of the image.
ImageModule moduleImage(const AsmModule& m);

// Resolves every X operand with findOrCreateSymbol and writes the record's
// address into the code. Needs the global symbol table, so call it after
// registerModuleSymbols() (and again after every new registration).
void bindModule(AsmModule* m);

// Releases the module's memory and leaves *m empty.
void freeModule(AsmModule* m);

// Looks up a procedure by name (case as in the table); null when absent.
const AsmProc* findProc(const AsmModule& m, const char* name);

}  // namespace xb::pcasm
