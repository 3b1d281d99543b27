// Files and texts do not depend on the build: one program's error output,
// written by xbrun of this build, is compared byte for byte with the
// Error.txt the i386 build wrote for it (checked in beside the program).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
