// Index invariant checker; see ntx_check.h.
#include "rdd/ntx/ntx_check.h"

#include <cstdio>

#include "runtime/files.h"
#include "base/memory.h"

namespace xb {

namespace {

struct Frame {
    uint32_t page;
    uint16_t count;
    uint16_t step;  // 2 * slot: the slot's child next; 2 * slot + 1: its key next
    uint8_t* buf;
};

struct Walk {
    NtxTree* t;
    NtxCheckResult* r;
    Frame* frames;
    uint16_t depth;
    uint8_t* seen;  // one bit per page of the file
    uint32_t pageCount;
    char prev[NTX_MAX_KEY_SIZE];
    bool havePrev;
};

NtxStatus fail(Walk& w, NtxStatus status, uint32_t page, const char* what) {
    w.r->status = status;
    w.r->page = page;
    std::snprintf(w.r->message, sizeof w.r->message, "page %lu: %s", static_cast<unsigned long>(page),
                  what ? what : ntxErrorText(status));
    return status;
}

bool readPage(NtxTree* t, uint32_t offset, uint8_t* buf) {
    return fsSeek(t->file, int32_t(offset), os::FROM_BEGIN) == offset &&
           fsReadLong(t->file, buf, NTX_PAGE_SIZE) == int32_t(NTX_PAGE_SIZE);
}

// Marks a page as used; false when it already was.
bool mark(Walk& w, uint32_t offset) {
    uint32_t i = offset / NTX_PAGE_SIZE;
    if (w.seen[i / 8] & (1u << (i % 8))) return false;
    w.seen[i / 8] |= uint8_t(1u << (i % 8));
    return true;
}

NtxStatus enter(Walk& w, uint32_t page) {
    if (w.depth >= NTX_MAX_DEPTH) return fail(w, NTX_ERR_DEPTH, page, nullptr);
    if (!ntxPageOffsetValid(page, w.t->fileSize)) return fail(w, NTX_ERR_CHILD, page, nullptr);
    if (!mark(w, page)) return fail(w, NTX_ERR_CYCLE, page, nullptr);
    Frame& f = w.frames[w.depth];
    if (!f.buf) f.buf = static_cast<uint8_t*>(memAlloc(NTX_PAGE_SIZE));
    if (!readPage(w.t, page, f.buf)) return fail(w, NTX_ERR_READ, page, nullptr);
    if (ntxCheckPage(f.buf, w.t->geom) != NTX_OK) return fail(w, NTX_ERR_PAGE, page, nullptr);
    f.page = page;
    f.count = ntxPageCount(f.buf);
    f.step = 0;
    w.depth++;
    w.r->pages++;
    if (w.depth > w.r->depth) w.r->depth = w.depth;
    return NTX_OK;
}

NtxStatus walkTree(Walk& w, NtxCheckVisit visit, void* context) {
    NtxTree* t = w.t;
    NtxStatus st = enter(w, t->root);
    while (st == NTX_OK && w.depth > 0) {
        Frame& f = w.frames[w.depth - 1];
        uint16_t slot = uint16_t(f.step / 2);
        if (f.step % 2 == 0) {
            f.step++;
            uint32_t child = ntxSlotChild(f.buf, slot);
            if (child != 0) st = enter(w, child);
            continue;
        }
        if (slot >= f.count) {
            w.depth--;
            continue;
        }
        f.step++;
        const char* key = ntxSlotKey(f.buf, slot);
        if (w.havePrev) {
            int c = ntxCompare(w.prev, key, t->keySize, t->descending);
            if (c > 0) return fail(w, NTX_ERR_ORDER, f.page, nullptr);
            if (c == 0 && t->unique) return fail(w, NTX_ERR_DUPLICATE, f.page, nullptr);
        }
        std::memcpy(w.prev, key, t->keySize);
        w.havePrev = true;
        w.r->keys++;
        if (visit && !visit(key, ntxSlotRecord(f.buf, slot), context)) break;
    }
    return st;
}

NtxStatus walkFreeList(Walk& w) {
    NtxTree* t = w.t;
    uint8_t page[NTX_PAGE_SIZE];
    for (uint32_t off = t->freeList; off != 0;) {
        if (!ntxPageOffsetValid(off, t->fileSize)) return fail(w, NTX_ERR_FREE_LIST, off, nullptr);
        if (!mark(w, off)) return fail(w, NTX_ERR_FREE_LIST, off, "free page reached twice or used by the tree");
        if (!readPage(t, off, page)) return fail(w, NTX_ERR_READ, off, nullptr);
        w.r->freePages++;
        off = ntxCheckPage(page, t->geom) == NTX_OK ? ntxSlotChild(page, 0)
                                                    : ntxGet32(page + 2 * t->geom.maxKeys + 4);
    }
    return NTX_OK;
}

}  // namespace

NtxStatus ntxCheck(NtxTree* t, NtxCheckResult* result, NtxCheckVisit visit, void* context) {
    std::memset(result, 0, sizeof *result);
    Walk w;
    std::memset(&w, 0, sizeof w);
    w.t = t;
    w.r = result;
    w.pageCount = t->fileSize / NTX_PAGE_SIZE + 1;
    w.seen = static_cast<uint8_t*>(memAllocZero(w.pageCount / 8 + 1));
    w.frames = static_cast<Frame*>(memAllocZero(sizeof(Frame) * NTX_MAX_DEPTH));
    NtxStatus st = walkTree(w, visit, context);
    // The free list is checked after the tree, so that a free page the tree
    // still uses is named as a free-list fault.
    if (st == NTX_OK) st = walkFreeList(w);
    for (uint16_t i = 0; i < NTX_MAX_DEPTH && w.frames[i].buf; i++) memFree(w.frames[i].buf);
    memFree(w.frames);
    memFree(w.seen);
    if (st == NTX_OK) std::snprintf(result->message, sizeof result->message, "ok");
    return st;
}

}  // namespace xb
