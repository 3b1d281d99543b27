// Serial ports: FDCB (the line settings of a port opened with FOPEN) and the
// runtime switch that points a port at another device.
#pragma once

namespace xb {

// A command-line argument of the form /COMn=PATH (n 1 to 9, COM in any
// case) makes the device COMn open PATH instead. Returns true when the
// argument had that form. Like every argument beginning with a slash, it
// is never passed to the program.
bool applySerialSwitch(const char* argument);

}  // namespace xb
