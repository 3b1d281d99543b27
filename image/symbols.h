// Module symbol tables and the process-wide table of GlobalSymbol records.
//
// Each compiled module carries a table of 64-byte ModuleSymbol entries (entry
// 0 all zero, so that pcode symbol operand n is entry n). At start-up every
// entry is registered: names are kept once, in a sorted index, and the entry's
// address field is replaced by the address of its GlobalSymbol record.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xb {

struct FieldDescriptor;
struct Function;

enum SymbolScope : uint8_t { SC_PUBLIC = 0, SC_STATIC = 1, SC_INIT = 2, SC_EXIT = 4 };
constexpr int SYMBOL_NAME_MAX = 58;

struct ModuleSymbol {
    char name[59];
    uint8_t scope;
    void* address;  // image: const Function* or null; after registration: GlobalSymbol*
};
static_assert(sizeof(ModuleSymbol) == 64, "ModuleSymbol is 64 bytes");
static_assert(offsetof(ModuleSymbol, address) == 60, "address in bytes 60..63");

struct GlobalSymbol {
    FieldDescriptor* fieldChain;
    uint16_t memvarSlot;
    uint16_t aliasArea;
    ModuleSymbol* name;  // 64-byte name entry
    const Function* function;
    uint32_t hash;
};
static_assert(sizeof(GlobalSymbol) == 20, "GlobalSymbol layout on i386");

inline GlobalSymbol* moduleGlobal(const ModuleSymbol* table, uint16_t n) {
    return static_cast<GlobalSymbol*>(table[n].address);
}
inline const char* symbolName(const GlobalSymbol* s) { return s->name->name; }

// One module of the image: its table (entry 0 the zero entry) and entry count.
struct ImageModule {
    ModuleSymbol* symbols;          // writable table the pcode refers to
    const ModuleSymbol* pristine;   // its image form, copied in before registration (may be null)
    uint32_t count;                 // entries including the leading zero entry
};
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
