// B-tree engine over index pages. See ntx_tree.h for the contract.
//
// Buffers: the header buffer and two page buffers are shared by every
// attached tree. Buffer 0 holds the page being searched or changed, buffer
// 1 the second page an operation needs at the same time (the new half of a
// split, the child of a deletion, the parent of a freed page). Each buffer
// remembers which tree's page it holds, so that stepping through a leaf
// reads it once; any write through storePage keeps both buffers current.
#include "rdd/ntx/ntx_tree.h"

#include "rdd/ntx/ntx_cache.h"

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

// Forgets every page of t held in memory: the shared buffers and its page
// cache.
void dropCache(const NtxTree* t) {
    ntxCacheClear(t->cache);
    if (!shared) return;
    for (int b = 0; b < 2; b++)
        if (shared->owner[b] == t) shared->owner[b] = nullptr;
}

// Buffer b for a page about to differ from what the file holds at its
// offset: it names no page until it is stored.
uint8_t* scratch(int b) {
    shared->owner[b] = nullptr;
    return shared->page[b];
}

// Positioned reads: the file pointer is left alone.
NtxStatus readAt(os::Handle h, uint32_t offset, void* buffer, uint32_t n) {
    return fsReadAt(h, offset, buffer, n) == int32_t(n) ? NTX_OK : NTX_ERR_READ;
}

NtxStatus writeAt(os::Handle h, uint32_t offset, const void* buffer, uint32_t n) {
    if (fsSeek(h, int32_t(offset), os::FROM_BEGIN) != offset) return NTX_ERR_WRITE;
    return fsWriteLong(h, buffer, n) == int32_t(n) ? NTX_OK : NTX_ERR_WRITE;
}

// Cuts the file at offset.
NtxStatus truncateAt(os::Handle h, uint32_t offset) {
    if (fsSeek(h, int32_t(offset), os::FROM_BEGIN) != offset) return NTX_ERR_WRITE;
    return fsWrite(h, "", 0) == 0 ? NTX_OK : NTX_ERR_WRITE;
}

uint32_t sizeOf(os::Handle h) { return fsSeek(h, 0, os::FROM_END); }

uint16_t diskSignature(const NtxTree* t) {
    return t->rebuilding ? uint16_t(t->signature & ~NTX_SIG_BASE) : t->signature;
}

// The 12 header bytes: signature, change counter, root, free-list head.
NtxStatus writeHead(NtxTree* t) {
    uint8_t head[NTX_HEADER_SHARED];
    ntxPut16(head, diskSignature(t));
    ntxPut16(head + 2, t->changeCounter);
    ntxPut32(head + 4, t->root);
    ntxPut32(head + 8, t->freeList);
    return writeAt(t->file, 0, head, NTX_HEADER_SHARED);
}

// Shared use: before the first write of a change, the raised change
// counter with the root and free list as they still are.
NtxStatus beginChange(NtxTree* t) {
    if (!t->sharedUse || t->changing) return NTX_OK;
    t->changeCounter++;
    t->changing = true;
    return writeHead(t);
}

// Brings the page at offset into buffer b, checked.
NtxStatus loadPage(NtxTree* t, uint32_t offset, int b, uint8_t** out) {
    if (!ntxPageOffsetValid(offset, t->fileSize)) return NTX_ERR_CHILD;
    uint8_t* p = shared->page[b];
    *out = p;
    if (shared->owner[b] == t && shared->offset[b] == offset) return NTX_OK;
    int o = 1 - b;
    if (shared->owner[o] == t && shared->offset[o] == offset) {
        std::memcpy(p, shared->page[o], NTX_PAGE_SIZE);
    } else if (!ntxCacheGet(t->cache, offset, p)) {
        // Checked once, when it comes from the file; cached pages were.
        shared->owner[b] = nullptr;
        NtxStatus st = readAt(t->file, offset, p, NTX_PAGE_SIZE);
        if (st == NTX_OK) st = ntxCheckPage(p, t->geom);
        if (st != NTX_OK) return st;
        // Leaves go in cold: the inner pages are the ones every search reads.
        ntxCachePut(t->cache, offset, p, ntxSlotChild(p, 0) == 0);
    }
    shared->owner[b] = t;
    shared->offset[b] = offset;
    return NTX_OK;
}

// Writes buffer b as the page at offset.
NtxStatus storePage(NtxTree* t, uint32_t offset, int b) {
    NtxStatus st = beginChange(t);
    if (st == NTX_OK) st = writeAt(t->file, offset, shared->page[b], NTX_PAGE_SIZE);
    int o = 1 - b;
    if (shared->owner[o] == t && shared->offset[o] == offset) shared->owner[o] = nullptr;
    if (st != NTX_OK) {
        // The file may now hold either version of the page.
        ntxCacheForget(t->cache, offset);
        shared->owner[b] = nullptr;
        return st;
    }
    // Write-through: the cache holds the page as the file now does.
    ntxCachePut(t->cache, offset, shared->page[b]);
    shared->owner[b] = t;
    shared->offset[b] = offset;
    if (offset + NTX_PAGE_SIZE > t->fileSize) t->fileSize = offset + NTX_PAGE_SIZE;
    return NTX_OK;
}

// A page for new keys: the head of the free list, else the end of the file
// (the caller writes it before it asks for another). A page from the free
// list leaves it on disk at once: the header's new head is written before
// anything can link to the page.
NtxStatus allocPage(NtxTree* t, uint32_t* offset) {
    if (t->freeList == 0) {
        *offset = (t->fileSize + NTX_PAGE_SIZE - 1) / NTX_PAGE_SIZE * NTX_PAGE_SIZE;
        if (*offset < NTX_PAGE_SIZE) *offset = NTX_PAGE_SIZE;
        return NTX_OK;
    }
    uint32_t head = t->freeList;
    if (!ntxPageOffsetValid(head, t->fileSize)) return NTX_ERR_FREE_LIST;
    uint8_t page[NTX_PAGE_SIZE];
    NtxStatus st = readAt(t->file, head, page, NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    // The link lies in the child field of slot 0; a page whose table is
    // damaged is read at the physical first slot instead.
    uint32_t next = ntxCheckPage(page, t->geom) == NTX_OK ? ntxSlotChild(page, 0)
                                                          : ntxGet32(page + 2 * t->geom.maxKeys + 4);
    if (next != 0 && (next == head || !ntxPageOffsetValid(next, t->fileSize))) return NTX_ERR_FREE_LIST;
    if ((st = beginChange(t)) != NTX_OK) return st;
    t->freeList = next;
    t->dirty = true;
    if ((st = writeHead(t)) != NTX_OK) {
        t->freeList = head;  // the page stays where the file says it is
        return st;
    }
    *offset = head;
    return NTX_OK;
}

// A page written to a fresh place (the end of the file or a page taken
// from the free list): *offset receives where.
NtxStatus storeFresh(NtxTree* t, int b, uint32_t* offset) {
    NtxStatus st = allocPage(t, offset);
    if (st == NTX_OK) st = storePage(t, *offset, b);
    return st;
}

// Turns the page at offset (whose buffer is b) into the new free-list head.
// Only for a page nothing links to any more: the header names it at the
// next header write, so a kill before then leaks the page.
NtxStatus freePage(NtxTree* t, uint32_t offset, int b) {
    uint8_t* p = shared->page[b];
    ntxInitPage(p, t->geom);
    ntxPut32(ntxSlot(p, 0), t->freeList);
    NtxStatus st = storePage(t, offset, b);
    // A free page is no page of the tree: only the free list reads it, from
    // the file.
    ntxCacheForget(t->cache, offset);
    if (st != NTX_OK) return st;
    t->freeList = offset;
    t->dirty = true;
    return NTX_OK;
}

NtxStatus push(NtxTree* t, uint32_t page, uint16_t pos, uint16_t count) {
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
NtxStatus takeTop(NtxTree* t, uint32_t* record) {
    NtxLevel& top = t->stack[t->depth - 1];
    uint8_t* p;
    NtxStatus st = loadPage(t, top.page, 0, &p);
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
NtxStatus descendFirst(NtxTree* t, uint32_t page) {
    while (page != 0) {
        uint8_t* p;
        NtxStatus st = loadPage(t, page, 0, &p);
        if (st == NTX_OK) st = push(t, page, 0, ntxPageCount(p));
        if (st != NTX_OK) return st;
        page = ntxSlotChild(p, 0);
    }
    return NTX_OK;
}

// Follows the rightmost children down from page (pushing each at slot n).
NtxStatus descendLast(NtxTree* t, uint32_t page) {
    while (page != 0) {
        uint8_t* p;
        NtxStatus st = loadPage(t, page, 0, &p);
        if (st != NTX_OK) return st;
        uint16_t n = ntxPageCount(p);
        if ((st = push(t, page, n, n)) != NTX_OK) return st;
        page = ntxSlotChild(p, n);
    }
    return NTX_OK;
}

NtxStatus allocBuffers(NtxTree* t) {
    t->stack = static_cast<NtxLevel*>(memAlloc(sizeof(NtxLevel) * (NTX_MAX_DEPTH + 1)));
    t->curKey = static_cast<char*>(memAllocZero(t->keySize + 5u));
    t->searchKey = static_cast<char*>(memAllocZero(t->keySize + 5u));
    t->cache = ntxCacheCreate(ntxPageCacheDefault());
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

// Pages replaced by fresh copies, freed once the switch to the copies is
// on disk.
struct Replaced {
    uint32_t page[NTX_MAX_DEPTH + 1];
    uint16_t count;
};

NtxStatus freeReplaced(NtxTree* t, const Replaced& r) {
    for (uint16_t i = 0; i < r.count; i++)
        if (NtxStatus st = freePage(t, r.page[i], 0)) return st;
    return NTX_OK;
}

// The new root after a root split or collapse: the 12 header bytes are
// the switch, written at once in both modes.
NtxStatus switchRoot(NtxTree* t, uint32_t root) {
    uint32_t old = t->root;
    t->root = root;
    t->dirty = true;
    NtxStatus st = beginChange(t);
    if (st == NTX_OK) st = writeHead(t);
    if (st != NTX_OK) t->root = old;
    return st;
}

// Inserts (key, record, child) at the position on stack level `level`,
// splitting full pages upwards. A split copies on write: both halves go to
// fresh pages, the middle item rises with the lower half as its child and
// the item that pointed to the full page is pointed at the upper half by
// the write that inserts the middle item one level up (or, for the root,
// by the header naming a new root); only then are the full pages freed.
NtxStatus insertAt(NtxTree* t, int level, const char* key, uint32_t record, uint32_t child) {
    const NtxGeometry& g = t->geom;
    uint8_t pending[NTX_MAX_KEY_SIZE + 8];
    writeItem(pending, child, record, key, t->keySize);
    uint32_t redirect = 0;  // after a split below: the upper half, for the item after pending
    Replaced replaced;
    replaced.count = 0;
    for (;;) {
        NtxLevel lv = t->stack[level];
        uint8_t* p;
        NtxStatus st = loadPage(t, lv.page, 0, &p);
        if (st != NTX_OK) return st;
        uint16_t n = ntxPageCount(p);
        uint16_t pos = lv.pos > n ? n : lv.pos;
        if (n < g.maxKeys) {
            uint16_t freeSlot = ntxSlotOffset(p, uint16_t(n + 1));
            for (uint16_t i = uint16_t(n + 1); i > pos; i--) ntxPut16(p + 2 + 2 * i, ntxSlotOffset(p, uint16_t(i - 1)));
            ntxPut16(p + 2 + 2 * pos, freeSlot);
            std::memcpy(p + freeSlot, pending, g.itemSize);
            if (redirect) ntxPut32(ntxSlot(p, uint16_t(pos + 1)), redirect);
            ntxPut16(p, uint16_t(n + 1));
            if ((st = storePage(t, lv.page, 0)) != NTX_OK) return st;
            return freeReplaced(t, replaced);
        }
        // max + 1 items in order, and the rightmost child.
        uint8_t items[NTX_PAGE_SIZE];
        for (uint16_t i = 0, j = 0; i <= n; i++) {
            const uint8_t* src = i == pos ? pending : ntxSlot(p, j++);
            std::memcpy(items + i * g.itemSize, src, g.itemSize);
        }
        uint32_t rightmost = ntxSlotChild(p, n);
        if (redirect) {
            if (pos < n) ntxPut32(items + (pos + 1) * g.itemSize, redirect);
            else rightmost = redirect;
        }
        uint16_t half = g.halfPage;
        const uint8_t* mid = items + half * g.itemSize;
        uint8_t* q = scratch(1);
        uint32_t lower, upper;
        ntxInitPage(q, g);
        for (uint16_t i = 0; i < half; i++) std::memcpy(ntxSlot(q, i), items + i * g.itemSize, g.itemSize);
        ntxPut32(ntxSlot(q, half), ntxGet32(mid));
        ntxPut16(q, half);
        if ((st = storeFresh(t, 1, &lower)) != NTX_OK) return st;
        q = scratch(1);
        ntxInitPage(q, g);
        uint16_t rest = uint16_t(g.maxKeys - half);
        for (uint16_t i = 0; i < rest; i++)
            std::memcpy(ntxSlot(q, i), items + (half + 1 + i) * g.itemSize, g.itemSize);
        ntxPut32(ntxSlot(q, rest), rightmost);
        ntxPut16(q, rest);
        if ((st = storeFresh(t, 1, &upper)) != NTX_OK) return st;
        replaced.page[replaced.count++] = lv.page;
        std::memcpy(pending, mid, g.itemSize);
        ntxPut32(pending, lower);
        redirect = upper;
        if (level == 0) {
            uint32_t newRoot;
            q = scratch(1);
            ntxInitPage(q, g);
            std::memcpy(ntxSlot(q, 0), pending, g.itemSize);
            ntxPut32(ntxSlot(q, 1), upper);
            ntxPut16(q, 1);
            if ((st = storeFresh(t, 1, &newRoot)) != NTX_OK) return st;
            if ((st = switchRoot(t, newRoot)) != NTX_OK) return st;
            return freeReplaced(t, replaced);
        }
        level--;
    }
}

// Replaces the item at stack level `level` (which has a child) by its
// predecessor, the last key of the leaf on top of the stack, copying on
// write: the leaf without that key and every page between it and the
// item's page go to fresh pages, and one write of the item's page (the
// predecessor over the item, its child the fresh copy) switches to them.
// A leaf left empty is not copied: its parent's link becomes 0.
NtxStatus replaceByPredecessor(NtxTree* t, int level) {
    const NtxGeometry& g = t->geom;
    int top = t->depth - 1;
    NtxLevel leaf = t->stack[top];
    uint8_t* q;
    NtxStatus st = loadPage(t, leaf.page, 1, &q);
    if (st != NTX_OK) return st;
    if (leaf.pos >= ntxPageCount(q)) return NTX_ERR_PAGE;
    uint8_t pred[NTX_MAX_KEY_SIZE + 8];
    std::memcpy(pred, ntxSlot(q, leaf.pos), g.itemSize);
    Replaced replaced;
    replaced.count = 0;
    q = scratch(1);
    removeSlot(q, leaf.pos);
    uint32_t link = 0;
    if (ntxPageCount(q) > 0 || ntxSlotChild(q, 0) != 0) {
        if ((st = storeFresh(t, 1, &link)) != NTX_OK) return st;
    }
    replaced.page[replaced.count++] = leaf.page;
    for (int k = top - 1; k > level; k--) {
        NtxLevel lv = t->stack[k];
        if ((st = loadPage(t, lv.page, 1, &q)) != NTX_OK) return st;
        if (lv.pos > ntxPageCount(q)) return NTX_ERR_PAGE;
        q = scratch(1);
        ntxPut32(ntxSlot(q, lv.pos), link);
        if ((st = storeFresh(t, 1, &link)) != NTX_OK) return st;
        replaced.page[replaced.count++] = lv.page;
    }
    NtxLevel lv = t->stack[level];
    uint8_t* p;
    if ((st = loadPage(t, lv.page, 0, &p)) != NTX_OK) return st;
    if (lv.pos >= ntxPageCount(p)) return NTX_ERR_PAGE;
    uint8_t* item = ntxSlot(p, lv.pos);
    std::memcpy(item + 4, pred + 4, g.itemSize - 4u);
    ntxPut32(item, link);
    if ((st = storePage(t, lv.page, 0)) != NTX_OK) return st;
    return freeReplaced(t, replaced);
}

// Deletes the item named by the top of the stack.
NtxStatus deleteTop(NtxTree* t) {
    NtxStatus st;
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
            if (pred.pos == pred.count - 1u && t->depth - 1 > level) {
                // The predecessor is in a leaf reached without dead ends:
                // one switching write (the usual case).
                uint8_t* leafPage;
                if ((st = loadPage(t, pred.page, 1, &leafPage)) != NTX_OK) return st;
                if (ntxSlotChild(leafPage, pred.pos) == 0 && ntxSlotChild(leafPage, pred.count) == 0)
                    return replaceByPredecessor(t, level);
            }
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
            // A root left with only a child: the child becomes the root
            // (the header first), then the old root is freed.
            scratch(0);
            if ((st = switchRoot(t, rest)) != NTX_OK) return st;
            return freePage(t, lv.page, 0);
        }
        // A page left without keys goes to the free list; what it still
        // points to (its rightmost child) takes its place in the parent.
        // The parent is rewritten first: the page is unlinked before it is
        // written as free.
        scratch(0);
        NtxLevel up = t->stack[level - 1];
        uint8_t* q;
        if ((st = loadPage(t, up.page, 1, &q)) != NTX_OK) return st;
        if (up.pos > ntxPageCount(q)) return NTX_ERR_PAGE;
        ntxPut32(ntxSlot(q, up.pos), rest);
        if ((st = storePage(t, up.page, 1)) != NTX_OK) return st;
        return freePage(t, lv.page, 0);
    }
}

}  // namespace

uint32_t ntxBufferUses() { return sharedUses; }

NtxStatus ntxReadHeader(os::Handle file, NtxHeader* out) {
    std::memset(out, 0, sizeof *out);
    if (fsSeek(file, 0, os::FROM_BEGIN) != 0) return NTX_ERR_READ;
    int32_t got = fsReadLong(file, out, NTX_HEADER_READ);
    if (got < 0) return NTX_ERR_READ;
    return got == int32_t(NTX_HEADER_READ) ? NTX_OK : NTX_ERR_SHORT;
}

uint16_t ntxHeaderTextLength(const char* field, uint16_t room) {
    uint16_t n = 0;
    while (n < room && field[n]) n++;
    return n;
}

namespace {

NtxStatus attach(NtxTree* t, os::Handle file, bool acceptMark) {
    std::memset(t, 0, sizeof *t);
    t->file = file;
    NtxHeader h;
    std::memset(&h, 0, sizeof h);
    uint32_t size = sizeOf(file);
    if (size == 0xFFFFFFFFu) return NTX_ERR_READ;
    if (size < NTX_HEADER_READ) return NTX_ERR_SHORT;
    NtxStatus st = readAt(file, 0, &h, NTX_HEADER_READ);
    if (st != NTX_OK) return st;
    bool marked = acceptMark && (h.signature & NTX_SIG_BASE) == 0;
    if (marked) h.signature = uint16_t(h.signature | NTX_SIG_BASE);
    if ((st = ntxValidateHeader(h, size)) != NTX_OK) return st;
    t->rebuilding = marked;
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

}  // namespace

NtxStatus ntxAttach(NtxTree* t, os::Handle file) { return attach(t, file, false); }
NtxStatus ntxAttachMarked(NtxTree* t, os::Handle file) { return attach(t, file, true); }

NtxStatus ntxMarkRebuild(NtxTree* t) {
    uint8_t sig[2];
    ntxPut16(sig, uint16_t(t->signature & ~NTX_SIG_BASE));
    NtxStatus st = writeAt(t->file, 0, sig, 2);
    if (st == NTX_OK) t->rebuilding = true;
    return st;
}

void ntxDetach(NtxTree* t) {
    if (!t->stack) return;
    dropCache(t);
    ntxCacheDestroy(t->cache);
    t->cache = nullptr;
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

NtxStatus ntxCreate(NtxTree* t, os::Handle file, const NtxHeaderInfo& info, bool building) {
    std::memset(t, 0, sizeof *t);
    if (info.keySize == 0 || info.keySize > NTX_MAX_KEY_SIZE) return NTX_ERR_KEY_SIZE;
    NtxHeader h;
    ntxInitHeader(&h, info);
    if (building) h.signature = uint16_t(h.signature & ~NTX_SIG_BASE);
    uint8_t page[NTX_PAGE_SIZE];
    ntxInitPage(page, ntxGeometry(info.keySize));
    NtxStatus st = writeAt(file, 0, &h, NTX_PAGE_SIZE);
    if (st == NTX_OK) st = writeAt(file, NTX_PAGE_SIZE, page, NTX_PAGE_SIZE);
    if (st == NTX_OK) st = truncateAt(file, 2 * NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    return attach(t, file, building);
}

NtxStatus ntxReset(NtxTree* t) {
    dropCache(t);
    lose(t);
    NtxStatus st = truncateAt(t->file, NTX_PAGE_SIZE);
    if (st != NTX_OK) return st;
    t->fileSize = NTX_PAGE_SIZE;
    t->root = NTX_PAGE_SIZE;
    t->freeList = 0;
    t->dirty = true;
    return NTX_OK;
}

NtxStatus ntxWriteHeader(NtxTree* t) {
    if (!t->dirty) return NTX_OK;
    NtxHeader& h = shared->header;
    NtxStatus st = readAt(t->file, 0, &h, NTX_HEADER_READ);
    if (st != NTX_OK) return st;
    h.signature = diskSignature(t);
    h.changeCounter = 1;
    h.root = t->root;
    h.freeList = t->freeList;
    if ((st = writeAt(t->file, 0, &h, NTX_HEADER_READ)) != NTX_OK) return st;
    t->changeCounter = 1;
    t->dirty = false;
    return NTX_OK;
}

NtxStatus ntxCommitShared(NtxTree* t) {
    if (!t->changing) t->changeCounter++;
    t->changing = false;
    NtxStatus st = writeHead(t);
    if (st == NTX_OK) t->dirty = false;
    return st;
}

// The counter alone does not tell: a rebuild in shared use leaves it, and
// it wraps at 65,536. The root, the free-list head and the file size are
// compared as well; any difference drops every page held and the position.
NtxStatus ntxRefresh(NtxTree* t, bool* changed) {
    *changed = false;
    t->changing = false;
    uint8_t head[NTX_HEADER_SHARED];
    NtxStatus st = readAt(t->file, 0, head, NTX_HEADER_SHARED);
    if (st != NTX_OK) return st;
    uint16_t counter = ntxGet16(head + 2);
    uint32_t root = ntxGet32(head + 4), freeList = ntxGet32(head + 8);
    uint32_t size = sizeOf(t->file);
    if (size == 0xFFFFFFFFu) return NTX_ERR_READ;
    if (counter == t->changeCounter && root == t->root && freeList == t->freeList && size == t->fileSize)
        return NTX_OK;
    *changed = true;
    dropCache(t);
    lose(t);
    if (!ntxPageOffsetValid(root, size)) return NTX_ERR_ROOT;
    if (freeList != 0 && !ntxPageOffsetValid(freeList, size)) return NTX_ERR_FREE_LIST;
    t->changeCounter = counter;
    t->fileSize = size;
    t->root = root;
    t->freeList = freeList;
    return NTX_OK;
}

NtxStatus ntxDescend(NtxTree* t, NtxMode mode, const char* key, uint16_t length, uint32_t* record) {
    *record = 0;
    lose(t);
    if (length == 0 || length > t->keySize) length = t->keySize;
    uint32_t page = t->root;
    for (;;) {
        uint8_t* p;
        // The root goes to the second buffer, where it stays between
        // descents until a change needs that buffer.
        NtxStatus st = loadPage(t, page, page == t->root ? 1 : 0, &p);
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
    NtxStatus st = takeTop(t, record);
    if (st != NTX_OK) return st;
    if (mode == NTX_EXACT && ntxCompare(t->curKey, key, length, false) != 0) *record = 0;
    return NTX_OK;
}

NtxStatus ntxStep(NtxTree* t, int direction, uint32_t* record) {
    *record = 0;
    if (t->depth == 0) return NTX_OK;
    NtxLevel& top = t->stack[t->depth - 1];
    uint8_t* p;
    NtxStatus st = loadPage(t, top.page, 0, &p);
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

NtxStatus ntxSeek(NtxTree* t, const char* key, uint16_t length, bool soft, bool last, uint32_t* record,
                 bool* found) {
    *found = false;
    if (length == 0 || length > t->keySize) length = t->keySize;
    NtxStatus st;
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

NtxStatus ntxSeekAtMost(NtxTree* t, const char* key, uint16_t length, uint32_t* record) {
    if (length == 0 || length > t->keySize) length = t->keySize;
    NtxStatus st = ntxDescend(t, NTX_INSERT, key, length, record);
    if (st != NTX_OK) return st;
    if (!settleBackward(t)) {
        lose(t);
        return NTX_OK;
    }
    return takeTop(t, record);
}

NtxStatus ntxKeyNumber(NtxTree* t, uint32_t* number) {
    *number = 0;
    if (t->depth == 0 || t->curRecord == 0) return NTX_OK;
    char key[NTX_MAX_KEY_SIZE];
    uint32_t record = t->curRecord, r = record;
    std::memcpy(key, t->curKey, t->keySize);
    NtxStatus st = NTX_OK;
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

NtxStatus ntxGoToNumber(NtxTree* t, uint32_t number, uint32_t* record) {
    *record = 0;
    if (number == 0) {
        lose(t);
        return NTX_OK;
    }
    NtxStatus st = ntxDescend(t, NTX_FIRST, nullptr, 0, record);
    for (uint32_t i = 1; st == NTX_OK && *record != 0 && i < number; i++) st = ntxStep(t, 1, record);
    return st;
}

NtxStatus ntxLocate(NtxTree* t, const char* key, uint32_t record, bool* found) {
    *found = false;
    uint32_t r;
    NtxStatus st = ntxDescend(t, NTX_EXACT, key, t->keySize, &r);
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

NtxStatus ntxInsert(NtxTree* t, const char* key, uint32_t record) {
    uint32_t r;
    NtxStatus st = ntxDescend(t, NTX_INSERT, key, t->keySize, &r);
    if (st == NTX_OK) st = insertAt(t, t->depth - 1, key, record, 0);
    lose(t);
    return st;
}

NtxStatus ntxDelete(NtxTree* t, const char* key, uint32_t record, bool* found) {
    NtxStatus st = ntxLocate(t, key, record, found);
    if (st == NTX_OK && *found) st = deleteTop(t);
    lose(t);
    return st;
}

NtxStatus ntxReplaceRecord(NtxTree* t, const char* key, uint32_t oldRecord, uint32_t newRecord, bool* found) {
    NtxStatus st = ntxLocate(t, key, oldRecord, found);
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

NtxStatus ntxKeyCount(NtxTree* t, uint32_t* count) {
    *count = 0;
    lose(t);
    // Depth-first over the pages, the stack holding the next slot per level.
    // A sound tree visits each page once; more visits than pages means
    // shared or cyclic child links.
    uint32_t budget = t->fileSize / NTX_PAGE_SIZE;
    NtxStatus st = push(t, t->root, 0, 0);
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
