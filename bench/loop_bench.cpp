// The counting loop
//
//     LOCAL x := 0, i := 1
//     DO WHILE i <= 10000000
//        x := x + i
//        i++
//     ENDDO
//
// compiled as the language compiles it, run on the interpreter and timed.
// Prints the opcodes executed, the time and the nanoseconds per opcode, then
// a line "seconds S" for bench/run.sh. An optional count replaces 10000000.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_vm.h"
#include "vm/symbols.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/opcodes.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

std::string loopModule(uint32_t limit) {
    // constants beyond 16 bits are PUSHDOUBLE with the width of their text
    std::string digits = std::to_string(limit);
    return "symbol COUNT proc\n"
           "proc COUNT\n"
           "    LINE 0\n"
           "    FRAME 0 2\n"
           "    LINE 1\n"
           "    ZERO\n"
           "    POPLOCAL 1\n"
           "    ONE\n"
           "    POPLOCAL 2\n"
           "loop:\n"
           "    LINE 2\n"
           "    IDLE\n"
           "    PUSHLOCAL 2\n"
           "    PUSHDOUBLE " + std::to_string(digits.size()) + " 0 " + digits + "\n"
           "    LESSEQUAL\n"
           "    JUMPFALSE done\n"
           "    LINE 3\n"
           "    PUSHLOCAL 1\n"
           "    PUSHLOCAL 2\n"
           "    PLUS\n"
           "    POPLOCAL 1\n"
           "    LINE 4\n"
           "    PUSHLOCAL 2\n"
           "    INC\n"
           "    POPLOCAL 2\n"
           "    JUMP loop\n"
           "done:\n"
           "    PUSHLOCAL 1\n"
           "    POPRET\n"
           "    ENDPROC\n"
           "end\n";
}

// Opcodes per turn of the loop: from the target of the backward JUMP up to
// and including that JUMP.
uint32_t opcodesPerTurn(const uint8_t* code, uint32_t length) {
    const uint8_t* end = code + length;
    for (const uint8_t* p = code; p < end;) {
        int n = operandLength(p, end);
        if (n < 0) break;
        if (*p == OP_JUMP && readI16(p + 1) < 0) {
            const uint8_t* target = p + 3 + readI16(p + 1);
            uint32_t count = 0;
            for (const uint8_t* q = target; q <= p; q += 1 + operandLength(q, end)) ++count;
            return count;
        }
        p += 1 + n;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t limit = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 10000000;
    if (limit == 0) limit = 1;

    std::string text = loopModule(limit);
    pcasm::AsmModule m{};
    if (!bench::startWithModule(text, &m, "xbbench")) return 1;

    const pcasm::AsmProc* proc = pcasm::findProc(m, "COUNT");
    uint32_t perTurn = opcodesPerTurn(m.code + proc->offset, proc->length);

    auto start = std::chrono::steady_clock::now();
    pushSymbol(findSymbol("COUNT"));
    pushNil();
    uint16_t status = callProc(0);
    auto stop = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(stop - start).count();

    const Item* r = returnItem();
    double expected = double(limit) * (double(limit) + 1) / 2;
    double got = r->type == T_DOUBLE ? r->v.d : r->type == T_INTEGER ? double(r->v.l) : -1;
    if (status != 0 || got != expected) {
        std::fprintf(stderr, "xbbench: wrong result %.0f (expected %.0f), status %u\n", got, expected, status);
        return 1;
    }
    // the turns of the loop only: the last test and the code around the loop
    // are a handful of opcodes in ten million
    double opcodes = double(limit) * perTurn;
    std::printf("%" PRIu32 " turns of %" PRIu32 " opcodes in %.3f s: %.2f ns per opcode\n", limit, perTurn, seconds,
                seconds * 1e9 / opcodes);
    std::printf("seconds %.6f\n", seconds);
    return 0;
}
