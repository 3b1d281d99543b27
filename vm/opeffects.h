// The stack effect and the control flow of every opcode, from
// vm/opeffects.def, indexed by opcode number like opcodeInfo(). The pcode
// verifier of the assembler reads it; the interpreter does not (its handlers
// are the effects).
//
// The table is built at compile time and checked there against
// vm/opcodes.def: every mnemonic has exactly one effect line, and a second
// number of a mnemonic (OP2) shares that line. Numbers without a mnemonic
// have no effect (known == false): the interpreter stops the program there.
#pragma once
#include <array>
#include <cstdint>

#include "vm/opcodes.h"

namespace xb {

enum StackRule : uint8_t { SR_FIXED, SR_COUNT, SR_TEMP, SR_FRAME };
enum FlowKind : uint8_t { FL_NEXT, FL_JUMP, FL_BRANCH, FL_KEEP, FL_SEQ, FL_END, FL_UNWIND };

struct OpEffect {
    uint8_t pops;    // items taken (SR_COUNT: plus the u16 operand)
    uint8_t pushes;  // items left
    StackRule rule;
    FlowKind flow;
    bool known;      // false for numbers without a mnemonic
};

namespace opeffects_detail {

// Effects by enumerator value (an OP2 number has no enumerator of its own).
constexpr std::array<OpEffect, 256> byMnemonic() {
    std::array<OpEffect, 256> t{};
#define FX(name, pops, pushes, rule, flow) t[OP_##name] = {pops, pushes, SR_##rule, FL_##flow, true};
#include "vm/opeffects.def"
#undef FX
    return t;
}

constexpr std::array<OpEffect, 256> byNumber() {
    constexpr std::array<OpEffect, 256> m = byMnemonic();
    std::array<OpEffect, 256> t{};
#define OP(name, num, mode) t[num] = m[OP_##name];
#define OP2(name, num, mode) t[num] = m[OP_##name];
#include "vm/opcodes.def"
#undef OP
#undef OP2
    return t;
}

constexpr int effectLines() {
    int n = 0;
#define FX(name, pops, pushes, rule, flow) ++n;
#include "vm/opeffects.def"
#undef FX
    return n;
}

constexpr int mnemonics() {
    int n = 0;
#define OP(name, num, mode) ++n;
#define OP2(name, num, mode)
#include "vm/opcodes.def"
#undef OP
#undef OP2
    return n;
}

constexpr bool everyOpcodeHasEffect() {
    constexpr std::array<OpEffect, 256> t = byNumber();
#define OP(name, num, mode) \
    if (!t[num].known) return false;
#define OP2(name, num, mode) OP(name, num, mode)
#include "vm/opcodes.def"
#undef OP
#undef OP2
    return true;
}

}  // namespace opeffects_detail

inline constexpr std::array<OpEffect, 256> OP_EFFECTS = opeffects_detail::byNumber();

static_assert(opeffects_detail::effectLines() == opeffects_detail::mnemonics(),
              "vm/opeffects.def needs exactly one line per mnemonic of vm/opcodes.def");
static_assert(opeffects_detail::everyOpcodeHasEffect(), "an opcode of vm/opcodes.def has no stack effect");

inline const OpEffect& opEffect(uint8_t op) { return OP_EFFECTS[op]; }

}  // namespace xb
