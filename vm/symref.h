// Symbols named by a 32-bit value: the operands of the X-form opcodes inside
// pcode (macro-compiled code, variable-block templates, the assembler's
// cross-module references) and bytes 60..63 of a registered ModuleSymbol.
// Every place that writes or reads such a value goes through these functions,
// so that the encoding of a symbol in four bytes is decided here.
//
//   i386:   the value is the record's address.
//   x86_64: the value is the record's number: 1 + its position in the record
//           pool, which hands out records in blocks of SYMBOL_BLOCK that never
//           move (vm/symbols.cpp). The pool's block table is the only way
//           back from the number; 0 and numbers beyond the pool name nothing.
#pragma once
#include <cstdint>

#include "vm/symbol.h"

namespace xb {

#if XB_TARGET_64
constexpr uint32_t SYMBOL_BLOCK_SHIFT = 7;
constexpr uint32_t SYMBOL_BLOCK = 1u << SYMBOL_BLOCK_SHIFT;  // records per pool block

// The record pool as symbolFromRef reads it; owned and filled by the symbol
// registry (vm/symbols.cpp), which allocates the blocks and this table on
// the tracked heap and frees them at shutdown.
struct SymbolRecordPool {
    GlobalSymbol** blocks;  // each SYMBOL_BLOCK records
    uint32_t count;         // records handed out (numbers 1..count are valid)
};
extern SymbolRecordPool symbolRecords;

inline uint32_t symbolRef(const GlobalSymbol* s) { return s->ref; }
inline GlobalSymbol* symbolFromRef(uint32_t ref) {
    uint32_t i = ref - 1;  // 0 wraps past every valid number
    if (i >= symbolRecords.count) return nullptr;
    return symbolRecords.blocks[i >> SYMBOL_BLOCK_SHIFT] + (i & (SYMBOL_BLOCK - 1));
}

inline GlobalSymbol* entryGlobal(const ModuleSymbol* e) { return symbolFromRef(e->ref); }
inline void setEntryGlobal(ModuleSymbol* e, GlobalSymbol* s) { e->ref = s ? symbolRef(s) : 0; }
#else
// The 32-bit operand that names `s` (s must be a registered symbol).
inline uint32_t symbolRef(const GlobalSymbol* s) { return uint32_t(reinterpret_cast<uintptr_t>(s)); }
// The symbol an operand written by symbolRef names.
inline GlobalSymbol* symbolFromRef(uint32_t ref) { return reinterpret_cast<GlobalSymbol*>(uintptr_t(ref)); }

inline GlobalSymbol* entryGlobal(const ModuleSymbol* e) { return static_cast<GlobalSymbol*>(e->address); }
inline void setEntryGlobal(ModuleSymbol* e, GlobalSymbol* s) { e->address = s; }
#endif

// The GlobalSymbol of entry n of a registered module table.
inline GlobalSymbol* moduleGlobal(const ModuleSymbol* table, uint16_t n) { return entryGlobal(&table[n]); }

}  // namespace xb
