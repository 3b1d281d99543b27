// The string, numeric, type, time and cursor built-ins run through the
// interpreter: results, widths, edge cases and each function's argument
// error (subcode, operation name, operands, substitution).
#include "tests/support/builtin_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vm/function.h"
#include "base/dates.h"
#include "base/memory.h"
#include "vm/normalize.h"

using namespace xb;
using namespace xb::test;

XB_NATIVE(fnBuiltinTestDepth, "BITESTDEPTH") {
    Item* caller = vm.stack + frameSlot(vm.frame)->callerFrame;
    builtinDepth = int32_t((vm.frame - 1) - caller);
    return 0;
}

// BIGCNEXT(): the next allocation collects, however little has grown.
XB_NATIVE(fnBuiltinTestCollectNext, "BIGCNEXT") {
    requestCollection();
    return 0;
}

namespace {

class BuiltinStrings : public BuiltinTest {
protected:
    // SUBSTR with two or three arguments.
    std::string substr(const std::string& s, int32_t start) { return text(run("SUBSTR2", {str(s), intItem(start)})); }
    std::string substr(const std::string& s, int32_t start, int32_t n) {
        return text(run("SUBSTR3", {str(s), intItem(start), intItem(n)}));
    }
};

TEST_F(BuiltinStrings, SubstrCountsStartFromEitherEnd) {
    EXPECT_EQ(substr("abcdef", 2, 3), "bcd");
    EXPECT_EQ(substr("abcdef", -2), "ef");
    EXPECT_EQ(substr("abcdef", 0, 2), "ab");
    EXPECT_EQ(substr("abcdef", 10), "");
    EXPECT_EQ(substr("abcdef", 7), "");
    EXPECT_EQ(substr("abcdef", 6), "f");
    EXPECT_EQ(substr("abcdef", 5, 10), "ef");
    EXPECT_EQ(substr("abcdef", -6), "abcdef");
    // a negative start reaching before the front means the front
    EXPECT_EQ(substr("abcdef", -7, 2), "ab");
    EXPECT_EQ(substr("abcdef", INT32_MIN, 3), "abc");
    EXPECT_EQ(substr("abcdef", INT32_MAX), "");
    EXPECT_EQ(substr("abcdef", 3, -1), "");
    EXPECT_EQ(substr("abcdef", 3, INT32_MAX), "cdef");
    EXPECT_EQ(substr("", -1, 1), "");
    // Double arguments are cut toward zero
    expectText(run("SUBSTR3", {str("abcdef"), doubleItem(2.9), doubleItem(-0.5)}), "");
    expectText(run("SUBSTR3", {str("abcdef"), doubleItem(-2.9), doubleItem(1.9)}), "e");
    // a Memo gives a String
    expectText(run("SUBSTR2", {memo("memo text"), intItem(6)}), "text");
    EXPECT_TRUE(errors.empty());
}

TEST_F(BuiltinStrings, SubstrRejectsWrongArguments) {
    expectRejected("SUBSTR2", {intItem(5), intItem(1)}, 1110, "SUBSTR");
    expectRejected("SUBSTR2", {str("abc"), str("1")}, 1110, "SUBSTR");
    expectRejected("SUBSTR3", {str("abc"), intItem(1), nilItem()}, 1110, "SUBSTR");
    expectRejected("SUBSTR3", {str("abc"), dateItem(1), intItem(1)}, 1110, "SUBSTR");
}

TEST_F(BuiltinStrings, LeftTakesAtMostTheStringItself) {
    expectText(run("LEFT", {str("abc"), intItem(5)}), "abc");
    expectText(run("LEFT", {str("abc"), intItem(-1)}), "");
    expectText(run("LEFT", {str("abcdef"), intItem(2)}), "ab");
    expectText(run("LEFT", {str("abcdef"), doubleItem(3.99)}), "abc");
    expectText(run("LEFT", {memo("memo"), intItem(10)}), "memo");
    expectRejected("LEFT", {intItem(1), intItem(2)}, 1124, "LEFT");
    expectRejected("LEFT", {str("abc"), str("2")}, 1124, "LEFT");
}

TEST_F(BuiltinStrings, TrimCutsBlanksOnlyAndLtrimTabsToo) {
    expectText(run("TRIM", {str("ab  ")}), "ab");
    expectText(run("TRIM", {str("x\t")}), "x\t");
    expectText(run("TRIM", {str("  a b")}), "  a b");
    expectText(run("TRIM", {str("    ")}), "");
    expectText(run("TRIM", {memo("m ")}), "m");
    expectText(run("LTRIM", {str("\tx")}), "x");
    expectText(run("LTRIM", {str(" \t \tx y ")}), "x y ");
    expectText(run("LTRIM", {str("\t\t")}), "");
    expectText(run("LTRIM", {str("x ")}), "x ");
    expectRejected("TRIM", {intItem(1)}, 1100, "TRIM");
    expectRejected("LTRIM", {nilItem()}, 1101, "LTRIM");
}

TEST_F(BuiltinStrings, UpperAndLowerMapEveryByteByTheNationalTables) {
    expectText(run("UPPER", {str("abc\xE9\xF1z1")}), "ABC\xC9\xD1Z1");
    expectText(run("LOWER", {str("ABC\xC9\xD1Z1")}), "abc\xe9\xf1z1");
    // the length is the byte count, embedded zero bytes included
    Item r = run("UPPER", {str(std::string("a\0b", 3))});
    EXPECT_EQ(text(r), std::string("A\0B", 3));
    expectText(run("LOWER", {str("")}), "");
    expectRejected("UPPER", {logicalItem(true)}, 1102, "UPPER");
    expectRejected("LOWER", {array(0)}, 1103, "LOWER");
}

TEST_F(BuiltinStrings, SpaceAndReplicate) {
    expectText(run("SPACE", {intItem(3)}), "   ");
    expectText(run("SPACE", {intItem(0)}), "");
    expectText(run("SPACE", {intItem(-5)}), "");
    expectText(run("SPACE", {doubleItem(2.7)}), "  ");
    expectRejected("SPACE", {str("3")}, 1105, "SPACE");

    expectText(run("REPLICATE", {str("ab"), intItem(3)}), "ababab");
    expectText(run("REPLICATE", {str("ab"), intItem(1)}), "ab");
    expectText(run("REPLICATE", {str("ab"), intItem(0)}), "");
    expectText(run("REPLICATE", {str("ab"), intItem(-1)}), "");
    expectText(run("REPLICATE", {str("ab"), intItem(INT32_MIN)}), "");
    expectText(run("REPLICATE", {str(""), intItem(INT32_MAX)}), "");
    expectText(run("REPLICATE", {str("xyz"), doubleItem(2.5)}), "xyzxyz");
    Item r = run("REPLICATE", {str("abc"), intItem(7001)});
    ASSERT_EQ(strLength(&r), 21003u);
    std::string t = text(r);
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] != "abc"[i % 3]) FAIL() << "byte " << i;
    expectRejected("REPLICATE", {intItem(1), intItem(3)}, 1106, "REPLICATE");
    expectRejected("REPLICATE", {str("a"), nilItem()}, 1106, "REPLICATE");
}

// 65536 bytes 65536 times is 2^32: in 32 bits that would wrap to an empty
// string; it must be the memory manager's exhaustion instead.
TEST_F(BuiltinStrings, ReplicateBeyondWhatAStringHoldsIsExhaustion) {
    auto exhausted = [] {
        std::fputs("memory exhausted", stderr);
        std::_Exit(7);
    };
    EXPECT_EXIT(
        {
            memExhausted = exhausted;
            run("REPLICATE", {str(std::string(65536, 'x')), intItem(65536)});
        },
        ::testing::ExitedWithCode(7), "memory exhausted");
    EXPECT_EXIT(
        {
            memExhausted = exhausted;
            run("REPLICATE", {str("abc"), intItem(INT32_MAX)});
        },
        ::testing::ExitedWithCode(7), "memory exhausted");
}

TEST_F(BuiltinStrings, ChrAscAtLen) {
    expectText(run("CHR", {intItem(321)}), "A");
    expectText(run("CHR", {intItem(-1)}), "\xFF");
    expectText(run("CHR", {doubleItem(66.9)}), "B");
    Item r = run("CHR", {intItem(0)});
    EXPECT_EQ(strLength(&r), 1u);
    EXPECT_EQ(strData(&r)[0], 0);
    expectRejected("CHR", {str("A")}, 1104, "CHR");

    expectInt(run("ASC", {str("")}), 0, 10);
    expectInt(run("ASC", {str("ABC")}), 65, 10);
    expectInt(run("ASC", {str("\xE9")}), 233, 10);
    expectInt(run("ASC", {memo("a")}), 97, 10);
    expectRejected("ASC", {intItem(65)}, 1107, "ASC");

    expectInt(run("AT", {str("cd"), str("abcdef")}), 3, 10);
    expectInt(run("AT", {str("ef"), str("abcdef")}), 5, 10);
    expectInt(run("AT", {str("aab"), str("aaab")}), 2, 10);
    expectInt(run("AT", {str("x"), str("abc")}), 0, 10);
    expectInt(run("AT", {str(""), str("abc")}), 0, 10);
    expectInt(run("AT", {str("abcd"), str("abc")}), 0, 10);
    expectInt(run("AT", {str("abc"), str("abc")}), 1, 10);
    expectInt(run("AT", {str(std::string("\0b", 2)), str(std::string("a\0b", 3))}), 2, 10);
    expectRejected("AT", {str("a"), intItem(1)}, 1108, "AT");
    expectRejected("AT", {nilItem(), str("a")}, 1108, "AT");

    expectInt(run("LEN", {str("abc")}), 3, 10);
    expectInt(run("LEN", {str("")}), 0, 10);
    expectInt(run("LEN", {memo("four")}), 4, 10);
    expectInt(run("LEN", {array(3)}), 3, 10);
    expectRejected("LEN", {intItem(5)}, 1111, "LEN");
}

class BuiltinNumbers : public BuiltinTest {};

TEST_F(BuiltinNumbers, IntCutsTowardZeroAfterTheNudge) {
    expectDouble(run("INT", {doubleItem(2.9999999999999996, 5, 2)}), 3.0, 0, 0);
    expectDouble(run("INT", {doubleItem(-1.5)}), -1.0, 0, 0);
    expectDouble(run("INT", {doubleItem(0.1 * 30)}), 3.0, 0, 0);
    expectDouble(run("INT", {doubleItem(2.9)}), 2.0, 0, 0);
    expectDouble(run("INT", {doubleItem(-2.9999999999999996)}), -3.0, 0, 0);
    // an Integer is returned as it is, width and all
    expectInt(run("INT", {intItem(-7, 4)}), -7, 4);
    // huge values are whole already and do not overflow
    expectDouble(run("INT", {doubleItem(1.7976931348623157e308)}), 1.7976931348623157e308, 0, 0);
    expectDouble(run("INT", {doubleItem(9007199254740993.0)}), 9007199254740993.0, 0, 0);
    expectRejected("INT", {str("1")}, 1090, "INT");
    expectRejected("INT", {wordItem(1)}, 1090, "INT");
}

TEST_F(BuiltinNumbers, RoundHalfAwayFromZero) {
    expectDouble(run("ROUND", {doubleItem(2.5), intItem(0)}), 3.0, 0, 0);
    expectDouble(run("ROUND", {doubleItem(-2.5), intItem(0)}), -3.0, 0, 0);
    expectDouble(run("ROUND", {intItem(1234), intItem(-2)}), 1200.0, 0, 0);
    expectDouble(run("ROUND", {intItem(1250), intItem(-2)}), 1300.0, 0, 0);
    expectDouble(run("ROUND", {doubleItem(3.14159, 7, 5), intItem(2)}), 3.14, 0, 2);
    expectDouble(run("ROUND", {doubleItem(-3.145, 7, 5), doubleItem(1.9)}), -3.1, 0, 1);
    expectDouble(run("ROUND", {intItem(0), intItem(3)}), 0.0, 0, 3);
    expectRejected("ROUND", {str("1"), intItem(1)}, 1094, "ROUND");
    expectRejected("ROUND", {intItem(1), str("1")}, 1094, "ROUND");
}

TEST_F(BuiltinNumbers, ExpLogSqrtTakeTheDecimalsSetting) {
    expectDouble(run("EXP", {intItem(0)}), 1.0, 0, 2);
    expectDouble(run("EXP", {doubleItem(1.0, 4, 1)}), std::exp(1.0), 0, 2);
    expectDouble(run("LOG", {intItem(1)}), 0.0, 0, 2);
    expectDouble(run("SQRT", {intItem(16)}), 4.0, 0, 2);
    settingSetNumber(SET_DECIMALS, 5);
    expectDouble(run("SQRT", {doubleItem(2.25)}), 1.5, 0, 5);
    // domain errors give the library's special values
    Item r = run("LOG", {intItem(0)});
    EXPECT_TRUE(std::isinf(r.v.d) && r.v.d < 0);
    EXPECT_TRUE(std::isnan(run("LOG", {intItem(-1)}).v.d));
    EXPECT_TRUE(std::isnan(run("SQRT", {doubleItem(-1.0)}).v.d));
    EXPECT_TRUE(errors.empty());
    expectRejected("EXP", {str("1")}, 1096, "EXP");
    expectRejected("LOG", {nilItem()}, 1095, "LOG");
    expectRejected("SQRT", {dateItem(4)}, 1097, "SQRT");
}

TEST_F(BuiltinNumbers, MinAndMaxKeepTheLeftOperandsShape) {
    // mixed Integer and Double: the Integer becomes a Double of 0 decimals
    expectDouble(run("MIN", {intItem(1), doubleItem(2.5, 5, 1)}), 1.0, 10, 0);
    expectDouble(run("MAX", {intItem(1), doubleItem(2.5, 5, 1)}), 2.5, 10, 0);
    expectDouble(run("MAX", {doubleItem(2.5, 5, 1), intItem(7, 3)}), 7.0, 5, 1);
    expectInt(run("MIN", {intItem(5, 3), intItem(-2, 7)}), -2, 3);
    expectInt(run("MAX", {intItem(INT32_MIN), intItem(-1)}), -1, 10);
    expectLogical(run("MAX", {logicalItem(false), logicalItem(true)}), true);
    expectLogical(run("MIN", {logicalItem(true), logicalItem(false)}), false);
    Item r = run("MAX", {dateItem(2451545), dateItem(2451546)});
    EXPECT_EQ(r.type, T_DATE);
    EXPECT_EQ(r.v.l, 2451546);
    r = run("MIN", {dateItem(2451545), dateItem(2451546)});
    EXPECT_EQ(r.v.l, 2451545);
    expectRejected("MIN", {str("a"), str("b")}, 1092, "MIN");
    expectRejected("MAX", {dateItem(1), intItem(1)}, 1093, "MAX");
    expectRejected("MAX", {nilItem(), nilItem()}, 1093, "MAX");
}

TEST_F(BuiltinNumbers, WordMarksAWholeNumberAndRaisesWithoutSubstitution) {
    Item r = run("WORD", {doubleItem(7.9, 4, 1)});
    EXPECT_EQ(r.type, T_WORD);
    EXPECT_EQ(r.v.l, 7);
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.decimals, 0);
    EXPECT_EQ(run("WORD", {doubleItem(-7.9)}).v.l, -7);
    EXPECT_EQ(run("WORD", {intItem(65536)}).v.l, 65536);

    answerUnwind();
    itemClear(returnItem());
    call("B_WORD", {str("x")});
    EXPECT_EQ(lastStatus, ST_UNWIND);
    expectArgError(1091, "WORD", 1, false);
}

TEST_F(BuiltinNumbers, StrWithOneArgumentUsesTheItemsShape) {
    expectText(run("STR1", {intItem(5)}), "         5");
    expectText(run("STR1", {intItem(-5, 0)}), "        -5");
    expectText(run("STR1", {intItem(42, 4)}), "  42");
    expectText(run("STR1", {intItem(2000000000, 0)}), std::string(10, ' ') + "2000000000");
    expectText(run("STR1", {doubleItem(3.14159, 6, 2)}), "  3.14");
    expectText(run("STR1", {doubleItem(5.25, 0, 2)}), std::string(9, ' ') + "5.25");
    expectText(run("STR1", {doubleItem(-5.25, 0, 2)}), std::string(11, ' ') + "-5.25");
    expectText(run("STR1", {doubleItem(123456, 5, 0)}), "*****");
    expectText(run("STR1", {doubleItem(2.5, 5, 0)}), "    3");
    expectText(run("STR1", {doubleItem(-2.5, 5, 0)}), "   -3");
    expectText(run("STR1", {doubleItem(-0.04, 5, 1)}), "  0.0");
    expectRejected("STR1", {str("5")}, 1099, "STR");
    expectRejected("STR1", {wordItem(5)}, 1099, "STR");
}

TEST_F(BuiltinNumbers, StrUnderFixedFormat) {
    settingSetLogical(SET_FIXEDFORMAT, true);
    settingSetNumber(SET_DECIMALS, 3);
    // the width rule gives the room of the decimals, STR shows an Integer without them
    expectText(run("STR1", {intItem(5, 0)}), std::string(13, ' ') + "5");
    expectText(run("STR1", {doubleItem(5.25, 0, 2)}), std::string(9, ' ') + "5.250");
    // an Item with its own width keeps it
    expectText(run("STR1", {doubleItem(5.25, 6, 2)}), "  5.25");
}

TEST_F(BuiltinNumbers, StrWithWidthAndDecimals) {
    expectText(run("STR2", {doubleItem(3.7), intItem(5)}), "    4");
    expectText(run("STR2", {intItem(7), intItem(0)}), "         7");
    expectText(run("STR2", {intItem(7), intItem(-3)}), "         7");
    expectText(run("STR2", {intItem(123456), intItem(3)}), "***");
    expectText(run("STR2", {doubleItem(2.5), doubleItem(1.9)}), "3");
    expectRejected("STR2", {intItem(1), str("5")}, 1099, "STR");
    expectRejected("STR2", {nilItem(), intItem(5)}, 1099, "STR");

    expectText(run("STR3", {doubleItem(3.14159), intItem(6), intItem(2)}), "  3.14");
    // 5 decimals do not fit in 3: 2 are left, and 5.00 overflows
    expectText(run("STR3", {intItem(5), intItem(3), intItem(5)}), "***");
    expectText(run("STR3", {doubleItem(-0.5), intItem(5), intItem(1)}), " -0.5");
    expectText(run("STR3", {doubleItem(-0.04), intItem(5), intItem(1)}), "  0.0");
    expectText(run("STR3", {doubleItem(1.005), intItem(8), intItem(-1)}), "       1");
    expectText(run("STR3", {doubleItem(1.5), intItem(0), intItem(2)}), "      1.50");
    expectRejected("STR3", {intItem(1), intItem(5), str("2")}, 1099, "STR");
}

TEST_F(BuiltinNumbers, ValReadsTheTextsLayout) {
    expectDouble(run("VAL", {str("12.50")}), 12.5, 5, 2);
    expectInt(run("VAL", {str("123")}), 123, 10);
    expectInt(run("VAL", {str("  -3xyz")}), -3, 10);
    expectInt(run("VAL", {str("+5")}), 0, 10);
    expectInt(run("VAL", {str("")}), 0, 10);
    expectDouble(run("VAL", {str("1234567890")}), 1234567890.0, 10, 0);
    expectDouble(run("VAL", {str(std::string(62, ' ') + "7")}), 7.0, 63, 0);
    // 64 characters and more are not read at all
    expectDouble(run("VAL", {str(std::string(63, ' ') + "7")}), 0.0, 64, 0);
    expectDouble(run("VAL", {str(std::string(63, ' ') + "7.5")}), 0.0, 66, 1);
    expectDouble(run("VAL", {memo("1.5")}), 1.5, 3, 1);
    expectRejected("VAL", {intItem(5)}, 1098, "VAL");
}

TEST_F(BuiltinNumbers, WidthRuleOnItems) {
    Item i = intItem(5, 0);
    normalizeNumeric(&i);
    EXPECT_EQ(i.width, 10);
    EXPECT_EQ(i.decimals, 0);
    i = intItem(2000000000, 0);
    normalizeNumeric(&i);
    EXPECT_EQ(i.width, 20);
    Item d = doubleItem(5.25, 0, 2);
    normalizeNumeric(&d);
    EXPECT_EQ(d.width, 13);
    EXPECT_EQ(d.decimals, 2);
    d = doubleItem(-5.25, 0, 2);
    normalizeNumeric(&d);
    EXPECT_EQ(d.width, 16);
    // fixedFormat: an Integer takes the decimals setting, a Double trades its own for it
    settingSetLogical(SET_FIXEDFORMAT, true);
    settingSetNumber(SET_DECIMALS, 3);
    i = intItem(5, 4);
    normalizeNumeric(&i);
    EXPECT_EQ(i.width, 8);
    EXPECT_EQ(i.decimals, 3);
    d = doubleItem(1.5, 6, 1);
    normalizeNumeric(&d);
    EXPECT_EQ(d.width, 8);
    EXPECT_EQ(d.decimals, 3);
    // anything else is left alone
    Item s = str("abc");
    normalizeNumeric(&s);
    EXPECT_EQ(strLength(&s), 3u);
}

class BuiltinTypes : public BuiltinTest {};

TEST_F(BuiltinTypes, EmptyByType) {
    const struct {
        Item value;
        bool empty;
        const char* what;
    } cases[] = {
        {nilItem(), true, "NIL"},
        {intItem(0), true, "0"},
        {intItem(-1), false, "-1"},
        {doubleItem(0.0), true, "0.0"},
        {doubleItem(-0.0), true, "-0.0"},
        {doubleItem(1e-300), false, "1e-300"},
        {dateItem(0), true, "empty date"},
        {dateItem(2451545), false, "date"},
        {logicalItem(false), true, ".F."},
        {logicalItem(true), false, ".T."},
        {str(""), true, "''"},
        {str("  "), true, "blanks"},
        {str(" \t"), true, "blank and tab"},
        {str("\r\n"), false, "line end"},
        {str("  x"), false, "text"},
        {memo(" "), true, "blank memo"},
        {array(0), true, "{}"},
        {array(1), false, "{NIL}"},
        {block(), false, "codeblock"},
        {wordItem(5), true, "WORD(5)"},
    };
    for (const auto& c : cases) {
        Item r = run("EMPTY", {c.value});
        EXPECT_EQ(r.type, T_LOGICAL) << c.what;
        EXPECT_EQ(r.v.l, c.empty ? 1 : 0) << c.what;
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(BuiltinTypes, ValtypeLetters) {
    Item object = array(2);
    bodyOf(&object)->classHandle = 3;
    const struct {
        Item value;
        const char* letter;
    } cases[] = {
        {intItem(1), "N"},  {doubleItem(1.5), "N"}, {wordItem(1), "N"}, {dateItem(1), "D"},
        {logicalItem(true), "L"}, {block(), "B"}, {str("x"), "C"},    {memo("x"), "M"},
        {array(1), "A"},    {object, "O"},         {nilItem(), "U"},
    };
    for (const auto& c : cases) expectText(run("VALTYPE", {c.value}), c.letter);
    EXPECT_TRUE(errors.empty());
}

class BuiltinTimeCursor : public BuiltinTest {};

TEST_F(BuiltinTimeCursor, SetposStoresNumbersAndReturnsTheRow) {
    Item r = run("SETPOS", {intItem(3), intItem(7)});
    expectInt(r, 3, 10);
    expectInt(run("ROW"), 3, 10);
    expectInt(run("COL"), 7, 10);
    // anything that is no number leaves the position alone and never fails
    expectText(run("SETPOS", {str("a"), intItem(1)}), "a");
    EXPECT_EQ(run("SETPOS", {intItem(9), nilItem()}).v.l, 9);
    expectInt(run("ROW"), 3, 10);
    expectInt(run("COL"), 7, 10);
    // Doubles are cut, and each value is kept in 16 bits
    expectDouble(run("SETPOS", {doubleItem(2.9, 3, 1), doubleItem(4.2)}), 2.9, 3, 1);
    expectInt(run("ROW"), 2, 10);
    expectInt(run("COL"), 4, 10);
    run("SETPOS", {intItem(-1), intItem(70000)});
    expectInt(run("ROW"), 65535, 10);
    expectInt(run("COL"), 70000 - 65536, 10);
    EXPECT_TRUE(errors.empty());
}

TEST_F(BuiltinTimeCursor, TimeAndSecondsFollowTheLocalClock) {
    os::LocalTime before;
    os::localTime(&before);
    Item t = run("TIME");
    Item s = run("SECONDS");
    Item d = run("DATE");
    os::LocalTime after;
    os::localTime(&after);
    if (after.day != before.day) GTEST_SKIP() << "midnight passed";

    std::string hms = text(t);
    ASSERT_EQ(hms.size(), 8u);
    int h, m, sec;
    ASSERT_EQ(std::sscanf(hms.c_str(), "%2d:%2d:%2d", &h, &m, &sec), 3);
    EXPECT_EQ(hms[2], ':');
    EXPECT_EQ(hms[5], ':');
    // named doubles, so that both sides of a comparison are rounded alike
    const double low = secondsOfDay(before);
    const double high = secondsOfDay(after);
    const double shown = h * 3600 + m * 60 + sec;
    EXPECT_GE(shown, std::floor(low));
    EXPECT_LE(shown, high);

    EXPECT_EQ(s.type, T_DOUBLE);
    EXPECT_EQ(s.width, 0);
    EXPECT_EQ(s.decimals, 2);
    EXPECT_GE(s.v.d, low);
    EXPECT_LE(s.v.d, high);

    EXPECT_EQ(d.type, T_DATE);
    EXPECT_EQ(d.v.l, dateFromYmd(after.year, after.month, after.day, 0));
}

// The built-ins compose in ordinary pcode: literals straight from the code.
class BuiltinPcode : public BuiltinTest {
protected:
    std::string extraProcedures() override {
        return R"(
symbol C_TRIMUP proc
symbol C_STRLIT proc
symbol C_COLLECT proc
symbol BIGCNEXT
proc C_TRIMUP            ; UPPER(LTRIM(SUBSTR("  abc def", -9, 5)))
    PUSHSTR "  abc def"
    PUSHINT -9
    PUSHINT 5
    SUBSTR3
    LTRIM
    UPPER
    POPRET
    ENDPROC
end
proc C_COLLECT           ; TRANSFORM(UPPER(TRIM(LEFT(SUBSTR(REPLICATE("ab ", 4), 1, 11), 9))), "@R [XXXXXXXX]")
    PUSHSTR "ab "
    PUSHINT 4
    PUSHSYMNIL BIGCNEXT
    DO 0
    REPLICATE
    PUSHSYMNIL BIGCNEXT
    DO 0
    ONE
    PUSHINT 11
    SUBSTR3
    PUSHSYMNIL BIGCNEXT
    DO 0
    PUSHINT 9
    LEFT
    PUSHSYMNIL BIGCNEXT
    DO 0
    TRIM
    PUSHSYMNIL BIGCNEXT
    DO 0
    UPPER
    PUSHSYMNIL BIGCNEXT
    DO 0
    PUSHSTR "@R [XXXXXXXX]"
    PUSHSYMNIL BIGCNEXT
    DO 0
    TRANSFORM
    POPRET
    ENDPROC
end
proc C_STRLIT            ; STR(1234.56) of a literal with width 6 and 1 decimal
    PUSHDOUBLE 6 1 1234.56
    STR1
    POPRET
    ENDPROC
end
)";
    }
};

TEST_F(BuiltinPcode, LiteralsFlowThroughSeveralBuiltins) {
    expectText(call("C_TRIMUP"), "ABC");
    expectText(call("C_STRLIT"), "1234.6");
    EXPECT_EQ(vm.top, vm.stack);
}

// Each built-in below gets a run-time string that only its argument slot
// holds, and a collection runs in its own allocation: the argument must
// still be there to be copied from.
TEST_F(BuiltinPcode, ArgumentsSurviveACollectionInTheResultsAllocation) {
    Item r = call("C_COLLECT");
    expectText(r, "[AB AB AB]");
    EXPECT_EQ(vm.top, vm.stack);
}

}  // namespace
