// File handles on Win32: CreateFileA and the calls on an open handle.
#include <windows.h>

#include "platform/com_name.h"
#include "platform/platform.h"

namespace xb::os {

static HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h); }

Handle createFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t attributes) {
    if (int com = comDeviceNumber(name))
        if (const char* mapped = mappedComDevice(com)) name = mapped;
    DWORD desired = ((access & ACCESS_READ) ? GENERIC_READ : 0) |
                    ((access & ACCESS_WRITE) ? GENERIC_WRITE : 0);
    DWORD sharing = ((share & SHARE_READ) ? FILE_SHARE_READ : 0) |
                    ((share & SHARE_WRITE) ? FILE_SHARE_WRITE : 0);
    HANDLE h = CreateFileA(name, desired, sharing, nullptr, disposition,
                           attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<Handle>(h);
}

bool readFile(Handle h, void* buf, uint32_t n, uint32_t* done) {
    DWORD count = 0;
    BOOL ok = ReadFile(native(h), buf, n, &count, nullptr);
    if (done) *done = count;
    return ok != 0;
}

// ReadFile with an offset moves the pointer of a synchronous handle: it is
// put back so that the call behaves as a positioned read elsewhere.
bool readFileAt(Handle h, uint64_t offset, void* buf, uint32_t n, uint32_t* done) {
    if (done) *done = 0;
    LARGE_INTEGER zero{}, saved{};
    if (!SetFilePointerEx(native(h), zero, &saved, FILE_CURRENT)) return false;
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD count = 0;
    BOOL ok = ReadFile(native(h), buf, n, &count, &at);
    DWORD error = ok ? 0 : GetLastError();
    SetFilePointerEx(native(h), saved, nullptr, FILE_BEGIN);
    if (!ok && error == ERROR_HANDLE_EOF) ok = TRUE;  // the end of the file: a short read
    if (done) *done = count;
    if (!ok) SetLastError(error);
    return ok != 0;
}

bool writeFile(Handle h, const void* buf, uint32_t n, uint32_t* done) {
    DWORD count = 0;
    BOOL ok = WriteFile(native(h), buf, n, &count, nullptr);
    if (done) *done = count;
    return ok != 0;
}

uint32_t setFilePointer(Handle h, int32_t distance, uint32_t origin) {
    return SetFilePointer(native(h), distance, nullptr, origin);
}

bool setEndOfFile(Handle h) { return SetEndOfFile(native(h)) != 0; }

bool lockFile(Handle h, uint32_t offset, uint32_t length) {
    return LockFile(native(h), offset, 0, length, 0) != 0;
}

bool unlockFile(Handle h, uint32_t offset, uint32_t length) {
    return UnlockFile(native(h), offset, 0, length, 0) != 0;
}

bool flushFileBuffers(Handle h) { return FlushFileBuffers(native(h)) != 0; }
bool closeHandle(Handle h) { return CloseHandle(native(h)) != 0; }

}  // namespace xb::os
