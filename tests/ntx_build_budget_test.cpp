// Index builds at any sort budget and page-cache size: the same pairs give
// the same index file, byte for byte, whether the sort works in one block
// of memory or through many runs and merge passes, and whether the page
// cache is off, smaller than the tree or large; the tree holds the pairs in
// the order's order (collation, direction, record number, the first of
// each key in a unique order). And the cache setting's bounds.
#include "rdd/ntx/ntx_build.h"
#include "rdd/ntx/ntx_cache.h"
#include "tests/support/ntx_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace xb;
using test::Entry;

namespace {

struct CacheSize {
    uint32_t old;
    explicit CacheSize(uint32_t pages) : old(ntxSetPageCacheDefault(pages)) {}
    ~CacheSize() { ntxSetPageCacheDefault(old); }
};

struct Pairs {
    const std::vector<Entry>* list;
    size_t next;
};

bool nextPair(char* key, uint32_t* record, bool* done, void* context) {
    Pairs& p = *static_cast<Pairs*>(context);
    if (p.next == p.list->size()) {
        *done = true;
        return true;
    }
    const Entry& e = (*p.list)[p.next++];
    std::memcpy(key, e.first.data(), e.first.size());
    *record = e.second;
    *done = false;
    return true;
}

class NtxBuildBudgetTest : public test::NtxTest {
protected:
    std::vector<uint8_t> bytesOf(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    // Keys of keySize bytes with accented and plain letters (equal weights),
    // many repeated, in a shuffled order of records.
    static std::vector<Entry> pairs(uint32_t n, uint16_t keySize, unsigned seed) {
        std::mt19937 rng(seed);
        const char letters[] = "aA\xE1\xC1" "eE\xE9" "nN\xF1\xD1" "zZ09 ";
        std::vector<Entry> v;
        for (uint32_t i = 0; i < n; i++) {
            std::string k(keySize, ' ');
            for (uint16_t j = 0; j < keySize; j++) k[j] = letters[rng() % (sizeof letters - 1)];
            if (i % 5 == 0 && !v.empty()) k = v[rng() % v.size()].first;  // a key again
            v.emplace_back(k, i + 1);
        }
        std::shuffle(v.begin(), v.end(), rng);
        return v;
    }
    // What the order must hold, in its order.
    static std::vector<Entry> expected(std::vector<Entry> v, uint16_t keySize, bool descending, bool unique) {
        test::KeyLess less{keySize, descending};
        std::sort(v.begin(), v.end(), [&](const Entry& a, const Entry& b) {
            if (less(a.first, b.first)) return true;
            if (less(b.first, a.first)) return false;
            return a.second < b.second;
        });
        if (!unique) return v;
        std::vector<Entry> firsts;
        for (const Entry& e : v)
            if (firsts.empty() || less(firsts.back().first, e.first)) firsts.push_back(e);
        return firsts;
    }
};

}  // namespace

TEST_F(NtxBuildBudgetTest, TheSameFileAtEverySortBudgetAndCacheSize) {
    struct Shape {
        uint16_t keySize;
        bool descending, unique;
        uint32_t count;
    } shapes[] = {{6, false, false, 5000}, {6, true, false, 5000}, {3, false, true, 4000}, {40, true, true, 1500}};
    const uint32_t budgets[] = {64, 4096, NTX_BUILD_SORT_BUDGET};
    const uint32_t caches[] = {0, 2, 512};
    int shapeNo = 0;
    for (const Shape& s : shapes) {
        SCOPED_TRACE("shape " + std::to_string(shapeNo));
        std::vector<Entry> input = pairs(s.count, s.keySize, 100 + shapeNo);
        std::vector<Entry> want = expected(input, s.keySize, s.descending, s.unique);
        std::vector<uint8_t> first;
        for (uint32_t budget : budgets) {
            for (uint32_t cache : caches) {
                SCOPED_TRACE("budget " + std::to_string(budget) + ", cache " + std::to_string(cache));
                CacheSize cs(cache);
                std::string name = "b" + std::to_string(shapeNo) + "_" + std::to_string(budget) + "_" +
                                   std::to_string(cache) + ".ntx";
                NtxTree* t = create(name.c_str(), s.keySize, s.unique, s.descending);
                Pairs src{&input, 0};
                std::string temp = dir + "/sort";
                files.push_back(temp + "_s0");
                files.push_back(temp + "_s1");
                ASSERT_EQ(ntxBuildOrder(t, nextPair, &src, budget, temp.c_str()), NTX_OK);
                ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
                ASSERT_EQ(check(t), "ok");
                ASSERT_EQ(forwards(t), want);
                ASSERT_EQ(backwards(t), want);
                detach(t);
                std::vector<uint8_t> bytes = bytesOf(dir + "/" + name);
                if (first.empty()) first = bytes;
                ASSERT_EQ(bytes, first);
            }
        }
        shapeNo++;
    }
}

TEST_F(NtxBuildBudgetTest, TheCacheSettingIsBounded) {
    CacheSize cs(7);
    EXPECT_EQ(ntxPageCacheDefault(), 7u);
    EXPECT_EQ(ntxSetPageCacheDefault(NTX_CACHE_MAX_PAGES + 1), 7u);
    EXPECT_EQ(ntxPageCacheDefault(), NTX_CACHE_MAX_PAGES);
    EXPECT_EQ(ntxSetPageCacheDefault(0xFFFFFFFFu), NTX_CACHE_MAX_PAGES);
    EXPECT_EQ(ntxPageCacheDefault(), NTX_CACHE_MAX_PAGES);
    ntxSetPageCacheDefault(0);
    NtxTree* off = create("off.ntx", 8);
    EXPECT_EQ(off->cache, nullptr);
    ntxSetPageCacheDefault(3);
    NtxTree* on = create("on.ntx", 8);
    ASSERT_NE(on->cache, nullptr);
    for (int i = 0; i < 2000; i++) {
        std::string k = key("P" + std::to_string(i * 31 % 2000), 8);
        ASSERT_EQ(ntxInsert(on, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    EXPECT_LE(ntxCacheCount(on->cache), 3u);
    EXPECT_EQ(forwards(on).size(), 2000u);
}
