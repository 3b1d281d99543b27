#include "base/picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/dates.h"

namespace {

using namespace xb;

uint32_t dateText(void* context, int32_t day, char* out) {
    return static_cast<uint32_t>(dateFormat(day, static_cast<const char*>(context), out));
}

TransformContext contextFor(const char* format, NumberSettings numbers = {false, 2}) {
    return TransformContext{numbers, DateFormatter{dateText, const_cast<char*>(format)}};
}

const TransformContext kDefaults = contextFor("MM/DD/YY");

// TRANSFORM into a buffer of exactly the size asked for, followed by guard
// bytes that must stay untouched.
std::string tf(const TransformValue& v, const char* pic, const TransformContext& ctx = kDefaults) {
    const uint32_t picLen = pic ? static_cast<uint32_t>(std::strlen(pic)) : 0;
    const uint32_t size = transformBufferSize(v, pic, picLen, ctx);
    std::vector<char> buf(size + 8, '\x7f');
    uint32_t len = 12345;
    EXPECT_TRUE(transform(v, pic, picLen, ctx, buf.data(), size, &len));
    EXPECT_LE(len, size);
    for (uint32_t i = size; i < size + 8; ++i) EXPECT_EQ(buf[i], '\x7f') << "written past the buffer";
    return std::string(buf.data(), len <= size ? len : 0);
}

TransformValue num(double x, uint16_t width = 0, uint16_t decimals = 0) {
    TransformValue v{};
    v.kind = ValueKind::Number;
    v.number = x;
    v.width = width;
    v.decimals = decimals;
    return v;
}
TransformValue integer(int32_t n, uint16_t width = 10) {
    TransformValue v = num(n, width, 0);
    v.isInteger = true;
    return v;
}
TransformValue text(const char* s) {
    TransformValue v{};
    v.kind = ValueKind::Text;
    v.text = s;
    v.length = static_cast<uint32_t>(std::strlen(s));
    return v;
}
TransformValue date(int32_t day) {
    TransformValue v{};
    v.kind = ValueKind::Date;
    v.date = day;
    return v;
}
TransformValue logical(bool b) {
    TransformValue v{};
    v.kind = ValueKind::Logical;
    v.logical = b;
    return v;
}

const int32_t kJuly4 = dateFromYmd(1999, 7, 4, 1900);

TEST(PictureFunctions, FlagsScrollWidthAndTemplateStart) {
    PictureFunctions f;
    const char* p = "@!()ABCDEKRXZ 999";
    EXPECT_EQ(readPictureFunctions(p, 17, &f), 14u);
    EXPECT_TRUE(f.upperCase && f.parenthesesLeft && f.parenthesesRight && f.alphaOnly &&
                f.leftJustify && f.credit && f.dateTemplate && f.european && f.clearOnKey &&
                f.insertLiterals && f.debit && f.blankZero);
    EXPECT_EQ(f.scrollWidth, 0);
    // Letters through the upper-case table; unknown letters ignored.
    EXPECT_EQ(readPictureFunctions("@rqs12z", 7, &f), 7u);
    EXPECT_TRUE(f.insertLiterals && f.blankZero);
    EXPECT_FALSE(f.upperCase || f.european);
    EXPECT_EQ(f.scrollWidth, 12);
    EXPECT_EQ(readPictureFunctions("@S999999 X", 10, &f), 9u);
    EXPECT_EQ(f.scrollWidth, 65535);
    f.european = true;
    EXPECT_EQ(readPictureFunctions("99@E", 4, &f), 0u);
    EXPECT_FALSE(f.european);
    EXPECT_EQ(readPictureFunctions(nullptr, 0, &f), 0u);
}

TEST(PictureTemplates, PlaceholdersByKind) {
    for (const char* s = "9#ALNXY!alnxy"; *s; ++s) EXPECT_TRUE(isPlaceholder(PictureKind::Text, *s)) << *s;
    EXPECT_FALSE(isPlaceholder(PictureKind::Text, '*'));
    EXPECT_FALSE(isPlaceholder(PictureKind::Text, '-'));
    for (const char* s = "9#*$"; *s; ++s) {
        EXPECT_TRUE(isPlaceholder(PictureKind::Number, *s));
        EXPECT_TRUE(isPlaceholder(PictureKind::Date, *s));
    }
    EXPECT_FALSE(isPlaceholder(PictureKind::Number, 'X'));
    EXPECT_FALSE(isPlaceholder(PictureKind::Number, '.'));
    EXPECT_TRUE(isPlaceholder(PictureKind::Logical, 'y'));
    EXPECT_FALSE(isPlaceholder(PictureKind::Logical, '9'));
    char t[11];
    EXPECT_EQ(std::string(t, dateTemplate(kDefaults.dates, t)), "99/99/99");
    EXPECT_EQ(std::string(t, dateTemplate(contextFor("dd.mm.yyyy").dates, t)), "99.99.9999");
    EXPECT_EQ(dateTemplate(DateFormatter{nullptr, nullptr}, t), 0u);
}

TEST(TransformNumber, SeparatorsAndDecimals) {
    EXPECT_EQ(tf(num(1234.5, 6, 1), "9,999.99"), "1,234.50");
    EXPECT_EQ(tf(num(1234.5, 6, 1), "@E 9,999.99"), "1.234,50");
    EXPECT_EQ(tf(num(3.14159), "99.999"), " 3.142");
    EXPECT_EQ(tf(num(5), "9,999"), "    5");
    EXPECT_EQ(tf(num(1234.5, 6, 1), "@E"), "1234,5");
    // Overflow keeps the template's shape.
    EXPECT_EQ(tf(num(12345.6), "99.9"), "**.*");
    EXPECT_EQ(tf(num(123456), "999"), "***");
}

TEST(TransformNumber, DecimalsOnlyTemplate) {
    EXPECT_EQ(tf(num(0.5, 4, 1), ".99"), ".50");
    EXPECT_EQ(tf(num(0), ".99"), ".00");
    EXPECT_EQ(tf(num(0.994), ".99"), ".99");
    EXPECT_EQ(tf(num(1.5), ".99"), ".**");
    EXPECT_EQ(tf(num(-0.5), ".99"), ".**");
}

TEST(TransformNumber, SignMovesPastSeparators) {
    EXPECT_EQ(tf(num(-123), "99,999"), "  -123");
    EXPECT_EQ(tf(num(-1234), "99,999"), "-1,234");
    EXPECT_EQ(tf(num(-5), "9,9"), " -5");
    EXPECT_EQ(tf(num(-12), "$9,99"), "$ -12");
    EXPECT_EQ(tf(num(-12), "*9,99"), "**-12");
}

TEST(TransformNumber, StarAndDollarFill) {
    EXPECT_EQ(tf(num(12), "***99"), "***12");
    EXPECT_EQ(tf(num(12), "**999"), "** 12");
    EXPECT_EQ(tf(num(5), "*,***"), "****5");
    EXPECT_EQ(tf(num(12), "$$,$$$"), "$$ $12");
    EXPECT_EQ(tf(num(-12), "$$,$$$"), "$$ -12");
}

TEST(TransformNumber, Parentheses) {
    EXPECT_EQ(tf(num(-5), "@( 999"), "( 5)");
    EXPECT_EQ(tf(num(-5), "@) 999"), " (5)");
    EXPECT_EQ(tf(num(5), "@( 999"), "  5");
    // No blank in front: the '(' is inserted and the leading digit kept.
    EXPECT_EQ(tf(num(-123), "@( 999"), "(123)");
    EXPECT_EQ(tf(num(-123), "@) 999"), "(123)");
    EXPECT_EQ(tf(num(-5), "@(B 999"), "(5) ");
    EXPECT_EQ(tf(num(-5), "@)B 999"), "(5) ");
}

TEST(TransformNumber, CreditAndDebit) {
    EXPECT_EQ(tf(num(-5), "@X 999"), "  5 DB");
    EXPECT_EQ(tf(num(5), "@X 999"), "  5");
    EXPECT_EQ(tf(num(5), "@C 999"), "  5 CR");
    EXPECT_EQ(tf(num(-5), "@C 999"), " -5");
    EXPECT_EQ(tf(num(0), "@CX 999"), "  0");
    EXPECT_EQ(tf(num(-5), "@(X 999"), "( 5) DB");
}

TEST(TransformNumber, BlankZeroAndLeftJustify) {
    EXPECT_EQ(tf(num(0), "@Z 999"), "   ");
    EXPECT_EQ(tf(num(0), "@Z 9.99"), "    ");
    EXPECT_EQ(tf(num(0.001), "@Z 9.99"), "0.00");
    EXPECT_EQ(tf(num(5), "@B 999"), "5  ");
    EXPECT_EQ(tf(num(12), "@B $$$$"), "$$12");
}

TEST(TransformNumber, WidthRules) {
    // Without a template: the item's shape, the default rule when it has none.
    EXPECT_EQ(tf(integer(-5), nullptr), "        -5");
    EXPECT_EQ(tf(integer(-5, 0), ""), "         -5");  // as a double: decimals + 11
    EXPECT_EQ(tf(integer(-5), nullptr, contextFor("MM/DD/YY", {true, 2})), "        -5.00");
    EXPECT_EQ(tf(num(5.25, 0, 2), nullptr), "         5.25");
    EXPECT_EQ(tf(num(1, 200, 0), nullptr), std::string(199, ' ') + "1");
    // A template's width is capped at 64; its extra placeholders stay blank.
    const std::string wide(70, '9');
    EXPECT_EQ(tf(num(5), wide.c_str()), std::string(63, ' ') + "5" + std::string(6, ' '));
}

TEST(TransformText, TemplatesAndInsertLiterals) {
    EXPECT_EQ(tf(text("abc"), "X-X"), "a-c");
    EXPECT_EQ(tf(text("abc"), "@R X-X"), "a-b");
    EXPECT_EQ(tf(text("5551234"), "@R (999) 999"), "(555) 123");
    EXPECT_EQ(tf(text("ab"), "@R X-XX"), "a-b ");
    EXPECT_EQ(tf(text("ab"), "XXXX"), "ab");
    EXPECT_EQ(tf(text("abcdef"), "XXX"), "abc");
    const std::string longText(100, 'q');
    EXPECT_EQ(tf(text(longText.c_str()), nullptr), longText);
}

TEST(TransformText, UpperCase) {
    EXPECT_EQ(tf(text("abc"), "@!"), "ABC");
    EXPECT_EQ(tf(text("abc"), "!X!"), "AbC");
    EXPECT_EQ(tf(text("\xF1" "and\xFA"), "@!"), "\xD1" "AND\xDA");
    EXPECT_EQ(tf(text("abc"), "@! X-X"), "A-C");
}

TEST(TransformText, YesNoLetters) {
    EXPECT_EQ(tf(logical(true), "Y"), "Y");
    EXPECT_EQ(tf(logical(false), "Y"), "N");
    EXPECT_EQ(tf(logical(true), "y"), "Y");
    EXPECT_EQ(tf(logical(true), "L"), "T");
    EXPECT_EQ(tf(logical(false), nullptr), "F");
    EXPECT_EQ(tf(text("sixT"), "YYYY"), "YNNY");
}

TEST(TransformDate, DateTemplateAndEuropean) {
    EXPECT_EQ(tf(date(kJuly4), nullptr), "07/04/99");
    EXPECT_EQ(tf(date(kJuly4), "@E"), "04/07/99");
    EXPECT_EQ(tf(date(kJuly4), "XXXX"), "07/04/99");  // the template is always the date's
    EXPECT_EQ(tf(date(0), nullptr), "  /  /  ");
    const TransformContext dmy = contextFor("dd.mm.yyyy");
    EXPECT_EQ(tf(date(kJuly4), nullptr, dmy), "04.07.1999");
    EXPECT_EQ(tf(date(kJuly4), "@E", dmy), "07.04.1999");
    // D, and E on a non-number, give any value the date template.
    EXPECT_EQ(tf(text("abcdefghij"), "@D"), "ab/de/gh");
    EXPECT_EQ(tf(text("abcdefgh"), "@E"), "de/ab/gh");
    EXPECT_EQ(tf(num(1234.5, 6, 1), "@D"), "  /12/35");
}

TEST(TransformDate, EuropeanSwapNeedsFiveCharacters) {
    EXPECT_EQ(tf(text("abc"), "@E"), "ab/");
    EXPECT_EQ(tf(text("abcd"), "@E"), "ab/d");
    EXPECT_EQ(tf(text("abcde"), "@E"), "de/ab");
}

TEST(TransformFlags, BlankZeroOnOtherKinds) {
    EXPECT_EQ(tf(text("abc"), "@Z"), "   ");
    EXPECT_EQ(tf(date(kJuly4), "@Z"), "        ");
    EXPECT_EQ(tf(logical(true), "@Z"), " ");
}

TEST(TransformFlags, ScrollWidthPadsWithBlanks) {
    EXPECT_EQ(tf(text("abc"), "@S10"), "abc       ");
    EXPECT_EQ(tf(text("abcdef"), "@S3"), "abcdef");
    EXPECT_EQ(tf(text("ab"), "@S100"), "ab" + std::string(98, ' '));
    EXPECT_EQ(tf(num(5), "@S6 999"), "  5   ");
    EXPECT_EQ(tf(text("ab"), "@S70 XXXX"), "ab" + std::string(68, ' '));
}

TEST(TransformFlags, LeftJustifyText) {
    EXPECT_EQ(tf(text("  ab"), "@B"), "ab  ");
    EXPECT_EQ(tf(text("    "), "@B"), "    ");
}

TEST(TransformBuffer, SizeAndNil) {
    TransformValue nil{};
    uint32_t len = 7;
    char buf[4];
    EXPECT_TRUE(transform(nil, "999", 3, kDefaults, buf, 0, &len));
    EXPECT_EQ(len, 0u);
    const TransformValue v = text("abc");
    const uint32_t size = transformBufferSize(v, "@S80", 4, kDefaults);
    EXPECT_GE(size, 80u);
    std::vector<char> small(size - 1);
    EXPECT_FALSE(transform(v, "@S80", 4, kDefaults, small.data(), size - 1, &len));
    EXPECT_EQ(len, 0u);
}

TEST(Merge, CutsAtCapacity) {
    PictureFunctions f{};
    char out[8];
    EXPECT_EQ(mergePicture(PictureKind::Text, 0, "abcdef", 6, "", 0, f, out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
    // No room left for the parentheses: the field stays as it is.
    f.parenthesesLeft = true;
    EXPECT_EQ(mergePicture(PictureKind::Number, -1, "123", 3, "999", 3, f, out, 4), 3u);
    EXPECT_EQ(std::string(out, 3), "123");
    EXPECT_EQ(mergePicture(PictureKind::Number, -1, " 12", 3, "999", 3, f, out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "(12)");
    f = PictureFunctions{};
    f.debit = true;
    EXPECT_EQ(mergePicture(PictureKind::Number, -1, "  5", 3, "999", 3, f, out, 5), 3u);
}

}  // namespace
