// Relational and logical operators run as pcode: string comparison under
// both exactCompare settings and through the Spanish collation, the mixed
// and NIL rules, the pairs that have no comparison, the substring test,
// JUMPNOTEQUAL, and the character-test functions.
#include "tests/support/operator_fixture.h"

#include <cmath>

using namespace xb;
using namespace xb::test;

namespace {

class Compare : public OperatorTest {
protected:
    // The relation through its procedure, checked to be a Logical.
    bool rel(const char* proc, const Item& a, const Item& b) {
        Item r = bin(proc, a, b);
        EXPECT_EQ(r.type, T_LOGICAL) << proc;
        return r.v.l != 0;
    }
    bool eq(const std::string& a, const std::string& b) { return rel("XEQ", str(a), str(b)); }
    bool lt(const std::string& a, const std::string& b) { return rel("XLT", str(a), str(b)); }
};

TEST_F(Compare, PrefixRuleFollowsExactCompare) {
    EXPECT_TRUE(eq("abc", "ab"));
    EXPECT_FALSE(eq("ab", "abc"));
    EXPECT_TRUE(eq("abc ", "abc"));
    EXPECT_TRUE(eq("abc", ""));
    EXPECT_FALSE(eq("", "abc"));
    EXPECT_TRUE(eq("", ""));
    EXPECT_TRUE(rel("XNE", str("ab"), str("abc")));
    EXPECT_FALSE(rel("XNE", str("abc"), str("ab")));
    EXPECT_TRUE(rel("XGE", str("abc"), str("ab")));
    EXPECT_FALSE(rel("XGT", str("abc"), str("ab")));
    EXPECT_TRUE(lt("ab", "abc"));
    settingSetLogical(SET_EXACTCOMPARE, true);
    EXPECT_FALSE(eq("abc", "ab"));
    EXPECT_FALSE(eq("ab", "abc"));
    EXPECT_FALSE(eq("abc ", "abc"));  // trailing blanks count
    EXPECT_TRUE(eq("abc", "abc"));
    EXPECT_TRUE(eq("abc", ""));  // an empty right side matches either way
    EXPECT_FALSE(eq("", "abc"));
    EXPECT_TRUE(rel("XGT", str("abc"), str("ab")));
    EXPECT_TRUE(rel("XLE", str("ab"), str("abc")));
    EXPECT_TRUE(rel("XNE", str("abc"), str("ab")));
    // == never looks at the setting
    EXPECT_FALSE(rel("XEXEQ", str("abc"), str("ab")));
    settingSetLogical(SET_EXACTCOMPARE, false);
    EXPECT_FALSE(rel("XEXEQ", str("abc"), str("ab")));
    EXPECT_TRUE(rel("XEXEQ", str("abc"), str("abc")));
    EXPECT_FALSE(rel("XEXEQ", str("abc "), str("abc")));
    EXPECT_TRUE(rel("XEXEQ", str(""), str("")));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Compare, CollationOrder) {
    // N < N-tilde < O, upper and lower case
    EXPECT_TRUE(lt("N", "\xD1"));
    EXPECT_TRUE(lt("\xD1", "O"));
    EXPECT_TRUE(lt("n", "\xF1"));
    EXPECT_TRUE(lt("\xF1", "o"));
    EXPECT_TRUE(lt("ca\xF1" "a", "cao"));
    // upper case before all lower case
    EXPECT_TRUE(lt("Z", "a"));
    // C-cedilla after Z, c-cedilla after z
    EXPECT_TRUE(lt("Z", "\xC7"));
    EXPECT_TRUE(rel("XGT", str("\xC7"), str("Z")));
    EXPECT_TRUE(lt("z", "\xE7"));
    // an accented vowel weighs as its vowel: = sees them equal, == does not
    EXPECT_TRUE(eq("\xE1", "a"));
    EXPECT_TRUE(eq("\xE1nimo", "animo"));
    EXPECT_FALSE(rel("XNE", str("\xE1nimo"), str("animo")));
    EXPECT_FALSE(rel("XEXEQ", str("\xE1nimo"), str("animo")));
    EXPECT_TRUE(lt("abc", "abd"));
    EXPECT_TRUE(rel("XGE", str("abd"), str("abc")));
    EXPECT_FALSE(rel("XLE", str("abd"), str("abc")));
    // a Memo compares as a String
    EXPECT_TRUE(rel("XEQ", memo("abc"), str("ab")));
    EXPECT_TRUE(rel("XEXEQ", memo("abc"), str("abc")));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Compare, ExactByteComparisonOrdersUnsignedBytes) {
    EXPECT_EQ(compareStringBytes("\xE1", 1, "a", 1, 0, false), 1);
    EXPECT_EQ(compareStringBytes("a", 1, "\xE1", 1, 0, false), -1);
    EXPECT_EQ(compareStringBytes("ab", 2, "abc", 3, 0, false), -1);
    EXPECT_EQ(compareStringBytes("abc", 3, "ab", 2, 0, false), 1);
    EXPECT_EQ(compareStringBytes("", 0, "a", 1, 0, false), -1);
    EXPECT_EQ(compareStringBytes("a", 1, "", 0, 0, true), 1);
    EXPECT_EQ(compareStringBytes("\xE1", 1, "a", 1, 1, true), 0);
    EXPECT_EQ(compareStringBytes("b", 1, "\xE1", 1, 1, false), 1);
}

TEST_F(Compare, NumbersDatesAndLogicals) {
    EXPECT_TRUE(rel("XEQ", intItem(1), doubleItem(1.0, 4, 1)));
    EXPECT_TRUE(rel("XEXEQ", doubleItem(2.5, 4, 1), doubleItem(2.5, 8, 3)));
    EXPECT_TRUE(rel("XLT", intItem(-1), intItem(0)));
    EXPECT_TRUE(rel("XGT", intItem(INT32_MAX), intItem(INT32_MIN)));
    EXPECT_TRUE(rel("XLE", doubleItem(1.5, 3, 1), intItem(2)));
    EXPECT_FALSE(rel("XGE", doubleItem(1.5, 3, 1), intItem(2)));
    // dates compare their day numbers, also against numbers
    EXPECT_TRUE(rel("XLT", dateItem(100), dateItem(101)));
    EXPECT_TRUE(rel("XEQ", dateItem(100), intItem(100)));
    EXPECT_TRUE(rel("XGT", doubleItem(100.5, 5, 1), dateItem(100)));
    EXPECT_TRUE(rel("XLT", logicalItem(false), logicalItem(true)));
    EXPECT_TRUE(rel("XEQ", logicalItem(true), logicalItem(true)));
    EXPECT_TRUE(rel("XNE", logicalItem(true), logicalItem(false)));
    // a NaN is equal to nothing and has no order
    Item nan = doubleItem(std::nan(""), 3, 0);
    EXPECT_FALSE(rel("XEQ", nan, nan));
    EXPECT_TRUE(rel("XNE", nan, nan));
    EXPECT_FALSE(rel("XLT", nan, intItem(1)));
    EXPECT_FALSE(rel("XGE", nan, intItem(1)));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Compare, NilRules) {
    EXPECT_TRUE(rel("XEXEQ", nilItem(), nilItem()));
    EXPECT_TRUE(rel("XEQ", nilItem(), nilItem()));
    EXPECT_FALSE(rel("XNE", nilItem(), nilItem()));
    EXPECT_FALSE(rel("XEQ", nilItem(), intItem(0)));
    EXPECT_FALSE(rel("XEXEQ", str(""), nilItem()));
    EXPECT_TRUE(rel("XNE", nilItem(), str("")));
    EXPECT_TRUE(rel("XNE", array(0), nilItem()));
    EXPECT_TRUE(errors.empty());
    answerLogical(true);
    EXPECT_TRUE(rel("XLT", nilItem(), intItem(0)));  // the substituted value
    expectRaised(1073, 1, "<", 2);
    // two NILs have no order either
    const char* procs[] = {"XLT", "XLE", "XGT", "XGE"};
    const uint16_t codes[] = {1073, 1074, 1075, 1076};
    const char* names[] = {"<", "<=", ">", ">="};
    for (int i = 0; i < 4; ++i) {
        rel(procs[i], nilItem(), nilItem());
        expectRaised(codes[i], 1, names[i], 2);
    }
}

TEST_F(Compare, MismatchedTypesRaiseTheOperatorsError) {
    answerLogical(false);
    rel("XEQ", str("1"), intItem(1));
    expectRaised(1071, 1, "=", 2);
    rel("XEXEQ", logicalItem(true), intItem(1));
    expectRaised(1070, 1, "==", 2);
    rel("XNE", dateItem(1), str("x"));
    expectRaised(1072, 1, "<>", 2);
    rel("XGE", str("a"), logicalItem(true));
    expectRaised(1076, 1, ">=", 2);
    ASSERT_TRUE(errors.empty());
}

TEST_F(Compare, ArraysCompareOnlyByIdentity) {
    Item a = array(2);
    EXPECT_TRUE(rel("XEXEQ", a, a));
    EXPECT_FALSE(rel("XEXEQ", array(2), array(2)));
    EXPECT_TRUE(errors.empty());
    answerLogical(true);
    rel("XEQ", a, a);
    expectRaised(1071, 1, "=", 2);
    rel("XNE", a, array(1));
    expectRaised(1072, 1, "<>", 2);
    rel("XLT", a, a);
    expectRaised(1073, 1, "<", 2);
}

TEST_F(Compare, PairsWithoutAComparisonRaiseWithBothOperands) {
    const char* procs[] = {"XEXEQ", "XEQ", "XNE", "XLT", "XLE", "XGT", "XGE"};
    const uint16_t codes[] = {1070, 1071, 1072, 1073, 1074, 1075, 1076};
    const char* names[] = {"==", "=", "<>", "<", "<=", ">", ">="};
    Item blockA = block();
    Item blockB = block();
    const struct {
        Item a, b;
        const char* what;
    } pairs[] = {
        {blockA, blockB, "codeblocks"},
        {blockA, blockA, "one codeblock"},
        {symbolItem("XEQ"), symbolItem("XEQ"), "symbols"},
        {aliasItem(1), aliasItem(1), "aliases"},
        {wordItem(3), wordItem(3), "words"},
    };
    answerLogical(true);
    for (const auto& p : pairs) {
        for (int i = 0; i < 7; ++i) {
            SCOPED_TRACE(std::string(p.what) + " " + names[i]);
            // the substituted value is the only thing left (bin checks the depth)
            EXPECT_TRUE(rel(procs[i], p.a, p.b));
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].operands[0].type, p.a.type);
            EXPECT_EQ(errors[0].operands[1].type, p.b.type);
            expectRaised(codes[i], 1, names[i], 2);
        }
    }
}

TEST_F(Compare, SubstringTest) {
    auto in = [&](const std::string& a, const std::string& b) { return rel("XINSTR", str(a), str(b)); };
    EXPECT_FALSE(in("", "abc"));
    EXPECT_FALSE(in("", ""));
    EXPECT_TRUE(in("bc", "abc"));
    EXPECT_TRUE(in("abc", "abc"));
    EXPECT_FALSE(in("abcd", "abc"));
    EXPECT_FALSE(in("a", ""));
    // a partial match restarts one byte after its start
    EXPECT_TRUE(in("aab", "aaab"));
    EXPECT_TRUE(in("abab", "ababab"));
    EXPECT_FALSE(in("abac", "ababab"));
    EXPECT_TRUE(in("c", "abc"));
    // bytes, not collation
    EXPECT_FALSE(in("\xE1", "a"));
    EXPECT_FALSE(in("A", "a"));
    EXPECT_TRUE(in(std::string("\0b", 2), std::string("a\0b", 3)));
    EXPECT_TRUE(rel("XINSTR", memo("em"), str("memo")));
    EXPECT_TRUE(errors.empty());
    answerLogical(false);
    rel("XINSTR", str("a"), intItem(1));
    expectRaised(1109, 1, "$", 2);
    rel("XINSTR", nilItem(), str("a"));
    expectRaised(1109, 1, "$", 2);
}

TEST_F(Compare, LogicalOperators) {
    const bool values[] = {false, true};
    for (bool x : values) {
        expectLogical(un("XNOT", logicalItem(x)), !x);
        for (bool y : values) {
            expectLogical(bin("XAND", logicalItem(x), logicalItem(y)), x && y);
            expectLogical(bin("XOR", logicalItem(x), logicalItem(y)), x || y);
        }
    }
    EXPECT_TRUE(errors.empty());
    answerLogical(true);
    un("XNOT", intItem(0));
    expectRaised(1077, 1, ".NOT.", 1);
    bin("XAND", logicalItem(true), nilItem());
    expectRaised(1078, 1, ".AND.", 2);
    bin("XOR", intItem(1), logicalItem(false));
    expectRaised(1079, 1, ".OR.", 2);
}

TEST_F(Compare, JumpNotEqual) {
    auto jne = [&](const Item& a, const Item& b) {
        probedDepth = -1;
        Item r = call("XJNE", {a, b});
        // both operands gone, whichever way it went
        EXPECT_EQ(probedDepth, 3);
        return text(r);
    };
    EXPECT_EQ(jne(doubleItem(5.0, 3, 1), intItem(5)), "same");
    EXPECT_EQ(jne(intItem(5), intItem(6)), "differ");
    EXPECT_EQ(jne(intItem(-1), intItem(-1)), "same");
    EXPECT_EQ(jne(doubleItem(5.9, 3, 1), intItem(5)), "same");
    EXPECT_EQ(jne(doubleItem(-5.9, 3, 1), intItem(-5)), "same");
    EXPECT_EQ(jne(doubleItem(6.0, 3, 1), intItem(5)), "differ");
    EXPECT_TRUE(errors.empty());
    // a substituted value is dropped and the jump is not taken
    answerInt(7);
    EXPECT_EQ(jne(str("x"), intItem(7)), "same");
    expectRaised(1070, 1, "==", 2);
    EXPECT_EQ(jne(nilItem(), intItem(1)), "same");
    expectRaised(1070, 1, "==", 2);
    // an unwinding ends the procedure there
    answerUnwind();
    probedDepth = -1;
    call("XJNE", {dateItem(1), intItem(1)});
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(probedDepth, -1);
    EXPECT_EQ(vm.top, vm.stack);
    expectRaised(1070, 1, "==", 2);
}

class CharacterTests : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load(R"(symbol TESTS proc
symbol ISUPPER
symbol ISLOWER
symbol ISALPHA
symbol ISDIGIT
proc TESTS
    FRAME 2 0
    PUSHSYMNIL ISUPPER
    PUSHLOCAL 2
    FUNC 1
    PUSHSYMNIL ISLOWER
    PUSHLOCAL 2
    FUNC 1
    PUSHSYMNIL ISALPHA
    PUSHLOCAL 2
    FUNC 1
    PUSHSYMNIL ISDIGIT
    PUSHLOCAL 2
    FUNC 1
    ARRAYGEN 4
    POPRET
    ENDPROC
end
)");
    }
    // "ULAD": which of ISUPPER, ISLOWER, ISALPHA, ISDIGIT answered true.
    std::string classes(const Item& arg) {
        Item r = call("TESTS", {nilItem(), arg});
        EXPECT_EQ(r.type, T_ARRAY);
        if (r.type != T_ARRAY) return "?";
        std::string out;
        const char letters[] = "ULAD";
        for (uint32_t i = 0; i < 4 && i < arrayLength(&r); ++i) {
            const Item& e = arrayItems(&r)[i];
            EXPECT_EQ(e.type, T_LOGICAL);
            out += e.v.l ? letters[i] : '-';
        }
        return out;
    }
};

TEST_F(CharacterTests, FirstCharacterOfTheText) {
    EXPECT_EQ(classes(str("Abc")), "U-A-");
    EXPECT_EQ(classes(str("zZ")), "-LA-");
    EXPECT_EQ(classes(str("7a")), "---D");
    EXPECT_EQ(classes(str(" A")), "----");
    // accented and tilde letters change case but are not ASCII letters
    EXPECT_EQ(classes(str("\xC1rbol")), "U---");
    EXPECT_EQ(classes(str("\xF1")), "-L--");
    EXPECT_EQ(classes(str("\xD1")), "U---");
    // sharp s and y-diaeresis have no other case
    EXPECT_EQ(classes(str("\xDF")), "----");
    EXPECT_EQ(classes(str("\xFF")), "----");
    EXPECT_EQ(classes(str("")), "----");
    EXPECT_EQ(classes(intItem(7)), "----");
    EXPECT_EQ(classes(nilItem()), "----");
    EXPECT_TRUE(errors.empty());
}

}  // namespace
