// The shell as people use it: one session through a pseudo-terminal (line
// editing and history when libedit is built in, a statement, a command, a
// recalled line, an error and a loop on one line), and plain-line sessions
// through a pipe (statements, commands on a table, echo forms, compile
// errors with their column, help and quit).
#ifndef _WIN32
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Session {
    int exitCode = -1;
    std::string out, err;
};

// xbrun -i with input on standard input through a pipe; env is prefixed to
// the command ("XB_DISPLAY=utf8 ").
Session piped(const std::string& input, const std::string& env = "") {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    Session s;
    if (xbrun.empty()) {
        s.err = "xbrun was not built";
        return s;
    }
    run.write("in.txt", input);
    std::string cmd = "cd " + quote(run.dir) + " && " + env + quote(xbrun) + " -i < in.txt > out.txt 2> err.txt";
    int status = std::system(cmd.c_str());
    s.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    s.out = run.read("out.txt");
    s.err = run.read("err.txt");
    return s;
}

TEST(ShellPipe, StatementsCommandsAndExpressions) {
    Session s = piped(
        "x := 5\n"
        "? x\n"
        "x\n"
        "x += 2 ; ? x\n"
        "FOR i := 1 TO 3 ; ?? i ; NEXT\n"
        "i\n"
        "IF x > 6 ; ? 'big' ; ELSE ; ? 'small' ; ENDIF\n"
        "STORE 'abc' TO s1\n"
        "UPPER(s1)\n"
        "PRIVATE p := 9\n"
        "p\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.exitCode, 0) << s.err;
    EXPECT_EQ(s.out,
              "\n         5\n"         // ? x: the runtime's own form, line closed after it
              "         5\n"           // the echo of x
              "\n         7\n"
              "         1         2         3\n"
              "         4\n"
              "\nbig\n"
              "ABC\n"
              "         9\n");
    EXPECT_EQ(s.err, "");
}

// Which lines are statements (nothing shown) and which are expressions (the
// value shown): an assignment at the start of a line is a statement, the
// same text in parentheses an expression, = alone assigns, == compares.
TEST(ShellPipe, AssignmentsAreStatementsOtherLinesShowTheirValue) {
    struct Line {
        const char* text;
        const char* shown;  // "" for nothing
    } const lines[] = {
        {"a = 1", ""},          {"a == 1", ".T."},      {"a += 2", ""},      {"a", "         3"},
        {"a++", ""},            {"a", "         4"},    {"(a = 4)", ".T."},  {"a := a * 2", ""},
        {"a", "         8"},    {"a %= 5", ""},         {"a", "         3.00"}, {"a--", ""},
        {"(a := 10)", "        10"}, {"a ^= 2", ""},    {"a", "       100.00"}, {"  b=a", ""},
        {"b", "       100.00"}, {"a1b := 'q'", ""},     {"a1b", "q"},        {"a1b = 'q'", ""},
    };
    std::string in, expected;
    for (const Line& l : lines) {
        in += std::string(l.text) + "\n";
        if (*l.shown) expected += std::string(l.shown) + "\n";
    }
    Session s = piped(in);
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.out, expected);
    EXPECT_EQ(s.err, "");
}

TEST(ShellPipe, EchoShowsArraysAndBlocksReadably) {
    Session s = piped("{1, 'a', {2}}\n{|| 1}\n{}\nNIL\n.T.\n{ {1.5, .F.}, NIL, {|x| x} }\na := {1}\nAADD(a, a)\na\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.out,
              "{1, \"a\", {2}}\n"
              "{|| ...}\n"
              "{}\n"
              "NIL\n"
              ".T.\n"
              "{{1.5, .F.}, NIL, {|| ...}}\n"
              "{1, {...}}\n"    // AADD's value is the array itself
              "{1, {...}}\n");  // an array inside itself is not followed
    EXPECT_EQ(s.err, "");
}

TEST(ShellPipe, BlocksAndTextsOfEarlierLinesStayUsable) {
    // the block's code and the literal live in the pcode of the line that
    // made them; many lines later they must still be intact
    std::string in = "b := {|n| n * 2 + LEN(t)}\nt := 'literal'\nc := {|| t + '!'}\n";
    for (int i = 0; i < 50; ++i) in += "z" + std::to_string(i) + " := REPLICATE('x', 100)\n";
    in += "EVAL(b, 21)\nEVAL(c)\nt\nTYPE('z49')\n";
    Session s = piped(in);
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.out, "        49\nliteral!\nliteral\nC\n");
    EXPECT_EQ(s.err, "");
}

TEST(ShellPipe, CommandsOnATable) {
    Session s = piped(
        "DBCREATE('cust', {{'NAME', 'C', 8, 0}, {'CITY', 'C', 8, 0}})\n"
        "USE cust\n"
        "APPEND BLANK ; REPLACE name WITH 'Luis', city WITH 'Soria'\n"
        "APPEND BLANK ; REPLACE name WITH 'Ana', city WITH 'Bilbao'\n"
        "INDEX ON name TO custn\n"
        "GO TOP\n"
        "DO WHILE !EOF() ; ? name, city ; SKIP ; ENDDO\n"
        "SEEK 'Luis'\n"
        "FOUND()\n"
        "RECNO()\n"
        "USE\n"
        "SELECT(\"CUST\")\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.exitCode, 0) << s.err;
    EXPECT_EQ(s.out,
              "NIL\n"
              "\nAna      Bilbao  \nLuis     Soria   \n"
              ".T.\n"
              "      1\n"  // RECNO() shows in seven columns
              "         0\n");
    EXPECT_EQ(s.err, "");
}

TEST(ShellPipe, CompileErrorsShowTheColumnAndTheShellGoesOn) {
    Session s = piped("1 +\nx := := 2\nSTATIC s := 1\n? 'after'\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_EQ(s.out, "\nafter\n");
    EXPECT_EQ(s.err.find("1 +\n   ^\nerror at column 4: "), 0u) << s.err;
    EXPECT_NE(s.err.find("x := := 2\n"), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("^\nerror at column "), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("STATIC variables cannot be declared in the shell"), std::string::npos) << s.err;
}

TEST(ShellPipe, RunTimeErrorsEndOnlyTheirLineAndHideTheShell) {
    Session s = piped("n := 1\nnope + n\nn := n + 1\nn\nERRORLEVEL()\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_EQ(s.out, "         2\n         0\n");
    EXPECT_NE(s.err.find("BASE/1003"), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("NOPE"), std::string::npos) << s.err;
    // the report names the handler's frames and none of the shell's
    EXPECT_NE(s.err.find("LOCKERRHANDLER"), std::string::npos) << s.err;
    EXPECT_EQ(s.err.find("SHELL"), std::string::npos) << s.err;
    EXPECT_EQ(s.err.find("XB"), std::string::npos) << s.err;
}

TEST(ShellPipe, HelpAndQuit) {
    Session s = piped("help\n? 1\nQUIT\n? 'not run'\n");
    if (s.exitCode == -1) GTEST_SKIP() << s.err;
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_NE(s.out.find("Commands:"), std::string::npos);
    EXPECT_NE(s.out.find("Functions:"), std::string::npos);
    EXPECT_NE(s.out.find("\n         1\n"), std::string::npos);
    EXPECT_EQ(s.out.find("not run"), std::string::npos);
}

TEST(ShellPipe, OutputToAPipeIsNeverConvertedUnlessAsked) {
    const std::string in = "? CHR(233) + CHR(128)\n";
    Session raw = piped(in);
    if (raw.exitCode == -1) GTEST_SKIP() << raw.err;
    EXPECT_EQ(raw.out, "\n\xE9\x80\n");
    Session utf8Locale = piped(in, "LANG=C.UTF-8 ");
    EXPECT_EQ(utf8Locale.out, "\n\xE9\x80\n");  // a pipe stays byte-exact
    Session forced = piped(in, "XB_DISPLAY=utf8 ");
    EXPECT_EQ(forced.out, "\n\xC3\xA9\xE2\x82\xAC\n");
}

TEST(ToolHelp, XbrunAndXbdbPrintTheirUsage) {
    struct Tool {
        const char* name;
        const char* expected;
    } const tools[] = {{"xbrun", "xbrun -i"}, {"xbdb", "xbdb reindex INDEX TABLE"}};
    for (const Tool& t : tools) {
        xb::test::ProgramRun run;
        std::string program = run.copyProgram(t.name);
        if (program.empty()) continue;
        std::string cmd = "cd " + quote(run.dir) + " && " + quote(program) + " --help > out.txt 2> err.txt";
        int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << t.name;
        std::string out = run.read("out.txt");
        EXPECT_EQ(out.find("usage: "), 0u) << t.name << ": " << out;
        EXPECT_NE(out.find(t.expected), std::string::npos) << t.name << ": " << out;
        EXPECT_EQ(run.read("err.txt"), "") << t.name;
    }
}

// ---- a session through a pseudo-terminal

struct Pty {
    int master = -1;
    pid_t child = -1;
    std::string seen;  // everything read so far

    bool start(const std::string& program, const std::string& dir, const std::vector<std::string>& env) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        const char* slaveName = ptsname(master);
        if (!slaveName) return false;
        std::string slave = slaveName;
        child = fork();
        if (child < 0) return false;
        if (child == 0) {
            setsid();
            int s = open(slave.c_str(), O_RDWR);
            if (s < 0) _exit(126);
            dup2(s, 0);
            dup2(s, 1);
            dup2(s, 2);
            if (s > 2) close(s);
            if (chdir(dir.c_str()) != 0) _exit(126);
            for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
            execl(program.c_str(), program.c_str(), "-i", static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }
    // Reads until `what` has appeared after position `from` of seen; false
    // when the child closed the terminal first or nothing came for a minute
    // (a hang guard, not a measurement).
    bool waitFor(const std::string& what, size_t from) {
        while (seen.find(what, from) == std::string::npos) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) return false;
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return false;
            seen.append(buf, size_t(n));
        }
        return true;
    }
    void drain() {
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) return;
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return;
            seen.append(buf, size_t(n));
        }
    }
    void type(const std::string& keys) {
        ssize_t n = write(master, keys.data(), keys.size());
        (void)n;
    }
    int finish() {
        drain();
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) != child) return -1;
        if (master >= 0) close(master);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// Terminal output without the escape sequences line editing writes and
// without carriage returns.
std::string plain(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\x1b') {
            ++i;
            if (i < s.size() && (s[i] == '[' || s[i] == 'O')) {
                ++i;
                while (i < s.size() && !(s[i] >= '@' && s[i] <= '~')) ++i;
            }
            continue;
        }
        if (s[i] == '\r' || s[i] == '\a') continue;
        out += s[i];
    }
    return out;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// True when xbrun says it was built with line editing.
bool hasLineEditing(const xb::test::ProgramRun& run, const std::string& xbrun) {
    std::string cmd = "cd " + quote(run.dir) + " && " + quote(xbrun) + " --help > help.txt 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    return run.read("help.txt").find("history (libedit)") != std::string::npos;
}

TEST(ShellTerminal, SessionWithEditingHistoryAnErrorAndALoop) {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built";
    bool editing = hasLineEditing(run, xbrun);
    Pty pty;
    ASSERT_TRUE(pty.start(xbrun, run.dir, {"TERM=xterm", "LANG=C", "LC_ALL=C"}));
    ASSERT_TRUE(pty.waitFor("> ", 0)) << pty.seen;
    size_t mark = pty.seen.size();
    pty.type("x := 6\r");
    ASSERT_TRUE(pty.waitFor("> ", mark)) << pty.seen;
    mark = pty.seen.size();
    pty.type("? x * 7\r");
    ASSERT_TRUE(pty.waitFor("42", mark)) << pty.seen;
    ASSERT_TRUE(pty.waitFor("> ", mark)) << pty.seen;
    mark = pty.seen.size();
    // Ctrl-P: the previous line again (typed again where there is no history)
    pty.type(editing ? "\x10\r" : "? x * 7\r");
    ASSERT_TRUE(pty.waitFor("42", mark)) << plain(pty.seen);
    ASSERT_TRUE(pty.waitFor("> ", mark)) << pty.seen;
    mark = pty.seen.size();
    pty.type("nope + x\r");
    ASSERT_TRUE(pty.waitFor("NOPE", mark)) << pty.seen;
    ASSERT_TRUE(pty.waitFor("> ", mark)) << pty.seen;
    mark = pty.seen.size();
    pty.type("FOR i := 1 TO 3 ; ?? i * 10 ; NEXT\r");
    ASSERT_TRUE(pty.waitFor("30", mark)) << pty.seen;
    ASSERT_TRUE(pty.waitFor("> ", mark)) << pty.seen;
    pty.type("quit\r");
    EXPECT_EQ(pty.finish(), 0);
    std::string text = plain(pty.seen);
    EXPECT_GE(count(text, "        42"), 2u) << text;  // the recalled line ran again
    EXPECT_NE(text.find("BASE/1003"), std::string::npos) << text;
    EXPECT_NE(text.find("        10        20        30"), std::string::npos) << text;
}

TEST(ShellTerminal, Utf8LocaleConvertsWhatTheTerminalShows) {
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built";
    Pty pty;
    ASSERT_TRUE(pty.start(xbrun, run.dir, {"TERM=dumb", "LC_ALL=C.UTF-8", "XB_NO_EDITING=1"}));
    ASSERT_TRUE(pty.waitFor("> ", 0)) << pty.seen;
    size_t mark = pty.seen.size();
    pty.type("? CHR(241) + '|'\r");
    ASSERT_TRUE(pty.waitFor("|", mark)) << pty.seen;
    pty.type("quit\r");
    pty.finish();
    EXPECT_NE(pty.seen.find("\xC3\xB1|"), std::string::npos);
    EXPECT_EQ(pty.seen.find("\xF1|"), std::string::npos);
}

}  // namespace
#endif
