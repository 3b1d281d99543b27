#include "base/numfmt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace xb;

const NumberSettings kDefaults{false, 2};
const NumberSettings kFixed{true, 2};

// Formats into a buffer with guard bytes on both sides and checks them.
std::string fmt(double x, uint32_t width, uint32_t decimals) {
    std::vector<char> buf(width + 16, '#');
    formatNumber(x, width, decimals, buf.data() + 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buf[i], '#') << "written before the field";
        EXPECT_EQ(buf[width + 8 + i], '#') << "written past the field";
    }
    return std::string(buf.data() + 8, width);
}

std::string str(double x, NumberShape s) { return fmt(x, s.width, s.decimals); }

TEST(FormatNumber, RoundsHalfAwayFromZero) {
    EXPECT_EQ(fmt(2.5, 5, 0), "    3");
    EXPECT_EQ(fmt(-2.5, 5, 0), "   -3");
    EXPECT_EQ(fmt(2.4, 5, 0), "    2");
    EXPECT_EQ(fmt(0.125, 6, 2), "  0.13");
    EXPECT_EQ(fmt(-0.125, 6, 2), " -0.13");
    EXPECT_EQ(fmt(3.14159, 6, 2), "  3.14");
    EXPECT_EQ(fmt(1234.5, 7, 2), "1234.50");
    // The carry out of the decimals reaches the integral part.
    EXPECT_EQ(fmt(9.996, 6, 2), " 10.00");
    EXPECT_EQ(fmt(-0.5, 4, 0), "  -1");
    EXPECT_EQ(fmt(123456789.987, 12, 2), "123456789.99");
    // The scaled product decides: 2.675 is stored a hair below, yet shows 2.68.
    EXPECT_EQ(fmt(2.675, 4, 2), "2.68");
    EXPECT_EQ(fmt(0.49999999999999994, 1, 0), "0");
}

TEST(FormatNumber, SignFollowsTheRoundedValue) {
    EXPECT_EQ(fmt(-0.04, 5, 1), "  0.0");
    EXPECT_EQ(fmt(-0.4, 3, 0), "  0");
    EXPECT_EQ(fmt(-0.5, 5, 1), " -0.5");
    EXPECT_EQ(fmt(-0.05, 5, 1), " -0.1");
    EXPECT_EQ(fmt(-0.0, 3, 0), "  0");
}

TEST(FormatNumber, OverflowGivesAsterisksOfTheWidth) {
    EXPECT_EQ(fmt(123456, 5, 0), "*****");
    EXPECT_EQ(fmt(12345, 5, 0), "12345");
    EXPECT_EQ(fmt(-12345, 5, 0), "*****");
    EXPECT_EQ(fmt(99.995, 5, 2), "*****");  // rounds up to 100.00
    EXPECT_EQ(fmt(5, 3, 2), "***");
    EXPECT_EQ(fmt(1, 0, 0), "");
}

TEST(FormatNumber, NaNAndInfinitiesShowAsAsterisks) {
    EXPECT_EQ(fmt(std::numeric_limits<double>::infinity(), 6, 0), "******");
    EXPECT_EQ(fmt(-std::numeric_limits<double>::infinity(), 6, 2), "******");
    EXPECT_EQ(fmt(std::nan(""), 4, 1), "****");
}

TEST(FormatNumber, LargeIntegralPartsKeepExactDigits) {
    EXPECT_EQ(fmt(1e9, 10, 0), "1000000000");
    EXPECT_EQ(fmt(1234567890123.0, 15, 1), "1234567890123.0");
    // Quotients by 10^9 beyond 32 bits.
    EXPECT_EQ(fmt(4294967296e9, 20, 0), " 4294967296000000000");
    EXPECT_EQ(fmt(5e18, 20, 0), " 5000000000000000000");
    EXPECT_EQ(fmt(-9007199254740993.0, 20, 0), "   -9007199254740992");
    EXPECT_EQ(fmt(18446744073709551616.0, 20, 0), "18446744073709551616");
    EXPECT_EQ(fmt(1e22, 24, 0), " 10000000000000000000000");
    EXPECT_EQ(fmt(1e23, 24, 0), " 99999999999999991611392");
    EXPECT_EQ(fmt(std::ldexp(1.0, 100), 31, 0), "1267650600228229401496703205376");
    const std::string big = fmt(std::numeric_limits<double>::max(), 309, 0);
    EXPECT_EQ(big.substr(0, 20), "17976931348623157081");
    EXPECT_EQ(big.substr(289), "50404026184124858368");
    EXPECT_EQ(fmt(1e30, 20, 0), std::string(20, '*'));
}

TEST(FormatNumber, WidthsAndDecimalsBeyondSixtyFour) {
    EXPECT_EQ(fmt(1, 100, 0), std::string(99, ' ') + "1");
    EXPECT_EQ(fmt(-1.5, 100, 90), std::string(7, ' ') + "-1.5" + std::string(89, '0'));
    // Past fifteen decimals the digits are those of the double itself,
    // rounded half away from zero at the last one.
    EXPECT_EQ(fmt(0.1, 32, 30), "0.100000000000000005551115123126");
    EXPECT_EQ(fmt(std::ldexp(1.0, -20), 22, 20), "0.00000095367431640625");
    EXPECT_EQ(fmt(std::ldexp(1.0, -20), 21, 19), "0.0000009536743164063");
    EXPECT_EQ(fmt(-1e-300, 23, 20), " 0.00000000000000000000");
    EXPECT_EQ(fmt(-std::ldexp(1.0, -1074), 20, 17), " 0.00000000000000000");
    const std::string tiny = fmt(-std::ldexp(1.0, -1074), 1079, 1075);
    EXPECT_EQ(tiny.substr(0, 6), " -0.00");
    EXPECT_EQ(tiny.substr(327, 6), "494065");
    EXPECT_EQ(tiny.substr(1072), "2656250");
    // More decimals than a double's range: zeros past the working digits.
    const std::string many = fmt(0.5, 65535, 65533);
    EXPECT_EQ(many.substr(0, 4), "0.50");
    EXPECT_EQ(many.find_first_not_of('0', 3), std::string::npos);
    EXPECT_EQ(fmt(2, 65535, 65534), std::string(65535, '*'));
}

TEST(FormatNumber, IntegerFormatter) {
    char out[12];
    formatInteger(-2147483647 - 1, 11, 0, out);
    EXPECT_EQ(std::string(out, 11), "-2147483648");
    formatInteger(42, 6, 2, out);
    EXPECT_EQ(std::string(out, 6), " 42.00");
}

TEST(Round, HalfAwayFromZeroAtEachPosition) {
    EXPECT_EQ(roundNumber(2.5, 0), 3.0);
    EXPECT_EQ(roundNumber(-2.5, 0), -3.0);
    EXPECT_EQ(roundNumber(1.25, 1), 1.3);
    EXPECT_EQ(roundNumber(-1.25, 1), -1.3);
    EXPECT_EQ(roundNumber(1250, -2), 1300.0);
    EXPECT_EQ(roundNumber(-1249, -2), -1200.0);
    EXPECT_EQ(roundNumber(0.0, 3), 0.0);
    EXPECT_EQ(roundNumber(49, -2), 0.0);
}

TEST(Round, ValuesWithoutDigitsThereStayUnchanged) {
    // Adding 0.5 to these rounds to the wrong neighbour.
    EXPECT_EQ(roundNumber(4503599627370497.0, 0), 4503599627370497.0);
    EXPECT_EQ(roundNumber(-4503599627370497.0, 0), -4503599627370497.0);
    EXPECT_EQ(roundNumber(0.49999999999999994, 0), 0.0);
    EXPECT_EQ(roundNumber(1.5, 400), 1.5);
    EXPECT_EQ(roundNumber(1.5, -400), 0.0);
    EXPECT_EQ(roundNumber(1e300, 20), 1e300);
    EXPECT_TRUE(std::isnan(roundNumber(std::nan(""), 2)));
}

TEST(Round, PowersOfTenBySquaring) {
    EXPECT_EQ(powerOfTen(0), 1.0);
    EXPECT_EQ(powerOfTen(22), 1e22);
    EXPECT_EQ(powerOfTen(-3), 1.0 / 1000.0);
    EXPECT_TRUE(std::isinf(powerOfTen(400)));
    EXPECT_EQ(powerOfTen(-400), 0.0);
    EXPECT_EQ(powerOfTen(INT32_MIN), 0.0);
}

TEST(DefaultShape, IntegersAndDoublesWithoutWidth) {
    NumberShape s = defaultShape(true, -5, 0, 0, kDefaults);
    EXPECT_EQ(s.width, 10);
    EXPECT_EQ(s.decimals, 0);
    EXPECT_EQ(defaultShape(true, 2000000000, 0, 0, kDefaults).width, 20);
    EXPECT_EQ(defaultShape(true, -999999999, 0, 0, kDefaults).width, 10);
    EXPECT_EQ(defaultShape(true, -1000000000, 0, 0, kDefaults).width, 20);
    s = defaultShape(false, 5.25, 0, 2, kDefaults);
    EXPECT_EQ(s.width, 13);
    EXPECT_EQ(s.decimals, 2);
    EXPECT_EQ(defaultShape(false, -5.25, 0, 2, kDefaults).width, 16);
    EXPECT_EQ(defaultShape(false, 1e9, 0, 0, kDefaults).width, 20);
    EXPECT_EQ(defaultShape(false, std::nan(""), 0, 0, kDefaults).width, 20);
}

TEST(DefaultShape, FixedFormatReplacesTheDecimals) {
    NumberShape s = defaultShape(false, 5.25, 8, 4, NumberSettings{true, 1});
    EXPECT_EQ(s.width, 5);  // 8 - 5 + 2
    EXPECT_EQ(s.decimals, 1);
    s = defaultShape(true, 7, 0, 0, kFixed);
    EXPECT_EQ(s.width, 13);
    EXPECT_EQ(s.decimals, 2);
    // A width narrower than the old decimals' room falls back to the default.
    s = defaultShape(false, 5.0, 3, 4, kFixed);
    EXPECT_EQ(s.width, 13);
    EXPECT_EQ(defaultShape(false, 1.0, 0, 0, NumberSettings{true, 65535}).width, 65535);
}

TEST(TextToNumber, Grammar) {
    EXPECT_EQ(textToNumber("12.50", 5), 12.5);
    EXPECT_EQ(textToNumber(" \t-3.25xyz", 10), -3.25);
    EXPECT_EQ(textToNumber("+5", 2), 0.0);
    EXPECT_EQ(textToNumber("- 5", 3), 0.0);
    EXPECT_EQ(textToNumber("1.2.3", 5), 1.2);
    EXPECT_EQ(textToNumber("123", 2), 12.0);  // the length bounds the text
    EXPECT_EQ(textToNumber(".5", 2), 0.5);
    EXPECT_EQ(textToNumber("0.1", 3), 0.1);
    EXPECT_EQ(textToNumber("12345678901234567890123", 23), 12345678901234567890123.0);
    const std::string n63 = std::string(62, ' ') + "7";
    EXPECT_EQ(textToNumber(n63.data(), 63), 7.0);
    const std::string n64 = std::string(63, ' ') + "7";
    EXPECT_EQ(textToNumber(n64.data(), 64), 0.0);
}

TEST(TextToNumber, LayoutAndVal) {
    NumberText t = textToNumberLayout("12.50", 5);
    EXPECT_EQ(t.width, 5);
    EXPECT_EQ(t.decimals, 2);
    EXPECT_EQ(textToNumberLayout("1.5  ", 5).decimals, 3);
    EXPECT_EQ(textToNumberLayout("15", 2).decimals, 0);

    ValResult v = valText("123", 3);
    EXPECT_TRUE(v.isInteger);
    EXPECT_EQ(v.integer, 123);
    EXPECT_EQ(v.width, 10);
    v = valText("12.50", 5);
    EXPECT_FALSE(v.isInteger);
    EXPECT_EQ(v.value, 12.5);
    EXPECT_EQ(v.width, 5);
    EXPECT_EQ(v.decimals, 2);
    v = valText("-7.", 3);  // a point without decimals still gives an integer
    EXPECT_TRUE(v.isInteger);
    EXPECT_EQ(v.integer, -7);
    v = valText("1234567890", 10);  // ten characters: a double
    EXPECT_FALSE(v.isInteger);
    EXPECT_EQ(v.value, 1234567890.0);
    EXPECT_EQ(v.width, 10);
    EXPECT_EQ(v.decimals, 0);
    v = valText("+5", 2);
    EXPECT_TRUE(v.isInteger);
    EXPECT_EQ(v.integer, 0);
}

TEST(Str, OneArgumentUsesTheItemShape) {
    EXPECT_EQ(str(-5, strShape1(-5, true, 0, 0, kDefaults)), "        -5");
    EXPECT_EQ(str(5.25, strShape1(5.25, false, 0, 2, kDefaults)), "         5.25");
    EXPECT_EQ(str(5.25, strShape1(5.25, false, 6, 1, kDefaults)), "   5.3");
    // An integer never shows decimals in STR, even under fixedFormat.
    NumberShape s = strShape1(7, true, 0, 0, kFixed);
    EXPECT_EQ(s.decimals, 0);
    EXPECT_EQ(str(7, s), std::string(12, ' ') + "7");
    EXPECT_EQ(str(7, strShape1(7, true, 3, 0, kFixed)), "  7");
}

TEST(Str, WidthAndDecimalsArguments) {
    EXPECT_EQ(str(3.14159, strShape3(6, 2)), "  3.14");
    NumberShape s = strShape3(3, 5);
    EXPECT_EQ(s.decimals, 2);
    EXPECT_EQ(str(5, s), "***");
    EXPECT_EQ(str(12.7, strShape2(0)), "        13");
    EXPECT_EQ(str(12.7, strShape2(-4)).size(), 10u);
    EXPECT_EQ(str(1, strShape2(100)), std::string(99, ' ') + "1");
    EXPECT_EQ(strShape3(1, 3).decimals, 0);
    EXPECT_EQ(strShape3(5, -2).decimals, 0);
    EXPECT_EQ(strShape3(0, 2).width, 10);
    EXPECT_EQ(strShape3(INT32_MAX, INT32_MAX).width, kMaxNumberWidth);
    EXPECT_EQ(strShape3(INT32_MAX, INT32_MAX).decimals, kMaxNumberWidth - 1);
}

}  // namespace
