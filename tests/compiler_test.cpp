// The source compiler: the pcode each statement and expression makes, the
// symbol table, the limits that are errors, and the diagnostics.
#include "tests/support/compile_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/asm/disassembler.h"

namespace {

using namespace xb;

// The procedure's pcode, one instruction per "; "-separated item, without
// the disassembler's comments; blocks as "PUSHBLOCK n { ... }".
std::string shape(const pcasm::AsmModule& m, const char* proc) {
    const pcasm::AsmProc* p = pcasm::findProc(m, proc);
    if (!p) return std::string("<no procedure ") + proc + ">";
    std::string text = pcasm::disassemble(m.code + p->offset, p->length, m.pristine, m.count);
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(at, nl - at);
        at = nl + 1;
        size_t c = line.find("  ;");
        if (c != std::string::npos) line.resize(c);
        size_t b = line.find_first_not_of(' ');
        if (b == std::string::npos) continue;
        if (!out.empty()) out += "; ";
        out += line.substr(b);
    }
    return out;
}

std::string compileShape(const std::string& source, const char* proc = "P") {
    test::Compiled c("t.prg", source);
    if (!c.ok) return "<errors> " + c.errors;
    return shape(c.program.modules[0], proc);
}

struct ShapeCase {
    const char* name;
    const char* source;
    const char* expected;
};

const ShapeCase kShapes[] = {
    {"EmptyProcedure", "PROCEDURE P\n", "LINE 0; ENDPROC"},
    {"ReturnWithoutValue", "PROCEDURE P\nRETURN\n", "LINE 0; LINE 2; JUMP 0; ENDPROC"},
    {"LocalWithoutInitialiserEmitsNothing", "PROCEDURE P\nLOCAL x\nx := 1\n",
     "LINE 0; FRAME 0 1; LINE 3; ONE; POPLOCAL 1; ENDPROC"},
    {"LocalInitialisers", "PROCEDURE P\nLOCAL a := 0, b, c := 7\n",
     "LINE 0; FRAME 0 3; LINE 2; ZERO; POPLOCAL 1; PUSHWORD 7; POPLOCAL 3; ENDPROC"},
    {"ParametersThenLocals", "FUNCTION P(a, b)\nLOCAL c := a\nRETURN c\n",
     "LINE 0; FRAME 2 1; LINE 2; PUSHLOCAL 1; POPLOCAL 3; LINE 3; PUSHLOCAL 3; POPRET; JUMP 0; ENDPROC"},
    {"IncrementStatementHasNoDup", "PROCEDURE P\nLOCAL x\nx++\n--x\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; INC; POPLOCAL 1; LINE 4; PUSHLOCAL 1; DEC; POPLOCAL 1; ENDPROC"},
    {"CompoundAssignmentStatement", "PROCEDURE P\nLOCAL x\nx += 2\nx ^= 3\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; PUSHWORD 2; PLUS; POPLOCAL 1; LINE 4; PUSHLOCAL 1; PUSHWORD 3; POWER; POPLOCAL 1; ENDPROC"},
    {"AssignmentValueIsDuplicated", "PROCEDURE P\nLOCAL x, y\ny := x := 2\n",
     "LINE 0; FRAME 0 2; LINE 3; PUSHWORD 2; DUP; POPLOCAL 1; POPLOCAL 2; ENDPROC"},
    {"PostfixValue", "PROCEDURE P\nLOCAL x, y\ny := x++\n",
     "LINE 0; FRAME 0 2; LINE 3; PUSHLOCAL 1; DUP; INC; POPLOCAL 1; POPLOCAL 2; ENDPROC"},
    {"PrefixValue", "PROCEDURE P\nLOCAL x, y\ny := ++x\n",
     "LINE 0; FRAME 0 2; LINE 3; PUSHLOCAL 1; INC; DUP; POPLOCAL 1; POPLOCAL 2; ENDPROC"},
    {"EqualSignAssignsAsAStatement", "PROCEDURE P\nLOCAL x\nx = 5\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHWORD 5; POPLOCAL 1; ENDPROC"},
    {"IntegerConstants", "PROCEDURE P\nF(0, 1, 2, 9999, 10000, 32767, -1, -32768)\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; ZERO; ONE; PUSHWORD 2; PUSHWORD 9999; PUSHINT 10000; PUSHINT 32767; PUSHINT -1; PUSHDOUBLE 10 0 32768; NEGATE; DO 8; ENDPROC"},
    {"DoubleConstants", "PROCEDURE P\nF(32768, 1.5, 123.25, -2.5)\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; PUSHDOUBLE 10 0 32768; PUSHDOUBLE 12 1 1.5; PUSHDOUBLE 13 2 123.25; "
     "PUSHDOUBLE 12 1 2.5; NEGATE; DO 4; ENDPROC"},
    {"ChrOfAConstantIsFolded", "PROCEDURE P\nF(CHR(65), CHR(300), CHR(n))\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; PUSHSTR \"A\"; PUSHWORD 300; CHR; PUSHVARIABLE 3; CHR; DO 3; ENDPROC"},
    {"CallAsStatementIsDo", "PROCEDURE P\nF(1)\nx := F(2)\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; ONE; DO 1; LINE 3; PUSHSYMNIL 2; PUSHWORD 2; FUNC 1; POPMEMVAR 3; ENDPROC"},
    {"InlineBuiltinsAndAbbreviations", "PROCEDURE P\nx := SUBS(UPPE(y), 2) + LEN(y)\n",
     "LINE 0; LINE 2; PUSHVARIABLE 3; UPPER; PUSHWORD 2; SUBSTR2; PUSHVARIABLE 3; LEN; PLUS; POPMEMVAR 2; ENDPROC"},
    {"OpcodesWithoutHandlersAreCalledByName", "PROCEDURE P\nx := INKEY() + PCOL()\n",
     "LINE 0; LINE 2; PUSHSYMNIL 3; FUNC 0; PUSHSYMNIL 4; FUNC 0; PLUS; POPMEMVAR 2; ENDPROC"},
    {"EvalIsASend", "PROCEDURE P\nLOCAL b\nEVAL(b, 1)\nb:Eval(2)\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHSYM 2; PUSHLOCAL 1; ONE; EVALSEND 1; POP; LINE 4; PUSHSYM 2; PUSHLOCAL 1; "
     "PUSHWORD 2; EVALSEND 1; POP; ENDPROC"},
    {"WholeConditionEqualToAnInteger", "PROCEDURE P\nLOCAL x\nIF x == 3\nF()\nENDIF\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; PUSHWORD 3; JUMPNOTEQUAL 9; LINE 4; PUSHSYMNIL 2; DO 0; ENDPROC"},
    {"EqualityInsideAndIsExactEqual", "PROCEDURE P\nLOCAL x\nIF x == 3 .AND. x\nENDIF\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; PUSHWORD 3; EXACTEQUAL; JUMPFALSEKEEP 3; PUSHLOCAL 1; "
     "JUMPFALSE 0; ENDPROC"},
    {"OrShortCircuits", "PROCEDURE P\nLOCAL a, b\na := a .OR. b\n",
     "LINE 0; FRAME 0 2; LINE 3; PUSHLOCAL 1; JUMPTRUEKEEP 3; PUSHLOCAL 2; POPLOCAL 1; ENDPROC"},
    {"IfElseIfElse", "PROCEDURE P\nLOCAL x\nIF x\nF(1)\nELSEIF x\nF(2)\nELSE\nF(3)\nENDIF\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; JUMPFALSE 13; LINE 4; PUSHSYMNIL 2; ONE; DO 1; JUMP 33; PUSHLOCAL 1; JUMPFALSE 15; LINE 6; PUSHSYMNIL 2; PUSHWORD 2; DO 1; JUMP 12; LINE 8; PUSHSYMNIL 2; PUSHWORD 3; DO 1; ENDPROC"},
    {"DoWhileWithExitAndLoop", "PROCEDURE P\nLOCAL x\nDO WHILE x\nIF x\nEXIT\nENDIF\nLOOP\nENDDO\n",
     "LINE 0; FRAME 0 1; LINE 3; IDLE; PUSHLOCAL 1; JUMPFALSE 24; LINE 4; PUSHLOCAL 1; JUMPFALSE 6; LINE 5; JUMP 9; LINE 7; JUMP -28; JUMP -31; ENDPROC"},
    {"ForWithoutStep", "PROCEDURE P\nLOCAL i\nFOR i := 1 TO 3\nNEXT\n",
     "LINE 0; FRAME 0 1; LINE 3; ONE; POPLOCAL 1; IDLE; PUSHLOCAL 1; PUSHWORD 3; LESSEQUAL; JUMPFALSE 10; PUSHLOCAL 1; INC; POPLOCAL 1; JUMP -21; ENDPROC"},
    {"ForWithNegativeStep", "PROCEDURE P\nLOCAL i\nFOR i := 3 TO 1 STEP -1\nNEXT\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHWORD 3; POPLOCAL 1; IDLE; PUSHLOCAL 1; ONE; GREATEREQUAL; JUMPFALSE 13; PUSHLOCAL 1; PUSHINT -1; PLUS; POPLOCAL 1; JUMP -22; ENDPROC"},
    {"ForWithAStepKnownAtRunTime", "PROCEDURE P\nLOCAL i, s\nFOR i := 1 TO 9 STEP s\nNEXT\n",
     "LINE 0; FRAME 0 2; LINE 3; ONE; POPLOCAL 1; IDLE; PUSHLOCAL 2; ZERO; LESS; JUMPTRUE 10; PUSHLOCAL 1; PUSHWORD 9; LESSEQUAL; JUMP 7; PUSHLOCAL 1; PUSHWORD 9; GREATEREQUAL; JUMPFALSE 13; PUSHLOCAL 1; PUSHLOCAL 2; PLUS; POPLOCAL 1; JUMP -42; ENDPROC"},
    {"DoCase", "PROCEDURE P\nLOCAL x\nDO CASE\nCASE x == 1\nF(1)\nCASE x\nF(2)\nOTHERWISE\nF(3)\nENDCASE\n",
     "LINE 0; FRAME 0 1; LINE 4; PUSHLOCAL 1; ONE; JUMPNOTEQUAL 13; LINE 5; PUSHSYMNIL 2; ONE; DO 1; JUMP 36; LINE 6; PUSHLOCAL 1; JUMPFALSE 15; LINE 7; PUSHSYMNIL 2; PUSHWORD 2; DO 1; JUMP 12; LINE 9; PUSHSYMNIL 2; PUSHWORD 3; DO 1; ENDPROC"},
    {"SequenceWithRecover", "PROCEDURE P\nLOCAL e\nBEGIN SEQUENCE\nBREAK 5\nRECOVER USING e\nEND SEQUENCE\n",
     "LINE 0; FRAME 0 1; LINE 3; SEQBEGIN 11; LINE 4; PUSHWORD 5; BREAK; SEQEND; JUMP 4; PUSHRET; POPLOCAL 1; "
     "ENDPROC"},
    {"SequenceWithoutRecover", "PROCEDURE P\nBEGIN SEQUENCE\nF()\nEND\n",
     "LINE 0; LINE 2; SEQBEGIN 10; LINE 3; PUSHSYMNIL 2; DO 0; SEQEND; ENDPROC"},
    {"ReturnLeavesOpenSequences", "FUNCTION P\nBEGIN SEQUENCE\nBEGIN SEQUENCE\nRETURN 1\nEND\nEND\n",
     "LINE 0; LINE 2; SEQBEGIN 18; LINE 3; SEQBEGIN 11; LINE 4; ONE; POPRET; SEQEND; SEQEND; JUMP 2; SEQEND; SEQEND; ENDPROC"},
    {"BlockWithParameterAndOuterLocal", "PROCEDURE P\nLOCAL n\nn := {|x| x + n}\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHBLOCK 14 {; FRAME 1 0; LINE 3; PUSHLOCAL 1; PUSHOUTER 1; PLUS; ENDBLOCK; "
     "}; DETACHLOCALS; POPLOCAL 1; ENDPROC"},
    {"BlockWithoutParametersOrLocals", "PROCEDURE P\nx := {|| 1, 2}\n",
     "LINE 0; LINE 2; PUSHBLOCK 9 {; LINE 2; ONE; POP; PUSHWORD 2; ENDBLOCK; }; POPMEMVAR 2; ENDPROC"},
    {"NestedBlockUsingAProcedureLocal", "PROCEDURE P\nLOCAL n\nn := {|| {|| n}}\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHBLOCK 15 {; LINE 3; PUSHBLOCK 7 {; LINE 3; PUSHOUTER 1; ENDBLOCK; }; "
     "DETACHLOCALS; ENDBLOCK; }; DETACHLOCALS; POPLOCAL 1; ENDPROC"},
    {"SendsAndAssignmentToData", "PROCEDURE P\nLOCAL o\no:Show(1)\no:Size := 2\nx := o:Size\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHSYM 2; PUSHLOCAL 1; ONE; SEND 1; POP; LINE 4; PUSHSYM 3; PUSHLOCAL 1; PUSHWORD 2; SEND 1; POP; LINE 5; PUSHSYM 5; PUSHLOCAL 1; SEND 0; POPMEMVAR 4; ENDPROC"},
    {"Subscripts", "PROCEDURE P\nLOCAL a, i\na[1] := a[i, 2]\na[i] := 0\n",
     "LINE 0; FRAME 0 2; LINE 3; PUSHLOCAL 1; PUSHLOCAL 2; ARRAYGET; ARRAYGETC 2; PUSHLOCAL 1; ARRAYPUTC 1; "
     "LINE 4; ZERO; PUSHLOCAL 1; PUSHLOCAL 2; ARRAYPUT; ENDPROC"},
    {"References", "PROCEDURE P\nLOCAL a\nF(@a, @m)\nDO G WITH a, 1\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHSYMNIL 2; PUSHLOCALREF 1; PUSHMEMVARREF 3; DO 2; LINE 4; PUSHSYMNIL 4; "
     "PUSHLOCALREF 1; ONE; DO 2; ENDPROC"},
    {"MemvarsAndFields", "MEMVAR m\nFIELD f IN Cust\nPROCEDURE P\nFIELD g\nm := f + g + M->z + Cust->h\n",
     "LINE 0; LINE 5; PUSHALIAS 3; PUSHALIASFIELD 4; PUSHFIELD 5; PLUS; PUSHMEMVAR 6; PLUS; PUSHALIAS 3; PUSHALIASFIELD 7; PLUS; POPMEMVAR 2; ENDPROC"},
    {"AliasedExpression", "PROCEDURE P\nx := Cust->(F())\n",
     "LINE 0; LINE 2; PUSHALIAS 3; ALIASSELECT; PUSHSYMNIL 4; FUNC 0; ALIASRESTORE; POPMEMVAR 2; ENDPROC"},
    {"PublicAndPrivateLists", "PROCEDURE P\nPUBLIC a, b := 1\nPRIVATE c\n",
     "LINE 0; LINE 2; PUSHSYM 2; PUBLIC 1; ONE; PUSHSYM 3; PUBLIC 1; POPMEMVAR 3; LINE 3; PUSHSYM 4; "
     "PRIVATE 1; ENDPROC"},
    {"Parameters", "PROCEDURE P\nPARAMETERS a, b\n? a\n",
     "LINE 0; FRAME 2 0; LINE 2; PUSHSYM 2; PUSHSYM 3; PARAMETERS 2; LINE 3; PUSHSYMNIL 4; PUSHMEMVAR 2; DO 1; "
     "ENDPROC"},
    {"ConsoleOutput", "PROCEDURE P\n?\n?? 1, 2\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; DO 0; LINE 3; PUSHSYMNIL 3; ONE; PUSHWORD 2; DO 2; ENDPROC"},
    {"Macros", "PROCEDURE P\nLOCAL c\nx := &c + &(c)\n&c := 1\n? \"a&c.b\"\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; MACROEVAL; PUSHLOCAL 1; MACROEVAL; PLUS; POPMEMVAR 2; LINE 4; ONE; PUSHLOCAL 1; MACROASSIGN; LINE 5; PUSHSYMNIL 3; PUSHSTR \"a&c.b\"; MACROTEXT; DO 1; ENDPROC"},
    {"Iif", "PROCEDURE P\nLOCAL a\na := IIF(a, 1, 2)\n",
     "LINE 0; FRAME 0 1; LINE 3; PUSHLOCAL 1; JUMPFALSE 4; ONE; JUMP 3; PUSHWORD 2; POPLOCAL 1; ENDPROC"},
    {"ArrayLiteralWithEmptyItems", "PROCEDURE P\nx := {1, , {}}\n",
     "LINE 0; LINE 2; ONE; PUSHNIL; ARRAYGEN 0; ARRAYGEN 3; POPMEMVAR 2; ENDPROC"},
    {"StringForms", "PROCEDURE P\nF('a', [b], \"\")\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; PUSHSTR \"a\"; PUSHSTR \"b\"; PUSHEMPTYSTR; DO 3; ENDPROC"},
    {"AbbreviatedKeywordsInAnyCase", "func P(a)\nloca b := a\nretu b\n",
     "LINE 0; FRAME 1 1; LINE 2; PUSHLOCAL 1; POPLOCAL 2; LINE 3; PUSHLOCAL 2; POPRET; JUMP 0; ENDPROC"},
    {"Comments", "PROCEDURE P // the end\n* a whole line\nNOTE another\n&& and another\nF() /* inline */ && tail\n",
     "LINE 0; LINE 5; PUSHSYMNIL 2; DO 0; ENDPROC"},
    {"ContinuationAndSeveralStatements", "PROCEDURE P\nF(1, ;\n  2); F(3)\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; ONE; PUSHWORD 2; DO 2; LINE 2; PUSHSYMNIL 2; PUSHWORD 3; DO 1; ENDPROC"},
    {"Utf8TextBecomesWindows1252", "PROCEDURE P\nF(\"\xC3\xA9\xE2\x82\xAC\")\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; PUSHSTR \"\\xE9\\x80\"; DO 1; ENDPROC"},
    {"OtherBytesStayWindows1252", "PROCEDURE P\nF(\"\xE9\")\n",
     "LINE 0; LINE 2; PUSHSYMNIL 2; PUSHSTR \"\\xE9\"; DO 1; ENDPROC"},
};

class CompilerShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CompilerShape, Pcode) { EXPECT_EQ(compileShape(GetParam().source), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Compiler, CompilerShape, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<ShapeCase>& i) { return std::string(i.param.name); });

TEST(CompilerStatics, InitialisedByTheModulesStaticsProcedure) {
    test::Compiled c("t.prg", "STATIC s := 5\nPROCEDURE P\nSTATIC t := {1, \"a\"}\n? s, t\n");
    ASSERT_TRUE(c.ok) << c.errors;
    const pcasm::AsmModule& m = c.program.modules[0];
    EXPECT_EQ(shape(m, "P"), "LINE 0; STATICSBASE 3; LINE 4; PUSHSYMNIL 2; PUSHSTATIC 1; PUSHSTATIC 2; DO 2; ENDPROC");
    EXPECT_EQ(shape(m, "STATICS$"),
              "LINE 0; PUSHWORD 2; STATICSALLOC 3; STATICSBASE 3; LINE 1; PUSHWORD 5; POPSTATIC 1; LINE 3; ONE; "
              "PUSHSTR \"a\"; ARRAYGEN 2; POPSTATIC 2; ENDPROC");
    // STATICS$ is the last entry, an initialisation procedure of this module.
    ASSERT_EQ(m.count, 4u);
    EXPECT_STREQ(m.pristine[3].name, "STATICS$");
    EXPECT_EQ(m.pristine[3].scope, 2);
}

TEST(CompilerSymbols, OrderOfFirstAppearanceWithScopes) {
    test::Compiled c("t.prg",
                       "PROCEDURE Main\nHelper(x)\nRETURN\n"
                       "STATIC FUNCTION Helper(a)\nRETURN Other(a):Msg\n"
                       "INIT PROCEDURE Boot\nREQUEST Extra\nRETURN\nEXIT PROCEDURE Done\n");
    ASSERT_TRUE(c.ok) << c.errors;
    const pcasm::AsmModule& m = c.program.modules[0];
    const char* names[] = {"MAIN", "HELPER", "X", "OTHER", "MSG", "BOOT$", "EXTRA", "DONE$"};
    const uint8_t scopes[] = {0, 1, 0, 0, 0, 2, 0, 4};
    const bool defined[] = {true, true, false, false, false, true, false, true};
    ASSERT_EQ(m.count, std::size(names) + 1);
    for (size_t i = 0; i < std::size(names); ++i) {
        EXPECT_STREQ(m.pristine[i + 1].name, names[i]);
        EXPECT_EQ(m.pristine[i + 1].scope, scopes[i]) << names[i];
        EXPECT_EQ(pcasm::findProc(m, names[i]) != nullptr, defined[i]) << names[i];
    }
}

TEST(CompilerSymbols, StatementsBeforeTheFirstProcedureFormOneNamedAfterTheFile) {
    test::Compiled c("dir/my-prog.prg", "? 1\nF()\nPROCEDURE F\n");
    ASSERT_TRUE(c.ok) << c.errors;
    EXPECT_STREQ(c.program.modules[0].pristine[1].name, "MY_PROG");
    EXPECT_EQ(shape(c.program.modules[0], "MY_PROG"),
              "LINE 0; LINE 1; PUSHSYMNIL 2; ONE; DO 1; LINE 2; PUSHSYMNIL 3; DO 0; ENDPROC");
}

TEST(CompilerLines, LinesBeyond65535AreRecordedAs65535) {
    std::string src = "PROCEDURE P\n" + std::string(65533, '\n') + "F(1)\nF(2)\nF(3)\n";
    test::Compiled c("t.prg", src);
    ASSERT_TRUE(c.ok) << c.errors;
    EXPECT_EQ(shape(c.program.modules[0], "P"),
              "LINE 0; LINE 65535; PUSHSYMNIL 2; ONE; DO 1; LINE 65535; PUSHSYMNIL 2; PUSHWORD 2; DO 1; "
              "LINE 65535; PUSHSYMNIL 2; PUSHWORD 3; DO 1; ENDPROC");
}

TEST(CompilerStrings, LongLiteralsArePiecesJoinedWithPlus) {
    std::string text(600, 'x');
    test::Compiled c("t.prg", "PROCEDURE P\nF(\"" + text + "\")\n");
    ASSERT_TRUE(c.ok) << c.errors;
    std::string s = shape(c.program.modules[0], "P");
    std::string piece255 = "PUSHSTR \"" + std::string(255, 'x') + "\"";
    std::string piece90 = "PUSHSTR \"" + std::string(90, 'x') + "\"";
    EXPECT_EQ(s, "LINE 0; LINE 2; PUSHSYMNIL 2; " + piece255 + "; " + piece255 + "; PLUS; " + piece90 +
                     "; PLUS; DO 1; ENDPROC");
}

// ----- errors -----

struct ErrorCase {
    const char* name;
    const char* source;
    const char* expected;  // the formatted diagnostics
};

const ErrorCase kErrors[] = {
    {"SyntaxErrorWithColumn", "PROCEDURE P\nx := (1 +\n", "t.prg:2:10: error: expression expected\n"},
    {"UnexpectedText", "PROCEDURE P\nx := 1 2\n", "t.prg:2:8: error: unexpected text after the statement\n"},
    {"UnclosedIf", "PROCEDURE P\nIF .T.\n", "t.prg:2: error: IF is not closed\n"},
    {"MismatchedEnd", "PROCEDURE P\nIF .T.\nENDDO\nENDIF\n",
     "t.prg:3:1: error: ENDDO without DO WHILE (the open IF is at line 2)\n"},
    {"ExitOutsideALoop", "PROCEDURE P\nEXIT\n", "t.prg:2:1: error: EXIT outside a loop\n"},
    {"DeclarationAfterStatement", "PROCEDURE P\n? 1\nLOCAL x\n",
     "t.prg:3:1: error: LOCAL declaration follows executable statements\n"},
    {"LocalTwice", "PROCEDURE P\nLOCAL x, x\n", "t.prg:2:10: error: variable X is declared twice\n"},
    {"StaticNeedsAConstant", "PROCEDURE P\nSTATIC s := F()\n",
     "t.prg:2:13: error: STATIC S needs a constant initialiser\n"},
    {"ProcedureTwice", "PROCEDURE P\nPROCEDURE P\n", "t.prg:2:11: error: procedure P is defined twice (first at line 1)\n"},
    {"WrongBuiltinArgumentCount", "PROCEDURE P\nx := LEN(1, 2)\n", "t.prg:2:6: error: wrong number of arguments to LEN\n"},
    {"IifNeedsThree", "PROCEDURE P\nx := IIF(1, 2)\n", "t.prg:2:6: error: IIF needs three arguments\n"},
    {"AssignToAConstant", "PROCEDURE P\n1 := 2\n", "t.prg:2:3: error: cannot assign to this expression\n"},
    {"UnterminatedString", "PROCEDURE P\n? \"abc\n", "t.prg:2:3: error: unterminated string\n"},
    {"BadCharacter", "PROCEDURE P\n? 1 \\ 2\n", "t.prg:2:5: error: unexpected character '\\'\n"},
    {"NestedBlockParameter", "PROCEDURE P\nx := {|a| {|| a}}\n",
     "t.prg:2:15: error: parameter A of an enclosing block cannot be used in a nested block\n"},
    {"FirstEntryMustBePublic", "STATIC PROCEDURE P\n",
     "t.prg:1: error: the program starts with the first procedure of the first file, which must be a public "
     "procedure\n"},
    {"StaticInitialiserThenAnError", "STATIC s := 1, 2\nPROCEDURE P\n", "t.prg:1:16: error: expected a variable name\n"},
    {"ByReferenceNeedsAVariable", "PROCEDURE P\nF(@1)\n", "t.prg:2:4: error: expected a variable after @\n"},
};

class CompilerErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CompilerErrors, Reported) {
    test::Compiled c("t.prg", GetParam().source);
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(c.program.modules.empty());
    EXPECT_EQ(c.errors, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Compiler, CompilerErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<ErrorCase>& i) { return std::string(i.param.name); });

TEST(CompilerErrors, AtMostTwentyPerFile) {
    std::string src = "PROCEDURE P\n";
    for (int i = 0; i < 30; ++i) src += "x := )\n";
    test::Compiled c(test::Files{{"t.prg", src}, {"u.prg", "PROCEDURE Q\nx := )\n"}});
    EXPECT_FALSE(c.ok);
    int inT = 0, inU = 0;
    for (const pp::Diagnostic& d : c.diags) (d.file == "t.prg" ? inT : inU) += 1;
    EXPECT_EQ(inT, pp::MAX_ERRORS_PER_FILE);
    EXPECT_EQ(inU, 1);
}

TEST(CompilerErrors, PublicProcedureDefinedInTwoFiles) {
    test::Compiled c(test::Files{{"a.prg", "PROCEDURE Main\nPROCEDURE Both\n"}, {"b.prg", "STATIC PROCEDURE Main\nPROCEDURE Both\n"}});
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.errors, "b.prg:2: error: procedure BOTH is also defined in a.prg at line 2\n");
}

TEST(CompilerErrors, AppMainLiftsTheFirstEntryRule) {
    test::Compiled c(test::Files{{"a.prg", "STATIC PROCEDURE Helper\n"}, {"b.prg", "PROCEDURE _AppMain\n"}});
    EXPECT_TRUE(c.ok) << c.errors;
}

TEST(CompilerWarnings, UndeclaredVariablesAndUnreachableCode) {
    test::Compiled c("t.prg", "PROCEDURE P\nLOCAL a\na := b\nRETURN\n? a\n", true);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.errors,
              "t.prg:3:6: warning: variable B is not declared\nt.prg:5:1: warning: unreachable code\n");
    test::Compiled quiet("t.prg", "PROCEDURE P\nLOCAL a\na := b\nRETURN\n? a\n");
    EXPECT_EQ(quiet.errors, "");
}

// ----- limits -----

std::string names(const char* prefix, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? ", " : "") + std::string(prefix) + std::to_string(i);
    return s;
}

TEST(CompilerLimits, ParametersPlusLocals) {
    test::Compiled ok("t.prg", "PROCEDURE P(" + names("p", 100) + ")\nLOCAL " + names("l", 155) + "\n");
    EXPECT_TRUE(ok.ok) << ok.errors;
    test::Compiled bad("t.prg", "PROCEDURE P(" + names("p", 100) + ")\nLOCAL " + names("l", 156) + "\n");
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.errors.find("more than 255 parameters and locals in P"), std::string::npos) << bad.errors;
}

TEST(CompilerLimits, CallArguments) {
    test::Compiled ok("t.prg", "PROCEDURE P\nF(" + names("a", 255) + ")\n");
    EXPECT_TRUE(ok.ok) << ok.errors;
    test::Compiled bad("t.prg", "PROCEDURE P\nF(" + names("a", 256) + ")\n");
    EXPECT_EQ(bad.errors, "t.prg:2:1: error: more than 255 arguments\n");
    test::Compiled send("t.prg", "PROCEDURE P\no:M(" + names("a", 256) + ")\n");
    EXPECT_EQ(send.errors, "t.prg:2:1: error: more than 255 arguments\n");
}

TEST(CompilerLimits, ArrayLiteralElements) {
    std::string items;
    for (int i = 0; i < 65536; ++i) items += i ? ",1" : "1";
    test::Compiled bad("t.prg", "PROCEDURE P\nx := {" + items + "}\n");
    EXPECT_EQ(bad.errors, "t.prg:2:6: error: array literal with more than 65535 elements\n");
}

TEST(CompilerLimits, JumpsBeyond32KB) {
    std::string body;
    for (int i = 0; i < 150; ++i) body += "F(\"" + std::string(250, 'y') + "\")\n";
    test::Compiled bad("t.prg", "PROCEDURE P\nIF .T.\n" + body + "ENDIF\n");
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.errors.rfind("t.prg:2:1: error: cannot generate code: ", 0), 0u) << bad.errors;
}

TEST(CompilerLimits, CodeOver64KB) {
    std::string body;
    for (int i = 0; i < 300; ++i) body += "F(\"" + std::string(250, 'y') + "\")\n";
    test::Compiled bad("t.prg", "PROCEDURE P\n" + body);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.errors, "t.prg:1: error: procedure P has more than 64 KB of code\n");
}

TEST(CompilerLimits, DeeplyNestedExpressionsAreAnErrorNotACrash) {
    std::string deep(100000, '(');
    test::Compiled bad("t.prg", "PROCEDURE P\nx := " + deep + "1\n");
    EXPECT_FALSE(bad.ok);
}

}  // namespace
