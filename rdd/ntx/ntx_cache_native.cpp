// NTXCACHE([nPages]): the size of the page cache each index file gets when
// it is opened or created from now on, in pages of 1 KB; 0 turns caching
// off for them. Index files already open keep the cache they have. The
// result is the setting before the call. A number below 0 counts as 0, one
// above NTX_CACHE_MAX_PAGES as that many; an argument that is not a number
// changes nothing (NTXCACHE() only asks), and neither the sign nor the
// fraction of a number is an error.
#include "rdd/ntx/ntx_cache.h"
#include "vm/function.h"
#include "vm/native.h"

namespace xb {

XB_NATIVE(fnNTXCACHE, "NTXCACHE") {
    uint32_t previous = ntxPageCacheDefault();
    const Item* pages = argumentItem(1);
    if (pages && (pages->type & M_NUMERIC)) {
        double n = itemDouble(pages);
        uint32_t set = !(n > 0) ? 0u : n >= double(NTX_CACHE_MAX_PAGES) ? NTX_CACHE_MAX_PAGES : uint32_t(n);
        ntxSetPageCacheDefault(set);
    }
    retInt(int32_t(previous));
    return 0;
}

}  // namespace xb
