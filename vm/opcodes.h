// Opcode numbers, operand modes and the static description table built from
// vm/opcodes.def.
#pragma once
#include <cstdint>

namespace xb {

enum OperandMode : uint8_t { OM_NONE, OM_B, OM_N, OM_I, OM_S, OM_X, OM_J, OM_U, OM_BB, OM_STR, OM_DBL, OM_BLOCK };

enum Opcode : uint8_t {
#define OP(name, num, mode) OP_##name = num,
#define OP2(name, num, mode)
#include "vm/opcodes.def"
#undef OP
#undef OP2
};

struct OpcodeInfo {
    const char* name;  // null for numbers no mnemonic names
    OperandMode mode;
};

// Indexed by opcode number 0..255.
const OpcodeInfo& opcodeInfo(uint8_t op);
// Opcode by mnemonic (case-insensitive); -1 when unknown.
int opcodeByName(const char* name);
// Number of operand bytes that follow the opcode (PUSHSTR and PUSHBLOCK read
// their length from the operand itself); -1 for a truncated instruction.
int operandLength(const uint8_t* pc, const uint8_t* end);

}  // namespace xb
