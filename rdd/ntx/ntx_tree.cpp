// B-tree engine over index pages. See ntx_tree.h for the contract.
//
// Buffers: the header buffer and two page buffers are shared by every
// attached tree. Buffer 0 holds the page being searched or changed, buffer
// 1 the second page an operation needs at the same time (the new half of a
// split, the child of a deletion, the parent of a freed page). Each buffer
// remembers which tree's page it holds, so that stepping through a leaf
// reads it once; any write through storePage keeps both buffers current.
#include "rdd/ntx/ntx_tree.h"

#include "runtime/files.h"
#include "base/memory.h"

namespace xb {

namespace {

struct SharedBuffers {
    NtxHeader header;
    uint8_t page[2][NTX_PAGE_SIZE];
    const NtxTree* owner[2];
    uint32_t offset[2];
};
SharedBuffers* shared;
uint32_t sharedUses;

void dropCache(const NtxTree* t) {
    if (!shared) return;
    for (int b = 0; b < 2; b++)
        if (shared->owner[b] == t) shared->owner[b] = nullptr;
}

uint16_t readAt(os::Handle h, uint32_t offset, void* buffer, uint32_t n) {
    if (fsSeek(h, int32_t(offset), os::FROM_BEGIN) != offset) return NTX_ERR_READ;
    return fsReadLong(h, buffer, n) == int32_t(n) ? uint16_t(NTX_OK) : uint16_t(NTX_ERR_READ);
}

uint16_t writeAt(os::Handle h, uint32_t offset, const void* buffer, uint32_t n) {
    if (fsSeek(h, int32_t(offset), os::FROM_BEGIN) != offset) return NTX_ERR_WRITE;
    return fsWriteLong(h, buffer, n) == int32_t(n) ? uint16_t(NTX_OK) : uint16_t(NTX_ERR_WRITE);
}

// Cuts the file at offset.
uint16_t truncateAt(os::Handle h, uint32_t offset) {
    if (fsSeek(h, int32_t(offset), os::FROM_BEGIN) != offset) return NTX_ERR_WRITE;
    return fsWrite(h, "", 0) == 0 ? uint16_t(NTX_OK) : uint16_t(NTX_ERR_WRITE);
}

uint32_t sizeOf(os::Handle h) { return fsSeek(h, 0, os::FROM_END); }

// Brings the page at offset into buffer b, checked.
uint16_t loadPage(NtxTree* t, uint32_t offset, int b, uint8_t** out) {
    if (!ntxPageOffsetValid(offset, t->fileSize)) return NTX_ERR_CHILD;
    uint8_t* p = shared->page[b];
    *out = p;
    if (shared->owner[b] == t && shared->offset[b] == offset) return NTX_OK;
    int o = 1 - b;
    if (shared->owner[o] == t && shared->offset[o] == offset) {
        std::memcpy(p, shared->page[o], NTX_PAGE_SIZE);
    } else {
        shared->owner[b] = nullptr;
        uint16_t st = readAt(t->file, offset, p, NTX_PAGE_SIZE);
        if (st == NTX_OK) st = ntxCheckPage(p, t->geom);
        if (st != NTX_OK) return st;
    }
    shared->owner[b] = t;
    shared->offset[b] = offset;
    return NTX_OK;
}

// Writes buffer b as the page at offset.
uint16_t storePage(NtxTree* t, uint32_t offset, int b) {
    uint16_t st = writeAt(t->file, offset, shared->page[b], NTX_PAGE_SIZE);
    int o = 1 - b;
    if (shared->owner[o] == t && shared->offset[o] == offset) shared->owner[o] = nullptr;
    if (st != NTX_OK) {
        shared->owner[b] = nullptr;
        return st;
    }
    shared->owner[b] = t;
    shared->offset[b] = offset;
    if (offset + NTX_PAGE_SIZE > t->fileSize) t->fileSize = offset + NTX_PAGE_SIZE;
    return NTX_OK;
}

// A page for new keys: the head of the free list, else the end of the file.
uint16_t allocPage(NtxTree* t, uint32_t* offset) {
    if (t->freeList == 0) {
        *offset = (t->fileSize + NTX_PAGE_SIZE - 1) / NTX_PAGE_SIZE * NTX_PAGE_SIZE;
        if (*offset < NTX_PAGE_SIZE) *offset = NTX_PAGE_SIZE;
        return NTX_OK;
    }
    uint32_t head = t->freeList;
    if (!ntxPageOffsetValid(head, t->fileSize)) return NTX_ERR_FREE_LIST;
    uint8_t page[NTX_PAGE_SIZE];
    uint16_t st = readAt(t->file, head, page, NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    // The link lies in the child field of slot 0; a page whose table is
    // damaged is read at the physical first slot instead.
    uint32_t next = ntxCheckPage(page, t->geom) == NTX_OK ? ntxSlotChild(page, 0)
                                                          : ntxGet32(page + 2 * t->geom.maxKeys + 4);
    if (next != 0 && (next == head || !ntxPageOffsetValid(next, t->fileSize))) return NTX_ERR_FREE_LIST;
    t->freeList = next;
    t->dirty = true;
    *offset = head;
    return NTX_OK;
}

// Turns the page at offset (whose buffer is b) into the new free-list head.
uint16_t freePage(NtxTree* t, uint32_t offset, int b) {
    uint8_t* p = shared->page[b];
    ntxInitPage(p, t->geom);
    ntxPut32(ntxSlot(p, 0), t->freeList);
    uint16_t st = storePage(t, offset, b);
    if (st != NTX_OK) return st;
    t->freeList = offset;
    t->dirty = true;
    return NTX_OK;
}

uint16_t push(NtxTree* t, uint32_t page, uint16_t pos, uint16_t count) {
    if (t->depth >= NTX_MAX_DEPTH) {
        t->depth = 0;
        return NTX_ERR_DEPTH;
    }
    t->stack[t->depth++] = NtxLevel{page, pos, count};
    return NTX_OK;
}

void lose(NtxTree* t) {
    t->depth = 0;
    t->curRecord = 0;
}

// Takes the item on top of the stack as the current key.
uint16_t takeTop(NtxTree* t, uint32_t* record) {
    NtxLevel& top = t->stack[t->depth - 1];
    uint8_t* p;
    uint16_t st = loadPage(t, top.page, 0, &p);
    if (st != NTX_OK) {
        lose(t);
        return st;
    }
    if (top.pos >= ntxPageCount(p)) {  // the page changed under a stale position
        lose(t);
        return NTX_ERR_PAGE;
    }
    std::memcpy(t->curKey, ntxSlotKey(p, top.pos), t->keySize);
    t->curRecord = ntxSlotRecord(p, top.pos);
    *record = t->curRecord;
    return NTX_OK;
}

// From a position before the slot on top: pops the levels whose slot is
// past their last key; the top then names the next key in order.
bool settleForward(NtxTree* t) {
    while (t->depth > 0 && t->stack[t->depth - 1].pos >= t->stack[t->depth - 1].count) t->depth--;
    return t->depth > 0;
}

// Pops the levels at slot 0, then moves the top one slot left: the key
// before the subtree just left.
bool settleBackward(NtxTree* t) {
    while (t->depth > 0 && t->stack[t->depth - 1].pos == 0) t->depth--;
    if (t->depth == 0) return false;
    t->stack[t->depth - 1].pos--;
    return true;
}

// Follows slot 0 children down from page (pushing each page at slot 0).
uint16_t descendFirst(NtxTree* t, uint32_t page) {
    while (page != 0) {
        uint8_t* p;
        uint16_t st = loadPage(t, page, 0, &p);
        if (st == NTX_OK) st = push(t, page, 0, ntxPageCount(p));
        if (st != NTX_OK) return st;
        page = ntxSlotChild(p, 0);
    }
    return NTX_OK;
}

// Follows the rightmost children down from page (pushing each at slot n).
uint16_t descendLast(NtxTree* t, uint32_t page) {
    while (page != 0) {
        uint8_t* p;
        uint16_t st = loadPage(t, page, 0, &p);
        if (st != NTX_OK) return st;
        uint16_t n = ntxPageCount(p);
        if ((st = push(t, page, n, n)) != NTX_OK) return st;
        page = ntxSlotChild(p, n);
    }
    return NTX_OK;
}

uint16_t allocBuffers(NtxTree* t) {
    t->stack = static_cast<NtxLevel*>(memAlloc(sizeof(NtxLevel) * (NTX_MAX_DEPTH + 1)));
    t->curKey = static_cast<char*>(memAllocZero(t->keySize + 5u));
    t->searchKey = static_cast<char*>(memAllocZero(t->keySize + 5u));
    if (sharedUses++ == 0) {
        shared = static_cast<SharedBuffers*>(memAllocZero(sizeof(SharedBuffers)));
    }
    return NTX_OK;
}

// Removes slot pos of the page in buffer b, rotating its item to the end
// of the table.
void removeSlot(uint8_t* p, uint16_t pos) {
    uint16_t n = ntxPageCount(p);
    uint16_t freed = ntxSlotOffset(p, pos);
    for (uint16_t i = pos; i < n; i++) ntxPut16(p + 2 + 2 * i, ntxSlotOffset(p, uint16_t(i + 1)));
    ntxPut16(p + 2 + 2 * n, freed);
    ntxPut16(p, uint16_t(n - 1));
}

void writeItem(uint8_t* item, uint32_t child, uint32_t record, const char* key, uint16_t keySize) {
    ntxPut32(item, child);
    ntxPut32(item + 4, record);
    std::memcpy(item + 8, key, keySize);
}

// Inserts (key, record, child) at the position on stack level `level`,
// splitting full pages upwards.
uint16_t insertAt(NtxTree* t, int level, const char* key, uint32_t record, uint32_t child) {
    const NtxGeometry& g = t->geom;
    uint8_t pending[NTX_MAX_KEY_SIZE + 8];
    writeItem(pending, child, record, key, t->keySize);
    for (;;) {
        NtxLevel lv = t->stack[level];
        uint8_t* p;
        uint16_t st = loadPage(t, lv.page, 0, &p);
        if (st != NTX_OK) return st;
        uint16_t n = ntxPageCount(p);
        uint16_t pos = lv.pos > n ? n : lv.pos;
        if (n < g.maxKeys) {
            uint16_t freeSlot = ntxSlotOffset(p, uint16_t(n + 1));
            for (uint16_t i = uint16_t(n + 1); i > pos; i--) ntxPut16(p + 2 + 2 * i, ntxSlotOffset(p, uint16_t(i - 1)));
            ntxPut16(p + 2 + 2 * pos, freeSlot);
            std::memcpy(p + freeSlot, pending, g.itemSize);
            ntxPut16(p, uint16_t(n + 1));
            return storePage(t, lv.page, 0);
        }
        // Split: max + 1 items in order; the lower half goes to a new page,
        // the middle item rises with that page as its child, the upper half
        // stays where the parent already points.
        uint8_t items[NTX_PAGE_SIZE];
        for (uint16_t i = 0, j = 0; i <= n; i++) {
            const uint8_t* src = i == pos ? pending : ntxSlot(p, j++);
            std::memcpy(items + i * g.itemSize, src, g.itemSize);
        }
        uint32_t rightmost = ntxSlotChild(p, n);
        uint32_t lower;
        st = allocPage(t, &lower);
        if (st != NTX_OK) return st;
        uint16_t half = g.halfPage;
        uint8_t* q = shared->page[1];
        ntxInitPage(q, g);
        for (uint16_t i = 0; i < half; i++) std::memcpy(ntxSlot(q, i), items + i * g.itemSize, g.itemSize);
        const uint8_t* mid = items + half * g.itemSize;
        ntxPut32(ntxSlot(q, half), ntxGet32(mid));
        ntxPut16(q, half);
        if ((st = storePage(t, lower, 1)) != NTX_OK) return st;
        ntxInitPage(p, g);
        uint16_t upper = uint16_t(g.maxKeys - half);
        for (uint16_t i = 0; i < upper; i++)
            std::memcpy(ntxSlot(p, i), items + (half + 1 + i) * g.itemSize, g.itemSize);
        ntxPut32(ntxSlot(p, upper), rightmost);
        ntxPut16(p, upper);
        if ((st = storePage(t, lv.page, 0)) != NTX_OK) return st;
        std::memcpy(pending, mid, g.itemSize);
        ntxPut32(pending, lower);
        if (level == 0) {
            uint32_t newRoot;
            if ((st = allocPage(t, &newRoot)) != NTX_OK) return st;
            ntxInitPage(q, g);
            std::memcpy(ntxSlot(q, 0), pending, g.itemSize);
            ntxPut32(ntxSlot(q, 1), lv.page);
            ntxPut16(q, 1);
            if ((st = storePage(t, newRoot, 1)) != NTX_OK) return st;
            t->root = newRoot;
            t->dirty = true;
            return NTX_OK;
        }
        level--;
    }
}

// Deletes the item named by the top of the stack.
uint16_t deleteTop(NtxTree* t) {
    uint16_t st;
    for (;;) {
        int level = t->depth - 1;
        NtxLevel lv = t->stack[level];
        uint8_t* p;
        if ((st = loadPage(t, lv.page, 0, &p)) != NTX_OK) return st;
        uint16_t n = ntxPageCount(p);
        if (lv.pos >= n) return NTX_ERR_PAGE;
        uint32_t child = ntxSlotChild(p, lv.pos);
        if (child != 0) {
            // The predecessor is the last key of the rightmost leaf below the
            // child (not the child's own last key, which would leave the
            // subtree under it to the left of a smaller separator).
            uint32_t c = child;
            uint8_t* q = nullptr;
            while (c != 0) {
                if ((st = loadPage(t, c, 1, &q)) != NTX_OK) return st;
                uint16_t m = ntxPageCount(q);
                if ((st = push(t, c, m, m)) != NTX_OK) return st;
                c = ntxSlotChild(q, m);
            }
            // Dead ends (pages without keys) are passed over upwards.
            while (t->depth - 1 > level && t->stack[t->depth - 1].pos == 0) t->depth--;
            if (t->depth - 1 == level) {
                // Nothing below: the subtree holds no keys; drop it.
                ntxPut32(ntxSlot(p, lv.pos), 0);
                if ((st = storePage(t, lv.page, 0)) != NTX_OK) return st;
                continue;
            }
            NtxLevel& pred = t->stack[t->depth - 1];
            pred.pos--;
            if ((st = loadPage(t, pred.page, 1, &q)) != NTX_OK) return st;
            if ((st = loadPage(t, lv.page, 0, &p)) != NTX_OK) return st;
            uint8_t* item = ntxSlot(p, lv.pos);
            std::memcpy(item + 4, ntxSlot(q, pred.pos) + 4, t->geom.itemSize - 4u);
            if ((st = storePage(t, lv.page, 0)) != NTX_OK) return st;
            continue;
        }
        removeSlot(p, lv.pos);
        if (ntxPageCount(p) > 0) return storePage(t, lv.page, 0);
        uint32_t rest = ntxSlotChild(p, 0);
        if (level == 0) {
            if (rest == 0) return storePage(t, lv.page, 0);
            // A root left with only a child: the child becomes the root.
            t->root = rest;
            t->dirty = true;
            return freePage(t, lv.page, 0);
        }
        // A page left without keys goes to the free list; what it still
        // points to (its rightmost child) takes its place in the parent.
        if ((st = freePage(t, lv.page, 0)) != NTX_OK) return st;
        NtxLevel up = t->stack[level - 1];
        uint8_t* q;
        if ((st = loadPage(t, up.page, 1, &q)) != NTX_OK) return st;
        if (up.pos > ntxPageCount(q)) return NTX_ERR_PAGE;
        ntxPut32(ntxSlot(q, up.pos), rest);
        return storePage(t, up.page, 1);
    }
}

}  // namespace

uint32_t ntxBufferUses() { return sharedUses; }

uint16_t ntxReadHeader(os::Handle file, NtxHeader* out) {
    std::memset(out, 0, sizeof *out);
    if (fsSeek(file, 0, os::FROM_BEGIN) != 0) return NTX_ERR_READ;
    int32_t got = fsReadLong(file, out, NTX_HEADER_READ);
    if (got < 0) return NTX_ERR_READ;
    return got == int32_t(NTX_HEADER_READ) ? uint16_t(NTX_OK) : uint16_t(NTX_ERR_SHORT);
}

uint16_t ntxHeaderTextLength(const char* field, uint16_t room) {
    uint16_t n = 0;
    while (n < room && field[n]) n++;
    return n;
}

uint16_t ntxAttach(NtxTree* t, os::Handle file) {
    std::memset(t, 0, sizeof *t);
    t->file = file;
    NtxHeader h;
    std::memset(&h, 0, sizeof h);
    uint32_t size = sizeOf(file);
    if (size == 0xFFFFFFFFu) return NTX_ERR_READ;
    if (size < NTX_HEADER_READ) return NTX_ERR_SHORT;
    uint16_t st = readAt(file, 0, &h, NTX_HEADER_READ);
    if (st != NTX_OK) return st;
    if ((st = ntxValidateHeader(h, size)) != NTX_OK) return st;
    t->fileSize = size;
    t->signature = h.signature;
    t->changeCounter = h.changeCounter;
    t->root = h.root;
    t->freeList = h.freeList;
    t->keySize = h.keySize;
    t->keyDecimals = h.keyDecimals;
    t->geom = ntxGeometry(h.keySize);
    t->unique = h.unique != 0;
    t->descending = h.descending != 0;
    return allocBuffers(t);
}

void ntxDetach(NtxTree* t) {
    if (!t->stack) return;
    dropCache(t);
    memFree(t->stack);
    memFree(t->curKey);
    memFree(t->searchKey);
    t->stack = nullptr;
    t->curKey = t->searchKey = nullptr;
    if (--sharedUses == 0) {
        memFree(shared);
        shared = nullptr;
    }
}

uint16_t ntxCreate(NtxTree* t, os::Handle file, const NtxHeaderInfo& info) {
    std::memset(t, 0, sizeof *t);
    if (info.keySize == 0 || info.keySize > NTX_MAX_KEY_SIZE) return NTX_ERR_KEY_SIZE;
    NtxHeader h;
    ntxInitHeader(&h, info);
    uint8_t page[NTX_PAGE_SIZE];
    ntxInitPage(page, ntxGeometry(info.keySize));
    uint16_t st = writeAt(file, 0, &h, NTX_PAGE_SIZE);
    if (st == NTX_OK) st = writeAt(file, NTX_PAGE_SIZE, page, NTX_PAGE_SIZE);
    if (st == NTX_OK) st = truncateAt(file, 2 * NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    return ntxAttach(t, file);
}

uint16_t ntxReset(NtxTree* t) {
    dropCache(t);
    lose(t);
    uint16_t st = truncateAt(t->file, NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    t->fileSize = NTX_PAGE_SIZE;
    t->root = NTX_PAGE_SIZE;
    t->freeList = 0;
    t->dirty = true;
    return NTX_OK;
}

uint16_t ntxWriteHeader(NtxTree* t) {
    if (!t->dirty) return NTX_OK;
    NtxHeader& h = shared->header;
    uint16_t st = readAt(t->file, 0, &h, NTX_HEADER_READ);
    if (st != NTX_OK) return st;
    h.changeCounter = 1;
    h.root = t->root;
    h.freeList = t->freeList;
    if ((st = writeAt(t->file, 0, &h, NTX_HEADER_READ)) != NTX_OK) return st;
    t->changeCounter = 1;
    t->dirty = false;
    return NTX_OK;
}

uint16_t ntxCommitShared(NtxTree* t) {
    uint8_t head[NTX_HEADER_SHARED];
    t->changeCounter++;
    ntxPut16(head, t->signature);
    ntxPut16(head + 2, t->changeCounter);
    ntxPut32(head + 4, t->root);
    ntxPut32(head + 8, t->freeList);
    uint16_t st = writeAt(t->file, 0, head, NTX_HEADER_SHARED);
    if (st == NTX_OK) t->dirty = false;
    return st;
}

uint16_t ntxRefresh(NtxTree* t, bool* changed) {
    *changed = false;
    uint8_t head[NTX_HEADER_SHARED];
    uint16_t st = readAt(t->file, 0, head, NTX_HEADER_SHARED);
    if (st != NTX_OK) return st;
    uint16_t counter = ntxGet16(head + 2);
    if (counter == t->changeCounter) return NTX_OK;
    *changed = true;
    dropCache(t);
    lose(t);
    uint32_t size = sizeOf(t->file);
    uint32_t root = ntxGet32(head + 4), freeList = ntxGet32(head + 8);
    if (!ntxPageOffsetValid(root, size)) return NTX_ERR_ROOT;
    if (freeList != 0 && !ntxPageOffsetValid(freeList, size)) return NTX_ERR_FREE_LIST;
    t->changeCounter = counter;
    t->fileSize = size;
    t->root = root;
    t->freeList = freeList;
    return NTX_OK;
}

uint16_t ntxDescend(NtxTree* t, NtxMode mode, const char* key, uint16_t length, uint32_t* record) {
    *record = 0;
    lose(t);
    if (length == 0 || length > t->keySize) length = t->keySize;
    uint32_t page = t->root;
    for (;;) {
        uint8_t* p;
        // The root goes to the second buffer, where it stays between
        // descents until a change needs that buffer.
        uint16_t st = loadPage(t, page, page == t->root ? 1 : 0, &p);
        if (st != NTX_OK) {
            lose(t);
            return st;
        }
        uint16_t n = ntxPageCount(p), pos;
        if (mode == NTX_FIRST) {
            pos = 0;
        } else if (mode == NTX_LAST) {
            pos = n;
        } else {
            uint16_t lo = 0, hi = n;
            while (lo < hi) {
                uint16_t mid = uint16_t((lo + hi) / 2);
                int c = ntxCompare(ntxSlotKey(p, mid), key, length, t->descending);
                if (mode == NTX_INSERT ? c <= 0 : c < 0)
                    lo = uint16_t(mid + 1);
                else
                    hi = mid;
            }
            pos = lo;
        }
        if ((st = push(t, page, pos, n)) != NTX_OK) return st;
        uint32_t child = ntxSlotChild(p, pos);
        if (child == 0) break;
        page = child;
    }
    if (mode == NTX_INSERT) return NTX_OK;
    bool any = mode == NTX_LAST ? settleBackward(t) : settleForward(t);
    if (!any) return NTX_OK;
    uint16_t st = takeTop(t, record);
    if (st != NTX_OK) return st;
    if (mode == NTX_EXACT && ntxCompare(t->curKey, key, length, false) != 0) *record = 0;
    return NTX_OK;
}

uint16_t ntxStep(NtxTree* t, int direction, uint32_t* record) {
    *record = 0;
    if (t->depth == 0) return NTX_OK;
    NtxLevel& top = t->stack[t->depth - 1];
    uint8_t* p;
    uint16_t st = loadPage(t, top.page, 0, &p);
    if (st != NTX_OK) {
        lose(t);
        return st;
    }
    if (top.pos >= ntxPageCount(p)) {
        lose(t);
        return NTX_ERR_PAGE;
    }
    if (direction > 0) {
        top.pos++;
        st = descendFirst(t, ntxSlotChild(p, top.pos));
        if (st == NTX_OK && !settleForward(t)) {
            lose(t);
            return NTX_OK;
        }
    } else {
        st = descendLast(t, ntxSlotChild(p, top.pos));
        if (st == NTX_OK && !settleBackward(t)) {
            lose(t);
            return NTX_OK;
        }
    }
    if (st != NTX_OK) {
        lose(t);
        return st;
    }
    return takeTop(t, record);
}

uint16_t ntxSeek(NtxTree* t, const char* key, uint16_t length, bool soft, bool last, uint32_t* record,
                 bool* found) {
    *found = false;
    if (length == 0 || length > t->keySize) length = t->keySize;
    uint16_t st;
    if (last) {
        // The slot after the last key equal over the length, then one back.
        if ((st = ntxDescend(t, NTX_INSERT, key, length, record)) != NTX_OK) return st;
        if (!settleBackward(t)) {
            lose(t);
        } else {
            if ((st = takeTop(t, record)) != NTX_OK) return st;
            if (ntxCompare(t->curKey, key, length, false) == 0) {
                *found = true;
                return NTX_OK;
            }
        }
    }
    if ((st = ntxDescend(t, soft ? NTX_SOFT : NTX_EXACT, key, length, record)) != NTX_OK) return st;
    *found = *record != 0 && ntxCompare(t->curKey, key, length, false) == 0;
    return NTX_OK;
}

uint16_t ntxSeekAtMost(NtxTree* t, const char* key, uint16_t length, uint32_t* record) {
    if (length == 0 || length > t->keySize) length = t->keySize;
    uint16_t st = ntxDescend(t, NTX_INSERT, key, length, record);
    if (st != NTX_OK) return st;
    if (!settleBackward(t)) {
        lose(t);
        return NTX_OK;
    }
    return takeTop(t, record);
}

uint16_t ntxKeyNumber(NtxTree* t, uint32_t* number) {
    *number = 0;
    if (t->depth == 0 || t->curRecord == 0) return NTX_OK;
    char key[NTX_MAX_KEY_SIZE];
    uint32_t record = t->curRecord, r = record;
    std::memcpy(key, t->curKey, t->keySize);
    uint16_t st = NTX_OK;
    uint32_t n = 0;
    while (st == NTX_OK && r != 0) {
        n++;
        st = ntxStep(t, -1, &r);
    }
    if (st != NTX_OK) return st;
    bool found;
    if ((st = ntxLocate(t, key, record, &found)) != NTX_OK) return st;
    *number = found ? n : 0;
    return NTX_OK;
}

uint16_t ntxGoToNumber(NtxTree* t, uint32_t number, uint32_t* record) {
    *record = 0;
    if (number == 0) {
        lose(t);
        return NTX_OK;
    }
    uint16_t st = ntxDescend(t, NTX_FIRST, nullptr, 0, record);
    for (uint32_t i = 1; st == NTX_OK && *record != 0 && i < number; i++) st = ntxStep(t, 1, record);
    return st;
}

uint16_t ntxLocate(NtxTree* t, const char* key, uint32_t record, bool* found) {
    *found = false;
    uint32_t r;
    uint16_t st = ntxDescend(t, NTX_EXACT, key, t->keySize, &r);
    while (st == NTX_OK && r != 0) {
        if (ntxCompare(t->curKey, key, t->keySize, false) != 0) break;
        if (r == record) {
            *found = true;
            return NTX_OK;
        }
        st = ntxStep(t, 1, &r);
    }
    return st;
}

uint16_t ntxInsert(NtxTree* t, const char* key, uint32_t record) {
    uint32_t r;
    uint16_t st = ntxDescend(t, NTX_INSERT, key, t->keySize, &r);
    if (st == NTX_OK) st = insertAt(t, t->depth - 1, key, record, 0);
    lose(t);
    return st;
}

uint16_t ntxDelete(NtxTree* t, const char* key, uint32_t record, bool* found) {
    uint16_t st = ntxLocate(t, key, record, found);
    if (st == NTX_OK && *found) st = deleteTop(t);
    lose(t);
    return st;
}

uint16_t ntxReplaceRecord(NtxTree* t, const char* key, uint32_t oldRecord, uint32_t newRecord, bool* found) {
    uint16_t st = ntxLocate(t, key, oldRecord, found);
    if (st == NTX_OK && *found) {
        const NtxLevel& top = t->stack[t->depth - 1];
        uint8_t* p;
        st = loadPage(t, top.page, 0, &p);
        if (st == NTX_OK) {
            ntxPut32(ntxSlot(p, top.pos) + 4, newRecord);
            st = storePage(t, top.page, 0);
        }
        t->curRecord = newRecord;
    }
    return st;
}

uint16_t ntxKeyCount(NtxTree* t, uint32_t* count) {
    *count = 0;
    lose(t);
    // Depth-first over the pages, the stack holding the next slot per level.
    // A sound tree visits each page once; more visits than pages means
    // shared or cyclic child links.
    uint32_t budget = t->fileSize / NTX_PAGE_SIZE;
    uint16_t st = push(t, t->root, 0, 0);
    while (st == NTX_OK && t->depth > 0) {
        NtxLevel& top = t->stack[t->depth - 1];
        uint8_t* p;
        if ((st = loadPage(t, top.page, 0, &p)) != NTX_OK) break;
        uint16_t n = ntxPageCount(p);
        if (top.pos == 0) {
            if (budget-- == 0) {
                st = NTX_ERR_CYCLE;
                break;
            }
            *count += n;
        }
        if (top.pos > n) {
            t->depth--;
            continue;
        }
        uint32_t child = ntxSlotChild(p, top.pos++);
        if (child != 0) st = push(t, child, 0, 0);
    }
    lose(t);
    return st;
}

}  // namespace xb
