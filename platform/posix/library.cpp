// Libraries loaded by the program: dlopen/dlsym/dlclose, with the Win32
// stdcall export names mapped to plain names (platform/export_name.h).
#include <dlfcn.h>

#include "platform/export_name.h"
#include "platform/platform.h"

namespace xb::os {

void* libraryLoad(const char* path) {
    if (!path || !*path) {
        setLastError(87);  // ERROR_INVALID_PARAMETER
        return nullptr;
    }
    // RTLD_LOCAL: the library's names never resolve anything of ours or of
    // another library; RTLD_NOW: a library with missing pieces fails here.
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) setLastError(126);  // ERROR_MOD_NOT_FOUND
    return library;
}

bool libraryFree(void* library) { return library && dlclose(library) == 0; }

void* libraryExport(void* library, const char* decoratedName) {
    char name[256];
    if (!library || !plainExportName(decoratedName, name, sizeof name)) return nullptr;
    void* address = dlsym(library, name);
    if (!address) setLastError(127);  // ERROR_PROC_NOT_FOUND
    return address;
}

}  // namespace xb::os
