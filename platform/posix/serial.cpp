// Serial ports on POSIX: the device of each COMn (a redirection from
// platform/com_name.cpp, else /dev/ttySn-1) and GetCommState/SetCommState
// over tcgetattr/tcsetattr.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <termios.h>

#include "platform/com_name.h"
#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "platform/posix/termios_map.h"

namespace xb::os {

using namespace posix;

namespace {

// What must read back after a change for it to count as applied.
constexpr tcflag_t LINE_BITS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// A handle that is no serial line is an invalid handle for these calls.
bool failLine(int err) {
    if (err == ENOTTY) err = EBADF;
    return failWith(err);
}

}  // namespace

const char* posix::comDevicePath(int number) {
    static char standard[32];
    if (const char* mapped = mappedComDevice(number)) return mapped;
    snprintf(standard, sizeof standard, "/dev/ttyS%d", number - 1);
    return standard;
}

bool getCommState(Handle h, CommState* state) {
    termios t;
    if (!state) return failWith(EINVAL);
    if (tcgetattr(int(h), &t) != 0) return failLine(errno);
    if (!commStateFromTermios(t, state)) return failWith(EINVAL);
    return true;
}

bool setCommState(Handle h, const CommState* state) {
    termios before;
    if (!state) return failWith(EINVAL);
    if (tcgetattr(int(h), &before) != 0) return failLine(errno);
    termios wanted = before;
    if (!commStateToTermios(*state, &wanted)) return failWith(EINVAL);
    if (tcsetattr(int(h), TCSANOW, &wanted) != 0) return failLine(errno);
    // tcsetattr succeeds when any part was taken: make sure all of it was,
    // or put the port back as it was, like a refused SetCommState.
    termios now;
    if (tcgetattr(int(h), &now) != 0 || cfgetospeed(&now) != cfgetospeed(&wanted) ||
        (now.c_cflag & LINE_BITS) != (wanted.c_cflag & LINE_BITS)) {
        tcsetattr(int(h), TCSANOW, &before);
        return failWith(EINVAL);
    }
    return true;
}

}  // namespace xb::os
