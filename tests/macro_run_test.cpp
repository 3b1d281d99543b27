// Macro texts run through the macro opcodes: values of compiled texts, the
// plain-name fast paths, &name substitution and its bound, assignment by
// name, TYPE and its trapped errors, blocks from text that outlive their
// compile, and the status words of the syntax and argument errors.
#include "tests/support/macro_fixture.h"

#include <cstdio>
#include <string>

#include "vm/function.h"
#include "vm/native.h"

using namespace xb;
using xb::test::MacroTest;

XB_NATIVE(fnMacroTestTwice, "MACROTWICE") {
    retInt(paramInt(1) * 2);
    return 0;
}

namespace {

class MacroRun : public MacroTest {
protected:
    void expectMacroError(uint16_t subCode, uint16_t genCode, const char* operation) {
        ASSERT_EQ(errors.size(), 1u) << (errors.size() > 1 ? errors[1].d.subCode : 0) << " " << errors[0].d.subCode;
        EXPECT_EQ(errors[0].d.subCode, subCode);
        EXPECT_EQ(errors[0].d.genCode, genCode);
        EXPECT_EQ(errors[0].operation, operation);
        EXPECT_EQ(errors[0].subsystem, "BASE");
        errors.clear();
    }
};

double number(const Item& r) {
    if (r.type == T_DOUBLE) return r.v.d;
    if (r.type == T_INTEGER || r.type == T_WORD) return r.v.l;
    ADD_FAILURE() << "not a number, type " << r.type;
    return -1;
}

TEST_F(MacroRun, ValuesOfCompiledTexts) {
    setVar("A", intItem(6));
    setVar("B", intItem(4));
    setVar("T", logicalItem(true));
    setVar("F", logicalItem(false));
    struct {
        const char* text;
        double value;
    } numbers[] = {
        {"1 + 2 * 3", 7}, {"10 - 4 - 3", 3}, {"2 ^ 3 ^ 2", 64}, {"a * 2 + b", 16}, {"(a - b) * -a", -12},
        {"IIF(a > b, a, b)", 6}, {"IIF(a < b, a, b)", 4}, {"LEN('abc') + AT('c', 'abc')", 6},
        {"EVAL({|x, y| x * y}, a, b)", 24}, {"(a := a + 1, a)", 7}, {"{1, {2, 3}}[2, 2]", 3},
        {"&('1 + 1')", 2}, {"MACROTWICE(21)", 42}, {"10 % 4", 2}, {"VAL('12.5') * 2", 25},
    };
    for (const auto& c : numbers) EXPECT_EQ(number(eval(c.text)), c.value) << c.text;
    struct {
        const char* text;
        bool value;
    } logicals[] = {
        {".NOT. t .AND. f", false}, {".NOT. (t .AND. f)", true}, {".NOT. a = b", true},
        {"t .OR. .NOT. t .AND. f", true}, {"a == 7 .AND. b <> 7", true}, {"'ab' $ 'cabd'", true},
    };
    for (const auto& c : logicals) {
        SCOPED_TRACE(c.text);
        expectLogical(eval(c.text), c.value);
    }
    EXPECT_EQ(text(eval("UPPER('ab') + [cd] + SUBSTR('xyz', 2)")), "ABcdyz");
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroRun, PlainNamesAndNilNeverCompile) {
    setVar("COUNTER", intItem(5));
    expectInt(eval("counter"), 5, 0);
    expectInt(eval("  Counter\t"), 5, 0);
    EXPECT_EQ(eval("nil  ").type, T_NIL);
    EXPECT_EQ(eval("NIL").type, T_NIL);
    EXPECT_TRUE(errors.empty());
    // an undefined plain name is the missing-variable error of its name
    answerLogical(false);
    answerUnwind();
    eval("undefined_one");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 14);
    EXPECT_EQ(errors[0].d.subCode, 1003);
    EXPECT_EQ(errors[0].operation, "UNDEFINED_ONE");
}

TEST_F(MacroRun, SubstitutionExpandsReferencesBeforeEvaluation) {
    setVar("C", str("abc"));
    setVar("XABCY", intItem(42));
    expectInt(eval("x&c.y"), 42, 0);
    setVar("OP", str("+"));
    setVar("EXPR", str("2 &op 3"));
    EXPECT_EQ(number(eval("&expr")), 5);  // the whole text is expanded before it is compiled
    EXPECT_EQ(text(eval("expr")), "2 &op 3");
    EXPECT_EQ(number(eval("1 + &(expr)")), 6);  // the text an expression yields, expanded and evaluated
    setVar("NUM", intItem(7));
    EXPECT_EQ(text(eval("'&num and &c.'")), "&num and abc");  // only strings are inserted
    setVar("INNER", str("&c"));
    EXPECT_EQ(text(eval("'<&inner.>'")), "<abc>");  // references inside inserted text
    EXPECT_TRUE(errors.empty());
}

// A variable that holds its own reference would expand without end; the
// expansion stops with the macro syntax error.
TEST_F(MacroRun, SelfInsertingSubstitutionStopsWithASyntaxError) {
    setVar("LOOP", str("&loop"));
    setVar("GROW", str("x&grow"));
    for (const char* t : {"'&loop'", "&(loop)", "'&grow.'"}) {
        Item r = eval(t);
        EXPECT_EQ(r.type, T_NIL) << t;  // the error block's answer
        expectMacroError(1449, 7, "&");
    }
}

TEST_F(MacroRun, AssignmentByName) {
    setVar("TARGET", nilItem());
    setVar("OTHER", nilItem());
    call("ASSIGNTEXT", {str("target"), intItem(5)});
    expectInt(var("TARGET"), 5, 0);
    setVar("WHICH", str("other"));
    call("ASSIGNTEXT", {str("&which"), intItem(6)});
    expectInt(var("OTHER"), 6, 0);
    // a text that is not a name compiles in store mode; stack stays balanced
    setVar("ARR", array(2));
    Item r = call("ASSIGNTEXT", {str("arr[1]"), intItem(7)});
    EXPECT_EQ(r.type, T_NIL);
    expectInt(eval("(arr[2] := 8)"), 8, 10);
    Item arr = var("ARR");
    expectInt(arrayItems(&arr)[1], 8, 10);
    EXPECT_EQ(number(eval("(v := 3) + v")), 6);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroRun, TypeReportsTheValueKindAndTrapsErrors) {
    setVar("S", str("x"));
    setVar("C", str("abc"));
    setVar("XABCY", dateItem(2451545));
    struct {
        const char* text;
        const char* type;
    } cases[] = {
        {"undefined_name", "U"}, {"1 +", "UE"}, {"{1}", "A"}, {"s", "C"}, {"1.5", "N"}, {"DATE()", "D"},
        {".T.", "L"}, {"{|| 1}", "B"}, {"NIL", "U"}, {"x&c.y", "D"}, {"undefined_name + 1", "UE"},
        {"no_such_function()", "UE"}, {"1 / 'a'", "UE"}, {"s + 1", "UE"}, {"", "UE"}, {"a := 1", "UE"},
        {"LEN(s)", "N"}, {"nosuchalias->f", "UE"}, {"TYPE('1 +')", "C"},
    };
    for (const auto& c : cases) EXPECT_EQ(type(c.text), c.type) << c.text;
    EXPECT_TRUE(errors.empty()) << errors.size() << " errors reached the handler";
    // and the trap ends with TYPE: the next error is raised again
    answerUnwind();
    eval("1 / 'a'");
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(MacroRun, StatusWordsOfTheArgumentAndSyntaxErrors) {
    call("TYPETEXT", {intItem(1)});
    expectMacroError(1121, 1, "TYPE");
    EXPECT_EQ(call("EVALTEXT", {intItem(1)}).type, T_NIL);
    expectMacroError(1065, 1, "&");
    for (const char* t : {"", "   ", "a := 1", "1 +", "1e5"}) {
        eval(t);
        ASSERT_EQ(errors.size(), 1u) << t;
        EXPECT_EQ(errors[0].operands.size(), 1u);
        expectMacroError(1449, 7, "&");
    }
    call("ALIASFIELD", {logicalItem(true), str("F")});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operands.size(), 2u);
    expectMacroError(1065, 1, "&");
    answerUnwind();
    eval("&nosuchalias->f");
    expectMacroError(1065, 1, "&");
    // the syntax error offers substitution: the answer is the value of the text
    answerInt(9);
    expectInt(eval("1 +"), 9, 0);
    EXPECT_EQ(errors[0].d.flags & EF_SUBSTITUTE, EF_SUBSTITUTE);
}

TEST_F(MacroRun, FunctionNamesBuiltByMacro) {
    setVar("N", str("TWICE"));
    EXPECT_EQ(number(eval("MACRO&n(4)")), 8);
    // the name is expanded when the call runs, after the text's own expansion
    setVar("BAD", nilItem());
    answerUnwind();
    eval("(bad := '1+', x&bad())");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1449) << errors[0].operation;
    EXPECT_EQ(errors[0].d.flags & EF_SUBSTITUTE, 0);
}

TEST_F(MacroRun, BlocksFromTextOutliveTheirCompile) {
    setVar("K", intItem(10));
    Item b = eval("{|x| {|y| x + y + k}, 'text' + STR(x, 2)}");
    ASSERT_EQ(b.type, T_BLOCK);
    setVar("B1", b);
    for (int i = 0; i < 20; ++i) eval("{|z| z}");  // new buffers over the old ones
    collectGarbage(true);
    EXPECT_EQ(text(eval("EVAL(b1, 5)")), "text 5");
    Item inner = eval("{|x| {|y| y * 3 + k}}");
    setVar("B2", inner);
    setVar("B3", eval("EVAL(b2, 0)"));
    collectGarbage(true);
    EXPECT_EQ(number(eval("EVAL(b3, 4)")), 22);
    EXPECT_TRUE(errors.empty());
}

// A macro whose code evaluates a macro, a hundred levels deep in one frame:
// every level's code is given back.
TEST_F(MacroRun, NestedRunsGiveTheirCodeBack) {
    setVar("T", str("IIF(n > 0, (n := n - 1, &(t) + 1), 0)"));
    // each call's argument stays in a test temporary: compare a shallow run
    // with a deep one
    setVar("N", intItem(0));
    collectGarbage(true);
    int32_t start = memInUse();
    EXPECT_EQ(number(eval("&(t)")), 0);
    collectGarbage(true);
    int32_t shallow = memInUse() - start;
    setVar("N", intItem(100));
    EXPECT_EQ(number(eval("&(t)")), 100);
    collectGarbage(true);
    EXPECT_EQ(memInUse() - start, 2 * shallow);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroRun, FieldStoreByNameWithoutATableIsTheMissingVariableError) {
    answerUnwind();
    call("FIELDTEXT", {str("nofield"), intItem(1)});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1003);
    EXPECT_EQ(errors[0].operation, "NOFIELD");
}

}  // namespace

namespace {

void writeToStderr(const char* text, uint32_t n) { std::fwrite(text, 1, n, stderr); }

// DEVPOS, INKEY, PCOL and PROW compile into opcodes the interpreter has no
// handler for: the text compiles and its run is the invalid-opcode failure.
TEST_F(MacroRun, ConsoleBuiltInsCompileButFailAsInvalidOpcodes) {
    for (const char* text : {"DEVPOS(1, 2)", "INKEY()", "PCOL()", "PROW()"}) {
        EXPECT_NE(code(text), "FAIL") << text;
    }
    EXPECT_EXIT(
        {
            errorOutputWrite = writeToStderr;
            eval("1 + PROW()");
        },
        ::testing::ExitedWithCode(1), "_0ERR\\(\\) CC");
}

}  // namespace
