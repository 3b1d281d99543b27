// Independent readers and writers of the formats: python3-dbf reads every
// field of a table (and its memos) this engine wrote, pgdbf converts it to
// SQL, and this engine reads a table that python3-dbf wrote (its header
// length is 32 x fields + 33). Each check is skipped, with a message, where
// the tool is not installed.
#ifndef _WIN32
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/dates.h"

using namespace xb;
using test::Area;

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool pythonDbfInstalled() { return run("/usr/bin/python3 -c 'import dbf; print(1)' 2>/dev/null") == "1\n"; }
bool pgdbfInstalled() { return access("/usr/bin/pgdbf", X_OK) == 0; }

class DbfInterop : public test::DbfFixture {
protected:
    std::string script(const char* text) {
        std::string path = base + ".py";
        std::ofstream(path) << text;
        return path;
    }
    void TearDown() override {
        fsDelete((base + ".py").c_str());
        test::DbfFixture::TearDown();
    }
    // Three records over every type; the memos cover the in-place rewrite,
    // an append spanning blocks and an empty memo. (Neither tool reads the
    // high byte of a C field's length: the sample keeps C fields short.)
    void writeSample() {
        Area* a = create({{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"WHEN", 'D', 8, 0},
                          {"OK", 'L', 1, 0}, {"NOTES", 'M', 10, 0}});
        const char* names[] = {"Ana", "Bernardo", "Carmen"};
        const double amounts[] = {-12.35, 99999.99, 0};
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(dbfAppend(&a->t, false), 0);
            Item v[4] = {text(names[i]), doubleItem(amounts[i]), dateItem(i == 1 ? 0 : dateFromYmd(2014, 7, 31 - i, 0)),
                         logicalItem(i != 1)};
            for (uint32_t f = 0; f < 4; ++f) ASSERT_EQ(dbfPutValue(&a->t, f, &v[f]), 0);
        }
        std::string longMemo(1300, 'x');
        Item m1 = text("first"), m2 = text("second, rewritten in place"), m3 = text(longMemo.c_str());
        ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m1), 0);
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m2), 0);
        ASSERT_EQ(dbfGoTo(&a->t, 3), 0);
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m3), 0);
        close(a);
    }
};

TEST_F(DbfInterop, PythonDbfReadsWhatThisEngineWrote) {
    if (!pythonDbfInstalled()) GTEST_SKIP() << "python3-dbf is not installed (apt-get install python3-dbf)";
    writeSample();
    std::string py = script(
        "import dbf, sys\n"
        "t = dbf.Table(sys.argv[1]); t.open()\n"
        "print(len(t), t.field_names)\n"
        "for r in t:\n"
        "    print('%s|%s|%s|%s|%s' % (r.name.rstrip(), r.amount, r.when, r.ok, r.notes.split('\\x1a')[0][:30]))\n"
        "    print(len(r.name), len(r.notes.split('\\x1a')[0]))\n");
    std::string out = run("/usr/bin/python3 " + py + " " + base + ".dbf 2>&1");
    EXPECT_EQ(out,
              "3 ['name', 'amount', 'when', 'ok', 'notes']\n"
              "Ana|-12.35|2014-07-31|True|second, rewritten in place\n"
              "20 26\n"
              "Bernardo|99999.99|None|False|\n"
              "20 0\n"
              "Carmen|0.0|2014-07-29|True|xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
              "20 1300\n");
}

// python3-dbf reads a memo up to two end marks: a memo rewritten shorter
// in place must not show it the rest of the longer text it replaced.
TEST_F(DbfInterop, PythonDbfSeesAMemoRewrittenShorterInPlaceWhole) {
    if (!pythonDbfInstalled()) GTEST_SKIP() << "python3-dbf is not installed (apt-get install python3-dbf)";
    Area* a = create({{"NAME", 'C', 5, 0}, {"NOTES", 'M', 10, 0}});
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    Item longer = text("a longer text that the next one replaces"), shorter = text("short");
    ASSERT_EQ(dbfPutValue(&a->t, 1, &longer), 0);
    ASSERT_EQ(dbfPutValue(&a->t, 1, &shorter), 0);
    close(a);
    std::string py = script(
        "import dbf, sys\n"
        "t = dbf.Table(sys.argv[1]); t.open()\n"
        "for r in t:\n"
        "    print(repr(r.notes.rstrip()))\n");
    EXPECT_EQ(run("/usr/bin/python3 " + py + " " + base + ".dbf 2>&1"), "'short'\n");
}

TEST_F(DbfInterop, PgdbfConvertsTableAndMemos) {
    if (!pgdbfInstalled()) GTEST_SKIP() << "pgdbf is not installed (apt-get install pgdbf)";
    writeSample();
    std::string out = run("/usr/bin/pgdbf -m " + base + ".dbt " + base + ".dbf 2>&1");
    EXPECT_NE(out.find("CREATE TABLE"), std::string::npos) << out;
    EXPECT_NE(out.find("Ana"), std::string::npos) << out;
    EXPECT_NE(out.find("-12.35"), std::string::npos) << out;
    EXPECT_NE(out.find("2014-07-31"), std::string::npos) << out;
    EXPECT_NE(out.find("second, rewritten in place"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string(1300, 'x')), std::string::npos);
}

TEST_F(DbfInterop, ThisEngineReadsWhatPythonDbfWrote) {
    if (!pythonDbfInstalled()) GTEST_SKIP() << "python3-dbf is not installed (apt-get install python3-dbf)";
    std::string py = script(
        "import dbf, sys, datetime\n"
        "t = dbf.Table(sys.argv[1], 'name C(12); amount N(9,3); when D; ok L; notes M', dbf_type='db3')\n"
        "t.open(dbf.READ_WRITE)\n"
        "t.append(('Dolores', -1.5, datetime.date(1999, 12, 31), True, 'una nota'))\n"
        "t.append(('Esteban', 123.456, None, False, 'y' * 1000))\n"
        "dbf.delete(t[1])\n"
        "t.close()\n");
    ASSERT_EQ(run("/usr/bin/python3 " + py + " " + base + ".dbf 2>&1"), "");
    auto bytes = fileBytes(".dbf");
    ASSERT_GT(bytes.size(), 32u);
    EXPECT_EQ(test::le16(bytes, 8), 32u * 5 + 33);
    Area* a = open(false);
    ASSERT_EQ(a->t.recordCount, 2u);
    ASSERT_EQ(dbfGoTo(&a->t, 1), 0);
    EXPECT_EQ(getText(a, 0), "Dolores     ");
    expectDouble(get(a, 1), -1.5, 9, 3);
    EXPECT_EQ(get(a, 2).v.l, dateFromYmd(1999, 12, 31, 0));
    expectLogical(get(a, 3), true);
    EXPECT_EQ(getText(a, 4), "una nota");
    bool deleted = true;
    EXPECT_EQ(dbfDeleted(&a->t, &deleted), 0);
    EXPECT_FALSE(deleted);
    ASSERT_EQ(dbfGoTo(&a->t, 2), 0);
    EXPECT_EQ(getText(a, 4), std::string(1000, 'y'));
    EXPECT_EQ(dbfDeleted(&a->t, &deleted), 0);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(get(a, 2).v.l, kEmptyDate);
    EXPECT_TRUE(raisedHere.empty());
}

}  // namespace
#endif
