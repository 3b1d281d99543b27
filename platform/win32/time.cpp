// Local time, sleeping, and the names of the machine and the user on Win32.
#include <windows.h>

#include "platform/platform.h"

namespace xb::os {

void localTime(LocalTime* t) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    t->year = now.wYear;
    t->month = now.wMonth;
    t->dayOfWeek = now.wDayOfWeek;
    t->day = now.wDay;
    t->hour = now.wHour;
    t->minute = now.wMinute;
    t->second = now.wSecond;
    t->milliseconds = now.wMilliseconds;
}

void sleepMs(uint32_t ms) { Sleep(ms); }

bool computerName(char* buf, uint32_t size) {
    DWORD n = size;
    return GetComputerNameA(buf, &n) != 0;
}

bool userName(char* buf, uint32_t size) {
    DWORD n = size;
    return GetUserNameA(buf, &n) != 0;
}

}  // namespace xb::os
