// The expression shell of xbrun end to end: -e with several expressions, a
// syntax error (nothing runs, exit code 2), a run-time error (the default
// report, exit code 1), the error level as exit code; -i with variables
// kept between lines, lines that do not compile, and errors that end only
// their line.
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ShellResult {
    int exitCode;
    std::string out, err;
    std::string log;  // Error.txt beside the program ("<missing>" when not written)
};

// Runs xbrun with args in a scratch directory, input on standard input.
ShellResult shell(const std::vector<std::string>& args, const std::string& input = "") {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) return {-1, "", "xbrun was not built", ""};
    xb::test::RunResult r = run.run(xbrun, args, input, true);
    return {r.exitCode, r.out, r.err, run.read("Error.txt")};
}

TEST(XbrunShell, EvaluatesEachExpressionOnItsOwnLine) {
    ShellResult r = shell({"-e", "1 + 2 * 3", "'ab' + [cd]", "UPPER('x') $ 'AXE'", "NIL", "10 / 4", "LEN({1, 2})"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "         7\nabcd\n.T.\nNIL\n         2.50\n         2\n");
    EXPECT_EQ(r.err, "");
}

TEST(XbrunShell, ExpressionThatDoesNotCompileRunsNothing) {
    ShellResult r = shell({"-e", "ERRORLEVEL(5)", "1 +"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "syntax error\n");
}

TEST(XbrunShell, RunTimeErrorGoesToTheDefaultHandler) {
    ShellResult r = shell({"-e", "1", "undefined_x + 1", "2"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "         1\n");
    // The report goes to the error log, and as a message box (on standard
    // error on POSIX; a box on Windows).
    EXPECT_EQ(r.log.rfind("Error BASE/1003", 0), 0u) << r.log;
    EXPECT_NE(r.log.find("UNDEFINED_X"), std::string::npos) << r.log;
#ifndef _WIN32
    EXPECT_NE(r.err.find("BASE/1003"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("UNDEFINED_X"), std::string::npos) << r.err;
#endif
}

TEST(XbrunShell, ExitCodeIsTheErrorLevel) {
    ShellResult r = shell({"-e", "ERRORLEVEL(3)", "ERRORLEVEL()"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "         0\n         3\n");
}

TEST(XbrunShell, InteractiveLinesKeepVariablesAndSurviveErrors) {
    ShellResult r = shell({"-i"}, "(n := 5)\nn * 2\n\n1 +\nnope + 1\n1 / 0\nn\r\nEVAL({|x| x + n}, 1)\nTYPE('n')");
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "         5\n        10\n         0\n         5\n         6\nN\n");
    EXPECT_NE(r.log.find("BASE/1003"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("NOPE"), std::string::npos) << r.log;
#ifndef _WIN32
    EXPECT_EQ(r.err.find("1 +\n   ^\nerror at column 4: "), 0u) << r.err;
    EXPECT_NE(r.err.find("BASE/1003"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NOPE"), std::string::npos) << r.err;
#endif
}

TEST(XbrunShell, BadUsage) {
    ShellResult r = shell({"-e"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

}  // namespace
