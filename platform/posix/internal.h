// What the POSIX backend's files share among themselves: the translation of
// errno values into Windows error numbers, of Windows-shaped names into POSIX
// paths, and the serial device table. Not for use above the platform layer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xb::os::posix {

constexpr size_t PATH_BUFFER = 4096;

// Windows numbering of an errno value (never the raw errno).
uint32_t windowsError(int err);
// The same for a failure on a path: a missing entry is "file not found" (2)
// when its directory exists and "path not found" (3) when it does not.
uint32_t windowsPathError(int err, const char* path);
// setLastError of the above; they return false so that callers can write
// `return failWith(errno);`.
bool failWith(int err);
bool failOnPath(int err, const char* path);

// Copies name into out with backslashes turned into slashes (both separate
// directories on Windows), without the dots and blanks that end the last
// part, as Windows drops them. False, with error 206, when it does not fit.
bool nativePath(const char* name, char* out, size_t size);

// The device a serial port name stands for: the path set with mapComDevice,
// otherwise /dev/ttyS0 for COM1 and so on. number is 1..9.
const char* comDevicePath(int number);

}  // namespace xb::os::posix
