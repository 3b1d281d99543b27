// Tables end to end through xbrun: a pcode program that creates a table
// with a memo, fills it through the field opcodes, filters it by a condition
// given as macro text, changes it through an alias named in macro text and
// reads it back after opening it again; and an expression shell session
// doing the same through the database functions. Both run in a scratch
// directory and their output is compared line by line.
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readSource(const char* relative) {
    std::ifstream f(std::string(XB_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(TablesEndToEnd, AProgramFillsFiltersChangesAndRereadsATableWithAMemo) {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    std::string file = run.write("prog.xbasm", readSource("tests/data/tables_e2e.xbasm"));
    xb::test::RunResult r = run.run(xbrun, {"prog.xbasm"}, "", true);
    EXPECT_EQ(r.exitCode, 0) << run.read("Error.txt");
    // record number, name, quantity, memo length (read by macro text) and
    // the memo's first 12 bytes, written with OUTERR: on standard error, as
    // xbrun is a console program (CR LF read as LF)
    std::string err;
    for (char c : r.err)
        if (c != '\r') err += c;
    EXPECT_EQ(err,
              "QTY >= 20 .AND. LEN(NOTES) > 0\n"
              "      2 Bob          20      1000 bbbbbbbbbbbb\n"
              "      3 Cid          30         5 third\n"
              "      5 Eve          50       600 eeeeeeeeeeee\n"
              "reopened\n"
              "      1 Ann          10        10 kept short\n"
              "      2 Bob          20      1000 bbbbbbbbbbbb\n"
              "      3 Cid          30         5 third\n"
              "      4 Dee          44        14 a memo for D\n"
              "      5 Eve          50       600 eeeeeeeeeeee\n");
    // the memo file: header, the filler block, then Ann 2, Bob 3-4, Cid 5,
    // Eve 6-7, Dee 8 (written last, after the reopening)
    std::string dbt = run.read("e2e.dbt");
    // (each memo ends with two 0x1A bytes when the second stays in its block)
    ASSERT_EQ(dbt.size(), 8u * 512 + 14 + 2);
    EXPECT_EQ(dbt.substr(0, 4), std::string("\x09\0\0\0", 4));
    EXPECT_EQ(dbt.substr(2 * 512, 12), "kept short\x1A\x1A");
    EXPECT_EQ(dbt.substr(8 * 512), "a memo for Dee\x1A\x1A");
    std::string dbf = run.read("e2e.dbf");
    const size_t header = 32 * 3 + 34, record = 1 + 10 + 5 + 10;
    ASSERT_EQ(dbf.size(), header + 5 * record + 1);
    EXPECT_EQ(dbf.substr(header + 3 * record, record), std::string(" ") + "Dee       " + "   44" + "         8");
}

struct ShellRun {
    int exitCode;
    std::string out, err;
};

ShellRun shell(xb::test::ProgramRun& run, const std::vector<std::string>& args) {
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) return {-1, "", "xbrun was not built"};
    xb::test::RunResult r = run.run(xbrun, args, "", true);
    return {r.exitCode, r.out, r.err};
}

TEST(TablesEndToEnd, AnExpressionSessionWorksATableThroughTheFunctions) {
    xb::test::ProgramRun run;
    const std::vector<std::pair<std::string, std::string>> steps = {
        {"DBCREATE('sess', {{'NAME','C',8,0},{'QTY','N',4,0},{'NOTES','M',10,0}})", "NIL"},
        {"DBUSEAREA(.T., 'DBF', 'sess')", "NIL"},
        {"DBAPPEND()", "NIL"},
        {"FIELDPUT(1, 'one')", "one"},
        {"FIELDPUT(2, 5)", "         5"},
        {"LEN(FIELDPUT(3, REPLICATE('z', 520)))", "       520"},
        {"DBAPPEND()", "NIL"},
        {"(sess->name := 'two', sess->qty := 7)", "         7"},
        {"FIELDPOS('qty')", "         2"},
        {"DBSETFILTER(&('{|| QTY > 5}'), 'QTY > 5')", "NIL"},
        {"(DBGOTOP(), RECNO())", "      2"},
        {"FIELDGET(1)", "two     "},
        {"(DBSKIP(-1), BOF())", ".T."},
        {"DBFILTER()", "QTY > 5"},
        {"HEADER()", "       130"},  // 32 × 3 fields + 34
        {"RECSIZE()", "        23"},  // 1 + 8 + 4 + 10
        {"LUPDATE() == DATE()", ".T."},
        {"ALIAS()", "SESS"},
        {"TYPE('notes')", "M"},
        {"DBCLOSEAREA()", "NIL"},
        {"USED()", ".F."},
        {"(DBUSEAREA(.T., 'DBF', 'sess'), LASTREC())", "         2"},
        {"LEN(FIELDGET(3))", "       520"},
        {"sess->(DBGOTO(2), name)", "two     "},
        {"LEN(DBSTRUCT())", "         3"},
    };
    std::vector<std::string> args = {"-e"};
    std::string expected;
    for (const auto& s : steps) {
        args.push_back(s.first);
        expected += s.second + "\n";
    }
    ShellRun r = shell(run, args);
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    std::string dbf = run.read("sess.dbf");
    ASSERT_EQ(dbf.size(), 130u + 2 * 23 + 1);
    EXPECT_EQ(dbf.substr(130, 23), " one        5         2");
}

}  // namespace
