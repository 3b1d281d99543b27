// The macro lexer: token kinds and lengths, in-place normalisation of the
// work text, the subscript/string choice for '[', numbers and dotted words,
// longest-match operators, the token limit and the texts it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro/lexer.h"

using namespace xb::macro;

namespace {

// "kind:text kind:text ...", or "FAIL".
std::string lex(std::string text, std::string* normalised = nullptr) {
    std::vector<char> work(text.begin(), text.end());
    work.push_back(0);
    std::vector<MacroToken> tokens(TOKEN_ARRAY_SIZE);
    if (!tokenize(work.data(), tokens.data())) return "FAIL";
    if (normalised) *normalised = work.data();
    std::string out;
    for (const MacroToken& t : tokens) {
        if (t.kind == TK_END) {
            EXPECT_EQ(t.length, 0);
            EXPECT_EQ(t.text, nullptr);
            break;
        }
        if (!out.empty()) out += ' ';
        out += std::to_string(t.kind) + ":" + std::string(t.text, t.length);
        if (t.macroFlag) out += "&";
    }
    return out;
}

struct LexCase {
    const char* text;
    const char* tokens;
};

TEST(MacroLexer, TokensByFirstCharacter) {
    const LexCase cases[] = {
        {"a[1]", "6:A 18:[ 2:1 19:]"},
        {"[abc]", "3:[abc]"},
        {"x := [1]", "6:X 55::= 3:[1]"},
        {"f()[2]", "6:F 16:( 17:) 18:[ 2:2 19:]"},
        {"{1}[1]", "20:{ 2:1 21:} 18:[ 2:1 19:]"},
        {"nil", "1:NIL"},
        {"Nil", "1:NIL"},
        {"NILS", "6:NILS"},
        {"NIL1", "6:NIL1"},
        {"&nil", "86:& 6:NIL"},
        {"a.and.b", "6:A 63:.AND. 6:B"},
        {"a .Or. b", "6:A 62:.OR. 6:B"},
        {".not. a", "64:.NOT. 6:A"},
        {".t.", "4:.T."},
        {".y.", "4:.Y."},
        {".F.", "5:.F."},
        {".n.", "5:.N."},
        {"1.5", "2:1.5"},
        {"1.", "2:1."},
        {".5", "2:.5"},
        {"1.AND.2", "2:1 63:.AND. 2:2"},
        {"1e5", "2:1 6:E5"},
        {"x&y.z", "6:X&Y.Z&"},
        {"x.y", "6:X 87:. 6:Y"},
        {"a->b", "6:A 85:-> 6:B"},
        {"a**=2", "6:A 61:**= 2:2"},
        {"a**2", "6:A 78:** 2:2"},
        {"a^=2", "6:A 61:^= 2:2"},
        {"a!=b", "6:A 71:!= 6:B"},
        {"!a", "64:! 6:A"},
        {"a#b<>c", "6:A 71:# 6:B 71:<> 6:C"},
        {"a<=b>=c<d>e", "6:A 69:<= 6:B 70:>= 6:C 67:< 6:D 68:> 6:E"},
        {"a==b=c", "6:A 66:== 6:B 65:= 6:C"},
        {"--a++", "54:-- 6:A 53:++"},
        {"a-=1", "6:A 57:-= 2:1"},
        {"a+=b*=c/=d%=e", "6:A 56:+= 6:B 58:*= 6:C 59:/= 6:D 60:%= 6:E"},
        {"a$b%c/d", "6:A 72:$ 6:B 77:% 6:C 76:/ 6:D"},
        {"{|a|a}", "20:{ 24:| 6:A 24:| 6:A 21:}"},
        {"o:m(@x)", "6:O 25:: 6:M 16:( 47:@ 6:X 17:)"},
        {"'it''s'", "3:'it' 3:'s'"},
        {"\"a'b\"", "3:\"a'b\""},
        {"_a1\tb", "6:_A1 6:B"},
    };
    for (const LexCase& c : cases) EXPECT_EQ(lex(c.text), c.tokens) << c.text;
}

TEST(MacroLexer, RefusedTexts) {
    for (const char* text : {"1.5.5", "'abc", "\"abc", "[abc", "a ; b", "a ? b", "a \\ b", "a ~ b", "a\nb",
                             "\x80", "a \xF1"})
        EXPECT_EQ(lex(text), "FAIL") << text;
}

TEST(MacroLexer, NormalisesTheWorkTextInPlace) {
    std::string out;
    ASSERT_NE(lex("nil + abc.and.x&y. + 'low' + .t.", &out), "FAIL");
    EXPECT_EQ(out, "NIL + ABC.AND.X&Y. + 'low' + .T.");
}

TEST(MacroLexer, AtMost255Tokens) {
    std::string text = "1";
    for (int i = 1; i < 128; ++i) text += "+1";  // 255 tokens
    EXPECT_NE(lex(text), "FAIL");
    EXPECT_EQ(lex(text + "+"), "FAIL");
}

TEST(MacroLexer, TokenLengthsAreSixteenBits) {
    EXPECT_NE(lex("'" + std::string(65533, 'x') + "'"), "FAIL");
    EXPECT_EQ(lex("'" + std::string(65534, 'x') + "'"), "FAIL");
}

}  // namespace
