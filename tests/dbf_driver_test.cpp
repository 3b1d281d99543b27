// The DBF driver through the database layer: a pcode program that creates a
// table with every field type, fills it through the field opcodes and reads
// it back (and the bytes it leaves), the functions over positioning with
// filters, relations by record number, dbEval scopes, the table hooks, locks
// on exclusive tables, the errors with their subsystem, and corrupt tables
// refused at open without leaving an area behind. Its files are named
// dbfd_* in the working directory and removed afterwards.
#include "rdd/dbf/dbf_driver.h"
#include "rdd/dbf/dbf_sort.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "vm/function.h"
#include "base/dates.h"
#include "rdd/areas.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"
#include "vm/native.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

std::vector<int> hookHits;

XB_NATIVE(fnHOOKHIT, "HOOKHIT") {
    hookHits.push_back(paramInt(1));
    return 0;
}

const char* kModule = R"(
symbol MAIN proc
symbol DBCREATE
symbol DBUSEAREA
symbol DBAPPEND
symbol DBGOTOP
symbol DBSKIP
symbol DBCLOSEAREA
symbol NAME
symbol AMOUNT
symbol BORN
symbol OK
symbol NOTES
symbol PARENT
symbol T
symbol HOOKHIT
symbol BIGBLK proc
symbol PARENTBLK proc
symbol HOOKBLK proc
symbol CLOSEBLK proc
proc MAIN
    PUSHSYMNIL DBCREATE
    PUSHSTR "dbfd_people"
    PUSHSTR "name"
    PUSHSTR "C"
    PUSHINT 12
    ZERO
    ARRAYGEN 4
    PUSHSTR "amount"
    PUSHSTR "N"
    PUSHINT 8
    PUSHINT 2
    ARRAYGEN 4
    PUSHSTR "born"
    PUSHSTR "D"
    PUSHINT 10
    ZERO
    ARRAYGEN 4
    PUSHSTR "ok"
    PUSHSTR "L"
    PUSHINT 3
    ZERO
    ARRAYGEN 4
    PUSHSTR "notes"
    PUSHSTR "M"
    PUSHINT 4
    ZERO
    ARRAYGEN 4
    ARRAYGEN 5
    PUSHSTR "DBF"
    DO 3
    PUSHSYMNIL DBUSEAREA
    TRUE
    PUSHSTR "DBF"
    PUSHSTR "dbfd_people"
    PUSHSTR "T"
    FALSE
    DO 5
    PUSHSYMNIL DBAPPEND
    DO 0
    PUSHSTR "Lima"
    POPFIELD NAME
    PUSHDOUBLE 8 1 1234.5
    POPFIELD AMOUNT
    TRUE
    POPFIELD OK
    PUSHSTR "a memo of the first record"
    POPFIELD NOTES
    PUSHSYMNIL DBAPPEND
    DO 0
    PUSHSTR "Quito"
    PUSHALIAS T
    POPALIASFIELD NAME
    PUSHINT 7
    POPFIELD AMOUNT
    PUSHSYMNIL DBGOTOP
    DO 0
    PUSHFIELD NAME
    PUSHFIELD AMOUNT
    PUSHFIELD OK
    PUSHFIELD NOTES
    PUSHSYMNIL DBSKIP
    DO 0
    PUSHALIAS T
    PUSHALIASFIELD NAME
    PUSHFIELD AMOUNT
    PUSHFIELD OK
    PUSHFIELD NOTES
    RECNO
    LASTREC
    ARRAYGEN 10
    PUSHSYMNIL DBCLOSEAREA
    DO 0
    POPRET
    ENDPROC
end
proc BIGBLK
    PUSHBLOCK {
        PUSHFIELD AMOUNT
        PUSHINT 40
        GREATER
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc PARENTBLK
    PUSHBLOCK {
        PUSHFIELD PARENT
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc CLOSEBLK
    PUSHBLOCK {
        PUSHSYMNIL DBCLOSEAREA
        FUNC 0
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc HOOKBLK
    FRAME 1 0
    PUSHBLOCK {
        PUSHSYMNIL HOOKHIT
        PUSHOUTER 1
        FUNC 1
        ENDBLOCK
    }
    DETACHLOCALS
    POPRET
    ENDPROC
end
)";

class DbfDriver : public test::VmTest {
protected:
    std::vector<std::string> files;
    // Errors that allow the default get it; the others unwind, as a
    // handler must answer them.
    static uint16_t byFlags(ErrorDescriptor* d, const Item* operands, uint16_t count) {
        answerUnwinds = !(d->flags & EF_DEFAULT);
        itemClear(&answer);
        answer.type = T_LOGICAL;
        return recordingLauncher(d, operands, count);
    }
    void SetUp() override {
        VmTest::SetUp();
        load(kModule);
        resetDriverRegistry();
        registerDriver("DBF", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBF");
        errorLauncher = byFlags;
        hookHits.clear();
    }
    void TearDown() override {
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        for (const std::string& f : files) fsDelete(f.c_str());
        VmTest::TearDown();
    }
    // A table of numbered records: field N (N 5) = record number, PARENT (N 3).
    void numbers(const char* file, int count, std::vector<int> parents = {}) {
        files.push_back(std::string(file) + ".dbf");
        Item rows = rowsOf({{"N", "N", 5}, {"PARENT", "N", 3}});
        invoke("DBCREATE", {file, rows});
        invoke("DBUSEAREA", {true, Arg::nil(), file});
        for (int i = 1; i <= count; ++i) {
            invoke("DBAPPEND");
            invoke("FIELDPUT", {1, i});
            invoke("FIELDPUT", {2, i <= int(parents.size()) ? parents[size_t(i - 1)] : 0});
        }
        invoke("DBGOTOP");
    }
    Item rowsOf(std::vector<std::tuple<const char*, const char*, int>> rows) {
        Item* list = tempAlloc();
        makeArray(list, uint32_t(rows.size()));
        for (size_t i = 0; i < rows.size(); ++i) {
            Item* row = &arrayItems(list)[i];
            makeArray(row, 4);
            Item* e = arrayItems(row);
            makeString(&e[0], std::get<0>(rows[i]), uint32_t(std::strlen(std::get<0>(rows[i]))));
            makeString(&e[1], std::get<1>(rows[i]), 1);
            e[2] = intItem(std::get<2>(rows[i]));
            e[3] = intItem(0);
        }
        return *list;
    }
    // The built-ins are opcodes: their methods stand in for them here.
    // An array of texts, rooted in a static-area temporary.
    Item texts(std::vector<const char*> list) {
        Item* a = tempAlloc();
        makeArray(a, uint32_t(list.size()));
        for (size_t i = 0; i < list.size(); ++i)
            makeString(&arrayItems(a)[i], list[i], uint32_t(std::strlen(list[i])));
        return *a;
    }
    int recno() {
        Item it{};
        rdd::recNo(currentArea(), &it);
        return it.v.l;
    }
    bool bof() {
        uint16_t f = 0;
        rdd::bof(currentArea(), &f);
        return f;
    }
    bool eof() {
        uint16_t f = 0;
        rdd::eof(currentArea(), &f);
        return f;
    }
    uint32_t lastrec() {
        uint32_t n = 0;
        rdd::recCount(currentArea(), &n);
        return n;
    }
    bool lock(uint16_t method, uint32_t record = 0) {
        LockInfo l{record, method, 0, 0};
        rdd::lock(currentArea(), &l);
        return l.result != 0;
    }
    Item block(const char* proc, std::initializer_list<Item> args = {}) {
        Item* t = tempAlloc();
        *t = call(proc, args);
        return *t;
    }
    void expectError(uint16_t gen, uint16_t sub, const char* subsystem = "DBF") {
        ASSERT_FALSE(errors.empty()) << "expected " << gen << "/" << sub;
        EXPECT_EQ(errors.back().d.genCode, gen);
        EXPECT_EQ(errors.back().d.subCode, sub);
        EXPECT_EQ(errors.back().subsystem, subsystem);
    }
};

TEST_F(DbfDriver, APcodeProgramCreatesFillsAndReadsATable) {
    files = {"dbfd_people.dbf", "dbfd_people.dbt"};
    Item r = call("MAIN");
    ASSERT_TRUE(isArray(&r));
    ASSERT_EQ(arrayLength(&r), 10u);
    Item* e = arrayItems(&r);
    EXPECT_EQ(textOf(e[0]), "Lima        ");
    expectDouble(e[1], 1234.5, 8, 2);
    expectLogical(e[2], true);
    EXPECT_EQ(textOf(e[3]), "a memo of the first record");
    EXPECT_EQ(textOf(e[4]), "Quito       ");
    expectDouble(e[5], 7, 8, 2);
    expectLogical(e[6], false);
    EXPECT_EQ(textOf(e[7]), "");
    EXPECT_EQ(e[8].v.l, 2);
    EXPECT_EQ(e[9].v.l, 2);
    EXPECT_TRUE(errors.empty());

    // The bytes: forced lengths, two records, the end mark, the memo block.
    std::vector<uint8_t> b(2048);
    os::Handle h = fsOpen("dbfd_people.dbf", 0);
    ASSERT_NE(h, os::INVALID);
    b.resize(uint32_t(fsReadLong(h, b.data(), 2048)));
    fsClose(h);
    const uint32_t hl = 32 * 5 + 34, rl = 1 + 12 + 8 + 8 + 1 + 10;
    ASSERT_EQ(b.size(), hl + 2 * rl + 1);
    EXPECT_EQ(b[0], 0x83);
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b[10], rl);
    EXPECT_EQ(b[32 + 32 * 2 + 16], 8);  // D asked 10
    EXPECT_EQ(b[32 + 32 * 3 + 16], 1);  // L asked 3
    EXPECT_EQ(b[32 + 32 * 4 + 16], 10);  // M asked 4
    EXPECT_EQ(std::string(b.begin() + hl, b.begin() + hl + rl),
              std::string(" Lima         1234.50        T         2"));
    EXPECT_EQ(b.back(), 0x1A);
}

TEST_F(DbfDriver, InformationAndStructureOfAnOpenTable) {
    numbers("dbfd_info", 3);
    expectInt(invoke("HEADER"), 32 * 2 + 34, 10);
    expectInt(invoke("RECSIZE"), 1 + 5 + 3, 10);
    os::LocalTime now{};
    os::localTime(&now);
    Item d = invoke("LUPDATE");
    EXPECT_EQ(d.type, T_DATE);
    invoke("DBCOMMIT");
    EXPECT_EQ(invoke("LUPDATE").v.l, dateFromYmd(now.year, now.month, now.day, 0));
    EXPECT_EQ(textOf(invoke("RDDNAME")), "DBF");
    EXPECT_EQ(textOf(invoke("ALIAS")), "DBFD_INFO");  // the file's base name
    EXPECT_EQ(textOf(invoke("DBTABLEEXT")), ".dbf");
    Item s = invoke("DBSTRUCT");
    ASSERT_EQ(arrayLength(&s), 2u);
    Item* row = arrayItems(&arrayItems(&s)[0]);
    EXPECT_EQ(textOf(row[0]), "N");
    EXPECT_EQ(textOf(row[1]), "N");
    EXPECT_EQ(row[2].v.l, 5);
}

TEST_F(DbfDriver, FiltersKeepBofAndEofRight) {
    Item big = block("BIGBLK");  // AMOUNT > 40
    files.push_back("dbfd_filt2.dbf");
    invoke("DBCREATE", {"dbfd_filt2", rowsOf({{"AMOUNT", "N", 5}})});
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_filt2"});
    const int amounts[] = {10, 50, 20, 60, 70};
    for (int v : amounts) {
        invoke("DBAPPEND");
        invoke("FIELDPUT", {1, v});
    }
    invoke("DBSETFILTER", {big});
    invoke("DBGOTOP");
    EXPECT_EQ(recno(), 2);
    invoke("DBSKIP", {-1});
    EXPECT_EQ(recno(), 2);  // back past the first visible: stays on it with bof
    EXPECT_TRUE(bof());
    EXPECT_FALSE(eof());
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        invoke("DBSKIP");
        seen.push_back(eof() ? 0 : recno());
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 5, 0, 0}));
    EXPECT_EQ(recno(), 6);
    invoke("DBGOBOTTOM");
    EXPECT_EQ(recno(), 5);
    // Nothing passes: bof and eof both.
    for (int v : {1, 2, 3, 4, 5}) {
        invoke("DBGOTO", {v});
        invoke("FIELDPUT", {1, 0});
    }
    invoke("DBGOTOP");
    EXPECT_TRUE(bof());
    EXPECT_TRUE(eof());
    EXPECT_TRUE(errors.empty());
}

TEST_F(DbfDriver, PhantomRecordThroughTheFunctions) {
    numbers("dbfd_phantom", 0);
    EXPECT_TRUE(bof());
    EXPECT_TRUE(eof());
    EXPECT_EQ(recno(), 1);
    EXPECT_EQ(lastrec(), 0u);
    invoke("DBAPPEND");
    invoke("DBGOTO", {0});
    EXPECT_EQ(recno(), 2);
    EXPECT_TRUE(eof());
    invoke("DBGOTO", {"x"});
    expectError(33, 1020, "DBF");
}

TEST_F(DbfDriver, RelationsFollowTheParentByRecordNumber) {
    numbers("dbfd_kids", 4, {3, 1, 9, 2});
    int kids = currentAreaNumber();
    numbers("dbfd_parents", 3);
    uint16_t parentsArea = currentAreaNumber();
    invoke("DBSELECTAREA", {kids});
    invoke("DBSETRELATION", {"DBFD_PARENTS", block("PARENTBLK")});
    std::vector<int> targets;
    for (int i = 0; i < 4; ++i) {
        invoke("DBSELECTAREA", {int(parentsArea)});
        targets.push_back(recno());
        invoke("DBSELECTAREA", {kids});
        invoke("DBSKIP");
    }
    // After kids 1..4 point at parents 3, 1, 9 (none: the phantom 4) and 2.
    EXPECT_EQ(targets, (std::vector<int>{3, 1, 4, 2}));
    invoke("DBSELECTAREA", {int(parentsArea)});
    EXPECT_TRUE(eof());  // the kids area is at eof now
    EXPECT_TRUE(errors.empty());
}

TEST_F(DbfDriver, DbEvalScopes) {
    numbers("dbfd_scopes", 5);
    Item hit = block("HOOKBLK", {intItem(0)});
    hookHits.clear();
    invoke("DBEVAL", {hit, Arg::nil(), Arg::nil(), 0});
    EXPECT_TRUE(hookHits.empty());  // next 0: nothing
    invoke("DBEVAL", {hit, Arg::nil(), Arg::nil(), Arg::nil(), 3});
    EXPECT_EQ(hookHits.size(), 1u);  // one record
    EXPECT_EQ(recno(), 3);
    hookHits.clear();
    invoke("DBEVAL", {hit});
    EXPECT_EQ(hookHits.size(), 5u);  // all, from the top
}

TEST_F(DbfDriver, TheEightHooksFireWhereTheyBelong) {
    files = {"dbfd_hooks.dbf"};
    invoke("DBCREATE", {"dbfd_hooks", rowsOf({{"N", "N", 3}})});
    Item blocks[8];
    for (int i = 0; i < 8; ++i) blocks[i] = block("HOOKBLK", {intItem(i + 1)});
    invoke("DBSETHOOKS", {blocks[0], blocks[1], blocks[2], blocks[3], blocks[4], blocks[5], blocks[6], blocks[7]});
    collectGarbage(true);  // the pending hooks are rooted
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_hooks"});
    EXPECT_EQ(hookHits, (std::vector<int>{1, 8}));  // opened, then goTop's goTo
    hookHits.clear();
    invoke("DBAPPEND");
    invoke("FIELDPUT", {1, 5});
    EXPECT_EQ(hookHits, (std::vector<int>{3}));
    hookHits.clear();
    invoke("DBGOTO", {1});  // writes back the appended record: no hook 4
    EXPECT_EQ(hookHits, (std::vector<int>{7, 8}));
    hookHits.clear();
    invoke("FIELDPUT", {1, 6});  // reads the record first
    invoke("DBGOTO", {1});
    EXPECT_EQ(hookHits, (std::vector<int>{6, 7, 4, 8}));
    hookHits.clear();
    invoke("DBDELETE");  // the goTo left the record unread
    EXPECT_EQ(hookHits, (std::vector<int>{6, 5}));
    hookHits.clear();
    invoke("DBCLOSEAREA");
    EXPECT_EQ(hookHits, (std::vector<int>{7, 2}));  // a deleted record: no hook 4
    // The next open takes no hooks: the pending set was emptied.
    hookHits.clear();
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_hooks"});
    EXPECT_TRUE(hookHits.empty());
}

// A hook that closes its own area while the driver reads a record: the
// close is refused (the operation still uses the record) and the area stays.
TEST_F(DbfDriver, AHookCannotCloseItsOwnArea) {
    numbers("dbfd_selfclose", 2);
    invoke("DBCLOSEAREA");
    Item closer = block("CLOSEBLK");
    invoke("DBSETHOOKS", {Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), closer});
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_selfclose"});
    errors.clear();
    Item v = invoke("FIELDGET", {1});  // reads record 1: hook 6 runs
    expectDouble(v, 1, 5, 0);
    expectError(30, 0);
    expectLogical(invoke("USED"), true);
    invoke("DBSKIP");
    expectDouble(invoke("FIELDGET", {1}), 2, 5, 0);
}

// The index driver inherits every table operation until it has its own.
TEST_F(DbfDriver, TheIndexDriverInheritsTheTableOperations) {
    registerDriver("DBFNTX", 1);
    numbers("dbfd_inherit", 3);
    invoke("DBCLOSEAREA");
    invoke("DBUSEAREA", {true, "DBFNTX", "dbfd_inherit"});
    ASSERT_NE(currentArea(), nullptr);
    EXPECT_EQ(lastrec(), 3u);
    invoke("DBGOBOTTOM");
    expectDouble(invoke("FIELDGET", {1}), 3, 5, 0);
    EXPECT_EQ(dbfTableOf(currentArea())->recordLength, 1u + 5 + 3);
    EXPECT_TRUE(errors.empty());
}

TEST_F(DbfDriver, LocksAndExclusiveOnlyOperations) {
    numbers("dbfd_locks", 2);
    EXPECT_FALSE(lock(LOCK_RECORD, 1));  // exclusive: no record lock
    expectLogical(invoke("DBRLOCK", {1}), false);
    EXPECT_TRUE(lock(LOCK_FILE));
    invoke("DBCLOSEAREA");
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_locks", Arg::nil(), true});
    invoke("FIELDPUT", {1, 9});
    expectError(38, 1022);
    invoke("__DBPACK");
    expectError(37, 1023);
    invoke("__DBZAP");
    expectError(37, 1023);
    expectLogical(invoke("DBRLOCK"), true);
    Item list = invoke("DBRLOCKLIST");
    ASSERT_EQ(arrayLength(&list), 1u);
    EXPECT_EQ(arrayItems(&list)[0].v.l, 1);
    errors.clear();
    invoke("FIELDPUT", {1, 9});
    EXPECT_TRUE(errors.empty());
    invoke("DBCLOSEAREA");
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_locks", Arg::nil(), false, true});
    invoke("DBAPPEND");
    expectError(39, 1025);
}

TEST_F(DbfDriver, PackAndZapThroughTheFunctions) {
    numbers("dbfd_packs", 5);
    for (int n : {2, 4}) {
        invoke("DBGOTO", {n});
        invoke("DBDELETE");
    }
    invoke("__DBPACK");
    EXPECT_EQ(lastrec(), 3u);
    std::vector<int> kept;
    for (int n = 1; n <= 3; ++n) {
        invoke("DBGOTO", {n});
        kept.push_back(int(invoke("FIELDGET", {1}).v.d));
    }
    EXPECT_EQ(kept, (std::vector<int>{1, 3, 5}));
    invoke("__DBZAP");
    EXPECT_EQ(lastrec(), 0u);
    EXPECT_TRUE(eof());
}

TEST_F(DbfDriver, OpenFailuresLeaveNoArea) {
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_missing_table"});
    expectError(21, 1001);
    EXPECT_EQ(errors.back().d.flags, 5);
    expectLogical(invoke("USED"), false);
    // A corrupt file: the version byte.
    files.push_back("dbfd_corrupt.dbf");
    os::Handle h = fsCreate("dbfd_corrupt.dbf", 0);
    uint8_t junk[64] = {0x30};
    fsWrite(h, junk, sizeof junk);
    fsClose(h);
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_corrupt"});
    expectError(32, 1012);
    expectLogical(invoke("USED"), false);
    // A table whose memo file is missing.
    numbers("dbfd_nomemo", 1);
    invoke("DBCLOSEAREA");
    h = fsOpen("dbfd_nomemo.dbf", FO_READWRITE);
    uint8_t v = 0x83;
    fsWrite(h, &v, 1);
    fsClose(h);
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_nomemo"});
    expectError(21, 1002);
    expectLogical(invoke("USED"), false);
}

// A sorted copy of 30,000 records in 16 KB of memory (runs on disk and more
// than one merge pass), by a descending number and then a name without
// regard to case; equal keys keep the table's order.
TEST_F(DbfDriver, SortCopiesInKeyOrderWithinASmallBudget) {
    files = {"dbfd_unsorted.dbf", "dbfd_sorted.dbf"};
    Item rows = rowsOf({{"NAME", "C", 4}, {"V", "N", 4}, {"SEQ", "N", 6}});
    invoke("DBCREATE", {"dbfd_unsorted", rows});
    invoke("DBCREATE", {"dbfd_sorted", rows});
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_sorted"});
    WorkArea* to = currentArea();
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_unsorted"});
    WorkArea* from = currentArea();
    const char* names[] = {"b", "A", "a", "C"};
    const int kCount = 30000;
    uint32_t seed = 7;
    for (int i = 1; i <= kCount; ++i) {
        seed = seed * 1103515245u + 12345u;
        invoke("DBAPPEND");
        invoke("FIELDPUT", {1, names[(seed >> 16) % 4]});
        invoke("FIELDPUT", {2, int((seed >> 8) % 50)});
        invoke("FIELDPUT", {3, i});
    }
    const SortKey keys[2] = {{1, DBF_SORT_DESCENDING}, {0, DBF_SORT_NOCASE}};
    const FieldPair pairs[3] = {{0, 0}, {1, 1}, {2, 2}};
    SortInfo info{};
    info.transfer.destination = to;
    info.transfer.pairCount = 3;
    info.transfer.pairs = pairs;
    info.keyCount = 2;
    info.keys = keys;
    dbfSortBudget = 16 * 1024;  // the fixture puts the default back
    EXPECT_EQ(rdd::sort(from, &info), RDD_OK);
    EXPECT_TRUE(errors.empty());
    uint32_t n = 0;
    rdd::recCount(to, &n);
    ASSERT_EQ(n, uint32_t(kCount));
    int lastV = 1000, lastSeq = 0;
    char lastName = 0;
    for (uint32_t r = 1; r <= n; ++r) {
        rdd::goTo(to, r);
        Item v{}, name{}, seq{};
        rdd::getValue(to, 0, &name);
        rdd::getValue(to, 1, &v);
        rdd::getValue(to, 2, &seq);
        int value = int(v.v.d), order = int(seq.v.d);
        char upper = char(std::toupper(strData(&name)[0]));
        bool sameKey = value == lastV && upper == lastName;
        ASSERT_TRUE(value < lastV || (value == lastV && upper >= lastName)) << r;
        if (sameKey) {
            ASSERT_GT(order, lastSeq) << r;  // the table's order among equals
        }
        lastV = value, lastName = upper, lastSeq = order;
    }
}

// The function over it: a sorted copy under a new name, the current area
// kept; a scope (here the first four records) limits what is copied.
TEST_F(DbfDriver, DbSortWritesASortedTable) {
    files = {"dbfd_tosort.dbf", "dbfd_sortout.dbf"};
    invoke("DBCREATE", {"dbfd_tosort", rowsOf({{"NAME", "C", 3}, {"V", "N", 3}})});
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_tosort"});
    uint16_t area = currentAreaNumber();
    const char* names[] = {"bob", "Ann", "cy", "amy", "al"};
    const int values[] = {2, 5, 2, 2, 9};
    for (int i = 0; i < 5; ++i) {
        invoke("DBAPPEND");
        invoke("FIELDPUT", {1, names[i]});
        invoke("FIELDPUT", {2, values[i]});
    }
    Item keys = texts({"v/D", " name /c"});
    invoke("DBGOTOP");
    expectLogical(invoke("__DBSORT", {"dbfd_sortout", keys, Arg::nil(), Arg::nil(), 4}), true);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(currentAreaNumber(), area);
    invoke("DBUSEAREA", {true, Arg::nil(), "dbfd_sortout"});
    std::vector<std::string> order;
    for (uint32_t n = 1; n <= lastrec(); ++n) {
        invoke("DBGOTO", {int(n)});
        order.push_back(textOf(invoke("FIELDGET", {1})) + std::to_string(int(invoke("FIELDGET", {2}).v.d)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Ann5", "amy2", "bob2", "cy 2"}));
    Item bad = texts({"nope"});
    invoke("DBSELECTAREA", {int(area)});
    expectLogical(invoke("__DBSORT", {"dbfd_sortout", bad}), false);
    expectError(1, 1003, "DBCMD");
}

}  // namespace
