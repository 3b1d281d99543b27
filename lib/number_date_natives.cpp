// Number and date functions: MOD, STOD, DAYS and ELAPTIME. A wrong argument
// type raises the function's argument error (lib_args.h).
#include <cmath>
#include <cstdio>

#include "vm/function.h"
#include "base/dates.h"
#include "lib/lib_args.h"
#include "vm/settings.h"

namespace xb {

namespace {

// "hh:mm:ss" (or a shorter "hh:mm", "hh") as seconds since midnight.
int32_t clockSeconds(const Item* s) {
    const char* p = strData(s);
    uint32_t n = strLength(s);
    int32_t parts[3] = {0, 0, 0};
    for (uint32_t i = 0, k = 0; i < n && k < 3; ++i) {
        if (p[i] == ':') ++k;
        else if (p[i] >= '0' && p[i] <= '9') parts[k] = parts[k] * 10 + (p[i] - '0');
        if (parts[k] > 100000) parts[k] = 100000;
    }
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

}  // namespace

// MOD(a, b): the remainder of a / b with the sign of b (so MOD(-1, 3) is 2,
// where the % operator gives -1). b = 0 raises the division-by-zero error
// as % does, whose default answer is 0.
XB_NATIVE(fnMOD, "MOD") {
    Item* a = libArg(1);
    Item* b = libArg(2);
    if (!a || !b || !isNumeric(a) || !isNumeric(b)) return libArgError(SC_MOD);
    double x = itemDouble(a), y = itemDouble(b);
    if (y == 0) {
        retNil();
        return raiseFunctionError(EG_ZERODIV, "BASE", 1341, EF_SUBSTITUTE);
    }
    double m = std::fmod(x, y);
    if (m != 0 && ((m < 0) != (y < 0))) m += y;
    uint16_t dec = a->type == T_DOUBLE ? a->decimals : 0;
    if (b->type == T_DOUBLE && b->decimals > dec) dec = b->decimals;
    retDouble(m, 0, dec);
    return 0;
}

// STOD(text): the date of a "YYYYMMDD" text; the empty date for an empty,
// blank or invalid one.
XB_NATIVE(fnSTOD, "STOD") {
    Item* s = libArg(1);
    if (!libIsNil(s) && !isString(s)) return libArgError(SC_STOD);
    int32_t day = libIsNil(s) ? kEmptyDate : dateFromCompact(strData(s), strLength(s), settingEpoch());
    Item* r = returnItem();
    itemClear(r);
    r->type = T_DATE;
    r->v.l = day;
    return 0;
}

// DAYS(seconds): the whole days in a number of seconds.
XB_NATIVE(fnDAYS, "DAYS") {
    Item* s = libArg(1);
    if (!s || !isNumeric(s)) return libArgError(SC_DAYS);
    retInt(int32_t(std::floor(itemDouble(s) / 86400.0)));
    return 0;
}

// ELAPTIME(start, end): the time from start to end ("hh:mm:ss" texts) as
// "hh:mm:ss"; an end before the start is taken as the next day.
XB_NATIVE(fnELAPTIME, "ELAPTIME") {
    Item* a = libText(1);
    Item* b = libText(2);
    if (!a || !b) return libArgError(SC_ELAPTIME);
    int32_t d = clockSeconds(b) - clockSeconds(a);
    if (d < 0) d += 86400;
    char text[16];
    int32_t h = d / 3600 % 100000;
    int n = std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(h), int(d / 60 % 60), int(d % 60));
    retString(text, uint32_t(n));
    return 0;
}

}  // namespace xb
