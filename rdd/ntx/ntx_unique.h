// Keeping a unique order right when a record changes. A unique order holds
// one entry per distinct key (by the collation), naming some record that
// has the key. The rule kept here, for record R going from (old key, old
// pass) to (new key, new pass), with pass meaning "passes the for-condition":
//
//   1. When R passed before and the order's entry for the old key names R:
//      re-point the entry to another passing record with that key when the
//      table has one (findOther), else delete the entry.
//   2. When R passes now and no entry has the new key: insert (new key, R).
//
// Appending is step 2 alone (oldPassed false). So every key value that a
// passing record has stays represented exactly once, and every entry names
// a record that has its key.
#pragma once
#include <cstdint>

#include "rdd/ntx/ntx_tree.h"

namespace xb {

// Another record than `exclude` that passes and whose current key equals
// key by the collation; *record 0 when there is none. Returns false to
// stop the update (which then answers NTX_STOPPED), keeping its reason in
// its context.
using NtxFindOther = bool (*)(const char* key, uint32_t exclude, uint32_t* record, void* context);

struct NtxUniqueChange {
    uint32_t record;
    const char* oldKey;  // keySize bytes; may be null when !oldPassed
    bool oldPassed;
    const char* newKey;  // keySize bytes; may be null when !newPasses
    bool newPasses;
};

NtxStatus ntxUniqueUpdate(NtxTree* t, const NtxUniqueChange& change, NtxFindOther findOther, void* context);

}  // namespace xb
