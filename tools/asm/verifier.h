// The pcode verifier: proves, before anything runs, that the code of a
// module's procedures and codeblocks keeps the evaluation stack within its
// frame. It decodes the bytes (so it checks what will run, whoever wrote it)
// and follows every path of every body with the stack depth above the frame,
// taking each opcode's pops and pushes from vm/opeffects.def.
//
// It refuses, naming the instruction:
//   - an instruction that would pop below the frame (more items than the body
//     pushed since its FRAME; a call counts its Symbol, self and arguments);
//   - two paths that reach an instruction with different depths (a loop that
//     grows the stack, an IF whose arms disagree); the recovery code of a
//     sequence is reached with the depth at its SEQBEGIN, because an
//     unwinding cuts the stack back to that height;
//   - a codeblock that ends without its value on the stack;
//   - a FRAME that is not at the head of its body, or that a jump reaches
//     again; more than 255 parameters and locals; a call of more than 255
//     arguments;
//   - local indexes beyond the body's FRAME; outer-local opcodes outside a
//     codeblock or beyond the procedure's FRAME;
//   - static opcodes in a module that allocates no statics (no STATICSALLOC)
//     or never selects them (no STATICSBASE), static 0, a static beyond the
//     module's allocation when that is a constant, a STATICSBASE of a symbol
//     the module allocates nothing for;
//   - jumps off their body or into an instruction, truncated instructions,
//     code that runs off the end of its body.
//
// What it cannot see is left to the interpreter's run-time checks: the types
// of the items (a call whose Symbol slot holds something else, PUBLIC of a
// non-Symbol), whether a block's creator still lives, the sequence stack.
// Unreachable code is checked instruction by instruction but not for depth:
// it never runs.
#pragma once
#include <cstdint>

namespace xb::pcasm {

// One procedure's code (its codeblocks lie inside it).
struct VerifyProc {
    const uint8_t* code;
    uint32_t length;
    // Per code byte, the source line of the instruction that starts there;
    // null when there is no source (faults then name byte offsets).
    const uint32_t* lines;
};

struct VerifyFault {
    uint32_t proc;    // index of the procedure in the list
    uint32_t offset;  // the faulty instruction, within its procedure's code
    uint32_t line;    // its source line, 0 without a source
    char text[224];   // what is wrong; other places are named as "line N" or "offset N"
};

// Verifies every procedure of one module. True when all pass; otherwise
// false with *fault describing the first fault found.
bool verifyModule(const VerifyProc* procs, uint32_t count, VerifyFault* fault);

}  // namespace xb::pcasm
