// Day numbers, date texts and the national-language names.
#include "base/dates.h"

#include <cstring>

#include "base/casemap.h"

namespace xb {

namespace {

const char* const kDayNames[8] = {
    "", "Domingo", "Lunes", "Martes", "Mi\xE9rcoles", "Jueves", "Viernes", "S\xE1" "bado",
};

const char* const kMonthNames[13] = {
    "",      "Enero",  "Febrero", "Marzo",      "Abril",   "Mayo",      "Junio",
    "Julio", "Agosto", "Septiembre", "Octubre", "Noviembre", "Diciembre",
};

// The working form of a format text: its first 10 characters, upper-cased.
// Returns the length; f receives the text and a NUL.
size_t workingFormat(const char* fmt, char* f) {
    size_t n = 0;
    if (fmt) {
        while (n < kDateFormatMax && fmt[n] != '\0') ++n;
        upperText(f, fmt, n);
    }
    f[n] = '\0';
    return n;
}

// Write the last `width` decimal digits of value, or blanks when blank.
void putDigits(char* dst, size_t width, int value, bool blank) {
    for (size_t i = width; i-- > 0;) {
        dst[i] = blank ? ' ' : static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Replace the first occurrence of pat in the working format f (length n) by
// the digits of value, in the output out. False when the pattern is absent.
bool fillField(const char* f, size_t n, char* out, const char* pat, int value, bool blank) {
    const size_t w = std::strlen(pat);
    for (size_t i = 0; i + w <= n; ++i) {
        if (std::memcmp(f + i, pat, w) == 0) {
            putDigits(out + i, w, value, blank);
            return true;
        }
    }
    return false;
}

}  // namespace

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t dateFromYmd(int year, int month, int day, int epoch) {
    if (year < kDateYearMin || year > kDateYearMax || month < 1 || month > 12 || day < 1)
        return kEmptyDate;
    if (year < 100) {
        const int64_t moved = int64_t(year) + epoch;  // any epoch value, no overflow
        if (moved < kDateYearMin || moved > kDateYearMax) return kEmptyDate;
        year = int(moved);
    }
    if (day > daysInMonth(year, month)) return kEmptyDate;
    const int a = month <= 2 ? -1 : 0;
    return (1461 * (year + 4800 + a)) / 4 + (367 * (month - 2 - 12 * a)) / 12 -
           (3 * ((year + 4900 + a) / 100)) / 4 + day - 32075;
}

void dateSplit(int32_t jdn, DateParts* out) {
    if (!dateIsValid(jdn)) {
        *out = DateParts{0, 0, 0, 0};
        return;
    }
    // 64-bit throughout, so the intermediate products can never overflow
    // whatever range check sits in front of this.
    int64_t l = int64_t(jdn) + 68569;
    const int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const int64_t k = 80 * l / 2447;
    const int day = int(l - 2447 * k / 80);
    l = k / 11;
    const int month = int(k + 2 - 12 * l);
    const int year = int(100 * (n - 49) + i + l);

    const int m = month <= 2 ? month + 13 : month + 1;
    const int y = month <= 2 ? year - 1 : year;
    const int s = (26 * m) / 10 + day + y + y / 4 - y / 100 + y / 400;

    out->day = uint16_t(day);
    out->month = uint16_t(month);
    out->year = uint16_t(year);
    out->dayOfWeek = uint16_t((s + 6) % 7 + 1);
}

int dateDayOfWeek(int32_t jdn) {
    DateParts p;
    dateSplit(jdn, &p);
    return p.dayOfWeek;
}

bool dateFormatSet(DateFormatText* wf, const char* setting) {
    if (setting == nullptr) return false;
    if (setting[0] == '\0') return true;
    wf->length = uint16_t(workingFormat(setting, wf->text));
    return true;
}

size_t dateFormat(int32_t jdn, const char* fmt, char* out) {
    char f[kDateFormatMax + 1];
    const size_t n = workingFormat(fmt, f);
    std::memcpy(out, f, n + 1);
    DateParts p;
    dateSplit(jdn, &p);
    const bool blank = p.year == 0;
    fillField(f, n, out, "DD", p.day, blank);
    fillField(f, n, out, "MM", p.month, blank);
    if (!fillField(f, n, out, "YYYY", p.year, blank)) fillField(f, n, out, "YY", p.year % 100, blank);
    return n;
}

int32_t dateParse(const char* text, size_t n, const char* fmt, int epoch) {
    char f[kDateFormatMax + 1];
    const size_t fn = workingFormat(fmt, f);

    // Field order: each of D, M, Y takes, at its first appearance, the next
    // position. A letter the format lacks keeps 0 and never gets digits.
    enum { D, M, Y };
    int pos[3] = {0, 0, 0};
    int seen = 0;
    for (size_t i = 0; i < fn; ++i) {
        const int k = f[i] == 'D' ? D : f[i] == 'M' ? M : f[i] == 'Y' ? Y : -1;
        if (k >= 0 && pos[k] == 0) pos[k] = ++seen;
    }

    int32_t val[3] = {0, 0, 0};
    bool afterDigit = false;
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            for (int k = 0; k < 3; ++k) {
                if (pos[k] != 1) continue;
                val[k] = val[k] * 10 + (c - '0');
                // No field of a date has more than four digits of value; a
                // longer one must not wrap around into a plausible date.
                if (val[k] > 9999) return kEmptyDate;
            }
            afterDigit = true;
        } else if (c == ' ') {
            continue;
        } else if (afterDigit) {
            for (int k = 0; k < 3; ++k) --pos[k];
            afterDigit = false;
        }
    }

    int64_t year = val[Y];
    if (year < 100 && fn == 8) {
        const int e = epoch % 100;
        year += int64_t(epoch) - e + (year < e ? 100 : 0);
    }
    if (year < 0 || year > 9999) return kEmptyDate;
    return dateFromYmd(int(year), val[M], val[D], epoch);
}

void dateToCompact(int32_t jdn, char* out) {
    DateParts p;
    dateSplit(jdn, &p);
    const bool blank = p.year == 0;
    putDigits(out, 4, p.year, blank);
    putDigits(out + 4, 2, p.month, blank);
    putDigits(out + 6, 2, p.day, blank);
}

int32_t dateFromCompact(const char* text, size_t n, int epoch) {
    if (text == nullptr || n < kDateCompactLen) return kEmptyDate;
    int v[8];
    for (size_t i = 0; i < kDateCompactLen; ++i) {
        if (text[i] < '0' || text[i] > '9') return kEmptyDate;
        v[i] = text[i] - '0';
    }
    const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    return dateFromYmd(year, v[4] * 10 + v[5], v[6] * 10 + v[7], epoch);
}

int32_t dateFromLocalTime(const os::LocalTime& t) {
    // The OS gives a four-digit year, so no epoch is involved.
    return dateFromYmd(t.year, t.month, t.day, 0);
}

void timeText(const os::LocalTime& t, char* out) {
    putDigits(out, 2, t.hour, false);
    out[2] = ':';
    putDigits(out + 3, 2, t.minute, false);
    out[5] = ':';
    putDigits(out + 6, 2, t.second, false);
}

double secondsOfDay(const os::LocalTime& t) {
    return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.milliseconds / 1000.0;
}

const char* dayName(int index) {
    return index >= 1 && index <= 7 ? kDayNames[index] : kDayNames[0];
}

const char* monthName(int index) {
    return index >= 1 && index <= 12 ? kMonthNames[index] : kMonthNames[0];
}

const char* cdowText(int32_t jdn) {
    DateParts p;
    dateSplit(jdn, &p);
    return dayName(p.dayOfWeek);
}

const char* cmonthText(int32_t jdn) {
    DateParts p;
    dateSplit(jdn, &p);
    return monthName(p.month);
}

}  // namespace xb
