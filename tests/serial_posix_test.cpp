// FDCB on a pseudo-terminal standing in for a serial port: the settings it
// reports, the ones it changes, and that only numbers change anything.
#ifndef _WIN32
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

using namespace xb;
using test::Arg;
using test::invoke;

namespace {

class FdcbTest : public test::VmTest {
protected:
    int master = -1;
    int slave = -1;
    int32_t handle = -1;

    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        termios t;
        ASSERT_EQ(tcgetattr(slave, &t), 0);
        cfmakeraw(&t);
        cfsetospeed(&t, B9600);
        cfsetispeed(&t, B9600);
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);
        os::mapComDevice(3, ptsname(master));
        handle = invoke("FOPEN", {"COM3:", 2}).v.l;
        ASSERT_GE(handle, 0);
    }
    void TearDown() override {
        if (handle >= 0) invoke("FCLOSE", {handle});
        os::mapComDevice(3, nullptr);
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
        VmTest::TearDown();
    }

    std::vector<int32_t> elements(const Item& a) {
        std::vector<int32_t> out;
        if (!(a.type & T_ARRAY)) return out;
        for (uint32_t i = 0; i < arrayLength(&a); ++i) {
            EXPECT_EQ(arrayItems(&a)[i].type, T_INTEGER);
            EXPECT_EQ(arrayItems(&a)[i].width, 10);
            out.push_back(arrayItems(&a)[i].v.l);
        }
        return out;
    }
    speed_t outputSpeed() {
        termios t;
        tcgetattr(slave, &t);
        return cfgetospeed(&t);
    }
};

}  // namespace

TEST_F(FdcbTest, ReturnsTheSettingsInForceAndAppliesTheNumbersGiven) {
    Item before = invoke("FDCB", {handle, 115200, 8, 0, 2});
    EXPECT_EQ(elements(before), (std::vector<int32_t>{9600, 8, 0, 0}));
    EXPECT_EQ(outputSpeed(), speed_t(B115200));
    termios t;
    tcgetattr(slave, &t);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);  // the raw mode set above survives
    // passing the saved values back restores them; a double works as a number
    Item changed = invoke("FDCB", {handle, 9600.0, 8, 0, 0});
    EXPECT_EQ(elements(changed), (std::vector<int32_t>{115200, 8, 0, 2}));
    EXPECT_EQ(outputSpeed(), speed_t(B9600));
    EXPECT_EQ(elements(invoke("FDCB", {handle})), (std::vector<int32_t>{9600, 8, 0, 0}));
}

// Every write of the line settings shows on the master side: in packet mode,
// with EXTPROC set on the line, each one queues a TIOCPKT_IOCTL status byte.
TEST_F(FdcbTest, OnlyNilsReadWithoutWriting) {
    int on = 1;
    ASSERT_EQ(ioctl(master, TIOCPKT, &on), 0);
    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    t.c_lflag |= EXTPROC;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);
    auto settingsWritten = [&] {
        bool seen = false;
        pollfd p{master, POLLIN, 0};
        char status[64];
        while (poll(&p, 1, 20) > 0 && read(master, status, sizeof status) > 0) seen |= (status[0] & TIOCPKT_IOCTL) != 0;
        return seen;
    };
    ASSERT_TRUE(settingsWritten());  // our own tcsetattr above

    EXPECT_EQ(elements(invoke("FDCB", {handle, Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil()})),
              (std::vector<int32_t>{9600, 8, 0, 0}));
    EXPECT_FALSE(settingsWritten());
    EXPECT_EQ(elements(invoke("FDCB", {handle, "115200", true})), (std::vector<int32_t>{9600, 8, 0, 0}));
    EXPECT_FALSE(settingsWritten());
    // while a number writes the block back, even one that changes nothing
    invoke("FDCB", {handle, 9600});
    EXPECT_TRUE(settingsWritten());
}

TEST_F(FdcbTest, NoNumberOrNoSerialDeviceGivesNil) {
    EXPECT_EQ(invoke("FDCB", {"3"}).type, T_NIL);
    EXPECT_EQ(invoke("FDCB").type, T_NIL);
    int32_t file = invoke("FCREATE", {"xbfdcb_plain.txt"}).v.l;
    ASSERT_GE(file, 0);
    EXPECT_EQ(invoke("FDCB", {file, 9600}).type, T_NIL);
    invoke("FCLOSE", {file});
    invoke("FERASE", {"xbfdcb_plain.txt"});
    // a refused change still reports the settings that were in force
    EXPECT_EQ(elements(invoke("FDCB", {handle, 12345})), (std::vector<int32_t>{9600, 8, 0, 0}));
    EXPECT_EQ(outputSpeed(), speed_t(B9600));
}
#endif
