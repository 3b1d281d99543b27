// Index orders whose key and for-condition are expressions given as text:
// the DBFNTX driver compiles them through the area's compile operation (the
// macro compiler). Each order is created, the table closed, and the order
// reopened from its file alone, so that key and condition are compiled from
// the texts stored in the index header. Walks and seeks are checked against
// a model of the keys; record changes must keep every order right (the
// driver's verifier and the model again). Texts that do not compile, at
// creation or in a damaged index header, fail with an error and no order.
// Files are named nx_* in a folder of the test's own.
#include "tests/support/macro_fixture.h"
#include "tests/support/native_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "rdd/areas.h"
#include "rdd/ntx/ntx_driver.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using xb::test::MacroTest;

namespace {

struct Row {
    std::string name;  // as stored: padded to 10
    double amount;
};

class NtxExpr : public MacroTest {
protected:
    std::string scratch;
    std::vector<Row> rows;

    void SetUp() override {
        scratch = std::string("nx_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        os::createDirectory(scratch.c_str());
        ASSERT_TRUE(os::setCurrentDirectory(scratch.c_str()));
        MacroTest::SetUp();
        resetDriverRegistry();
        registerDriver("DBF", 1);
        registerDriver("DBFNTX", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBFNTX");
        answerUnwind();
        run("DBCREATE('nx_t', {{'NAME', 'C', 10, 0}, {'AMOUNT', 'N', 10, 2}})");
        open();
        const std::pair<const char*, double> data[] = {{"lima", 10},     {"Quito", -5},     {"bogota", 0},
                                                       {"Caracas", 250.75}, {"ASUNCION", 3.5}, {"quito", 99},
                                                       {"Lima", -0.25}};
        for (const auto& d : data) appendRow(d.first, d.second);
        ASSERT_TRUE(errors.empty());
    }
    void TearDown() override {
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        const char* files[] = {"nx_t.dbf", "nx_a.ntx", "nx_b.ntx", "nx_c.ntx", "nx_bad.ntx"};
        for (const char* f : files) fsDelete(f);
        MacroTest::TearDown();
        os::setCurrentDirectory("..");
        os::removeDirectory(scratch.c_str());
    }
    Item run(const std::string& text) {
        Item r = eval(text);
        EXPECT_TRUE(errors.empty()) << text << ": " << (errors.empty() ? 0 : errors.back().d.genCode) << "/"
                                    << (errors.empty() ? 0 : errors.back().d.subCode);
        return r;
    }
    double number(const std::string& text) {
        Item r = run(text);
        EXPECT_TRUE(r.type & M_NUMERIC) << text;
        return r.type == T_DOUBLE ? r.v.d : r.v.l;
    }
    bool logical(const std::string& text) {
        Item r = run(text);
        EXPECT_EQ(r.type, T_LOGICAL) << text;
        return r.v.l != 0;
    }
    void open() { run("DBUSEAREA(.F., 'DBFNTX', 'nx_t', 'T')"); }
    void close() { run("DBCLOSEAREA()"); }
    static std::string padded(const std::string& s) { return (s + std::string(10, ' ')).substr(0, 10); }
    void appendRow(const std::string& name, double amount) {
        run("DBAPPEND()");
        put(uint32_t(rows.size() + 1), name, amount, false);
        rows.push_back({padded(name), amount});
    }
    void put(uint32_t recno, const std::string& name, double amount, bool go = true) {
        if (go) run("DBGOTO(" + std::to_string(recno) + ")");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.2f", amount);
        run("FIELDPUT(1, '" + name + "')");
        run(std::string("FIELDPUT(2, ") + buf + ")");
        if (go) rows[recno - 1] = {padded(name), amount};
    }
    // The records in the controlling order, top to bottom.
    std::vector<uint32_t> walk() {
        std::vector<uint32_t> out;
        run("DBGOTOP()");
        while (!logical("EOF()") && out.size() <= rows.size()) {
            out.push_back(uint32_t(number("RECNO()")));
            run("DBSKIP(1)");
        }
        return out;
    }
    std::vector<uint32_t> walkBack() {
        std::vector<uint32_t> out;
        run("DBGOBOTTOM()");
        while (!logical("BOF()") && out.size() <= rows.size()) {
            out.push_back(uint32_t(number("RECNO()")));
            run("DBSKIP(-1)");
        }
        return out;
    }
    void verifyAll() {
        WorkArea* a = currentArea();
        ASSERT_NE(a, nullptr);
        for (uint16_t n = 1; n <= ntxOrderCount(a); ++n) {
            NtxCheckResult r{};
            EXPECT_EQ(ntxVerifyOrder(a, n, &r), RDD_OK) << "order " << n << ": " << r.message;
        }
    }
};

// The model of one order: its key and condition computed in C++.
struct Case {
    const char* bag;
    const char* key;
    const char* forText;  // "" for none
    std::string (*keyOf)(const Row&);
    bool (*forOf)(const Row&);
};

std::string upperKey(const Row& r) {
    std::string s = r.name;
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
std::string amountNameKey(const Row& r) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%10.2f", r.amount);
    return buf + r.name;
}
std::string nameKey(const Row& r) { return r.name; }
bool always(const Row&) { return true; }
bool positive(const Row& r) { return r.amount > 0; }

const Case kCases[] = {
    {"nx_a", "UPPER(NAME)", "", upperKey, always},
    {"nx_b", "STR(AMOUNT,10,2)+NAME", "", amountNameKey, always},
    {"nx_c", "NAME", "AMOUNT > 0", nameKey, positive},
};

// Equal keys keep record order.
std::vector<uint32_t> modelOrder(const std::vector<Row>& rows, const Case& c) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < rows.size(); ++i)
        if (c.forOf(rows[i])) out.push_back(i + 1);
    std::stable_sort(out.begin(), out.end(),
                     [&](uint32_t x, uint32_t y) { return c.keyOf(rows[x - 1]) < c.keyOf(rows[y - 1]); });
    return out;
}

TEST_F(NtxExpr, OrdersFromKeyAndConditionTextReopenFromTheirFilesAndStayRight) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.key);
        if (*c.forText) run(std::string("ORDCONDSET('") + c.forText + "')");
        run(std::string("ORDCREATE('") + c.bag + "', NIL, '" + c.key + "')");
        EXPECT_EQ(walk(), modelOrder(rows, c));
        close();
        open();  // with no order
        EXPECT_EQ(ntxOrderCount(currentArea()), 0);
    }
    // Reopened from the files alone: key and condition come from the headers.
    for (const Case& c : kCases) run(std::string("ORDLISTADD('") + c.bag + "')");
    EXPECT_EQ(ntxOrderCount(currentArea()), 3);
    for (int n = 1; n <= 3; ++n) {
        const Case& c = kCases[n - 1];
        SCOPED_TRACE(c.key);
        run("ORDSETFOCUS(" + std::to_string(n) + ")");
        EXPECT_EQ(test::textOf(run("ORDKEY()")), c.key);
        EXPECT_EQ(test::textOf(run("ORDFOR()")), c.forText);
        std::vector<uint32_t> expected = modelOrder(rows, c);
        EXPECT_EQ(walk(), expected);
        std::reverse(expected.begin(), expected.end());
        EXPECT_EQ(walkBack(), expected);
    }
    verifyAll();

    // Seeks through each order: the first record of a key, soft seeks to
    // the next key, and keys the condition keeps out.
    struct Seek {
        int order;
        const char* value;
        bool soft;
        bool found;
        uint32_t recno;  // 0: end of file
    };
    const Seek seeks[] = {
        {1, "'QUITO'", false, true, 2},     {1, "'LIMA'", false, true, 1},       {1, "'lima'", false, false, 0},
        {1, "'M'", true, false, 2},          {1, "'C'", false, true, 4},          {1, "'Z'", true, false, 0},
        {2, "STR(250.75,10,2)", false, true, 4}, {2, "STR(-5,10,2)+'Quito'", false, true, 2},
        {2, "STR(3.5,10,2)+'B'", true, false, 7}, {2, "STR(1,10,2)", false, false, 0},
        {3, "'bogota'", false, false, 0},    {3, "'Quito'", false, false, 0},     {3, "'quito'", false, true, 6},
        {3, "'Lima'", true, false, 1},       {3, "'ASUNCION'", false, true, 5},
    };
    for (const Seek& s : seeks) {
        SCOPED_TRACE(std::string(kCases[s.order - 1].key) + " seek " + s.value);
        run("ORDSETFOCUS(" + std::to_string(s.order) + ")");
        EXPECT_EQ(logical(std::string("DBSEEK(") + s.value + (s.soft ? ", .T.)" : ", .F.)")), s.found);
        if (s.recno) {
            EXPECT_EQ(number("RECNO()"), s.recno);
        } else {
            EXPECT_TRUE(logical("EOF()"));
        }
    }

    // Changes: keys move, records leave and enter the conditional order,
    // a new record joins every order.
    struct Change {
        uint32_t recno;  // 0: a new record
        const char* name;
        double amount;
    };
    const Change changes[] = {
        {3, "Bogota", 12.5},  {2, "aaa", -1},  {6, "quito", -99},  {0, "Zulia", 0.01},
        {1, "LIMA", 10},      {4, "caracas", 250.75}, {7, "lima", 500},
    };
    for (const Change& ch : changes) {
        SCOPED_TRACE(ch.name);
        if (ch.recno) put(ch.recno, ch.name, ch.amount);
        else appendRow(ch.name, ch.amount);
        run("DBCOMMIT()");
        verifyAll();
        for (int n = 1; n <= 3; ++n) {
            run("ORDSETFOCUS(" + std::to_string(n) + ")");
            EXPECT_EQ(walk(), modelOrder(rows, kCases[n - 1])) << kCases[n - 1].key;
        }
    }
    // And again from the files after closing.
    close();
    open();
    for (const Case& c : kCases) run(std::string("ORDLISTADD('") + c.bag + "')");
    verifyAll();
    for (int n = 1; n <= 3; ++n) {
        run("ORDSETFOCUS(" + std::to_string(n) + ")");
        EXPECT_EQ(walk(), modelOrder(rows, kCases[n - 1])) << kCases[n - 1].key;
    }
}

TEST_F(NtxExpr, AKeyOrConditionTextThatDoesNotCompileFailsWithAnErrorAndNoOrder) {
    const std::pair<const char*, const char*> bad[] = {
        {"UPPER(NAME", ""},  {"NAME +", ""},  {"UPPER(NAME)", "AMOUNT >"},  {"(", ""},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(std::string(b.first) + " / " + b.second);
        errors.clear();
        if (*b.second) run(std::string("ORDCONDSET('") + b.second + "')");
        eval(std::string("ORDCREATE('nx_bad', NIL, '") + b.first + "')");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].d.genCode, 7);
        EXPECT_EQ(errors[0].d.subCode, 1449);
        errors.clear();
        EXPECT_EQ(ntxOrderCount(currentArea()), 0);
        EXPECT_EQ(walk(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));  // natural order still works
    }
    // A good order whose stored key text is then damaged: reopening it fails
    // without an order, and the table keeps working.
    run("ORDCREATE('nx_a', NIL, 'UPPER(NAME)')");
    close();
    {
        std::fstream f("nx_a.ntx", std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        f.seekp(22);  // the key text
        f.write("UPPER((NAME", 12);
    }
    open();
    errors.clear();
    eval("ORDLISTADD('nx_a')");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 7);
    EXPECT_EQ(errors[0].d.subCode, 1449);
    errors.clear();
    EXPECT_EQ(ntxOrderCount(currentArea()), 0);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    fsDelete("nx_a.ntx");
}

}  // namespace
