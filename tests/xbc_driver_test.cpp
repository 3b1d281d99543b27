// The compiler driver and the runner end to end: xbc writes executables
// (a copy of the prebuilt runner carrying the program), assembler text and
// C++ modules, refuses what it cannot build with "file:line: error:" lines,
// exit code 2 and nothing written; the executables it makes run as the
// program would under xbrun, and refuse a missing or damaged program. On
// the Windows test binary (run under Wine) the executables are Windows ones,
// made with --target win32.
#include "tests/support/asm_fixture.h"
#include "tests/support/capture_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/xbc/payload.h"

using namespace xb;
using xb::test::Captured;
using xb::test::unixLines;

namespace {

const char* const kHello = R"(
; HELLO(a): a greeting, the first parameter, error level 3
symbol HELLO proc
symbol QOUT
symbol QQOUT
symbol OUTERR
symbol ERRORLEVEL
symbol HELPER
proc HELLO
    FRAME 1 0
    LINE 3
    PUSHSYMNIL QOUT
    PUSHSTR "hola"
    PUSHINT 42
    DO 2
    PUSHSYMNIL QQOUT
    PUSHLOCAL 1
    DO 1
    PUSHSYMNIL HELPER
    DO 0
    PUSHSYMNIL OUTERR
    PUSHSTR "aviso"
    DO 1
    PUSHSYMNIL ERRORLEVEL
    PUSHINT 3
    DO 1
    ENDPROC
end
)";

const char* const kHelper = R"(
symbol HELPER proc
symbol QQOUT
proc HELPER
    PUSHSYMNIL QQOUT
    PUSHSTR "!"
    DO 1
    ENDPROC
end
)";

const char* const kFails = R"(
symbol MAIN proc
symbol NOSUCHFUNC
proc MAIN
    LINE 4
    PUSHSYMNIL NOSUCHFUNC
    DO 0
    ENDPROC
end
)";

#ifdef _WIN32
const char* const kExe = ".exe";
const char* const kTarget = "win32";
#else
const char* const kExe = "";
const char* const kTarget = "linux";
#endif

class XbcDriver : public ::testing::Test {
protected:
    test::ProgramRun run;
    std::string xbc;

    void SetUp() override {
        xbc = run.copyProgram("xbc");
        if (xbc.empty()) GTEST_SKIP() << "xbc was not built (build all targets)";
        // xbc looks for the runners beside itself.
        ASSERT_FALSE(run.copyProgram("xbrunner").empty()) << "xbrunner was not built";
#ifdef _WIN32
        ASSERT_FALSE(run.copyProgram("xbrunnerw").empty()) << "xbrunnerw was not built";
#endif
    }

    Captured xbcRun(const std::vector<std::string>& args) { return test::runCaptured(run, xbc, args, run.dir); }
    std::string exe(const std::string& stem) const { return run.path((stem + kExe).c_str()); }
    // Writes a file that is to be run as a program.
    void writeProgram(const std::string& stem, const std::string& bytes) {
        std::string p = run.write((stem + kExe).c_str(), bytes);
        std::error_code ec;
        std::filesystem::permissions(p, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    }
    Captured program(const std::string& stem, const std::vector<std::string>& args = {}) {
        return test::runCaptured(run, exe(stem), args, run.dir);
    }
};

TEST_F(XbcDriver, HelpAndUsage) {
    Captured h = xbcRun({"--help"});
    EXPECT_EQ(h.exitCode, 0);
    EXPECT_NE(h.out.find("usage: xbc"), std::string::npos) << h.out;
    EXPECT_NE(h.out.find("--emit xbasm"), std::string::npos);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no input files"},
        {{"--emit", "exe", "a.prg"}, "--emit takes xbasm, cpp or pp"},
        {{"--target", "dos", "a.prg"}, "--target takes linux or win32"},
        {{"-o"}, "-o needs a value"},
        {{"--frobnicate", "a.prg"}, "unknown option --frobnicate"},
    };
    for (const Case& c : cases) {
        Captured r = xbcRun(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("usage: xbc"), std::string::npos);
    }
}

TEST_F(XbcDriver, AnExecutableRunsTheProgramWithItsParameters) {
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    Captured c = xbcRun({"--target", kTarget, "-o", "hello" + std::string(kExe), "hello.xbasm", "helper.xbasm"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    EXPECT_EQ(c.out, "");
    Captured r = program("hello", {"mundo", "otro"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(unixLines(r.out), "\nhola         42mundo!");
    EXPECT_EQ(r.err, "aviso");
    // Error.txt beside the executable, as the error output wrote it
    EXPECT_EQ(run.read("Error.txt"), "aviso");
    // The same program under xbrun writes the same.
    std::string xbrun = run.copyProgram("xbrun");
    if (!xbrun.empty()) {
        Captured x = test::runCaptured(run, xbrun, {"hello.xbasm", "helper.xbasm", "mundo"}, run.dir);
        EXPECT_EQ(x.exitCode, 3);
        EXPECT_EQ(x.out, r.out);
    }
}

TEST_F(XbcDriver, TheDefaultOutputIsNamedAfterTheFirstFile) {
    run.write("first.xbasm", kHelper);
    Captured c = xbcRun({"first.xbasm"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    Captured r = program("first");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "!");
}

TEST_F(XbcDriver, ARunTimeErrorReportsAndEndsWithLevelOne) {
    run.write("fails.xbasm", kFails);
    ASSERT_EQ(xbcRun({"-o", "fails" + std::string(kExe), "fails.xbasm"}).exitCode, 0);
    Captured r = program("fails");
    EXPECT_EQ(r.exitCode, 1);
    std::string log = run.read("Error.txt");
    EXPECT_EQ(log.rfind("Error BASE/1001  Funci\xF3n no definida: NOSUCHFUNC\r\n", 0), 0u) << log;
    EXPECT_NE(log.find("- Llamado desde MAIN(4)  "), std::string::npos) << log;
    EXPECT_EQ(r.err, log);  // the same pieces on standard error, no boxes
}

TEST_F(XbcDriver, ErrorsAreReportedByFileAndLineAndNothingIsWritten) {
    run.write("bad.xbasm", "symbol MAIN proc\nproc MAIN\n    PUSHNILL\n    ENDPROC\nend\n");
    run.write("out.bin", "left alone");
    struct Case {
        std::vector<std::string> args;
        const char* diagnostic;
    };
    const Case cases[] = {
        {{"-o", "out.bin", "bad.xbasm"}, "bad.xbasm:3: error: unknown mnemonic PUSHNILL\n"},
        {{"-o", "out.bin", "--emit", "xbasm", "bad.xbasm"}, "bad.xbasm:3: error: unknown mnemonic PUSHNILL\n"},
        {{"-o", "out.bin", "missing.xbasm"}, "missing.xbasm:0: error: cannot open (error 2)\n"},
        {{"-o", "out.bin", "missing.prg"}, "missing.prg:0: error: cannot open (error 2)\n"},
    };
    for (const Case& c : cases) {
        Captured r = xbcRun(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.diagnostic;
        EXPECT_EQ(r.err, c.diagnostic);
        EXPECT_EQ(run.read("out.bin"), "left alone");
    }
}

TEST_F(XbcDriver, APublicProcedureDefinedTwiceIsAnError) {
    run.write("one.xbasm", kHelper);
    run.write("two.xbasm", kHelper);
    Captured r = xbcRun({"-o", "twice", "one.xbasm", "two.xbasm"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "two.xbasm:0: error: procedure HELPER is also defined in one.xbasm\n");
    EXPECT_EQ(run.read("twice"), "<missing>");
}

TEST_F(XbcDriver, AProgramMustStartAtAPublicProcedure) {
    run.write("nostart.xbasm", "symbol QOUT\nsymbol MAIN proc\nproc MAIN\n    ENDPROC\nend\n");
    Captured r = xbcRun({"-o", "nostart", "nostart.xbasm"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "nostart.xbasm:0: error: the first symbol must be the procedure to run (symbol NAME proc)\n");
    EXPECT_EQ(run.read("nostart"), "<missing>");
}

TEST_F(XbcDriver, EmitsAssemblerTextThatAssemblesToTheSameBytes) {
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    Captured r = xbcRun({"--emit", "xbasm", "hello.xbasm", "helper.xbasm"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string text = unixLines(r.out);
    size_t second = text.find("\nsymbol HELPER proc");
    ASSERT_NE(second, std::string::npos) << text;
    pcasm::ScopedModule emitted1(text.substr(0, second).c_str()), emitted2(text.substr(second).c_str());
    pcasm::ScopedModule original1(kHello), original2(kHelper);
    ASSERT_EQ(emitted1.m.codeLength, original1.m.codeLength);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(emitted1.m.code), emitted1.m.codeLength),
              std::string(reinterpret_cast<char*>(original1.m.code), original1.m.codeLength));
    ASSERT_EQ(emitted2.m.codeLength, original2.m.codeLength);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(emitted2.m.code), emitted2.m.codeLength),
              std::string(reinterpret_cast<char*>(original2.m.code), original2.m.codeLength));
    // -o writes the same text to a file
    ASSERT_EQ(xbcRun({"--emit", "xbasm", "-o", "out.xbasm", "hello.xbasm", "helper.xbasm"}).exitCode, 0);
    EXPECT_EQ(unixLines(run.read("out.xbasm")), text);
}

TEST_F(XbcDriver, EmitsOneCppModulePerFile) {
    run.write("hello.xbasm", kHello);
    run.write("my-helper.xbasm", kHelper);
    Captured r = xbcRun({"--emit", "cpp", "hello.xbasm", "my-helper.xbasm"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("const CompiledModule xbc1_hello = {"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("const CompiledModule xbc2_my_helper = {"), std::string::npos);
    EXPECT_NE(r.out.find("{\"HELLO\", SC_PUBLIC, XB_IMAGE_FUNCTION(xbc1_helloFunctions, 0)}"), std::string::npos);
}

TEST_F(XbcDriver, TheRunnerRefusesAMissingOrDamagedProgram) {
    std::string runner = run.path((std::string("xbrunner") + kExe).c_str());
    Captured bare = test::runCaptured(run, runner, {}, run.dir);
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_NE(bare.err.find("no program attached"), std::string::npos) << bare.err;
    EXPECT_EQ(bare.out, "");

    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    ASSERT_EQ(xbcRun({"-o", "good" + std::string(kExe), "hello.xbasm", "helper.xbasm"}).exitCode, 0);
    const std::string good = run.read((std::string("good") + kExe).c_str());
    // one byte of the first module's text changed
    std::string damaged = good;
    size_t at = good.find("proc HELLO");
    ASSERT_NE(at, std::string::npos);
    damaged[at + 5] = 'J';
    writeProgram("damaged", damaged);
    Captured d = program("damaged");
    EXPECT_EQ(d.exitCode, 2);
    EXPECT_NE(d.err.find("damaged program"), std::string::npos) << d.err;
    EXPECT_NE(d.err.find("checksum"), std::string::npos) << d.err;
    EXPECT_EQ(d.out, "");
    // the trailer cut off
    writeProgram("cut", good.substr(0, good.size() - 5));
    Captured c = program("cut");
    EXPECT_EQ(c.exitCode, 2);
    EXPECT_NE(c.err.find("no program attached"), std::string::npos) << c.err;
}

TEST_F(XbcDriver, AnExecutableOfTheOtherTargetNeedsItsRunner) {
#ifdef _WIN32
    GTEST_SKIP() << "the Linux runner is not beside the Windows xbc";
#else
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    Captured r = xbcRun({"--target", "win32", "-o", "hello.exe", "hello.xbasm", "helper.xbasm"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("xbrunner.exe"), std::string::npos) << r.err;
    EXPECT_EQ(run.read("hello.exe"), "<missing>");
#endif
}

#ifndef _WIN32
// --gui: the windowed form, whose boxes a POSIX process shows on standard error.
TEST_F(XbcDriver, AWindowedProgramShowsItsOutputInBoxes) {
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    ASSERT_EQ(xbcRun({"--gui", "-o", "boxed", "hello.xbasm", "helper.xbasm"}).exitCode, 0);
    Captured r = program("boxed", {"x"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "QOUT: hola\nQOUT:  \nQOUT:         42\nQOUT: x\nQOUT: !\nError: aviso\n");
}
#endif

}  // namespace

namespace {

// xbrun's own handling of files: the log beside the first file wherever the
// run starts from, `--` ending the list of files, the usage.
class XbrunFiles : public ::testing::Test {
protected:
    test::ProgramRun run;
    std::string xbrun;
    void SetUp() override {
        xbrun = run.copyProgram("xbrun");
        if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    }
};

TEST_F(XbrunFiles, TheLogIsWrittenBesideTheFirstFile) {
    std::error_code ec;
    std::filesystem::create_directories(run.path("sub"), ec);
    std::filesystem::create_directories(run.path("elsewhere"), ec);
    run.write("sub/fails.xbasm", kFails);
    Captured r = test::runCaptured(run, xbrun, {"../sub/fails.xbasm"}, run.path("elsewhere"));
    EXPECT_EQ(r.exitCode, 1);
    std::string log = run.read("sub/Error.txt");
    EXPECT_EQ(log.rfind("Error BASE/1001", 0), 0u) << log;
    EXPECT_EQ(r.err, log);
    EXPECT_EQ(run.read("elsewhere/Error.txt"), "<missing>");
    EXPECT_EQ(run.read("Error.txt"), "<missing>");  // not beside xbrun either
}

TEST_F(XbrunFiles, ADoubleDashEndsTheFiles) {
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    // "more.prg" after -- is a parameter, not a file to compile
    Captured r = test::runCaptured(run, xbrun, {"hello.xbasm", "helper.xbasm", "--", "more.prg"}, run.dir);
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(unixLines(r.out), "\nhola         42more.prg!");
    // without it, a missing helper file is an error before anything runs
    Captured m = test::runCaptured(run, xbrun, {"hello.xbasm", "missing.xbasm"}, run.dir);
    EXPECT_EQ(m.exitCode, 2);
    EXPECT_EQ(m.err, "missing.xbasm:0: error: cannot open (error 2)\n");
    EXPECT_EQ(m.out, "");
}

TEST_F(XbrunFiles, HelpPrintsTheUsage) {
    Captured r = test::runCaptured(run, xbrun, {"--help"}, run.dir);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: xbrun FILE.prg"), std::string::npos) << r.out;
    Captured none = test::runCaptured(run, xbrun, {}, run.dir);
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("usage: xbrun"), std::string::npos) << none.err;
}

}  // namespace

#ifndef _WIN32
namespace {

// A Windows executable made on Linux: the native xbc with the Windows runner
// of the win32 build beside it, run under Wine. Runs when that build and a
// ready Wine prefix (tools/wine-env.sh) are there, else it is skipped.
TEST(XbcCrossTarget, AWindowsExecutableMadeOnLinuxRunsUnderWine) {
    namespace fs = std::filesystem;
    test::ProgramRun run;
    std::string xbc = run.copyProgram("xbc");
    if (xbc.empty()) GTEST_SKIP() << "xbc was not built";
    fs::path winRunner = fs::path(test::ProgramRun::buildDir()).parent_path() / "win32" / "xbrunner.exe";
    std::error_code ec;
    if (!fs::is_regular_file(winRunner, ec)) GTEST_SKIP() << "no win32 build beside this one";
    fs::copy_file(winRunner, fs::path(run.dir) / "xbrunner.exe", ec);
    ASSERT_FALSE(ec) << ec.message();
    run.write("hello.xbasm", kHello);
    run.write("helper.xbasm", kHelper);
    Captured c = test::runCaptured(run, xbc, {"--target", "win32", "-o", "hello.exe", "hello.xbasm", "helper.xbasm"},
                                   run.dir);
    ASSERT_EQ(c.exitCode, 0) << c.err;
    std::string exe = run.read("hello.exe");
    ASSERT_EQ(exe.substr(0, 2), "MZ");
    xbc::ProgramPayload p;
    std::string why;
    ASSERT_EQ(xbc::decodePayload(reinterpret_cast<const uint8_t*>(exe.data()), exe.size(), &p, &why),
              xbc::PayloadStatus::Found)
        << why;
    EXPECT_EQ(p.modules.size(), 2u);

    const char* home = std::getenv("HOME");
    const char* prefix = std::getenv("XB_WINEPREFIX");
    std::string wprefix = prefix ? prefix : std::string(home ? home : "") + "/.xbwine";
    if (!fs::exists(wprefix + "/.xb-ready", ec) || std::system("command -v wine > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no ready Wine prefix";
    std::string script = "cd '" + run.dir + "' && . '" + std::string(XB_SOURCE_DIR) +
                         "/tools/wine-env.sh' && xb_wine_run 120 hello.exe mundo > out.txt 2> err.txt";
    Captured w = test::runCaptured(run, "/bin/bash", {"-c", script}, run.dir);
    EXPECT_EQ(w.exitCode, 3) << run.read("err.txt");
    EXPECT_EQ(run.read("out.txt"), "\r\nhola         42mundo!");
    EXPECT_EQ(run.read("Error.txt"), "aviso");
}

}  // namespace
#endif
