// The expression shell of xbrun end to end: -e with several expressions, a
// syntax error (nothing runs, exit code 2), a run-time error (the default
// report, exit code 1), the error level as exit code; -i with variables
// kept between lines, lines that do not compile, and errors that end only
// their line.
#ifndef _WIN32
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ShellResult {
    int exitCode;
    std::string out, err;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs xbrun with args in a scratch directory, input on standard input.
ShellResult shell(const std::vector<std::string>& args, const std::string& input = "") {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) return {-1, "", "xbrun was not built"};
    std::string in = run.write("in.txt", input);
    std::string cmd = "cd " + quote(run.dir) + " && " + quote(xbrun);
    for (const std::string& a : args) cmd += " " + quote(a);
    cmd += " < in.txt > out.txt 2> err.txt";
    int status = std::system(cmd.c_str());
    ShellResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(run.dir + "/out.txt");
    r.err = slurp(run.dir + "/err.txt");
    return r;
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
    EXPECT_NE(r.err.find("BASE/1003"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("UNDEFINED_X"), std::string::npos) << r.err;
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
    EXPECT_EQ(r.err.find("1 +\n   ^\nerror at column 4: "), 0u) << r.err;
    EXPECT_NE(r.err.find("BASE/1003"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NOPE"), std::string::npos) << r.err;
}

TEST(XbrunShell, BadUsage) {
    ShellResult r = shell({"-e"});
    if (r.exitCode == -1) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

}  // namespace
#endif
