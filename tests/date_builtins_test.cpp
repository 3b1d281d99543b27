// The date built-ins run through the interpreter under the working date
// format and the epoch, and the date Items that native code makes and reads.
#include "tests/support/builtin_fixture.h"

#include "base/dates.h"
#include "vm/date_item.h"

using namespace xb;
using namespace xb::test;

namespace {

class DateBuiltins : public BuiltinTest {
protected:
    void SetUp() override {
        BuiltinTest::SetUp();
        settingsStart();  // "mm/dd/yy", epoch 1900, and the hooks that follow changes
    }
    void TearDown() override {
        settingSetText(SET_DATEFORMAT, "mm/dd/yy");
        settingSetNumber(SET_EPOCH, 1900);
        settingsRelease();
        BuiltinTest::TearDown();
    }
    static int32_t ymd(int y, int m, int d) { return dateFromYmd(y, m, d, 1900); }
    int32_t ctod(const std::string& s) {
        Item r = run("CTOD", {str(s)});
        EXPECT_EQ(r.type, T_DATE) << s;
        return r.v.l;
    }
    std::string dtoc(int32_t day) { return text(run("DTOC", {dateItem(day)})); }
};

TEST_F(DateBuiltins, FieldsOfADateWithTheirWidths) {
    const int32_t july4 = ymd(1999, 7, 4);
    expectInt(run("DAY", {dateItem(july4)}), 4, 3);
    expectInt(run("MONTH", {dateItem(july4)}), 7, 3);
    expectInt(run("YEAR", {dateItem(july4)}), 1999, 5);
    expectInt(run("DOW", {dateItem(july4)}), 1, 2);  // a Sunday
    expectInt(run("DOW", {dateItem(2451545)}), 7, 2);  // 1 January 2000, a Saturday
    expectInt(run("YEAR", {dateItem(2451545)}), 2000, 5);
    // the empty date, and day numbers below 1, give zeros
    for (int32_t empty : {0, -5}) {
        expectInt(run("DAY", {dateItem(empty)}), 0, 3);
        expectInt(run("MONTH", {dateItem(empty)}), 0, 3);
        expectInt(run("YEAR", {dateItem(empty)}), 0, 5);
        expectInt(run("DOW", {dateItem(empty)}), 0, 2);
    }
}

TEST_F(DateBuiltins, NamesOfDaysAndMonths) {
    expectText(run("CMONTH", {dateItem(ymd(1999, 7, 4))}), "Julio");
    expectText(run("CDOW", {dateItem(ymd(1999, 7, 4))}), "Domingo");
    expectText(run("CDOW", {dateItem(2451545)}), "S\xE1" "bado");
    expectText(run("CDOW", {dateItem(ymd(2024, 1, 3))}), "Mi\xE9rcoles");
    expectText(run("CMONTH", {dateItem(ymd(2024, 9, 1))}), "Septiembre");
    expectText(run("CMONTH", {dateItem(0)}), "");
    expectText(run("CDOW", {dateItem(0)}), "");
}

TEST_F(DateBuiltins, DtocAndCtodWithTheDefaultFormat) {
    EXPECT_EQ(dtoc(ymd(1999, 7, 4)), "07/04/99");
    EXPECT_EQ(dtoc(0), "  /  /  ");
    EXPECT_EQ(ctod("07/04/99"), ymd(1999, 7, 4));
    EXPECT_EQ(ctod("12/25"), ymd(1900, 12, 25));
    EXPECT_EQ(ctod(""), 0);
    EXPECT_EQ(ctod("12//25/99"), ymd(1999, 12, 25));
    EXPECT_EQ(ctod("02/30/99"), 0);
    EXPECT_EQ(ctod(" 2/ 3/ 4"), ymd(1904, 2, 3));
    // a Memo is text too
    Item r = run("CTOD", {memo("01/02/03")});
    EXPECT_EQ(r.v.l, ymd(1903, 1, 2));
    // what DTOC writes, CTOD reads back (two-digit years of the epoch's century)
    for (int32_t day = ymd(1900, 1, 1); day < ymd(1999, 12, 31); day += 997) EXPECT_EQ(ctod(dtoc(day)), day);
}

TEST_F(DateBuiltins, TheEpochWindowsTwoDigitYears) {
    settingSetNumber(SET_EPOCH, 1950);
    EXPECT_EQ(ctod("01/01/49"), ymd(2049, 1, 1));
    EXPECT_EQ(ctod("01/01/50"), ymd(1950, 1, 1));
    EXPECT_EQ(ctod("01/01/1949"), ymd(1949, 1, 1));
    EXPECT_EQ(dtoc(ymd(2049, 1, 1)), "01/01/49");
}

TEST_F(DateBuiltins, OtherFormatsFollowTheSetting) {
    settingSetText(SET_DATEFORMAT, "dd.mm.yyyy");
    EXPECT_EQ(dtoc(ymd(1999, 7, 4)), "04.07.1999");
    EXPECT_EQ(dtoc(0), "  .  .    ");
    // not 8 characters long: no window, the epoch is added to the year 99
    EXPECT_EQ(ctod("4.7.99"), ymd(1999, 7, 4));
    EXPECT_EQ(ctod("4.7.2031"), ymd(2031, 7, 4));
    settingSetText(SET_DATEFORMAT, "yyyy/mm/dd");
    EXPECT_EQ(dtoc(ymd(2024, 2, 29)), "2024/02/29");
    EXPECT_EQ(ctod("2024/02/29"), ymd(2024, 2, 29));
    // an empty setting leaves the working format alone
    settingSetText(SET_DATEFORMAT, "");
    EXPECT_EQ(dtoc(ymd(2024, 2, 29)), "2024/02/29");
}

TEST_F(DateBuiltins, DtosIsTheCompactForm) {
    expectText(run("DTOS", {dateItem(ymd(1999, 7, 4))}), "19990704");
    expectText(run("DTOS", {dateItem(ymd(2999, 12, 31))}), "29991231");
    expectText(run("DTOS", {dateItem(0)}), "        ");
    // the compact form does not depend on the date format
    settingSetText(SET_DATEFORMAT, "dd.mm.yyyy");
    expectText(run("DTOS", {dateItem(ymd(1999, 7, 4))}), "19990704");
}

TEST_F(DateBuiltins, EachFunctionRejectsWhatIsNoDate) {
    expectRejected("DAY", {str("07/04/99")}, 1114, "DAY");
    expectRejected("MONTH", {intItem(2451545)}, 1113, "MONTH");
    expectRejected("YEAR", {nilItem()}, 1112, "YEAR");
    expectRejected("DOW", {doubleItem(1.0)}, 1115, "DOW");
    expectRejected("CMONTH", {logicalItem(true)}, 1116, "CMONTH");
    expectRejected("CDOW", {str("x")}, 1117, "CDOW");
    expectRejected("DTOC", {str("07/04/99")}, 1118, "DTOC");
    expectRejected("CTOD", {dateItem(2451545)}, 1119, "CTOD");
    expectRejected("DTOS", {intItem(0)}, 1120, "DTOS");
}

TEST_F(DateBuiltins, DateItemsForNativeCode) {
    Item d;
    makeDateItem(&d, "19990704", 8);
    EXPECT_EQ(d.type, T_DATE);
    EXPECT_EQ(d.v.l, ymd(1999, 7, 4));
    EXPECT_EQ(d.width, 0);
    makeDateItem(&d, "1999070", 7);
    EXPECT_EQ(d.type, T_DATE);
    EXPECT_EQ(d.v.l, 0);
    makeDateItem(&d, "        ", 8);
    EXPECT_EQ(d.v.l, 0);
    makeDateItem(&d, "19990231", 8);
    EXPECT_EQ(d.v.l, 0);

    char out[9] = "XXXXXXXX";
    EXPECT_TRUE(dateItemCompact(&d, out));
    EXPECT_STREQ(out, "        ");
    Item date = dateItem(ymd(2000, 1, 1));
    EXPECT_TRUE(dateItemCompact(&date, out));
    EXPECT_STREQ(out, "20000101");
    Item notDate = intItem(2451545);
    std::memcpy(out, "XXXXXXXX", 8);
    EXPECT_FALSE(dateItemCompact(&notDate, out));
    EXPECT_STREQ(out, "XXXXXXXX");
}

}  // namespace
