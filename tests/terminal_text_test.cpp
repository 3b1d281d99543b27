// The conversion of Windows-1252 texts for a UTF-8 terminal, both ways, and
// the reading of locale names.
#include "runtime/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace xb;

namespace {

struct Case {
    std::string cp1252, utf8;
};

const Case CASES[] = {
    {"plain ASCII 0-9\t\n", "plain ASCII 0-9\t\n"},
    {"\xE1\xE9\xED\xF3\xFA\xF1\xD1\xFC", "\xC3\xA1\xC3\xA9\xC3\xAD\xC3\xB3\xC3\xBA\xC3\xB1\xC3\x91\xC3\xBC"},
    {"\xA0\xA9\xBF\xFF", "\xC2\xA0\xC2\xA9\xC2\xBF\xC3\xBF"},
    {"\x80", "\xE2\x82\xAC"},              // euro sign
    {"\x85\x91\x92\x93\x94", "\xE2\x80\xA6\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D"},
    {"\x8A\x9A\x8C\x9C\x9F", "\xC5\xA0\xC5\xA1\xC5\x92\xC5\x93\xC5\xB8"},
    {"\x96\x97\x99", "\xE2\x80\x93\xE2\x80\x94\xE2\x84\xA2"},
    {std::string("a\0b", 3), std::string("a\0b", 3)},
};

TEST(TerminalText, Cp1252ToUtf8Table) {
    for (const Case& c : CASES) EXPECT_EQ(cp1252ToUtf8(c.cp1252.data(), uint32_t(c.cp1252.size())), c.utf8) << c.cp1252;
}

TEST(TerminalText, Utf8BackToCp1252Table) {
    for (const Case& c : CASES) EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp1252) << c.cp1252;
}

TEST(TerminalText, EveryByteRoundTripsExceptTheUndefinedFive) {
    for (int b = 0; b < 256; ++b) {
        char in = char(b);
        std::string u = cp1252ToUtf8(&in, 1);
        bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        if (undefined) {
            EXPECT_EQ(u, "\xEF\xBF\xBD") << b;  // U+FFFD
            EXPECT_EQ(utf8ToCp1252(u), "?") << b;
        } else {
            EXPECT_EQ(utf8ToCp1252(u), std::string(1, in)) << b;
            EXPECT_LE(u.size(), 3u);
        }
    }
}

TEST(TerminalText, BufferFormWritesAtMostThreeBytesPerByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    std::string out(all.size() * 3, '\0');
    uint32_t n = cp1252ToUtf8(all.data(), uint32_t(all.size()), out.data());
    out.resize(n);
    EXPECT_EQ(out, cp1252ToUtf8(all.data(), uint32_t(all.size())));
}

TEST(TerminalText, Utf8ThatIsNotValidOrNotInTheCodePage) {
    EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD"), "?");           // a character the code page lacks
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80"), "?");       // outside the basic plane
    EXPECT_EQ(utf8ToCp1252("a\xC3"), "a\xC3");              // cut short: kept as bytes
    EXPECT_EQ(utf8ToCp1252("\xC3(x"), "\xC3(x");            // no continuation byte
    EXPECT_EQ(utf8ToCp1252("\xFF\xFE"), "\xFF\xFE");        // never UTF-8
    EXPECT_EQ(utf8ToCp1252("\xC2\x85"), "?");               // a C1 control has no byte here
}

TEST(TerminalText, LocaleNames) {
    struct L {
        const char* value;
        bool utf8;
    } const cases[] = {
        {"C.UTF-8", true},       {"en_US.UTF-8", true}, {"es_ES.utf8", true}, {"de_DE.UTF-8@euro", true},
        {"C", false},            {"POSIX", false},      {"es_ES.ISO-8859-1", false},
        {"es_ES", false},        {"", false},           {"UTF-8", false},    {"x.UTF-88", false},
    };
    for (const L& c : cases) EXPECT_EQ(localeIsUtf8(c.value), c.utf8) << c.value;
}

TEST(TerminalText, OnlyStandardHandlesAreEverConverted) {
    // a handle that is neither standard output nor standard error
    EXPECT_FALSE(convertsForDisplay(os::INVALID));
    EXPECT_EQ(displayForTerminal(os::INVALID, "\xE9"), "\xE9");
}

}  // namespace
