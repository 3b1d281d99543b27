// The rule engine: one table of rule / input / output cases per kind of
// match marker, result marker and optional clause, plus rules that would
// never stop.
#include <gtest/gtest.h>

#include "tests/support/pp_fixture.h"

using xb::pptest::runPp;

namespace {

struct Case {
    const char* rules;   // directives, one per line
    const char* input;   // one statement
    const char* output;  // the line it becomes
};

void runTable(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        auto r = runPp(std::string(c.rules) + "\n" + c.input + "\n");
        EXPECT_TRUE(r.ok) << c.input << "\n" << r.errors();
        EXPECT_EQ(r.text(), c.output) << "rules: " << c.rules << "\ninput: " << c.input;
    }
}

const Case kRegular[] = {
    {"#command SHOW <x> => QOUT(<x>)", "SHOW a + b * 2", "QOUT(a + b * 2)"},
    {"#command SHOW <x> => QOUT(<x>)", "show -a", "QOUT(-a)"},
    {"#command SHOW <x> => QOUT(<x>)", "SHOW", "SHOW"},
    {"#command SHOW <x> => QOUT(<x>)", "SHOW 1 2", "SHOW 1 2"},
    {"#command PUT <x> INTO <y> => <y> := <x>", "PUT f(1, 2)[3] INTO z", "z := f(1, 2)[3]"},
    {"#command PUT <x> INTO <y> => <y> := <x>", "PUT c->name:Len() INTO z", "z := c->name:Len()"},
    {"#command PUT <x> INTO <y> => <y> := <x>", "PUT {|a| a + 1} INTO b", "b := {|a| a + 1}"},
    {"#command PUT <x> INTO <y> => <y> := <x>", "PUT a .AND. !b INTO c", "c := a .AND. !b"},
    {"#command LET <x> = <y> => <x> := <y>", "LET a = b + 1", "a := b + 1"},
    {"#command LET <x> = <y> => <x> := <y>", "LET a[2] = b = c", "a[2] := b = c"},
    // Keywords: case, four-letter abbreviations, full words for #x forms.
    {"#command DISPLAYIT <x> => D(<x>)", "disp 1", "D(1)"},
    {"#command DISPLAYIT <x> => D(<x>)", "DISPLAYI 1", "D(1)"},
    {"#command DISPLAYIT <x> => D(<x>)", "DIS 1", "DIS 1"},
    {"#command DISPLAYIT <x> => D(<x>)", "DISPLAYITS 1", "DISPLAYITS 1"},
    {"#xcommand DISPLAYIT <x> => D(<x>)", "DISP 1", "DISP 1"},
    {"#xcommand DISPLAYIT <x> => D(<x>)", "DisplayIt 1", "D(1)"},
    // A command needs the whole statement; the result's statements are
    // matched again.
    {"#command ONE <x> => F1(<x>)\n#command TWO <x> => F2(<x>)\n#command BOTH <a> => ONE <a> ; TWO <a>", "BOTH 1",
     "F1(1) ; F2(1)"},
    {"#command ONE <x> => F1(<x>)", "x := 1 ; ONE 2", "x := 1 ; F1(2)"},
    // NAME( is a call, not the command.
    {"#command CLOSEIT [<x>] => CL(<x>)", "CLOSEIT()", "CLOSEIT()"},
    {"#command CLOSEIT [<x>] => CL(<x>)", "CLOSEIT (1)", "CL((1))"},
    {"#command CLOSEIT [<x>] => CL(<x>)", "CLOSEIT", "CL()"},
    // Later rules first.
    {"#command GO <n> => G(<n>)\n#command GO TOP => T()", "GO TOP", "T()"},
    {"#command GO TOP => T()\n#command GO <n> => G(<n>)", "GO TOP", "G(TOP)"},
    // Result literals that look like markers.
    {"#command IDX <a> => <a>\\[1\\]", "IDX x", "x[1]"},
    {"#command LESS <a> <b> => <a> < <b>", "LESS x y", "x < y"},
    {"#command KEEP <a> => <a> <nomarker>", "KEEP x", "x <nomarker>"},
};

const Case kList[] = {
    {"#command SHOW <x,...> => QOUT(<x>)", "SHOW a, b(1, 2), {1, 2}", "QOUT(a, b(1, 2), {1, 2})"},
    {"#command SHOW <x,...> => QOUT(<x>)", "SHOW a", "QOUT(a)"},
    {"#command SHOW <x,...> => QOUT(<\"x\">)", "SHOW a, b+1", "QOUT(\"a\", \"b+1\")"},
    {"#command SHOW <x,...> => QOUT(#<x>)", "SHOW a, b", "QOUT(\"a, b\")"},
    {"#command SHOW <x,...> => AEVAL({<{x}>})", "SHOW a, b", "AEVAL({{|| a }, {|| b }})"},
    {"#command SHOW <x,...> => F({<(x)>})", "SHOW a, (b), \"c\"", "F({\"a\", (b), \"c\"})"},
    {"#command SHOW [<x,...>] => QOUT(<x>)", "SHOW", "QOUT()"},
    // Inside an optional result clause a list marker repeats it per item.
    {"#command ZERO <v,...> => [<v> := 0 ; ] NIL", "ZERO a, b[1], c", "a := 0 ; b[1] := 0 ; c := 0 ; NIL"},
    {"#command OUT <v,...> [TO <f>] => [W(<f>, <\"v\">) ; ] NIL", "OUT a, b TO x", "W(x, \"a\") ; W(x, \"b\") ; NIL"},
    {"#command OUT [<v,...>] => [W(<v>) ; ] NIL", "OUT", "NIL"},
};

const Case kRestricted[] = {
    {"#command SET BELL <x:ON,OFF,&> => SETBELL(<(x)>)", "SET BELL ON", "SETBELL(\"ON\")"},
    {"#command SET BELL <x:ON,OFF,&> => SETBELL(<(x)>)", "set bell off", "SETBELL(\"off\")"},
    {"#command SET BELL <x:ON,OFF,&> => SETBELL(<(x)>)", "SET BELL &v", "SETBELL(v)"},
    {"#command SET BELL <x:ON,OFF,&> => SETBELL(<(x)>)", "SET BELL &(a + b)", "SETBELL((a + b))"},
    {"#command SET BELL <x:ON,OFF,&> => SETBELL(<(x)>)", "SET BELL maybe", "SET BELL maybe"},
    {"#command OPEN <f> [<ro:READONLY>] => OPENIT(<f>, <.ro.>)", "OPEN x READONLY", "OPENIT(x, .T.)"},
    {"#command OPEN <f> [<ro:READONLY>] => OPENIT(<f>, <.ro.>)", "OPEN x READ", "OPENIT(x, .T.)"},
    {"#command OPEN <f> [<ro:READONLY>] => OPENIT(<f>, <.ro.>)", "OPEN x", "OPENIT(x, .F.)"},
    {"#command OPEN <f> [<ro:READONLY>] => OPENIT(<f>, <ro>)", "OPEN x readonly", "OPENIT(x, readonly)"},
    {"#command OPEN <f> [<ro:READONLY>] => OPENIT(<f>[, <.ro.>])", "OPEN x", "OPENIT(x)"},
    {"#command TURN <x: LEFT TWICE, RIGHT> => T(#<x>)", "TURN LEFT TWICE", "T(\"LEFT TWICE\")"},
};

const Case kWild[] = {
    {"#command ECHO <*text*> => QOUT(#<text>)", "ECHO hello, world! 1+", "QOUT(\"hello, world! 1+\")"},
    {"#command ECHO <*text*> => QOUT(#<text>)", "ECHO", "QOUT(\"\")"},
    {"#command ECHO <*text*> => QOUT(<\"text\">)", "ECHO say \"hi\"", "QOUT('say \"hi\"')"},
    {"#command ECHO <*text*> TO <f> => W(<f>, #<text>)", "ECHO a b (c TO d) TO f", "W(f, \"a b (c TO d)\")"},
};

const Case kExtended[] = {
    {"#command OPENF <(f)> => OPENFILE(<(f)>)", "OPENF data.txt", "OPENFILE(\"data.txt\")"},
    {"#command OPENF <(f)> => OPENFILE(<(f)>)", "OPENF /tmp/x-1.dbf", "OPENFILE(\"/tmp/x-1.dbf\")"},
    {"#command OPENF <(f)> => OPENFILE(<(f)>)", "OPENF (cDir + cName)", "OPENFILE((cDir + cName))"},
    {"#command OPENF <(f)> => OPENFILE(<(f)>)", "OPENF \"a b.txt\"", "OPENFILE(\"a b.txt\")"},
    {"#command OPENF <(f)> => OPENFILE(<(f)>)", "OPENF &cVar", "OPENFILE(cVar)"},
    {"#command OPENF <(f)> => OPENFILE(<f>)", "OPENF data.txt", "OPENFILE(data.txt)"},
    {"#command OPENF <(f)> [ALIAS <a>] => O(<(f)>, <(a)>)", "OPENF data.txt ALIAS d", "O(\"data.txt\", \"d\")"},
    {"#command OPENF <(f)> [, <(g)>] => O(<(f)> [, <(g)>])", "OPENF a.x, b.y", "O(\"a.x\", \"b.y\")"},
    {"#command OPENR <f> => OPENFILE(<(f)>)", "OPENR abc", "OPENFILE(\"abc\")"},
    {"#command OPENR <f> => OPENFILE(<(f)>)", "OPENR 12", "OPENFILE(12)"},
    {"#command OPENR <f> => OPENFILE(<(f)>)", "OPENR a + b", "OPENFILE(\"a + b\")"},
};

const Case kStringifyBlockify[] = {
    {"#command SAY <x> => QOUT(<\"x\">)", "SAY a = \"b\"", "QOUT('a = \"b\"')"},
    {"#command SAY <x> => QOUT(<\"x\">)", "SAY a = \"b\" + 'c'", "QOUT([a = \"b\" + 'c'])"},
    {"#command SAY <x> => QOUT(#<x>)", "SAY  f( 1 )", "QOUT(\"f( 1 )\")"},
    {"#command SAY [<x>] => QOUT(#<x>)", "SAY", "QOUT(\"\")"},
    {"#command SAY [<x>] => QOUT(<\"x\">)", "SAY", "QOUT()"},
    {"#command EVERY <x> => AEVAL(arr, <{x}>)", "EVERY QOUT(1)", "AEVAL(arr, {|| QOUT(1) })"},
    {"#command EVERY [<x>] => AEVAL(arr, <{x}>)", "EVERY", "AEVAL(arr,)"},
    {"#command HAS [<x>] => F(<.x.>)", "HAS", "F(.F.)"},
    {"#command HAS [<x>] => F(<.x.>)", "HAS anything", "F(.T.)"},
};

const Case kOptional[] = {
    {"#command MAKE <n> [SIZE <s>] [COLOR <c>] [<b:BOLD>] => MK(<n>, <s>, <c>, <.b.>)", "MAKE a", "MK(a,,, .F.)"},
    {"#command MAKE <n> [SIZE <s>] [COLOR <c>] [<b:BOLD>] => MK(<n>, <s>, <c>, <.b.>)",
     "MAKE a COLOR 2 BOLD SIZE 3", "MK(a, 3, 2, .T.)"},
    {"#command MAKE <n> [SIZE <s>] [COLOR <c>] [<b:BOLD>] => MK(<n>, <s>, <c>, <.b.>)", "make a colo 2",
     "MK(a,, 2, .F.)"},
    {"#command MAKE <n> [SIZE <s>] [COLOR <c>] => MK(<n>, <s>, <c>)", "MAKE a SIZE", "MAKE a SIZE"},
    {"#command TAKE <a> [, <b> AS <c>] => T(<a>) [; U(<b>, <c>)]", "TAKE 1, 2 AS 3, 4 AS 5",
     "T(1) ; U(2, 3) ; U(4, 5)"},
    {"#command TAKE <a> [, <b> AS <c>] => T(<a>) [; U(<b>, <c>)]", "TAKE 1", "T(1)"},
    {"#command OPENX <f> [INDEX <i1> [, <iN>]] => O(<f>) [; A(<i1>)] [; A(<iN>)]", "OPENX t INDEX a, b, c",
     "O(t) ; A(a) ; A(b) ; A(c)"},
    {"#command OPENX <f> [INDEX <i1> [, <iN>]] => O(<f>) [; A(<i1>)] [; A(<iN>)]", "OPENX t", "O(t)"},
    {"#command MOVE [<n>] [BY <a>] => MV(<n>, <a>)", "MOVE BY 2", "MV(, 2)"},
    {"#command MOVE [<n>] [BY <a>] => MV(<n>, <a>)", "MOVE 3 BY 2", "MV(3, 2)"},
    {"#command MOVE [<n>] [BY <a>] => MV(<n>, <a>)", "MOVE BY 2 3", "MV(3, 2)"},
    {"#command ASK [<p>] TO <v> => <v> := ASKIT(<p>)", "ASK TO x", "x := ASKIT()"},
    {"#command ASK [<p>] TO <v> => <v> := ASKIT(<p>)", "ASK \"Name\" TO x", "x := ASKIT(\"Name\")"},
    {"#command SUMUP <x1> [, <xN>] TO <v1> [, <vN>] => <v1> := [<vN> := ] 0 ; E(<v1> + <x1> [, <vN> + <xN>])",
     "SUMUP a, b, c TO x, y, z", "x := y := z := 0 ; E(x + a, y + b, z + c)"},
    // A clause holding only markers of the mandatory part is written once.
    {"#command PAIR <a> [WITH <b>] => P(<a>) [; Q(<a>)] [; R(<b>, <a>)]", "PAIR 1", "P(1) ; Q(1)"},
    {"#command PAIR <a> [WITH <b>] => P(<a>) [; Q(<a>)] [; R(<b>, <a>)]", "PAIR 1 WITH 2", "P(1) ; Q(1) ; R(2, 1)"},
};

const Case kTranslate[] = {
    {"#translate SQUARE(<x>) => ((<x>) * (<x>))", "y := SQUARE(a + 1) + 1", "y := ((a + 1) * (a + 1)) + 1"},
    {"#translate SQUARE(<x>) => ((<x>) * (<x>))", "y := squa(2)", "y := ((2) * (2))"},
    {"#xtranslate SQUARE(<x>) => ((<x>) * (<x>))", "y := squa(2)", "y := squa(2)"},
    {"#xtranslate Twice(<x>) => (<x> * 2)", "? Twice(3) + twice(Twice(4))", "? (3 * 2) + ((4 * 2) * 2)"},
    {"#translate :Name => :cName", "x := o:Name + p:Name", "x := o:cName + p:cName"},
    {"#xtranslate .ok. => .T.", "IF .ok. ; x := 1", "IF .T. ; x := 1"},
};

}  // namespace

TEST(PpRules, RegularMarkers) { runTable(kRegular, std::size(kRegular)); }
TEST(PpRules, ListMarkers) { runTable(kList, std::size(kList)); }
TEST(PpRules, RestrictedMarkersAndLogify) { runTable(kRestricted, std::size(kRestricted)); }
TEST(PpRules, WildMarkers) { runTable(kWild, std::size(kWild)); }
TEST(PpRules, ExtendedMarkersAndSmartStringify) { runTable(kExtended, std::size(kExtended)); }
TEST(PpRules, StringifyAndBlockify) { runTable(kStringifyBlockify, std::size(kStringifyBlockify)); }
TEST(PpRules, OptionalClauses) { runTable(kOptional, std::size(kOptional)); }
TEST(PpRules, Translations) { runTable(kTranslate, std::size(kTranslate)); }

TEST(PpRules, UntouchedLinesKeepTheirText) {
    auto r = runPp("#command SHOW <x> => QOUT(<x>)\n   x :=   1  \n  SHOW 2\n");
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0].text, "   x :=   1  ");
    EXPECT_FALSE(r.lines[0].expanded);
    EXPECT_EQ(r.lines[0].line, 2);
    EXPECT_EQ(r.lines[1].text, "QOUT(2)");
    EXPECT_TRUE(r.lines[1].expanded);
    EXPECT_EQ(r.lines[1].line, 3);
}

TEST(PpRules, RulesThatNeverStopEndWithAnError) {
    const char* loops[] = {
        "#command A1 <x> => A1 <x>\nA1 1\n",
        "#translate T1 => T1 T1\nx := T1\n",
        "#command P <x> => Q <x>\n#command Q <x> => P <x>\nP 1\n",
        "#define AA BB\n#define BB AA\nx := AA\n",
        "#translate GROW(<x,...>) => GROW(<x>, <x>)\nx := GROW(1)\n",
    };
    for (const char* src : loops) {
        auto r = runPp(src);
        EXPECT_FALSE(r.ok) << src;
        ASSERT_EQ(r.diags.size(), 1u) << src << r.errors();
        EXPECT_EQ(r.diags[0].file, "test.prg");
        // The line the programmer wrote: the last one of each source.
        int last = 0;
        for (const char* p = src; *p; ++p) last += *p == '\n';
        EXPECT_EQ(r.diags[0].line, last) << src;
        EXPECT_TRUE(r.diags[0].message.find("1000") != std::string::npos ||
                    r.diags[0].message.find("20000") != std::string::npos)
            << r.diags[0].message;
        EXPECT_TRUE(r.lines.empty()) << src;
    }
}

TEST(PpRules, LoopErrorNamesTheFirstLineOfAContinuedStatement) {
    auto r = runPp("#command A1 <x> => A1 <x>\n\nA1 1 + ;\n  2\n");
    ASSERT_EQ(r.diags.size(), 1u);
    EXPECT_EQ(r.diags[0].line, 3);
    EXPECT_EQ(r.diags[0].message,
              "rules and definitions used more than 1000 times on this line (the last one #command A1): a rule "
              "keeps matching its own result");
    auto d = runPp("#define AA BB\n#define BB AA\nx := AA\n");
    ASSERT_EQ(d.diags.size(), 1u);
    EXPECT_NE(d.diags[0].message.find("(the last one #define "), std::string::npos) << d.diags[0].message;
    auto t = runPp("#translate GROW(<x,...>) => GROW(<x>, <x>)\nx := GROW(1)\n");
    ASSERT_EQ(t.diags.size(), 1u);
    EXPECT_EQ(t.diags[0].message, "the rules made this line longer than 20000 tokens (the last one #translate GROW)");
}

TEST(PpRules, AResultThatStopsMatchingEnds) {
    // GROW(1) becomes GROW(1, 1), which the pattern no longer takes.
    auto r = runPp("#translate GROW(<x>) => GROW(<x>, <x>)\nx := GROW(1)\n");
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), "x := GROW(1, 1)");
}

TEST(PpRules, BadRulesAreReported) {
    struct Bad {
        const char* rule;
        const char* message;
    } bad[] = {
        {"#command FOO <x>", "#command: rule without '=>'"},
        {"#command => FOO", "#command: rule with an empty pattern"},
        {"#command FOO [<x> => F()", "#command: '[' without its ']' in the rule's pattern"},
        {"#command FOO <x>] => F()", "#command: ']' without its '[' in the rule's pattern"},
        {"#command FOO <x> => F([<x>)", "#command: '[' without its ']' in the rule's result"},
        {"#command <x> FOO => F()", "#command: a rule's pattern must start with a word or symbol"},
        {"#command FOO <x:> => F()", "#command: restricted marker <x:> lists no word"},
        {"#translate FOO [[[[[[[[[[[[[[[[[[<x>]]]]]]]]]]]]]]]]]] => F()", "#translate: optional clauses nested too deeply"},
    };
    for (const Bad& b : bad) {
        auto r = runPp(std::string("x := 1\n") + b.rule + "\n");
        EXPECT_FALSE(r.ok) << b.rule;
        EXPECT_EQ(r.errors(), std::string("test.prg:2: error: ") + b.message);
    }
}
