// Environment variables and reserved memory areas on Win32: committed
// pages are demand-zero, taking physical memory only when touched.
#include <windows.h>

#include "platform/environment.h"

namespace xb::os {

bool environmentValue(const char* name, char* buf, uint32_t size) {
    if (size == 0) return false;
    DWORD n = GetEnvironmentVariableA(name, buf, size);
    return n > 0 && n < size;
}

void* reserveArea(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void releaseArea(void* area, size_t bytes) {
    (void)bytes;
    if (area) VirtualFree(area, 0, MEM_RELEASE);
}

}  // namespace xb::os
