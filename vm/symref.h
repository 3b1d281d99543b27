// Symbol operands of the X-form opcodes: a GlobalSymbol named by a 32-bit
// value inside pcode (macro-compiled code, variable-block templates, the
// assembler's cross-module references). Every place that writes or reads such
// an operand goes through these two functions, so that the encoding of a
// symbol in four bytes is decided in one place.
#pragma once
#include <cstdint>

namespace xb {

struct GlobalSymbol;

// The 32-bit operand that names `s` (s must be a registered symbol).
inline uint32_t symbolRef(const GlobalSymbol* s) {
    return uint32_t(reinterpret_cast<uintptr_t>(s));
}
// The symbol an operand written by symbolRef names.
inline GlobalSymbol* symbolFromRef(uint32_t ref) {
    return reinterpret_cast<GlobalSymbol*>(uintptr_t(ref));
}

}  // namespace xb
