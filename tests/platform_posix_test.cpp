// What only the POSIX backend has to build itself: the termios mapping of the line settings, serial
// ports over a pseudo-terminal, the crash handler, the command line, and the
// errno translation.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <vector>
#include <termios.h>
#include <unistd.h>

#include "platform/exception_names.h"
#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "platform/posix/termios_map.h"

using namespace xb::os;

namespace {

const uint32_t BOTH = ACCESS_READ | ACCESS_WRITE, ALL = SHARE_READ | SHARE_WRITE;

class ScratchDir : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char pattern[] = "/tmp/xbplat.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)!system(cmd.c_str());
    }
    std::string path(const char* name) const { return dir + "/" + name; }
    void makeFile(const char* name) {
        Handle h = createFile(path(name).c_str(), BOTH, ALL, CREATE_ALWAYS, 0);
        ASSERT_NE(h, INVALID);
        closeHandle(h);
    }
};

// Locks and sharing seen from other processes: tests/platform_sharing_test.cpp
// (both targets).

TEST_F(ScratchDir, BackslashesSeparateDirectories) {
    ASSERT_TRUE(createDirectory((dir + "\\sub").c_str()));
    Handle h = createFile((dir + "\\sub\\x.txt").c_str(), BOTH, ALL, CREATE_NEW, 0);
    ASSERT_NE(h, INVALID);
    closeHandle(h);
    EXPECT_EQ(access(path("sub/x.txt").c_str(), F_OK), 0);
}

TEST_F(ScratchDir, ComNamesOpenTheirDevices) {
    makeFile("port");
    mapComDevice(3, path("port").c_str());
    Handle h = createFile("com3:", ACCESS_READ, ALL, OPEN_EXISTING, 0);
    EXPECT_NE(h, INVALID);
    CommState st;
    EXPECT_FALSE(getCommState(h, &st));  // a plain file has no line settings
    EXPECT_EQ(lastError(), 6u);
    closeHandle(h);
    mapComDevice(3, nullptr);
    // The standard device for COM9; absent on a machine without it.
    if (access("/dev/ttyS8", F_OK) != 0) {
        EXPECT_EQ(createFile("COM9", BOTH, 0, OPEN_EXISTING, 0), INVALID);
        EXPECT_EQ(lastError(), 2u);
    }
}

// ---- termios mapping

termios sampleTermios() {
    termios t{};
    t.c_iflag = IGNBRK | ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = CREAD | CLOCAL | HUPCL | CRTSCTS | CS7 | PARENB;
    for (int i = 0; i < NCCS; ++i) t.c_cc[i] = cc_t(i + 1);
    cfsetospeed(&t, B9600);
    cfsetispeed(&t, B9600);
    return t;
}

TEST(TermiosMap, ReadsTheFourSettings) {
    termios t = sampleTermios();
    CommState st{};
    ASSERT_TRUE(posix::commStateFromTermios(t, &st));
    EXPECT_EQ(st.baudRate, 9600u);
    EXPECT_EQ(st.byteSize, 7);
    EXPECT_EQ(st.parity, 2);  // even
    EXPECT_EQ(st.stopBits, 0);
    t.c_cflag |= PARODD | CSTOPB;
    ASSERT_TRUE(posix::commStateFromTermios(t, &st));
    EXPECT_EQ(st.parity, 1);
    EXPECT_EQ(st.stopBits, 2);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS5 | CMSPAR;
    ASSERT_TRUE(posix::commStateFromTermios(t, &st));
    EXPECT_EQ(st.byteSize, 5);
    EXPECT_EQ(st.parity, 3);    // mark
    EXPECT_EQ(st.stopBits, 1);  // 1.5 with five bits
    t.c_cflag &= ~PARODD;
    ASSERT_TRUE(posix::commStateFromTermios(t, &st));
    EXPECT_EQ(st.parity, 4);  // space
}

TEST(TermiosMap, WritesOnlyTheFourSettings) {
    const termios before = sampleTermios();
    termios t = before;
    CommState st{115200, 8, 0, 2};
    ASSERT_TRUE(posix::commStateToTermios(st, &t));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), 0u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    // Everything else as it was.
    EXPECT_EQ(t.c_iflag, before.c_iflag);
    EXPECT_EQ(t.c_oflag, before.c_oflag);
    EXPECT_EQ(t.c_lflag, before.c_lflag);
    EXPECT_EQ(memcmp(t.c_cc, before.c_cc, sizeof t.c_cc), 0);
    const tcflag_t line = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CBAUD | CBAUDEX;
    EXPECT_EQ(t.c_cflag & ~line, before.c_cflag & ~line);

    // Round trips of every parity and stop-bit code.
    for (uint8_t parity = 0; parity <= 4; ++parity)
        for (uint8_t size = 5; size <= 8; ++size) {
            CommState in{2400, size, parity, uint8_t(size == 5 ? 1 : 2)}, out{};
            ASSERT_TRUE(posix::commStateToTermios(in, &t));
            ASSERT_TRUE(posix::commStateFromTermios(t, &out));
            EXPECT_EQ(out.baudRate, 2400u);
            EXPECT_EQ(out.byteSize, size);
            EXPECT_EQ(out.parity, parity);
            EXPECT_EQ(out.stopBits, in.stopBits);
        }
}

TEST(TermiosMap, RefusesWhatTheLineCannotDo) {
    const termios before = sampleTermios();
    const CommState refused[] = {
        {12345, 8, 0, 0},  // no such speed
        {0, 8, 0, 0},      // would hang up
        {9600, 4, 0, 0},   {9600, 9, 0, 0}, {9600, 8, 5, 0}, {9600, 8, 0, 3},
        {9600, 8, 0, 1},  // 1.5 stop bits need five data bits
        {9600, 5, 0, 2},  // five data bits give 1.5, not 2
    };
    for (const CommState& st : refused) {
        termios t = before;
        EXPECT_FALSE(posix::commStateToTermios(st, &t)) << st.baudRate << " " << int(st.byteSize);
        EXPECT_EQ(memcmp(&t, &before, sizeof t), 0);
    }
}

// ---- a serial port over a pseudo-terminal

class PseudoPort : public ::testing::Test {
protected:
    int master = -1;
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        mapComDevice(1, ptsname(master));
    }
    void TearDown() override {
        mapComDevice(1, nullptr);
        close(master);
    }
};

TEST_F(PseudoPort, ReadsAndChangesTheLineSettings) {
    Handle h = createFile("Com1:", ACCESS_READ, ALL, OPEN_EXISTING, 0x80);
    ASSERT_NE(h, INVALID) << lastError();
    // Start from 9600 baud, one stop bit, with some other settings that must
    // survive. (A pseudo-terminal always has 8 data bits and no parity.)
    termios t;
    ASSERT_EQ(tcgetattr(int(h), &t), 0);
    cfsetospeed(&t, B9600);
    cfsetispeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~CSTOPB) | CLOCAL;
    t.c_lflag &= ~ECHO;
    t.c_iflag |= IXOFF;
    t.c_cc[VMIN] = 3;
    ASSERT_EQ(tcsetattr(int(h), TCSANOW, &t), 0);

    CommState st{};
    ASSERT_TRUE(getCommState(h, &st));
    EXPECT_EQ(st.baudRate, 9600u);
    EXPECT_EQ(st.byteSize, 8);
    EXPECT_EQ(st.parity, 0);
    EXPECT_EQ(st.stopBits, 0);

    CommState changed{115200, 8, 0, 2};
    ASSERT_TRUE(setCommState(h, &changed)) << lastError();
    ASSERT_TRUE(getCommState(h, &st));
    EXPECT_EQ(st.baudRate, 115200u);
    EXPECT_EQ(st.byteSize, 8);
    EXPECT_EQ(st.parity, 0);
    EXPECT_EQ(st.stopBits, 2);
    termios after;
    ASSERT_EQ(tcgetattr(int(h), &after), 0);
    EXPECT_EQ(after.c_lflag & ECHO, 0u);
    EXPECT_NE(after.c_iflag & IXOFF, 0u);
    EXPECT_NE(after.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(after.c_cc[VMIN], 3);

    // A speed the terminal does not know leaves the port as it was.
    CommState odd{12345, 8, 0, 0};
    EXPECT_FALSE(setCommState(h, &odd));
    EXPECT_EQ(lastError(), 87u);
    // So does a setting the device takes only in part: the pseudo-terminal
    // keeps the speed but drops the parity, and the whole change is undone.
    CommState parity{9600, 7, 2, 0};
    EXPECT_FALSE(setCommState(h, &parity));
    EXPECT_EQ(lastError(), 87u);
    ASSERT_TRUE(getCommState(h, &st));
    EXPECT_EQ(st.baudRate, 115200u);
    EXPECT_EQ(st.stopBits, 2);

    // The handle was opened for reading only.
    uint32_t done = 7;
    EXPECT_FALSE(writeFile(h, "x", 1, &done));
    EXPECT_EQ(lastError(), 5u);
    EXPECT_TRUE(closeHandle(h));
}

TEST_F(PseudoPort, WritesReachTheLine) {
    Handle h = createFile("COM1", BOTH, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID);
    termios raw;
    ASSERT_EQ(tcgetattr(int(h), &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(int(h), TCSANOW, &raw), 0);
    uint32_t done = 0;
    ASSERT_TRUE(writeFile(h, "Texto\r\n", 7, &done));
    EXPECT_EQ(done, 7u);
    ASSERT_TRUE(flushFileBuffers(h));
    char buf[16];
    ssize_t n = read(master, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "Texto\r\n");
    closeHandle(h);
}

// ---- crash handler

#ifndef XB_SANITIZE
int reportPipe = -1;

void reportToPipe(const char* what, uint32_t code, uintptr_t address) {
    char line[128];
    int n = snprintf(line, sizeof line, "%s|%08X|%d", what, unsigned(code), address != 0);
    (void)!write(reportPipe, line, size_t(n));
}

std::string crashChild(void (*fault)(), int* exitCode) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        reportPipe = fds[1];
        installCrashHandler(reportToPipe);
        fault();
        _exit(77);
    }
    close(fds[1]);
    std::string text;
    char buf[128];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return text;
}
#endif

TEST(CrashHandler, ReportsFaultsAsWindowsExceptions) {
#ifdef XB_SANITIZE
    GTEST_SKIP() << "the sanitizer runtime handles faults itself";
#else
    int code = 0;
    std::string report = crashChild([] { *static_cast<volatile int*>(nullptr) = 1; }, &code);
    EXPECT_EQ(report, "Access violation|C0000005|1");
    EXPECT_EQ(code, 1);

    report = crashChild(
        [] {
            volatile int zero = 0, seven = 7;
            volatile int r = seven / zero;
            (void)r;
        },
        &code);
    EXPECT_EQ(report, "Integer division by zero|C0000094|1");
    EXPECT_EQ(code, 1);

    report = crashChild([] { raise(SIGILL); }, &code);
    EXPECT_EQ(report.substr(0, 20), "Illegal instruction|");
    EXPECT_EQ(code, 1);
#endif
}

// ---- command line, message box, errno

TEST(PosixProcess, CommandLineQuotesArgumentsWithBlanks) {
    // Without being told, the backend takes the process's own arguments.
    std::string own;
    if (FILE* f = fopen("/proc/self/cmdline", "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF) own += char(c);
        fclose(f);
    }
    std::vector<char*> ownArgs;
    for (size_t at = 0; at < own.size(); at += strlen(&own[at]) + 1) ownArgs.push_back(&own[at]);
    std::string first = ownArgs.empty() ? "" : ownArgs[0];
    EXPECT_EQ(std::string(commandLine()).find(first), first.find(' ') == std::string::npos ? 0u : 1u);

    const char* args[] = {"/opt/x b/prog", "plain", "two words", "", "tab\there", "/COM1=/dev/pts/3"};
    setCommandLine(6, const_cast<char**>(args));
    EXPECT_STREQ(commandLine(), "\"/opt/x b/prog\" plain \"two words\" \"\" \"tab\there\" /COM1=/dev/pts/3");
    setCommandLine(int(ownArgs.size()), ownArgs.data());
}

TEST(PosixProcess, MessageBoxWritesCaptionAndTextToStandardError) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved = dup(2);
    dup2(fds[1], 2);
    messageBox("Texto de prueba", "QOUT");
    messageBox("line\r\n", "Error", 0x1010);
    dup2(saved, 2);
    close(saved);
    close(fds[1]);
    char buf[128];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "QOUT: Texto de prueba\nError: line\r\n");
}

TEST(PosixErrors, ErrnoBecomesWindowsNumbers) {
    EXPECT_EQ(posix::windowsError(ENOENT), 2u);
    EXPECT_EQ(posix::windowsError(EACCES), 5u);
    EXPECT_EQ(posix::windowsError(EEXIST), 80u);
    EXPECT_EQ(posix::windowsError(ENOSPC), 112u);
    EXPECT_EQ(posix::windowsError(EBADF), 6u);
    EXPECT_EQ(posix::windowsError(ENOTEMPTY), 145u);
    EXPECT_EQ(posix::windowsError(EAGAIN), 33u);
    EXPECT_EQ(posix::windowsError(EHOSTDOWN), 31u);  // nothing close: general failure
    EXPECT_EQ(posix::windowsPathError(ENOENT, "/tmp/surely-not-here"), 2u);
    EXPECT_EQ(posix::windowsPathError(ENOENT, "/tmp/surely-not-here/x"), 3u);
    EXPECT_EQ(posix::windowsPathError(ENOENT, "relative-name"), 2u);
}

}  // namespace
#endif
