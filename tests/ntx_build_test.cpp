// Building orders: the external sort (multi-pass merging in 16 KB, the
// in-memory case, its errors and temporary files), the bottom-up page
// writer (page shapes around one full leaf, the last-leaf rule, pages in
// writing order, unique and descending orders) and the whole path from
// unsorted pairs to a tree that then takes inserts and deletions.
#include "rdd/ext_sort.h"
#include "rdd/ntx/ntx_build.h"
#include "tests/support/ntx_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

using namespace xb;
using test::Entry;
using test::KeyLess;
using test::KeyModel;

namespace {

class NtxBuildTest : public test::NtxTest {
protected:
    // Builds t from the pairs through the external sort in `budget` bytes.
    struct Source {
        const std::vector<Entry>* pairs;
        size_t next;
        uint16_t keySize;
        size_t failAt;  // pair whose key cannot be made (SIZE_MAX: none)
        size_t stoppedAt;  // where the source stopped the build
    };
    static bool nextPair(char* key, uint32_t* record, bool* done, void* context) {
        Source& s = *static_cast<Source*>(context);
        if (s.next == s.failAt) {
            s.stoppedAt = s.next;
            return false;
        }
        if (s.next == s.pairs->size()) {
            *done = true;
            return true;
        }
        std::memcpy(key, (*s.pairs)[s.next].first.data(), s.keySize);
        *record = (*s.pairs)[s.next++].second;
        return true;
    }
    size_t stoppedAt = SIZE_MAX;  // of the last build
    NtxStatus buildFrom(NtxTree* t, const std::vector<Entry>& pairs, uint32_t budget, size_t failAt = SIZE_MAX) {
        std::string base = dir + "/sort";
        files.push_back(base + "_s0");
        files.push_back(base + "_s1");
        Source src{&pairs, 0, t->keySize, failAt, SIZE_MAX};
        NtxStatus st = ntxBuildOrder(t, nextPair, &src, budget, base.c_str());
        stoppedAt = src.stoppedAt;
        return st;
    }
    // n pairs "K<i>" in a shuffled order, record i + 1.
    static std::vector<Entry> numbered(int n, uint16_t keySize, unsigned seed) {
        std::vector<Entry> v;
        char text[16];
        for (int i = 0; i < n; i++) {
            std::snprintf(text, sizeof text, "K%06d", i);
            v.emplace_back(key(text, keySize), uint32_t(i + 1));
        }
        std::shuffle(v.begin(), v.end(), std::mt19937(seed));
        return v;
    }
    static KeyModel modelOf(const std::vector<Entry>& pairs, uint16_t keySize, bool descending, bool unique) {
        std::vector<Entry> sorted = pairs;
        KeyLess less{keySize, descending};
        std::sort(sorted.begin(), sorted.end(), [&](const Entry& a, const Entry& b) {
            if (less(a.first, b.first)) return true;
            if (less(b.first, a.first)) return false;
            return a.second < b.second;
        });
        KeyModel m(less);
        for (const Entry& e : sorted)
            if (!unique || m.find(e.first) == m.end()) m.emplace(e.first, e.second);
        return m;
    }
    static std::vector<uint8_t> page(NtxTree* t, uint32_t offset) {
        std::vector<uint8_t> p(NTX_PAGE_SIZE);
        fsSeek(t->file, int32_t(offset), os::FROM_BEGIN);
        fsReadLong(t->file, p.data(), NTX_PAGE_SIZE);
        return p;
    }
};

int compareInts(const void* a, const void* b, void*) {
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

TEST_F(NtxBuildTest, ExternalSortMergesInSeveralPassesWithin16KB) {
    struct Case {
        uint32_t count, recordSize;
        bool spills;
    } cases[] = {{0, 8, false}, {1, 8, false}, {2000, 8, false}, {60000, 8, true}, {3000, 300, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        std::mt19937 rng(c.count);
        std::vector<std::vector<uint8_t>> records;
        ExtSort s;
        std::string base = path("x");
        std::string t0 = base + "_s0", t1 = base + "_s1";
        files.push_back(t0);
        files.push_back(t1);
        ASSERT_EQ(extSortBegin(&s, c.recordSize, 16384, compareInts, nullptr, base.c_str()), EXTSORT_OK);
        for (uint32_t i = 0; i < c.count; i++) {
            std::vector<uint8_t> r(c.recordSize);
            uint32_t v = rng() % 100000;
            std::memcpy(r.data(), &v, 4);
            for (uint32_t j = 4; j < c.recordSize; j++) r[j] = uint8_t(v + j);
            records.push_back(r);
            ASSERT_EQ(extSortAdd(&s, r.data()), EXTSORT_OK);
        }
        ASSERT_EQ(extSortFinish(&s), EXTSORT_OK);
        EXPECT_EQ(os::fileExists(t0.c_str()), c.spills);
        std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return compareInts(a.data(), b.data(), nullptr) < 0;
        });
        std::vector<std::vector<uint8_t>> out;
        const void* next;
        for (;;) {
            ASSERT_EQ(extSortNext(&s, &next), EXTSORT_OK);
            if (!next) break;
            const uint8_t* p = static_cast<const uint8_t*>(next);
            out.emplace_back(p, p + c.recordSize);
        }
        ASSERT_EQ(out.size(), records.size());
        // same keys in order, and the same multiset of whole records
        for (size_t i = 0; i < out.size(); i++)
            ASSERT_EQ(compareInts(out[i].data(), records[i].data(), nullptr), 0) << i;
        std::sort(out.begin(), out.end());
        std::sort(records.begin(), records.end());
        EXPECT_EQ(out, records);
        if (c.count == 60000) {
            EXPECT_GE(s.passes, 2u);  // 60000 / 2048 runs, 15 at a time
        }
        extSortEnd(&s);
        EXPECT_FALSE(os::fileExists(t0.c_str()));
        EXPECT_FALSE(os::fileExists(t1.c_str()));
    }
}

// The sort's results do not mix with other status words.
static_assert(!std::is_convertible_v<ExtSortStatus, uint16_t> && !std::is_convertible_v<uint16_t, ExtSortStatus>,
              "external sort results are their own type");
static_assert(!std::is_convertible_v<NtxStatus, uint16_t> && !std::is_convertible_v<uint16_t, NtxStatus>,
              "index engine results are their own type");

TEST_F(NtxBuildTest, ExternalSortReportsItsFailures) {
    ExtSort s;
    EXPECT_EQ(extSortBegin(&s, 0, 16384, compareInts, nullptr, "x"), EXTSORT_ERR_RECORD);
    extSortEnd(&s);
    // a temporary file in a directory that does not exist: at the first spill
    std::string base = dir + "/missing/dir/x";
    ASSERT_EQ(extSortBegin(&s, 4, 64, compareInts, nullptr, base.c_str()), EXTSORT_OK);
    ExtSortStatus st = EXTSORT_OK;
    for (uint32_t i = 0; i < 100 && !st; i++) st = extSortAdd(&s, &i);
    EXPECT_EQ(st, EXTSORT_ERR_CREATE);
    EXPECT_EQ(extSortErrorNumber(st), 4412);
    EXPECT_EQ(extSortAdd(&s, &st), EXTSORT_ERR_STATE);
    extSortEnd(&s);
    // calls out of order
    ASSERT_EQ(extSortBegin(&s, 4, 64, compareInts, nullptr, path("y").c_str()), EXTSORT_OK);
    uint32_t v = 1;
    ASSERT_EQ(extSortAdd(&s, &v), EXTSORT_OK);
    ASSERT_EQ(extSortFinish(&s), EXTSORT_OK);
    EXPECT_EQ(extSortAdd(&s, &v), EXTSORT_ERR_STATE);
    EXPECT_EQ(extSortFinish(&s), EXTSORT_ERR_STATE);
    extSortEnd(&s);
}

TEST_F(NtxBuildTest, PageShapesAroundAFullLeafAndTheLastLeafRule) {
    struct Case {
        int pairs;
        int rootKeys;          // keys of the root page
        int leftLeaf, rightLeaf;  // keys of the root's first child and rightmost child (-1: no child)
        uint32_t pagesWritten;
    } cases[] = {
        {0, 0, -1, -1, 1},
        {1, 1, -1, -1, 1},
        {50, 50, -1, -1, 1},
        {51, 1, 49, 1, 3},  // the last pair after a full leaf: the leaf's own last key rises
        {52, 1, 50, 1, 3},  // the 51st pair rises, the 52nd starts the new leaf
        {102, 2, 50, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pairs);
        std::string name = "p" + std::to_string(c.pairs) + ".ntx";
        NtxTree* t = create(name.c_str(), 10);
        std::vector<Entry> pairs = numbered(c.pairs, 10, 7);
        ASSERT_EQ(buildFrom(t, pairs, 16384), NTX_OK);
        EXPECT_EQ(t->fileSize, NTX_PAGE_SIZE * (1 + c.pagesWritten));
        EXPECT_EQ(t->root, t->fileSize - NTX_PAGE_SIZE);  // written last
        std::vector<uint8_t> root = page(t, t->root);
        EXPECT_EQ(ntxPageCount(root.data()), c.rootKeys);
        uint32_t first = ntxSlotChild(root.data(), 0);
        uint32_t last = ntxSlotChild(root.data(), ntxPageCount(root.data()));
        EXPECT_EQ(first == 0 ? -1 : int(ntxPageCount(page(t, first).data())), c.leftLeaf);
        EXPECT_EQ(last == 0 ? -1 : int(ntxPageCount(page(t, last).data())), c.rightLeaf);
        EXPECT_EQ(forwards(t), entries(modelOf(pairs, 10, false, false)));
        EXPECT_EQ(check(t), "ok");
        ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
    }
}

TEST_F(NtxBuildTest, BuiltOrdersMatchTheModelAndKeepWorkingUnderChanges) {
    struct Case {
        uint16_t keySize;
        bool unique, descending;
        int pairs;
    } cases[] = {{10, false, false, 20000}, {10, true, false, 3000}, {20, false, true, 3000},
                 {256, false, false, 1500}, {256, true, true, 800}, {1, false, false, 500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.keySize) + (c.unique ? " unique" : "") + (c.descending ? " desc" : ""));
        std::string name = "b" + std::to_string(&c - cases) + ".ntx";
        NtxTree* t = create(name.c_str(), c.keySize, c.unique, c.descending);
        std::mt19937 rng(c.pairs);
        // few distinct keys (with accent variants that collate equal), so
        // that unique orders drop most pairs
        const char letters[] = "ab\xE1" "cXyZ";
        std::vector<Entry> pairs;
        for (int i = 0; i < c.pairs; i++) {
            std::string text;
            for (int j = 0; j < 3; j++) text += letters[rng() % 7];
            pairs.emplace_back(key(text, c.keySize), uint32_t(i + 1));
        }
        std::shuffle(pairs.begin(), pairs.end(), rng);
        ASSERT_EQ(buildFrom(t, pairs, 16384), NTX_OK);
        KeyModel model = modelOf(pairs, c.keySize, c.descending, c.unique);
        ASSERT_EQ(forwards(t), entries(model));
        ASSERT_EQ(backwards(t), entries(model));
        NtxCheckResult res;
        ASSERT_EQ(check(t, &res), "ok");
        EXPECT_EQ(res.keys, model.size());
        uint32_t count;
        ASSERT_EQ(ntxKeyCount(t, &count), NTX_OK);
        EXPECT_EQ(count, model.size());
        if (c.unique) continue;  // unique upkeep belongs to the driver's rule
        // the built tree takes deletions and insertions like any other
        for (int op = 0; op < 300; op++) {
            if (op % 3 != 0) {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                bool found;
                ASSERT_EQ(ntxDelete(t, it->first.data(), it->second, &found), NTX_OK);
                ASSERT_TRUE(found);
                model.erase(it);
            } else {
                std::string k = key(std::string(1, letters[rng() % 7]), c.keySize);
                ASSERT_EQ(ntxInsert(t, k.data(), uint32_t(100000 + op)), NTX_OK);
                model.emplace(k, uint32_t(100000 + op));
            }
            if (op % 50 == 0 || c.keySize == 256) {
                ASSERT_EQ(forwards(t), entries(model)) << op;
            }
        }
        ASSERT_EQ(forwards(t), entries(model));
        ASSERT_EQ(check(t), "ok");
    }
}

TEST_F(NtxBuildTest, AFailingSourceStopsTheBuild) {
    NtxTree* t = create("s.ntx", 8);
    std::vector<Entry> pairs = numbered(5000, 8, 11);
    EXPECT_EQ(buildFrom(t, pairs, 16384, 4000), NTX_STOPPED);  // after several sort runs
    EXPECT_EQ(stoppedAt, 4000u);  // the source's own reason stays with the source
    EXPECT_FALSE(os::fileExists((dir + "/sort_s0").c_str()));
    // the same order builds once the source works
    ASSERT_EQ(buildFrom(t, pairs, 16384), NTX_OK);
    EXPECT_EQ(forwards(t).size(), 5000u);
    EXPECT_EQ(check(t), "ok");
}

TEST_F(NtxBuildTest, CheckerHandsEveryKeyToItsVisitorInOrder) {
    NtxTree* t = create("v.ntx", 8);
    std::vector<Entry> pairs = numbered(700, 8, 3);
    ASSERT_EQ(buildFrom(t, pairs, 16384), NTX_OK);
    std::vector<Entry> seen;
    NtxCheckResult res;
    auto visit = [](const char* key, uint32_t record, void* ctx) {
        auto* v = static_cast<std::vector<Entry>*>(ctx);
        v->emplace_back(std::string(key, 8), record);
        return v->size() < 500;
    };
    ASSERT_EQ(ntxCheck(t, &res, visit, &seen), NTX_OK);
    EXPECT_EQ(seen.size(), 500u);  // stopped by the visitor
    std::vector<Entry> all = entries(modelOf(pairs, 8, false, false));
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), all.begin()));
    EXPECT_EQ(res.depth, 2);
    EXPECT_EQ(res.freePages, 0u);
}
