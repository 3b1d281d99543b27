// Calls on file names on Win32: delete, rename, directories, the current
// directory, free space and the existence test.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace xb::os {

bool deleteFile(const char* name) { return DeleteFileA(name) != 0; }
bool moveFile(const char* from, const char* to) { return MoveFileA(from, to) != 0; }
bool createDirectory(const char* name) { return CreateDirectoryA(name, nullptr) != 0; }
bool removeDirectory(const char* name) { return RemoveDirectoryA(name) != 0; }
bool setCurrentDirectory(const char* name) { return SetCurrentDirectoryA(name) != 0; }

int currentDirectory(char* buf, int size) {
    if (!buf || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD n = GetCurrentDirectoryA(DWORD(size), buf);
    if (n >= DWORD(size)) {  // the size it would need
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return int(n);
}

bool diskFreeSpace(const char* root, uint64_t* freeBytes) {
    if (root && !*root) root = nullptr;
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
    // The extended call is looked up, as systems before it lack it.
    using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    FreeSpaceEx extended = nullptr;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
        extended = reinterpret_cast<FreeSpaceEx>(
            reinterpret_cast<uintptr_t>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    bool ok;
    uint64_t bytes = 0;
    if (extended) {
        ULARGE_INTEGER available, total, totalFree;
        ok = extended(root, &available, &total, &totalFree) != 0;
        bytes = available.QuadPart;
    } else {
        DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
        ok = GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                               &clusters) != 0;
        bytes = uint64_t(sectorsPerCluster) * bytesPerSector * freeClusters;
    }
    DWORD error = GetLastError();
    SetErrorMode(previous);
    SetLastError(error);
    if (ok && freeBytes) *freeBytes = bytes;
    return ok;
}

bool fileExists(const char* name) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(name, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

uint32_t setErrorMode(uint32_t mode) { return SetErrorMode(mode); }

bool listDirectory(const char* pattern, bool (*visit)(const DirEntry& entry, void* context), void* context) {
    if (!pattern || !*pattern) {
        SetLastError(87);
        return false;
    }
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES;
    }
    bool more = true;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        if (std::strlen(data.cFileName) >= DIR_NAME_MAX) continue;
        DirEntry e{};
        std::strcpy(e.name, data.cFileName);
        e.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        FILETIME local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &t);
        e.modified = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        e.attributes = data.dwFileAttributes & (ATTR_READONLY | ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY | ATTR_ARCHIVE);
        more = visit(e, context);
    } while (more && FindNextFileA(h, &data));
    FindClose(h);
    return true;
}

}  // namespace xb::os
