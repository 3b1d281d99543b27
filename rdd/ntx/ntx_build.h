// Building an order from sorted (key, record) pairs: the bottom-up page
// writer, and the entry format and comparison the external sort uses to
// produce its input.
//
// Use: ntxBuildBegin empties the tree (the file is cut after its header),
// ntxBuildAdd takes the pairs in final order (ascending by the order's
// comparison, then by record number), ntxBuildFinish writes the pages
// still under construction and sets the root. The header is then dirty:
// the caller writes it (ntxWriteHeader) and keeps the tree attached.
// ntxBuildEnd frees the builder's pages (after Finish or a failure).
//
// Page writer: one page under construction per level. A pair goes into the
// current leaf; a pair arriving at a full leaf goes up as a separator with
// the full leaf (written at the end of the file) as its child, and so on up
// the levels; the very last pair never starts a leaf alone after a full
// one: the full leaf's own last key goes up instead and the last pair
// starts the new leaf. At most NTX_BUILD_LEVELS levels. A page left without
// keys at the end is not written: its child takes its place. In a unique
// order only the first pair of each key (by the order's comparison) enters.
#pragma once
#include <cstdint>

#include "rdd/ext_sort.h"
#include "rdd/ntx/ntx_tree.h"

namespace xb {

struct NtxBuilder {
    NtxTree* tree;
    uint8_t* pages;    // NTX_BUILD_LEVELS pages
    uint16_t levels;   // levels started (the leaf is level 0)
    bool unique;
    bool pending;      // a pair held back (it may be the last)
    uint32_t pendingRecord;
    char pendingKey[NTX_MAX_KEY_SIZE];
    bool haveKey;      // lastKey holds the last key accepted (unique orders)
    char lastKey[NTX_MAX_KEY_SIZE];
    uint32_t pairs;    // pairs entered into the order
    // Finished pages go to the end of the file in batches: they lie one
    // after the other from batchStart (nothing links to them until the
    // final header write, so their order on disk does not matter).
    uint8_t* batch;    // NTX_BUILD_BATCH pages
    uint32_t batchPages;
    uint32_t batchStart;
};
constexpr uint32_t NTX_BUILD_BATCH = 32;

NtxStatus ntxBuildBegin(NtxBuilder* b, NtxTree* t);
NtxStatus ntxBuildAdd(NtxBuilder* b, const char* key, uint32_t record);
NtxStatus ntxBuildFinish(NtxBuilder* b);
void ntxBuildEnd(NtxBuilder* b);

// The whole build: pairs from the caller are sorted by the external sort
// (budget bytes of memory, temporary files tempBase + "_s0"/"_s1") and
// written by the page writer. source fills key (keySize bytes) and
// *record, or sets *done when there are no more; it returns false to stop
// the build (keeping its reason in its context). The result is NTX_OK,
// NTX_STOPPED when the source stopped, an external sort failure (its error
// number, ntxSortErrorNumber) or another NtxStatus. The header is left
// dirty, as after ntxBuildFinish. Without any pair the order is one empty
// root page.
//
// The driver sorts in NTX_BUILD_SORT_BUDGET bytes: a million keys of ten
// bytes make about 24 runs merged in one pass, where a few kilobytes would
// need thousands of runs and several passes through the temporary files.
constexpr uint32_t NTX_BUILD_SORT_BUDGET = 1024u * 1024u;
using NtxPairSource = bool (*)(char* key, uint32_t* record, bool* done, void* context);
NtxStatus ntxBuildOrder(NtxTree* t, NtxPairSource source, void* context, uint32_t budget, const char* tempBase);

// Sort entries: the key's collation weights (each byte through the sort
// weight table, complemented in a descending order), the record number (4
// bytes, big-endian), then the key itself. Their first ntxEntryKeyBytes
// bytes compared as unsigned bytes give the order's comparison and then the
// record numbers ascending, so the collation is applied once per key and
// the sort compares bytes; the key is read back from ntxEntryKey.
inline uint32_t ntxEntryKeyBytes(uint16_t keySize) { return keySize + 4u; }
inline uint32_t ntxEntrySize(uint16_t keySize) { return 2u * keySize + 4u; }
void ntxEntryMake(char* entry, const char* key, uint16_t keySize, bool descending, uint32_t record);
inline const char* ntxEntryKey(const char* entry, uint16_t keySize) { return entry + keySize + 4; }
uint32_t ntxEntryRecord(const char* entry, uint16_t keySize);

}  // namespace xb
