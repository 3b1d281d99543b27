#include "base/casemap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace xb;

int cmp(const std::string& a, const std::string& b) {
    return collateCompare(a.data(), b.data(), a.size(), b.size());
}

bool inCaseRange(int c) {  // lower-case positions that have an upper-case partner
    return (c >= 'a' && c <= 'z') || (c >= 224 && c <= 239) || (c >= 241 && c <= 246) ||
           (c >= 248 && c <= 254);
}

TEST(CaseMap, UpperAndLowerAreInversePairsOverTheirRanges) {
    for (int c = 0; c < 256; ++c) {
        const uint8_t b = static_cast<uint8_t>(c);
        if (inCaseRange(c)) {
            EXPECT_EQ(toUpper(b), c - 32) << c;
            EXPECT_EQ(toLower(toUpper(b)), c) << c;
            EXPECT_EQ(toUpper(b - 32), c - 32) << c;
        } else if (!inCaseRange(c + 32)) {
            EXPECT_EQ(toUpper(b), c) << c;
            EXPECT_EQ(toLower(b), c) << c;
        }
    }
}

TEST(CaseMap, EdgeBytesStayThemselves) {
    EXPECT_EQ(toUpper(0xF1), 0xD1);  // n tilde
    EXPECT_EQ(toLower(0xD1), 0xF1);
    for (uint8_t c : {0xD0, 0xF0, 0xD7, 0xF7, 0xDF, 0xFF, 0x80, 0x8A, 0x9A, 0x9F, 0xBF, 0x00, 0x40, 0x5B, 0x60, 0x7B}) {
        EXPECT_EQ(toUpper(c), c) << int(c);
        EXPECT_EQ(toLower(c), c) << int(c);
    }
    EXPECT_EQ(toUpper('a'), 'A');
    EXPECT_EQ(toUpper('z'), 'Z');
    EXPECT_EQ(toLower('A'), 'a');
    EXPECT_EQ(toLower('Z'), 'z');
    EXPECT_EQ(toUpper(0xE0), 0xC0);
    EXPECT_EQ(toUpper(0xFE), 0xDE);
}

TEST(CaseMap, TextMappingInPlaceAndCopied) {
    char buf[] = "ma\xF1" "ana \xE9xito \xFF\xDF 9";
    upperText(buf, buf, std::strlen(buf));
    EXPECT_STREQ(buf, "MA\xD1" "ANA \xC9XITO \xFF\xDF 9");
    char out[32] = {};
    lowerText(out, buf, std::strlen(buf));
    EXPECT_STREQ(out, "ma\xF1" "ana \xE9xito \xFF\xDF 9");
    // Length is honoured exactly: embedded zeros are mapped, the tail untouched.
    char raw[4] = {'a', '\0', 'b', 'c'};
    upperText(raw, raw, 3);
    EXPECT_EQ(std::string(raw, 4), std::string("A\0Bc", 4));
}

TEST(CharClassTable, FlagsOfTheTable) {
    EXPECT_EQ(charClass('S'), ccLetter | ccYes);
    EXPECT_EQ(charClass('y'), ccLetter | ccYes);
    EXPECT_EQ(charClass('N'), ccLetter | ccNo);
    EXPECT_EQ(charClass('f'), ccLetter | ccNo);
    EXPECT_EQ(charClass('A'), ccLetter);
    EXPECT_EQ(charClass('$'), ccCurrency);
    EXPECT_EQ(charClass('\t'), ccBlank);
    EXPECT_EQ(charClass(' '), ccBlank);
    EXPECT_EQ(charClass('7'), ccDigit);
    EXPECT_EQ(charClass(164), ccLetter);
    EXPECT_EQ(charClass(165), ccLetter);
    EXPECT_EQ(charClass(241), 0);  // n tilde in Windows-1252 is not classed
    EXPECT_EQ(charClass(209), 0);
    EXPECT_EQ(charClass('_'), 0);
    EXPECT_EQ(charClass(0), 0);
    int letters = 0, yes = 0, no = 0;
    for (int c = 0; c < 256; ++c) {
        letters += (charClass(uint8_t(c)) & ccLetter) != 0;
        yes += (charClass(uint8_t(c)) & ccYes) != 0;
        no += (charClass(uint8_t(c)) & ccNo) != 0;
    }
    EXPECT_EQ(letters, 52 + 16);
    EXPECT_EQ(yes, 6);
    EXPECT_EQ(no, 4);
}

TEST(SortWeights, SpanishLetterOrder) {
    EXPECT_LT(cmp("N", "\xD1"), 0);
    EXPECT_LT(cmp("\xD1", "O"), 0);
    EXPECT_LT(cmp("n", "\xF1"), 0);
    EXPECT_LT(cmp("\xF1", "o"), 0);
    EXPECT_LT(cmp("Z", "a"), 0);
    EXPECT_GT(cmp("\xC7", "Z"), 0);  // C cedilla after Z, not with C
    EXPECT_GT(cmp("\xC7", "D"), 0);
    EXPECT_GT(cmp("\xE7", "z"), 0);
    EXPECT_LT(cmp("\xFF", "z"), 0);  // y diaeresis with y
    EXPECT_EQ(cmp("\xE1nimo", "animo"), 0);
    EXPECT_EQ(cmp("\xC1\xC9\xCD\xD3\xDA\xDD", "AEIOUY"), 0);
    EXPECT_EQ(cmp("\xE1\xE9\xED\xF3\xFA\xFD", "aeiouy"), 0);
    EXPECT_NE(cmp("\xE1", "A"), 0);  // case stays distinct
    EXPECT_LT(cmp("pi\xF1" "a", "pizza"), 0);
}

TEST(SortWeights, WeightsOrderEveryAsciiByteLikeTheRules) {
    // Below 'O' nothing moves; from 'O' to 'n' one slot up; from 'o' on two.
    for (int c = 0; c < 191; ++c) {
        const char a = char(c), b = char(c + 1);
        EXPECT_EQ(cmp(std::string(1, a), std::string(1, b)), -1) << c;
    }
    EXPECT_LT(cmp("\xBF", "\xC7"), 0);
}

TEST(Collate, PrefixesAndLengths) {
    EXPECT_EQ(cmp("abc", "abd"), -1);
    EXPECT_EQ(cmp("abd", "abc"), 1);
    EXPECT_EQ(collateCompare("abc", "ab", 3, 2), 0);
    EXPECT_EQ(collateCompare("", "x", 0, 1), 0);
    // Equal weights after the first difference keep going.
    EXPECT_EQ(cmp("\xE1" "b", "ac"), -1);
    EXPECT_EQ(cmp("\xE1" "c", "ab"), 1);
    // Bytes past the shorter length are never read into the answer.
    EXPECT_EQ(collateCompare("abX", "abY", 2, 2), 0);
    // High bytes are unsigned: 0xD1 weighs less than 'o' but more than 'N'.
    EXPECT_EQ(cmp("\xD1", "N"), 1);
    EXPECT_EQ(cmp("\xF1", "o"), -1);
}

TEST(CharTests, UpperLowerAlphaDigit) {
    EXPECT_TRUE(isUpperChar('A'));
    EXPECT_TRUE(isUpperChar(0xC0));  // A grave counts as upper case
    EXPECT_TRUE(isUpperChar(0xD1));
    EXPECT_FALSE(isUpperChar(0xD0));
    EXPECT_FALSE(isUpperChar('a'));
    EXPECT_TRUE(isLowerChar('z'));
    EXPECT_TRUE(isLowerChar(0xF1));
    EXPECT_FALSE(isLowerChar(0xFF));
    EXPECT_FALSE(isLowerChar(0xDF));
    EXPECT_TRUE(isAlphaChar('q'));
    EXPECT_TRUE(isAlphaChar('Q'));
    EXPECT_FALSE(isAlphaChar(0xD1));
    EXPECT_FALSE(isAlphaChar('@'));
    EXPECT_FALSE(isAlphaChar('['));
    EXPECT_TRUE(isDigitChar('0'));
    EXPECT_TRUE(isDigitChar('9'));
    EXPECT_FALSE(isDigitChar('/'));
    EXPECT_FALSE(isDigitChar(':'));
    EXPECT_FALSE(isDigitChar(0xB2));  // superscript two
}


// Against the definition (weights compared position by position) on texts
// that share prefixes of every length up to past two words, differing in a
// byte of equal or different weight, at lengths around the word size.
TEST(Collate, MatchesThePlainWeightComparisonOverLongSharedPrefixes) {
    const char diffs[][2] = {{'a', 'b'}, {'a', '\xE1'}, {'\xD1', 'N'}, {'z', 'Z'}, {'0', '9'}, {'x', 'x'}};
    for (size_t prefix = 0; prefix < 20; ++prefix) {
        for (const auto& d : diffs) {
            for (size_t tail = 0; tail < 10; ++tail) {
                std::string a(prefix, 'k'), b(prefix, 'k');
                for (size_t i = 0; i < prefix; ++i) a[i] = b[i] = char('a' + (i * 7) % 26);
                a += d[0];
                b += d[1];
                a += std::string(tail, tail % 2 ? 'm' : '\xE9');
                b += std::string(tail, tail % 2 ? 'm' : 'e');
                int want = 0;
                for (size_t i = 0; i < a.size() && want == 0; ++i) {
                    int wa = sortWeight(uint8_t(a[i])), wb = sortWeight(uint8_t(b[i]));
                    want = wa < wb ? -1 : wa > wb;
                }
                ASSERT_EQ(cmp(a, b), want) << prefix << " " << tail;
                ASSERT_EQ(cmp(b, a), -want) << prefix << " " << tail;
            }
        }
    }
}

}  // namespace
