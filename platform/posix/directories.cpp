// Calls on file names rather than handles: delete, rename, directories, the
// current directory, free space and the existence test (FindFirstFileA).
#define _FILE_OFFSET_BITS 64
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <ctime>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "platform/posix/share.h"

namespace xb::os {

using namespace posix;

namespace {

bool toPath(const char* name, char (&out)[PATH_BUFFER]) {
    if (!name) return failWith(EINVAL);
    return nativePath(name, out, sizeof out);
}

// A name that exists but is not a directory gives ERROR_DIRECTORY (267)
// where a directory was needed; a missing one is path not found.
bool failNotDirectory(const char* path) {
    struct stat st;
    setLastError(stat(path, &st) == 0 && !S_ISDIR(st.st_mode) ? 267 : 3);
    return false;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// Windows wild cards: * any run of characters, ? one character, letters
// compared without case; "*.*" matches every name, with or without a point.
bool wildMatch(const char* pattern, const char* name) {
    if (strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || lowerAscii(*pattern) == lowerAscii(*name)) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

}  // namespace

bool deleteFile(const char* name) {
    char path[PATH_BUFFER];
    if (!toPath(name, path)) return false;
    struct stat st;
    if (lstat(path, &st) != 0) return failOnPath(errno, path);
    if (S_ISDIR(st.st_mode)) return failWith(EACCES);
    // Windows refuses to delete a file that any handle has open.
    if (S_ISREG(st.st_mode) && pathInUse(path)) return failWith(ETXTBSY);
    if (unlink(path) != 0) return failOnPath(errno, path);
    return true;
}

bool moveFile(const char* from, const char* to) {
    char source[PATH_BUFFER], target[PATH_BUFFER];
    if (!toPath(from, source) || !toPath(to, target)) return false;
    struct stat st;
    if (lstat(source, &st) != 0) return failOnPath(errno, source);
    if (S_ISREG(st.st_mode) && pathInUse(source)) return failWith(ETXTBSY);
    // MoveFileA never replaces an existing target.
    int r = renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
        struct stat existing;
        if (lstat(target, &existing) == 0) {
            setLastError(183);
            return false;
        }
        r = rename(source, target);
    }
    if (r == 0) return true;
    if (errno == EEXIST || errno == ENOTEMPTY) {
        setLastError(183);  // ERROR_ALREADY_EXISTS
        return false;
    }
    return failOnPath(errno, target);
}

bool createDirectory(const char* name) {
    char path[PATH_BUFFER];
    if (!toPath(name, path)) return false;
    if (mkdir(path, 0777) == 0) return true;
    if (errno == EEXIST) {
        setLastError(183);
        return false;
    }
    if (errno == ENOENT) {
        setLastError(3);  // the directory to create it in is missing
        return false;
    }
    return failOnPath(errno, path);
}

bool removeDirectory(const char* name) {
    char path[PATH_BUFFER];
    if (!toPath(name, path)) return false;
    if (rmdir(path) == 0) return true;
    if (errno == ENOTEMPTY || errno == EEXIST) return failWith(ENOTEMPTY);
    if (errno == ENOTDIR) return failNotDirectory(path);
    return failOnPath(errno, path);
}

bool setCurrentDirectory(const char* name) {
    char path[PATH_BUFFER];
    if (!toPath(name, path)) return false;
    if (chdir(path) == 0) return true;
    if (errno == ENOTDIR) return failNotDirectory(path);
    return failOnPath(errno, path);
}

int currentDirectory(char* buf, int size) {
    if (!buf || size <= 0) {
        setLastError(87);
        return 0;
    }
    if (!getcwd(buf, size_t(size))) {
        setLastError(errno == ERANGE ? 122 : windowsError(errno));  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    return int(strlen(buf));
}

bool diskFreeSpace(const char* root, uint64_t* freeBytes) {
    char path[PATH_BUFFER] = ".";
    if (root && *root && !nativePath(root, path, sizeof path)) return false;
    struct statvfs vfs;
    if (statvfs(path, &vfs) != 0) return failOnPath(errno, path);
    if (freeBytes) *freeBytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

bool fileExists(const char* name) {
    char path[PATH_BUFFER];
    if (!name || !*name || !nativePath(name, path, sizeof path)) return false;
    char* slash = strrchr(path, '/');
    const char* pattern = slash ? slash + 1 : path;
    if (!*pattern) return false;  // "dir/" names no entry, as on Windows
    if (!strpbrk(pattern, "*?")) {
        struct stat st;
        return lstat(path, &st) == 0;
    }
    if (slash) *slash = 0;
    DIR* dir = opendir(slash ? (path[0] ? path : "/") : ".");
    if (!dir) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        if (wildMatch(pattern, entry->d_name)) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool listDirectory(const char* pattern, bool (*visit)(const DirEntry& entry, void* context), void* context) {
    char path[PATH_BUFFER];
    if (!pattern || !*pattern || !nativePath(pattern, path, sizeof path)) return failWith(EINVAL);
    char* slash = strrchr(path, '/');
    const char* mask = slash ? slash + 1 : path;
    char folder[PATH_BUFFER] = ".";
    if (slash) {
        size_t n = size_t(slash - path);
        if (n == 0) n = 1;  // "/x": the root
        memcpy(folder, path, n);
        folder[n] = 0;
    }
    if (!*mask) mask = "*";
    DIR* dir = opendir(folder);
    if (!dir) return failOnPath(errno, folder);
    bool more = true;
    while (more) {
        dirent* d = readdir(dir);
        if (!d) break;
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
        if (strlen(d->d_name) >= DIR_NAME_MAX || !wildMatch(mask, d->d_name)) continue;
        char full[PATH_BUFFER];
        if (snprintf(full, sizeof full, "%s/%s", folder, d->d_name) >= int(sizeof full)) continue;
        struct stat st;
        if (stat(full, &st) != 0) continue;
        DirEntry e{};
        strcpy(e.name, d->d_name);
        e.size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
        tm parts{};
        time_t when = st.st_mtime;
        localtime_r(&when, &parts);
        e.modified = {uint16_t(parts.tm_year + 1900), uint16_t(parts.tm_mon + 1), uint16_t(parts.tm_mday),
                      uint16_t(parts.tm_hour), uint16_t(parts.tm_min), uint16_t(parts.tm_sec > 59 ? 59 : parts.tm_sec)};
        if (S_ISDIR(st.st_mode)) e.attributes |= ATTR_DIRECTORY;
        else e.attributes |= ATTR_ARCHIVE;
        if (d->d_name[0] == '.') e.attributes |= ATTR_HIDDEN;
        if (access(full, W_OK) != 0) e.attributes |= ATTR_READONLY;
        more = visit(e, context);
    }
    closedir(dir);
    return true;
}

uint32_t setErrorMode(uint32_t mode) {
    // There are no critical-error boxes to suppress; only the value is kept.
    static uint32_t current;
    uint32_t previous = current;
    current = mode;
    return previous;
}

}  // namespace xb::os
