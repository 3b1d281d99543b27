// The index page cache; see ntx_cache.h.
//
// Entries live in one array; a hash of chains (by offset) finds them and a
// doubly linked list (by index) keeps them in order of use, most recent at
// the head. Page memory is one allocation per entry, made when the entry is
// first filled and reused when it is evicted.
#include "rdd/ntx/ntx_cache.h"

#include <cstring>

#include "rdd/ntx/ntx_format.h"
#include "base/memory.h"

namespace xb {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// About three times the inner pages of a million ten-byte keys.
uint32_t defaultPages = 512;

}  // namespace

struct NtxPageCache {
    struct Entry {
        uint32_t offset;
        uint32_t chain;       // next entry in the same hash bucket
        uint32_t newer, older;
        uint8_t* page;
    };
    uint32_t capacity;
    uint32_t count;       // entries in use: 0 .. count-1 are taken
    uint32_t buckets;     // a power of two
    uint32_t* bucket;     // head entry per bucket
    Entry* entries;
    uint32_t newest, oldest;
    uint32_t hits, misses;
};

namespace {

uint32_t bucketOf(const NtxPageCache* c, uint32_t offset) {
    return (offset / NTX_PAGE_SIZE * 2654435761u) & (c->buckets - 1);
}

uint32_t find(const NtxPageCache* c, uint32_t offset) {
    for (uint32_t i = c->bucket[bucketOf(c, offset)]; i != kNone; i = c->entries[i].chain)
        if (c->entries[i].offset == offset) return i;
    return kNone;
}

void unlinkUse(NtxPageCache* c, uint32_t i) {
    NtxPageCache::Entry& e = c->entries[i];
    if (e.newer != kNone) c->entries[e.newer].older = e.older; else c->newest = e.older;
    if (e.older != kNone) c->entries[e.older].newer = e.newer; else c->oldest = e.newer;
    e.newer = e.older = kNone;
}

void linkNewest(NtxPageCache* c, uint32_t i) {
    NtxPageCache::Entry& e = c->entries[i];
    e.newer = kNone;
    e.older = c->newest;
    if (c->newest != kNone) c->entries[c->newest].newer = i;
    c->newest = i;
    if (c->oldest == kNone) c->oldest = i;
}

void linkOldest(NtxPageCache* c, uint32_t i) {
    NtxPageCache::Entry& e = c->entries[i];
    e.older = kNone;
    e.newer = c->oldest;
    if (c->oldest != kNone) c->entries[c->oldest].older = i;
    c->oldest = i;
    if (c->newest == kNone) c->newest = i;
}

void unlinkChain(NtxPageCache* c, uint32_t i) {
    uint32_t* at = &c->bucket[bucketOf(c, c->entries[i].offset)];
    while (*at != i) at = &c->entries[*at].chain;
    *at = c->entries[i].chain;
}

void linkChain(NtxPageCache* c, uint32_t i) {
    uint32_t b = bucketOf(c, c->entries[i].offset);
    c->entries[i].chain = c->bucket[b];
    c->bucket[b] = i;
}

// Moves the last taken entry into slot i (which has been unlinked), so
// that taken entries stay at 0 .. count-1.
void compact(NtxPageCache* c, uint32_t i) {
    uint32_t last = --c->count;
    if (i == last) return;
    uint8_t* spare = c->entries[i].page;
    unlinkChain(c, last);
    bool wasNewest = c->newest == last, wasOldest = c->oldest == last;
    NtxPageCache::Entry moved = c->entries[last];
    c->entries[i] = moved;
    c->entries[last].page = spare;
    if (moved.newer != kNone) c->entries[moved.newer].older = i;
    if (moved.older != kNone) c->entries[moved.older].newer = i;
    if (wasNewest) c->newest = i;
    if (wasOldest) c->oldest = i;
    linkChain(c, i);
}

}  // namespace

uint32_t ntxPageCacheDefault() { return defaultPages; }

uint32_t ntxSetPageCacheDefault(uint32_t pages) {
    uint32_t old = defaultPages;
    defaultPages = pages < NTX_CACHE_MAX_PAGES ? pages : NTX_CACHE_MAX_PAGES;
    return old;
}

NtxPageCache* ntxCacheCreate(uint32_t capacity) {
    if (capacity == 0) return nullptr;
    auto* c = static_cast<NtxPageCache*>(memAllocZero(sizeof(NtxPageCache)));
    c->capacity = capacity;
    c->buckets = 1;
    while (c->buckets < capacity) c->buckets <<= 1;
    c->bucket = static_cast<uint32_t*>(memAlloc(c->buckets * uint32_t(sizeof(uint32_t))));
    std::memset(c->bucket, 0xFF, c->buckets * sizeof(uint32_t));
    c->entries = static_cast<NtxPageCache::Entry*>(memAllocZero(capacity * uint32_t(sizeof(NtxPageCache::Entry))));
    c->newest = c->oldest = kNone;
    return c;
}

void ntxCacheClear(NtxPageCache* c) {
    if (!c) return;
    for (uint32_t i = 0; i < c->capacity; i++) {
        memFree(c->entries[i].page);
        c->entries[i].page = nullptr;
    }
    std::memset(c->bucket, 0xFF, c->buckets * sizeof(uint32_t));
    c->count = 0;
    c->newest = c->oldest = kNone;
}

void ntxCacheDestroy(NtxPageCache* c) {
    if (!c) return;
    ntxCacheClear(c);
    memFree(c->bucket);
    memFree(c->entries);
    memFree(c);
}

bool ntxCacheGet(NtxPageCache* c, uint32_t offset, uint8_t* out) {
    if (!c) return false;
    uint32_t i = find(c, offset);
    if (i == kNone) {
        c->misses++;
        return false;
    }
    c->hits++;
    std::memcpy(out, c->entries[i].page, NTX_PAGE_SIZE);
    if (c->newest != i) {
        unlinkUse(c, i);
        linkNewest(c, i);
    }
    return true;
}

void ntxCachePut(NtxPageCache* c, uint32_t offset, const uint8_t* page, bool cold) {
    if (!c) return;
    uint32_t i = find(c, offset);
    if (i != kNone) {
        unlinkUse(c, i);
    } else if (c->count < c->capacity) {
        i = c->count++;
        if (!c->entries[i].page) c->entries[i].page = static_cast<uint8_t*>(memAlloc(NTX_PAGE_SIZE));
        c->entries[i].offset = offset;
        linkChain(c, i);
    } else {
        i = c->oldest;
        unlinkUse(c, i);
        unlinkChain(c, i);
        c->entries[i].offset = offset;
        linkChain(c, i);
    }
    std::memcpy(c->entries[i].page, page, NTX_PAGE_SIZE);
    if (cold)
        linkOldest(c, i);
    else
        linkNewest(c, i);
}

void ntxCacheForget(NtxPageCache* c, uint32_t offset) {
    if (!c) return;
    uint32_t i = find(c, offset);
    if (i == kNone) return;
    unlinkUse(c, i);
    unlinkChain(c, i);
    compact(c, i);
}

uint32_t ntxCacheCount(const NtxPageCache* c) { return c ? c->count : 0; }
uint32_t ntxCacheHits(const NtxPageCache* c) { return c ? c->hits : 0; }
uint32_t ntxCacheMisses(const NtxPageCache* c) { return c ? c->misses : 0; }

}  // namespace xb
