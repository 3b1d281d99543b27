#include "runtime/files.h"

#include <cstring>

#include "base/casemap.h"

namespace xb {

namespace {

FileErrorState state;
const FileSyscalls platformCalls = {os::readFile,   os::writeFile,  os::setEndOfFile,
                                    os::lockFile,   os::unlockFile, os::readFileAt};
uint16_t shortWriteReason;

// The call in force: the hooks record's entry, or the platform's own.
#define FILE_CALL(name) (runtimeHooks.fileCalls.name ? runtimeHooks.fileCalls.name : platformCalls.name)
char currentDirBuffer[260];

void clearErrors() { state = FileErrorState{}; }
void noteOsError() { state.osError = uint16_t(os::lastError()); }

}  // namespace

FileErrorState& fileErrorState() { return state; }
FileSyscalls& fileSyscalls() { return runtimeHooks.fileCalls; }
const FileSyscalls& defaultFileSyscalls() { return platformCalls; }

os::Handle fsCreate(const char* name, uint16_t attributes) {
    clearErrors();
    uint32_t flags = attributes == 0 ? 0x80u : (attributes & 0x07u);
    os::Handle h = os::createFile(name, os::ACCESS_READ | os::ACCESS_WRITE, os::SHARE_READ | os::SHARE_WRITE,
                                  os::CREATE_ALWAYS, flags);
    if (h == os::INVALID) noteOsError();
    return h;
}

os::Handle fsOpen(const char* name, uint16_t mode) {
    clearErrors();
    uint32_t access = (mode & FO_WRITE) ? uint32_t(os::ACCESS_WRITE)
                      : (mode & FO_READWRITE) ? uint32_t(os::ACCESS_READ | os::ACCESS_WRITE)
                                              : uint32_t(os::ACCESS_READ);
    uint32_t share = os::SHARE_READ | os::SHARE_WRITE;
    if (mode & 0x20) share &= ~uint32_t(os::SHARE_WRITE);
    if (mode & 0x30) share &= ~uint32_t(os::SHARE_READ);
    os::Handle h = os::createFile(name, access, share, os::OPEN_EXISTING, 0x80);
    if (h == os::INVALID) noteOsError();
    return h;
}

bool fsClose(os::Handle h) {
    clearErrors();
    if (os::closeHandle(h)) return true;
    // The close error alone says only "failed"; keep the OS reason beside
    // it so that the file functions can report it.
    noteOsError();
    state.closeError = 65535;
    return false;
}

uint16_t fsRead(os::Handle h, void* buffer, uint16_t count) {
    clearErrors();
    uint32_t done = 0;
    if (!FILE_CALL(readFile)(h, buffer, count, &done)) {
        noteOsError();
        return 65535;
    }
    return uint16_t(done);
}

int32_t fsReadAt(os::Handle h, uint64_t offset, void* buffer, uint32_t count) {
    clearErrors();
    uint32_t done = 0;
    if (count > 0x7FFFFFFFu || !FILE_CALL(readFileAt)(h, offset, buffer, count, &done)) {
        noteOsError();
        return -1;
    }
    return int32_t(done);
}

uint16_t fsWrite(os::Handle h, const void* buffer, uint16_t count) {
    clearErrors();
    if (count == 0) {
        if (FILE_CALL(setEndOfFile)(h)) return 0;
        noteOsError();
        return 65535;
    }
    uint32_t done = 0;
    shortWriteReason = 0;
    if (!FILE_CALL(writeFile)(h, buffer, count, &done)) {
        if (os::lastError() == 112) {
            shortWriteReason = 112;
            return uint16_t(done);
        }
        noteOsError();
        return 65535;
    }
    return uint16_t(done);
}

int32_t fsReadLong(os::Handle h, void* buffer, uint32_t count) {
    clearErrors();
    uint32_t done = 0;
    if (!FILE_CALL(readFile)(h, buffer, count, &done)) {
        noteOsError();
        return -1;
    }
    return int32_t(done);
}

int32_t fsWriteLong(os::Handle h, const void* buffer, uint32_t count) {
    clearErrors();
    if (count == 0) {
        if (FILE_CALL(setEndOfFile)(h)) return 0;
        noteOsError();
        return -1;
    }
    uint32_t done = 0;
    shortWriteReason = 0;
    if (!FILE_CALL(writeFile)(h, buffer, count, &done)) {
        if (os::lastError() == 112) {
            shortWriteReason = 112;
            return int32_t(done);
        }
        noteOsError();
        return -1;
    }
    return int32_t(done);
}

uint32_t fsSeek(os::Handle h, int32_t offset, uint16_t origin) {
    clearErrors();
    return os::setFilePointer(h, offset, origin);
}

bool fsDelete(const char* name) {
    clearErrors();
    if (os::deleteFile(name)) return true;
    state.osError = 65535;
    return false;
}

bool fsRename(const char* from, const char* to) {
    clearErrors();
    if (os::moveFile(from, to)) return true;
    state.osError = 65535;
    return false;
}

bool fsLock(os::Handle h, uint32_t offset, uint32_t length, bool unlock) {
    clearErrors();
    bool ok = unlock ? FILE_CALL(unlockFile)(h, offset, length) : FILE_CALL(lockFile)(h, offset, length);
    if (!ok) noteOsError();  // the lock-failure errors carry it
    return ok;
}

void fsCommit(os::Handle h) { os::flushFileBuffers(h); }

uint16_t fsShortWriteReason() { return shortWriteReason; }

uint16_t fsLastError() {
    if (state.closeError == 0) return state.osError;
    if (state.closeError == 83) return uint16_t(state.extError / 256 + 19);
    return state.closeError;
}

int fsMakeDir(const char* path) {
    clearErrors();
    if (os::createDirectory(path)) return 1;
    state.osError = 65535;
    return 0;
}

int fsChangeDir(const char* path) {
    clearErrors();
    if (os::setCurrentDirectory(path)) return 1;
    state.osError = 65535;
    return 0;
}

int fsRemoveDir(const char* path) {
    clearErrors();
    if (os::removeDirectory(path)) return 1;
    state.osError = 65535;
    return 0;
}

uint16_t fsChangeDrive(char letter) {
    char root[4] = {letter, ':', '\\', 0};
    fsChangeDir(root);
    return state.osError;
}

uint16_t fsDriveError(char letter) {
    char previous[sizeof currentDirBuffer];
    std::strcpy(previous, fsCurrentDir());
    uint16_t result = fsChangeDrive(letter);
    if (previous[0]) fsChangeDir(previous);
    return result;
}

const char* fsCurrentDir() {
    clearErrors();
    int n = os::currentDirectory(currentDirBuffer, int(sizeof currentDirBuffer));
    if (n <= 0 || n >= int(sizeof currentDirBuffer)) {
        state.osError = 65535;
        currentDirBuffer[0] = 0;
    }
    return currentDirBuffer;
}

char fsCurrentDrive() { return char(toUpper(uint8_t(fsCurrentDir()[0]))); }

double fsDiskSpace(uint16_t drive) {
    char root[4] = {char('A' + drive - 1), ':', '\\', 0};
    uint32_t previous = os::setErrorMode(1);
    uint64_t bytes = 0;
    bool ok = os::diskFreeSpace(drive == 0 ? nullptr : root, &bytes);
    os::setErrorMode(previous);
    return ok ? double(bytes) : -1.0;
}

void fsComputerName(char* buffer) {
    if (!os::computerName(buffer, 33)) buffer[0] = 0;
    size_t n = std::strlen(buffer);
    while (n < 15) buffer[n++] = ' ';
    buffer[n] = 0;
}

}  // namespace xb
