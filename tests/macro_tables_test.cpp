// The macro compiler over real tables (the DBF driver behind the database
// layer): get/set blocks on fields that keep their area and reach the file,
// aliased reads and stores from macro text (store mode included), TYPE of
// field names, plain names that find the current area's fields first, and
// the areas' compile operation feeding filters and dbEval conditions. Two
// tables, FIRST (NAME C 10, AMOUNT N 8.2, WHEN D, OK L, NOTES M) and SECOND
// (AMOUNT N 8.2), named mt_* in the working directory and removed afterwards.
#include "tests/support/macro_fixture.h"
#include "tests/support/native_call.h"

#include <string>

#include "macro/varblock.h"
#include "rdd/areas.h"
#include "rdd/method_table.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using xb::test::MacroTest;

namespace {

const char* const kFiles[] = {"mt_first.dbf", "mt_first.dbt", "mt_second.dbf"};

class MacroTables : public MacroTest {
protected:
    void SetUp() override {
        // Each test works in a folder of its own: ctest runs tests of this
        // suite in parallel processes that would share the file names.
        scratch = std::string("mt_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        os::createDirectory(scratch.c_str());
        ASSERT_TRUE(os::setCurrentDirectory(scratch.c_str()));
        MacroTest::SetUp();
        for (const char* f : kFiles) fsDelete(f);
        resetDriverRegistry();
        registerDriver("DBF", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBF");
        answerUnwind();
        run("DBCREATE('mt_first', {{'name', 'C', 10, 0}, {'amount', 'N', 8, 2}, {'when', 'D', 8, 0},"
            " {'ok', 'L', 1, 0}, {'notes', 'M', 10, 0}})");
        run("DBCREATE('mt_second', {{'AMOUNT', 'N', 8, 2}})");
        EXPECT_TRUE(run("FILE('mt_first.dbf')").v.l);
        run("DBUSEAREA(.T., 'DBF', 'mt_first', 'FIRST')");
        run("DBUSEAREA(.T., 'DBF', 'mt_second', 'SECOND')");
        for (int i = 1; i <= 3; ++i) {
            run("DBAPPEND()");
            run("FIELDPUT(1, " + std::to_string(20 * i) + ")");
        }
        run("DBGOTOP()");
        run("DBSELECTAREA(1)");
        const char* names[] = {"Lima", "Quito", "Bogota"};
        for (int i = 1; i <= 3; ++i) {
            run("DBAPPEND()");
            run(std::string("FIELDPUT(1, '") + names[i - 1] + "')");
            run("FIELDPUT(2, " + std::to_string(10 * i) + ")");
            run("FIELDPUT(4, " + std::string(i % 2 ? ".T." : ".F.") + ")");
        }
        run("DBGOTOP()");
        ASSERT_TRUE(errors.empty());
    }
    void TearDown() override {
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        for (const char* f : kFiles) fsDelete(f);
        fsDelete("mt_third.dbf");
        MacroTest::TearDown();
        os::setCurrentDirectory("..");
        os::removeDirectory(scratch.c_str());
    }
    std::string scratch;
    // Evaluates text and expects no error from it.
    Item run(const std::string& text) {
        Item r = eval(text);
        EXPECT_TRUE(errors.empty()) << text << ": " << (errors.empty() ? 0 : errors.back().d.genCode) << "/"
                                    << (errors.empty() ? 0 : errors.back().d.subCode) << " "
                                    << (errors.empty() ? "" : errors.back().operation);
        return r;
    }
    double number(const std::string& text) {
        Item r = run(text);
        EXPECT_TRUE(r.type & M_NUMERIC) << text;
        return r.type == T_DOUBLE ? r.v.d : r.v.l;
    }
    std::string textOf(const std::string& text) { return test::textOf(run(text)); }
    void reopen() {
        run("DBSELECTAREA(1)");
        run("DBCLOSEAREA()");
        run("DBSELECTAREA(2)");
        run("DBCLOSEAREA()");
        run("DBUSEAREA(.T., 'DBF', 'mt_first', 'FIRST')");
        run("DBUSEAREA(.T., 'DBF', 'mt_second', 'SECOND')");
        run("DBSELECTAREA(1)");
    }
};

TEST_F(MacroTables, AFieldBlockKeepsTheAreaItWasBuiltInAndReachesTheFile) {
    run("DBSELECTAREA('SECOND')");
    run("DBGOTO(2)");
    Item b = run("GETSETBLOCK('amount')");
    ASSERT_EQ(b.type, T_BLOCK);
    auto* cb = static_cast<Codeblock*>(bodyOf(&b)->data);
    std::string listing = pcasm::disassemble(cb->code, FIELD_BLOCK_SIZE);
    EXPECT_NE(listing.find("PUSHINT 2"), std::string::npos) << listing;  // the area, not the alias
    setVar("B", b);
    run("DBSELECTAREA('FIRST')");
    EXPECT_EQ(number("EVAL(b)"), 40);
    EXPECT_EQ(number("EVAL(b, 45.5)"), 45.5);
    EXPECT_EQ(number("SELECT()"), 1);  // evaluating it left the selection alone
    EXPECT_EQ(number("amount"), 10);   // FIRST's own AMOUNT untouched
    EXPECT_EQ(number("second->amount"), 45.5);

    // a memo field through its block, and a block from text with an alias
    Item notes = run("GETSETBLOCK('notes')");
    setVar("N", notes);
    std::string longText(700, 'm');
    setVar("LONG", str(longText));
    run("EVAL(n, long)");
    Item name = run("GETSETBLOCK('first->name')");
    setVar("NM", name);
    run("DBSELECTAREA(2)");
    run("EVAL(nm, 'Cali')");
    EXPECT_EQ(number("SELECT()"), 2);

    reopen();
    EXPECT_EQ(textOf("name"), "Cali      ");
    EXPECT_EQ(textOf("notes"), longText);
    EXPECT_EQ(number("LEN(notes)"), 700);
    EXPECT_EQ(number("second->(DBGOTO(2), amount)"), 45.5);
    // a block built on a closed area's field fails at its use, not earlier
    run("DBSELECTAREA(2)");
    run("DBCLOSEAREA()");
    run("DBSELECTAREA(1)");
    answerUnwind();
    eval("EVAL(b)");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 14);
    EXPECT_EQ(errors[0].d.subCode, 1003);
    EXPECT_EQ(errors[0].operation, "AMOUNT");
    errors.clear();
    // the same table opened again in that area: the block works again
    run("DBSELECTAREA(2)");
    run("DBUSEAREA(.F., 'DBF', 'mt_second', 'SECOND')");
    run("DBSELECTAREA(1)");
    EXPECT_EQ(number("EVAL(b)"), 20);
}

TEST_F(MacroTables, AliasedReadsAndStoresFromMacroText) {
    setVar("AMOUNT", intItem(99));
    EXPECT_EQ(number("amount"), 10);  // the current area's field comes before the variable
    EXPECT_EQ(number("M->amount"), 99);
    EXPECT_EQ(number("FIELD->amount"), 10);
    EXPECT_EQ(number("second->amount + first->amount"), 30);
    EXPECT_EQ(number("2->amount"), 20);
    EXPECT_EQ(number("&('second->amount')"), 20);
    EXPECT_EQ(number("second->(amount * 2 + RECNO())"), 41);
    EXPECT_EQ(number("SELECT()"), 1);
    setVar("WHICH", str("second"));
    EXPECT_EQ(number("1 + &which->amount"), 21);
    EXPECT_EQ(number("(which)->amount"), 20);

    EXPECT_EQ(number("(second->amount := 7)"), 7);
    EXPECT_EQ(number("((which)->amount := 8.25)"), 8.25);
    call("FIELDTEXT", {str("amount"), intItem(3)});                  // the current area
    call("FIELDTEXT", {str("second->amount"), doubleItem(4.5, 8, 2)});  // store mode through an alias
    call("ASSIGNTEXT", {str("first->name"), str("Caracas")});
    EXPECT_TRUE(errors.empty());
    Item viaOpcode = call("ALIASFIELD", {str("second"), str("amount")});
    EXPECT_EQ(viaOpcode.type == T_DOUBLE ? viaOpcode.v.d : viaOpcode.v.l, 4.5);
    EXPECT_EQ(number("SELECT()"), 1);

    reopen();  // everything stored is in the files
    EXPECT_EQ(number("amount"), 3);
    EXPECT_EQ(textOf("name"), "Caracas   ");
    EXPECT_EQ(number("second->amount"), 4.5);
    EXPECT_EQ(number("M->amount"), 99);
    run("DBSELECTAREA(0)");  // an empty area: the variable again
    EXPECT_EQ(number("amount"), 99);
    EXPECT_EQ(number("first->amount"), 3);
}

TEST_F(MacroTables, TypeOfFieldNames) {
    const struct {
        const char* text;
        const char* type;
    } cases[] = {
        {"name", "C"},           {"amount", "N"},        {"when", "D"},          {"ok", "L"},
        {"notes", "M"},          {"first->notes", "M"},  {"second->amount", "N"}, {"amount + 1", "N"},
        {"name + 'x'", "C"},     {"nosuch->amount", "UE"}, {"nosuchfield", "U"},  {"second->name", "UE"},
        {"FIELD->ok", "L"},      {"&('first->when')", "D"},
    };
    for (const auto& c : cases) EXPECT_EQ(type(c.text), c.type) << c.text;
    run("DBSELECTAREA(2)");
    EXPECT_EQ(type("name"), "U");  // no such field in this area, no such variable
    EXPECT_EQ(type("amount"), "N");
    EXPECT_TRUE(errors.empty());
}

TEST_F(MacroTables, TheCompileOperationFeedsFiltersAndDbEval) {
    WorkArea* a = currentArea();
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(rdd::compile(a, "amount > 15"), RDD_OK);
    ASSERT_EQ(a->result->type, T_BLOCK);
    Item* filter = tempAlloc();
    *filter = *a->result;
    setVar("F", *filter);
    run("DBSETFILTER(f, 'amount > 15')");
    EXPECT_EQ(textOf("DBFILTER()"), "amount > 15");
    run("DBGOTOP()");
    EXPECT_EQ(number("RECNO()"), 2);
    run("DBSKIP()");
    EXPECT_EQ(number("RECNO()"), 3);
    run("DBSKIP()");
    EXPECT_TRUE(run("EOF()").v.l);
    run("DBCLEARFILTER()");
    tempRelease(filter);

    // text that does not compile: status 2, nothing raised, the result untouched
    EXPECT_EQ(rdd::compile(a, "amount >"), RddResult{2});
    EXPECT_TRUE(errors.empty());

    // a filter compiled from macro text
    run("DBSETFILTER(&('{|| ok}'), 'ok')");
    EXPECT_EQ(number("(DBGOBOTTOM(), RECNO())"), 3);
    run("DBSKIP(-1)");
    EXPECT_EQ(number("RECNO()"), 1);
    run("DBCLEARFILTER()");

    // dbEval with conditions compiled from text: for, while, next
    setVar("TOTAL", intItem(0));
    run("DBEVAL({|| total += amount}, &('{|| amount >= 20}'))");
    EXPECT_EQ(number("total"), 50);
    run("(total := 0)");
    run("DBGOTOP()");  // a while-condition starts at the current record
    run("DBEVAL({|| total += amount}, , &('{|| amount < 30}'))");
    EXPECT_EQ(number("total"), 30);
    run("(total := 0)");
    run("DBGOTO(2)");
    run("DBEVAL(&('{|| total += RECNO()}'), , , 1)");
    EXPECT_EQ(number("total"), 2);
    // a plain name stored to is a memory variable; FIELD-> reaches the field
    run("DBEVAL(&('{|| FIELD->amount := amount * 2}'), &('{|| !ok}'))");
    setVar("AMOUNT", intItem(0));
    run("DBEVAL(&('{|| amount := RECNO()}'))");
    EXPECT_EQ(number("M->amount"), 3);
    reopen();
    EXPECT_EQ(number("(DBGOTO(2), amount)"), 40);
    EXPECT_EQ(number("(DBGOTO(1), amount)"), 10);
}

}  // namespace

// The built-ins 128..139 compiled from text run against the DBF driver.
TEST_F(MacroTables, TheBuiltinsOverARealTable) {
    EXPECT_EQ(code("{BOF(), EOF(), DELETED(), FOUND(), FCOUNT(), LASTREC(), RECNO(), SELECT(), SELECT('a'),"
                   " FIELDNAME(1), RLOCK(), FLOCK()}"),
              "BOF; EOF; DELETED; FOUND; FCOUNT; LASTREC; RECNO; SELECT0; PUSHSTR \"a\"; SELECT1; ONE; FIELDNAME; "
              "RLOCK; FLOCK; ARRAYGEN 12; ENDPROC");
    const std::string all = "{BOF(), EOF(), DELETED(), FOUND(), FCOUNT(), LASTREC(), RECNO(), SELECT(),"
                            " SELECT('second'), SELECT('nosuch'), FIELDNAME(2), FIELDNAME(9)}";
    auto show = [&](const std::string& text) {
        Item r = run(text);
        std::string out;
        for (uint32_t i = 0; i < arrayLength(&r); ++i) {
            const Item& e = arrayItems(&r)[i];
            out += e.type == T_LOGICAL ? (e.v.l ? "T" : "F")
                   : isString(&e)      ? test::textOf(e)
                                       : std::to_string(e.type == T_DOUBLE ? int(e.v.d) : e.v.l);
            out += i + 1 < arrayLength(&r) ? "," : "";
        }
        return out;
    };
    EXPECT_EQ(show(all), "F,F,F,F,5,3,1,1,2,0,AMOUNT,");
    run("DBGOBOTTOM()");
    run("DBSKIP()");
    EXPECT_EQ(show(all), "F,T,F,F,5,3,4,1,2,0,AMOUNT,");  // the phantom record is count + 1
    run("DBGOTO(2)");
    run("DBDELETE()");
    run("DBSKIP(-1)");
    run("DBSKIP(-1)");
    EXPECT_EQ(show(all), "T,F,F,F,5,3,1,1,2,0,AMOUNT,");
    EXPECT_TRUE(run("(DBGOTO(2), DELETED())").v.l);
    // exclusive: no record lock is taken in the call, the file counts as locked
    EXPECT_FALSE(run("RLOCK()").v.l);
    EXPECT_TRUE(run("FLOCK()").v.l);
    EXPECT_EQ(number("second->(LASTREC() + RECNO())"), 4);
    run("DBCLOSEAREA()");
    EXPECT_EQ(show(all), "T,T,F,F,0,0,0,1,2,0,,");
    // shared: a record lock is listed, and released
    run("DBUSEAREA(.F., 'DBF', 'mt_first', 'FIRST', .T.)");
    EXPECT_TRUE(run("(DBGOTO(3), RLOCK())").v.l);
    EXPECT_EQ(number("LEN(DBRLOCKLIST())"), 1);
    EXPECT_EQ(number("DBRLOCKLIST()[1]"), 3);
    EXPECT_FALSE(run("RLOCK()").v.l);  // already held: not taken in this call
    EXPECT_EQ(number("LEN(DBRLOCKLIST())"), 1);
    run("DBRUNLOCK()");
    EXPECT_EQ(number("LEN(DBRLOCKLIST())"), 0);
    EXPECT_TRUE(run("(DBGOTO(2), DELETED())").v.l);  // the deletion reached the file
}

// A relation by record number: the child follows each move of the parent,
// and is positioned only when something uses it.
TEST_F(MacroTables, ARelationByRecordNumberFollowsTheParent) {
    run("DBSETRELATION('second', &('{|| amount / 10 + 1}'), 'amount / 10 + 1')");
    EXPECT_EQ(textOf("DBRELATION(1)"), "amount / 10 + 1");
    EXPECT_EQ(number("DBRSELECT(1)"), 2);
    EXPECT_EQ(textOf("DBRELATION(2)"), "");
    const struct {
        const char* move;
        int parent, child;
        bool childEof;
        double childAmount;
    } steps[] = {
        {"DBGOTOP()", 1, 2, false, 40},  // set at once: record 1 → 2
        {"DBSKIP()", 2, 3, false, 60},
        {"DBSKIP()", 3, 4, true, 0},     // 4 does not exist: the phantom record
        {"DBSKIP(-2)", 1, 2, false, 40},
        {"DBGOBOTTOM()", 3, 4, true, 0},
        {"DBGOTO(2)", 2, 3, false, 60},
    };
    for (const auto& s : steps) {
        run(s.move);
        EXPECT_EQ(number("RECNO()"), s.parent) << s.move;
        // the field read forces the pending relation before anything else
        EXPECT_EQ(number("second->amount"), s.childAmount) << s.move;
        EXPECT_EQ(number("second->(RECNO())"), s.child) << s.move;
        EXPECT_EQ(run("second->(EOF())").v.l != 0, s.childEof) << s.move;
    }
    run("DBCLEARRELATION()");
    run("DBGOTOP()");
    EXPECT_EQ(number("second->(RECNO())"), 3);  // left where it was
    EXPECT_EQ(textOf("DBRELATION(1)"), "");
}

// HEADER, RECSIZE and LUPDATE read what the file says; a change sets today.
TEST_F(MacroTables, HeaderRecordSizeAndLastUpdateComeFromTheFile) {
    EXPECT_EQ(number("HEADER()"), 32 * 5 + 34);
    EXPECT_EQ(number("RECSIZE()"), 1 + 10 + 8 + 8 + 1 + 10);
    EXPECT_EQ(number("second->(HEADER())"), 32 + 34);
    EXPECT_EQ(number("second->(RECSIZE())"), 1 + 8);
    run("DBSELECTAREA(2)");
    run("DBCLOSEAREA()");
    const struct {
        uint8_t y, m, d;
        const char* dtos;
    } dates[] = {{99, 12, 31, "19991231"}, {126, 3, 15, "20260315"}, {0, 1, 1, "19000101"}};
    for (const auto& d : dates) {
        os::Handle h = fsOpen("mt_second.dbf", 2);
        ASSERT_NE(h, os::INVALID);
        uint8_t b[3] = {d.y, d.m, d.d};
        fsSeek(h, 1, os::FROM_BEGIN);
        ASSERT_EQ(fsWriteLong(h, b, 3), 3u);
        fsClose(h);
        run("DBUSEAREA(.F., 'DBF', 'mt_second', 'SECOND')");
        EXPECT_EQ(textOf("DTOS(LUPDATE())"), d.dtos);
        EXPECT_EQ(textOf("DTOS(first->(LUPDATE()))"), textOf("DTOS(DATE())"));
        run("DBCLOSEAREA()");
    }
    run("DBUSEAREA(.F., 'DBF', 'mt_second', 'SECOND')");
    run("FIELDPUT(1, 1)");
    run("DBCOMMIT()");
    EXPECT_EQ(textOf("DTOS(LUPDATE())"), textOf("DTOS(DATE())"));
    EXPECT_EQ(textOf("DTOS(first->(LUPDATE()))"), textOf("DTOS(DATE())"));
}

// Table hooks compiled from text wait until the next open of a table (a
// create does not take them), see the record they follow, and are gone after.
TEST_F(MacroTables, HooksFromTextAreTakenByTheNextOpenOnly) {
    setVar("SEEN", array(0));
    run("DBSELECTAREA(2)");
    run("DBCLOSEAREA()");
    run("DBSETHOOKS(&('{|| AADD(seen, \"open\")}'), &('{|| AADD(seen, \"close\")}'), , , , "
        "&('{|| AADD(seen, amount)}'))");
    collectGarbage(true);  // the pending blocks are rooted
    run("DBCREATE('mt_third', {{'AMOUNT', 'N', 3, 0}})");
    fsDelete("mt_third.dbf");
    EXPECT_EQ(number("LEN(seen)"), 0);
    run("DBUSEAREA(.F., 'DBF', 'mt_second', 'SECOND')");
    EXPECT_EQ(number("amount + 0"), 20);  // the first use reads the record: hook 6
    run("DBSKIP()");
    EXPECT_EQ(number("amount"), 40);
    EXPECT_EQ(number("amount"), 40);  // read once only
    run("DBSELECTAREA(1)");
    EXPECT_EQ(number("amount"), 10);  // another table: no hooks there
    run("DBSELECTAREA(2)");
    run("DBCLOSEAREA()");
    run("DBUSEAREA(.F., 'DBF', 'mt_second', 'SECOND')");
    EXPECT_EQ(number("amount"), 20);
    run("DBCLOSEAREA()");
    EXPECT_EQ(number("LEN(seen)"), 4);
    EXPECT_EQ(textOf("seen[1]"), "open");
    EXPECT_EQ(number("seen[2]"), 20);
    EXPECT_EQ(number("seen[3]"), 40);
    EXPECT_EQ(textOf("seen[4]"), "close");
}

// Stores from macro text of values a field cannot take: a data type error
// (or a width error) of the driver each, and the record as it was.
TEST_F(MacroTables, StoresTheFieldCannotTakeAreRefused) {
    const struct {
        const char* text;
        uint16_t sub;
    } cases[] = {
        {"(first->amount := 'x')", 1020},    {"(first->amount := NIL)", 1020},
        {"(first->name := 5)", 1020},        {"(first->when := 'x')", 1020},
        {"(first->ok := 1)", 1020},          {"(first->notes := {1})", 1020},
        {"EVAL(GETSETBLOCK('notes'), 5)", 1020}, {"(FIELD->amount := 123456)", 1021},
        {"(second->amount := -99999)", 1021},
    };
    answerUnwind();
    for (const auto& c : cases) {
        errors.clear();
        eval(c.text);
        ASSERT_EQ(errors.size(), 1u) << c.text;
        EXPECT_EQ(errors[0].d.subCode, c.sub) << c.text;
        EXPECT_EQ(errors[0].subsystem, "DBF") << c.text;
    }
    errors.clear();
    reopen();
    EXPECT_EQ(textOf("name"), "Lima      ");
    EXPECT_EQ(number("amount"), 10);
    EXPECT_TRUE(run("ok").v.l);
    EXPECT_EQ(textOf("notes"), "");
    EXPECT_EQ(number("second->amount"), 20);
}
