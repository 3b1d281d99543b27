// File handles on POSIX: CreateFileA and the calls on an open handle.
//
// A handle is the file descriptor itself, so the standard handles work with
// readFile/writeFile as they are. A side table per descriptor keeps what
// POSIX does not: the access the handle was opened with (descriptors of
// regular files are opened read-write where permissions allow, so that
// record locks can be write locks; the table refuses what Windows would
// refuse with error 5) and the byte ranges the handle has locked.
//
// Byte-range locks are exclusive open-file-description locks: another
// handle, in this process or another, gets error 33 on any overlap, and so
// does the same handle, as on Windows; unlocking needs the exact range
// (error 158 otherwise). They are advisory: unlike Windows, reads and writes
// of a range locked by another handle are not refused. Sharing modes: see
// share.cpp. File names are case-sensitive, unlike on Windows.
#define _FILE_OFFSET_BITS 64
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/com_name.h"
#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "platform/posix/share.h"

namespace xb::os {

using namespace posix;

namespace {

struct Range {
    uint32_t offset, length;
};

struct HandleInfo {
    bool opened = false;  // made by createFile; other descriptors are unrestricted
    bool regular = false;
    uint32_t access = 0;
    std::vector<Range> locks;
};

std::vector<HandleInfo> handles;

// Descriptors are small numbers; the table grows only for those that
// createFile hands out or that take locks, never for a bogus handle value.
HandleInfo* find(Handle h) {
    return h >= 0 && size_t(h) < handles.size() ? &handles[size_t(h)] : nullptr;
}

HandleInfo& track(int fd) {
    if (size_t(fd) >= handles.size()) handles.resize(size_t(fd) + 16);
    return handles[size_t(fd)];
}

// Error 5 for a handle lacking the access. A descriptor that is not open
// fails in the call itself (EBADF, error 6).
bool usable(Handle h, uint32_t needed) {
    if (h < 0 || h > INT_MAX) {
        setLastError(6);
        return false;
    }
    HandleInfo* info = find(h);
    if (info && info->opened && (info->access & needed) != needed) {
        setLastError(5);
        return false;
    }
    return true;
}

// Opens read-write when permissions allow, else with just the access asked
// for; *readable tells whether the descriptor can be read.
int openWidened(const char* path, int extra, mode_t mode, uint32_t access, bool* readable) {
    int narrow = (access & ACCESS_WRITE) ? ((access & ACCESS_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    int fd = open(path, O_RDWR | extra, mode);
    *readable = true;
    if (fd >= 0 || narrow == O_RDWR) return fd;
    if (errno != EACCES && errno != EROFS && errno != EISDIR && errno != EPERM &&
        errno != ETXTBSY)
        return fd;
    *readable = narrow == O_RDONLY;
    return open(path, narrow | extra, mode);
}

}  // namespace

Handle createFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t attributes) {
    if (!name || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        setLastError(87);
        return INVALID;
    }
    char path[PATH_BUFFER];
    if (int com = comDeviceNumber(name)) {
        strncpy(path, comDevicePath(com), sizeof path - 1);
        path[sizeof path - 1] = 0;
    } else if (strcasecmp(name, "NUL") == 0 || strcasecmp(name, "NUL:") == 0) {
        strcpy(path, "/dev/null");
    } else if (!nativePath(name, path, sizeof path)) {
        return INVALID;
    }
    // Never wait for a carrier or become the controlling terminal.
    const int base = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const mode_t mode = (attributes & 1) ? 0444 : 0666;  // FILE_ATTRIBUTE_READONLY
    bool readable = true, existed = true;
    int fd = -1;
    if (disposition == CREATE_NEW) {
        existed = false;
        fd = openWidened(path, base | O_CREAT | O_EXCL, mode, access, &readable);
    } else {
        bool mayCreate = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
        for (int tries = 0; fd < 0 && tries < 8; ++tries) {
            fd = openWidened(path, base, mode, access, &readable);
            if (fd >= 0 || errno != ENOENT || !mayCreate) break;
            existed = false;
            fd = open(path, O_RDWR | base | O_CREAT | O_EXCL, mode);
            if (fd < 0 && errno == EEXIST) existed = true;  // lost a race: open it
            else break;
        }
    }
    if (fd < 0) {
        int err = errno;
        setLastError(err == EEXIST ? 80 : windowsPathError(err, path));
        return INVALID;
    }
    struct stat st;
    uint32_t error = 0;
    if (fstat(fd, &st) != 0) error = windowsError(errno);
    else if (S_ISDIR(st.st_mode)) error = 5;  // a directory is not a file handle
    if (!error) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!error && S_ISREG(st.st_mode) && readable) error = claimShare(fd, access, share);
    bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (!error && truncate && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)
        error = windowsError(errno == EBADF || errno == EINVAL ? EACCES : errno);
    if (error) {
        close(fd);
        setLastError(error);
        return INVALID;
    }
    HandleInfo& info = track(fd);
    info.opened = true;
    info.regular = S_ISREG(st.st_mode);
    info.access = access;
    info.locks.clear();
    setLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? 183 : 0);
    return fd;
}

bool readFile(Handle h, void* buf, uint32_t n, uint32_t* done) {
    if (done) *done = 0;
    if (!usable(h, ACCESS_READ)) return false;
    bool whole = find(h) && find(h)->regular;  // a device returns what it has
    uint32_t total = 0;
    while (total < n) {
        ssize_t r = read(int(h), static_cast<char*>(buf) + total, n - total);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            if (done) *done = total;
            return failWith(errno);
        }
        total += uint32_t(r);
        if (r == 0 || !whole) break;
    }
    if (done) *done = total;
    return true;
}

bool readFileAt(Handle h, uint64_t offset, void* buf, uint32_t n, uint32_t* done) {
    if (done) *done = 0;
    if (!usable(h, ACCESS_READ)) return false;
    uint32_t total = 0;
    while (total < n) {
        ssize_t r = pread(int(h), static_cast<char*>(buf) + total, n - total, off_t(offset + total));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            if (done) *done = total;
            return failWith(errno);
        }
        if (r == 0) break;
        total += uint32_t(r);
    }
    if (done) *done = total;
    return true;
}

bool writeFile(Handle h, const void* buf, uint32_t n, uint32_t* done) {
    if (done) *done = 0;
    if (!usable(h, ACCESS_WRITE)) return false;
    uint32_t total = 0;
    while (total < n) {
        ssize_t r = write(int(h), static_cast<const char*>(buf) + total, n - total);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (done) *done = total;
            return failWith(r < 0 ? errno : ENOSPC);
        }
        total += uint32_t(r);
    }
    if (done) *done = total;
    return true;
}

uint32_t setFilePointer(Handle h, int32_t distance, uint32_t origin) {
    if (!usable(h, 0)) return 0xFFFFFFFF;
    if (origin > FROM_END) {
        setLastError(87);
        return 0xFFFFFFFF;
    }
    off_t from = 0;
    if (origin != FROM_BEGIN) {
        from = lseek(int(h), 0, origin == FROM_CURRENT ? SEEK_CUR : SEEK_END);
        if (from < 0) {
            failWith(errno);
            return 0xFFFFFFFF;
        }
    }
    off_t target = from + distance;
    if (target < 0) {
        setLastError(131);  // ERROR_NEGATIVE_SEEK
        return 0xFFFFFFFF;
    }
    if (lseek(int(h), target, SEEK_SET) < 0) {
        failWith(errno);
        return 0xFFFFFFFF;
    }
    return uint32_t(target);
}

bool setEndOfFile(Handle h) {
    if (!usable(h, ACCESS_WRITE)) return false;
    off_t at = lseek(int(h), 0, SEEK_CUR);
    if (at < 0 || ftruncate(int(h), at) != 0) return failWith(errno);
    return true;
}

bool lockFile(Handle h, uint32_t offset, uint32_t length) {
    if (!usable(h, 0)) return false;
    if (length == 0) return true;  // an empty range conflicts with nothing
    uint64_t end = uint64_t(offset) + length;
    if (HandleInfo* info = find(h))
        for (const Range& r : info->locks)
            if (offset < uint64_t(r.offset) + r.length && r.offset < end) {
                setLastError(33);
                return false;
            }
    struct flock fl {};
    // A descriptor that could only be opened for reading can only take a
    // shared lock: it still excludes every writer's lock.
    fl.l_type = (fcntl(int(h), F_GETFL) & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    if (fcntl(int(h), F_OFD_SETLK, &fl) != 0) {
        int err = errno;
        setLastError(err == EAGAIN || err == EACCES ? 33 : windowsError(err));
        return false;
    }
    track(int(h)).locks.push_back({offset, length});
    return true;
}

bool unlockFile(Handle h, uint32_t offset, uint32_t length) {
    if (!usable(h, 0)) return false;
    if (length == 0) return true;
    HandleInfo* info = find(h);
    for (size_t i = 0; info && i < info->locks.size(); ++i) {
        if (info->locks[i].offset != offset || info->locks[i].length != length) continue;
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = off_t(offset);
        fl.l_len = off_t(length);
        if (fcntl(int(h), F_OFD_SETLK, &fl) != 0) return failWith(errno);
        info->locks.erase(info->locks.begin() + long(i));
        return true;
    }
    if (fcntl(int(h), F_GETFD) == -1) return failWith(errno);
    setLastError(158);  // ERROR_NOT_LOCKED
    return false;
}

bool flushFileBuffers(Handle h) {
    if (!usable(h, ACCESS_WRITE)) return false;
    if (isatty(int(h))) {
        // A serial line is flushed when everything written has gone out.
        if (tcdrain(int(h)) != 0) return failWith(errno);
        return true;
    }
    if (fsync(int(h)) != 0 && errno != EINVAL && errno != EROFS) return failWith(errno);
    return true;  // pipes and the like have nothing to flush
}

bool closeHandle(Handle h) {
    if (h < 0 || h > INT_MAX) {
        setLastError(6);
        return false;
    }
    if (HandleInfo* info = find(h)) {
        info->opened = false;
        info->regular = false;
        info->locks.clear();
    }
    // The descriptor is gone even when close reports an error, so no retry.
    if (close(int(h)) != 0 && errno != EINTR) return failWith(errno);
    return true;
}

}  // namespace xb::os
