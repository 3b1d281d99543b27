// The macro parser and code generator, seen as the code they produce:
// literals, the rebalanced operator trees, .NOT. placement, inline built-in
// functions and their argument rules, EVAL as a send, IIF jumps, blocks and
// their parameters, aliased reads and stores, store mode, long strings, the
// root-type rule and the texts that must not compile.
#include "tests/support/macro_fixture.h"

#include <string>

using namespace xb;
using xb::test::MacroTest;

namespace {

class MacroCompile : public MacroTest {};

struct CodeCase {
    const char* text;
    const char* code;
};

TEST_F(MacroCompile, LiteralsAndOperators) {
    const CodeCase cases[] = {
        {"NIL", "PUSHNIL; ENDPROC"},
        {"0", "ZERO; ENDPROC"},
        {"1", "ONE; ENDPROC"},
        {"9999", "PUSHWORD 9999; ENDPROC"},
        {"10000", "PUSHINT 10000; ENDPROC"},
        {"32767", "PUSHINT 32767; ENDPROC"},
        {"32768", "PUSHDOUBLE 10 0 32768; ENDPROC"},
        {"1234567890", "PUSHDOUBLE 11 0 1.23456789e+09; ENDPROC"},
        {"1.5", "PUSHDOUBLE 12 1 1.5; ENDPROC"},
        {"123456789012.25", "PUSHDOUBLE 15 2 123456789012.25; ENDPROC"},
        {"1.", "PUSHDOUBLE 11 0 1; ENDPROC"},
        {"''", "PUSHEMPTYSTR; ENDPROC"},
        {"[ab]", "PUSHSTR \"ab\"; ENDPROC"},
        {".T.", "TRUE; ENDPROC"},
        {".n.", "FALSE; ENDPROC"},
        {"{}", "ARRAYGEN 0; ENDPROC"},
        {"{1,,3}", "ONE; PUSHNIL; PUSHWORD 3; ARRAYGEN 3; ENDPROC"},
        {"f(1,)", "PUSHSYMNILX F; ONE; PUSHNIL; FUNC 2; ENDPROC"},
        {"f(,)", "PUSHSYMNILX F; PUSHNIL; PUSHNIL; FUNC 2; ENDPROC"},
        {"a", "PUSHVARIABLEX A; ENDPROC"},
        {"1 + 2 * 3", "ONE; PUSHWORD 2; PUSHWORD 3; MULT; PLUS; ENDPROC"},
        {"10 - 4 - 3", "PUSHWORD 10; PUSHWORD 4; MINUS; PUSHWORD 3; MINUS; ENDPROC"},
        {"2 ^ 3 ^ 2", "PUSHWORD 2; PUSHWORD 3; POWER; PUSHWORD 2; POWER; ENDPROC"},
        {"a .OR. b .AND. c", "PUSHVARIABLEX A; PUSHVARIABLEX B; PUSHVARIABLEX C; AND; OR; ENDPROC"},
        {"a < b .AND. c $ d", "PUSHVARIABLEX A; PUSHVARIABLEX B; LESS; PUSHVARIABLEX C; PUSHVARIABLEX D; "
                              "INSTRING; AND; ENDPROC"},
        {"a % b / c", "PUSHVARIABLEX A; PUSHVARIABLEX B; MODULUS; PUSHVARIABLEX C; DIVIDE; ENDPROC"},
        {"-a * b", "PUSHVARIABLEX A; NEGATE; PUSHVARIABLEX B; MULT; ENDPROC"},
        {"+a", "PUSHVARIABLEX A; ENDPROC"},
        {"a == 1", "PUSHVARIABLEX A; ONE; EXACTEQUAL; ENDPROC"},
        {"(a = 1)", "PUSHVARIABLEX A; ONE; EQUAL; ENDPROC"},
        {"a <> b .OR. a >= b", "PUSHVARIABLEX A; PUSHVARIABLEX B; NOTEQUAL; PUSHVARIABLEX A; "
                               "PUSHVARIABLEX B; GREATEREQUAL; OR; ENDPROC"},
        {".NOT. a .AND. b", "PUSHVARIABLEX A; NOT; PUSHVARIABLEX B; AND; ENDPROC"},
        {".NOT. a .OR. b .AND. c", "PUSHVARIABLEX A; NOT; PUSHVARIABLEX B; PUSHVARIABLEX C; AND; OR; ENDPROC"},
        {"(.NOT. a = b)", "PUSHVARIABLEX A; PUSHVARIABLEX B; EQUAL; NOT; ENDPROC"},
        {"(a = .NOT. b)", "PUSHVARIABLEX A; PUSHVARIABLEX B; NOT; EQUAL; ENDPROC"},
        {"(a := 1)", "ONE; DUP; POPMEMVARX A; ENDPROC"},
        {"(a := b := 2)", "PUSHWORD 2; DUP; POPMEMVARX B; DUP; POPMEMVARX A; ENDPROC"},
        {"(a += 2 * 3)", "PUSHVARIABLEX A; PUSHWORD 2; PUSHWORD 3; MULT; PLUS; DUP; POPMEMVARX A; ENDPROC"},
        {"(a ^= 2)", "PUSHVARIABLEX A; PUSHWORD 2; POWER; DUP; POPMEMVARX A; ENDPROC"},
        {"(a[1, i] := 5)", "PUSHWORD 5; DUP; PUSHVARIABLEX A; ARRAYGETC 1; PUSHVARIABLEX I; ARRAYPUT; ENDPROC"},
        {"a[i][2]", "PUSHVARIABLEX A; PUSHVARIABLEX I; ARRAYGET; ARRAYGETC 2; ENDPROC"},
        {"(o:name)", "PUSHSYMX NAME; PUSHVARIABLEX O; SEND 0; ENDPROC"},
        {"(o:name := 1)", "PUSHSYMX _NAME; PUSHVARIABLEX O; ONE; SEND 1; ENDPROC"},
        {"(o:m(1, @x))", "PUSHSYMX M; PUSHVARIABLEX O; ONE; PUSHMEMVARREFX X; SEND 2; ENDPROC"},
        {"(1, 2)", "ONE; POP; PUSHWORD 2; ENDPROC"},
        {"&(a)", "PUSHVARIABLEX A; MACROEVAL; ENDPROC"},
        {"x&c.y", "PUSHSTR \"X&C.Y\"; MACROEVAL; ENDPROC"},
        {"x&y(1)", "PUSHSTR \"X&Y\"; MACROSYMBOL; PUSHNIL; ONE; FUNC 1; ENDPROC"},
        {"'a&b'", "PUSHSTR \"a&b\"; MACROTEXT; ENDPROC"},
        {"_GET_(a, b)", "PUSHSYMNILX __GET; PUSHVARIABLEX A; PUSHVARIABLEX B; FUNC 2; ENDPROC"},
    };
    for (const CodeCase& c : cases) EXPECT_EQ(code(c.text), c.code) << c.text;
}

TEST_F(MacroCompile, BuiltInFunctionsAndTheirArgumentRules) {
    const CodeCase cases[] = {
        {"SUBS('abcdef', 2, 3)", "PUSHSTR \"abcdef\"; PUSHWORD 2; PUSHWORD 3; SUBSTR3; ENDPROC"},
        {"substr(a, 2)", "PUSHVARIABLEX A; PUSHWORD 2; SUBSTR2; ENDPROC"},
        {"SUBSTR('a')", "FAIL"},
        {"CMO(1)", "PUSHSYMNILX CMO; ONE; FUNC 1; ENDPROC"},
        {"CMON(1)", "ONE; CMONTH; ENDPROC"},
        {"STR(1)", "ONE; STR1; ENDPROC"},
        {"STR(1,2)", "ONE; PUSHWORD 2; STR2; ENDPROC"},
        {"STR(1,2,3)", "ONE; PUSHWORD 2; PUSHWORD 3; STR3; ENDPROC"},
        {"STR(1,2,3,4)", "FAIL"},
        {"STR()", "FAIL"},
        {"EVAL(b, 1, 2)", "PUSHSYMX EVAL; PUSHVARIABLEX B; ONE; PUSHWORD 2; EVALSEND 2; ENDPROC"},
        {"EVAL(b)", "PUSHSYMX EVAL; PUSHVARIABLEX B; EVALSEND 0; ENDPROC"},
        {"EVAL()", "FAIL"},
        {"INKEY()", "INKEY0; ENDPROC"},
        {"INKE(1)", "ONE; INKEY1; ENDPROC"},
        {"INKEY(1,2)", "FAIL"},
        {"SELECT()", "SELECT0; ENDPROC"},
        {"sele('a')", "PUSHSTR \"a\"; SELECT1; ENDPROC"},
        {"SEL()", "PUSHSYMNILX SEL; FUNC 0; ENDPROC"},
        {"QSUPER()", "QSUPER; ENDPROC"},
        {"QSUPE()", "PUSHSYMNILX QSUPE; FUNC 0; ENDPROC"},
        {"LEN(a)", "PUSHVARIABLEX A; LEN; ENDPROC"},
        {"LEN(a, b)", "FAIL"},
        {"PCOUNT()", "PCOUNT; ENDPROC"},
        {"ABS(-1)", "ONE; NEGATE; ABS; ENDPROC"},
        {"TYPE('x')", "PUSHSTR \"x\"; TYPE; ENDPROC"},
        {"RECC()", "LASTREC; ENDPROC"},
        {"devpos(1, 2)", "ONE; PUSHWORD 2; DEVPOS; ENDPROC"},
        {"&len(a)", "PUSHSYMNILX LEN; PUSHVARIABLEX A; FUNC 1; ENDPROC"},
        {"IIF(a, 1, 2)", "PUSHVARIABLEX A; JUMPFALSE 4; ONE; JUMP 3; PUSHWORD 2; ENDPROC"},
        {"if(a, 'x', f())", "PUSHVARIABLEX A; JUMPFALSE 7; PUSHSTR \"x\"; JUMP 8; PUSHSYMNILX F; FUNC 0; ENDPROC"},
        {"IIF(a, 1)", "FAIL"},
        {"IF", "PUSHVARIABLEX IF; ENDPROC"},
        {"IF + 1", "FAIL"},
    };
    for (const CodeCase& c : cases) EXPECT_EQ(code(c.text), c.code) << c.text;
}

TEST_F(MacroCompile, BlocksAndTheirParameters) {
    const CodeCase cases[] = {
        {"{|| 1}", "PUSHBLOCK 2 {; ONE; ENDBLOCK; }; ENDPROC"},
        {"{|a, b| a + b, x}", "PUSHBLOCK 17 {; FRAME 2 0; PUSHLOCAL 1; PUSHLOCAL 2; PLUS; POP; "
                              "PUSHVARIABLEX X; ENDBLOCK; }; ENDPROC"},
        {"{|a| {|b| a + b}}", "PUSHBLOCK 20 {; FRAME 1 0; PUSHBLOCK 13 {; FRAME 1 0; PUSHVARIABLEX A; "
                              "PUSHLOCAL 1; PLUS; ENDBLOCK; }; ENDBLOCK; }; ENDPROC"},
        {"{|a| (a := 2)}", "PUSHBLOCK 11 {; FRAME 1 0; PUSHWORD 2; DUP; POPLOCAL 1; ENDBLOCK; }; ENDPROC"},
        {"{|a| f(@a)}", "PUSHBLOCK 15 {; FRAME 1 0; PUSHSYMNILX F; PUSHLOCALREF 1; FUNC 1; ENDBLOCK; }; ENDPROC"},
        {"{|a, a| a}", "FAIL"},
        {"{||}", "FAIL"},
        {"{|a|}", "FAIL"},
        {"{|1| 1}", "FAIL"},
    };
    for (const CodeCase& c : cases) EXPECT_EQ(code(c.text), c.code) << c.text;
}

// A parameter name is cut to 57 characters; a reference written the same
// way, however long, finds it.
TEST_F(MacroCompile, LongParameterNamesAreFoundByTheirReferences) {
    std::string name(60, 'P');
    EXPECT_EQ(code("{|" + name + "| " + name + "}"), "PUSHBLOCK 7 {; FRAME 1 0; PUSHLOCAL 1; ENDBLOCK; }; ENDPROC");
    std::string at57(57, 'Q'), at58(58, 'Q');
    EXPECT_EQ(code("{|" + at58 + "| " + at57 + "}"), "PUSHBLOCK 7 {; FRAME 1 0; PUSHLOCAL 1; ENDBLOCK; }; ENDPROC");
}

TEST_F(MacroCompile, AliasedReadsAndStores) {
    const CodeCase cases[] = {
        {"a->b", "PUSHALIASX A; PUSHALIASFIELDX B; ENDPROC"},
        {"M->b", "PUSHMEMVARX B; ENDPROC"},
        {"memva->b", "PUSHMEMVARX B; ENDPROC"},
        {"FIEL->b", "PUSHFIELDX B; ENDPROC"},
        {"_FIE->b", "PUSHFIELDX B; ENDPROC"},
        {"2->b", "PUSHWORD 2; PUSHALIASFIELDX B; ENDPROC"},
        {"&a->b", "PUSHSTR \"A\"; MACROALIAS; PUSHSTR \"B\"; MACROPUSHALIASFIELD; ENDPROC"},
        {"(x)->b", "PUSHVARIABLEX X; PUSHSTR \"B\"; MACROPUSHALIASFIELD; ENDPROC"},
        {"a->(b + 1)", "PUSHALIASX A; ALIASSELECT; PUSHVARIABLEX B; ONE; PLUS; ALIASRESTORE; ENDPROC"},
        {"a->(b, c)", "PUSHALIASX A; ALIASSELECT; PUSHVARIABLEX B; POP; PUSHVARIABLEX C; ALIASRESTORE; ENDPROC"},
        {"M->(b)", "PUSHALIASX M; ALIASSELECT; PUSHVARIABLEX B; ALIASRESTORE; ENDPROC"},
        {"a->b->c", "PUSHALIASX B; PUSHALIASFIELDX C; ENDPROC"},
        {"(a->b := 1)", "ONE; DUP; PUSHALIASX A; POPALIASFIELDX B; ENDPROC"},
        {"(M->b := 1)", "ONE; DUP; POPMEMVARX B; ENDPROC"},
        {"(MEMVAR->b := 1)", "ONE; DUP; PUSHALIASX MEMVAR; POPALIASFIELDX B; ENDPROC"},
        {"(FIELD->b := 1)", "ONE; DUP; POPFIELDX B; ENDPROC"},
        {"(&a->b := 1)", "ONE; DUP; PUSHSTR \"A\"; MACROALIAS; POPALIASFIELDX B; ENDPROC"},
        {"((x)->b := 1)", "ONE; DUP; PUSHVARIABLEX X; PUSHSTR \"B\"; MACROPOPALIASFIELD; ENDPROC"},
        {"(a->b->c := 1)", "ONE; DUP; PUSHALIASX B; POPALIASFIELDX C; ENDPROC"},
        {"(a->(b) := 1)", "FAIL"},
        {"a[1]->b", "FAIL"},
        {"o:x->b", "FAIL"},
        {"'a'->b", "FAIL"},
        {"f()->b", "FAIL"},
        {"a->f()", "FAIL"},
        {"a->&x", "PUSHALIASX A; PUSHALIASFIELDX X; ENDPROC"},
        {"(a->&x := 1)", "ONE; DUP; PUSHALIASX A; POPALIASFIELDX X; ENDPROC"},
    };
    for (const CodeCase& c : cases) EXPECT_EQ(code(c.text), c.code) << c.text;
}

TEST_F(MacroCompile, StoreModeStoresAnAliasedReferenceAtTheTop) {
    EXPECT_EQ(code("a->b", true), "PUSHALIASX A; POPALIASFIELDX B; ENDPROC");
    EXPECT_EQ(code("001->b", true), "ONE; POPALIASFIELDX B; ENDPROC");
    EXPECT_EQ(code("FIELD->b", true), "POPFIELDX B; ENDPROC");
    EXPECT_EQ(code("(a->b)", true), "PUSHALIASX A; PUSHALIASFIELDX B; ENDPROC");
    EXPECT_EQ(code("b", true), "PUSHVARIABLEX B; ENDPROC");
    // the request does not outlive its compile
    EXPECT_EQ(code("a->b"), "PUSHALIASX A; PUSHALIASFIELDX B; ENDPROC");
}

TEST_F(MacroCompile, LongStringsArePushedInPiecesJoinedByPlus) {
    std::string s(600, 'x');
    std::string piece = "PUSHSTR \"" + std::string(255, 'x') + "\"";
    std::string rest = "PUSHSTR \"" + std::string(90, 'x') + "\"";
    EXPECT_EQ(code("'" + s + "'"), piece + "; " + piece + "; PLUS; " + rest + "; PLUS; ENDPROC");
    EXPECT_EQ(code("'" + std::string(255, 'y') + "'"), "PUSHSTR \"" + std::string(255, 'y') + "\"; ENDPROC");
}

TEST_F(MacroCompile, RootTypesAndSyntaxFailures) {
    for (const char* text :
         {"a := 1", "a = 1", "o:name", "@a", "++a", "--a", "(++a)", "a == .NOT. b", "x .NOT. y", "1e5", "1 +",
          "", "   ", "(", "()", "f(", "{1", "a[1", "a[]", ":x", "a:", "a:1", "{|a b| a}", "-", ".NOT.",
          "- .NOT. a", "++ -a", "&1", "&'a'", "&{1}", "&.T.", "a b", "a->", "f(@1)", "f(@a[1])", "(a := 1) b",
          "IF x"})
        EXPECT_EQ(code(text), "FAIL") << text;
    for (const char* text : {"(a := 1)", "(a = 1)", "(o:name)", "(@a)", "a == 1", ".NOT. a", "&a", "&a."})
        EXPECT_NE(code(text), "FAIL") << text;
}

// Sizes that would not fit the 16-bit lengths and distances of pcode make
// the compile fail instead of wrapping.
TEST_F(MacroCompile, CodeThatWouldNotFitFailsToCompile) {
    std::string big = "'" + std::string(40000, 'z') + "'";
    EXPECT_NE(code(big), "FAIL");
    EXPECT_EQ(code(big + "+" + big), "FAIL");               // more than 65,535 bytes of code
    EXPECT_EQ(code("{||" + big + "+" + big + "}"), "FAIL");  // block length
    EXPECT_EQ(code("IIF(a," + big + ",1)"), "FAIL");         // jump distance above 32,767
    EXPECT_EQ(code("IIF(a,1," + big + ")"), "FAIL");
    std::string fits = "'" + std::string(32000, 'z') + "'";
    EXPECT_NE(code("IIF(a," + fits + "," + fits + ")"), "FAIL");
}

TEST_F(MacroCompile, NumbersOfSixtyFourCharactersOrMoreAreZero) {
    EXPECT_EQ(code(std::string(64, '1')), "ZERO; ENDPROC");
    std::string d63 = std::string(62, '1') + "1";
    EXPECT_NE(code(d63), "ZERO; ENDPROC");
}

// Every compile gives back what it allocated; only the symbols it named stay.
TEST_F(MacroCompile, NoCompileLeavesMemoryBehind) {
    const char* texts[] = {"1 + 2 * 3", "{|a, b| f(a, @b)[1]:m(2)}", "a->b->c", "IIF(a, 1)", "{|a, a| a}",
                           "'unclosed", "(a := ", "f(1, 2", "x&y.z(1)", "a ; b", "++a", "a->(b, c) + {1, {2}}",
                           "{|p| p}", "1.5.5"};
    for (const char* t : texts) {
        code(t);  // names its symbols
        int32_t before = memInUse();
        code(t);
        code(std::string("(") + t + ")");
        code(t);
        EXPECT_EQ(memInUse(), before) << t;
    }
}

}  // namespace
