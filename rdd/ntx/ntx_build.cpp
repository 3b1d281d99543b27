// Bottom-up page writer and the sort-entry comparison; see ntx_build.h.
#include "rdd/ntx/ntx_build.h"

#include "base/casemap.h"
#include "runtime/files.h"
#include "base/memory.h"

namespace xb {

namespace {

uint8_t* pageAt(NtxBuilder* b, uint16_t level) { return b->pages + size_t(level) * NTX_PAGE_SIZE; }

// Writes the batched pages at batchStart in one write. The tree's file
// size already counts them; on failure it goes back to where they start.
NtxStatus flushBatch(NtxBuilder* b) {
    if (b->batchPages == 0) return NTX_OK;
    NtxTree* t = b->tree;
    uint32_t at = b->batchStart, n = b->batchPages * NTX_PAGE_SIZE;
    b->batchPages = 0;
    if (fsSeek(t->file, int32_t(at), os::FROM_BEGIN) != at || fsWriteLong(t->file, b->batch, n) != int32_t(n)) {
        t->fileSize = at;
        return NTX_ERR_WRITE;
    }
    return NTX_OK;
}

// Appends the page of `level` at the end of the file (through the batch);
// *offset is where.
NtxStatus writePage(NtxBuilder* b, uint16_t level, uint32_t* offset) {
    NtxTree* t = b->tree;
    if (b->batchPages == NTX_BUILD_BATCH) {
        NtxStatus st = flushBatch(b);
        if (st != NTX_OK) return st;
    }
    uint32_t at = t->fileSize;
    if (b->batchPages == 0) b->batchStart = at;
    std::memcpy(b->batch + size_t(b->batchPages) * NTX_PAGE_SIZE, pageAt(b, level), NTX_PAGE_SIZE);
    b->batchPages++;
    t->fileSize = at + NTX_PAGE_SIZE;
    *offset = at;
    return NTX_OK;
}

// Appends an item to the page of `level` (not full; the table of a page
// under construction is the initial one, so slot n is physical slot n).
void append(NtxBuilder* b, uint16_t level, uint32_t child, uint32_t record, const char* key) {
    uint8_t* p = pageAt(b, level);
    uint16_t n = ntxPageCount(p);
    uint8_t* item = ntxSlot(p, n);
    ntxPut32(item, child);
    ntxPut32(item + 4, record);
    std::memcpy(item + 8, key, b->tree->keySize);
    ntxPut16(p, uint16_t(n + 1));
}

// Places an item at `level`; a full page there is written (with `child`
// as its rightmost child) and the item moves up with it as its child.
NtxStatus place(NtxBuilder* b, uint16_t level, uint32_t child, uint32_t record, const char* key) {
    const NtxGeometry& g = b->tree->geom;
    for (;;) {
        if (level >= NTX_BUILD_LEVELS) return NTX_ERR_TOO_DEEP;
        if (level == b->levels) {
            ntxInitPage(pageAt(b, level), g);
            b->levels++;
        }
        uint8_t* p = pageAt(b, level);
        uint16_t n = ntxPageCount(p);
        if (n < g.maxKeys) {
            append(b, level, child, record, key);
            return NTX_OK;
        }
        ntxPut32(ntxSlot(p, n), child);
        uint32_t written;
        NtxStatus st = writePage(b, level, &written);
        if (st != NTX_OK) return st;
        ntxInitPage(p, g);
        child = written;
        level++;
    }
}

}  // namespace

NtxStatus ntxBuildBegin(NtxBuilder* b, NtxTree* t) {
    std::memset(b, 0, sizeof *b);
    b->tree = t;
    b->unique = t->unique;
    // Marked before the file is cut: a kill before the final header write
    // leaves a file that does not open as an index.
    NtxStatus st = ntxMarkRebuild(t);
    if (st == NTX_OK) st = ntxReset(t);
    if (st != NTX_OK) return st;
    b->pages = static_cast<uint8_t*>(memAlloc(NTX_BUILD_LEVELS * NTX_PAGE_SIZE));
    b->batch = static_cast<uint8_t*>(memAlloc(NTX_BUILD_BATCH * NTX_PAGE_SIZE));
    ntxInitPage(pageAt(b, 0), t->geom);
    b->levels = 1;
    return NTX_OK;
}

NtxStatus ntxBuildAdd(NtxBuilder* b, const char* key, uint32_t record) {
    NtxTree* t = b->tree;
    if (b->unique) {
        if (b->haveKey && ntxCompare(b->lastKey, key, t->keySize, t->descending) == 0) return NTX_OK;
        std::memcpy(b->lastKey, key, t->keySize);
        b->haveKey = true;
    }
    NtxStatus st = NTX_OK;
    if (b->pending) st = place(b, 0, 0, b->pendingRecord, b->pendingKey);
    std::memcpy(b->pendingKey, key, t->keySize);
    b->pendingRecord = record;
    b->pending = true;
    b->pairs++;
    return st;
}

NtxStatus ntxBuildFinish(NtxBuilder* b) {
    NtxTree* t = b->tree;
    const NtxGeometry& g = t->geom;
    NtxStatus st;
    if (b->pending) {
        uint8_t* leaf = pageAt(b, 0);
        uint16_t n = ntxPageCount(leaf);
        if (n == g.maxKeys) {
            // The last pair after a full leaf: the leaf's last key rises.
            char key[NTX_MAX_KEY_SIZE];
            const uint8_t* last = ntxSlot(leaf, uint16_t(n - 1));
            uint32_t record = ntxGet32(last + 4);
            std::memcpy(key, last + 8, t->keySize);
            ntxPut32(ntxSlot(leaf, uint16_t(n - 1)), 0);
            ntxPut16(leaf, uint16_t(n - 1));
            uint32_t written;
            if ((st = writePage(b, 0, &written)) != NTX_OK) return st;
            ntxInitPage(leaf, g);
            if ((st = place(b, 1, written, record, key)) != NTX_OK) return st;
        }
        append(b, 0, 0, b->pendingRecord, b->pendingKey);
        b->pending = false;
    }
    uint32_t child = 0;
    for (uint16_t level = 0; level < b->levels; level++) {
        uint8_t* p = pageAt(b, level);
        uint16_t n = ntxPageCount(p);
        ntxPut32(ntxSlot(p, n), child);
        if (n == 0 && level > 0) continue;  // only a child: it takes the page's place
        if ((st = writePage(b, level, &child)) != NTX_OK) return st;
    }
    // Every page is on disk before the caller's header write names the root.
    if ((st = flushBatch(b)) != NTX_OK) return st;
    t->root = child;
    t->dirty = true;
    t->rebuilding = false;  // the caller's header write unmarks the file
    return NTX_OK;
}

void ntxBuildEnd(NtxBuilder* b) {
    if (b->pages) memFree(b->pages);
    if (b->batch) memFree(b->batch);
    b->pages = b->batch = nullptr;
}

namespace {
// A failure of the external sort travels as its internal error number.
NtxStatus sortFailure(ExtSortStatus s) { return NtxStatus{extSortErrorNumber(s)}; }
}  // namespace

NtxStatus ntxBuildOrder(NtxTree* t, NtxPairSource source, void* context, uint32_t budget, const char* tempBase) {
    const uint16_t size = t->keySize;
    ExtSort sort;
    NtxStatus st = sortFailure(extSortBeginBytes(&sort, ntxEntrySize(size), ntxEntryKeyBytes(size), budget, tempBase));
    char key[NTX_MAX_KEY_SIZE];
    char entry[2 * NTX_MAX_KEY_SIZE + 4];
    for (bool done = false; !st;) {
        uint32_t record = 0;
        if (!source(key, &record, &done, context)) {
            st = NTX_STOPPED;
            break;
        }
        if (done) break;
        ntxEntryMake(entry, key, size, t->descending, record);
        st = sortFailure(extSortAdd(&sort, entry));
    }
    if (!st) st = sortFailure(extSortFinish(&sort));
    NtxBuilder b;
    std::memset(&b, 0, sizeof b);
    if (!st) st = ntxBuildBegin(&b, t);
    while (!st) {
        const void* next;
        if ((st = sortFailure(extSortNext(&sort, &next))) || !next) break;
        const char* e = static_cast<const char*>(next);
        st = ntxBuildAdd(&b, ntxEntryKey(e, size), ntxEntryRecord(e, size));
    }
    if (!st) st = ntxBuildFinish(&b);
    ntxBuildEnd(&b);
    extSortEnd(&sort);
    return st;
}

void ntxEntryMake(char* entry, const char* key, uint16_t keySize, bool descending, uint32_t record) {
    auto* e = reinterpret_cast<uint8_t*>(entry);
    const auto* k = reinterpret_cast<const uint8_t*>(key);
    const uint8_t flip = descending ? 0xFF : 0x00;
    for (uint16_t i = 0; i < keySize; i++) e[i] = uint8_t(sortWeight(k[i]) ^ flip);
    e[keySize] = uint8_t(record >> 24);
    e[keySize + 1] = uint8_t(record >> 16);
    e[keySize + 2] = uint8_t(record >> 8);
    e[keySize + 3] = uint8_t(record);
    std::memcpy(e + keySize + 4, key, keySize);
}

uint32_t ntxEntryRecord(const char* entry, uint16_t keySize) {
    const auto* e = reinterpret_cast<const uint8_t*>(entry) + keySize;
    return uint32_t(e[0]) << 24 | uint32_t(e[1]) << 16 | uint32_t(e[2]) << 8 | uint32_t(e[3]);
}

}  // namespace xb
