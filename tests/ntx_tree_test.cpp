// The B-tree engine: seeks (prefix first and last, soft past the end),
// random sequences of insert, delete, seek and skip checked against an
// ordered model after every step, page reuse through the free list, the
// change counter between two handles, and hostile files that must end in
// an error, never a crash or a hang.
#include "rdd/ntx/ntx_tree.h"
#include "rdd/ntx/ntx_lock.h"
#include "rdd/ntx/ntx_cache.h"
#include "tests/support/ntx_fixture.h"

#include <gtest/gtest.h>

#include <random>

#include "rdd/ntx/ntx_cache.h"
#include <string>
#include <vector>

using namespace xb;
using test::Entry;
using test::KeyLess;
using test::KeyModel;

namespace {

class NtxTreeTest : public test::NtxTest {
protected:
    // The model's answer to a seek: index of the entry reached, or -1.
    static int modelSeek(const std::vector<Entry>& v, const std::string& search, uint16_t len, bool soft,
                         bool last, bool descending, bool* found) {
        int first = -1;
        for (size_t i = 0; i < v.size(); i++)
            if (ntxCompare(v[i].first.data(), search.data(), len, descending) >= 0) {
                first = int(i);
                break;
            }
        *found = first >= 0 && ntxCompare(v[size_t(first)].first.data(), search.data(), len, false) == 0;
        if (*found && last)
            while (size_t(first) + 1 < v.size() &&
                   ntxCompare(v[size_t(first) + 1].first.data(), search.data(), len, false) == 0)
                first++;
        if (!*found && !soft) return -1;
        return first;
    }

    static void writeBytes(os::Handle h, uint32_t offset, const void* data, uint32_t n) {
        ASSERT_EQ(fsSeek(h, int32_t(offset), os::FROM_BEGIN), offset);
        ASSERT_EQ(fsWriteLong(h, data, n), int32_t(n));
    }
    static void write32(os::Handle h, uint32_t offset, uint32_t v) { writeBytes(h, offset, &v, 4); }
    static void write16(os::Handle h, uint32_t offset, uint16_t v) { writeBytes(h, offset, &v, 2); }
    static std::vector<uint8_t> readPage(os::Handle h, uint32_t offset) {
        std::vector<uint8_t> p(NTX_PAGE_SIZE);
        fsSeek(h, int32_t(offset), os::FROM_BEGIN);
        fsReadLong(h, p.data(), NTX_PAGE_SIZE);
        return p;
    }
};

}  // namespace

TEST_F(NtxTreeTest, SeekingAPrefixFindsTheFirstAndTheLastKeyAndSoftSeekPastTheEnd) {
    NtxTree* t = create("a.ntx", 10);
    KeyModel model(KeyLess{10, false});
    uint32_t rec = 0;
    // 300 keys over several pages; "AB..." in the middle, with duplicates
    for (const char* prefix : {"AA", "AB", "AC", "B"})
        for (int i = 0; i < 75; i++) {
            std::string k = key(std::string(prefix) + std::to_string(i % 40), 10);
            ASSERT_EQ(ntxInsert(t, k.data(), ++rec), NTX_OK);
            model.emplace(k, rec);
        }
    std::vector<Entry> v = entries(model);
    ASSERT_EQ(forwards(t), v);
    uint32_t r;
    bool found;
    ASSERT_EQ(ntxSeek(t, "AB", 2, false, false, &r, &found), NTX_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(r, 76u);  // "AB0", the first inserted
    EXPECT_EQ(std::string(t->curKey, 10), key("AB0", 10));
    ASSERT_EQ(ntxSeek(t, "AB", 2, false, true, &r, &found), NTX_OK);
    EXPECT_TRUE(found);
    bool mf;
    int last = modelSeek(v, "AB", 2, false, true, false, &mf);
    EXPECT_EQ(std::string(t->curKey, 10), key("AB9", 10));
    EXPECT_EQ(r, v[size_t(last)].second);
    // the next step after the last "AB" key is the first "AC" key
    ASSERT_EQ(ntxStep(t, 1, &r), NTX_OK);
    EXPECT_EQ(std::string(t->curKey, 10), key("AC0", 10));
    // soft seek past the last key: nothing, not found
    ASSERT_EQ(ntxSeek(t, "C", 1, true, false, &r, &found), NTX_OK);
    EXPECT_EQ(r, 0u);
    EXPECT_FALSE(found);
    // soft seek between keys: the next key, not found
    ASSERT_EQ(ntxSeek(t, "AB95", 4, true, false, &r, &found), NTX_OK);
    EXPECT_FALSE(found);
    EXPECT_EQ(std::string(t->curKey, 10), key("AC0", 10));
    // exact miss
    ASSERT_EQ(ntxSeek(t, "AB95", 4, false, false, &r, &found), NTX_OK);
    EXPECT_EQ(r, 0u);
    // a full-length seek of every key finds its first entry
    for (size_t i = 0; i < v.size(); i++) {
        ASSERT_EQ(ntxSeek(t, v[i].first.data(), 10, false, false, &r, &found), NTX_OK);
        int want = modelSeek(v, v[i].first, 10, false, false, false, &mf);
        ASSERT_TRUE(found);
        ASSERT_EQ(r, v[size_t(want)].second) << v[i].first;
    }
    EXPECT_EQ(check(t), "ok");
    uint32_t count;
    ASSERT_EQ(ntxKeyCount(t, &count), NTX_OK);
    EXPECT_EQ(count, 300u);
}

struct ModelCase {
    uint16_t keySize;
    bool descending;
    int operations;
    int alphabet;  // distinct characters per key position
    const char* name;
    uint32_t cachePages = 512;  // the page cache: 0 off, small: fewer pages than the tree
};

class NtxModelTest : public NtxTreeTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(NtxModelTest, RandomInsertDeleteSeekAndSkipMatchTheModelAfterEveryStep) {
    const ModelCase c = GetParam();
    struct CacheSize {
        uint32_t old;
        explicit CacheSize(uint32_t pages) : old(ntxSetPageCacheDefault(pages)) {}
        ~CacheSize() { ntxSetPageCacheDefault(old); }
    } cacheSize(c.cachePages);
    NtxTree* t = create("m.ntx", c.keySize, false, c.descending);
    KeyModel model(KeyLess{c.keySize, c.descending});
    std::mt19937 rng(1234 + c.keySize);
    // 'a' and a-acute weigh the same: equal keys with different bytes
    const char letters[] = "ab\xE1" "cdNO\xD1z";
    auto randomText = [&](int maxLen) {
        std::string s;
        int n = 1 + int(rng() % unsigned(maxLen));
        for (int i = 0; i < n; i++) s += letters[rng() % unsigned(c.alphabet)];
        return s;
    };
    uint32_t nextRecord = 0;
    size_t maxSize = 0;
    uint16_t maxDepth = 0;
    for (int op = 0; op < c.operations; op++) {
        unsigned what = rng() % 10;
        if (what < 6 || model.size() < 5) {
            std::string k = key(randomText(4), c.keySize);
            ASSERT_EQ(ntxInsert(t, k.data(), ++nextRecord), NTX_OK);
            model.emplace(k, nextRecord);
        } else if (what < 8) {
            auto it = model.begin();
            std::advance(it, long(rng() % model.size()));
            bool found;
            ASSERT_EQ(ntxDelete(t, it->first.data(), it->second, &found), NTX_OK);
            ASSERT_TRUE(found) << "op " << op;
            model.erase(it);
            // an entry that is not there is reported, not deleted
            std::string k = key(randomText(4), c.keySize);
            ASSERT_EQ(ntxDelete(t, k.data(), nextRecord + 1, &found), NTX_OK);
            ASSERT_FALSE(found);
        } else {
            // seek a random prefix (soft, exact, last) and skip from there
            std::vector<Entry> v = entries(model);
            std::string search = randomText(2);
            uint16_t len = uint16_t(search.size());
            search = key(search, c.keySize);
            bool soft = rng() % 2, last = rng() % 2, found, mfound;
            uint32_t r;
            ASSERT_EQ(ntxSeek(t, search.data(), len, soft, last, &r, &found), NTX_OK);
            int at = modelSeek(v, search, len, soft, last, c.descending, &mfound);
            ASSERT_EQ(found, mfound) << "op " << op;
            ASSERT_EQ(r, at < 0 ? 0u : v[size_t(at)].second) << "op " << op;
            if (at >= 0) {
                int dir = rng() % 2 ? 1 : -1;
                int steps = 1 + int(rng() % 60);
                for (int s = 0; s < steps; s++) {
                    ASSERT_EQ(ntxStep(t, dir, &r), NTX_OK);
                    at += dir;
                    bool inside = at >= 0 && size_t(at) < v.size();
                    ASSERT_EQ(r, inside ? v[size_t(at)].second : 0u) << "op " << op << " step " << s;
                    if (!inside) break;
                }
            }
            // the last key not greater than the prefix (a bottom scope)
            int most = -1;
            for (size_t i = 0; i < v.size(); i++)
                if (ntxCompare(v[i].first.data(), search.data(), len, c.descending) <= 0) most = int(i);
            ASSERT_EQ(ntxSeekAtMost(t, search.data(), len, &r), NTX_OK);
            ASSERT_EQ(r, most < 0 ? 0u : v[size_t(most)].second) << "op " << op;
            // locate a random entry, ask its position, go there by number, step back one
            if (!v.empty()) {
                size_t i = rng() % v.size();
                ASSERT_EQ(ntxLocate(t, v[i].first.data(), v[i].second, &found), NTX_OK);
                ASSERT_TRUE(found);
                uint32_t number;
                ASSERT_EQ(ntxKeyNumber(t, &number), NTX_OK);
                ASSERT_EQ(number, i + 1);
                ASSERT_EQ(t->curRecord, v[i].second);  // the position is kept
                ASSERT_EQ(ntxGoToNumber(t, uint32_t(i + 1), &r), NTX_OK);
                ASSERT_EQ(r, v[i].second);
                ASSERT_EQ(ntxStep(t, -1, &r), NTX_OK);
                ASSERT_EQ(r, i == 0 ? 0u : v[i - 1].second);
                ASSERT_EQ(ntxGoToNumber(t, uint32_t(v.size() + 1), &r), NTX_OK);
                ASSERT_EQ(r, 0u);
            }
        }
        ASSERT_EQ(forwards(t), entries(model)) << "op " << op;
        if (op % 25 == 0) {
            ASSERT_EQ(backwards(t), entries(model)) << "op " << op;
            NtxCheckResult res;
            ASSERT_EQ(check(t, &res), "ok") << "op " << op;
            ASSERT_EQ(res.keys, model.size());
            if (res.depth > maxDepth) maxDepth = res.depth;
        }
        if (model.size() > maxSize) maxSize = model.size();
        // drain now and then, so that trees shrink to nothing and grow again
        if (op % 700 == 699) {
            while (!model.empty()) {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                bool found;
                ASSERT_EQ(ntxDelete(t, it->first.data(), it->second, &found), NTX_OK);
                ASSERT_TRUE(found);
                model.erase(it);
                if (model.size() % 16 == 0) {
                    ASSERT_EQ(forwards(t), entries(model));
                    ASSERT_EQ(check(t), "ok");
                }
            }
            uint32_t count;
            ASSERT_EQ(ntxKeyCount(t, &count), NTX_OK);
            ASSERT_EQ(count, 0u);
        }
    }
    EXPECT_GE(maxSize, 100u);
    // small keys still split; 256-byte keys (two per page) make deep trees
    EXPECT_GE(maxDepth, c.keySize == 256 ? 5 : 2);
}

INSTANTIATE_TEST_SUITE_P(Orders, NtxModelTest,
                         ::testing::Values(ModelCase{10, false, 2000, 9, "key10"},
                                           ModelCase{256, false, 2000, 9, "key256"},
                                           ModelCase{100, true, 1200, 4, "key100desc"},
                                           ModelCase{1, false, 800, 9, "key1"},
                                           ModelCase{10, false, 2000, 9, "key10_nocache", 0},
                                           ModelCase{256, false, 2000, 9, "key256_cache3", 3},
                                           ModelCase{100, true, 1200, 4, "key100desc_cache2", 2}),
                         [](const ::testing::TestParamInfo<ModelCase>& i) { return std::string(i.param.name); });

TEST_F(NtxTreeTest, DeletedPagesAreReusedThroughTheFreeList) {
    NtxTree* t = create("f.ntx", 10);
    std::vector<std::string> keys;
    for (int i = 0; i < 600; i++) keys.push_back(key("K" + std::to_string(i * 7919 % 600), 10));
    for (size_t i = 0; i < keys.size(); i++) ASSERT_EQ(ntxInsert(t, keys[i].data(), uint32_t(i + 1)), NTX_OK);
    uint32_t grown = t->fileSize;
    NtxCheckResult res;
    ASSERT_EQ(check(t, &res), "ok");
    uint32_t treePages = res.pages;
    EXPECT_GT(treePages, 12u);
    for (size_t i = 0; i < keys.size(); i++) {
        bool found;
        ASSERT_EQ(ntxDelete(t, keys[i].data(), uint32_t(i + 1), &found), NTX_OK);
        ASSERT_TRUE(found);
    }
    ASSERT_EQ(check(t, &res), "ok");
    EXPECT_EQ(res.keys, 0u);
    EXPECT_EQ(res.pages, 1u);  // the root alone
    EXPECT_EQ(res.freePages + res.pages, grown / NTX_PAGE_SIZE - 1);  // every page but the header
    EXPECT_TRUE(t->dirty);
    // the same keys again: no page beyond the old end of the file
    for (size_t i = 0; i < keys.size(); i++) ASSERT_EQ(ntxInsert(t, keys[i].data(), uint32_t(i + 1)), NTX_OK);
    EXPECT_EQ(t->fileSize, grown);
    ASSERT_EQ(check(t, &res), "ok");
    EXPECT_EQ(res.keys, 600u);
    // the header write-back keeps root and free list; a new attach reads them
    ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
    EXPECT_FALSE(t->dirty);
    uint32_t root = t->root, freeList = t->freeList;
    os::Handle h = t->file;
    detach(t);
    NtxTree* again;
    ASSERT_EQ(attach(h, &again), NTX_OK);
    EXPECT_EQ(again->root, root);
    EXPECT_EQ(again->freeList, freeList);
    EXPECT_EQ(again->changeCounter, 1);
    EXPECT_EQ(forwards(again).size(), 600u);
}

TEST_F(NtxTreeTest, AChangeThroughOneHandleIsSeenThroughTheOtherAfterTheCounterMoves) {
    NtxTree* a = create("s.ntx", 8);
    os::Handle second = openFile("s.ntx");
    NtxTree* b;
    ASSERT_EQ(attach(second, &b), NTX_OK);
    EXPECT_EQ(ntxBufferUses(), 2u);
    for (int i = 0; i < 120; i++) {
        std::string k = key("A" + std::to_string(i), 8);
        ASSERT_EQ(ntxInsert(a, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    EXPECT_EQ(a->changeCounter, 2);
    bool changed;
    ASSERT_EQ(ntxRefresh(b, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    EXPECT_EQ(b->root, a->root);
    EXPECT_EQ(forwards(b), forwards(a));
    // b deletes; a sees it after its own refresh, not before
    std::string k = key("A7", 8);
    bool found;
    ASSERT_EQ(ntxDelete(b, k.data(), 8, &found), NTX_OK);
    ASSERT_TRUE(found);
    ASSERT_EQ(ntxCommitShared(b), NTX_OK);
    ASSERT_EQ(ntxRefresh(b, &changed), NTX_OK);
    EXPECT_FALSE(changed);  // its own change
    ASSERT_EQ(ntxRefresh(a, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    EXPECT_EQ(forwards(a).size(), 119u);
    uint32_t r;
    ASSERT_EQ(ntxSeek(a, k.data(), 8, false, false, &r, &found), NTX_OK);
    EXPECT_FALSE(found);
}

TEST_F(NtxTreeTest, AnEntryCanBeGivenAnotherRecordInPlace) {
    NtxTree* t = create("u.ntx", 6, true);
    KeyModel model(KeyLess{6, false});
    for (int i = 0; i < 400; i++) {
        std::string k = key("U" + std::to_string(i), 6);
        ASSERT_EQ(ntxInsert(t, k.data(), uint32_t(i + 1)), NTX_OK);
        model.emplace(k, uint32_t(i + 1));
    }
    bool found;
    // every tenth entry moves to record 1000 + i; keys and order stay
    for (auto& e : model) {
        if (e.second % 10 != 0) continue;
        ASSERT_EQ(ntxReplaceRecord(t, e.first.data(), e.second, 1000 + e.second, &found), NTX_OK);
        ASSERT_TRUE(found);
        EXPECT_EQ(t->curRecord, 1000 + e.second);
        e.second += 1000;
    }
    std::string k = key("U7", 6);
    ASSERT_EQ(ntxReplaceRecord(t, k.data(), 9, 5, &found), NTX_OK);  // U7 belongs to record 8
    EXPECT_FALSE(found);
    EXPECT_EQ(forwards(t), entries(model));
    EXPECT_EQ(check(t), "ok");
}

TEST_F(NtxTreeTest, LockBitsOfTheSignatureAreKeptAtAttach) {
    NtxTree* t = create("l.ntx", 4);
    os::Handle h = t->file;
    detach(t);
    write16(h, 0, 6 | NTX_SIG_LOCK_HIGH | NTX_SIG_ALT_LOCK);
    NtxTree* again;
    ASSERT_EQ(attach(h, &again), NTX_OK);
    EXPECT_EQ(again->signature & (NTX_SIG_LOCK_HIGH | NTX_SIG_ALT_LOCK), NTX_SIG_LOCK_HIGH | NTX_SIG_ALT_LOCK);
    EXPECT_EQ(ntxCommitShared(again), NTX_OK);
    EXPECT_EQ(readPage(h, 0)[0], 6 | NTX_SIG_LOCK_HIGH | NTX_SIG_ALT_LOCK);
}

// ---- hostile files

namespace {

// Runs every operation on an attached tree; each must return (any status).
void exerciseAll(NtxTree* t) {
    uint32_t r, count;
    bool found;
    std::string k(t->keySize, 'M');
    for (NtxMode m : {NTX_EXACT, NTX_SOFT, NTX_INSERT, NTX_LAST, NTX_FIRST}) ntxDescend(t, m, k.data(), t->keySize, &r);
    if (ntxDescend(t, NTX_FIRST, nullptr, 0, &r) == NTX_OK)
        for (int i = 0; i < 5000 && r != 0; i++)
            if (ntxStep(t, 1, &r) != NTX_OK) break;
    if (ntxDescend(t, NTX_LAST, nullptr, 0, &r) == NTX_OK)
        for (int i = 0; i < 5000 && r != 0; i++)
            if (ntxStep(t, -1, &r) != NTX_OK) break;
    ntxSeek(t, k.data(), 1, true, true, &r, &found);
    ntxKeyCount(t, &count);
    for (int i = 0; i < 200; i++) {
        std::string ins(t->keySize, char('A' + i % 26));
        if (ntxInsert(t, ins.data(), uint32_t(9000 + i)) != NTX_OK) break;
    }
    ntxDelete(t, k.data(), 1, &found);
    NtxCheckResult res;
    ntxCheck(t, &res, nullptr, nullptr);
}

}  // namespace

TEST_F(NtxTreeTest, DamagedPagesAndLinksGiveErrorsNotCrashesOrHangs) {
    // A valid three-level tree of 300 keys of 10 bytes to damage.
    struct Case {
        const char* what;
        void (*damage)(os::Handle h, const std::vector<uint8_t>& root, NtxTree* t);
        NtxStatus checkStatus;
    };
    static const Case cases[] = {
        {"root count above the maximum", [](os::Handle h, const std::vector<uint8_t>&, NtxTree* t) {
             write16(h, t->root, 51);
         }, NTX_ERR_PAGE},
        {"offset entry outside the page", [](os::Handle h, const std::vector<uint8_t>&, NtxTree* t) {
             write16(h, t->root + 2, 1020);
         }, NTX_ERR_PAGE},
        {"child not on a page boundary", [](os::Handle h, const std::vector<uint8_t>& root, NtxTree* t) {
             write32(h, t->root + ntxSlotOffset(root.data(), 0), 1500);
         }, NTX_ERR_CHILD},
        {"child past the end", [](os::Handle h, const std::vector<uint8_t>& root, NtxTree* t) {
             write32(h, t->root + ntxSlotOffset(root.data(), 0), 1024 * 4000);
         }, NTX_ERR_CHILD},
        {"cycle: a child pointing back at the root", [](os::Handle h, const std::vector<uint8_t>& root, NtxTree* t) {
             uint32_t child = ntxSlotChild(root.data(), 0);
             std::vector<uint8_t> c = readPage(h, child);
             write32(h, child + ntxSlotOffset(c.data(), 0), t->root);
         }, NTX_ERR_CYCLE},
        {"every slot of the root naming one child", [](os::Handle h, const std::vector<uint8_t>& root, NtxTree* t) {
             uint32_t child = ntxSlotChild(root.data(), 0);
             for (uint16_t i = 0; i <= ntxPageCount(root.data()); i++)
                 write32(h, t->root + ntxSlotOffset(root.data(), i), child);
         }, NTX_ERR_CYCLE},
        {"keys out of order", [](os::Handle h, const std::vector<uint8_t>& root, NtxTree* t) {
             writeBytes(h, t->root + ntxSlotOffset(root.data(), 0) + 8, "ZZZZZZZZZZ", 10);
         }, NTX_ERR_ORDER},
        {"free list pointing at itself", [](os::Handle h, const std::vector<uint8_t>&, NtxTree* t) {
             uint32_t end = t->fileSize;
             std::vector<uint8_t> page(NTX_PAGE_SIZE);
             ntxInitPage(page.data(), t->geom);
             ntxPut32(page.data() + 2 * 50 + 4, end);
             writeBytes(h, end, page.data(), NTX_PAGE_SIZE);
             write32(h, 8, end);
         }, NTX_ERR_FREE_LIST},
        {"free list pointing into the tree", [](os::Handle h, const std::vector<uint8_t>&, NtxTree* t) {
             write32(h, 8, t->root);
         }, NTX_ERR_FREE_LIST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = std::string("d") + std::to_string(&c - cases) + ".ntx";
        NtxTree* t = create(name.c_str(), 10);
        for (int i = 0; i < 300; i++) {
            std::string k = key("K" + std::to_string(i * 37 % 300), 10);
            ASSERT_EQ(ntxInsert(t, k.data(), uint32_t(i + 1)), NTX_OK);
        }
        ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
        ASSERT_EQ(check(t), "ok");
        os::Handle h = t->file;
        std::vector<uint8_t> root = readPage(h, t->root);
        ASSERT_GT(ntxPageCount(root.data()), 2);
        ASSERT_NE(ntxSlotChild(root.data(), 0), 0u);
        c.damage(h, root, t);
        detach(t);
        NtxTree* d;
        NtxStatus st = attach(h, &d);
        if (st != NTX_OK) {
            EXPECT_EQ(c.checkStatus, st);
            continue;
        }
        NtxCheckResult res;
        EXPECT_EQ(ntxCheck(d, &res, nullptr, nullptr), c.checkStatus) << res.message;
        exerciseAll(d);
    }
}

TEST_F(NtxTreeTest, AChainDeeperThanTheStackStopsAtTheDepthLimit) {
    // 1100 pages without keys, each the only child of the one before.
    NtxTree* t = create("deep.ntx", 10);
    os::Handle h = t->file;
    NtxGeometry g = t->geom;
    detach(t);
    std::vector<uint8_t> page(NTX_PAGE_SIZE);
    const uint32_t pages = 1100;
    for (uint32_t i = 0; i < pages; i++) {
        ntxInitPage(page.data(), g);
        uint32_t next = i + 1 < pages ? (i + 2) * NTX_PAGE_SIZE : 0;
        if (i + 1 == pages) {  // the last one holds a key
            ntxPut16(page.data(), 1);
            std::memcpy(ntxSlot(page.data(), 0) + 8, "DEEPKEY   ", 10);
            ntxPut32(ntxSlot(page.data(), 0) + 4, 1);
        }
        ntxPut32(ntxSlot(page.data(), 0), next);
        writeBytes(h, (i + 1) * NTX_PAGE_SIZE, page.data(), NTX_PAGE_SIZE);
    }
    NtxTree* d;
    ASSERT_EQ(attach(h, &d), NTX_OK);
    uint32_t r, count;
    EXPECT_EQ(ntxDescend(d, NTX_FIRST, nullptr, 0, &r), NTX_ERR_DEPTH);
    EXPECT_EQ(d->depth, 0);
    EXPECT_EQ(ntxDescend(d, NTX_SOFT, "DEEPKEY   ", 10, &r), NTX_ERR_DEPTH);
    EXPECT_EQ(ntxInsert(d, "NEWKEY    ", 2), NTX_ERR_DEPTH);
    EXPECT_EQ(ntxKeyCount(d, &count), NTX_ERR_DEPTH);
    NtxCheckResult res;
    EXPECT_EQ(ntxCheck(d, &res, nullptr, nullptr), NTX_ERR_DEPTH);
    exerciseAll(d);
}

TEST_F(NtxTreeTest, HostileHeadersAreRefusedAtAttach) {
    struct Case {
        const char* what;
        uint32_t offset;
        uint32_t value;
        int bytes;
        NtxStatus status;
    } cases[] = {
        {"signature without bits 1 and 2", 0, 0x01, 2, NTX_ERR_SIGNATURE},
        {"key size 0", 14, 0, 2, NTX_ERR_KEY_SIZE},
        {"key size 300", 14, 300, 2, NTX_ERR_KEY_SIZE},
        {"item size", 12, 20, 2, NTX_ERR_GEOMETRY},
        {"maximum", 18, 90, 2, NTX_ERR_GEOMETRY},
        {"half page", 20, 3, 2, NTX_ERR_GEOMETRY},
        {"root unaligned", 4, 1030, 4, NTX_ERR_ROOT},
        {"root outside", 4, 1u << 30, 4, NTX_ERR_ROOT},
        {"root at the header", 4, 0, 4, NTX_ERR_ROOT},
        {"root past the end", 4, 2048, 4, NTX_ERR_ROOT},
        {"root near 4 GB", 4, 0xFFFFFC00u, 4, NTX_ERR_ROOT},
        {"free list outside", 8, 8192, 4, NTX_ERR_FREE_LIST},
        {"free list unaligned", 8, 1, 4, NTX_ERR_FREE_LIST},
    };
    for (const Case& c : cases) {
        std::string name = std::string("h") + std::to_string(&c - cases) + ".ntx";
        NtxTree* t = create(name.c_str(), 10);
        os::Handle h = t->file;
        detach(t);
        writeBytes(h, c.offset, &c.value, uint32_t(c.bytes));
        NtxTree* d = nullptr;
        EXPECT_EQ(attach(h, &d), c.status) << c.what;
        EXPECT_EQ(d, nullptr);
    }
    // a file shorter than the header
    os::Handle h = createFile("short.ntx");
    writeBytes(h, 0, "\x06\x00", 2);
    NtxTree* d = nullptr;
    EXPECT_EQ(attach(h, &d), NTX_ERR_SHORT);
}

TEST_F(NtxTreeTest, TheIndexLockNestsAndLiesWhereTheSignatureSays) {
    NtxTree* t = create("k.ntx", 4);
    os::Handle other = openFile("k.ntx");
    struct {
        uint16_t signature;
        uint32_t offset;
    } places[] = {{6, 1000000000u}, {6 | NTX_SIG_LOCK_HIGH, 0xFFFFFFFFu}, {6 | NTX_SIG_ALT_LOCK, 2051},
                  {6 | NTX_SIG_ALT_LOCK | NTX_SIG_LOCK_HIGH, 2051}};
    for (auto p : places) {
        NtxLock mine, theirs;
        ntxLockSetup(&mine, t->file, p.signature);
        ntxLockSetup(&theirs, other, p.signature);
        EXPECT_EQ(mine.offset, p.offset);
        EXPECT_EQ(mine.tries, 1000);
        theirs.tries = 3;
        static int idles;
        idles = 0;
        ASSERT_TRUE(ntxLockTake(&mine, nullptr));
        ASSERT_TRUE(ntxLockTake(&mine, nullptr));  // nested: no second lock of the byte
        EXPECT_EQ(mine.depth, 2);
        EXPECT_FALSE(ntxLockTake(&theirs, [] { idles++; }));
        EXPECT_EQ(theirs.depth, 0);
        // the alternative lock gives the idle check between its tries
        EXPECT_EQ(idles, (p.signature & NTX_SIG_ALT_LOCK) ? 2 : 0);
        ASSERT_TRUE(ntxLockDrop(&mine));
        EXPECT_FALSE(ntxLockTake(&theirs, nullptr));  // still held once
        ASSERT_TRUE(ntxLockDrop(&mine));
        EXPECT_EQ(mine.depth, 0);
        ASSERT_TRUE(ntxLockTake(&theirs, nullptr));
        mine.tries = 2;
        EXPECT_FALSE(ntxLockTake(&mine, nullptr));
        ASSERT_TRUE(ntxLockDrop(&theirs));
    }
}

TEST_F(NtxTreeTest, RandomlyDamagedFilesNeverCrashOrHang) {
    // One valid file of three levels, then many copies with a few random
    // bytes changed (headers, offset tables, counts, child links, keys);
    // every operation must come back with some status.
    NtxTree* t = create("base.ntx", 12);
    for (int i = 0; i < 1500; i++) {
        std::string k = key("R" + std::to_string(i * 7 % 1500), 12);
        ASSERT_EQ(ntxInsert(t, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    for (int i = 0; i < 1500; i += 3) {  // some free pages too
        std::string k = key("R" + std::to_string(i * 7 % 1500), 12);
        bool found;
        ASSERT_EQ(ntxDelete(t, k.data(), uint32_t(i + 1), &found), NTX_OK);
    }
    ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
    ASSERT_EQ(check(t), "ok");
    uint32_t size = t->fileSize;
    std::vector<uint8_t> image(size);
    ASSERT_EQ(fsSeek(t->file, 0, os::FROM_BEGIN), 0u);
    ASSERT_EQ(fsReadLong(t->file, image.data(), size), int32_t(size));
    detach(t);
    std::mt19937 rng(99);
    int attached = 0, clean = 0;
    for (int round = 0; round < 120; round++) {
        std::vector<uint8_t> bad = image;
        int changes = 1 + int(rng() % 4);
        for (int c = 0; c < changes; c++) {
            uint32_t at;
            switch (rng() % 4) {
            case 0: at = rng() % 24; break;                                              // header numbers
            case 1: at = (1 + rng() % (size / 1024 - 1)) * 1024 + rng() % 120; break;   // counts and tables
            default: at = rng() % size; break;                                           // anywhere
            }
            bad[at] = uint8_t(rng() % 4 == 0 ? 0 : rng());
        }
        std::string name = "r" + std::to_string(round) + ".ntx";
        os::Handle h = createFile(name.c_str());
        writeBytes(h, 0, bad.data(), size);
        NtxTree* d;
        if (attach(h, &d) != NTX_OK) continue;
        attached++;
        NtxCheckResult res;
        if (ntxCheck(d, &res, nullptr, nullptr) == NTX_OK) clean++;
        exerciseAll(d);
        detach(d);
    }
    // most damage passes the header check and is met inside the tree
    EXPECT_GT(attached, 60);
    EXPECT_LT(clean, attached);
}
