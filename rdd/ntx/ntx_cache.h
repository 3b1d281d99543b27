// A bounded cache of index pages, one per open index file, least recently
// used page out first.
//
// What it holds: copies of pages exactly as the file holds them. A page
// enters when it is read and has passed the page check (it is not checked
// again while cached), or when it has been written whole (write-through:
// nothing is ever held back, so the write order of the tree engine is the
// order on disk). A write that fails removes the page: the file may hold
// either version.
//
// When it may be trusted: in exclusive use always; in shared use only under
// the index lock, after the refresh at the outermost lock has compared the
// header and file size with what was last seen and cleared the cache on
// any difference. The tree engine (ntx_tree.cpp) owns the cache and clears
// it at reset, detach and every such difference.
//
// The capacity is in pages (1 KB each); 0 turns the cache off. Page memory
// is taken as pages arrive, so a small index costs little.
#pragma once
#include <cstdint>

namespace xb {

struct NtxPageCache;

// The capacity given to caches created from now on (the default holds the
// inner pages of an index of a million short keys); returns the previous
// setting. Settings above NTX_CACHE_MAX_PAGES (64 MB of pages per index
// file) are taken as that. A program sets it with NTXCACHE([nPages])
// (ntx_cache_native.cpp).
constexpr uint32_t NTX_CACHE_MAX_PAGES = 65536;
uint32_t ntxPageCacheDefault();
uint32_t ntxSetPageCacheDefault(uint32_t pages);

// nullptr when capacity is 0.
NtxPageCache* ntxCacheCreate(uint32_t capacity);
void ntxCacheDestroy(NtxPageCache* c);
// Forgets every page and frees their memory (the cache itself stays).
void ntxCacheClear(NtxPageCache* c);
// Copies the page at offset into out and marks it most recently used;
// false when it is not cached. c may be null.
bool ntxCacheGet(NtxPageCache* c, uint32_t offset, uint8_t* out);
// Stores a copy of the page at offset (replacing one held), evicting the
// least recently used page when full. A cold page (a leaf read in passing)
// goes in as the least recently used: it is the first to leave unless it is
// asked for again, so that a run of leaves does not push the inner pages
// out. c may be null.
void ntxCachePut(NtxPageCache* c, uint32_t offset, const uint8_t* page, bool cold = false);
// Forgets the page at offset if held. c may be null.
void ntxCacheForget(NtxPageCache* c, uint32_t offset);
// Pages held now, and lookups answered / not answered since creation.
uint32_t ntxCacheCount(const NtxPageCache* c);
uint32_t ntxCacheHits(const NtxPageCache* c);
uint32_t ntxCacheMisses(const NtxPageCache* c);

}  // namespace xb
