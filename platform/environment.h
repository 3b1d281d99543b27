// Environment variables and reserved memory areas.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xb::os {

// The one reader of environment variables. The value of `name` goes into
// buf, NUL-terminated, when it fits (length < size); a value that does not
// fit leaves buf empty. *length gets the value's full length either way, so
// a caller can ask again with a larger buffer. False when it is not set (an
// empty or missing name is never set).
bool environmentVariable(const char* name, char* buf, uint32_t size, uint32_t* length);

// The same for callers that want the whole value or nothing: false when it
// is not set or does not fit buf with its terminator.
inline bool environmentValue(const char* name, char* buf, uint32_t size) {
    uint32_t length = 0;
    return environmentVariable(name, buf, size, &length) && length < size;
}

// An area of `bytes` (a multiple of 64 KiB) that reads as zero and takes
// physical memory only as its pages are first touched; null when the address
// space is not there. Released whole with releaseArea.
void* reserveArea(size_t bytes);
void releaseArea(void* area, size_t bytes);

}  // namespace xb::os
