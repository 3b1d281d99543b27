// Environment variables and reserved memory areas on Win32: committed
// pages are demand-zero, taking physical memory only when touched.
#include <windows.h>

#include "platform/environment.h"

namespace xb::os {

bool environmentVariable(const char* name, char* buf, uint32_t size, uint32_t* length) {
    if (!name || !*name) return false;
    DWORD n = GetEnvironmentVariableA(name, buf, size);
    if (n == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        if (size) buf[0] = 0;
        *length = 0;
        return true;
    }
    if (n >= size) {  // too small: n is the size needed, NUL included
        *length = n - 1;
        if (size) buf[0] = 0;
        return true;
    }
    *length = n;
    return true;
}

void* reserveArea(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void releaseArea(void* area, size_t bytes) {
    (void)bytes;
    if (area) VirtualFree(area, 0, MEM_RELEASE);
}

}  // namespace xb::os
