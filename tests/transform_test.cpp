// TRANSFORM run through the interpreter: a few pictures per kind of value
// and flag (the picture library has its own tests), the date format and
// number settings it takes from the runtime, and its argument error.
#include "tests/support/builtin_fixture.h"

#include "base/dates.h"

using namespace xb;
using namespace xb::test;

namespace {

class TransformOpcode : public BuiltinTest {
protected:
    std::string tr(const Item& value, const char* picture) {
        Item r = run("TRANSFORM", {value, picture ? str(picture) : nilItem()});
        EXPECT_EQ(r.type, T_STRING);
        return text(r);
    }
    static int32_t ymd(int y, int m, int d) { return dateFromYmd(y, m, d, 1900); }
};

TEST_F(TransformOpcode, NumbersThroughTemplatesAndFlags) {
    EXPECT_EQ(tr(doubleItem(1234.5, 0, 1), "9,999.99"), "1,234.50");
    EXPECT_EQ(tr(doubleItem(1234.5, 0, 1), "@E 9,999.99"), "1.234,50");
    EXPECT_EQ(tr(intItem(-5), "@( 999"), "( 5)");
    EXPECT_EQ(tr(intItem(-5), "@) 999"), " (5)");
    EXPECT_EQ(tr(intItem(-5), "@X 999"), "  5 DB");
    EXPECT_EQ(tr(intItem(5), "@C 999"), "  5 CR");
    EXPECT_EQ(tr(intItem(12), "***99"), "***12");
    EXPECT_EQ(tr(intItem(12), "**999"), "** 12");
    EXPECT_EQ(tr(intItem(0), "@Z 999"), "   ");
    EXPECT_EQ(tr(doubleItem(0.5, 0, 1), ".99"), ".50");
    EXPECT_EQ(tr(intItem(12), "@B 9999"), "12  ");
    EXPECT_EQ(tr(intItem(12345), "999"), "***");
}

TEST_F(TransformOpcode, NumbersWithoutPictureUseTheirShape) {
    EXPECT_EQ(tr(intItem(5), nullptr), "         5");
    EXPECT_EQ(tr(intItem(5, 3), ""), "  5");
    EXPECT_EQ(tr(doubleItem(5.25, 0, 2), nullptr), std::string(9, ' ') + "5.25");
    // under fixedFormat the decimals setting shapes every number
    settingSetLogical(SET_FIXEDFORMAT, true);
    settingSetNumber(SET_DECIMALS, 3);
    EXPECT_EQ(tr(doubleItem(5.25, 0, 2), nullptr), std::string(9, ' ') + "5.250");
}

TEST_F(TransformOpcode, TextLogicalAndDate) {
    EXPECT_EQ(tr(str("abc"), "@!"), "ABC");
    EXPECT_EQ(tr(str("abc"), "X-X"), "a-c");
    EXPECT_EQ(tr(str("abc"), "@R X-X"), "a-b");
    EXPECT_EQ(tr(memo("memo"), nullptr), "memo");
    EXPECT_EQ(tr(str("ab"), "@S5"), "ab   ");
    EXPECT_EQ(tr(logicalItem(true), "Y"), "Y");
    EXPECT_EQ(tr(logicalItem(false), "Y"), "N");
    EXPECT_EQ(tr(logicalItem(true), nullptr), "T");
    const int32_t july4 = ymd(1999, 7, 4);
    EXPECT_EQ(tr(dateItem(july4), nullptr), "07/04/99");
    EXPECT_EQ(tr(dateItem(july4), "@E"), "04/07/99");
    EXPECT_EQ(tr(dateItem(0), nullptr), "  /  /  ");
}

TEST_F(TransformOpcode, DatesFollowTheWorkingFormat) {
    settingsStart();
    settingSetText(SET_DATEFORMAT, "dd.mm.yyyy");
    EXPECT_EQ(tr(dateItem(ymd(1999, 7, 4)), nullptr), "04.07.1999");
    EXPECT_EQ(tr(dateItem(0), nullptr), "  .  .    ");
    settingSetText(SET_DATEFORMAT, "mm/dd/yy");
    settingsRelease();
}

TEST_F(TransformOpcode, RejectsValuesAndPicturesOfOtherTypes) {
    expectRejected("TRANSFORM", {nilItem(), str("999")}, 1122, "TRANSFORM");
    expectRejected("TRANSFORM", {array(1), nilItem()}, 1122, "TRANSFORM");
    expectRejected("TRANSFORM", {wordItem(3), nilItem()}, 1122, "TRANSFORM");
    expectRejected("TRANSFORM", {intItem(5), intItem(999)}, 1122, "TRANSFORM");
    expectRejected("TRANSFORM", {str("x"), logicalItem(true)}, 1122, "TRANSFORM");
}

}  // namespace
