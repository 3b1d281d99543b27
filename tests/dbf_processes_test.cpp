// Several processes on one shared table: child processes append and update
// records under record locks and the parent checks that every record is
// there exactly once with its update; a record lock held by one process
// makes another's fail until it is released; a process killed between
// appends leaves a table that opens with every record whose append returned
// (shared) or every record up to its last commit (exclusive). The children
// are this test binary started again for one role (tests/support/
// child_process.h), on Windows as on POSIX.
#include "tests/support/child_process.h"
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <utility>

using namespace xb;
using test::Area;

namespace {

class DbfProcesses : public test::DbfFixture {
protected:
    Area* createTable() {
        Area* a = create({{"WHO", 'N', 3, 0}, {"SEQ", 'N', 6, 0}, {"UPD", 'N', 8, 0}, {"NOTE", 'M', 10, 0}});
        close(a);
        return a;
    }
    bool put(Area* a, uint32_t field, Item v) { return dbfPutValue(&a->t, field, &v) == 0; }
    double number(Area* a, uint32_t field) {
        Item v{};
        return dbfGetValue(&a->t, field, &v) == 0 ? v.v.d : -1;
    }
};

TEST_F(DbfProcesses, FourWritersAppendAndUpdateUnderRecordLocks) {
    constexpr int kWriters = 4, kRecords = 500;
    if (const char* role = test::childRole()) {
        int who = std::atoi(role);
        test::childExit([&] {
            Area* a = open(true);
            std::vector<uint32_t> mine;
            for (int i = 0; i < kRecords; ++i) {
                if (dbfAppend(&a->t, true) != 0) return false;
                mine.push_back(a->t.recNo);
                if (!put(a, 0, intItem(who)) || !put(a, 1, intItem(i))) return false;
                if (i % 50 == 0 && !put(a, 3, text("nota"))) return false;
            }
            // The updates: each record locked afresh, so that another
            // writer's appends go on between them.
            for (size_t i = 0; i < mine.size(); ++i) {
                bool locked = false;
                do {
                    if (dbfLock(&a->t, 1, mine[i], &locked) != 0) return false;
                } while (!locked);
                if (dbfGoTo(&a->t, mine[i]) != 0 || number(a, 0) != who) return false;
                if (!put(a, 2, intItem(int32_t(i) * 2 + who))) return false;
                if (dbfUnlock(&a->t, 0) != 0) return false;
            }
            return dbfTableClose(&a->t) == 0 && raisedHere.empty();
        }());
    }
    createTable();
    std::vector<std::unique_ptr<test::Child>> children;
    for (int who = 1; who <= kWriters; ++who) {
        children.push_back(std::make_unique<test::Child>());
        ASSERT_TRUE(children.back()->start(std::to_string(who)));
    }
    for (auto& c : children) EXPECT_EQ(c->finish(), 0) << c->output;

    Area* a = open(false);
    ASSERT_EQ(a->t.recordCount, uint32_t(kWriters * kRecords));
    std::set<std::pair<int, int>> seenRows;
    std::vector<int> next(kWriters + 1, 0);
    for (uint32_t n = 1; n <= a->t.recordCount; ++n) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        int who = int(number(a, 0)), seq = int(number(a, 1));
        ASSERT_TRUE(who >= 1 && who <= kWriters) << n;
        EXPECT_TRUE(seenRows.insert({who, seq}).second) << who << "/" << seq;
        EXPECT_EQ(seq, next[who]++) << "each writer's records come in its order";
        EXPECT_EQ(number(a, 2), seq * 2 + who);
        EXPECT_EQ(getText(a, 3), seq % 50 == 0 ? "nota" : "");
    }
    EXPECT_EQ(seenRows.size(), size_t(kWriters * kRecords));
}

TEST_F(DbfProcesses, RecordLockHeldByAnotherProcess) {
    if (test::childRole()) {
        Area* c = open(true);
        bool locked = false;
        if (dbfLock(&c->t, 1, 1, &locked) != 0 || !locked) test::childExit(false);
        test::childSay("locked");
        test::childAwaitRelease();
        bool ok = dbfUnlock(&c->t, 0) == 0;
        test::childSay("unlocked");
        test::childExit(ok && dbfTableClose(&c->t) == 0);
    }
    createTable();
    Area* a = open(true);
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    ASSERT_EQ(dbfUnlock(&a->t, 0), 0);  // the append locked the new record
    test::Child child;
    ASSERT_TRUE(child.start("holder"));
    std::string word;
    ASSERT_TRUE(child.hear(&word)) << child.output;
    ASSERT_EQ(word, "locked");
    bool locked = true;
    EXPECT_EQ(dbfLock(&a->t, 1, 1, &locked), 0);
    EXPECT_FALSE(locked);
    EXPECT_EQ(dbfLock(&a->t, 3, 0, &locked), 0);
    EXPECT_FALSE(locked);
    child.release();
    ASSERT_TRUE(child.hear(&word)) << child.output;
    ASSERT_EQ(word, "unlocked");
    EXPECT_EQ(dbfLock(&a->t, 1, 1, &locked), 0);
    EXPECT_TRUE(locked);
    EXPECT_EQ(child.finish(), 0) << child.output;
}

TEST_F(DbfProcesses, KilledWriterLeavesEveryReturnedAppend) {
    if (test::childRole()) {
        Area* c = open(true);
        for (int i = 0;; ++i) {
            if (dbfAppend(&c->t, true) != 0 || !put(c, 1, intItem(i)) || dbfGoCold(&c->t) != 0)
                test::childExit(false);
            test::childSay(std::to_string(c->t.recNo));
        }
    }
    createTable();
    test::Child child;
    ASSERT_TRUE(child.start("appender"));
    uint32_t last = 0;
    std::string word;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(child.hear(&word)) << child.output;
        last = uint32_t(std::atoi(word.c_str()));
    }
    child.kill();
    Area* a = open(true);
    uint32_t count = 0;
    ASSERT_EQ(dbfRecCount(&a->t, &count), 0);
    EXPECT_GE(count, last);
    for (uint32_t n = 1; n <= last; ++n) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        EXPECT_EQ(number(a, 1), n - 1) << n;
    }
    EXPECT_TRUE(raisedHere.empty());
}

TEST_F(DbfProcesses, KilledExclusiveWriterLeavesEveryCommittedRecord) {
    if (test::childRole()) {
        Area* c = open(false);
        for (int i = 0;; ++i) {
            if (dbfAppend(&c->t, true) != 0 || !put(c, 1, intItem(i))) test::childExit(false);
            if (i == 49) {
                if (dbfFlush(&c->t) != 0) test::childExit(false);
                test::childSay("committed");
            }
        }
    }
    createTable();
    test::Child child;
    ASSERT_TRUE(child.start("appender"));
    std::string word;
    ASSERT_TRUE(child.hear(&word)) << child.output;
    ASSERT_EQ(word, "committed");
    child.kill();
    Area* a = open(false);
    ASSERT_GE(a->t.recordCount, 50u);
    for (uint32_t n = 1; n <= 50; ++n) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        EXPECT_EQ(number(a, 1), n - 1) << n;
    }
    EXPECT_TRUE(raisedHere.empty());
}

}  // namespace
