// Line settings <-> termios (see termios_map.h).
#include "platform/posix/termios_map.h"

namespace xb::os::posix {

namespace {

struct Speed {
    uint32_t baud;
    speed_t code;
};

constexpr Speed speeds[] = {
    {0, B0},           {50, B50},         {75, B75},         {110, B110},
    {134, B134},       {150, B150},       {200, B200},       {300, B300},
    {600, B600},       {1200, B1200},     {1800, B1800},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
#endif
};

constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};

}  // namespace

bool commStateFromTermios(const termios& t, CommState* state) {
    speed_t code = cfgetospeed(&t);
    const Speed* found = nullptr;
    for (const Speed& s : speeds)
        if (s.code == code) found = &s;
    if (!found) return false;
    state->baudRate = found->baud;
    tcflag_t size = t.c_cflag & CSIZE;
    state->byteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    if (!(t.c_cflag & PARENB)) state->parity = 0;
    else if (t.c_cflag & CMSPAR) state->parity = (t.c_cflag & PARODD) ? 3 : 4;
    else state->parity = (t.c_cflag & PARODD) ? 1 : 2;
    if (!(t.c_cflag & CSTOPB)) state->stopBits = 0;
    else state->stopBits = size == CS5 ? 1 : 2;
    return true;
}

bool commStateToTermios(const CommState& state, termios* t) {
    const Speed* found = nullptr;
    for (const Speed& s : speeds)
        if (s.baud == state.baudRate && s.baud != 0) found = &s;  // 0 would hang up
    if (!found || state.byteSize < 5 || state.byteSize > 8 || state.parity > 4 ||
        state.stopBits > 2)
        return false;
    if (state.stopBits == 1 && state.byteSize != 5) return false;  // 1.5 only with 5 bits
    if (state.stopBits == 2 && state.byteSize == 5) return false;  // 5 bits give 1.5
    termios n = *t;
    if (cfsetospeed(&n, found->code) != 0 || cfsetispeed(&n, found->code) != 0) return false;
    n.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    n.c_cflag |= sizes[state.byteSize - 5];
    if (state.parity != 0) n.c_cflag |= PARENB;
    if (state.parity == 1 || state.parity == 3) n.c_cflag |= PARODD;
    if (state.parity >= 3) n.c_cflag |= CMSPAR;
    if (state.stopBits != 0) n.c_cflag |= CSTOPB;
    *t = n;
    return true;
}

}  // namespace xb::os::posix
