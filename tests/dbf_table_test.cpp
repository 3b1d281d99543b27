// The table engine on real files: the bytes a create and a close leave,
// values through every field type, the phantom record, refused values,
// pack renumbering, zap, locks on exclusive and shared tables (two handles
// of one process conflict as two processes would), appends from two
// handles, corrupt files, and failures injected through the file layer's
// system-call table.
#include "rdd/dbf/dbf_table.h"
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/dates.h"
#include "rdd/dbf/dbf_locks.h"
#include "rdd/dbf/dbt.h"
#include "vm/stack.h"
#include "runtime/files.h"
#include "vm/object.h"

using namespace xb;

namespace {

using DbfEngine = test::DbfFixture;
using test::Area;
using test::le16;
using test::le32;

TEST_F(DbfEngine, CreateWritesHeaderDescriptorsAndTrailerByteForByte) {
    Area* a = create({{"NAME", 'C', 300, 0}, {"AMOUNT", 'N', 10, 2}, {"WHEN", 'D', 10, 0},
                      {"OK", 'L', 3, 0}, {"NOTES", 'M', 4, 0}});
    close(a);
    auto b = fileBytes(".dbf");
    const uint32_t fields = 5, hl = 32 * fields + 34, rl = 1 + 300 + 10 + 8 + 1 + 10;
    ASSERT_EQ(b.size(), hl + 1);  // header, descriptors, 0x0D 0x00, then 0x1A
    os::LocalTime now{};
    os::localTime(&now);
    EXPECT_EQ(b[0], 0x83);
    EXPECT_EQ(b[1], now.year - 1900);
    EXPECT_EQ(b[2], now.month);
    EXPECT_EQ(b[3], now.day);
    EXPECT_EQ(le32(b, 4), 0u);
    EXPECT_EQ(le16(b, 8), hl);
    EXPECT_EQ(le16(b, 10), rl);
    for (size_t i = 12; i < 32; ++i) EXPECT_EQ(b[i], 0) << i;
    const uint8_t lengths[5][2] = {{44, 1}, {10, 2}, {8, 0}, {1, 0}, {10, 0}};
    const char types[] = "CNDLM";
    for (uint32_t f = 0; f < fields; ++f) {
        const uint8_t* d = b.data() + 32 + 32 * f;
        EXPECT_EQ(d[11], types[f]) << f;
        EXPECT_EQ(d[16], lengths[f][0]) << f;
        EXPECT_EQ(d[17], lengths[f][1]) << f;
    }
    EXPECT_EQ(0, std::memcmp(b.data() + 32, "NAME\0\0\0\0\0\0\0", 11));
    EXPECT_EQ(b[hl - 2], 0x0D);
    EXPECT_EQ(b[hl - 1], 0x00);
    EXPECT_EQ(b[hl], 0x1A);
    auto m = fileBytes(".dbt");
    ASSERT_EQ(m.size(), 512u);
    EXPECT_EQ(le32(m, 0), 1u);
}

TEST_F(DbfEngine, ValuesOfEveryTypeSurviveCloseAndReopen) {
    Area* a = createFive();
    const int32_t day = dateFromYmd(2014, 7, 31, 0);
    std::string memo(700, 'm');
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    // The two strings live in static-area temporaries: the second one's
    // allocation may run the collector, which frees what no root reaches.
    Item* name = tempAlloc();
    Item* note = tempAlloc();
    makeString(name, "Ana", 3);
    makeString(note, memo.data(), uint32_t(memo.size()));
    Item vals[5] = {*name, doubleItem(-12.345), dateItem(day), logicalItem(true), *note};
    for (uint32_t f = 0; f < 5; ++f) ASSERT_EQ(dbfPutValue(&a->t, f, &vals[f]), 0) << f;
    tempRelease(note);
    tempRelease(name);
    appendRow(a, "Bernardo", 99999.99);
    close(a);

    auto b = fileBytes(".dbf");
    const uint32_t hl = 32 * 5 + 34, rl = 1 + 10 + 8 + 8 + 1 + 10;
    ASSERT_EQ(b.size(), hl + 2 * rl + 1);
    EXPECT_EQ(le32(b, 4), 2u);
    EXPECT_EQ(std::string(b.begin() + hl, b.begin() + hl + rl),
              std::string(" ") + "Ana       " + "  -12.35" + "20140731" + "T" + "         2");
    // Fields never assigned keep the blanks of the appended record.
    EXPECT_EQ(std::string(b.begin() + hl + rl, b.begin() + hl + 2 * rl),
              std::string(" ") + "Bernardo  " + "99999.99" + std::string(8 + 1 + 10, ' '));
    EXPECT_EQ(b.back(), 0x1A);

    a = open(false);
    EXPECT_EQ(a->t.recordCount, 2u);
    ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
    EXPECT_EQ(getText(a, 0), "Ana       ");
    expectDouble(get(a, 1), -12.35, 8, 2);
    Item d = get(a, 2);
    EXPECT_EQ(d.type, T_DATE);
    EXPECT_EQ(d.v.l, day);
    expectLogical(get(a, 3), true);
    EXPECT_EQ(getText(a, 4), memo);
    uint32_t n = 0;
    EXPECT_EQ(dbfGetVarLen(&a->t, 4, &n), 0);
    EXPECT_EQ(n, 700u);
    ASSERT_EQ(dbfGoTo(&a->t, 2), 0);
    EXPECT_EQ(getText(a, 4), "");
    Item e = get(a, 2);
    EXPECT_EQ(e.v.l, kEmptyDate);
    EXPECT_TRUE(raisedHere.empty());
}

TEST_F(DbfEngine, PhantomRecordAndEmptyTable) {
    Area* a = createFive();
    for (uint32_t target : {0u, 1u, 7u}) {
        ASSERT_EQ(dbfGoTo(&a->t, target), 0);
        EXPECT_EQ(a->t.recNo, 1u) << target;
        EXPECT_EQ(a->bof, 1u);
        EXPECT_EQ(a->eof, 1u);
        EXPECT_FALSE(a->t.positioned);
        EXPECT_EQ(getText(a, 0), "          ");
    }
    Item v = text("ignored");
    EXPECT_EQ(dbfPutValue(&a->t, 0, &v), 0);  // nothing happens on the phantom record
    EXPECT_EQ(dbfDeleteRecord(&a->t), 0);
    EXPECT_FALSE(a->t.recordDirty);
    appendRow(a, "x", 1);
    appendRow(a, "y", 2);
    ASSERT_EQ(dbfGoTo(&a->t, 3), 0);
    EXPECT_EQ(a->t.recNo, 3u);
    EXPECT_EQ(a->eof, 1u);
    EXPECT_EQ(hooksHere.back(), 8);
    close(a);
    EXPECT_EQ(fileBytes(".dbf").size(), 32u * 5 + 34 + 2 * 38 + 1);
}

TEST_F(DbfEngine, RefusedValuesLeaveTheRecordUnchanged) {
    Area* a = create({{"N3", 'N', 3, 0}, {"FLAG", 'L', 1, 0}, {"D", 'D', 8, 0}, {"C", 'C', 2, 0}});
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    Item ok = intItem(999), big = intItem(1000), neg = intItem(-100);
    ASSERT_EQ(dbfPutValue(&a->t, 0, &ok), 0);
    struct Case {
        uint32_t field;
        Item value;
        uint16_t gen, sub, flags;
    } cases[] = {
        {0, big, 34, 1021, 4}, {0, neg, 34, 1021, 4}, {1, intItem(1), 33, 1020, 0},
        {2, text("20140101"), 33, 1020, 0}, {3, logicalItem(true), 33, 1020, 0}, {0, text("1"), 33, 1020, 0},
    };
    for (const Case& c : cases) {
        raisedHere.clear();
        EXPECT_NE(dbfPutValue(&a->t, c.field, &c.value), 0);
        ASSERT_EQ(raisedHere.size(), 1u);
        EXPECT_EQ(raisedHere[0].gen, c.gen);
        EXPECT_EQ(raisedHere[0].sub, c.sub);
        EXPECT_EQ(raisedHere[0].flags, c.flags);
    }
    expectDouble(get(a, 0), 999, 3, 0);
    EXPECT_EQ(getText(a, 3), "  ");
}

TEST_F(DbfEngine, PackRenumbersAndCutsTheFile) {
    Area* a = createFive();
    const char* names[] = {"uno", "dos", "tres", "cuatro", "cinco"};
    for (int i = 0; i < 5; ++i) appendRow(a, names[i], i + 1);
    for (uint32_t n : {2u, 4u}) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        ASSERT_EQ(dbfDeleteRecord(&a->t), 0);
    }
    ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
    ASSERT_EQ(dbfPack(&a->t), 0);
    EXPECT_EQ(a->t.recordCount, 3u);
    const char* kept[] = {"uno       ", "tres      ", "cinco     "};
    for (uint32_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(dbfGoTo(&a->t, n), 0);
        EXPECT_EQ(getText(a, 0), kept[n - 1]);
        bool del = true;
        EXPECT_EQ(dbfDeleted(&a->t, &del), 0);
        EXPECT_FALSE(del);
    }
    close(a);
    auto b = fileBytes(".dbf");
    EXPECT_EQ(b.size(), 32u * 5 + 34 + 3 * 38 + 1);
    EXPECT_EQ(le32(b, 4), 3u);
}

TEST_F(DbfEngine, ZapEmptiesTableAndMemo) {
    Area* a = createFive();
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    Item m = text("a memo");
    ASSERT_EQ(dbfPutValue(&a->t, 4, &m), 0);
    ASSERT_EQ(dbfZap(&a->t), 0);
    EXPECT_EQ(a->t.recordCount, 0u);
    EXPECT_EQ(a->eof, 1u);
    close(a);
    EXPECT_EQ(fileBytes(".dbf").size(), 32u * 5 + 34 + 1);
    auto memo = fileBytes(".dbt");
    EXPECT_EQ(memo.size(), 512u);
    EXPECT_EQ(le32(memo, 0), 1u);
}

TEST_F(DbfEngine, LocksOnExclusiveAndSharedTables) {
    close(createFive());
    Area* x = open(false);
    appendRow(x, "a", 1);
    bool r = true;
    EXPECT_EQ(dbfLock(&x->t, 1, 1, &r), 0);
    EXPECT_FALSE(r);  // exclusive: no record lock is taken
    EXPECT_EQ(dbfLock(&x->t, 3, 0, &r), 0);
    EXPECT_TRUE(r);  // while the file lock reports true
    close(x);

    Area* a = open(true);
    Area* b = open(true);
    ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
    Item v = text("changed");
    EXPECT_NE(dbfPutValue(&a->t, 0, &v), 0);
    expectRaised(38, 1022);
    EXPECT_EQ(dbfLock(&a->t, 1, 0, &r), 0);
    EXPECT_TRUE(r);
    EXPECT_EQ(dbfLock(&a->t, 2, 1, &r), 0);
    EXPECT_FALSE(r);  // already held: nothing taken in this call
    EXPECT_EQ(dbfLock(&a->t, 1, 2, &r), 0);
    EXPECT_FALSE(r);  // beyond the count
    EXPECT_EQ(dbfLock(&b->t, 1, 1, &r), 0);
    EXPECT_FALSE(r);  // held by the other handle
    EXPECT_EQ(dbfLock(&b->t, 3, 0, &r), 0);
    EXPECT_FALSE(r);
    EXPECT_EQ(dbfPutValue(&a->t, 0, &v), 0);
    EXPECT_EQ(dbfUnlock(&a->t, 0), 0);  // writes back, then releases
    EXPECT_EQ(a->t.lockCount, 0u);
    EXPECT_EQ(dbfLock(&b->t, 1, 1, &r), 0);
    EXPECT_TRUE(r);
    ASSERT_EQ(dbfGoTo(&b->t, 1), 0);
    EXPECT_EQ(getText(b, 0), "changed   ");  // read afresh after the lock
    EXPECT_NE(dbfPack(&b->t), 0);
    expectRaised(37, 1023);
    EXPECT_NE(dbfZap(&b->t), 0);
    expectRaised(37, 1023);
    close(a);
    close(b);

    Area* ro = open(false, true);
    EXPECT_NE(dbfAppend(&ro->t, false), 0);
    expectRaised(39, 1025);
}

TEST_F(DbfEngine, TwoSharedHandlesAppendConsecutiveRecords) {
    close(createFive());
    Area* a = open(true);
    Area* b = open(true);
    for (int i = 0; i < 6; ++i) {
        Area* w = i % 2 ? b : a;
        ASSERT_EQ(dbfAppend(&w->t, true), 0);
        EXPECT_EQ(w->t.recNo, uint32_t(i + 1));
        EXPECT_EQ(w->t.lockCount, 1u);  // the new record, and only it
        Item v = intItem(i);
        ASSERT_EQ(dbfPutValue(&w->t, 1, &v), 0);
        ASSERT_EQ(dbfGoCold(&w->t), 0);
    }
    uint32_t n = 0;
    EXPECT_EQ(dbfRecCount(&a->t, &n), 0);
    EXPECT_EQ(n, 6u);
    ASSERT_EQ(dbfGoTo(&a->t, 6), 0);
    expectDouble(get(a, 1), 5, 8, 2);
    close(a);
    close(b);
    auto bytes = fileBytes(".dbf");
    EXPECT_EQ(le32(bytes, 4), 6u);
    EXPECT_EQ(bytes.size(), 32u * 5 + 34 + 6 * 38 + 1);
}

// Each case patches a good table file; every one must be refused as
// corruption without touching memory outside the buffers.
TEST_F(DbfEngine, CorruptTablesAreRefused) {
    Area* a = createFive();
    appendRow(a, "a", 1);
    close(a);
    const auto good = fileBytes(".dbf");
    struct Case {
        const char* what;
        void (*patch)(std::vector<uint8_t>&);
    } cases[] = {
        {"truncated header", [](std::vector<uint8_t>& b) { b.resize(20); }},
        {"empty file", [](std::vector<uint8_t>& b) { b.clear(); }},
        {"version", [](std::vector<uint8_t>& b) { b[0] = 0x30; }},
        {"header length beyond the file", [](std::vector<uint8_t>& b) { b[8] = 0xFF, b[9] = 0x7F; }},
        {"no field", [](std::vector<uint8_t>& b) { b[8] = 40, b[9] = 0; }},
        {"type letter", [](std::vector<uint8_t>& b) { b[32 + 11] = 'X'; }},
        {"record length short", [](std::vector<uint8_t>& b) { b[10] = 20, b[11] = 0; }},
        {"record length zero", [](std::vector<uint8_t>& b) { b[10] = 0, b[11] = 0; }},
        {"field longer than the record", [](std::vector<uint8_t>& b) { b[32 + 16] = 200; }},
        {"descriptors cut", [](std::vector<uint8_t>& b) { b.resize(100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = good;
        c.patch(b);
        writeFile(b);
        raisedHere.clear();
        Area* t = fresh();
        EXPECT_NE(dbfTableOpen(&t->t, base.c_str(), false, false), 0);
        expectRaised(32, 1012);
        EXPECT_EQ(t->t.tableFile, os::INVALID);
        EXPECT_EQ(t->t.memoFile, os::INVALID);
    }
}

TEST_F(DbfEngine, HostileCountsAndMemoBlocksGiveErrors) {
    Area* a = createFive();
    appendRow(a, "a", 1);
    close(a);
    auto b = fileBytes(".dbf");
    const uint32_t hl = 32 * 5 + 34;
    b[4] = 0xFF, b[5] = 0xFF, b[6] = 0xFF, b[7] = 0x7F;  // a count far beyond the file
    std::memcpy(b.data() + hl + 1 + 10 + 8 + 8 + 1, "     99999", 10);
    writeFile(b);
    a = open(false);
    ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
    uint32_t n = 0;
    EXPECT_NE(dbfGetVarLen(&a->t, 4, &n), 0);
    expectRaised(32, 1012);
    Item it{};
    EXPECT_NE(dbfGetValue(&a->t, 4, &it), 0);
    ASSERT_EQ(dbfGoTo(&a->t, 5000000), 0);
    EXPECT_NE(dbfGetValue(&a->t, 0, &it), 0);
    expectRaised(23, 1010);
    ASSERT_EQ(dbfGoBottomRaw(&a->t), 0);
    EXPECT_NE(dbfGetValue(&a->t, 0, &it), 0);
    expectRaised(23, 1010);
}

// ---- faults injected through the file layer ------------------------------

int writesLeft = 0;
bool failingWrite(os::Handle h, const void* buf, uint32_t n, uint32_t* done) {
    if (writesLeft-- > 0) return defaultFileSyscalls().writeFile(h, buf, n, done);
    *done = 0;
    os::setLastError(112 + 1);  // not "disk full", which the layer counts as a short write
    return false;
}
int locksRefused = 0;
bool refusingLock(os::Handle h, uint32_t offset, uint32_t length) {
    if (offset != kDbfLockBase && locksRefused-- > 0) {
        os::setLastError(33);
        return false;
    }
    return defaultFileSyscalls().lockFile(h, offset, length);
}

TEST_F(DbfEngine, FailedWritesAreReportedWithTheirOsCode) {
    Area* a = createFive();
    appendRow(a, "a", 1);
    ASSERT_EQ(dbfGoCold(&a->t), 0);
    ASSERT_EQ(dbfFlush(&a->t), 0);
    const auto before = fileBytes(".dbf");

    // A memo whose write fails leaves the field as it was.
    fileSyscalls().writeFile = failingWrite;
    writesLeft = 0;
    Item m = text("memo text");
    EXPECT_NE(dbfPutValue(&a->t, 4, &m), 0);
    expectRaised(24, 1011);
    EXPECT_EQ(raisedHere.back().os, 113);
    EXPECT_EQ(raisedHere.back().file, base + ".dbt");
    EXPECT_EQ(getText(a, 4), "");

    // The record write-back fails: reported, and the record stays hot.
    Item v = text("b");
    ASSERT_EQ(dbfPutValue(&a->t, 0, &v), 0);
    EXPECT_NE(dbfGoTo(&a->t, 1), 0);
    expectRaised(24, 1011);
    EXPECT_TRUE(a->t.recordDirty);
    EXPECT_EQ(fileBytes(".dbf"), before);
    fileSyscalls() = defaultFileSyscalls();
    ASSERT_EQ(dbfGoCold(&a->t), 0);

    // A header that cannot be written at close is reported.
    fileSyscalls().writeFile = failingWrite;
    writesLeft = 0;
    raisedHere.clear();
    EXPECT_NE(dbfTableClose(&a->t), 0);
    expectRaised(24, 1011);
    fileSyscalls() = defaultFileSyscalls();
}

TEST_F(DbfEngine, AppendLockFailureAsksAndRetries) {
    close(createFive());
    Area* a = open(true);
    fileSyscalls().lockFile = refusingLock;
    struct Answer {
        static uint16_t afterTwo(void*, ErrorDescriptor* d) {
            seen->push_back({d->genCode, d->subCode, d->flags, d->osCode, d->tries, ""});
            return d->tries < 2 ? 1 : 0;
        }
    };
    static const DbfEnv retrying = {Answer::afterTwo, nullptr, dbfPlainOpen, nullptr, nullptr};
    a->t.env = &retrying;
    locksRefused = 5;
    EXPECT_NE(dbfAppend(&a->t, false), 0);  // retry once, then default: the append fails
    ASSERT_EQ(raisedHere.size(), 2u);
    for (uint16_t i = 0; i < 2; ++i) {
        EXPECT_EQ(raisedHere[i].gen, 40);
        EXPECT_EQ(raisedHere[i].sub, 1024);
        EXPECT_EQ(raisedHere[i].flags, 5);
        EXPECT_EQ(raisedHere[i].os, 33);
        EXPECT_EQ(raisedHere[i].tries, i + 1);
    }
    EXPECT_EQ(a->t.recordCount, 0u);
    locksRefused = 1;
    raisedHere.clear();
    EXPECT_EQ(dbfAppend(&a->t, false), 0);  // one refusal, then the retry gets it
    EXPECT_EQ(raisedHere.size(), 1u);
    EXPECT_EQ(a->t.recNo, 1u);
    // The header lock was released on every path: another handle takes it.
    Area* b = open(true);
    EXPECT_TRUE(dbfLockHeaderWait(b->t.tableFile));
    dbfUnlockHeader(b->t.tableFile);
}

// The memo file cannot be created (a directory stands in its way): the
// error names it, and the table file just created is deleted again.
TEST_F(DbfEngine, AFailedMemoCreateRemovesTheTable) {
    ASSERT_EQ(fsMakeDir((base + ".dbt").c_str()), 1);
    Area* a = fresh();
    std::vector<DbfField> f = {{"NOTES", 'M', 10, 0}};
    EXPECT_NE(dbfTableCreate(&a->t, base.c_str(), f.data(), 1), 0);
    expectRaised(20, 1005);
    EXPECT_EQ(raisedHere.back().flags, 4);
    EXPECT_NE(raisedHere.back().os, 0);
    EXPECT_EQ(raisedHere.back().file, base + ".dbt");
    EXPECT_TRUE(fileBytes(".dbf").empty());
    EXPECT_EQ(a->t.tableFile, os::INVALID);
    fsRemoveDir((base + ".dbt").c_str());
}

TEST_F(DbfEngine, CreateRefusesHeadersThatWouldWrap) {
    std::vector<DbfField> many(2047, DbfField{"F", 'C', 1, 0});
    Area* a = fresh();
    EXPECT_NE(dbfTableCreate(&a->t, base.c_str(), many.data(), uint32_t(many.size())), 0);
    expectRaised(20, 1004);
    std::vector<DbfField> wide(3, DbfField{"W", 'C', 30000, 0});
    EXPECT_NE(dbfTableCreate(&a->t, base.c_str(), wide.data(), uint32_t(wide.size())), 0);
    expectRaised(20, 1004);
    EXPECT_TRUE(fileBytes(".dbf").empty());  // nothing was created
    many.resize(2046);
    EXPECT_EQ(dbfTableCreate(&a->t, base.c_str(), many.data(), uint32_t(many.size())), 0);
    close(a);
    auto b = fileBytes(".dbf");
    EXPECT_EQ(le16(b, 8), 32u * 2046 + 34);
}

}  // namespace

namespace {

// A table that its own open would refuse (a "U" field) or read back with
// other lengths (an N field whose length byte wraps) is never written.
TEST_F(DbfEngine, CreateRefusesTablesNoOpenCouldReadBack) {
    const std::vector<DbfField> refused[] = {
        {{"A", 'C', 5, 0}, {"ODD", 'U', 4, 0}},
        {{"N", 'N', 256, 0}},
        {{"N", 'N', 300, 2}, {"B", 'L', 1, 0}},
    };
    for (const auto& fields : refused) {
        Area* a = fresh();
        raisedHere.clear();
        EXPECT_NE(dbfTableCreate(&a->t, base.c_str(), fields.data(), uint32_t(fields.size())), 0);
        expectRaised(20, 1004);
        EXPECT_TRUE(fileBytes(".dbf").empty());
    }
    // the widest N that fits its byte, and a wide C, are written and open again
    Area* a = create({{"N", 'N', 255, 2}, {"C", 'C', 300, 0}});
    close(a);
    Area* b = open(false);
    ASSERT_EQ(b->t.fieldCount, 2u);
    EXPECT_EQ(b->t.fields[0].length, 255);
    EXPECT_EQ(b->t.fields[1].length, 300);
    EXPECT_EQ(b->t.recordLength, 1u + 255 + 300);
}

}  // namespace
