// errno to Windows error numbers, and Windows-shaped names to POSIX paths.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace xb::os::posix {

uint32_t windowsError(int err) {
    switch (err) {
        case 0: return 0;
        case ENOENT: return 2;        // ERROR_FILE_NOT_FOUND
        case ENOTDIR: return 3;       // ERROR_PATH_NOT_FOUND
        case EMFILE:
        case ENFILE: return 4;        // ERROR_TOO_MANY_OPEN_FILES
        case EACCES:
        case EPERM:
        case EISDIR: return 5;        // ERROR_ACCESS_DENIED
        case EBADF: return 6;         // ERROR_INVALID_HANDLE
        case ENOMEM: return 8;        // ERROR_NOT_ENOUGH_MEMORY
        case EXDEV: return 17;        // ERROR_NOT_SAME_DEVICE
        case EROFS: return 19;        // ERROR_WRITE_PROTECT
        case ENOTTY:
        case ESPIPE: return 1;        // ERROR_INVALID_FUNCTION
        case ETXTBSY: return 32;      // ERROR_SHARING_VIOLATION
        case EAGAIN:
        case EDEADLK: return 33;      // ERROR_LOCK_VIOLATION
        case ENOLCK: return 36;       // ERROR_SHARING_BUFFER_EXCEEDED
        case ENOSYS:
        case EOPNOTSUPP: return 50;   // ERROR_NOT_SUPPORTED
        case EEXIST: return 80;       // ERROR_FILE_EXISTS
        case EINVAL: return 87;       // ERROR_INVALID_PARAMETER
        case EPIPE: return 109;       // ERROR_BROKEN_PIPE
        case ENOSPC:
        case EDQUOT: return 112;      // ERROR_DISK_FULL
        case ENOTEMPTY: return 145;   // ERROR_DIR_NOT_EMPTY
        case EBUSY: return 170;       // ERROR_BUSY
        case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
        case EFBIG: return 223;       // ERROR_FILE_TOO_LARGE
        case ENXIO:
        case ENODEV: return 2;        // a serial port that is not there
        case EIO: return 1117;        // ERROR_IO_DEVICE
        case ELOOP: return 1921;      // ERROR_CANT_RESOLVE_FILENAME
        default: return 31;           // ERROR_GEN_FAILURE
    }
}

uint32_t windowsPathError(int err, const char* path) {
    if (err != ENOENT || !path) return windowsError(err);
    // Windows tells a missing file from a missing directory on the way to it.
    char dir[PATH_BUFFER];
    size_t n = strnlen(path, sizeof dir - 1);
    memcpy(dir, path, n);
    dir[n] = 0;
    while (n > 0 && dir[n - 1] == '/') dir[--n] = 0;  // "a/b/" names b
    char* slash = strrchr(dir, '/');
    if (!slash) return 2;  // relative to the current directory, which exists
    if (slash == dir) return 2;  // directly under the root
    *slash = 0;
    struct stat st;
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return 3;
    return 2;
}

bool failWith(int err) {
    setLastError(windowsError(err));
    return false;
}

bool failOnPath(int err, const char* path) {
    setLastError(windowsPathError(err, path));
    return false;
}

bool nativePath(const char* name, char* out, size_t size) {
    size_t i = 0;
    for (; name[i]; ++i) {
        if (i + 1 >= size) {
            setLastError(206);
            return false;
        }
        out[i] = name[i] == '\\' ? '/' : name[i];
    }
    out[i] = 0;
    // Windows drops the dots and blanks that end a name ("NAME." is NAME);
    // a last part made only of dots ("." and "..") stays as it is.
    size_t last = i;
    while (last > 0 && out[last - 1] != '/') --last;
    bool onlyDots = last < i;
    for (size_t k = last; k < i; ++k) onlyDots = onlyDots && out[k] == '.';
    if (!onlyDots)
        while (i > last && (out[i - 1] == '.' || out[i - 1] == ' ')) out[--i] = 0;
    return true;
}

}  // namespace xb::os::posix
