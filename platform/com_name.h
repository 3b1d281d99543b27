// Recognises the serial device names that both backends redirect: "COM1" to
// "COM9" in any case, with an optional trailing colon ("Com1:"), optionally
// behind the device prefix "\\.\", and keeps the table of redirections
// (mapComDevice in platform.h) that both backends read. Pure text work, no
// OS calls.
#pragma once

namespace xb::os {

constexpr int COM_PORTS = 9;

// 1..9 for a serial device name, 0 for anything else.
inline int comDeviceNumber(const char* name) {
    if (!name) return 0;
    if (name[0] == '\\' && name[1] == '\\' && name[2] == '.' && name[3] == '\\') name += 4;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return 0;
    if (name[3] < '1' || name[3] > '9') return 0;
    const char* end = name + 4;
    if (*end == ':') ++end;
    return *end ? 0 : name[3] - '0';
}

// The path set with mapComDevice for COM1..COM9 (number 1..9), or null when
// the port keeps its own device.
const char* mappedComDevice(int number);

}  // namespace xb::os
