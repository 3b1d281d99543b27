// The symbol records every layer uses: the 64-byte ModuleSymbol entry of a
// module table (and of the name pool), and the process-wide GlobalSymbol
// record a name resolves to. Creating and registering them is the image's
// job (vm/symbols.h); how pcode and module tables name a GlobalSymbol in
// four bytes is decided in vm/symref.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/target.h"

namespace xb {

struct FieldDescriptor;
struct Function;

enum SymbolScope : uint8_t { SC_PUBLIC = 0, SC_STATIC = 1, SC_INIT = 2, SC_EXIT = 4 };
constexpr int SYMBOL_NAME_MAX = 58;

// One entry of a module table: 64 bytes on every target, so that a module's
// tables and pcode are the same on every build.
//   0..58   name, NUL-padded (at most 58 bytes)
//   59      scope (SymbolScope)
//   60..63  i386:   `address`. In the image: the Function this module defines
//                   for the name, or 0. After registration: the address of the
//                   entry's GlobalSymbol.
//           x86_64: `ref`, a 32-bit number (no 8-byte pointer fits). In the
//                   image: 1 + the number of the procedure in the module's
//                   Function array (ImageModule::functions), or 0. After
//                   registration: the entry's GlobalSymbol as symbolRef()
//                   encodes it (vm/symref.h).
// Read and write bytes 60..63 only through entryGlobal/setEntryGlobal
// (vm/symref.h) and imageFunction/setImageFunction (vm/symbols.h).
struct ModuleSymbol {
    char name[59];
    uint8_t scope;
#if XB_TARGET_64
    uint32_t ref;
#else
    void* address;
#endif
};
static_assert(sizeof(ModuleSymbol) == 64, "ModuleSymbol is 64 bytes on every target");
static_assert(offsetof(ModuleSymbol, scope) == 59, "scope in byte 59");
#if XB_TARGET_64
static_assert(offsetof(ModuleSymbol, ref) == 60, "symbol number in bytes 60..63");
#else
static_assert(offsetof(ModuleSymbol, address) == 60, "address in bytes 60..63");
#endif

// The process-wide record of one name (or of one static, init or exit
// procedure of a module).
//   i386 (20 bytes):   0 fieldChain, 4 memvarSlot, 6 aliasArea, 8 name,
//                      12 function, 16 hash.
//   x86_64 (40 bytes): 0 fieldChain, 8 memvarSlot, 10 aliasArea, 12 ref (the
//                      record's own 32-bit number, see vm/symref.h), 16 name,
//                      24 function, 32 hash.
struct GlobalSymbol {
    FieldDescriptor* fieldChain;
    uint16_t memvarSlot;
    uint16_t aliasArea;
#if XB_TARGET_64
    uint32_t ref;
#endif
    ModuleSymbol* name;  // 64-byte name entry
    const Function* function;
    uint32_t hash;
};
#if XB_TARGET_64
static_assert(sizeof(GlobalSymbol) == 40 && offsetof(GlobalSymbol, ref) == 12 && offsetof(GlobalSymbol, name) == 16 &&
                  offsetof(GlobalSymbol, function) == 24 && offsetof(GlobalSymbol, hash) == 32,
              "GlobalSymbol layout on x86_64");
#else
static_assert(sizeof(GlobalSymbol) == 20 && offsetof(GlobalSymbol, memvarSlot) == 4 && offsetof(GlobalSymbol, name) == 8 &&
                  offsetof(GlobalSymbol, function) == 12 && offsetof(GlobalSymbol, hash) == 16,
              "GlobalSymbol layout on i386");
#endif

inline const char* symbolName(const GlobalSymbol* s) { return s->name->name; }

}  // namespace xb
