// The index lock; see ntx_lock.h.
#include "rdd/ntx/ntx_lock.h"

#include "rdd/ntx/ntx_format.h"
#include "runtime/files.h"

namespace xb {

void ntxLockSetup(NtxLock* lock, os::Handle file, uint16_t signature) {
    lock->file = file;
    lock->tries = NTX_LOCK_TRIES;
    lock->depth = 0;
    lock->alternative = (signature & NTX_SIG_ALT_LOCK) != 0;
    if (lock->alternative)
        lock->offset = 1025u * NTX_ALT_LOCK_SLOT + 1026u;
    else
        lock->offset = (signature & NTX_SIG_LOCK_HIGH) ? NTX_LOCK_OFFSET_HIGH : NTX_LOCK_OFFSET;
}

bool ntxLockTake(NtxLock* lock, void (*idle)()) {
    if (lock->depth > 0) {
        lock->depth++;
        return true;
    }
    for (uint16_t i = 0; i < lock->tries; i++) {
        if (i > 0) {
            if (lock->alternative && idle) idle();
            os::sleepMs(1);
        }
        if (fsLock(lock->file, lock->offset, 1, false)) {
            lock->depth = 1;
            return true;
        }
    }
    return false;
}

bool ntxLockDrop(NtxLock* lock) {
    if (lock->depth == 0) return true;
    if (--lock->depth > 0) return true;
    return fsLock(lock->file, lock->offset, 1, true);
}

}  // namespace xb
