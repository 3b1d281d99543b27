// The built programs end to end: comtest against a pseudo-terminal standing
// in for the serial port (POSIX; on Windows the serial line is checked by
// tools/run-main.sh, which maps Wine's COM1 to a pseudo-terminal), comtest
// without its device, and the runner xbrun (running modules, refusing
// malformed ones, listing the compiled modules). Each run happens in a
// scratch directory holding a copy of the program, so that its Error.txt is
// its own.
#include "modules/app_main.h"
#include "modules/modules.h"
#include "tests/support/asm_fixture.h"
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <atomic>
#include <thread>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

using namespace xb;

namespace {

using Outcome = test::RunResult;

class ProgramTest : public ::testing::Test {
protected:
    test::ProgramRun scratchRun;
    std::string scratch = scratchRun.dir;

    // A copy of the built program in the scratch directory; empty when the
    // program was not built.
    std::string program(const char* name) { return scratchRun.copyProgram(name); }
    std::string write(const char* name, const std::string& text) { return scratchRun.write(name, text); }
    std::string slurp(const char* name) { return scratchRun.read(name); }
    Outcome run(const std::string& path, const std::vector<std::string>& args) { return scratchRun.run(path, args); }
};

#define NEED_PROGRAM(var, name)                                                    \
    std::string var = program(name);                                               \
    if (var.empty()) GTEST_SKIP() << name << " was not built (build all targets)"

// ---- comtest

#ifndef _WIN32

class PseudoLine {
public:
    int master = -1, slave = -1;
    std::string path;

    PseudoLine() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        cfsetospeed(&t, B9600);
        cfsetispeed(&t, B9600);
        t.c_iflag |= IXON;  // XOFF from the far end holds the program's writes
        tcsetattr(slave, TCSANOW, &t);
    }
    ~PseudoLine() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    speed_t speed() const {
        termios t;
        tcgetattr(slave, &t);
        return cfgetospeed(&t);
    }
    void send(char c) const { (void)!::write(master, &c, 1); }
    std::string receive(size_t want, int timeoutMs) const {
        std::string got;
        pollfd p{master, POLLIN, 0};
        while (got.size() < want && poll(&p, 1, timeoutMs) > 0) {
            char buf[256];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, size_t(n));
        }
        return got;
    }
};

TEST_F(ProgramTest, ComtestWritesTheLineAt115200AndRestoresTheLine) {
    NEED_PROGRAM(comtest, "comtest");
    PseudoLine line;
    ASSERT_GE(line.slave, 0);
    // Hold the line: the program's write then waits while the line is
    // switched, which makes the settings of that moment observable.
    line.send('\x13');
    // The run waits for the program in a thread of its own, so that the
    // line can be watched meanwhile.
    std::atomic<bool> ended{false};
    Outcome r;
    std::thread runner([&] {
        r = run(comtest, {"/COM1=" + line.path});
        ended = true;
    });
    bool switched = false;
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!switched && std::chrono::steady_clock::now() < until && !ended) {
        switched = line.speed() == speed_t(B115200);
        if (!switched) usleep(2000);
    }
    EXPECT_TRUE(switched) << "the line never ran at 115200 baud";
    EXPECT_EQ(line.receive(1, 100), "");  // held by the XOFF
    line.send('\x11');
    EXPECT_EQ(line.receive(17, 60000), "Texto de prueba\r\n");
    runner.join();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(line.speed(), speed_t(B9600));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp("Error.txt"), "<missing>");
}
#endif

TEST_F(ProgramTest, ComtestWithoutTheDeviceEndsAtOnce) {
    NEED_PROGRAM(comtest, "comtest");
    Outcome r = run(comtest, {"/COM1=" + scratch + "/no-such-device"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp("Error.txt"), "<missing>");
}

// ---- xbrun

const char* const kEcho = R"(
; ECHO(a, b): writes PCOUNT and both parameters, ends with error level 3
symbol ECHO proc
symbol OUTSTD
symbol ERRORLEVEL
proc ECHO
    FRAME 2 0
    PUSHSYMNIL OUTSTD
    PCOUNT
    PUSHLOCAL 1
    PUSHLOCAL 2
    DO 3
    PUSHSYMNIL ERRORLEVEL
    PUSHINT 3
    DO 1
    ENDPROC
end
)";

TEST_F(ProgramTest, XbrunRunsTheModuleWithTheRestOfTheLine) {
    NEED_PROGRAM(xbrun, "xbrun");
    std::string file = write("echo.xbasm", kEcho);
    Outcome r = run(xbrun, {file, "uno", "/COM2=x", "dos tres"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.out, "         2 uno \"dos tres\"");
    r = run(xbrun, {file});
    EXPECT_EQ(r.out, "         0 NIL NIL");
}

TEST_F(ProgramTest, XbrunRefusesWhatItCannotRun) {
    NEED_PROGRAM(xbrun, "xbrun");
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"symbol MAIN proc\nproc MAIN\n  PUSHNILL\n  ENDPROC\nend\n", "bad.xbasm:3: error: unknown mnemonic PUSHNILL"},
        {"symbol MAIN proc\nproc MAIN\n  JUMP 100\n  ENDPROC\nend\n", "bad.xbasm:3: error:"},
        {"", "first symbol must be the procedure"},
        {"symbol QOUT\nsymbol MAIN proc\nproc MAIN\nENDPROC\nend\n", "first symbol must be the procedure"},
        {std::string("\x7F" "ELF\x01\x01\x01\0\0\0", 10), "bad.xbasm:1: error:"},
    };
    for (const Case& c : cases) {
        Outcome r = run(xbrun, {write("bad.xbasm", c.text), "x"});
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Error no recuperable"), std::string::npos) << r.err;
    }
    Outcome missing = run(xbrun, {scratch + "/nothing.xbasm"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
    EXPECT_EQ(run(xbrun, {}).exitCode, 2);
}

TEST_F(ProgramTest, AnErrorIsReportedInTheLogAndEndsWithLevelOne) {
    NEED_PROGRAM(xbrun, "xbrun");
    std::string file = write("undef.xbasm", R"(
symbol MAIN proc
symbol NOSUCHFUNC
proc MAIN
    LINE 5
    PUSHSYMNIL NOSUCHFUNC
    DO 0
    ENDPROC
end
)");
    Outcome r = run(xbrun, {file});
    EXPECT_EQ(r.exitCode, 1);
    std::string log = slurp("Error.txt");
    EXPECT_EQ(log.rfind("Error BASE/1001  Funci\xF3n no definida: NOSUCHFUNC\r\n", 0), 0u) << log;
    EXPECT_NE(log.find("\r\n- Llamado desde MAIN(5)  "), std::string::npos) << log;
    EXPECT_EQ(log.find("DOS Error"), std::string::npos) << log;
    // a console program: the report on standard error as it is in the log
    EXPECT_EQ(r.err, log);
}

TEST_F(ProgramTest, XbrunListsTheCompiledModulesAsAssemblerText) {
    NEED_PROGRAM(xbrun, "xbrun");
    Outcome r = run(xbrun, {"--list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<const modules::CompiledModule*> all = {&modules::appMain};
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) all.push_back(modules::standardModules()[i]);
    // one block per module, each of which assembles to the image's bytes
    std::vector<std::string> blocks;
    for (size_t at = 0; at != std::string::npos;) {
        size_t next = r.out.find("\nmodule ", at + 1);
        blocks.push_back(r.out.substr(at, next == std::string::npos ? next : next - at));
        at = next == std::string::npos ? next : next + 1;
    }
    ASSERT_EQ(blocks.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        pcasm::ScopedModule m(blocks[i].c_str());
        ASSERT_EQ(m.m.procCount, all[i]->procCount) << blocks[i];
        for (uint32_t k = 0; k < all[i]->procCount; ++k) {
            EXPECT_NE(blocks[i].find(std::string("\nproc ") + all[i]->procs[k].name + "\n"), std::string::npos);
            const pcasm::AsmProc* p = pcasm::findProc(m.m, all[i]->procs[k].name);
            ASSERT_NE(p, nullptr) << all[i]->procs[k].name;
            EXPECT_EQ(std::vector<uint8_t>(m.m.code + p->offset, m.m.code + p->offset + p->length),
                      std::vector<uint8_t>(all[i]->procs[k].code, all[i]->procs[k].code + all[i]->procs[k].length));
        }
    }
}

}  // namespace
