// The database layer over a small in-memory driver: the slot list and the
// default layer, inheritance and parent calls, opening into areas with
// aliases and field binding, selection, the generic skip and filter, scope
// evaluation and transfer, relations, the database built-ins and functions.
#include "tests/support/mem_driver.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "rdd/binding.h"
#include "rdd/hooks.h"
#include "vm/settings.h"
#include "runtime/settings_block.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::MemDriver;
using test::textOf;

namespace {

const char* kModule = R"(
symbol P proc
symbol NAME
symbol AGE
symbol AGEBLK proc
symbol OLDBLK proc
symbol NILBLK proc
symbol CLOSEBLK proc
symbol DBCLOSEAREA
symbol GETNAME proc
symbol SETNAME proc
symbol BUILTINS proc
symbol AGEOF proc
symbol KIDS
symbol BADNAME proc
symbol LOCKBLK proc
symbol DBRLOCK
proc P
    ENDPROC
end
proc AGEBLK
    PUSHBLOCK {
        PUSHFIELD AGE
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc OLDBLK
    PUSHBLOCK {
        PUSHFIELD AGE
        PUSHINT 40
        GREATER
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc NILBLK
    PUSHBLOCK {
        PUSHNIL
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
proc LOCKBLK
    PUSHBLOCK {
        PUSHSYMNIL DBRLOCK
        RECNO
        FUNC 1
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc BADNAME
    PUSHSTR "x"
    FIELDNAME
    POPRET
    ENDPROC
end
proc GETNAME
    PUSHFIELD NAME
    POPRET
    ENDPROC
end
proc SETNAME
    FRAME 1 0
    PUSHLOCAL 1
    POPFIELD NAME
    ENDPROC
end
proc AGEOF
    FRAME 1 0
    PUSHLOCAL 1
    ALIASSELECT
    PUSHFIELD AGE
    ALIASRESTORE
    POPRET
    ENDPROC
end
proc BUILTINS
    BOF
    EOF
    DELETED
    FOUND
    FCOUNT
    LASTREC
    RECNO
    SELECT0
    PUSHSTR "kids "
    SELECT1
    PUSHINT 2
    FIELDNAME
    ARRAYGEN 10
    POPRET
    ENDPROC
end
)";

using Row = std::vector<std::string>;

class WorkAreas : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load(kModule);
        MemDriver::install();
        answerLogical(false);
        MemDriver::table("PEOPLE", {{"NAME", 'C', 8, 0}, {"AGE", 'N', 3, 0}},
                         {{"ANA", "31"}, {"BEA", "45"}, {"CARL", "52"}, {"DORA", "19"}, {"EVA", "60"}});
        MemDriver::table("KIDS", {{"NAME", 'C', 6, 0}, {"PARENT", 'N', 3, 0}}, {{"KAI", "2"}, {"LIA", "9"}});
    }
    void TearDown() override {
        MemDriver::remove();
        VmTest::TearDown();
    }
    void use(const char* file, Arg alias = Arg::nil(), Arg driver = Arg::nil()) {
        invoke("DBUSEAREA", {true, driver, file, alias});
    }
    WorkArea* current() { return currentArea(); }
    uint32_t recno() { return MemDriver::m(current())->recNo; }
    std::vector<uint32_t> visit(int32_t step, int n) {  // record numbers after each skip
        std::vector<uint32_t> seen;
        for (int i = 0; i < n; ++i) {
            invoke("DBSKIP", {step});
            seen.push_back(current()->eof ? 0 : recno());
        }
        return seen;
    }
    Item blockOf(const char* proc) {
        Item b = call(proc);
        Item* t = tempAlloc();
        *t = b;
        return *t;
    }
    void expectMirror() { EXPECT_EQ(areaTable()[0], areaTable()[currentAreaNumber()]); }
};

}  // namespace

TEST_F(WorkAreas, OneListGivesEverySlotItsNameAndTheDefaultLayerFillsThemAll) {
    std::set<std::string> names;
    for (uint32_t s = 0; s < RDD_METHOD_COUNT; ++s) names.insert(rddSlotName(s));
    EXPECT_EQ(names.size(), 92u);
    EXPECT_STREQ(rddSlotName(RDD_SKIP), "skip");
    EXPECT_STREQ(rddSlotName(79), "error");
    EXPECT_STREQ(rddSlotName(17), "unused17");
    EXPECT_EQ(rddSlotName(92), nullptr);
    // exactly these slots hold generic operations; every other one the handler
    const std::set<uint16_t> generic = {0,  1,  2,  8,  9,  11, 13, 16, 18, 19, 30, 32, 33, 34, 35, 36, 37, 38, 39, 40,
                                        42, 46, 47, 49, 50, 52, 53, 55, 56, 57, 58, 68, 69, 72, 74, 75, 78, 79, 80};
    const RddMethodTable& t = defaultMethods();
    for (uint16_t s = 0; s < RDD_METHOD_COUNT; ++s) {
        EXPECT_NE(t.slot[s], nullptr) << s;
        EXPECT_EQ(isUnsupportedSlot(&t, s), generic.count(s) == 0) << rddSlotName(s);
    }
}

// A method result mixes with no other status word: no conversion to or
// from a plain number.
static_assert(!std::is_convertible_v<RddResult, uint16_t> && !std::is_convertible_v<uint16_t, RddResult>,
              "method results are their own type");
static_assert(!std::is_convertible_v<RddResult, int> && !std::is_convertible_v<int, RddResult>,
              "method results are their own type");

TEST(RddResult, TheConstantsAndTheNamedConversions) {
    struct Case {
        RddResult r;
        bool failed;
        uint16_t word;
    };
    const Case cases[] = {{RDD_OK, false, 0}, {RDD_FAILED, true, 1}, {RDD_RETRY, true, 1}, {RDD_UNWIND, true, ST_UNWIND}};
    for (const Case& c : cases) {
        EXPECT_EQ(bool(c.r), c.failed) << c.word;
        EXPECT_EQ(rddStatusWord(c.r), c.word);
        EXPECT_EQ(rddFromStatus(c.word), c.r) << c.word;  // a handler status keeps its meaning
    }
    EXPECT_NE(RDD_OK, RDD_FAILED);
    EXPECT_NE(RDD_FAILED, RDD_UNWIND);
    EXPECT_EQ(rddFromStatus(ST_UNWIND), RDD_UNWIND);
    EXPECT_TRUE(bool(rddFromStatus(0x2A01)));  // any other word the handler answered is a failure
}

TEST_F(WorkAreas, UnsupportedOperationsRaiseThirtyWithTheDriversNameOrTheStandIn) {
    use("PEOPLE", "P", "BARE");  // a driver without its own open: the generic one binds nothing
    WorkArea* a = current();
    ASSERT_NE(a, nullptr);
    uint16_t flag = 7, n = 9;
    EXPECT_EQ(rdd::bof(a, &flag), RDD_OK);  // the flag queries still answer
    EXPECT_EQ(rdd::fieldCount(a, &n), RDD_OK);
    EXPECT_EQ(n, 0);
    answerUnwind();
    EXPECT_EQ(rdd::goTop(a), RDD_UNWIND);
    EXPECT_EQ(rdd::pack(a), RDD_UNWIND);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].d.genCode, EG_UNSUPPORTED);
    EXPECT_EQ(errors[0].subsystem, "???DRIVE");
    answerLogical(false);
    use("PEOPLE", "Q");
    answerUnwind();
    EXPECT_EQ(rdd::zap(current()), RDD_UNWIND);
    EXPECT_EQ(errors.back().subsystem, "MEMTAB");
    EXPECT_EQ(errors.back().d.severity, 2);
}

TEST_F(WorkAreas, AChildInheritsAndItsParentCallReachesTheParentsImplementation) {
    use("PEOPLE", Arg::nil(), "MEMKID");
    WorkArea* a = current();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(textOf(invoke("RDDNAME")), "MEMKID");
    MemDriver::goToCalls = MemDriver::kidGoToCalls = 0;
    invoke("DBGOTO", {3});
    EXPECT_EQ(MemDriver::kidGoToCalls, 1);  // the child's own slot ...
    EXPECT_EQ(MemDriver::goToCalls, 1);     // ... reached the parent's through its parent table
    EXPECT_EQ(recno(), 3u);
    EXPECT_EQ(rddSlot<RDD_SKIPRAW>(a->methods), &MemDriver::skipRaw);  // inherited override
    EXPECT_EQ(rddSlot<RDD_SKIP>(a->methods), &genericSkip);
    // the parent driver counts one use for the child's table until it goes
    invoke("DBCLOSEAREA");
    for (int i = 0; i < driverRegistry().count; ++i) EXPECT_EQ(driverRegistry().entries[i].useCount, 0);
}

TEST_F(WorkAreas, OpeningBindsFieldsAndAliasAndClosingUndoesIt) {
    use("PEOPLE", "folk");
    EXPECT_EQ(currentAreaNumber(), 1);
    EXPECT_EQ(textOf(call("GETNAME")), "ANA     ");
    call("SETNAME", {str("ZOE")});
    EXPECT_EQ(MemDriver::tables["PEOPLE"].rows[0].text[0], "ZOE");
    use("KIDS");  // the lowest free area, 2; NAME resolves by area, not by order of opening
    EXPECT_EQ(currentAreaNumber(), 2);
    EXPECT_EQ(textOf(call("GETNAME")), "KAI   ");
    expectDouble(call("AGEOF", {str("FOLK")}), 31, 3, 0);  // alias->(AGE) in area 1
    EXPECT_EQ(currentAreaNumber(), 2);
    EXPECT_EQ(textOf(invoke("ALIAS", {1})), "FOLK");
    EXPECT_EQ(textOf(invoke("ALIAS")), "");
    EXPECT_EQ(textOf(invoke("ALIAS", {7})), "");
    invoke("DBSELECTAREA", {"folk"});
    EXPECT_EQ(currentAreaNumber(), 1);
    expectMirror();
    invoke("DBCLOSEAREA");
    EXPECT_EQ(findSymbol("FOLK")->aliasArea, 0);
    EXPECT_EQ(findSymbol("AGE")->fieldChain, nullptr);
    ASSERT_NE(findSymbol("NAME")->fieldChain, nullptr);
    EXPECT_EQ(findSymbol("NAME")->fieldChain->area, 2);
    EXPECT_FALSE(invoke("USED").v.l);
    expectMirror();
    invoke("DBSELECTAREA", {0});  // the lowest empty slot even from an empty current area
    EXPECT_EQ(currentAreaNumber(), 1);
    invoke("DBSELECTAREA", {" 2"});
    EXPECT_EQ(currentAreaNumber(), 2);
    EXPECT_TRUE(invoke("USED").v.l);
    expectMirror();
    EXPECT_TRUE(errors.empty());
}

TEST_F(WorkAreas, AliasesMustBeIdentifiersAndFreeOnes) {
    struct Case {
        const char* alias;
        uint16_t genCode;
    } cases[] = {{"1ABC", EG_BADALIAS}, {"A-B", EG_BADALIAS}, {"A B", EG_BADALIAS}, {"_A1", 0},
                 {"@B", 0},             {" \tX1 ", 0},        {"x1", EG_DUPALIAS}};
    for (const Case& c : cases) {
        errors.clear();
        use("KIDS", c.alias);
        if (c.genCode == 0) {
            EXPECT_TRUE(errors.empty()) << c.alias;
            EXPECT_TRUE(invoke("USED").v.l) << c.alias;
            continue;
        }
        ASSERT_EQ(errors.size(), 1u) << c.alias;
        EXPECT_EQ(errors[0].d.genCode, c.genCode);
        EXPECT_EQ(errors[0].d.subCode, c.genCode == EG_BADALIAS ? 1010 : 1011);
        EXPECT_EQ(errors[0].subsystem, "DBCMD");
        EXPECT_EQ(errors[0].operation, c.alias);
        EXPECT_FALSE(invoke("USED").v.l) << c.alias;  // the failed open left no area
    }
    EXPECT_EQ(findSymbol("X1")->aliasArea, 3);
    invoke("DBSELECTAREA", {3});
    invoke("DBCLOSEAREA");
    use("KIDS", "x1");  // free again
    EXPECT_TRUE(invoke("USED").v.l);
}

TEST_F(WorkAreas, AnUnknownAliasIsRaisedUntilTheHandlerGivesUp) {
    use("KIDS");
    answerUnwind();  // only retry is allowed: the handler ends the selection
    invoke("DBSELECTAREA", {"NOSUCH"});
    answerLogical(false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_NOALIAS);
    EXPECT_EQ(errors[0].d.subCode, 1002);
    EXPECT_EQ(errors[0].d.flags, EF_RETRY);
    EXPECT_EQ(currentAreaNumber(), 1);  // the selection ended without an area
    invoke("DBSELECTAREA", {300});      // 256 or more counts as 0: the lowest free area
    EXPECT_EQ(currentAreaNumber(), 2);
}

TEST_F(WorkAreas, SkipAndFilterKeepThePositionFlagsRight) {
    use("PEOPLE");
    EXPECT_EQ(visit(1, 5), (std::vector<uint32_t>{2, 3, 4, 5, 0}));
    EXPECT_TRUE(current()->eof);
    invoke("DBSKIP", {0});  // re-reads and keeps the flags
    EXPECT_TRUE(current()->eof);
    EXPECT_FALSE(current()->bof);
    invoke("DBSETFILTER", {blockOf("OLDBLK"), "AGE > 40"});
    EXPECT_EQ(textOf(invoke("DBFILTER")), "AGE > 40");
    invoke("DBGOTOP");
    EXPECT_EQ(recno(), 2u);
    EXPECT_EQ(visit(1, 3), (std::vector<uint32_t>{3, 5, 0}));
    invoke("DBGOBOTTOM");
    EXPECT_EQ(recno(), 5u);
    EXPECT_EQ(visit(-1, 3), (std::vector<uint32_t>{3, 2, 2}));  // back past the first visible
    EXPECT_TRUE(current()->bof);
    EXPECT_FALSE(current()->eof);
    // hidden deleted records
    invoke("DBGOTO", {3});
    invoke("DBDELETE");
    settingSetLogical(SET_HIDEDELETED, true);
    invoke("DBGOTOP");
    EXPECT_EQ(visit(1, 2), (std::vector<uint32_t>{5, 0}));
    settingSetLogical(SET_HIDEDELETED, false);
    // a non-logical filter value lets every record through
    invoke("DBSETFILTER", {blockOf("NILBLK")});
    invoke("DBGOTOP");
    EXPECT_EQ(recno(), 1u);
    EXPECT_EQ(textOf(invoke("DBFILTER")), "");
    invoke("DBCLEARFILTER");
    EXPECT_EQ(current()->filterBlock, nullptr);
}

TEST_F(WorkAreas, AFilterNobodyPassesLeavesBothBofAndEof) {
    MemDriver::tables["PEOPLE"].rows.resize(2);  // ages 31 and 45 -> keep only the young
    use("PEOPLE");
    for (auto& r : MemDriver::tables["PEOPLE"].rows) r.number[1] = 10;
    invoke("DBSETFILTER", {blockOf("OLDBLK")});
    invoke("DBGOTOP");
    EXPECT_TRUE(current()->bof);
    EXPECT_TRUE(current()->eof);
    EXPECT_EQ(recno(), 3u);  // the phantom record
}

TEST_F(WorkAreas, TheFilterBlockSurvivesACollection) {
    use("PEOPLE");
    invoke("DBSETFILTER", {call("OLDBLK"), "AGE > 40"});  // held by the area alone
    itemClear(returnItem());
    collectGarbage(true);
    invoke("DBGOTOP");
    EXPECT_EQ(recno(), 2u);
    EXPECT_EQ(textOf(invoke("DBFILTER")), "AGE > 40");
}

TEST_F(WorkAreas, ABlockThatClosesItsOwnAreaIsRefusedWhileTheOperationRuns) {
    use("PEOPLE");
    invoke("DBSETFILTER", {blockOf("CLOSEBLK")});
    invoke("DBGOTOP");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].d.genCode, EG_UNSUPPORTED);
    EXPECT_EQ(errors[0].operation, "close");
    EXPECT_TRUE(invoke("USED").v.l);  // still open, and the skip finished on it
    EXPECT_EQ(recno(), 1u);
    invoke("DBCLEARFILTER");
    invoke("DBCLOSEAREA");
    EXPECT_FALSE(invoke("USED").v.l);
}

TEST_F(WorkAreas, DbEvalSelectsItsScope) {
    use("PEOPLE");
    struct Case {
        std::vector<Arg> args;  // for, while, next, record, rest after the block
        uint32_t from;
        std::vector<uint32_t> visited;
    } cases[] = {
        {{Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil()}, 3, {1, 2, 3, 4, 5}},
        {{Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), true}, 3, {3, 4, 5}},
        {{Arg::nil(), Arg::nil(), 0, Arg::nil(), Arg::nil()}, 2, {}},
        {{Arg::nil(), Arg::nil(), 2, Arg::nil(), Arg::nil()}, 2, {2, 3}},
        {{Arg::nil(), Arg::nil(), Arg::nil(), 4, Arg::nil()}, 1, {4}},
        {{blockOf("OLDBLK"), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil()}, 1, {2, 3, 5}},
        {{Arg::nil(), blockOf("OLDBLK"), Arg::nil(), Arg::nil(), Arg::nil()}, 2, {2, 3}},
        {{Arg::nil(), blockOf("NILBLK"), Arg::nil(), Arg::nil(), Arg::nil()}, 1, {}},
    };
    Item action = blockOf("LOCKBLK");  // {|| DBRLOCK(RECNO())}: records each visit
    for (const Case& c : cases) {
        invoke("DBGOTO", {int(c.from)});
        MemDriver::locked.clear();
        invoke("DBEVAL", {action, c.args[0], c.args[1], c.args[2], c.args[3], c.args[4]});
        EXPECT_EQ(MemDriver::locked, c.visited) << c.from;
    }
    EXPECT_TRUE(errors.empty());
    invoke("DBEVAL", {5});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 2019);
}

TEST_F(WorkAreas, TheBuiltinsAnswerWithAndWithoutAnArea) {
    // no area: neutral results; no error but for the locks
    Item r = call("BUILTINS");
    ASSERT_TRUE(isArray(&r));
    Item* e = arrayItems(&r);
    expectLogical(e[0], true);   // BOF
    expectLogical(e[1], true);   // EOF
    expectLogical(e[2], false);  // DELETED
    expectLogical(e[3], false);  // FOUND
    EXPECT_EQ(e[4].v.l, 0);      // FCOUNT
    EXPECT_EQ(e[5].v.l, 0);      // LASTREC
    expectInt(e[6], 0, 7);       // RECNO
    EXPECT_EQ(e[7].v.l, 1);      // SELECT()
    EXPECT_EQ(e[8].v.l, 0);      // SELECT("kids ")
    EXPECT_EQ(textOf(e[9]), "");  // FIELDNAME(2)
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(invoke("DBRLOCK").v.l);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_NOTABLE);
    EXPECT_EQ(errors[0].d.subCode, 2001);
    EXPECT_EQ(errors[0].d.flags, EF_DEFAULT);
    EXPECT_EQ(errors[0].operation, "DBRLOCK");
    invoke("DBSKIP");
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(invoke("DBSKIP").type, T_NIL);  // not the handler's answer

    use("PEOPLE");
    use("KIDS", "kids");
    invoke("DBGOBOTTOM");
    invoke("DBSKIP");
    invoke("DBDELETE");  // the phantom record: nothing to delete
    r = call("BUILTINS");
    e = arrayItems(&r);
    expectLogical(e[0], false);
    expectLogical(e[1], true);
    EXPECT_EQ(e[4].v.l, 2);
    EXPECT_EQ(e[5].v.l, 2);
    expectInt(e[6], 3, 7);  // the phantom record is count + 1
    EXPECT_EQ(e[7].v.l, 2);
    EXPECT_EQ(e[8].v.l, 2);
    EXPECT_EQ(textOf(e[9]), "PARENT");
    invoke("DBGOTO", {1});
    invoke("DBDELETE");
    r = call("BUILTINS");
    expectLogical(arrayItems(&r)[2], true);
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(textOf(call("BADNAME")), "");  // a non-number: argument error, empty name
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[3].d.genCode, EG_ARG);
    EXPECT_EQ(errors[3].d.subCode, 1009);
    EXPECT_EQ(errors[3].subsystem, "DBCMD");
}

TEST_F(WorkAreas, RecordFunctionsAndLocksGoThroughTheirMethods) {
    use("KIDS");
    invoke("DBAPPEND");
    EXPECT_EQ(MemDriver::tables["KIDS"].rows.size(), 3u);
    EXPECT_EQ(recno(), 3u);
    EXPECT_TRUE(invoke("DBRLOCK").v.l);
    EXPECT_TRUE(invoke("DBRLOCK", {1}).v.l);
    Item list = invoke("DBRLOCKLIST");
    ASSERT_EQ(arrayLength(&list), 2u);
    EXPECT_EQ(arrayItems(&list)[0].v.l, 3);
    EXPECT_EQ(arrayItems(&list)[1].v.l, 1);
    EXPECT_TRUE(invoke("DBRLOCK", {0}).v.l);  // the current record alone
    EXPECT_EQ(MemDriver::locked, (std::vector<uint32_t>{3}));
    invoke("DBUNLOCKALL");
    EXPECT_TRUE(MemDriver::locked.empty());
    use("PEOPLE");
    invoke("DBCOMMIT");
    invoke("DBCOMMITALL");
    EXPECT_EQ(MemDriver::flushes, 3);
    invoke("DBGOTO", {1, 2});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1003);
    EXPECT_EQ(textOf(invoke("DBTABLEEXT")), ".mem");
    invoke("DBCLOSEAREA");
    EXPECT_EQ(textOf(invoke("DBTABLEEXT")), ".mem");  // the default driver's, without an area
    EXPECT_EQ(textOf(invoke("NETNAME")).size() >= 15, true);
}

TEST_F(WorkAreas, StructureAndFieldsByNumber) {
    Item rows = array(3);
    const char* columns[3][2] = {{"name", "c"}, {"Born", "D"}, {"paid", "F"}};
    for (int i = 0; i < 3; ++i) {
        makeArray(&arrayItems(&rows)[i], 4);
        Item* row = arrayItems(&arrayItems(&rows)[i]);
        makeString(&row[0], columns[i][0], uint32_t(strlen(columns[i][0])));
        makeString(&row[1], columns[i][1], 1);
        row[2] = intItem(i == 2 ? 9 : 12);
        row[3] = intItem(i == 2 ? 2 : 0);
    }
    invoke("DBCREATE", {"NEW", rows});
    ASSERT_EQ(MemDriver::tables.count("NEW"), 1u);
    EXPECT_EQ(MemDriver::tables["NEW"].fields[0].name, "NAME");
    EXPECT_EQ(MemDriver::tables["NEW"].fields[2].type, 'N');  // F is numeric
    EXPECT_FALSE(invoke("USED").v.l);  // created, not left open
    EXPECT_EQ(findSymbol("NAME")->fieldChain, nullptr);
    use("NEW");
    invoke("DBAPPEND");
    Item s = invoke("DBSTRUCT");
    ASSERT_EQ(arrayLength(&s), 3u);
    std::vector<std::string> seen;
    for (uint32_t i = 0; i < 3; ++i) {
        Item* row = arrayItems(&arrayItems(&s)[i]);
        seen.push_back(textOf(row[0]) + " " + textOf(row[1]) + " " + std::to_string(row[2].v.l) + " " +
                       std::to_string(row[3].v.l));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"NAME C 12 0", "BORN D 12 0", "PAID N 9 2"}));
    EXPECT_EQ(invoke("FIELDPOS", {" paid "}).v.l, 3);
    EXPECT_EQ(invoke("FIELDPOS", {"nope"}).v.l, 0);
    EXPECT_EQ(textOf(invoke("FIELDPUT", {1, "LUZ"})), "LUZ");
    EXPECT_EQ(textOf(invoke("FIELDGET", {1})), "LUZ         ");
    EXPECT_EQ(invoke("FIELDGET", {4}).type, T_NIL);
    EXPECT_EQ(invoke("HEADER").v.l, 99);
    expectInt(invoke("RECSIZE"), 0, 0);  // the driver has no answer
    invoke("DBCREATE", {"BAD", 5});
    EXPECT_EQ(errors.back().d.subCode, 1001);
}

TEST_F(WorkAreas, RelationsAndTheirBookkeeping) {
    use("PEOPLE", "folk");
    use("KIDS", "kids");
    invoke("DBSELECTAREA", {"folk"});
    invoke("DBSETRELATION", {"kids", blockOf("AGEBLK"), "AGE"});
    EXPECT_EQ(textOf(invoke("DBRELATION", {1})), "AGE");
    EXPECT_EQ(textOf(invoke("DBRELATION", {2})), "");
    EXPECT_EQ(invoke("DBRSELECT", {1}).v.l, 2);
    EXPECT_EQ(areaAt(2)->parentCount, 1);
    Item info{};
    rdd::info(current(), DBI_RELATIONCOUNT, &info);
    EXPECT_EQ(info.v.l, 1);
    // the key evaluates in the parent's area, its value lands in the child
    EXPECT_EQ(rdd::relationEval(areaAt(2), current()->relations), RDD_OK);
    expectDouble(*areaAt(2)->result, 31, 3, 0);
    // a relation to itself, or to an empty area
    invoke("DBSETRELATION", {"folk", blockOf("AGEBLK")});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1013);
    EXPECT_EQ(errors[0].operation, "DBSETRELATION");
    invoke("DBSETRELATION", {9, blockOf("AGEBLK")});
    EXPECT_EQ(errors.back().d.subCode, 1004);
    // closing the child removes the relation from its parent
    invoke("DBSELECTAREA", {2});
    invoke("DBCLOSEAREA");
    EXPECT_EQ(areaAt(1)->relations, nullptr);
    use("KIDS", "kids");
    invoke("DBSELECTAREA", {1});
    invoke("DBSETRELATION", {2, blockOf("AGEBLK")});
    invoke("DBCLEARRELATION");
    EXPECT_EQ(areaAt(1)->relations, nullptr);
    EXPECT_EQ(areaAt(2)->parentCount, 0);
}

TEST_F(WorkAreas, TransferCopiesFieldPairsAndTheDeletionMark) {
    MemDriver::table("COPY", {{"WHO", 'C', 8, 0}}, {});
    use("COPY");
    WorkArea* to = current();
    use("PEOPLE");
    invoke("DBGOTO", {2});
    invoke("DBDELETE");
    FieldPair pairs[] = {{0, 0}};
    Item next = intItem(2);
    TransferInfo t{};
    t.destination = to;
    t.pairCount = 1;
    t.pairs = pairs;
    t.scope.next = &next;
    EXPECT_EQ(rdd::trans(current(), &t), RDD_OK);
    auto& rows = MemDriver::tables["COPY"].rows;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text[0], "BEA     ");
    EXPECT_TRUE(rows[0].deleted);
    EXPECT_EQ(rows[1].text[0], "CARL    ");
    EXPECT_FALSE(rows[1].deleted);
    FieldPair bad[] = {{5, 0}};
    t.pairs = bad;
    EXPECT_EQ(rdd::transRecord(current(), &t), RDD_FAILED);  // never a read past the fields
}

TEST_F(WorkAreas, ShutdownClosesEveryAreaAndTheCompileBuildsABlockOrFailsCleanly) {
    use("PEOPLE", "folk");
    use("KIDS");
    Item scope[LOCATE_ITEMS] = {};
    scope[1] = str("AGE > 3");
    rdd::setLocate(current(), scope);
    Item info{};
    rdd::info(current(), DBI_LOCATEFOR, &info);
    EXPECT_EQ(textOf(info), "AGE > 3");
    EXPECT_EQ(rdd::compile(current(), "PARENT > 1"), RDD_OK);  // the block lands in the result item
    ASSERT_TRUE(current()->result->type & T_BLOCK);
    Item block = *current()->result;
    EXPECT_EQ(rdd::evalBlock(current(), &block), RDD_OK);
    expectLogical(*current()->result, true);  // KAI's PARENT is 2
    EXPECT_EQ(rdd::compile(current(), "PARENT >"), RddResult{2});  // text that does not compile fails cleanly
    EXPECT_EXIT(rdd::compile(current(), std::string(257, 'x').c_str()), ::testing::ExitedWithCode(1), "1255");
    uint16_t size = 0;
    rdd::structSize(current(), &size);
    EXPECT_EQ(size, sizeof(test::MemArea));
    EXPECT_EQ(rddCallVia<RDD_STRUCTSIZE>(&defaultMethods(), current(), &size), RDD_OK);
    EXPECT_EQ(size, WORKAREA_SIZE);
    databaseEvent(EVENT_STOP);
    EXPECT_EQ(findSymbol("FOLK")->aliasArea, 0);
    EXPECT_EQ(findSymbol("NAME")->fieldChain, nullptr);
    EXPECT_EQ(fieldAccess()->areaExists(1), false);
    databaseEvent(EVENT_START);
}

// A program in pcode alone: create a table, open it under an alias, append
// and fill two records through the field opcodes, and read them back.
TEST_F(WorkAreas, APcodeProgramCreatesFillsAndReadsATable) {
    test::VmTest::TearDown();
    load(R"(
symbol MAIN proc
symbol DBCREATE
symbol DBUSEAREA
symbol DBAPPEND
symbol DBGOTOP
symbol DBSKIP
symbol CITY
symbol POP
symbol T
proc MAIN
    PUSHSYMNIL DBCREATE
    PUSHSTR "TOWNS"
    PUSHSTR "city"
    PUSHSTR "C"
    PUSHINT 10
    ZERO
    ARRAYGEN 4
    PUSHSTR "pop"
    PUSHSTR "N"
    PUSHINT 8
    ZERO
    ARRAYGEN 4
    ARRAYGEN 2
    DO 2
    PUSHSYMNIL DBUSEAREA
    TRUE
    PUSHNIL
    PUSHSTR "TOWNS"
    PUSHSTR "T"
    DO 4
    PUSHSYMNIL DBAPPEND
    DO 0
    PUSHSTR "Lima"
    POPFIELD CITY
    PUSHINT 7
    POPFIELD POP
    PUSHSYMNIL DBAPPEND
    DO 0
    PUSHSTR "Quito"
    POPFIELD CITY
    PUSHINT 3
    PUSHALIAS T
    POPALIASFIELD POP
    PUSHSYMNIL DBGOTOP
    DO 0
    PUSHFIELD CITY
    PUSHFIELD POP
    PUSHSYMNIL DBSKIP
    DO 0
    PUSHALIAS T
    PUSHALIASFIELD CITY
    PUSHFIELD POP
    RECNO
    LASTREC
    ARRAYGEN 6
    POPRET
    ENDPROC
end
)");
    MemDriver::install();
    answerLogical(false);
    Item r = call("MAIN");
    ASSERT_TRUE(isArray(&r));
    ASSERT_EQ(arrayLength(&r), 6u);
    Item* e = arrayItems(&r);
    EXPECT_EQ(textOf(e[0]), "Lima      ");
    expectDouble(e[1], 7, 8, 0);
    EXPECT_EQ(textOf(e[2]), "Quito     ");
    expectDouble(e[3], 3, 8, 0);
    expectInt(e[4], 2, 7);
    EXPECT_EQ(e[5].v.l, 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WorkAreas, PendingHooksWaitInTemporariesUntilATableTakesThem) {
    Item* age = tempAlloc();
    *age = call("AGEBLK");
    Item* nil = tempAlloc();
    *nil = call("NILBLK");
    invoke("DBSETHOOKS", {*age, Arg::nil(), *nil, 5});
    tempRelease(age);
    tempRelease(nil);
    itemClear(returnItem());
    collectGarbage(true);  // the pending hooks are roots of their own
    Item* hooks[TABLE_HOOKS];
    takePendingHooks(hooks);
    EXPECT_TRUE(hooks[0] && (hooks[0]->type & T_BLOCK));
    EXPECT_EQ(hooks[1], nullptr);
    EXPECT_TRUE(hooks[2] && (hooks[2]->type & T_BLOCK));
    for (int i = 3; i < TABLE_HOOKS; ++i) EXPECT_EQ(hooks[i], nullptr) << i;
    use("PEOPLE");
    EXPECT_EQ(evalInArea(current(), hooks[0]), 0);  // still a working block
    EXPECT_TRUE(errors.empty());
    expectDouble(*returnItem(), 31, 3, 0);
    for (Item* h : hooks)
        if (h) tempRelease(h);
    Item* again[TABLE_HOOKS];
    takePendingHooks(again);  // taken once: the set is empty now
    for (Item* h : again) EXPECT_EQ(h, nullptr);
}
