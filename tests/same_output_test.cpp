// Files and texts do not depend on the build: one program's error output,
// and another program's table and memo files, written by xbrun of this
// build, are compared byte for byte with what the i386 build wrote for them
// (checked in beside the programs). The table header's date of the last
// update is the day of the run: the test checks it and then fixes it. A
// third program's index files (built, then kept while records change) are
// compared whole: their header holds no date.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "tests/support/program_run.h"

namespace {

std::string readSource(const char* relative) {
    std::ifstream f(std::string(XB_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(SameOutput, ErrorTxtHasTheBytesTheI386BuildWrote) {
    xb::test::ProgramRun scratch;
    std::string xbrun = scratch.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    const std::string program = readSource("tests/data/same_output.xbasm");
    const std::string expected = readSource("tests/data/same_output.Error.txt");
    ASSERT_FALSE(program.empty());
    ASSERT_FALSE(expected.empty());
    std::string file = scratch.write("prog.xbasm", program);
    xb::test::RunResult r = scratch.run(xbrun, {file});
    EXPECT_EQ(r.exitCode, 1);  // the error report ends the run
    EXPECT_EQ(scratch.read("Error.txt"), expected);
}

// Bytes 1..3 of a table header: the year since 1900, the month, the day.
std::string headerDate(const xb::os::LocalTime& t) {
    return std::string{char(t.year - 1900), char(t.month), char(t.day)};
}

TEST(SameOutput, TableAndMemoFilesHaveTheBytesTheI386BuildWrote) {
    xb::test::ProgramRun scratch;
    std::string xbrun = scratch.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    const std::string program = readSource("tests/data/same_tables.xbasm");
    const std::string expectedDbf = readSource("tests/data/same_tables.dbf");
    const std::string expectedDbt = readSource("tests/data/same_tables.dbt");
    ASSERT_GT(expectedDbf.size(), 32u);
    ASSERT_FALSE(expectedDbt.empty());
    std::string file = scratch.write("prog.xbasm", program);
    xb::os::LocalTime before{}, after{};
    xb::os::localTime(&before);
    // the program names its table without a directory: run it in the scratch one
    std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(scratch.dir);
    xb::test::RunResult r = scratch.run(xbrun, {file});
    std::filesystem::current_path(home);
    xb::os::localTime(&after);
    ASSERT_EQ(r.exitCode, 0) << r.err << scratch.read("Error.txt");
    std::string dbf = scratch.read("same.dbf");
    ASSERT_EQ(dbf.size(), expectedDbf.size());
    std::string date = dbf.substr(1, 3);
    EXPECT_TRUE(date == headerDate(before) || date == headerDate(after));
    dbf.replace(1, 3, expectedDbf.substr(1, 3));
    EXPECT_TRUE(dbf == expectedDbf) << "same.dbf differs from the i386 build's bytes";
    EXPECT_TRUE(scratch.read("same.dbt") == expectedDbt) << "same.dbt differs from the i386 build's bytes";
    // a few landmarks, so that a wrong reference file cannot pass unnoticed
    EXPECT_EQ(uint8_t(dbf[0]), 0x83);
    EXPECT_EQ(dbf[4], 4);                                       // records
    EXPECT_EQ(uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8, 32 * 7 + 34);  // header length
    EXPECT_EQ(dbf.back(), '\x1A');
    EXPECT_EQ(expectedDbt.size() % 512, 3774u % 512);  // memos end with two marks in their blocks
}

TEST(SameOutput, IndexFilesHaveTheBytesTheI386BuildWrote) {
    xb::test::ProgramRun scratch;
    std::string xbrun = scratch.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    const std::string program = readSource("tests/data/same_index.xbasm");
    ASSERT_FALSE(program.empty());
    std::string file = scratch.write("prog.xbasm", program);
    std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(scratch.dir);
    xb::test::RunResult r = scratch.run(xbrun, {file});
    std::filesystem::current_path(home);
    ASSERT_EQ(r.exitCode, 0) << r.err << scratch.read("Error.txt");
    // bag, key size, key text, for-condition text, descending
    struct Index {
        const char* bag;
        int keySize;
        const char* key;
        const char* forText;
        bool descending;
    };
    const Index indexes[] = {
        {"sidx_nam", 12, "NAME", "", false},
        {"sidx_amt", 10, "AMOUNT", "", false},
        {"sidx_exp", 22, "UPPER(NAME)+STR(AMOUNT,10,3)", "AMOUNT > 0", true},
    };
    for (const Index& x : indexes) {
        SCOPED_TRACE(x.bag);
        const std::string expected = readSource((std::string("tests/data/same_index.") + x.bag + ".ntx").c_str());
        const std::string got = scratch.read((std::string(x.bag) + ".ntx").c_str());
        ASSERT_GT(expected.size(), 2048u);  // more than one page of keys
        EXPECT_EQ(expected.size() % 1024, 0u);
        EXPECT_TRUE(got == expected) << x.bag << ".ntx differs from the i386 build's bytes";
        // landmarks of the reference itself
        EXPECT_EQ(uint8_t(expected[14]) | uint8_t(expected[15]) << 8, x.keySize);
        EXPECT_EQ(std::string(&expected[22]), x.key);
        EXPECT_EQ(std::string(&expected[282]), x.forText);
        EXPECT_EQ(expected[0] == 7, *x.forText != 0);  // the signature of an order with a condition
        EXPECT_EQ(expected[280] != 0, x.descending);
    }
}

}  // namespace
