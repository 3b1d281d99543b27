// Assembled modules run on the interpreter: the Functions, the module table
// and the bound X operands are what the call sequence expects.
#include "vm/function.h"
#include "vm/symbols.h"
#include "tests/support/asm_fixture.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace xb;
using namespace xb::pcasm;

namespace {

struct ProbeCall {
    uint16_t argc;
    std::string text;  // first argument when a string
    double number;     // second argument when numeric
    int32_t integer;   // first argument when an integer
};
std::vector<ProbeCall> probeCalls;

}  // namespace

XB_NATIVE(fnAsmTestProbe, "ASMTESTPROBE") {
    ProbeCall c{paramCount(), {}, 0, 0};
    if (Item* s = paramItem(1, T_STRING)) c.text.assign(strData(s), strLength(s));
    if (Item* i = paramItem(1, T_INTEGER)) c.integer = i->v.l;
    if (c.argc >= 2) c.number = itemDouble(paramItem(2, M_ANY));
    probeCalls.push_back(c);
    retInt(42);
    return 0;
}

TEST(AsmRun, AssembledModuleRunsThroughTheCallSequence) {
    ScopedModule s(R"(
symbol MAIN proc
symbol ASMTESTPROBE
symbol HELPER static proc
proc MAIN
    LINE 0
    FRAME 0 1
    PUSHSYMNIL ASMTESTPROBE
    PUSHSTR "Texto\r\n"
    PUSHDOUBLE 10 0 115200
    FUNC 2
    POPLOCAL 1
    PUSHSYMNILX asmtestprobe      ; by address, bound after registration
    PUSHLOCAL 1
    DO 1
    PUSHSYMNIL HELPER             ; static: reached only through this table
    DO 0
    ENDPROC
end
proc HELPER
    PUSHSYMNIL ASMTESTPROBE
    DO 0
    ENDPROC
end
)");
    if (!vm.stack) vmStart();
    ImageModule image = s.image();
    setImage(&image, 1);
    registerModuleSymbols();
    bindModule(&s.m);
    vmBindSymbols();
    EXPECT_EQ(moduleGlobal(s.m.table, 1)->function, s.proc("MAIN"));
    EXPECT_EQ(findSymbol("HELPER"), nullptr);

    probeCalls.clear();
    pushSymbol(findSymbol("MAIN"));
    pushNil();
    EXPECT_EQ(callProc(0), 0);
    ASSERT_EQ(probeCalls.size(), 3u);
    EXPECT_EQ(probeCalls[0].argc, 2);
    EXPECT_EQ(probeCalls[0].text, "Texto\r\n");
    EXPECT_EQ(probeCalls[0].number, 115200.0);
    EXPECT_EQ(probeCalls[1].argc, 1);
    EXPECT_EQ(probeCalls[1].integer, 42);
    EXPECT_EQ(probeCalls[2].argc, 0);
    EXPECT_EQ(vm.top, vm.stack);

    setImage(nullptr, 0);
    freeSymbols();
}
