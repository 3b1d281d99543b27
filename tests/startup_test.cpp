// Start-up and shutdown: command-line splitting, the runtime switches kept
// from the program, the order of the initialisation and exit procedures, the
// choice of the main procedure and the exit code. Whole runs go through
// processEntry in a child process (death tests), with test modules as the image.
#include "image/startup.h"
#include "image/crash_report.h"
#include "vm/symbols.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vm/function.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "vm/native.h"

using namespace xb;

namespace {

std::vector<std::string> split(const char* line) {
    uint16_t n = splitCommandLine(line, nullptr);
    std::vector<char*> parts(n);
    EXPECT_EQ(splitCommandLine(line, parts.data()), n);
    std::vector<std::string> out;
    for (char* p : parts) {
        out.emplace_back(p);
        memFree(p);
    }
    return out;
}

using Parts = std::vector<std::string>;

// What the probe saw, for the in-process tests.
std::vector<std::string> probeArgs;

}  // namespace

// STARTUPPROBE(texts...): writes "[a b c]" to standard error (what a death
// test sees) and keeps the texts.
XB_NATIVE(fnStartupProbe, "STARTUPPROBE") {
    std::string line = "[";
    probeArgs.clear();
    for (uint16_t i = 1; i <= paramCount(); ++i) {
        Item* p = paramItem(i, M_ANY);
        std::string s = (p->type & M_STRING) ? std::string(strData(p), strLength(p))
                        : (p->type & M_NUMERIC) ? std::to_string(itemInt(p))
                                                : "?";
        probeArgs.push_back(s);
        line += (i > 1 ? " " : "") + s;
    }
    line += "]";
    uint32_t done;
    os::writeFile(os::stdError(), line.data(), uint32_t(line.size()), &done);
    return 0;
}

// The splitter allocates its copies from the runtime's heap.
class CommandLine : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
    }
};

TEST_F(CommandLine, SplitsAtBlanksAndKeepsQuotedParameters) {
    EXPECT_EQ(split("prog \"a b\" c"), (Parts{"prog", "\"a b\"", "c"}));
    EXPECT_EQ(split("prog\ta  \t b"), (Parts{"prog", "a", "b"}));
    // a closing quote ends the parameter; what follows starts the next one
    EXPECT_EQ(split("prog \"a b\"c d"), (Parts{"prog", "\"a b\"", "c", "d"}));
    EXPECT_EQ(split("\"C:\\Program Files\\x.exe\" /COM1=/dev/pts/3 x"),
              (Parts{"\"C:\\Program Files\\x.exe\"", "/COM1=/dev/pts/3", "x"}));
    // an unclosed quote runs to the end of the line
    EXPECT_EQ(split("prog \"a b"), (Parts{"prog", "\"a b"}));
    EXPECT_EQ(split("prog \"\" x"), (Parts{"prog", "\"\"", "x"}));
    // blanks at the end give nothing; one at the very start an empty first parameter
    EXPECT_EQ(split("prog a   "), (Parts{"prog", "a"}));
    EXPECT_EQ(split(" prog a"), (Parts{"", "prog", "a"}));
    EXPECT_EQ(split("prog"), (Parts{"prog"}));
}

TEST_F(CommandLine, SkipsTheFirstParameterTheSplittersWay) {
    EXPECT_STREQ(skipParameter("xbrun prog.txt a b"), "prog.txt a b");
    EXPECT_STREQ(skipParameter("\"C:\\my dir\\xbrun.exe\"  \"p q.txt\" a"), "\"p q.txt\" a");
    EXPECT_STREQ(skipParameter("xbrun"), "");
}

TEST_F(CommandLine, RuntimeSwitchesBeginWithASlashInEitherPlace) {
    EXPECT_TRUE(isRuntimeSwitch("/COM1=/dev/pts/2"));
    EXPECT_TRUE(isRuntimeSwitch("/"));
    EXPECT_TRUE(isRuntimeSwitch("-/x"));
    EXPECT_TRUE(isRuntimeSwitch("b/c"));
    EXPECT_FALSE(isRuntimeSwitch("ab/c"));
    EXPECT_TRUE(isRuntimeSwitch("\"/x\""));  // the quote counts as the first character
    EXPECT_FALSE(isRuntimeSwitch(""));
    EXPECT_FALSE(isRuntimeSwitch("x"));
}

class CallSymbolTest : public test::VmTest {};

TEST_F(CallSymbolTest, LeavesOutRuntimeSwitchesAndCountsWhatItPushed) {
    load(R"(
symbol P proc
symbol STARTUPPROBE
proc P
    FRAME 3 0
    PUSHSYMNIL STARTUPPROBE
    PCOUNT
    PUSHLOCAL 1
    PUSHLOCAL 2
    PUSHLOCAL 3
    DO 4
    ENDPROC
end
)");
    const char* argv[] = {"prog", "a", "/x", "b/c", "-/y", "z", "/COM1=q"};
    EXPECT_TRUE(callSymbol(findSymbol("P"), 7, argv));
    // PCOUNT 2: only a and z were passed; the third parameter is NIL
    EXPECT_EQ(probeArgs, (std::vector<std::string>{"2", "a", "z", "?"}));
    EXPECT_EQ(vm.top, vm.stack);

    // the program's own name is never a parameter; no function, no call
    EXPECT_TRUE(callSymbol(findSymbol("P"), 1, argv));
    EXPECT_EQ(probeArgs[0], "0");
    EXPECT_FALSE(callSymbol(findSymbol("STARTUPPROBE_UNDEFINED"), 1, argv));
    EXPECT_FALSE(callSymbol(findOrCreateSymbol("NOFUNCTIONHERE"), 1, argv));
}

// ---- whole runs

namespace {

// Two modules with initialisation and exit procedures. Registration order:
// AINIT, CLIPINIT$, BEXIT (module 1), then ZINIT, STATICS$, AEXIT (module 2).
const char* const kMainModule = R"(
symbol MAIN proc
symbol STARTUPPROBE
symbol ERRORLEVEL
symbol AINIT init proc
symbol CLIPINIT$ init proc
symbol BEXIT exit proc
proc MAIN
    FRAME 2 0
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "MAIN"
    PCOUNT
    PUSHLOCAL 1
    PUSHLOCAL 2
    DO 4
    PUSHSYMNIL ERRORLEVEL
    PUSHINT 3
    DO 1
    ENDPROC
end
proc AINIT
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "AINIT"
    DO 1
    ENDPROC
end
proc CLIPINIT$
    FRAME 1 0
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "CLIPINIT"
    PUSHLOCAL 1
    DO 2
    ENDPROC
end
proc BEXIT
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "BEXIT"
    PCOUNT
    DO 2
    ENDPROC
end
)";

const char* const kSecondModule = R"(
symbol ZINIT init proc
symbol STATICS$ init proc
symbol AEXIT exit proc
symbol STARTUPPROBE
proc ZINIT
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "ZINIT"
    DO 1
    ENDPROC
end
proc STATICS$
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "STATICS"
    DO 1
    ENDPROC
end
proc AEXIT
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "AEXIT"
    DO 1
    ENDPROC
end
)";

// Runs the process entry over the given modules and command line; never returns.
// Message boxes go to standard error on every target, where the test sees them.
void boxToStandardError(const char* text, const char* caption, uint32_t) {
    std::string line = std::string(caption) + ": " + text + "\n";
    uint32_t done;
    os::writeFile(os::stdError(), line.data(), uint32_t(line.size()), &done);
}

[[noreturn]] void runImage(std::initializer_list<const char*> texts, const char* commandLine) {
    static std::vector<pcasm::AsmModule> modules;
    static std::vector<ImageModule> image;
    outputMessageBox = boxToStandardError;
    freeSymbols();
    for (const char* t : texts) modules.push_back(pcasm::assembleOrDie(t));
    for (auto& m : modules) image.push_back(pcasm::moduleImage(m));
    setImage(image.data(), uint32_t(image.size()));
    processEntry(commandLine);
}

}  // namespace

TEST(StartupDeathTest, RunsInitialisationPassesThenMainThenExitProcedures) {
    // STATICS$ first, CLIPINIT$ second, the others from the last registered
    // to the first; MAIN gets the parameters without the switch; the exit
    // procedures run in registration order, without parameters.
    EXPECT_EXIT(runImage({kMainModule, kSecondModule}, "prog one /COM9=nowhere \"two words\""),
                ::testing::ExitedWithCode(3),
                "\\[STATICS\\]\\[CLIPINIT one\\]\\[ZINIT\\]\\[AINIT\\]"
                "\\[MAIN 2 one \"two words\"\\]\\[BEXIT 0\\]\\[AEXIT\\]");
}

TEST(StartupDeathTest, ErrorLevelMinusOneIsTheExitCodeMinusOne) {
    const char* text = R"(
symbol MAIN proc
symbol ERRORLEVEL
symbol STARTUPPROBE
proc MAIN
    PUSHSYMNIL ERRORLEVEL
    PUSHINT -1
    DO 1
    PUSHSYMNIL STARTUPPROBE
    PUSHSYMNIL ERRORLEVEL
    FUNC 0
    DO 1
    ENDPROC
end
)";
#ifdef _WIN32
    const int minusOne = -1;  // ExitProcess(0xFFFFFFFF)
#else
    const int minusOne = 255;  // the low byte is all a POSIX exit status keeps
#endif
    EXPECT_EXIT(runImage({text}, "prog"), ::testing::ExitedWithCode(minusOne), "\\[-1\\]");
}

TEST(StartupDeathTest, FatalErrorEndsWithOneAndSkipsTheExitProcedures) {
    // ERRORLEVEL(3), then an undefined opcode: fatal error 999.
    const char* text = R"(
symbol MAIN proc
symbol ERRORLEVEL
symbol STARTUPPROBE
symbol BYE exit proc
proc MAIN
    LINE 7
    PUSHSYMNIL ERRORLEVEL
    PUSHINT 3
    DO 1
    EXT 208
    ENDPROC
end
proc BYE
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "@"
    DO 1
    ENDPROC
end
)";
    EXPECT_EXIT(runImage({text}, "prog"), ::testing::ExitedWithCode(1), "MAIN \\(7\\).*Error no recuperable 999");
#if GTEST_USES_POSIX_RE
    EXPECT_EXIT(runImage({text}, "prog"), ::testing::ExitedWithCode(1), "^[^@]*$");
#endif
}

TEST(StartupDeathTest, AppMainRunsInsteadOfTheFirstProcedure) {
    const char* text = R"(
symbol MAIN proc
symbol _APPMAIN proc
symbol STARTUPPROBE
proc MAIN
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "@"
    DO 1
    ENDPROC
end
proc _APPMAIN
    FRAME 1 0
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "APPMAIN"
    PUSHLOCAL 1
    DO 2
    ENDPROC
end
)";
    EXPECT_EXIT(runImage({text}, "prog x"), ::testing::ExitedWithCode(0), "\\[APPMAIN x\\]");
#if GTEST_USES_POSIX_RE
    EXPECT_EXIT(runImage({text}, "prog x"), ::testing::ExitedWithCode(0), "^[^@]*$");
#endif
}

TEST(StartupDeathTest, HelpProcedureInstallsTheHelpKeyBeforeMain) {
    const char* text = R"(
symbol MAIN proc
symbol HELP proc
symbol __SETHELPK proc
symbol STARTUPPROBE
proc MAIN
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "MAIN"
    DO 1
    ENDPROC
end
proc HELP
    ENDPROC
end
proc __SETHELPK
    FRAME 1 0
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "SETHELPK"
    PUSHLOCAL 1
    DO 2
    ENDPROC
end
)";
    EXPECT_EXIT(runImage({text}, "prog k"), ::testing::ExitedWithCode(0), "\\[SETHELPK k\\]\\[MAIN\\]");
}

TEST(StartupDeathTest, QuitFromAnExitProcedureEndsTheShutdownOnce) {
    // __QUIT inside an exit procedure re-enters the shutdown, which skips the
    // exit procedures and ends the process with the error level.
    const char* text = R"(
symbol MAIN proc
symbol ERRORLEVEL
symbol STARTUPPROBE
symbol __QUIT
symbol FIRST exit proc
symbol SECOND exit proc
proc MAIN
    PUSHSYMNIL ERRORLEVEL
    PUSHINT 4
    DO 1
    ENDPROC
end
proc FIRST
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "FIRST"
    DO 1
    PUSHSYMNIL __QUIT
    DO 0
    ENDPROC
end
proc SECOND
    PUSHSYMNIL STARTUPPROBE
    PUSHSTR "@"
    DO 1
    ENDPROC
end
)";
    EXPECT_EXIT(runImage({text}, "prog"), ::testing::ExitedWithCode(4), "\\[FIRST\\]");
#if GTEST_USES_POSIX_RE
    EXPECT_EXIT(runImage({text}, "prog"), ::testing::ExitedWithCode(4), "^[^@]*$");
#endif
}

// ---- the crash report

namespace {

std::string lastCallStack;
std::string shortCallStack;
int* volatile nowhere = nullptr;

}  // namespace

XB_NATIVE(fnCallStackProbe, "CALLSTACKPROBE") {
    char text[256];
    uint32_t n = crashCallStack(text, sizeof text);
    lastCallStack.assign(text, n);
    char small[40];
    n = crashCallStack(small, sizeof small);
    shortCallStack.assign(small, n);
    return 0;
}

XB_NATIVE(fnCrashNow, "CRASHNOW") {
    *nowhere = 1;
    return 0;
}

namespace {

const char* const kNested = R"(
symbol OUTER proc
symbol INNER proc
symbol CALLSTACKPROBE
symbol CRASHNOW
proc OUTER
    LINE 9
    PUSHSYMNIL INNER
    DO 0
    ENDPROC
end
proc INNER
    LINE 4
    PUSHSYMNIL CALLSTACKPROBE
    DO 0
    LINE 5
    PUSHSYMNIL CRASHNOW
    DO 0
    ENDPROC
end
)";

class CrashReportTest : public test::VmTest {};

}  // namespace

TEST_F(CrashReportTest, ListsEveryActiveProcedureWithItsLine) {
    load({kNested});
    // INNER stops before the crash: the probe is replaced by a plain return
    GlobalSymbol* crash = findSymbol("CRASHNOW");
    const Function* saved = crash->function;
    crash->function = findSymbol("CALLSTACKPROBE")->function;
    call("OUTER");
    crash->function = saved;
    EXPECT_EQ(lastCallStack,
              "- Llamado desde CRASHNOW(0)\r\n- Llamado desde INNER(5)\r\n- Llamado desde OUTER(9)\r\n");
    // lines that do not fit are dropped whole
    EXPECT_EQ(shortCallStack, "- Llamado desde CRASHNOW(0)\r\n");
    char none[40];
    EXPECT_EQ(crashCallStack(none, sizeof none), 0u);  // nothing runs now
}

#ifndef XB_SANITIZE
TEST(StartupDeathTest, ACrashIsReportedWithTheCallStack) {
#ifdef _WIN32
    // the process ends with the exception's code
    auto ended = [](int status) { return status != 0; };
#else
    auto ended = ::testing::ExitedWithCode(1);
#endif
    // the box (on standard error here) shows the call stack
    EXPECT_EXIT(runImage({kNested}, "prog"), ended, "Error de Protecci\xF3n General: - Llamado desde CRASHNOW\\(0\\)");
#if GTEST_USES_POSIX_RE
    EXPECT_EXIT(runImage({kNested}, "prog"), ended,
                "^Error: General Protection Fault\\.\n.*- Llamado desde INNER\\(5\\)\r\n- Llamado desde OUTER\\(9\\)\r\n");
#endif
}

#if !defined(_WIN32) && GTEST_USES_POSIX_RE
// A console program writes the report to standard error as it is, with no
// boxes: the title, then the call stack (and no box repeating it).
TEST(StartupDeathTest, AConsoleProgramReportsACrashOnStandardError) {
    auto consoleRun = [] {
        outputSetConsole(true);
        runImage({kNested}, "prog");
    };
    EXPECT_EXIT(consoleRun(), ::testing::ExitedWithCode(1),
                "^General Protection Fault\\.\r\n- Llamado desde CRASHNOW\\(0\\)\r\n"
                "- Llamado desde INNER\\(5\\)\r\n- Llamado desde OUTER\\(9\\)\r\n[^E]*$");
}
#endif
#endif

// Each completed shutdown counts two entries; the one that finds three or
// more before it gives up at once with the message and the result 1.
TEST(StartupDeathTest, AShutdownEnteredTooOftenIsAborted) {
    auto shutdownThrice = [] {
        freeSymbols();
        setImage(nullptr, 0);
        initialiseRuntime();
        outputMessageBox = boxToStandardError;
        uint16_t first = shutdownRuntime(0);
        uint16_t second = shutdownRuntime(0);
        uint16_t third = shutdownRuntime(0);
        os::exitProcess(first == 0 && second == 0 && third == 1 ? 42 : 3);
    };
    EXPECT_EXIT(shutdownThrice(), ::testing::ExitedWithCode(42), "Aborted during termination");
}
