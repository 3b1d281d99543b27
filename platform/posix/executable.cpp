// Execute permission for files the program writes (the compiler driver's
// executables).
#include <cerrno>
#include <sys/stat.h>

#include "platform/posix/internal.h"
#include "platform/executable.h"
#include "platform/platform.h"

namespace xb::os {

bool makeExecutable(const char* name) {
    char path[posix::PATH_BUFFER];
    if (!posix::nativePath(name, path, sizeof path)) return false;
    struct stat st;
    if (stat(path, &st) != 0) return posix::failOnPath(errno, path);
    // Whoever may read the file may run it.
    mode_t mode = st.st_mode | ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2);
    if (chmod(path, mode & 07777) != 0) return posix::failWith(errno);
    return true;
}

}  // namespace xb::os
