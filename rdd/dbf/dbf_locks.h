// The byte-range locks that processes sharing a table (and its memo file)
// coordinate with. The offsets lie far beyond the end of any real file, so
// the locks never stop a read or a write of the data itself:
//   header lock   1000000000, 1 byte      (append, header write, memo append)
//   whole file    1000000001, 1000000000 bytes
//   record n      1000000000 + n, 1 byte
// All calls go through the file layer; a failed lock leaves its OS code in
// the file layer's error state.
#pragma once
#include <cstdint>

#include "runtime/files.h"

namespace xb {

constexpr uint32_t kDbfLockBase = 1000000000u;
constexpr uint32_t kDbfFileLockOffset = kDbfLockBase + 1;
constexpr uint32_t kDbfFileLockLength = 1000000000u;

inline bool dbfLockRecord(os::Handle h, uint32_t n) { return fsLock(h, kDbfLockBase + n, 1, false); }
inline bool dbfUnlockRecord(os::Handle h, uint32_t n) { return fsLock(h, kDbfLockBase + n, 1, true); }
inline bool dbfLockWholeFile(os::Handle h) { return fsLock(h, kDbfFileLockOffset, kDbfFileLockLength, false); }
inline bool dbfUnlockWholeFile(os::Handle h) { return fsLock(h, kDbfFileLockOffset, kDbfFileLockLength, true); }

// Takes the header lock, trying again a millisecond apart until it is
// granted. The wait is unbounded, as the lock is only ever held for one
// append or one header write (and the OS drops it when its holder dies);
// false only when the wait hook asks to stop waiting.
bool dbfLockHeaderWait(os::Handle h);
inline bool dbfUnlockHeader(os::Handle h) { return fsLock(h, kDbfLockBase, 1, true); }

// Called between two attempts; answers false to give up. Null (the default)
// sleeps one millisecond. Tests replace it to count or end the waits; it is
// a field of the runtime's hooks record.
using DbfLockWaitHook = bool (*)();
extern DbfLockWaitHook& dbfLockWaitHook;
// One wait between two attempts, through the hook when one is set.
bool dbfLockWait();

}  // namespace xb
