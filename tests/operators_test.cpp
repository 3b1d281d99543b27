// Arithmetic operators run as pcode: type rules, result types, widths and
// decimals, the Integer overflow boundaries, date arithmetic, the string
// forms of + and -, and each operator's argument and zero-divide errors.
#include "tests/support/operator_fixture.h"

#include <cmath>
#include <type_traits>

using namespace xb;
using namespace xb::test;

XB_NATIVE(fnOpsTestDepth, "OPSTESTDEPTH") {
    Item* caller = vm.stack + frameSlot(vm.frame)->callerFrame;
    probedDepth = int32_t((vm.frame - 1) - caller);
    return 0;
}

namespace {

class Arith : public OperatorTest {};

// A word is its own type: it reaches a handler status only through opStatus.
static_assert(!std::is_convertible_v<xb::OpErrorWord, uint16_t> && !std::is_convertible_v<uint16_t, xb::OpErrorWord>,
              "error words do not mix with other status words");

TEST(ErrorWords, PackOperationGenCodeOperandsAndFlags) {
    EXPECT_EQ(opStatus(errorWord(1066, 1, false)), 0x0842);
    EXPECT_EQ(opStatus(E_DIVIDE_ZERO), 0x9154);
    struct Row {
        OpErrorWord packed;
        const char* operation;
        uint16_t genCode;
        uint16_t operands;
    } rows[] = {
        {E_EXACTEQUAL, "==", 1, 2}, {E_EQUAL, "=", 1, 2}, {E_NOTEQUAL, "<>", 1, 2}, {E_LESS, "<", 1, 2},
        {E_LESSEQUAL, "<=", 1, 2}, {E_GREATER, ">", 1, 2}, {E_GREATEREQUAL, ">=", 1, 2}, {E_NOT, ".NOT.", 1, 1},
        {E_AND, ".AND.", 1, 2}, {E_OR, ".OR.", 1, 2}, {E_NEGATE, "-", 1, 1}, {E_PLUS, "+", 1, 2},
        {E_MINUS, "-", 1, 2}, {E_MULT, "*", 1, 2}, {E_DIVIDE, "/", 1, 2}, {E_MODULUS, "%", 1, 2},
        {E_INC, "++", 1, 1}, {E_DEC, "--", 1, 1}, {E_POWER, "^", 1, 2}, {E_ABS, "ABS", 1, 1},
        {E_INSTRING, "$", 1, 2}, {E_DIVIDE_ZERO, "/", 5, 2}, {E_MODULUS_ZERO, "%", 5, 2},
    };
    for (const Row& r : rows) {
        const uint16_t word = opStatus(r.packed);
        EXPECT_STREQ(operatorName(word & 0x3F), r.operation) << std::hex << word;
        EXPECT_EQ((word >> 6) & 0x1F, r.genCode) << std::hex << word;
        EXPECT_EQ((word >> 11) & 7, r.operands) << std::hex << word;
        EXPECT_EQ(word & 0xC000, 0x8000) << std::hex << word;  // substitution, no retry
    }
    // the one-operand minus is name 16, the two-operand one 18
    EXPECT_EQ(opStatus(E_NEGATE) & 0x3F, 16);
    EXPECT_EQ(opStatus(E_MINUS) & 0x3F, 18);
}

TEST_F(Arith, PlusIntegerBoundaries) {
    expectInt(bin("XPLUS", intItem(2147483645), intItem(1)), 2147483646, 10);
    // one below the 32-bit maximum is the largest Integer sum
    expectDouble(bin("XPLUS", intItem(2147483646), intItem(1)), 2147483647.0, 0, 2);
    expectDouble(bin("XPLUS", intItem(2147483647), intItem(1)), 2147483648.0, 0, 2);
    expectInt(bin("XPLUS", intItem(-2147483647), intItem(-1)), INT32_MIN, 10);
    expectDouble(bin("XPLUS", intItem(INT32_MIN), intItem(-1)), -2147483649.0, 0, 2);
    // the Integer result keeps the left operand's width
    expectInt(bin("XPLUS", intItem(3, 4), intItem(4, 7)), 7, 4);
    settingSetNumber(SET_DECIMALS, 5);
    expectDouble(bin("XPLUS", intItem(2147483647), intItem(2147483647)), 4294967294.0, 0, 5);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Arith, MinusIntegerBoundaries) {
    expectInt(bin("XMINUS", intItem(-2147483646), intItem(1)), -2147483647, 10);
    expectDouble(bin("XMINUS", intItem(-2147483647), intItem(1)), -2147483648.0, 10, 0);
    expectInt(bin("XMINUS", intItem(2147483646), intItem(-1)), 2147483647, 10);
    expectDouble(bin("XMINUS", intItem(2147483647, 6), intItem(-1)), 2147483648.0, 6, 0);
    expectInt(bin("XMINUS", intItem(5, 3), intItem(7)), -2, 3);
}

TEST_F(Arith, MixedAndDoubleWidthsAndDecimals) {
    expectDouble(bin("XPLUS", intItem(1), doubleItem(1.5, 3, 1)), 2.5, 0, 1);
    expectDouble(bin("XPLUS", doubleItem(1.25, 8, 2), doubleItem(1.5, 3, 1)), 2.75, 0, 2);
    expectDouble(bin("XPLUS", doubleItem(1, 8, 12), doubleItem(1, 3, 1)), 2.0, 0, 9);
    expectDouble(bin("XMINUS", doubleItem(1.5, 8, 1), intItem(2)), -0.5, 0, 1);
    expectDouble(bin("XMINUS", doubleItem(0, 8, 3), doubleItem(0, 8, 11)), 0.0, 0, 9);
    expectDouble(bin("XMULT", intItem(6), intItem(7)), 42.0, 0, 0);
    expectDouble(bin("XMULT", doubleItem(1.5, 5, 1), doubleItem(2.25, 5, 2)), 3.375, 0, 3);
    expectDouble(bin("XMULT", doubleItem(1, 5, 6), doubleItem(1, 5, 6)), 1.0, 0, 9);
    expectDouble(bin("XDIVIDE", intItem(7), intItem(2)), 3.5, 0, 2);
    settingSetNumber(SET_DECIMALS, 4);
    expectDouble(bin("XDIVIDE", doubleItem(1, 5, 1), intItem(4)), 0.25, 0, 4);
    // a whole quotient stays a Double
    expectDouble(bin("XDIVIDE", intItem(8), intItem(2)), 4.0, 0, 4);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Arith, DateArithmetic) {
    const int32_t day = 2451545;
    Item r = bin("XPLUS", dateItem(day), intItem(10));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day + 10);
    r = bin("XPLUS", dateItem(day), doubleItem(1.9, 3, 1));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day + 1);
    // the sum is truncated, not the addend: day - 1.5 lands two days back
    r = bin("XPLUS", dateItem(day), doubleItem(-1.5, 4, 1));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day - 2);
    r = bin("XPLUS", dateItem(day), dateItem(3));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day + 3);
    // a number plus a date is a number: the date gives its day number
    expectDouble(bin("XPLUS", intItem(1), dateItem(day)), double(day) + 1, 0, 0);
    r = bin("XMINUS", dateItem(day), intItem(31));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day - 31);
    r = bin("XMINUS", dateItem(day), doubleItem(2.7, 3, 1));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, day - 2);
    r = bin("XMINUS", dateItem(day), dateItem(day + 40));
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, -40);
    EXPECT_EQ(r.width, 0);  // the left date's width, which dates leave unset
    expectDouble(bin("XMINUS", intItem(day + 5), dateItem(day)), 5.0, 0, 0);
    EXPECT_TRUE(errors.empty());
    // dates take no part in * / % ^
    bin("XMULT", dateItem(day), intItem(2));
    expectRaised(1083, 1, "*", 2);
    bin("XMOD", dateItem(day), dateItem(day));
    expectRaised(1085, 1, "%", 2);
    bin("XPLUS", dateItem(day), str("x"));
    expectRaised(1081, 1, "+", 2);
}

TEST_F(Arith, StringPlusAndMinus) {
    Item r = bin("XPLUS", str("ab  "), str("cd"));
    EXPECT_EQ(text(r), "ab  cd");
    r = bin("XMINUS", str("ab  "), str("cd"));
    EXPECT_EQ(text(r), "abcd  ");
    r = bin("XMINUS", str("   "), str("x"));
    EXPECT_EQ(text(r), "x   ");
    r = bin("XMINUS", str("a b"), str(""));
    EXPECT_EQ(text(r), "a b");
    r = bin("XPLUS", str(""), str(""));
    EXPECT_EQ(r.type, T_STRING);
    EXPECT_EQ(strLength(&r), 0u);
    // the bytes are copied: embedded zeros and high bytes survive
    r = bin("XPLUS", str(std::string("a\0b", 3)), str("\xF1"));
    EXPECT_EQ(text(r), std::string("a\0b\xF1", 4));
    // a Memo counts as a String
    r = bin("XPLUS", memo("me"), str("mo"));
    EXPECT_EQ(r.type, T_STRING);
    EXPECT_EQ(text(r), "memo");
    r = bin("XMINUS", str("x "), memo("y"));
    EXPECT_EQ(text(r), "xy ");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Arith, PlusAndMinusOfSameTypeWithoutSumRaise) {
    const struct {
        Item a, b;
    } pairs[] = {
        {logicalItem(true), logicalItem(false)}, {array(1), array(1)},  {block(), block()},
        {nilItem(), nilItem()},                  {aliasItem(1), aliasItem(2)}, {wordItem(1), wordItem(2)},
    };
    for (const auto& p : pairs) {
        answerInt(77);
        expectInt(bin("XPLUS", p.a, p.b), 77, 0);
        expectRaised(1081, 1, "+", 2);
        expectInt(bin("XMINUS", p.a, p.b), 77, 0);
        expectRaised(1082, 1, "-", 2);
    }
    Item sym = symbolItem("XPLUS");
    bin("XPLUS", sym, sym);
    expectRaised(1081, 1, "+", 2);
    bin("XMINUS", str("a"), intItem(1));
    expectRaised(1082, 1, "-", 2);
}

TEST_F(Arith, ErrorsCarryTheOperandsInStackOrder) {
    bin("XPLUS", intItem(5), str("x"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operands[0].type, T_INTEGER);
    EXPECT_EQ(errors[0].operands[0].v.l, 5);
    EXPECT_EQ(errors[0].operands[1].type, T_STRING);
    EXPECT_EQ(text(errors[0].operands[1]), "x");
    errors.clear();
    // the operands of * are reported as they came, not converted
    bin("XMULT", intItem(3), logicalItem(true));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operands[0].type, T_INTEGER);
    EXPECT_EQ(errors[0].operands[1].type, T_LOGICAL);
    errors.clear();
    // the substituted value is the operator's result
    answerWith(doubleItem(9.5, 4, 1));
    expectDouble(bin("XDIVIDE", str("a"), intItem(1)), 9.5, 4, 1);
    expectRaised(1084, 1, "/", 2);
}

TEST_F(Arith, ZeroDivisors) {
    answerInt(0);
    expectInt(bin("XDIVIDE", intItem(1), intItem(0)), 0, 0);
    expectRaised(1340, 5, "/", 2);
    bin("XDIVIDE", doubleItem(1, 3, 0), doubleItem(-0.0, 3, 0));
    expectRaised(1340, 5, "/", 2);
    bin("XMOD", intItem(7), intItem(0));
    expectRaised(1341, 5, "%", 2);
    bin("XMOD", doubleItem(7, 3, 0), doubleItem(0, 3, 0));
    expectRaised(1341, 5, "%", 2);
    // a zero dividend is fine
    expectDouble(bin("XDIVIDE", intItem(0), intItem(5)), 0.0, 0, 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Arith, ModulusSignsAndTypes) {
    expectDouble(bin("XMOD", intItem(-7), intItem(3)), -1.0, 0, 2);
    expectDouble(bin("XMOD", intItem(7), intItem(-3)), 1.0, 0, 2);
    expectDouble(bin("XMOD", doubleItem(5.5, 4, 1), intItem(2)), 1.5, 0, 2);
    settingSetNumber(SET_DECIMALS, 0);
    expectDouble(bin("XMOD", intItem(10), doubleItem(4, 3, 0)), 2.0, 0, 0);
    EXPECT_TRUE(errors.empty());
    // same non-numeric type: refused instead of computed on raw bytes
    bin("XMOD", str("ab"), str("cd"));
    expectRaised(1085, 1, "%", 2);
    bin("XMOD", logicalItem(true), logicalItem(true));
    expectRaised(1085, 1, "%", 2);
    bin("XMOD", nilItem(), nilItem());
    expectRaised(1085, 1, "%", 2);
    bin("XMOD", intItem(1), nilItem());
    expectRaised(1085, 1, "%", 2);
}

TEST_F(Arith, Power) {
    expectDouble(bin("XPOWER", intItem(0), intItem(0)), 0.0, 0, 2);
    expectDouble(bin("XPOWER", intItem(0), intItem(-1)), 0.0, 0, 2);
    expectDouble(bin("XPOWER", intItem(2), intItem(0)), 1.0, 0, 2);
    expectDouble(bin("XPOWER", intItem(2), intItem(10)), 1024.0, 0, 2);
    expectDouble(bin("XPOWER", doubleItem(9, 2, 0), doubleItem(0.5, 3, 1)), 3.0, 0, 2);
    expectDouble(bin("XPOWER", intItem(2), intItem(-2)), 0.25, 0, 2);
    EXPECT_TRUE(errors.empty());
    bin("XPOWER", str("2"), intItem(2));
    expectRaised(1088, 1, "^", 2);
}

TEST_F(Arith, NegateAndAbs) {
    expectInt(un("XNEG", intItem(5)), -5, 0);
    expectDouble(un("XNEG", doubleItem(1.5, 6, 1)), -1.5, 0, 1);
    // no Integer holds the negation of the smallest one
    expectDouble(un("XNEG", intItem(INT32_MIN)), 2147483648.0, 0, 0);
    expectInt(un("XNEG", intItem(INT32_MAX)), -INT32_MAX, 0);
    expectInt(un("XABS", intItem(-5, 7)), 5, 7);
    expectInt(un("XABS", intItem(5, 7)), 5, 7);
    expectDouble(un("XABS", doubleItem(-2.25, 6, 2)), 2.25, 6, 2);
    expectDouble(un("XABS", intItem(INT32_MIN)), 2147483648.0, 10, 0);
    Item r = un("XABS", doubleItem(-0.0, 3, 0));
    EXPECT_FALSE(std::signbit(r.v.d));
    EXPECT_TRUE(errors.empty());
    un("XNEG", dateItem(10));
    expectRaised(1080, 1, "-", 1);
    un("XNEG", str("1"));
    expectRaised(1080, 1, "-", 1);
    un("XABS", nilItem());
    expectRaised(1089, 1, "ABS", 1);
}

TEST_F(Arith, IncrementAndDecrement) {
    expectInt(un("XINC", intItem(41, 5)), 42, 5);
    expectInt(un("XDEC", intItem(-41)), -42, 10);
    // at the limits the Double of the exact result keeps the Item's width
    expectDouble(un("XINC", intItem(INT32_MAX)), 2147483648.0, 10, 0);
    expectDouble(un("XDEC", intItem(INT32_MIN, 3)), -2147483649.0, 3, 0);
    expectDouble(un("XINC", doubleItem(1.5, 5, 1)), 2.5, 5, 1);
    expectDouble(un("XDEC", doubleItem(1.5, 5, 1)), 0.5, 5, 1);
    Item r = un("XINC", dateItem(2451545));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, 2451546);
    r = un("XDEC", dateItem(2451545));
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, 2451544);
    EXPECT_TRUE(errors.empty());
    un("XINC", str("a"));
    expectRaised(1086, 1, "++", 1);
    un("XDEC", logicalItem(false));
    expectRaised(1087, 1, "--", 1);
}

TEST_F(Arith, AnErrorThatUnwindsLeavesNoResult) {
    answerUnwind();
    probedDepth = -1;
    call("XPLUS", {intItem(1), str("x")});
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(probedDepth, -1);  // the procedure did not go on
    EXPECT_EQ(vm.top, vm.stack);
    expectRaised(1081, 1, "+", 2);
}

}  // namespace
