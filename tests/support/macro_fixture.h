// A VM brought up for macro tests: procedures that hand their parameter to
// the macro opcodes, and helpers that compile a text and show its code as
// disassembled lines with symbol operands by name.
//
//   class MyTest : public xb::test::MacroTest {};
//   TEST_F(MyTest, Adds) {
//       EXPECT_EQ(code("1 + 2"), "ONE; PUSHWORD 2; PLUS; ENDPROC");
//       expectInt(eval("1 + 2"), 3, 10);
//   }
#pragma once
#include "tests/support/vm_fixture.h"

#include <cstdio>
#include <string>

#include "macro/compiler.h"
#include "tools/asm/disassembler.h"
#include "vm/symref.h"

namespace xb::test {

class MacroTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load(R"(symbol MAIN proc
                symbol EVALTEXT proc
                symbol TYPETEXT proc
                symbol ASSIGNTEXT proc
                symbol ALIASFIELD proc
                symbol FIELDTEXT proc
                symbol ALIASNUMBER proc
                proc MAIN
                    ENDPROC
                end
                proc EVALTEXT
                    FRAME 1 0
                    PUSHLOCAL 1
                    MACROEVAL
                    POPRET
                    ENDPROC
                end
                proc TYPETEXT
                    FRAME 1 0
                    PUSHLOCAL 1
                    TYPE
                    POPRET
                    ENDPROC
                end
                proc ASSIGNTEXT
                    FRAME 2 0
                    PUSHLOCAL 2
                    PUSHLOCAL 1
                    MACROASSIGN
                    ENDPROC
                end
                proc ALIASFIELD
                    FRAME 2 0
                    PUSHLOCAL 1
                    PUSHLOCAL 2
                    MACROPUSHALIASFIELD
                    POPRET
                    ENDPROC
                end
                proc FIELDTEXT
                    FRAME 2 0
                    PUSHLOCAL 2
                    PUSHLOCAL 1
                    MACROPOPFIELD
                    ENDPROC
                end
                proc ALIASNUMBER
                    FRAME 1 0
                    PUSHLOCAL 1
                    MACROALIAS
                    POPRET
                    ENDPROC
                end)");
    }

    // The code of text as "INSTR a; INSTR b; ...", or "FAIL" when it does not compile.
    static std::string code(const std::string& text, bool storeMode = false) {
        uint32_t n = 0;
        uint8_t* c = compileMacro(text.data(), uint32_t(text.size()), &n, storeMode);
        if (!c) return "FAIL";
        std::string listing = pcasm::disassemble(c, n);
        memFree(c);
        std::string out;
        size_t at = 0;
        while (at < listing.size()) {
            size_t nl = listing.find('\n', at);
            std::string line = listing.substr(at, nl - at);
            at = nl + 1;
            line.erase(0, line.find_first_not_of(' '));
            size_t hex = line.find(" 0x");
            if (hex != std::string::npos) {
                uint32_t ref = uint32_t(std::stoul(line.substr(hex + 3, 8), nullptr, 16));
                line = line.substr(0, hex + 1) + symbolName(symbolFromRef(ref));
            }
            if (!out.empty()) out += "; ";
            out += line;
        }
        return out;
    }
    static bool compiles(const std::string& text) { return code(text) != "FAIL"; }

    Item eval(const std::string& text) { return call("EVALTEXT", {str(text)}); }
    std::string type(const std::string& text) { return VmTest::text(call("TYPETEXT", {str(text)})); }

    // A public memory variable holding v.
    static void setVar(const char* name, const Item& v) {
        GlobalSymbol* s = findOrCreateSymbol(name);
        Item* slot = s->memvarSlot ? memvarItem(s->memvarSlot) : newPublic(s);
        *slot = v;
    }
    static Item var(const char* name) {
        GlobalSymbol* s = findSymbol(name);
        if (!s || !s->memvarSlot) return Item{};
        return *memvarItem(s->memvarSlot);
    }
};

}  // namespace xb::test
