// The rules are filed by the first byte of their first keyword; a line must
// still meet every rule that may start it, latest first, the call's own
// before the standard ones, in any case and abbreviation.
#include <gtest/gtest.h>

#include "tests/support/pp_fixture.h"

using xb::pptest::runPp;

namespace {

struct Case {
    const char* rules;   // directives, one per line
    const char* input;   // one statement
    const char* output;  // the line it becomes
};

const Case kIndexed[] = {
    // Same first byte, different keywords: each finds its own.
    {"#command SHOW <x> => A(<x>)\n#command SAY <x> => B(<x>)", "SAY 1", "B(1)"},
    {"#command SHOW <x> => A(<x>)\n#command SAY <x> => B(<x>)", "show 1", "A(1)"},
    // Same keyword twice: the later rule wins.
    {"#command SHOW <x> => A(<x>)\n#command SHOW <x> => B(<x>)", "SHOW 1", "B(1)"},
    {"#command SHOW <x> => B(<x>)\n#command SHOW <x> => A(<x>)", "SHOW 1", "A(1)"},
    // A later rule of another keyword does not hide an earlier one.
    {"#command SHOW <x> => A(<x>)\n#command SAY <x> => B(<x>)\n#command TELL <x> => C(<x>)", "Show 2", "A(2)"},
    // Rules written in lower case are filed under the upper-case byte.
    {"#command show <x> => A(<x>)", "SHOW 1", "A(1)"},
    {"#translate twice(<x>) => (<x> * 2)", "y := TWICE(3)", "y := (3 * 2)"},
    // Four letters of a longer keyword, in any case.
    {"#command DISPLAYIT <x> => D(<x>)", "dISP 1", "D(1)"},
    {"#command DISPLAYIT <x> => D(<x>)", "DIS 1", "DIS 1"},
    // #x forms: the whole keyword.
    {"#xcommand DISPLAYIT <x> => D(<x>)", "DISP 1", "DISP 1"},
    // Rules that start with something other than a name.
    {"#command @ <r>, <c> SAY <x> => P(<r>, <c>, <x>)", "@ 1, 2 SAY 3", "P(1, 2, 3)"},
    {"#command @ <r>, <c> SAY <x> => P(<r>, <c>, <x>)\n#command SAY <x> => B(<x>)", "@ 1, 2 SAY 3", "P(1, 2, 3)"},
    {"#command @ <r>, <c> SAY <x> => P(<r>, <c>, <x>)\n#command SAY <x> => B(<x>)", "SAY 3", "B(3)"},
    // Translations at any token, not only the first.
    {"#translate TWICE(<x>) => (<x> * 2)\n#translate THRICE(<x>) => (<x> * 3)", "y := 1 + THRICE(2) + TWICE(1)",
     "y := 1 + (2 * 3) + (1 * 2)"},
    // A name no rule starts with is left alone.
    {"#command SHOW <x> => A(<x>)", "QOUT(1)", "QOUT(1)"},
    {"#command _SHOW <x> => A(<x>)", "_show 1", "A(1)"},
};

TEST(PpRuleIndex, EveryRuleThatMayStartALineIsTried) {
    for (const Case& c : kIndexed) {
        auto r = runPp(std::string(c.rules) + "\n" + c.input + "\n");
        EXPECT_TRUE(r.ok) << c.input << "\n" << r.errors();
        EXPECT_EQ(r.text(), c.output) << "rules: " << c.rules << "\ninput: " << c.input;
    }
}

// A program's own rule comes before a standard command of the same keyword,
// and the standard ones still apply to the other lines.
TEST(PpRuleIndex, OwnRulesComeBeforeTheStandardOnes) {
    auto plain = runPp("PACK\nSKIP\n? 1\n", true);
    ASSERT_TRUE(plain.ok) << plain.errors();
    ASSERT_EQ(plain.lines.size(), 3u);
    EXPECT_NE(plain.lines[0].text, "PACK");
    EXPECT_NE(plain.lines[1].text, "SKIP");
    EXPECT_EQ(plain.lines[2].text, "QOUT(1)");
    auto own = runPp("#command PACK => MYPACK()\n#command ? <x> => MYOUT(<x>)\nPACK\nSKIP\n? 1\npack\n", true);
    ASSERT_TRUE(own.ok) << own.errors();
    ASSERT_EQ(own.lines.size(), 4u);
    EXPECT_EQ(own.lines[0].text, "MYPACK()");
    EXPECT_EQ(own.lines[1].text, plain.lines[1].text);
    EXPECT_EQ(own.lines[2].text, "MYOUT(1)");
    EXPECT_EQ(own.lines[3].text, "MYPACK()");
}

}  // namespace
