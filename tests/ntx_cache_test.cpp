// The index page cache: its least-recently-used bookkeeping against a plain
// model, and the tree engine with it: pages served from it, the same file
// bytes with it on, off and smaller than the tree, and invalidation between
// two handles and between two processes (a change made through one is seen
// through the other after its next refresh, also when the change counter
// alone would not tell).
#include "rdd/ntx/ntx_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "rdd/ntx/ntx_lock.h"
#include "rdd/ntx/ntx_tree.h"
#include "tests/support/ntx_fixture.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace xb {
namespace {

using test::Entry;

std::vector<uint8_t> pageOf(uint32_t offset, uint32_t version) {
    std::vector<uint8_t> p(NTX_PAGE_SIZE);
    for (uint32_t i = 0; i < NTX_PAGE_SIZE; i++) p[i] = uint8_t(offset / NTX_PAGE_SIZE * 31 + version * 7 + i);
    return p;
}

// The bookkeeping against a list ordered by use (front: most recent) under
// random gets, puts (hot and cold) and forgets, for several capacities.
TEST(NtxPageCache, LeastRecentlyUsedMatchesAModel) {
    for (uint32_t capacity : {1u, 2u, 5u, 64u}) {
        NtxPageCache* c = ntxCacheCreate(capacity);
        ASSERT_NE(c, nullptr);
        struct Held {
            uint32_t offset, version;
        };
        std::list<Held> model;
        std::mt19937 rng(capacity);
        uint32_t version = 0, hits = 0, misses = 0;
        std::vector<uint8_t> out(NTX_PAGE_SIZE);
        for (int op = 0; op < 4000; op++) {
            uint32_t offset = (1 + rng() % (capacity * 2 + 3)) * NTX_PAGE_SIZE;
            auto at = std::find_if(model.begin(), model.end(), [&](const Held& h) { return h.offset == offset; });
            unsigned what = rng() % 10;
            if (what < 5) {
                bool got = ntxCacheGet(c, offset, out.data());
                ASSERT_EQ(got, at != model.end()) << "capacity " << capacity << " op " << op;
                if (got) {
                    hits++;
                    ASSERT_EQ(out, pageOf(offset, at->version));
                    model.splice(model.begin(), model, at);
                } else {
                    misses++;
                }
            } else if (what < 9) {
                ++version;
                bool cold = what == 8;
                ntxCachePut(c, offset, pageOf(offset, version).data(), cold);
                if (at != model.end()) model.erase(at);
                if (model.size() == capacity) model.pop_back();
                if (cold)
                    model.push_back({offset, version});
                else
                    model.push_front({offset, version});
            } else {
                ntxCacheForget(c, offset);
                if (at != model.end()) model.erase(at);
            }
            ASSERT_EQ(ntxCacheCount(c), model.size());
        }
        EXPECT_EQ(ntxCacheHits(c), hits);
        EXPECT_EQ(ntxCacheMisses(c), misses);
        EXPECT_GT(hits, 0u);
        ntxCacheClear(c);
        EXPECT_EQ(ntxCacheCount(c), 0u);
        EXPECT_FALSE(ntxCacheGet(c, NTX_PAGE_SIZE, out.data()));
        ntxCacheDestroy(c);
    }
    EXPECT_EQ(ntxCacheCreate(0), nullptr);
    ntxCachePut(nullptr, NTX_PAGE_SIZE, pageOf(1, 1).data());  // a cache that is off takes nothing
    EXPECT_EQ(ntxCacheCount(nullptr), 0u);
}

// Sets the capacity of caches created while it lives.
struct CacheSize {
    uint32_t old;
    explicit CacheSize(uint32_t pages) : old(ntxSetPageCacheDefault(pages)) {}
    ~CacheSize() { ntxSetPageCacheDefault(old); }
};

class NtxCacheTest : public test::NtxTest {
protected:
    std::vector<uint8_t> fileBytes(const char* name) {
        os::Handle h = fsOpen((dir + "/" + name).c_str(), 0);
        EXPECT_NE(h, os::INVALID);
        uint32_t size = fsSeek(h, 0, os::FROM_END);
        std::vector<uint8_t> b(size);
        fsSeek(h, 0, os::FROM_BEGIN);
        EXPECT_EQ(fsReadLong(h, b.data(), size), int32_t(size));
        fsClose(h);
        return b;
    }
    // A fixed random run of inserts, deletes and seeks.
    void churn(NtxTree* t, unsigned seed, int operations) {
        std::mt19937 rng(seed);
        test::KeyModel model(test::KeyLess{t->keySize, false});
        uint32_t next = 0;
        for (int op = 0; op < operations; op++) {
            unsigned what = rng() % 10;
            if (what < 6 || model.size() < 10) {
                std::string k = key("K" + std::to_string(rng() % 5000), t->keySize);
                ASSERT_EQ(ntxInsert(t, k.data(), ++next), NTX_OK);
                model.emplace(k, next);
            } else if (what < 9) {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                bool found;
                ASSERT_EQ(ntxDelete(t, it->first.data(), it->second, &found), NTX_OK);
                ASSERT_TRUE(found);
                model.erase(it);
            } else {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                uint32_t r;
                bool found;
                ASSERT_EQ(ntxSeek(t, it->first.data(), t->keySize, false, false, &r, &found), NTX_OK);
                ASSERT_TRUE(found);
            }
        }
        ASSERT_EQ(forwards(t), entries(model));
    }
};

TEST_F(NtxCacheTest, TheSameBytesWithTheCacheOffOnAndSmallerThanTheTree) {
    const uint32_t sizes[] = {0, 1, 3, 512};
    const char* names[] = {"c0.ntx", "c1.ntx", "c3.ntx", "c512.ntx"};
    for (int i = 0; i < 4; i++) {
        CacheSize cs(sizes[i]);
        NtxTree* t = create(names[i], 24);
        churn(t, 77, 3000);
        ASSERT_EQ(check(t), "ok");
        EXPECT_LE(ntxCacheCount(t->cache), sizes[i]);
        ASSERT_EQ(ntxWriteHeader(t), NTX_OK);
        detach(t);
    }
    std::vector<uint8_t> off = fileBytes(names[0]);
    EXPECT_GT(off.size(), 20u * NTX_PAGE_SIZE);  // a tree of many pages
    for (int i = 1; i < 4; i++) EXPECT_EQ(fileBytes(names[i]), off) << names[i];
}

TEST_F(NtxCacheTest, ACacheSmallerThanTheTreeServesRepeatedSeeksAndStaysBounded) {
    CacheSize cs(4);
    NtxTree* t = create("small.ntx", 10);
    for (uint32_t i = 0; i < 3000; i++) {
        std::string k = key("S" + std::to_string(i * 7919 % 3000), 10);
        ASSERT_EQ(ntxInsert(t, k.data(), i + 1), NTX_OK);
    }
    NtxCheckResult res;
    ASSERT_EQ(check(t, &res), "ok");
    ASSERT_GE(res.depth, 2);
    EXPECT_LE(ntxCacheCount(t->cache), 4u);
    // The same key again and again: the path is served from memory.
    std::string k = key("S1234", 10);
    uint32_t hitsBefore = ntxCacheHits(t->cache), r;
    bool found;
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(ntxSeek(t, k.data(), 10, false, false, &r, &found), NTX_OK);
        ASSERT_TRUE(found);
    }
    EXPECT_GT(ntxCacheHits(t->cache), hitsBefore);
    // Seeks all over the tree still find every key.
    for (uint32_t i = 0; i < 3000; i += 37) {
        std::string s = key("S" + std::to_string(i), 10);
        ASSERT_EQ(ntxSeek(t, s.data(), 10, false, false, &r, &found), NTX_OK);
        ASSERT_TRUE(found) << i;
    }
    EXPECT_LE(ntxCacheCount(t->cache), 4u);
    // A walk over every leaf through the small cache reads them all.
    EXPECT_EQ(forwards(t).size(), 3000u);
    EXPECT_LE(ntxCacheCount(t->cache), 4u);
    // Reset and detach free the pages.
    ASSERT_EQ(ntxReset(t), NTX_OK);
    EXPECT_EQ(ntxCacheCount(t->cache), 0u);
}

TEST_F(NtxCacheTest, AChangeThroughOneHandleDropsTheOtherHandlesCachedPages) {
    NtxTree* a = create("two.ntx", 8);
    a->sharedUse = true;
    for (int i = 0; i < 400; i++) {
        std::string k = key("A" + std::to_string(i), 8);
        ASSERT_EQ(ntxInsert(a, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    NtxTree* b;
    ASSERT_EQ(attach(openFile("two.ntx"), &b), NTX_OK);
    b->sharedUse = true;
    ASSERT_EQ(forwards(b).size(), 400u);
    ASSERT_GT(ntxCacheCount(b->cache), 1u);
    bool changed;
    ASSERT_EQ(ntxRefresh(b, &changed), NTX_OK);
    EXPECT_FALSE(changed);
    EXPECT_GT(ntxCacheCount(b->cache), 1u);  // nothing changed: kept
    // a changes keys on pages b holds.
    for (int i = 0; i < 400; i += 3) {
        std::string k = key("A" + std::to_string(i), 8);
        bool found;
        ASSERT_EQ(ntxDelete(a, k.data(), uint32_t(i + 1), &found), NTX_OK);
        ASSERT_TRUE(found);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    ASSERT_EQ(ntxRefresh(b, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    EXPECT_EQ(forwards(b), forwards(a));
    EXPECT_EQ(check(b), "ok");
}

// A rebuild in shared use leaves the change counter as it was: the root,
// the free list or the file size tell instead.
TEST_F(NtxCacheTest, AnUnchangedCounterWithAnotherTreeStillDropsTheCache) {
    NtxTree* a = create("rb.ntx", 8);
    a->sharedUse = true;
    for (int i = 0; i < 600; i++) {
        std::string k = key("OLD" + std::to_string(i), 8);
        ASSERT_EQ(ntxInsert(a, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    uint16_t counter = a->changeCounter;
    NtxTree* b;
    ASSERT_EQ(attach(openFile("rb.ntx"), &b), NTX_OK);
    b->sharedUse = true;
    ASSERT_EQ(forwards(b).size(), 600u);
    // a rebuilds the order with a few other keys and writes the header with
    // the counter b saw.
    std::vector<std::string> fresh;
    for (int i = 0; i < 30; i++) fresh.push_back(key("NEW" + std::to_string(i), 8));
    std::sort(fresh.begin(), fresh.end(), test::KeyLess{8, false});
    NtxBuilder builder;
    ASSERT_EQ(ntxBuildBegin(&builder, a), NTX_OK);
    for (size_t i = 0; i < fresh.size(); i++) ASSERT_EQ(ntxBuildAdd(&builder, fresh[i].data(), uint32_t(i + 1)), NTX_OK);
    ASSERT_EQ(ntxBuildFinish(&builder), NTX_OK);
    ntxBuildEnd(&builder);
    a->changeCounter = uint16_t(counter - 1);
    a->changing = false;
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    ASSERT_EQ(a->changeCounter, counter);
    bool changed;
    ASSERT_EQ(ntxRefresh(b, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    EXPECT_EQ(ntxCacheCount(b->cache), 0u);
    EXPECT_EQ(forwards(b), forwards(a));
    EXPECT_EQ(forwards(b).size(), 30u);
}

#ifndef _WIN32
// Another process changes the index under the lock while this one holds
// cached pages; after this one's next outermost lock it sees the change.
TEST_F(NtxCacheTest, AChangeByAnotherProcessIsSeenAfterTheNextLock) {
    NtxTree* a = create("proc.ntx", 8);
    a->sharedUse = true;
    for (int i = 0; i < 500; i++) {
        std::string k = key("P" + std::to_string(i), 8);
        ASSERT_EQ(ntxInsert(a, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    NtxLock lock;
    ntxLockSetup(&lock, a->file, a->signature);
    ASSERT_EQ(forwards(a).size(), 500u);
    ASSERT_GT(ntxCacheCount(a->cache), 1u);
    std::string path = dir + "/proc.ntx";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child: its own handle and tree; deletes every other key and
        // adds new ones under the lock.
        int rc = 1;
        os::Handle h = fsOpen(path.c_str(), FO_READWRITE);
        NtxTree t;
        if (h != os::INVALID && ntxAttach(&t, h) == NTX_OK) {
            t.sharedUse = true;
            NtxLock l;
            ntxLockSetup(&l, h, t.signature);
            bool changed, ok = ntxLockTake(&l, nullptr) && ntxRefresh(&t, &changed) == NTX_OK;
            for (int i = 0; ok && i < 500; i += 2) {
                std::string k = key("P" + std::to_string(i), 8);
                bool found = false;
                ok = ntxDelete(&t, k.data(), uint32_t(i + 1), &found) == NTX_OK && found;
            }
            for (int i = 0; ok && i < 100; i++) {
                std::string k = key("Q" + std::to_string(i), 8);
                ok = ntxInsert(&t, k.data(), uint32_t(1000 + i)) == NTX_OK;
            }
            ok = ok && ntxCommitShared(&t) == NTX_OK && ntxLockDrop(&l);
            ntxDetach(&t);
            rc = ok ? 0 : 2;
        }
        _exit(rc);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(ntxLockTake(&lock, nullptr));
    bool changed;
    ASSERT_EQ(ntxRefresh(a, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    std::vector<Entry> seen = forwards(a);
    EXPECT_EQ(seen.size(), 350u);
    EXPECT_EQ(check(a), "ok");
    uint32_t r;
    bool found;
    std::string gone = key("P2", 8), added = key("Q42", 8);
    ASSERT_EQ(ntxSeek(a, gone.data(), 8, false, false, &r, &found), NTX_OK);
    EXPECT_FALSE(found);
    ASSERT_EQ(ntxSeek(a, added.data(), 8, false, false, &r, &found), NTX_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(r, 1042u);
    ASSERT_TRUE(ntxLockDrop(&lock));
}
// A writer killed in the middle of a change (no commit, no unlock) while
// this process holds cached pages: the raised counter it wrote first tells
// this process to drop them, and what it reads then is a sound tree with
// every key it had.
TEST_F(NtxCacheTest, AWriterKilledInTheMiddleOfAChangeIsSeenAfterTheNextLock) {
    NtxTree* a = create("kill.ntx", 8);
    a->sharedUse = true;
    for (int i = 0; i < 500; i++) {
        std::string k = key("K" + std::to_string(i), 8);
        ASSERT_EQ(ntxInsert(a, k.data(), uint32_t(i + 1)), NTX_OK);
    }
    ASSERT_EQ(ntxCommitShared(a), NTX_OK);
    std::vector<Entry> before = forwards(a);
    ASSERT_GT(ntxCacheCount(a->cache), 1u);
    NtxLock lock;
    ntxLockSetup(&lock, a->file, a->signature);
    std::string path = dir + "/kill.ntx";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        os::Handle h = fsOpen(path.c_str(), FO_READWRITE);
        NtxTree t;
        if (h == os::INVALID || ntxAttach(&t, h) != NTX_OK) _exit(3);
        t.sharedUse = true;
        NtxLock l;
        ntxLockSetup(&l, h, t.signature);
        bool changed;
        if (!ntxLockTake(&l, nullptr) || ntxRefresh(&t, &changed) != NTX_OK) _exit(4);
        for (int i = 0; i < 300; i++) {
            std::string k = key("J" + std::to_string(i), 8);
            if (ntxInsert(&t, k.data(), uint32_t(2000 + i)) != NTX_OK) _exit(5);
        }
        kill(getpid(), SIGKILL);  // no commit, the lock still held
        _exit(6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(ntxLockTake(&lock, nullptr));
    bool changed;
    ASSERT_EQ(ntxRefresh(a, &changed), NTX_OK);
    EXPECT_TRUE(changed);
    EXPECT_EQ(check(a), "ok");
    std::vector<Entry> after = forwards(a);
    EXPECT_GE(after.size(), before.size());
    for (const Entry& e : before) {
        uint32_t r;
        bool found;
        ASSERT_EQ(ntxSeek(a, e.first.data(), 8, false, false, &r, &found), NTX_OK);
        ASSERT_TRUE(found) << e.first;
        ASSERT_EQ(r, e.second);
    }
    ASSERT_TRUE(ntxLockDrop(&lock));
}
#endif

}  // namespace
}  // namespace xb
