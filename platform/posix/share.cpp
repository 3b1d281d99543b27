// Windows sharing modes between processes, built on open-file-description
// locks (F_OFD_SETLK, Linux). Every handle of a regular file takes shared
// (read) locks on single bytes of a reserved region that describe how it
// uses the file:
//
//   SHARE_BASE + 0   the handle has read access
//   SHARE_BASE + 1   the handle has write access
//   SHARE_BASE + 2   the handle denies reading to others
//   SHARE_BASE + 3   the handle denies writing to others
//
// After announcing itself, an opener looks for another holder of each byte
// that conflicts with it (wants read: anyone denying reads? denies writes:
// anyone writing? ...). Announcing before looking means two openers racing
// for incompatible modes can both fail, never both succeed.
//
// SHARE_BASE lies at 8 GiB, beyond every range lockFile can express (32-bit
// offset plus 32-bit length), so sharing bytes never meet record locks.
//
// Description locks belong to the open file description, not the process:
// two handles of one process conflict as on Windows, a handle's locks stay
// until that handle is closed, and closing one handle does not drop the
// locks of another (classic per-process fcntl locks would do both wrong).
// Limitations: only openers that use this scheme see each other (other
// programs are not stopped); a descriptor inherited through fork shares its
// locks with the child; a handle whose file could not be opened readable
// (write-only permission) cannot announce itself and takes no part.
#define _FILE_OFFSET_BITS 64
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "platform/posix/share.h"

namespace xb::os::posix {

namespace {

constexpr off_t SHARE_BASE = off_t(1) << 33;
enum ShareByte : off_t { HAS_READ = 0, HAS_WRITE = 1, DENIES_READ = 2, DENIES_WRITE = 3 };

int lockByte(int fd, short type, off_t byte) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = SHARE_BASE + byte;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

// True when another open file description holds a lock in [first, first+count).
bool heldByOthers(int fd, off_t first, off_t count) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = SHARE_BASE + first;
    fl.l_len = count;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace

uint32_t claimShare(int fd, uint32_t access, uint32_t share) {
    bool wantRead = access & ACCESS_READ, wantWrite = access & ACCESS_WRITE;
    bool denyRead = !(share & SHARE_READ), denyWrite = !(share & SHARE_WRITE);
    int err = 0;
    if (wantRead && !err) err = lockByte(fd, F_RDLCK, HAS_READ);
    if (wantWrite && !err) err = lockByte(fd, F_RDLCK, HAS_WRITE);
    if (denyRead && !err) err = lockByte(fd, F_RDLCK, DENIES_READ);
    if (denyWrite && !err) err = lockByte(fd, F_RDLCK, DENIES_WRITE);
    if (err == EBADF) return 0;  // not readable: cannot take part (see above)
    if (err) return windowsError(err);
    bool conflict = (wantRead && heldByOthers(fd, DENIES_READ, 1)) ||
                    (wantWrite && heldByOthers(fd, DENIES_WRITE, 1)) ||
                    (denyRead && heldByOthers(fd, HAS_READ, 1)) ||
                    (denyWrite && heldByOthers(fd, HAS_WRITE, 1));
    if (!conflict) return 0;
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = SHARE_BASE;
    fl.l_len = 4;
    fcntl(fd, F_OFD_SETLK, &fl);
    return 32;  // ERROR_SHARING_VIOLATION
}

bool pathInUse(const char* path) {
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool used = heldByOthers(fd, HAS_READ, 2);
    close(fd);
    return used;
}

}  // namespace xb::os::posix
