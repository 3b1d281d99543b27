// The errors around crash and full-disk safety, and the deliberate
// deviations that came with them: a full disk is a write error (24/1011)
// naming the table, the memo file or the index (subsystem DBFNTX) with OS
// code 112, never corruption, and leaves the table's count in step with its
// file; index lock failures carry the flags of their kind; the 256th work
// area and M->(expression) raise recoverable errors; DBCREATE refuses
// structures no table can hold; a blank record owed by an uncommitted
// append is named by the table check, not counted as damage.
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "rdd/areas.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/ntx/ntx_check.h"
#include "rdd/ntx/ntx_driver.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using test::Arg;
using test::invoke;

namespace {

bool diskFull = false;
os::Handle refusedLockFile = os::INVALID;

bool fullDiskWrite(os::Handle h, const void* buffer, uint32_t n, uint32_t* done) {
    if (diskFull) {
        *done = 0;
        os::setLastError(112);
        return false;
    }
    return defaultFileSyscalls().writeFile(h, buffer, n, done);
}

bool refusingLock(os::Handle h, uint32_t offset, uint32_t length) {
    if (h == refusedLockFile) {
        os::setLastError(33);
        return false;
    }
    return defaultFileSyscalls().lockFile(h, offset, length);
}

class CrashErrors : public test::VmTest {
protected:
    std::vector<std::string> files;

    void SetUp() override {
        // a folder of its own: ctest runs the cases in parallel processes
        // that would otherwise share the tables' names
        namespace fs = std::filesystem;
        home = fs::current_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        scratchDir = fs::temp_directory_path() / ("xbcrerr_" + std::to_string(stamp));
        fs::create_directories(scratchDir);
        fs::current_path(scratchDir);
        VmTest::SetUp();
        load("symbol MAIN proc\nproc MAIN\n    ENDPROC\nend\n");
        resetDriverRegistry();
        registerDriver("DBF", 1);
        registerDriver("DBFNTX", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBFNTX");
        answerLogical(false);
        fileSyscalls().writeFile = fullDiskWrite;
        fileSyscalls().lockFile = refusingLock;
    }
    void TearDown() override {
        diskFull = false;
        refusedLockFile = os::INVALID;
        fileSyscalls() = defaultFileSyscalls();
        answerUnwind();
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        for (const std::string& f : files) fsDelete(f.c_str());
        VmTest::TearDown();
        std::filesystem::current_path(home);
        std::error_code ec;
        std::filesystem::remove_all(scratchDir, ec);
    }
    std::filesystem::path home, scratchDir;
    WorkArea* area() { return currentArea(); }

    // NAME C 10, NOTE M; shared or exclusive, with an order on NAME.
    void table(const char* base, bool withOrder, bool shared) {
        for (const char* ext : {".dbf", ".dbt", ".ntx"}) files.push_back(std::string(base) + ext);
        Item* rows = tempAlloc();
        makeArray(rows, 2);
        const char* defs[2][2] = {{"NAME", "C"}, {"NOTE", "M"}};
        for (int i = 0; i < 2; ++i) {
            Item* row = &arrayItems(rows)[i];
            makeArray(row, 4);
            Item* e = arrayItems(row);
            makeString(&e[0], defs[i][0], uint32_t(std::strlen(defs[i][0])));
            makeString(&e[1], defs[i][1], 1);
            e[2] = intItem(10);
            e[3] = intItem(0);
        }
        invoke("DBCREATE", {base, *rows});
        tempRelease(rows);
        // without an order the table's own driver, whose name its errors carry
        const char* driver = withOrder ? "DBFNTX" : "DBF";
        invoke("DBUSEAREA", {true, driver, base});
        ASSERT_NE(area(), nullptr);
        for (int i = 0; i < 3; ++i) append("R" + std::to_string(i));
        ASSERT_EQ(rdd::flush(area()), RDD_OK);
        if (withOrder) {
            OrderCondition c{};
            rdd::orderCondition(area(), &c);
            OrderCreateInfo ci{base, nullptr, "NAME", nullptr, 0};
            ASSERT_EQ(rdd::orderCreate(area(), &ci), RDD_OK);
        }
        if (shared) {
            invoke("DBCLOSEAREA");
            invoke("DBUSEAREA", {true, driver, base, Arg::nil(), true});
            if (withOrder) {
                OrderInfo oi{nullptr, base, nullptr};
                ASSERT_EQ(rdd::orderListAdd(area(), &oi), RDD_OK);
            }
        }
    }
    RddResult append(const std::string& name) {
        RddResult st = rdd::append(area(), 1);
        Item v{};
        makeString(&v, name.data(), uint32_t(name.size()));
        return st ? st : rdd::putValue(area(), 0, &v);
    }
    uint32_t count() {
        uint32_t n = 0;
        rdd::recCount(area(), &n);
        return n;
    }
    static uint64_t sizeOf(const std::string& f) { return std::filesystem::file_size(f); }
};

// ---- a full disk is a write error of the file that could not be written --

struct FullDiskCase {
    const char* what;
    bool shared, withOrder;
    // the change made while the disk is full; returns its status
    RddResult (*change)(CrashErrors*);
    const char* subsystem;
    const char* extension;  // of the file the error names
};

class FullDisk : public CrashErrors, public ::testing::WithParamInterface<FullDiskCase> {
public:
    RddResult appendAndFlush() {
        RddResult st = append("NEW");
        return st ? st : rdd::flush(area());
    }
    RddResult writeMemo() {
        rdd::goTo(area(), 2);
        if (dbfTableOf(area())->shared) {
            LockInfo li{2, 2, 0, 0};
            rdd::lock(area(), &li);
        }
        diskFull = true;
        Item v{};
        makeString(&v, "a memo that finds no room", 25);
        return rdd::putValue(area(), 1, &v);
    }
};

TEST_P(FullDisk, TheWriteErrorNamesTheFileAndCarries112AndTheCountStaysInStep) {
    const FullDiskCase& c = GetParam();
    // a table of its own per case: ctest runs the cases in parallel processes
    const std::string name = std::string("crefull") + (c.shared ? "s" : "x") + (c.withOrder ? "o" : "") +
                             (std::string(c.extension) == ".dbt" ? "m" : "");
    table(name.c_str(), c.withOrder, c.shared);
    errors.clear();
    answerUnwind();  // a write error cannot be defaulted: the program breaks out
    if (std::string(c.extension) != ".dbt") diskFull = true;
    RddResult st = c.change(static_cast<CrashErrors*>(this));
    EXPECT_NE(st, RDD_OK) << c.what;
    ASSERT_FALSE(errors.empty()) << c.what;
    const test::RaisedError& e = errors[0];
    EXPECT_EQ(e.d.genCode, EG_WRITE) << c.what;
    EXPECT_EQ(e.d.subCode, 1011) << c.what;
    EXPECT_EQ(e.d.osCode, 112) << c.what;
    EXPECT_EQ(e.subsystem, c.subsystem) << c.what;
    std::string file = e.d.fileName ? e.d.fileName : "";
    EXPECT_EQ(file.substr(file.size() >= 4 ? file.size() - 4 : 0), c.extension) << c.what << ": " << file;
    for (const test::RaisedError& r : errors) EXPECT_NE(r.d.genCode, EG_CORRUPTION) << c.what;
    // The disk frees up; the files are closed and opened again.
    diskFull = false;
    answerLogical(false);
    invoke("DBCLOSEAREA");
    if (area()) invoke("DBCLOSEAREA");
    invoke("DBUSEAREA", {true, "DBFNTX", name.c_str()});
    ASSERT_NE(area(), nullptr);
    const DbfTable* t = dbfTableOf(area());
    uint64_t size = sizeOf((name + ".dbf").c_str());
    uint64_t records = t->headerLength + uint64_t(t->recordCount) * t->recordLength;
    EXPECT_GE(size, records) << c.what << ": the header counts records the file does not hold";
    EXPECT_LE(size, records + t->recordLength) << c.what;
    EXPECT_GE(count(), 3u) << c.what;
    for (uint32_t n = 1; n <= 3; ++n) {
        rdd::goTo(area(), n);
        Item v{};
        ASSERT_EQ(rdd::getValue(area(), 0, &v), RDD_OK);
        EXPECT_EQ(test::textOf(v), "R" + std::to_string(n - 1) + std::string(10 - 2, ' ')) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, FullDisk,
    ::testing::Values(
        FullDiskCase{"exclusive append", false, false,
                     [](CrashErrors* t) { return static_cast<FullDisk*>(t)->appendAndFlush(); }, "DBF", ".dbf"},
        FullDiskCase{"shared append", true, false,
                     [](CrashErrors* t) { return static_cast<FullDisk*>(t)->appendAndFlush(); }, "DBF", ".dbf"},
        FullDiskCase{"memo", false, false, [](CrashErrors* t) { return static_cast<FullDisk*>(t)->writeMemo(); },
                     "DBF", ".dbt"},
        FullDiskCase{"exclusive append under an order", false, true,
                     [](CrashErrors* t) { return static_cast<FullDisk*>(t)->appendAndFlush(); }, "DBFNTX", ".dbf"}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

TEST_F(CrashErrors, AnIndexWriteOnAFullDiskIsAWriteErrorOfTheIndex) {
    table("cre_idx", true, false);
    ASSERT_EQ(append("NEW"), RDD_OK);
    // The table's record and count go first (dbfSettle); fail only the
    // index's writes by failing from the first write after them.
    ASSERT_EQ(rdd::flush(area()), RDD_OK);
    rdd::goTo(area(), 4);
    Item v{};
    makeString(&v, "CHANGED", 7);
    ASSERT_EQ(rdd::putValue(area(), 0, &v), RDD_OK);
    ASSERT_EQ(rdd::goCold(area()), RDD_OK);
    errors.clear();
    answerUnwind();
    // a second change: its record write goes to the table in place, then
    // the index write fails
    makeString(&v, "AGAIN", 5);
    ASSERT_EQ(rdd::putValue(area(), 0, &v), RDD_OK);
    struct Once {
        static bool write(os::Handle h, const void* b, uint32_t n, uint32_t* done) {
            static int calls = 0;
            if (++calls > 1) {  // the record (in place) passes, the index fails
                *done = 0;
                os::setLastError(112);
                return false;
            }
            return defaultFileSyscalls().writeFile(h, b, n, done);
        }
    };
    fileSyscalls().writeFile = Once::write;
    EXPECT_NE(rdd::goCold(area()), RDD_OK);
    fileSyscalls().writeFile = fullDiskWrite;
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].d.genCode, EG_WRITE);
    EXPECT_EQ(errors[0].d.subCode, 1011);
    EXPECT_EQ(errors[0].d.osCode, 112);
    EXPECT_EQ(errors[0].subsystem, "DBFNTX");
    std::string file = errors[0].d.fileName ? errors[0].d.fileName : "";
    EXPECT_NE(file.find("cre_idx.ntx"), std::string::npos) << file;
}

// ---- the file layer: the reason of a short write travels beside it ------

TEST_F(CrashErrors, AShortWriteClearsTheOsErrorAndKeepsItsReasonApart) {
    files.push_back("cre_short.bin");
    os::Handle h = fsCreate("cre_short.bin", 0);
    ASSERT_NE(h, os::INVALID);
    diskFull = true;
    EXPECT_EQ(fsWrite(h, "abc", 3), 0);
    EXPECT_EQ(fsLastError(), 0);  // as the file functions report it
    EXPECT_EQ(fsShortWriteReason(), 112);
    fsSeek(h, 0, os::FROM_BEGIN);  // a seek keeps the reason
    EXPECT_EQ(fsWriteErrorCode(), 112);
    diskFull = false;
    EXPECT_EQ(fsWriteLong(h, "abc", 3), 3);
    EXPECT_EQ(fsShortWriteReason(), 0);  // the next write clears it
    fsClose(h);
}

// ---- index lock failures: flags by the kind of lock ----------------------

TEST_F(CrashErrors, AnIndexLockForReadingMayBeRetriedOneForAChangeAlsoDefaulted) {
    table("cre_lock", true, true);
    NtxTree* tree = ntxOrderTree(area(), 1);
    ASSERT_NE(tree, nullptr);
    errors.clear();
    answerUnwind();
    refusedLockFile = tree->file;
    Item key{};
    makeString(&key, "R1", 2);
    EXPECT_NE(rdd::seek(area(), 0, &key, 0), RDD_OK);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_LOCK);
    EXPECT_EQ(errors[0].d.subCode, 1031);
    EXPECT_EQ(errors[0].d.flags, EF_RETRY);
    EXPECT_EQ(errors[0].d.osCode, 33);
    refusedLockFile = os::INVALID;
    rdd::goTo(area(), 2);
    LockInfo li{2, 2, 0, 0};
    ASSERT_EQ(rdd::lock(area(), &li), RDD_OK);
    Item v{};
    makeString(&v, "CHANGED", 7);
    ASSERT_EQ(rdd::putValue(area(), 0, &v), RDD_OK);
    errors.clear();
    refusedLockFile = tree->file;
    EXPECT_NE(rdd::goCold(area()), RDD_OK);
    refusedLockFile = os::INVALID;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_LOCK);
    EXPECT_EQ(errors[0].d.flags, EF_RETRY | EF_DEFAULT);
}

// ---- deviations: recoverable area errors ---------------------------------

TEST_F(CrashErrors, TheTwoHundredFiftySixthAreaRaisesARecoverableError) {
    files.push_back("cre_area.dbf");
    WorkArea* fake = reinterpret_cast<WorkArea*>(uintptr_t(16));
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) storeArea(n, fake);
    uint16_t before = currentAreaNumber();
    errors.clear();
    invoke("DBUSEAREA", {true, "DBFNTX", "cre_area"});
    EXPECT_EQ(currentAreaNumber(), before);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].subsystem, "DBCMD");
    EXPECT_EQ(errors[0].d.genCode, EG_LIMIT);
    EXPECT_EQ(errors[0].d.subCode, 1101);
    EXPECT_TRUE(errors[0].d.flags & EF_DEFAULT);
    EXPECT_EQ(areaAt(before), fake);  // the current area was not closed for it
    errors.clear();
    EXPECT_EQ(selectArea(0), before);
    EXPECT_EQ(errors.size(), 1u);
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) storeArea(n, nullptr);
}

TEST_F(CrashErrors, AliasMInAnAliasedExpressionRaisesARecoverableError) {
    uint16_t before = currentAreaNumber();
    errors.clear();
    EXPECT_EQ(selectArea(0xFFFF), before);
    EXPECT_EQ(currentAreaNumber(), before);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].subsystem, "BASE");
    EXPECT_EQ(errors[0].d.genCode, EG_UNSUPPORTED);
    EXPECT_EQ(errors[0].d.subCode, 1101);
    // the end of the aliased expression restores what the start returned
    errors.clear();
    EXPECT_EQ(selectArea(before), before);
    EXPECT_TRUE(errors.empty());
}

// ---- deviations: DBCREATE refuses structures no table can hold -----------

struct Structure {
    const char* what;
    const char* name;
    const char* type;
    int length, decimals;
    bool refused;
};

class DbcreateRefuses : public CrashErrors, public ::testing::WithParamInterface<Structure> {};

TEST_P(DbcreateRefuses, ImpossibleFieldsWithAnArgumentError) {
    const Structure& s = GetParam();
    files.push_back("cre_struct.dbf");
    fsDelete("cre_struct.dbf");
    Item* rows = tempAlloc();
    makeArray(rows, 2);
    const char* names[2] = {"FIRST", s.name};
    const char* types[2] = {"C", s.type};
    int lengths[2] = {5, s.length}, decimals[2] = {0, s.decimals};
    for (int i = 0; i < 2; ++i) {
        Item* row = &arrayItems(rows)[i];
        makeArray(row, 4);
        Item* e = arrayItems(row);
        makeString(&e[0], names[i], uint32_t(std::strlen(names[i])));
        makeString(&e[1], types[i], 1);
        e[2] = intItem(lengths[i]);
        e[3] = intItem(decimals[i]);
    }
    errors.clear();
    invoke("DBCREATE", {"cre_struct", *rows});
    tempRelease(rows);
    bool created = std::filesystem::exists("cre_struct.dbf");
    EXPECT_EQ(created, !s.refused) << s.what;
    if (s.refused) {
        ASSERT_EQ(errors.size(), 1u) << s.what;
        EXPECT_EQ(errors[0].subsystem, "DBCMD");
        EXPECT_EQ(errors[0].d.genCode, EG_ARG);
        EXPECT_EQ(errors[0].d.subCode, 1001);
    } else {
        EXPECT_TRUE(errors.empty()) << s.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DbcreateRefuses,
    ::testing::Values(Structure{"C of length 0", "SECOND", "C", 0, 0, true},
                      Structure{"C of negative length", "SECOND", "C", -3, 0, true},
                      Structure{"N whose decimals fill it", "AMOUNT", "N", 3, 2, true},
                      Structure{"N with decimals and a digit", "AMOUNT", "N", 4, 2, false},
                      Structure{"N of length 0", "AMOUNT", "N", 0, 0, true},
                      Structure{"a name twice", "first", "C", 3, 0, true},
                      Structure{"a long name is cut, not refused", "ELEVENCHARS", "C", 3, 0, false},
                      Structure{"a name with a blank inside", "TWO WORDS", "C", 3, 0, true},
                      Structure{"a name starting with a digit", "1ST", "C", 3, 0, true},
                      Structure{"an empty name", "", "C", 3, 0, true},
                      Structure{"a name with trailing blanks", "LAST  ", "C", 3, 0, false},
                      Structure{"an underscore name", "_X1", "L", 1, 0, false}),
    [](const ::testing::TestParamInfo<Structure>& info) { return "case" + std::to_string(info.index); });

// ---- the table check names blank records owed by appends ----------------

TEST_F(CrashErrors, ABlankRecordOfAnUncommittedSharedAppendIsOwedNotDamage) {
    table("cre_owed", true, true);
    ASSERT_EQ(rdd::append(area(), 1), RDD_OK);  // writes the blank record at once
    // a second view of the same files, as a process after a kill would see
    // them: the blank record is there, its key is not
    NtxCheckResult r{};
    invoke("DBUSEAREA", {true, "DBFNTX", "cre_owed", "OTHER", true});
    OrderInfo oi{nullptr, "cre_owed", nullptr};
    ASSERT_EQ(rdd::orderListAdd(area(), &oi), RDD_OK);
    EXPECT_EQ(ntxVerifyOrder(area(), 1, &r), RDD_OK) << r.message;
    EXPECT_EQ(r.owed, 1u);
    EXPECT_EQ(r.firstOwed, 4u);
}

}  // namespace

// ---- shared use: the raised change counter reaches the disk first --------

namespace {

os::Handle watchedIndex = os::INVALID;
uint16_t counterBefore = 0;
int pageWrites = 0, pageWritesUnderOldCounter = 0;

// Before each write of a page of the watched index: is the counter on disk
// still the one from before the change?
bool watchingWrite(os::Handle h, const void* buffer, uint32_t n, uint32_t* done) {
    if (h == watchedIndex) {
        uint32_t at = os::setFilePointer(h, 0, os::FROM_CURRENT);
        if (at >= 1024 && at != 0xFFFFFFFFu) {
            ++pageWrites;
            uint8_t head[4] = {};
            uint32_t got = 0;
            os::setFilePointer(h, 0, os::FROM_BEGIN);
            defaultFileSyscalls().readFile(h, head, 4, &got);
            os::setFilePointer(h, int32_t(at), os::FROM_BEGIN);
            if (uint16_t(head[2] | head[3] << 8) == counterBefore) ++pageWritesUnderOldCounter;
        }
    }
    return defaultFileSyscalls().writeFile(h, buffer, n, done);
}

}  // namespace

TEST_F(CrashErrors, ASharedChangeWritesItsRaisedCounterBeforeAnyPage) {
    table("cre_count", true, true);
    NtxTree* tree = ntxOrderTree(area(), 1);
    ASSERT_NE(tree, nullptr);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(append("N" + std::to_string(100 + i)), RDD_OK);  // splits too
    ASSERT_EQ(rdd::flush(area()), RDD_OK);
    // each change under the watch: a key change, and appends that split
    for (int round = 0; round < 3; ++round) {
        rdd::goTo(area(), 2);
        LockInfo li{2, 2, 0, 0};
        ASSERT_EQ(rdd::lock(area(), &li), RDD_OK);
        Item v{};
        std::string name = "Z" + std::to_string(round);
        makeString(&v, name.data(), uint32_t(name.size()));
        ASSERT_EQ(rdd::putValue(area(), 0, &v), RDD_OK);
        auto noteCounter = [&] {
            uint8_t head[4] = {};
            fsSeek(tree->file, 0, os::FROM_BEGIN);
            fsReadLong(tree->file, head, 4);
            counterBefore = uint16_t(head[2] | head[3] << 8);
        };
        noteCounter();
        watchedIndex = tree->file;
        fileSyscalls().writeFile = watchingWrite;
        ASSERT_EQ(rdd::goCold(area()), RDD_OK);
        ASSERT_EQ(append("M" + std::to_string(round)), RDD_OK);
        noteCounter();
        ASSERT_EQ(rdd::goCold(area()), RDD_OK);
        fileSyscalls().writeFile = fullDiskWrite;
        watchedIndex = os::INVALID;
    }
    EXPECT_GT(pageWrites, 0);
    EXPECT_EQ(pageWritesUnderOldCounter, 0);
}
