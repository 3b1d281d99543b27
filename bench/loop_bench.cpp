// The interpreter benchmarks, one workload per run:
//
//   count  the counting loop
//              LOCAL x := 0, i := 1
//              DO WHILE i <= n ; x := x + i ; i++ ; ENDDO
//   mixed  a user function, string building, AADD, LEN, SUBSTR and == per turn
//              FUNCTION KEY(x) ; RETURN "k" + LTRIM(STR(x))
//              LOCAL a := {}, i := 1, hits := 0, s
//              DO WHILE i <= n
//                 s := KEY(i) ; AADD(a, s)
//                 IF SUBSTR(s, LEN(s), 1) == "7" ; hits++ ; ENDIF
//                 i++
//              ENDDO
//   flip   a loop of another shape, counting down with a branch per turn
//              LOCAL k := n, evens := 0, odds := 0, flip := .T.
//              DO WHILE k > 0
//                 IF flip ; evens := evens + k ; ELSE ; odds := odds + 1 ; ENDIF
//                 flip := !flip ; k := k - 1
//              ENDDO
//
// each compiled as the language compiles it and run on the interpreter. The
// Lua and Python equivalents are bench/<workload>.lua and .py. Prints
// "result ..." (the same line the equivalents print), "seconds S" (CPU time
// of the workload alone) and, for the counting loop, the opcodes per turn.
//   xbbench [workload [n]]     (workload count by default)
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/bench_vm.h"
#include "vm/symbols.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/opcodes.h"
#include "vm/stack.h"

using namespace xb;

namespace {

// Constants beyond 16 bits are PUSHDOUBLE with the width of their text.
std::string numberOperand(uint32_t n) {
    if (n <= 32767) return "PUSHINT " + std::to_string(n);
    std::string digits = std::to_string(n);
    return "PUSHDOUBLE " + std::to_string(digits.size()) + " 0 " + digits;
}

std::string countModule(uint32_t limit) {
    return "symbol MAIN proc\n"
           "proc MAIN\n"
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
           "    " + numberOperand(limit) + "\n"
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

std::string mixedModule(uint32_t limit) {
    return "symbol MAIN proc\n"
           "symbol KEY proc\n"
           "proc KEY\n"
           "    LINE 1\n"
           "    FRAME 1 0\n"
           "    LINE 2\n"
           "    PUSHSTR \"k\"\n"
           "    PUSHLOCAL 1\n"
           "    STR1\n"
           "    LTRIM\n"
           "    PLUS\n"
           "    POPRET\n"
           "    ENDPROC\n"
           "end\n"
           "proc MAIN\n"
           "    LINE 3\n"
           "    FRAME 0 4\n"
           "    LINE 4\n"
           "    ARRAYGEN 0\n"
           "    POPLOCAL 1\n"
           "    ONE\n"
           "    POPLOCAL 2\n"
           "    ZERO\n"
           "    POPLOCAL 3\n"
           "loop:\n"
           "    LINE 5\n"
           "    IDLE\n"
           "    PUSHLOCAL 2\n"
           "    " + numberOperand(limit) + "\n"
           "    LESSEQUAL\n"
           "    JUMPFALSE done\n"
           "    LINE 6\n"
           "    PUSHSYMNIL KEY\n"
           "    PUSHLOCAL 2\n"
           "    FUNC 1\n"
           "    POPLOCAL 4\n"
           "    LINE 7\n"
           "    PUSHLOCAL 1\n"
           "    PUSHLOCAL 4\n"
           "    AADD\n"
           "    POP\n"
           "    LINE 8\n"
           "    PUSHLOCAL 4\n"
           "    PUSHLOCAL 4\n"
           "    LEN\n"
           "    ONE\n"
           "    SUBSTR3\n"
           "    PUSHSTR \"7\"\n"
           "    EXACTEQUAL\n"
           "    JUMPFALSE next\n"
           "    LINE 9\n"
           "    PUSHLOCAL 3\n"
           "    INC\n"
           "    POPLOCAL 3\n"
           "next:\n"
           "    LINE 11\n"
           "    PUSHLOCAL 2\n"
           "    INC\n"
           "    POPLOCAL 2\n"
           "    JUMP loop\n"
           "done:\n"
           "    PUSHLOCAL 3\n"
           "    PUSHLOCAL 1\n"
           "    LEN\n"
           "    ARRAYGEN 2\n"
           "    POPRET\n"
           "    ENDPROC\n"
           "end\n";
}

std::string flipModule(uint32_t limit) {
    return "symbol MAIN proc\n"
           "proc MAIN\n"
           "    LINE 1\n"
           "    FRAME 0 4\n"
           "    LINE 2\n"
           "    " + numberOperand(limit) + "\n"
           "    POPLOCAL 1\n"
           "    ZERO\n"
           "    POPLOCAL 2\n"
           "    ZERO\n"
           "    POPLOCAL 3\n"
           "    TRUE\n"
           "    POPLOCAL 4\n"
           "loop:\n"
           "    LINE 3\n"
           "    IDLE\n"
           "    PUSHLOCAL 1\n"
           "    ZERO\n"
           "    GREATER\n"
           "    JUMPFALSE done\n"
           "    LINE 4\n"
           "    PUSHLOCAL 4\n"
           "    JUMPFALSE other\n"
           "    LINE 5\n"
           "    PUSHLOCAL 2\n"
           "    PUSHLOCAL 1\n"
           "    PLUS\n"
           "    POPLOCAL 2\n"
           "    JUMP joined\n"
           "other:\n"
           "    LINE 7\n"
           "    PUSHLOCAL 3\n"
           "    ONE\n"
           "    PLUS\n"
           "    POPLOCAL 3\n"
           "joined:\n"
           "    LINE 9\n"
           "    PUSHLOCAL 4\n"
           "    NOT\n"
           "    POPLOCAL 4\n"
           "    LINE 10\n"
           "    PUSHLOCAL 1\n"
           "    ONE\n"
           "    MINUS\n"
           "    POPLOCAL 1\n"
           "    JUMP loop\n"
           "done:\n"
           "    PUSHLOCAL 2\n"
           "    PUSHLOCAL 3\n"
           "    ARRAYGEN 2\n"
           "    POPRET\n"
           "    ENDPROC\n"
           "end\n";
}

double numberOf(const Item* it) {
    return it->type == T_DOUBLE ? it->v.d : it->type == T_INTEGER ? double(it->v.l) : -1;
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

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    const char* workload = argc > 1 ? argv[1] : "count";
    bool mixed = std::strcmp(workload, "mixed") == 0;
    bool flip = std::strcmp(workload, "flip") == 0;
    if (!mixed && !flip && std::strcmp(workload, "count") != 0) {
        std::fprintf(stderr, "xbbench: workload count, mixed or flip\n");
        return 2;
    }
    uint32_t limit = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : mixed ? 1000000 : 10000000;
    if (limit == 0) limit = 1;

    std::string text = mixed ? mixedModule(limit) : flip ? flipModule(limit) : countModule(limit);
    pcasm::AsmModule m{};
    if (!bench::startWithModule(text, &m, "xbbench")) return 1;

    double start = cpuSeconds();
    pushSymbol(findSymbol("MAIN"));
    pushNil();
    uint16_t status = callProc(0);
    double seconds = cpuSeconds() - start;

    const Item* r = returnItem();
    if (status != 0) {
        std::fprintf(stderr, "xbbench: status %u\n", status);
        return 1;
    }
    if (mixed || flip) {
        if (!isArray(r) || arrayLength(r) != 2) {
            std::fprintf(stderr, "xbbench: no result\n");
            return 1;
        }
        std::printf("result %.0f %.0f\n", numberOf(arrayItems(r)), numberOf(arrayItems(r) + 1));
    } else {
        std::printf("result %.0f\n", numberOf(r));
        const pcasm::AsmProc* proc = pcasm::findProc(m, "MAIN");
        uint32_t perTurn = opcodesPerTurn(m.code + proc->offset, proc->length);
        std::printf("opcodes per turn %" PRIu32 ", %.2f ns per opcode\n", perTurn,
                    seconds * 1e9 / (double(limit) * perTurn));
    }
    std::printf("seconds %.6f\n", seconds);
    return 0;
}
