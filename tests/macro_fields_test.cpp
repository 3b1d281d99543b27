// Get/set blocks and the field paths of the macro opcodes, over a stand-in
// database of two areas that both have a numeric field AMOUNT (aliases
// FIRST and SECOND): the two block templates byte for byte, a field block
// that keeps its area, the text form, the missing variable at build time,
// plain field names, stores by name, aliased reads and store mode.
#include "tests/support/macro_fixture.h"

#include <string>

#include "macro/varblock.h"

using namespace xb;
using xb::test::MacroTest;

namespace {

double amounts[3];
uint16_t currentArea = 1;
FieldDescriptor descriptors[3];

uint16_t standInCurrent() { return currentArea; }
bool standInExists(uint16_t a) { return a == 1 || a == 2; }
uint32_t standInPosition(uint16_t, const FieldDescriptor*) { return 0; }
uint16_t standInGet(uint16_t a, uint32_t, Item* out) {
    out->v.d = amounts[a];
    return 0;
}
uint16_t standInVarLen(uint16_t, uint32_t, uint32_t* n) {
    *n = 0;
    return 0;
}
uint16_t standInPut(uint16_t a, uint32_t, Item* value) {
    amounts[a] = value->type == T_DOUBLE ? value->v.d : value->v.l;
    return 0;
}
uint16_t standInSelect(uint16_t a) {
    uint16_t previous = currentArea;
    currentArea = a ? a : 3;
    return previous;
}
const FieldAccess standIn = {standInCurrent, standInExists, standInPosition, standInGet,
                             standInVarLen,  standInPut,    standInSelect};

class MacroFields : public MacroTest {
protected:
    void SetUp() override {
        MacroTest::SetUp();
        setFieldAccess(&standIn);
        currentArea = 1;
        GlobalSymbol* amount = findOrCreateSymbol("AMOUNT");
        for (uint16_t a = 1; a <= 2; ++a) {
            amounts[a] = 10.0 * a;
            descriptors[a] = FieldDescriptor{};
            descriptors[a].type = T_DOUBLE;
            descriptors[a].length = 10;
            descriptors[a].decimals = 2;
            descriptors[a].area = a;
            descriptors[a].symbol = amount;
            descriptors[a].next = amount->fieldChain;
            amount->fieldChain = &descriptors[a];
        }
        findOrCreateSymbol("FIRST")->aliasArea = 1;
        findOrCreateSymbol("SECOND")->aliasArea = 2;
    }

    Item blockFor(const std::string& name) { return eval("GETSETBLOCK('" + name + "')"); }
    static std::string blockCode(const Item& b, uint32_t n) {
        auto* cb = static_cast<Codeblock*>(bodyOf(&b)->data);
        EXPECT_EQ(cb->flags, CB_OWNED);
        std::string listing = pcasm::disassemble(cb->code, n);
        std::string out;
        for (char c : listing) out += c == '\n' ? ';' : c;
        return out;
    }
    static double number(const Item& r) { return r.type == T_DOUBLE ? r.v.d : r.v.l; }
};

std::string hexRef(const char* name) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(symbolRef(findSymbol(name))));
    return buf;
}

TEST_F(MacroFields, MemoryVariableBlockFromItsTemplate) {
    setVar("X", intItem(5));
    Item b = blockFor("x");
    ASSERT_EQ(b.type, T_BLOCK);
    std::string sym = hexRef("X") + "  ; symbol address";
    EXPECT_EQ(blockCode(b, MEMVAR_BLOCK_SIZE),
              "FRAME 1 0;PUSHLOCAL 1;PUSHNIL;EXACTEQUAL;JUMPFALSE 8;PUSHMEMVARX " + sym +
                  ";JUMP 9;PUSHLOCAL 1;DUP;POPMEMVARX " + sym + ";ENDBLOCK;");
    setVar("B", b);
    setVar("Y", intItem(1));
    Item other = blockFor("y");  // patches the shared template again
    setVar("BY", other);
    expectInt(eval("EVAL(b)"), 5, 0);
    expectInt(eval("EVAL(b, NIL)"), 5, 0);
    EXPECT_EQ(number(eval("EVAL(b, 7)")), 7);
    EXPECT_EQ(number(var("X")), 7);
    EXPECT_EQ(number(eval("EVAL(by, 3)")), 3);
    EXPECT_EQ(number(var("Y")), 3);
    EXPECT_EQ(number(var("X")), 7);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroFields, FieldBlockKeepsTheAreaItWasBuiltIn) {
    currentArea = 2;
    Item b = blockFor("amount");
    ASSERT_EQ(b.type, T_BLOCK);
    std::string sym = hexRef("AMOUNT") + "  ; symbol address";
    EXPECT_EQ(blockCode(b, FIELD_BLOCK_SIZE),
              "FRAME 1 0;PUSHLOCAL 1;PUSHNIL;EXACTEQUAL;JUMPFALSE 11;PUSHINT 2;PUSHALIASFIELDX " + sym +
                  ";JUMP 12;PUSHLOCAL 1;DUP;PUSHINT 2;POPALIASFIELDX " + sym + ";ENDBLOCK;");
    setVar("B", b);
    currentArea = 1;
    EXPECT_EQ(number(eval("EVAL(b)")), 20);
    EXPECT_EQ(number(eval("EVAL(b, 25)")), 25);
    EXPECT_EQ(amounts[2], 25);
    EXPECT_EQ(amounts[1], 10);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroFields, OtherTextsBecomeCompiledBlocks) {
    setVar("ARR", array(2));
    Item b = blockFor("arr[2]");
    ASSERT_EQ(b.type, T_BLOCK);
    setVar("B", b);
    EXPECT_EQ(number(eval("EVAL(b, 4)")), 4);
    EXPECT_EQ(number(eval("arr[2]")), 4);
    Item s = blockFor("second->amount");
    setVar("S", s);
    EXPECT_EQ(number(eval("EVAL(s)")), 20);
    EXPECT_EQ(number(eval("EVAL(s, 2.5)")), 2.5);
    EXPECT_EQ(amounts[2], 2.5);
    EXPECT_TRUE(errors.empty());
    answerUnwind();
    EXPECT_EQ(blockFor("1 +").type, T_NIL);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1449);
}

TEST_F(MacroFields, MissingVariableIsReportedWhenTheBlockIsBuilt) {
    answerUnwind();
    EXPECT_EQ(blockFor("nowhere").type, T_NIL);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1003);
    EXPECT_EQ(errors[0].operation, "NOWHERE");
}

TEST_F(MacroFields, FieldPathsOfTheMacroOpcodes) {
    setVar("AMOUNT", intItem(99));  // a field of the current area comes first
    EXPECT_EQ(number(eval("amount")), 10);
    currentArea = 3;  // no such field here: the memory variable
    expectInt(eval("amount"), 99, 0);
    currentArea = 1;
    EXPECT_EQ(number(eval("second->amount + first->amount")), 30);
    EXPECT_EQ(number(eval("2->amount")), 20);
    setVar("WHICH", str("second"));
    EXPECT_EQ(number(eval("1 + &which->amount")), 21);
    EXPECT_EQ(number(eval("(which)->amount")), 20);
    setVar("WHICH", str("2"));
    EXPECT_EQ(number(eval("1 + &which->amount")), 21);
    setVar("WHICH", str("second"));
    EXPECT_EQ(number(eval("FIELD->amount")), 10);
    EXPECT_EQ(number(eval("M->amount")), 99);
    EXPECT_EQ(number(eval("second->(amount * 2)")), 40);
    EXPECT_EQ(currentArea, 1);
    EXPECT_EQ(number(eval("(second->amount := 7)")), 7);
    EXPECT_EQ(amounts[2], 7);
    EXPECT_EQ(number(eval("((which)->amount := 8)")), 8);
    EXPECT_EQ(amounts[2], 8);
    call("FIELDTEXT", {str("amount"), intItem(3)});
    EXPECT_EQ(amounts[1], 3);
    // store mode: the value under the text goes into the field, nothing stays
    call("FIELDTEXT", {str("second->amount"), intItem(4)});
    EXPECT_EQ(amounts[2], 4);
    call("ASSIGNTEXT", {str("first->amount"), intItem(6)});
    EXPECT_EQ(amounts[1], 6);
    expectInt(call("ALIASNUMBER", {str(" second ")}), 2, 10);
    expectInt(call("ALIASNUMBER", {str("7")}), 7, 10);
    expectInt(call("ALIASNUMBER", {str("300")}), 0, 10);
    EXPECT_EQ(type("amount"), "N");
    EXPECT_EQ(type("nosuch->amount"), "UE");
    EXPECT_TRUE(errors.empty());
}

}  // namespace
