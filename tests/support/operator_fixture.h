// Operators run as pcode: one small procedure per operator, each taking its
// operands as parameters, applying the opcode, recording the stack depth
// through a probe, and returning the result. Values of every type are built
// into rooted temporaries, so strings and arrays survive until the call.
#pragma once
#include "tests/support/vm_fixture.h"

#include <string>

#include "runtime/settings_block.h"
#include "vm/operators.h"

namespace xb::test {

// Items above the caller's frame slot when the probe ran (self, parameters,
// and whatever the operator left).
inline int32_t probedDepth = -1;

class OperatorTest : public VmTest {
protected:
    static std::string moduleText() {
        static const char* const binary[][2] = {
            {"XPLUS", "PLUS"}, {"XMINUS", "MINUS"}, {"XMULT", "MULT"}, {"XDIVIDE", "DIVIDE"},
            {"XMOD", "MODULUS"}, {"XPOWER", "POWER"}, {"XINSTR", "INSTRING"}, {"XEXEQ", "EXACTEQUAL"},
            {"XEQ", "EQUAL"}, {"XNE", "NOTEQUAL"}, {"XLT", "LESS"}, {"XLE", "LESSEQUAL"},
            {"XGT", "GREATER"}, {"XGE", "GREATEREQUAL"}, {"XAND", "AND"}, {"XOR", "OR"}};
        static const char* const unary[][2] = {
            {"XNEG", "NEGATE"}, {"XABS", "ABS"}, {"XINC", "INC"}, {"XDEC", "DEC"}, {"XNOT", "NOT"}};
        std::string t = "symbol OPSTESTDEPTH\n";
        for (auto& b : binary) t += std::string("symbol ") + b[0] + " proc\n";
        for (auto& u : unary) t += std::string("symbol ") + u[0] + " proc\n";
        t += "symbol XJNE proc\n";
        for (auto& b : binary)
            t += std::string("proc ") + b[0] + "\nFRAME 2 0\nPUSHLOCAL 1\nPUSHLOCAL 2\n" + b[1] +
                 "\nPUSHSYMNIL OPSTESTDEPTH\nDO 0\nPOPRET\nENDPROC\nend\n";
        for (auto& u : unary)
            t += std::string("proc ") + u[0] + "\nFRAME 1 0\nPUSHLOCAL 1\n" + u[1] +
                 "\nPUSHSYMNIL OPSTESTDEPTH\nDO 0\nPOPRET\nENDPROC\nend\n";
        // "same" when JUMPNOTEQUAL falls through, "differ" when it jumps
        t += "proc XJNE\nFRAME 2 0\nPUSHLOCAL 1\nPUSHLOCAL 2\nJUMPNOTEQUAL differ\n"
             "PUSHSYMNIL OPSTESTDEPTH\nDO 0\nPUSHSTR \"same\"\nPOPRET\nENDPROC\n"
             "differ:\nPUSHSYMNIL OPSTESTDEPTH\nDO 0\nPUSHSTR \"differ\"\nPOPRET\nENDPROC\nend\n";
        return t;
    }

    void SetUp() override {
        VmTest::SetUp();
        static const std::string text = moduleText();
        load(text.c_str());
        settingSetLogical(SET_EXACTCOMPARE, false);
        settingSetNumber(SET_DECIMALS, 2);
    }
    void TearDown() override {
        settingSetLogical(SET_EXACTCOMPARE, false);
        settingSetNumber(SET_DECIMALS, 2);
        VmTest::TearDown();
    }

    // Runs a binary operator procedure; checks that exactly the result was
    // left above the operands.
    Item bin(const char* proc, const Item& a, const Item& b) {
        probedDepth = -1;
        Item r = call(proc, {a, b});
        EXPECT_EQ(probedDepth, 4) << proc << ": stack not balanced";
        EXPECT_EQ(vm.top, vm.stack);
        return r;
    }
    Item un(const char* proc, const Item& a) {
        probedDepth = -1;
        Item r = call(proc, {a});
        EXPECT_EQ(probedDepth, 3) << proc << ": stack not balanced";
        return r;
    }

    // Values.
    static Item intItem(int32_t v, uint16_t width = 10) {
        Item it = VmTest::intItem(v);
        it.width = width;
        return it;
    }
    static Item symbolItem(const char* name) {
        Item it{};
        it.type = T_SYMBOL;
        it.v.o.ptr = findSymbol(name);
        return it;
    }
    static Item aliasItem(uint16_t area) {
        Item it{};
        it.type = T_ALIAS;
        it.v.area = area;
        return it;
    }

    // The one error raised since the last clear: its subcode, gencode,
    // operation name, operand count and substitution flag.
    void expectRaised(uint16_t subCode, uint16_t genCode, const char* operation, size_t operands) {
        ASSERT_EQ(errors.size(), 1u) << "expected one error " << subCode;
        const RaisedError& e = errors[0];
        EXPECT_EQ(e.d.subCode, subCode);
        EXPECT_EQ(e.d.genCode, genCode);
        EXPECT_EQ(e.operation, operation);
        EXPECT_EQ(e.subsystem, "BASE");
        EXPECT_EQ(e.d.severity, 2);
        EXPECT_EQ(e.d.flags, EF_SUBSTITUTE);
        EXPECT_EQ(e.operands.size(), operands);
        errors.clear();
    }
};

}  // namespace xb::test
