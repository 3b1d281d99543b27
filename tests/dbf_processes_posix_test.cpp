// Several processes on one shared table: forked children append and update
// records under record locks and the parent checks that every record is
// there exactly once with its update; a record lock held by one process
// makes another's fail until it is released; a process killed between
// appends leaves a table that opens with every record whose append returned
// (shared) or every record up to its last commit (exclusive).
#ifndef _WIN32
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
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
    // Runs body in a child process; the child's exit status says whether
    // every step succeeded.
    template <class Body>
    pid_t spawn(Body body) {
        pid_t pid = fork();
        if (pid == 0) {
            bool ok = body();
            _exit(ok ? 0 : 1);
        }
        return pid;
    }
    static bool exitedCleanly(pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    bool put(Area* a, uint32_t field, Item v) { return dbfPutValue(&a->t, field, &v) == 0; }
    double number(Area* a, uint32_t field) {
        Item v{};
        return dbfGetValue(&a->t, field, &v) == 0 ? v.v.d : -1;
    }
};

TEST_F(DbfProcesses, FourWritersAppendAndUpdateUnderRecordLocks) {
    createTable();
    constexpr int kWriters = 4, kRecords = 500;
    std::vector<pid_t> children;
    for (int who = 1; who <= kWriters; ++who) {
        children.push_back(spawn([&, who] {
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
        }));
    }
    for (pid_t pid : children) EXPECT_TRUE(exitedCleanly(pid));

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
    createTable();
    Area* a = open(true);
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    ASSERT_EQ(dbfUnlock(&a->t, 0), 0);  // the append locked the new record
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = spawn([&] {
        Area* c = open(true);
        bool locked = false;
        char step = 0;
        if (dbfLock(&c->t, 1, 1, &locked) != 0 || !locked) return false;
        if (write(toParent[1], "L", 1) != 1 || read(toChild[0], &step, 1) != 1) return false;
        return dbfUnlock(&c->t, 0) == 0 && write(toParent[1], "U", 1) == 1 && dbfTableClose(&c->t) == 0;
    });
    // Only the child writes to the parent: a child that fails ends the
    // parent's reads instead of leaving them waiting.
    ::close(toParent[1]);
    char step = 0;
    ASSERT_EQ(read(toParent[0], &step, 1), 1);
    bool locked = true;
    EXPECT_EQ(dbfLock(&a->t, 1, 1, &locked), 0);
    EXPECT_FALSE(locked);
    EXPECT_EQ(dbfLock(&a->t, 3, 0, &locked), 0);
    EXPECT_FALSE(locked);
    ASSERT_EQ(write(toChild[1], "go", 1), 1);
    ASSERT_EQ(read(toParent[0], &step, 1), 1);
    EXPECT_EQ(dbfLock(&a->t, 1, 1, &locked), 0);
    EXPECT_TRUE(locked);
    EXPECT_TRUE(exitedCleanly(pid));
    for (int fd : {toChild[0], toChild[1], toParent[0]}) ::close(fd);
}

TEST_F(DbfProcesses, KilledWriterLeavesEveryReturnedAppend) {
    createTable();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = spawn([&] {
        Area* c = open(true);
        for (int i = 0;; ++i) {
            if (dbfAppend(&c->t, true) != 0 || !put(c, 1, intItem(i)) || dbfGoCold(&c->t) != 0) return false;
            uint32_t n = c->t.recNo;
            if (write(report[1], &n, sizeof n) != sizeof n) return false;
        }
    });
    ::close(report[1]);
    uint32_t last = 0;
    for (int i = 0; i < 100; ++i) ASSERT_EQ(read(report[0], &last, sizeof last), ssize_t(sizeof last));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ::close(report[0]);
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
    createTable();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = spawn([&] {
        Area* c = open(false);
        for (int i = 0;; ++i) {
            if (dbfAppend(&c->t, true) != 0 || !put(c, 1, intItem(i))) return false;
            if (i == 49) {
                if (dbfFlush(&c->t) != 0 || write(report[1], "c", 1) != 1) return false;
            }
        }
    });
    ::close(report[1]);
    char done = 0;
    ASSERT_EQ(read(report[0], &done, 1), 1);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ::close(report[0]);
    Area* a = open(false);
    ASSERT_GE(a->t.recordCount, 50u);
    for (uint32_t n = 1; n <= 50; ++n) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        EXPECT_EQ(number(a, 1), n - 1) << n;
    }
    EXPECT_TRUE(raisedHere.empty());
}

}  // namespace
#endif
