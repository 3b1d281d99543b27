// Local time, sleeping, and the names of the machine and the user.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <sched.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace xb::os {

void localTime(LocalTime* t) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    tm parts{};
    localtime_r(&seconds, &parts);
    t->year = uint16_t(parts.tm_year + 1900);
    t->month = uint16_t(parts.tm_mon + 1);
    t->dayOfWeek = uint16_t(parts.tm_wday);  // 0 is Sunday, as on Windows
    t->day = uint16_t(parts.tm_mday);
    t->hour = uint16_t(parts.tm_hour);
    t->minute = uint16_t(parts.tm_min);
    t->second = uint16_t(parts.tm_sec > 59 ? 59 : parts.tm_sec);  // no leap second
    t->milliseconds = uint16_t(now.tv_nsec / 1000000);
}

void sleepMs(uint32_t ms) {
    if (ms == 0) {
        sched_yield();  // Sleep(0) gives up the rest of the time slice
        return;
    }
    timespec wait{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

static bool copyName(const char* name, char* buf, uint32_t size, uint32_t tooSmall) {
    size_t n = strlen(name);
    if (!buf || n + 1 > size) {
        setLastError(tooSmall);
        return false;
    }
    memcpy(buf, name, n + 1);
    return true;
}

bool computerName(char* buf, uint32_t size) {
    // GetComputerNameA gives the NetBIOS name: upper case, at most 15
    // characters, without a domain.
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return posix::failWith(errno);
    host[15] = 0;
    for (char* c = host; *c; ++c) {
        if (*c == '.') *c = 0;
        else if (*c >= 'a' && *c <= 'z') *c = char(*c - 32);
        if (!*c) break;
    }
    return copyName(host, buf, size, 111);  // ERROR_BUFFER_OVERFLOW
}

bool userName(char* buf, uint32_t size) {
    passwd entry{};
    passwd* found = nullptr;
    char scratch[4096];
    if (getpwuid_r(geteuid(), &entry, scratch, sizeof scratch, &found) != 0 || !found) {
        setLastError(1332);  // ERROR_NONE_MAPPED
        return false;
    }
    return copyName(found->pw_name, buf, size, 122);  // ERROR_INSUFFICIENT_BUFFER
}

}  // namespace xb::os
