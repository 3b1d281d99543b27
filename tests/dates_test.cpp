#include "base/dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

using namespace xb;

// ---- an independent calendar: plain day counting, no closed formula

bool testLeap(int y) { return y % 400 == 0 || (y % 100 != 0 && y % 4 == 0); }

int testMonthLen(int y, int m) {
    static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && testLeap(y) ? 29 : len[m - 1];
}

// Day number of 1 January of year 1, counted back from 1 January 2000.
int32_t firstDayOfYearOne() {
    int32_t j = 2451545;
    for (int y = 1; y < 2000; ++y) j -= testLeap(y) ? 366 : 365;
    return j;
}

// Weekday 1 (Sunday) .. 7 (Saturday), from 1 January 2000 being a Saturday.
int testWeekday(int32_t j) {
    const int k = int(((int64_t(j) - 2451545) % 7 + 7) % 7);
    return (k + 6) % 7 + 1;
}

std::string fmt(int32_t j, const char* f) {
    char out[kDateFormatMax + 1];
    const size_t n = dateFormat(j, f, out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

int32_t parse(const char* text, const char* f = "MM/DD/YY", int epoch = 1900) {
    return dateParse(text, std::strlen(text), f, epoch);
}

int32_t ymd(int y, int m, int d) { return dateFromYmd(y, m, d, 0); }

std::string compact(int32_t j) {
    char out[kDateCompactLen];
    dateToCompact(j, out);
    return std::string(out, kDateCompactLen);
}

// ---- the whole calendar, day by day

TEST(DateCalendar, EveryDayOfTheValidRange) {
    int32_t j = firstDayOfYearOne();
    EXPECT_EQ(j, kDateFirstDay);
    for (int y = 1; y <= 2999; ++y) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= testMonthLen(y, m); ++d, ++j) {
                ASSERT_EQ(ymd(y, m, d), j) << y << '-' << m << '-' << d;
                DateParts p;
                dateSplit(j, &p);
                ASSERT_EQ(p.year, y) << j;
                ASSERT_EQ(p.month, m) << j;
                ASSERT_EQ(p.day, d) << j;
                ASSERT_EQ(p.dayOfWeek, testWeekday(j)) << j;
                // Compact form round trip; years below 100 come back with
                // the epoch added, like every two-digit year.
                const std::string c = compact(j);
                const int32_t back = dateFromCompact(c.data(), c.size(), 1900);
                if (y >= 100)
                    ASSERT_EQ(back, j) << c;
                else
                    ASSERT_EQ(back, ymd(y + 1900, m, d)) << c;
            }
            ASSERT_EQ(ymd(y, m, testMonthLen(y, m) + 1), kEmptyDate) << y << '-' << m;
        }
    }
    EXPECT_EQ(j - 1, kDateLastDay);
}

TEST(DateCalendar, KnownDaysAndLeapYears) {
    EXPECT_EQ(ymd(2000, 1, 1), 2451545);
    EXPECT_EQ(dateDayOfWeek(2451545), 7);
    EXPECT_EQ(ymd(1900, 2, 29), kEmptyDate);
    EXPECT_NE(ymd(2000, 2, 29), kEmptyDate);
    EXPECT_NE(ymd(2024, 2, 29), kEmptyDate);
    EXPECT_EQ(ymd(2100, 2, 29), kEmptyDate);
    EXPECT_EQ(ymd(2023, 4, 31), kEmptyDate);
    EXPECT_EQ(ymd(2999, 12, 31), kDateLastDay);
    EXPECT_EQ(ymd(3000, 1, 1), kEmptyDate);
    EXPECT_EQ(ymd(0, 1, 1), kEmptyDate);
    EXPECT_EQ(daysInMonth(2000, 2), 29);
    EXPECT_EQ(daysInMonth(1999, 0), 0);
    EXPECT_EQ(daysInMonth(1999, 13), 0);
}

TEST(DateCalendar, CorruptFieldsAreInvalidNotOutOfTable) {
    for (int bad : {0, -1, -32768, 13, 65535, INT_MIN, INT_MAX}) {
        EXPECT_EQ(ymd(2000, bad, 1), kEmptyDate) << bad;
        EXPECT_EQ(daysInMonth(2000, bad), 0) << bad;
    }
    for (int bad : {0, -1, -31, 32, INT_MIN, INT_MAX}) EXPECT_EQ(ymd(2000, 1, bad), kEmptyDate) << bad;
    for (int bad : {-1, -2000, 3000, INT_MIN, INT_MAX}) EXPECT_EQ(ymd(bad, 1, 1), kEmptyDate) << bad;
}

TEST(DateCalendar, EpochIsAddedToYearsBelowAHundred) {
    EXPECT_EQ(dateFromYmd(5, 3, 1, 1900), ymd(1905, 3, 1));
    EXPECT_EQ(dateFromYmd(99, 12, 31, 1950), ymd(2049, 12, 31));
    EXPECT_EQ(dateFromYmd(100, 1, 1, 1900), ymd(100, 1, 1));
    // An epoch that carries the year out of range, or an absurd one.
    EXPECT_EQ(dateFromYmd(99, 1, 1, 2950), kEmptyDate);
    EXPECT_EQ(dateFromYmd(50, 1, 1, INT_MAX), kEmptyDate);
    EXPECT_EQ(dateFromYmd(50, 1, 1, -1900), kEmptyDate);
}

TEST(DateCalendar, OutOfRangeDayNumbersSplitAsEmpty) {
    for (int32_t j : {0, -1, INT_MIN, kDateFirstDay - 1, kDateLastDay + 1, INT_MAX}) {
        DateParts p{9, 9, 9, 9};
        dateSplit(j, &p);
        EXPECT_EQ(p.day + p.month + p.year + p.dayOfWeek, 0) << j;
        EXPECT_EQ(fmt(j, "MM/DD/YYYY"), "  /  /    ") << j;
        EXPECT_EQ(compact(j), "        ") << j;
        EXPECT_STREQ(cdowText(j), "") << j;
        EXPECT_STREQ(cmonthText(j), "") << j;
    }
    DateParts p;
    dateSplit(kDateFirstDay, &p);
    EXPECT_EQ(p.year, 1);
    dateSplit(kDateLastDay, &p);
    EXPECT_EQ(p.year, 2999);
}

// ---- DTOC

TEST(DateFormat, PatternsAndBlanks) {
    const int32_t j = ymd(1999, 7, 4);
    EXPECT_EQ(fmt(j, "MM/DD/YY"), "07/04/99");
    EXPECT_EQ(fmt(j, "mm/dd/yy"), "07/04/99");
    EXPECT_EQ(fmt(kEmptyDate, "MM/DD/YY"), "  /  /  ");
    EXPECT_EQ(fmt(j, "dd.mm.yyyy"), "04.07.1999");
    EXPECT_EQ(fmt(j, "YYYYMMDD"), "19990704");
    EXPECT_EQ(fmt(j, "yy-mm-dd x"), "99-07-04 X");
    EXPECT_EQ(fmt(j, "DD-DD/MM"), "04-DD/07");      // first occurrence only
    EXPECT_EQ(fmt(j, "dd/mm/yyyy-hh:mm"), "04/07/1999");  // ten characters at most
    EXPECT_EQ(fmt(j, "DDD"), "04D");
    EXPECT_EQ(fmt(j, ""), "");
    EXPECT_EQ(fmt(j, nullptr), "");
    EXPECT_EQ(fmt(ymd(50, 6, 1), "DD/MM/YYYY"), "01/06/0050");
    EXPECT_EQ(fmt(ymd(2005, 11, 9), "DD/MM/YY"), "09/11/05");
}

TEST(DateFormat, WorkingFormatHook) {
    DateFormatText wf{"MM/DD/YY", 8};
    EXPECT_FALSE(dateFormatSet(&wf, nullptr));
    EXPECT_TRUE(dateFormatSet(&wf, ""));
    EXPECT_STREQ(wf.text, "MM/DD/YY");
    EXPECT_EQ(wf.length, 8);
    EXPECT_TRUE(dateFormatSet(&wf, "dd/mm/yyyy hh:mm"));
    EXPECT_STREQ(wf.text, "DD/MM/YYYY");
    EXPECT_EQ(wf.length, 10);
    EXPECT_TRUE(dateFormatSet(&wf, "a\xF1o yy"));
    EXPECT_STREQ(wf.text, "A\xD1O YY");
    EXPECT_EQ(wf.length, 6);
}

// ---- CTOD

TEST(DateParse, DefaultFormatAndEpochWindow) {
    EXPECT_EQ(parse("07/04/99"), ymd(1999, 7, 4));
    EXPECT_EQ(parse("12/25"), ymd(1900, 12, 25));
    EXPECT_EQ(parse(""), kEmptyDate);
    EXPECT_EQ(parse("  /  /  "), kEmptyDate);
    EXPECT_EQ(parse("12//25/99"), ymd(1999, 12, 25));
    EXPECT_EQ(parse("/12/25/99"), ymd(1999, 12, 25));
    EXPECT_EQ(parse(" 1 2/ 25 /99"), ymd(1999, 12, 25));
    EXPECT_EQ(parse("12-25-99 and more"), ymd(1999, 12, 25));
    EXPECT_EQ(parse("02/30/00"), kEmptyDate);
    EXPECT_EQ(parse("12/25/2024"), ymd(2024, 12, 25));
    EXPECT_EQ(parse("01/01/49", "MM/DD/YY", 1950), ymd(2049, 1, 1));
    EXPECT_EQ(parse("01/01/50", "MM/DD/YY", 1950), ymd(1950, 1, 1));
    EXPECT_EQ(parse("01/01/00", "MM/DD/YY", 1950), ymd(2000, 1, 1));
    EXPECT_EQ(parse("01/01/99", "MM/DD/YY", 1950), ymd(1999, 1, 1));
    EXPECT_EQ(parse("01/01/00", "MM/DD/YY", 1900), ymd(1900, 1, 1));
}

TEST(DateParse, FieldOrderFromTheFormat) {
    EXPECT_EQ(parse("4.7.99", "dd.mm.yyyy"), ymd(1999, 7, 4));
    // No window under a 10-character format: the year gets the epoch added.
    EXPECT_EQ(parse("4.7.99", "dd.mm.yyyy", 1950), ymd(2049, 7, 4));
    EXPECT_EQ(parse("2024/02/29", "yyyy/mm/dd"), ymd(2024, 2, 29));
    EXPECT_EQ(parse("31/12/98", "DD/MM/YY"), ymd(1998, 12, 31));
    EXPECT_EQ(parse("98.31.12", "yy.dd.mm"), ymd(1998, 12, 31));
    EXPECT_EQ(parse("12/25", "MM/DD"), kEmptyDate);  // year never read
}

TEST(DateParse, OversizedFieldsAreInvalidNotWrapped) {
    // 67535 would wrap to 1999 in a 16-bit field.
    EXPECT_EQ(parse("12/25/67535"), kEmptyDate);
    EXPECT_EQ(parse("65548/25/1999"), kEmptyDate);
    EXPECT_EQ(parse("12/65561/1999"), kEmptyDate);
    EXPECT_EQ(parse("99999999999999999999999/1/1"), kEmptyDate);
    EXPECT_EQ(parse("4294967308/25/1999"), kEmptyDate);  // 2^32 + 12
    EXPECT_EQ(parse("12/25/00001999"), ymd(1999, 12, 25));  // leading zeros are no value
    EXPECT_EQ(parse("12/25/99", "MM/DD/YY", INT_MAX), kEmptyDate);
    // Honour the length, not a terminator.
    EXPECT_EQ(dateParse("12/25/99", 5, "MM/DD/YY", 1900), ymd(1900, 12, 25));
}

// ---- DTOS and back

TEST(DateCompact, FromTextNeedsEightDigits) {
    auto from = [](const char* s, int epoch = 1900) { return dateFromCompact(s, std::strlen(s), epoch); };
    EXPECT_EQ(compact(ymd(1999, 7, 4)), "19990704");
    EXPECT_EQ(from("19990704"), ymd(1999, 7, 4));
    EXPECT_EQ(from("19990704xyz"), ymd(1999, 7, 4));
    EXPECT_EQ(from("1999070"), kEmptyDate);
    EXPECT_EQ(dateFromCompact("19990704", 7, 1900), kEmptyDate);  // length, not terminator
    EXPECT_EQ(from("        "), kEmptyDate);
    EXPECT_EQ(from("1999 7 4"), kEmptyDate);
    EXPECT_EQ(from("1999-7-4"), kEmptyDate);
    // Characters just above '9' must not count as digit values 10, 11 ...
    EXPECT_EQ(from("1999070:"), kEmptyDate);
    EXPECT_EQ(from("199:0101"), kEmptyDate);
    EXPECT_EQ(from("19991304"), kEmptyDate);
    EXPECT_EQ(from("19990700"), kEmptyDate);
    EXPECT_EQ(from("00000000"), kEmptyDate);
    EXPECT_EQ(from("30000101"), kEmptyDate);
    EXPECT_EQ(from("00490101", 1950), ymd(1999, 1, 1));
    EXPECT_EQ(dateFromCompact(nullptr, 8, 1900), kEmptyDate);
}

// ---- names and the local clock

TEST(DateNames, SpanishDaysAndMonths) {
    EXPECT_STREQ(dayName(1), "Domingo");
    EXPECT_STREQ(dayName(4), "Mi\xE9rcoles");
    EXPECT_STREQ(dayName(7), "S\xE1" "bado");
    EXPECT_STREQ(dayName(0), "");
    EXPECT_STREQ(dayName(8), "");
    EXPECT_STREQ(dayName(-1), "");
    EXPECT_STREQ(monthName(1), "Enero");
    EXPECT_STREQ(monthName(9), "Septiembre");
    EXPECT_STREQ(monthName(12), "Diciembre");
    EXPECT_STREQ(monthName(13), "");
    EXPECT_STREQ(cdowText(ymd(2000, 1, 1)), "S\xE1" "bado");
    EXPECT_STREQ(cdowText(ymd(2000, 1, 2)), "Domingo");
    EXPECT_STREQ(cmonthText(ymd(1999, 7, 4)), "Julio");
    EXPECT_STREQ(kYesNoText, "Y/N");
    EXPECT_STREQ(kLanguageName, "SPANISH");
    EXPECT_STREQ(kCollationName, " - SPANISH Collation");
}

TEST(DateClock, TodayTimeAndSeconds) {
    os::LocalTime t{2024, 2, 4, 29, 7, 5, 9, 250};
    EXPECT_EQ(dateFromLocalTime(t), ymd(2024, 2, 29));
    char buf[kTimeTextLen + 1] = {};
    timeText(t, buf);
    EXPECT_STREQ(buf, "07:05:09");
    EXPECT_DOUBLE_EQ(secondsOfDay(t), 7 * 3600 + 5 * 60 + 9.25);
    os::LocalTime late{1999, 12, 5, 31, 23, 59, 59, 999};
    timeText(late, buf);
    EXPECT_STREQ(buf, "23:59:59");
    EXPECT_EQ(dateFromLocalTime(late), ymd(1999, 12, 31));
}

}  // namespace
