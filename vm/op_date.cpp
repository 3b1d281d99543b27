// Date and time built-ins: DATE, TIME, SECONDS, DAY, MONTH, YEAR, DOW,
// CMONTH, CDOW, DTOC, CTOD and DTOS. Dates are shown and read in the working
// date format; the local date and time come from the platform layer.
#include <cstring>

#include "base/dates.h"
#include "platform/platform.h"
#include "vm/settings.h"
#include "vm/builtins.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// DAY, MONTH, YEAR and DOW: one field of the split date (0 for the empty
// date) as an Integer of the function's width.
enum DateField { F_DAY, F_MONTH, F_YEAR, F_DOW };

uint16_t dateField(DateField field, uint16_t width, OpErrorWord error) {
    Item* x = vm.top;
    if (x->type != T_DATE) return opStatus(error);
    DateParts parts;
    dateSplit(x->v.l, &parts);
    const uint16_t values[] = {parts.day, parts.month, parts.year, parts.dayOfWeek};
    putInteger(x, values[field], width);
    return 0;
}

// CMONTH and CDOW: a name of the national-language module, the empty text
// for the empty date. The names are fixed texts, so the String only points
// at them.
uint16_t dateName(const char* (*name)(int32_t), OpErrorWord error) {
    Item* x = vm.top;
    if (x->type != T_DATE) return opStatus(error);
    const char* text = name(x->v.l);
    makeConstString(x, text, uint32_t(std::strlen(text)));
    return 0;
}

}  // namespace

XB_OPCODE(DAY) { return dateField(F_DAY, 3, E_DAY); }
XB_OPCODE(MONTH) { return dateField(F_MONTH, 3, E_MONTH); }
XB_OPCODE(YEAR) { return dateField(F_YEAR, 5, E_YEAR); }
XB_OPCODE(DOW) { return dateField(F_DOW, 2, E_DOW); }

XB_OPCODE(CMONTH) { return dateName(cmonthText, E_CMONTH); }
XB_OPCODE(CDOW) { return dateName(cdowText, E_CDOW); }

XB_OPCODE(DTOC) {
    Item* x = vm.top;
    if (x->type != T_DATE) return opStatus(E_DTOC);
    char text[kDateFormatMax + 1];
    size_t n = dateFormat(x->v.l, settingDateFormat(), text);
    makeString(x, text, uint32_t(n));
    return 0;
}

XB_OPCODE(CTOD) {
    Item* s = vm.top;
    if (!isString(s)) return opStatus(E_CTOD);
    putDate(s, dateParse(strData(s), strLength(s), settingDateFormat(), settingEpoch()));
    return 0;
}

XB_OPCODE(DTOS) {
    Item* x = vm.top;
    if (x->type != T_DATE) return opStatus(E_DTOS);
    char text[kDateCompactLen];
    dateToCompact(x->v.l, text);
    makeString(x, text, kDateCompactLen);
    return 0;
}

XB_OPCODE(DATE) {
    os::LocalTime t;
    os::localTime(&t);
    Item* x = pushSlot();
    putDate(x, dateFromLocalTime(t));
    return 0;
}

// TIME(): "hh:mm:ss" of the local time.
XB_OPCODE(TIME) {
    os::LocalTime t;
    os::localTime(&t);
    char text[kTimeTextLen];
    timeText(t, text);
    pushNil();
    makeString(vm.top, text, kTimeTextLen);
    return 0;
}

// SECONDS(): seconds since midnight with the milliseconds, 2 decimals.
XB_OPCODE(SECONDS) {
    os::LocalTime t;
    os::localTime(&t);
    pushDouble(secondsOfDay(t), 0, 2);
    return 0;
}

}  // namespace xb
