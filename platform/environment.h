// Environment variables and reserved memory areas.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xb::os {

// The value of the environment variable `name` copied into buf (always
// terminated); false when it is not set or does not fit.
bool environmentValue(const char* name, char* buf, uint32_t size);

// An area of `bytes` (a multiple of 64 KiB) that reads as zero and takes
// physical memory only as its pages are first touched; null when the address
// space is not there. Released whole with releaseArea.
void* reserveArea(size_t bytes);
void releaseArea(void* area, size_t bytes);

}  // namespace xb::os
