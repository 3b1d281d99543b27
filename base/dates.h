// Dates as day numbers, their conversion to and from text, and the texts of
// the national-language module (Spanish day and month names, yes/no letters,
// language and collation names).
//
// A date is the Julian Day Number of its day in the proleptic Gregorian
// calendar (1 January 2000 is 2451545) held in a signed 32-bit value. 0 is
// the empty date, and every value below 1 or after 31 December 2999 is
// treated as empty. Valid years are 1 to 2999.
//
// Everything here is pure: the settings the conversions depend on (the date
// format and the epoch) are parameters, and the caller owns the state.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace xb {

constexpr int32_t kEmptyDate = 0;
constexpr int kDateYearMin = 1;
constexpr int kDateYearMax = 2999;
constexpr int32_t kDateFirstDay = 1721426;  // 1 January 1
constexpr int32_t kDateLastDay = 2816787;   // 31 December 2999
constexpr int kDefaultEpoch = 1900;
constexpr size_t kDateFormatMax = 10;       // longest working date format
constexpr size_t kDateCompactLen = 8;       // YYYYMMDD
constexpr size_t kTimeTextLen = 8;          // hh:mm:ss

// The national-language module's fixed texts (Windows-1252).
inline constexpr char kYesNoText[] = "Y/N";
inline constexpr char kLanguageName[] = "SPANISH";
inline constexpr char kCollationName[] = " - SPANISH Collation";

// A split date. dayOfWeek is 1 (Sunday) to 7 (Saturday); all fields are 0
// for the empty date.
struct DateParts {
    uint16_t day, month, year, dayOfWeek;
};

// The working date format: at most 10 characters, upper case, NUL-terminated.
struct DateFormatText {
    char text[kDateFormatMax + 1];
    uint16_t length;
};

// Leap year of the Gregorian calendar (divisible by 4 and not by 100, or by 400).
bool isLeapYear(int year);

// Days in the month (28 to 31), or 0 when month is outside 1..12.
int daysInMonth(int year, int month);

// True when jdn is a valid (non-empty) date: 1 January 1 to 31 December 2999.
inline bool dateIsValid(int32_t jdn) { return jdn >= kDateFirstDay && jdn <= kDateLastDay; }

// Day number of year/month/day, or 0 when invalid. Fails for a year of 0 or
// below or 3000 and above, a month outside 1..12, or a day outside the month.
// A year below 100 gets the epoch setting added first (5 with epoch 1900 is
// 1905); a year that the epoch moves outside 1..2999 fails too.
int32_t dateFromYmd(int year, int month, int day, int epoch);

// Split a day number into day, month, year and day of week. The empty date,
// and any value that is not a valid date, gives all zeros.
void dateSplit(int32_t jdn, DateParts* out);

// Day of week 1 (Sunday) to 7 (Saturday), 0 for an invalid date.
int dateDayOfWeek(int32_t jdn);

// The date-format hook: a null setting fails (false); an empty one succeeds
// and leaves *wf as it was; otherwise the first 10 characters, upper-cased
// through the national case map, become the working format.
bool dateFormatSet(DateFormatText* wf, const char* setting);

// DTOC: the date as text in the format fmt (NUL-terminated; only its first
// 10 characters count, read upper-cased, so the raw setting and the working
// format give the same text). The first "DD" becomes the two-digit day, the
// first "MM" the month, the first "YYYY" the four-digit year, or when there is
// none the first "YY" the last two digits of the year; everything else is
// copied. An invalid date fills those positions with blanks. out receives as
// many characters as the format has plus a NUL, so it needs 11 bytes; the
// length is returned.
size_t dateFormat(int32_t jdn, const char* fmt, char* out);

// CTOD: the day number that text (n bytes, need not be terminated) denotes
// under the format fmt, or 0. The format gives the order of the day, month
// and year fields (first appearance of D, M, Y in either case). Digits build
// the current field, blanks are skipped, and a run of other characters after
// a digit moves to the next field. A field above 9999 makes the date invalid.
// A year below 100 under a format of exactly 8 characters is windowed by the
// epoch (epoch 1950: 50-99 are 1950-1999, 0-49 are 2000-2049); otherwise the
// epoch is added as in dateFromYmd.
int32_t dateParse(const char* text, size_t n, const char* fmt, int epoch);

// DTOS: the 8 characters YYYYMMDD (no terminator); eight blanks for the
// empty or an invalid date.
void dateToCompact(int32_t jdn, char* out);

// The day number of a compact YYYYMMDD text, read from its first 8 bytes by
// dateFromYmd (so years 1..99 get the epoch added). Anything but 8 leading
// digits gives the empty date.
int32_t dateFromCompact(const char* text, size_t n, int epoch);

// Today: the day number of the local date as the OS reports it.
int32_t dateFromLocalTime(const os::LocalTime& t);

// TIME: "hh:mm:ss" (hours 00-23) of a local time into 8 bytes, no terminator.
void timeText(const os::LocalTime& t, char* out);

// SECONDS: seconds since midnight, with the milliseconds as a fraction.
double secondsOfDay(const os::LocalTime& t);

// The Spanish names: index 0 and anything out of range give the empty text;
// days 1 (Sunday) to 7, months 1 to 12.
const char* dayName(int index);
const char* monthName(int index);

// CDOW / CMONTH: the day or month name of a date, the empty text for an
// invalid date.
const char* cdowText(int32_t jdn);
const char* cmonthText(int32_t jdn);

}  // namespace xb
