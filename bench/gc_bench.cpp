// Building a large structure: ARRAYDIM of rows x columns (250 x 100,000 by
// default), timed beside the same build at a quarter of the columns in the
// same run. With a collection threshold that grows with the live heap the
// total marking is linear in the size, so the ratio of the two times stays
// near 4; with a fixed threshold every collection marks all that was built
// so far and the ratio grows with the size.
//   xbgcbench [rows [columns]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_vm.h"
#include "vm/symbols.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

std::string buildModule() {
    // BUILD(rows, columns): the array is made and dropped
    return "symbol BUILD proc\n"
           "proc BUILD\n"
           "    FRAME 2 0\n"
           "    PUSHLOCAL 1\n"
           "    PUSHLOCAL 2\n"
           "    ARRAYDIM 2\n"
           "    POP\n"
           "    ENDPROC\n"
           "end\n";
}

Item number(uint32_t n) {
    Item it{};
    it.type = T_DOUBLE;
    it.width = 10;
    it.v.d = double(n);
    return it;
}

// Seconds for one BUILD(rows, columns), starting from a collected heap.
double timeBuild(uint32_t rows, uint32_t columns) {
    collectGarbage(true);
    auto start = std::chrono::steady_clock::now();
    pushSymbol(findSymbol("BUILD"));
    pushNil();
    Item r = number(rows), c = number(columns);
    push(&r);
    push(&c);
    uint16_t status = callProc(2);
    auto stop = std::chrono::steady_clock::now();
    if (status != 0) {
        std::fprintf(stderr, "xbgcbench: BUILD failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(stop - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t rows = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 250;
    uint32_t columns = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 100000;
    if (rows == 0) rows = 1;
    if (columns < 4) columns = 4;

    std::string text = buildModule();
    pcasm::AsmModule m{};
    if (!bench::startWithModule(text, &m, "xbgcbench")) return 1;

    double quarter = timeBuild(rows, columns / 4);
    double full = timeBuild(rows, columns);
    std::printf("%u x %u elements: %.3f s\n", rows, columns / 4, quarter);
    std::printf("%u x %u elements: %.3f s\n", rows, columns, full);
    std::printf("time ratio for 4 times the elements: %.2f (linear: about 4)\n", quarter > 0 ? full / quarter : 0.0);
    return 0;
}
