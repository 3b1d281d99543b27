// The errors of the run-time guards: an instruction meets something it
// cannot use although the pcode is well formed (a callee or a variable name
// that is no Symbol, statics without a statics base, a codeblock whose
// creator returned without detaching its locals). They are argument errors
// of the subsystem "BASE", subcode GUARD_SUBCODE, with the opcode's name as
// the operation, raised through the error system like any other error.
#pragma once
#include <cstdint>

namespace xb {

constexpr uint16_t GUARD_SUBCODE = 1064;

// Raises with the top `count` Items as the operands. With `substitute` the
// error block's answer replaces them (one Item on top, also when count is
// 0); without it the error allows a default (the block answers false) and
// the operands stay for the caller to drop. Returns 0, or 0xFFFF when the
// error block unwound or TYPE traps errors.
uint16_t raiseGuardError(const char* operation, uint16_t count, bool substitute);

}  // namespace xb
