// The invariant checker of an index file: every page well formed (key
// count within the maximum, offset table inside the page), every child
// offset 0 or a page inside the file, no page reached twice (no cycles, no
// shared subtrees), depth within the descent stack, keys in order across
// every separator (through the order's comparison), no key twice in a
// unique order, and a free list of distinct pages inside the file that the
// tree does not use. Leaves need not lie at equal depth (deletion frees
// leaves without rebalancing), and a page may hold no keys.
//
// The checker reads pages itself (it does not move the tree's position)
// and hands every key in order to an optional visitor, so that a table
// check can compare the order with the records.
#pragma once
#include <cstdint>

#include "rdd/ntx/ntx_tree.h"

namespace xb {

struct NtxCheckResult {
    NtxStatus status;    // NTX_OK or the first violation
    uint32_t page;       // the page where it was found (0: header or none)
    char message[160];   // one line naming the violation
    uint32_t keys;       // keys seen in order
    uint32_t pages;      // pages of the tree
    uint32_t freePages;  // pages on the free list
    uint16_t depth;      // deepest level reached (the root is level 1)
    // Filled by the table check (ntx_verify.h): blank records without keys,
    // owed by appends that a kill interrupted before their commit.
    uint32_t owed;
    uint32_t firstOwed;
};

// visit(key, record, context) for each key in order; it returns false to
// stop the walk (the result is then NTX_OK with the keys seen so far).
using NtxCheckVisit = bool (*)(const char* key, uint32_t record, void* context);

NtxStatus ntxCheck(NtxTree* t, NtxCheckResult* result, NtxCheckVisit visit, void* context);

}  // namespace xb
