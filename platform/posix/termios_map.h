// The four line settings of a serial port (CommState) in a termios record.
// Pure functions on the record, so that the mapping can be checked without a
// terminal.
//
// Speed: the standard termios rates only. Data bits: CS5..CS8. Parity:
// PARENB/PARODD, with CMSPAR for mark (3) and space (4). Stop bits: CSTOPB
// is two stop bits, or one and a half with five data bits (what a UART does
// with that bit), so 1.5 needs five data bits and two need more than five,
// the combinations Windows accepts.
#pragma once
#include <termios.h>

#include "platform/platform.h"

namespace xb::os::posix {

// False when the terminal's speed has no baud-rate equivalent.
bool commStateFromTermios(const termios& t, CommState* state);

// Changes only speed, data bits, parity and stop bits; every other setting
// stays as it is. False, with t untouched, when the terminal cannot
// represent the settings (a speed with no termios constant, a baud rate of
// 0, a data size outside 5..8, an unknown parity or stop-bit code, or a
// combination of data and stop bits the line cannot produce).
bool commStateToTermios(const CommState& state, termios* t);

}  // namespace xb::os::posix
