// The built-in functions that compile into one inline opcode instead of a
// call by name: the names (with the abbreviations accepted), how many
// arguments each takes and the opcode. The macro compiler and the source
// compiler both read this one table.
#pragma once
#include <cstdint>

namespace xb::macro {

struct Builtin {
    const char* name;  // upper case, as accepted (abbreviations are rows of their own)
    uint8_t args;      // argument count; a rule number when opcode is 0
    uint8_t opcode;    // 0: the opcode depends on the argument count (builtinOpcode)
};

// The row of an upper-case call name; null when the name is not built in.
const Builtin* findBuiltin(const char* name);

// The opcode of a call of b with n arguments; 0 when n is not allowed. EVAL
// answers OP_EVALSEND (61) and is generated as a send of EVAL.
uint8_t builtinOpcode(const Builtin& b, uint32_t n);

}  // namespace xb::macro
