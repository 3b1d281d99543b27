// Upkeep of unique orders; see ntx_unique.h.
#include "rdd/ntx/ntx_unique.h"

namespace xb {

NtxStatus ntxUniqueUpdate(NtxTree* t, const NtxUniqueChange& c, NtxFindOther findOther, void* context) {
    NtxStatus st;
    bool found;
    if (c.oldPassed) {
        st = ntxLocate(t, c.oldKey, c.record, &found);
        if (st != NTX_OK) return st;
        if (found) {
            // The entry may hold other bytes than oldKey (an equal key by the
            // collation): re-point or delete the entry as it is stored.
            char stored[NTX_MAX_KEY_SIZE];
            std::memcpy(stored, t->curKey, t->keySize);
            uint32_t other = 0;
            if (!findOther(stored, c.record, &other, context)) return NTX_STOPPED;
            st = other != 0 ? ntxReplaceRecord(t, stored, c.record, other, &found)
                            : ntxDelete(t, stored, c.record, &found);
            if (st != NTX_OK) return st;
        }
    }
    if (c.newPasses) {
        uint32_t record;
        if ((st = ntxSeek(t, c.newKey, t->keySize, false, false, &record, &found)) != NTX_OK) return st;
        if (!found) return ntxInsert(t, c.newKey, c.record);
    }
    return NTX_OK;
}

}  // namespace xb
