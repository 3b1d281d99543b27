#include "rdd/dbf/dbf_locks.h"

namespace xb {

DbfLockWaitHook& dbfLockWaitHook = runtimeHooks.dbfLockWait;

bool dbfLockWait() {
    if (dbfLockWaitHook) return dbfLockWaitHook();
    os::sleepMs(1);
    return true;
}

bool dbfLockHeaderWait(os::Handle h) {
    for (;;) {
        if (fsLock(h, kDbfLockBase, 1, false)) return true;
        if (!dbfLockWait()) return false;
    }
}

}  // namespace xb
