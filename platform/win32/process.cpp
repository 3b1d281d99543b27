// Process-level calls on Win32.
#include <windows.h>

#include "platform/platform.h"

namespace xb::os {

[[noreturn]] void exitProcess(uint32_t code) { ExitProcess(code); }
uint32_t lastError() { return GetLastError(); }
void setLastError(uint32_t code) { SetLastError(code); }
Handle stdOutput() { return reinterpret_cast<Handle>(GetStdHandle(STD_OUTPUT_HANDLE)); }
Handle stdError() { return reinterpret_cast<Handle>(GetStdHandle(STD_ERROR_HANDLE)); }
Handle stdInput() { return reinterpret_cast<Handle>(GetStdHandle(STD_INPUT_HANDLE)); }
bool isTerminal(Handle h) {
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(h), &mode) != 0;
}

const char* commandLine() { return GetCommandLineA(); }

void setCommandLine(int, char**) {}  // the system keeps the line itself

int moduleFileName(char* buf, int size) {
    if (!buf || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return int(GetModuleFileNameA(nullptr, buf, DWORD(size)));
}

void* moduleHandle(const char* name) { return reinterpret_cast<void*>(GetModuleHandleA(name)); }

void* procAddress(void* module, const char* name) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address));
}

}  // namespace xb::os
