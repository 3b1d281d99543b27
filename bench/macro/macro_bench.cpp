// The macro compiler benchmark: a million compiles and evaluations of
// `a * 2 + b` (a and b memory variables) through the macro evaluation
// opcode, in a pcode loop. Prints the time per compile+evaluation and a
// line "seconds S" for bench/macro/run.sh. An optional count replaces
// 1000000.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_vm.h"
#include "vm/symbols.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

std::string benchModule(uint32_t count) {
    std::string digits = std::to_string(count);
    return "symbol MACROS proc\n"
           "proc MACROS\n"
           "    FRAME 1 2\n"
           "    ZERO\n"
           "    POPLOCAL 2\n"
           "loop:\n"
           "    PUSHLOCAL 2\n"
           "    PUSHDOUBLE " + std::to_string(digits.size()) + " 0 " + digits + "\n"
           "    LESS\n"
           "    JUMPFALSE done\n"
           "    PUSHLOCAL 1\n"
           "    MACROEVAL\n"
           "    POPLOCAL 3\n"
           "    PUSHLOCAL 2\n"
           "    INC\n"
           "    POPLOCAL 2\n"
           "    JUMP loop\n"
           "done:\n"
           "    PUSHLOCAL 3\n"
           "    POPRET\n"
           "    ENDPROC\n"
           "end\n";
}

void setPublic(const char* name, int32_t value) {
    Item* v = newPublic(findOrCreateSymbol(name));
    itemClear(v);
    v->type = T_INTEGER;
    v->v.l = value;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    if (count == 0) count = 1;
    std::string text = benchModule(count);
    pcasm::AsmModule m{};
    if (!bench::startWithModule(text, &m, "xbmacrobench")) return 1;
    setPublic("A", 20);
    setPublic("B", 2);

    const char expression[] = "a * 2 + b";
    auto start = std::chrono::steady_clock::now();
    pushSymbol(findSymbol("MACROS"));
    pushNil();
    pushString(expression, sizeof expression - 1);
    uint16_t status = callProc(1);
    auto stop = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(stop - start).count();

    const Item* r = returnItem();
    double got = r->type == T_DOUBLE ? r->v.d : r->type == T_INTEGER ? double(r->v.l) : -1;
    if (status != 0 || got != 42) {
        std::fprintf(stderr, "xbmacrobench: wrong result %.0f (expected 42), status %u\n", got, status);
        return 1;
    }
    std::printf("%u compiles and evaluations of \"%s\" in %.3f s: %.0f ns each\n", count, expression, seconds,
                seconds * 1e9 / count);
    std::printf("seconds %.6f\n", seconds);
    return 0;
}
