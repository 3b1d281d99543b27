// Byte-range locks and sharing modes as other processes see them, on both
// targets: a child process (this test binary started again for one role,
// tests/support/child_process.h) opens or locks the file and reports what
// it got, or holds an open or a lock until the parent releases it. On POSIX
// these are the backend's own emulation; on Windows the system's.
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "platform/platform.h"

using namespace xb;
using namespace xb::os;

namespace {

const uint32_t BOTH = ACCESS_READ | ACCESS_WRITE, ALL = SHARE_READ | SHARE_WRITE;

// Roles, as "<what> <access> <share> <offset> <length> <file>":
//   lock   opens (access, share) and locks; exit code 0 or the error
//          (100 when the open failed)
//   open   opens; exit code 0 or the error
//   hold   opens and locks when length > 0, says "ready" and keeps both
//          until released; exit code 0 or 1
int childMain(const char* role) {
    std::istringstream in(role);
    std::string what, file;
    uint32_t access = 0, share = 0, offset = 0, length = 0;
    in >> what >> access >> share >> offset >> length;
    std::getline(in >> std::ws, file);
    Handle h = createFile(file.c_str(), access, share, OPEN_EXISTING, 0);
    if (what == "open") return h == INVALID ? int(lastError()) : 0;
    if (h == INVALID) return what == "lock" ? 100 : 1;
    bool locked = length == 0 || lockFile(h, offset, length);
    if (what == "lock") return locked ? 0 : int(lastError());
    if (!locked) return 1;
    test::childSay("ready");
    test::childAwaitRelease();
    return 0;
}

std::string roleText(const char* what, uint32_t access, uint32_t share, uint32_t offset, uint32_t length,
                     const std::string& file) {
    return std::string(what) + " " + std::to_string(access) + " " + std::to_string(share) + " " +
           std::to_string(offset) + " " + std::to_string(length) + " " + file;
}

class SharedFiles : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        if (const char* role = test::childRole()) test::childExit(childMain(role));
        namespace fs = std::filesystem;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        fs::path p = fs::temp_directory_path() /
                     ("xbshare_" + std::to_string(processId()) + "_" + std::to_string(stamp % 1000000));
        std::error_code ec;
        fs::create_directories(p, ec);
        ASSERT_FALSE(ec) << p.string();
        dir = p.string();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string path(const char* name) const { return (std::filesystem::path(dir) / name).string(); }
    void makeFile(const char* name) {
        Handle h = createFile(path(name).c_str(), BOTH, ALL, CREATE_ALWAYS, 0);
        ASSERT_NE(h, INVALID);
        closeHandle(h);
    }
    // The result of one role in a fresh process.
    int inChild(const std::string& role) {
        test::Child c;
        if (!c.start(role)) return -1;
        int code = c.finish();
        EXPECT_GE(code, 0) << c.output;
        return code;
    }
    int lockInChild(const std::string& file, uint32_t offset, uint32_t length, uint32_t access = BOTH) {
        return inChild(roleText("lock", access, ALL, offset, length, file));
    }
    int openInChild(const std::string& file, uint32_t access, uint32_t share) {
        return inChild(roleText("open", access, share, 0, 0, file));
    }
};

TEST_F(SharedFiles, LocksAreSeenByOtherProcesses) {
    makeFile("t.dbf");
    std::string f = path("t.dbf");
    Handle h = createFile(f.c_str(), BOTH, ALL, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID);
    ASSERT_TRUE(lockFile(h, 1000000000u, 1));
    EXPECT_EQ(lockInChild(f, 1000000000u, 1), 33);
    EXPECT_EQ(lockInChild(f, 1000000001u, 1000000000u), 0);
    ASSERT_TRUE(unlockFile(h, 1000000000u, 1));
    EXPECT_EQ(lockInChild(f, 1000000000u, 1), 0);

    // A lock held by another process stops us until that process is gone.
    test::Child holder;
    ASSERT_TRUE(holder.start(roleText("hold", BOTH, ALL, 1000000042u, 1, f)));
    std::string word;
    ASSERT_TRUE(holder.hear(&word)) << holder.output;
    EXPECT_FALSE(lockFile(h, 1000000040u, 5));
    EXPECT_EQ(lastError(), 33u);
    EXPECT_EQ(holder.finish(), 0) << holder.output;
    EXPECT_TRUE(lockFile(h, 1000000040u, 5));
    closeHandle(h);
}

TEST_F(SharedFiles, SharingModesAreSeenByOtherProcesses) {
    makeFile("s.dbf");
    std::string f = path("s.dbf");
    // Exclusive here: nobody there.
    Handle h = createFile(f.c_str(), BOTH, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(openInChild(f, ACCESS_READ, ALL), 32);
    closeHandle(h);
    EXPECT_EQ(openInChild(f, ACCESS_READ, ALL), 0);

    // Deny-write here: readers there, writers not.
    h = createFile(f.c_str(), ACCESS_READ, SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(openInChild(f, ACCESS_READ, ALL), 0);
    EXPECT_EQ(openInChild(f, BOTH, ALL), 32);
    EXPECT_EQ(openInChild(f, ACCESS_READ, SHARE_WRITE), 32);  // would deny our reading
    closeHandle(h);

    // Open there: an exclusive open here fails until the other one closes.
    test::Child other;
    ASSERT_TRUE(other.start(roleText("hold", ACCESS_READ, ALL, 0, 0, f)));
    std::string word;
    ASSERT_TRUE(other.hear(&word)) << other.output;
    EXPECT_EQ(createFile(f.c_str(), BOTH, 0, OPEN_EXISTING, 0), INVALID);
    EXPECT_EQ(lastError(), 32u);
    EXPECT_FALSE(deleteFile(f.c_str()));
    EXPECT_EQ(lastError(), 32u);
    EXPECT_EQ(other.finish(), 0) << other.output;
    h = createFile(f.c_str(), BOTH, 0, OPEN_EXISTING, 0);
    EXPECT_NE(h, INVALID);
    closeHandle(h);
}

TEST_F(SharedFiles, ClosingOneHandleKeepsTheOthersLocksAndSharing) {
    // Per-process locks would all vanish with the first close of the file.
    makeFile("k.dbf");
    std::string f = path("k.dbf");
    Handle locker = createFile(f.c_str(), ACCESS_READ, ALL, OPEN_EXISTING, 0);
    Handle denier = createFile(f.c_str(), ACCESS_READ, SHARE_READ, OPEN_EXISTING, 0);
    Handle other = createFile(f.c_str(), ACCESS_READ, ALL, OPEN_EXISTING, 0);
    ASSERT_NE(locker, INVALID);
    ASSERT_NE(denier, INVALID);
    ASSERT_NE(other, INVALID);
    ASSERT_TRUE(lockFile(locker, 1000000007u, 1));
    closeHandle(other);
    EXPECT_EQ(lockInChild(f, 1000000007u, 1, ACCESS_READ), 33);
    EXPECT_EQ(openInChild(f, BOTH, ALL), 32);
    closeHandle(denier);
    EXPECT_EQ(openInChild(f, BOTH, ALL), 0);
    closeHandle(locker);
    EXPECT_EQ(lockInChild(f, 1000000007u, 1), 0);
}

// The process functions themselves: an exit code passed back, a killed
// child's lock released, a program that is not there refused.
TEST_F(SharedFiles, ChildProcessesEndWithTheirCodesAndLoseTheirLocksWhenKilled) {
    test::Child c;
    ASSERT_TRUE(c.start(roleText("open", ACCESS_READ, ALL, 0, 0, path("missing.dbf"))));
    EXPECT_EQ(c.finish(), 2) << c.output;  // file not found, as its exit code

    makeFile("h.dbf");
    test::Child held;
    ASSERT_TRUE(held.start(roleText("hold", ACCESS_READ, ALL, 5, 1, path("h.dbf"))));
    std::string word;
    ASSERT_TRUE(held.hear(&word)) << held.output;
    EXPECT_EQ(word, "ready");
    held.kill();  // its lock goes with it
    EXPECT_EQ(lockInChild(path("h.dbf"), 5, 1), 0);

    std::string missing = path("no-such-program.exe");
    const char* argv[] = {missing.c_str(), nullptr};
    ProcessStart s{argv, nullptr, nullptr, INVALID, INVALID, INVALID};
    Process p{};
    EXPECT_FALSE(processStart(&s, &p));
    EXPECT_EQ(lastError(), 2u);
    EXPECT_EQ(p.process, INVALID);
}

}  // namespace
