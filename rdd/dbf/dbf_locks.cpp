#include "rdd/dbf/dbf_locks.h"

namespace xb {

namespace {
bool sleepOneMillisecond() {
    os::sleepMs(1);
    return true;
}
}  // namespace

DbfLockWaitHook dbfLockWaitHook = sleepOneMillisecond;

bool dbfLockHeaderWait(os::Handle h) {
    for (;;) {
        if (fsLock(h, kDbfLockBase, 1, false)) return true;
        if (!dbfLockWaitHook()) return false;
    }
}

}  // namespace xb
