// Shared between the Win32 backend's files. Not for use above the platform layer.
#pragma once

namespace xb::os::win32 {

// The path set with mapComDevice for COM1..COM9, or null when the port
// keeps its own name.
const char* mappedComDevice(int number);

}  // namespace xb::os::win32
