// Module symbol tables and the process-wide table of GlobalSymbol records.
//
// Each compiled module carries a table of 64-byte ModuleSymbol entries (entry
// 0 all zero, so that pcode symbol operand n is entry n). At start-up every
// entry is registered: names are kept once, in a sorted index, and bytes
// 60..63 of the entry, which named the module's own Function for the name,
// then name its GlobalSymbol record (the records: vm/symbol.h; the 32-bit
// encoding: vm/symref.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/function.h"
#include "vm/symbol.h"
#include "vm/symref.h"

namespace xb {

// One module of the image: its table (entry 0 the zero entry) and entry count.
struct ImageModule {
    ModuleSymbol* symbols;          // writable table the pcode refers to
    const ModuleSymbol* pristine;   // its image form, copied in before registration (may be null)
    uint32_t count;                 // entries including the leading zero entry
    const Function* functions;      // the module's procedures, which the image form names
    uint32_t functionCount;
};

// The Function an entry in image form (before registration) names for its
// module, or null. On x86_64 the entry holds a procedure number, resolved
// through m.functions (a number beyond them names nothing).
inline const Function* imageFunction(const ImageModule& m, const ModuleSymbol* e) {
#if XB_TARGET_64
    return e->ref && e->ref <= m.functionCount ? &m.functions[e->ref - 1] : nullptr;
#else
    (void)m;
    return static_cast<const Function*>(e->address);
#endif
}
// Makes the image-form entry e name functions[i].
inline void setImageFunction(ModuleSymbol* e, const Function* functions, uint32_t i) {
#if XB_TARGET_64
    (void)functions;
    e->ref = i + 1;
#else
    e->address = const_cast<Function*>(&functions[i]);
#endif
}
// The same, as the initialiser of bytes 60..63 in a generated image table.
#if XB_TARGET_64
#define XB_IMAGE_FUNCTION(functions, i) (uint32_t(i) + 1u)
#else
#define XB_IMAGE_FUNCTION(functions, i) (const_cast<::xb::Function*>(&(functions)[i]))
#endif
// The image: the modules in image order (the main module first).
void setImage(const ImageModule* modules, uint32_t count);
// The image module whose writable table is `table`; null for any other table
// (the empty table of macro code). Lets code that holds only a table pointer
// walk its entries within bounds.
const ImageModule* findImageModule(const ModuleSymbol* table);

uint32_t symbolCrc(const char* name);
void registerModuleSymbols();
GlobalSymbol* registerSymbol(ModuleSymbol* entry, const Function* address);
GlobalSymbol* findSymbol(const char* name);
GlobalSymbol* findSymbolTrimmed(const char* name);
GlobalSymbol* findOrCreateSymbol(const char* name);
ModuleSymbol* firstModuleSymbol();
// The empty module table macro-compiled code runs with (it names symbols by address).
ModuleSymbol* emptyModuleTable();

// Initialisation (scope 2) and exit (scope 4) procedures in registration order.
struct SymbolList {
    GlobalSymbol** items;
    uint32_t count;
    uint32_t capacity;
};
SymbolList& initProcedures();
SymbolList& exitProcedures();
void freeSymbolList(SymbolList& list);

// Calls symbol with a NIL self and the given texts as string parameters.
bool callSymbol(GlobalSymbol* symbol, int argc, const char* const* argv);

// Frees the index, pools and lists (shutdown).
void freeSymbols();
uint32_t symbolCount();

}  // namespace xb
