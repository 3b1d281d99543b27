// The index lock: one byte of the index file, held while a process reads
// or changes an order in shared use. Where the byte lies comes from the
// header's signature: offset 1000000000, or 0xFFFFFFFF with bit 4, or the
// alternative byte 1025 * slot + 1026 (slot 1: 2051) with bit 5. Locks
// nest: only the outermost take and drop touch the file.
//
// After a successful outermost take the caller refreshes the tree
// (ntxRefresh) so that another process's changes are seen. Failures are
// reported, not raised: the driver turns them into its lock errors (with
// the operating-system code from fsLastError when there is one).
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace xb {

constexpr uint32_t NTX_LOCK_OFFSET = 1000000000u;
constexpr uint32_t NTX_LOCK_OFFSET_HIGH = 0xFFFFFFFFu;
constexpr uint32_t NTX_ALT_LOCK_SLOT = 1;
constexpr uint16_t NTX_LOCK_TRIES = 1000;

struct NtxLock {
    os::Handle file;
    uint32_t offset;   // the byte locked
    uint16_t tries;    // attempts of an outermost take, 1 ms apart
    uint16_t depth;    // nesting counter; the byte is held while > 0
    bool alternative;  // the alternative byte: idle checks between tries
};

void ntxLockSetup(NtxLock* lock, os::Handle file, uint16_t signature);
// true when the lock is held (taken now or already held); false after the
// last try failed (depth unchanged). idle (may be null) runs between tries
// of the alternative lock.
bool ntxLockTake(NtxLock* lock, void (*idle)());
// true when released or still nested; false when the unlock failed.
bool ntxLockDrop(NtxLock* lock);

}  // namespace xb
