// The lower file layer: the runtime's only door to the file system. Every
// operation but the flush starts by clearing the error state and records the
// operating system's error (Windows numbering) when it fails, so that the
// file functions of pcode, the database drivers, the file-name layer and the
// error output all read failures from one place.
#pragma once
#include <cstdint>

#include "base/hooks.h"
#include "platform/platform.h"

namespace xb {

// The system calls the layer makes (FileSyscalls, base/hooks.h): the table
// in force, a field of the runtime's hooks record that tests change and the
// fixture puts back; and the platform's own calls.
FileSyscalls& fileSyscalls();
const FileSyscalls& defaultFileSyscalls();

// The error state of the layer.
struct FileErrorState {
    uint16_t osError;     // low 16 bits of the OS error of a failed open/create/read/write;
                          // 65535 after a failed delete, rename or directory operation
    uint16_t extError;    // only ever cleared
    uint16_t closeError;  // 65535 after a failed close
};
FileErrorState& fileErrorState();

// Open-mode bits understood here (others belong to the file-name layer).
constexpr uint16_t FO_WRITE = 0x01;       // write only
constexpr uint16_t FO_READWRITE = 0x02;   // read and write
constexpr uint16_t FO_DENYWRITE = 0x20;   // others may not write
constexpr uint16_t FO_DENYREAD = 0x30;    // either bit: others may not read

// CREATE_ALWAYS, read and write, shared. attributes 0 gives a normal file,
// otherwise its read-only (1), hidden (2) and system (4) bits are used.
os::Handle fsCreate(const char* name, uint16_t attributes);
// OPEN_EXISTING with the access and sharing of mode.
os::Handle fsOpen(const char* name, uint16_t mode);
bool fsClose(os::Handle h);
// 16-bit counts: the bytes moved, or 65535 on failure. A write of 0 bytes
// truncates the file at the current position instead. A write that fails
// with "disk full" (112) is not an error: it returns the bytes written.
uint16_t fsRead(os::Handle h, void* buffer, uint16_t count);
uint16_t fsWrite(os::Handle h, const void* buffer, uint16_t count);
// The same with 32-bit counts; failure is -1.
int32_t fsReadLong(os::Handle h, void* buffer, uint32_t count);
int32_t fsWriteLong(os::Handle h, const void* buffer, uint32_t count);
// A positioned read that leaves the file pointer alone: the bytes read
// (fewer only at the end of the file), or -1 on failure.
int32_t fsReadAt(os::Handle h, uint64_t offset, void* buffer, uint32_t count);
// SetFilePointer; 0xFFFFFFFF on failure, as the OS gives it.
uint32_t fsSeek(os::Handle h, int32_t offset, uint16_t origin);
bool fsDelete(const char* name);
bool fsRename(const char* from, const char* to);
bool fsLock(os::Handle h, uint32_t offset, uint32_t length, bool unlock);
void fsCommit(os::Handle h);  // leaves the error state alone
// closeError when set (83 stands for extError / 256 + 19), otherwise osError.
uint16_t fsLastError();
// Why the last write came up short: the OS error of a disk-full write (112),
// which fsWrite and fsWriteLong report as a short count with osError
// cleared; 0 when the last write was whole or failed outright. Cleared by
// the next write of data only (seeks, cuts, locks and reads leave it), so a driver can
// read it after the unlocks that follow a failed write and put it in its
// write error.
uint16_t fsShortWriteReason();
// The OS code a driver reports with a failed write: osError, else the
// short-write reason.
inline uint16_t fsWriteErrorCode() { return fsLastError() ? fsLastError() : fsShortWriteReason(); }

int fsMakeDir(const char* path);
int fsChangeDir(const char* path);
int fsRemoveDir(const char* path);
uint16_t fsChangeDrive(char letter);
uint16_t fsDriveError(char letter);  // can the drive be reached? (restores the directory)
const char* fsCurrentDir();          // static buffer; empty on failure
char fsCurrentDrive();
double fsDiskSpace(uint16_t drive);  // 0 current, 1 A:, 2 B: ...; -1 on failure
// GetComputerNameA into buffer (33 bytes); names shorter than 15 padded with blanks.
void fsComputerName(char* buffer);

}  // namespace xb
