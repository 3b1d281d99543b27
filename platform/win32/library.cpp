// Libraries loaded by the program: LoadLibraryA/GetProcAddress/FreeLibrary.
// Exports are looked up by their decorated stdcall names as written.
#include <windows.h>

#include "platform/platform.h"

namespace xb::os {

void* libraryLoad(const char* path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // No critical-error box for a missing or unreadable file: a failure is
    // the loader's result.
    UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(path);
    SetErrorMode(mode);
    return reinterpret_cast<void*>(library);
}

bool libraryFree(void* library) { return library && FreeLibrary(static_cast<HMODULE>(library)) != 0; }

void* libraryExport(void* library, const char* decoratedName) {
    if (!library || !decoratedName) return nullptr;
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), decoratedName);
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address));
}

}  // namespace xb::os
