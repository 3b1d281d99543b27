#include "platform/environment.h"

#include <windows.h>

namespace xb::os {

int environmentVariable(const char* name, char* buf, int size) {
    if (size > 0) buf[0] = 0;
    if (size <= 0) return -1;
    DWORD n = GetEnvironmentVariableA(name, buf, DWORD(size));
    if (n == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? -1 : 0;
    if (n >= DWORD(size)) {
        buf[0] = 0;
        return -1;
    }
    return int(n);
}

}  // namespace xb::os
