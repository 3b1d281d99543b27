// The operating-system layer, through platform.h only, so that the same
// expectations run on both backends (natively and under Wine): Windows error
// numbers, access and sharing rules, byte-range locks, names and time.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com_name.h"
#include "platform/platform.h"

using namespace xb::os;

namespace {

// Every test works in a scratch directory of its own below the current one.
class PlatformFiles : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        LocalTime t;
        localTime(&t);
        dir = std::string("xbplat_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
              "_" + std::to_string(t.second * 1000 + t.milliseconds);
        ASSERT_TRUE(createDirectory(dir.c_str())) << lastError();
    }
    void TearDown() override { removeTree(dir); }

    std::string path(const char* name) const { return dir + "/" + name; }

    Handle open(const char* name, uint32_t access, uint32_t share, uint32_t disposition) {
        return createFile(path(name).c_str(), access, share, disposition, 0);
    }

    void writeText(const char* name, const char* text) {
        Handle h = open(name, ACCESS_READ | ACCESS_WRITE, SHARE_READ | SHARE_WRITE, CREATE_ALWAYS);
        ASSERT_NE(h, INVALID);
        uint32_t done = 0;
        ASSERT_TRUE(writeFile(h, text, uint32_t(strlen(text)), &done));
        ASSERT_TRUE(closeHandle(h));
    }

    std::string readText(const char* name) {
        Handle h = open(name, ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
        if (h == INVALID) return "<unopened>";
        char buf[256];
        uint32_t done = 0;
        readFile(h, buf, sizeof buf, &done);
        closeHandle(h);
        return std::string(buf, done);
    }

    // The scratch directories hold only the few plain names the tests use.
    static void removeTree(const std::string& root) {
        static const char* names[] = {"a.txt", "b.txt", "c.dat", "data.dbf", "locks.dat",
                                      "shared.dat", "sub/x.txt", "sub"};
        for (const char* n : names) {
            std::string p = root + "/" + n;
            if (!deleteFile(p.c_str())) removeDirectory(p.c_str());
        }
        removeDirectory(root.c_str());
    }
};

TEST_F(PlatformFiles, WriteSeekReadAndTruncate) {
    Handle h = open("a.txt", ACCESS_READ | ACCESS_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID) << lastError();
    uint32_t done = 0;
    ASSERT_TRUE(writeFile(h, "hello world", 11, &done));
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(setFilePointer(h, 0, FROM_CURRENT), 11u);
    EXPECT_EQ(setFilePointer(h, 0, FROM_BEGIN), 0u);
    char buf[16] = {};
    ASSERT_TRUE(readFile(h, buf, 5, &done));
    EXPECT_EQ(std::string(buf, done), "hello");
    EXPECT_EQ(setFilePointer(h, -5, FROM_END), 6u);
    ASSERT_TRUE(readFile(h, buf, sizeof buf, &done));
    EXPECT_EQ(std::string(buf, done), "world");
    // At the end a read succeeds with nothing.
    ASSERT_TRUE(readFile(h, buf, sizeof buf, &done));
    EXPECT_EQ(done, 0u);
    // Cutting at the current position.
    EXPECT_EQ(setFilePointer(h, 5, FROM_BEGIN), 5u);
    ASSERT_TRUE(setEndOfFile(h));
    EXPECT_EQ(setFilePointer(h, 0, FROM_END), 5u);
    // Writing past the end extends the file.
    EXPECT_EQ(setFilePointer(h, 2, FROM_CURRENT), 7u);
    ASSERT_TRUE(writeFile(h, "!", 1, &done));
    EXPECT_EQ(setFilePointer(h, 0, FROM_END), 8u);
    ASSERT_TRUE(flushFileBuffers(h));
    ASSERT_TRUE(closeHandle(h));
    EXPECT_EQ(readText("a.txt"), std::string("hello\0\0!", 8));
}

TEST_F(PlatformFiles, NegativeSeekFailsAndKeepsPosition) {
    writeText("a.txt", "abcdef");
    Handle h = open("a.txt", ACCESS_READ, SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(setFilePointer(h, 3, FROM_BEGIN), 3u);
    EXPECT_EQ(setFilePointer(h, -1, FROM_BEGIN), 0xFFFFFFFFu);
    EXPECT_EQ(lastError(), 131u);
    EXPECT_EQ(setFilePointer(h, -4, FROM_CURRENT), 0xFFFFFFFFu);
    EXPECT_EQ(setFilePointer(h, 0, FROM_CURRENT), 3u);
    closeHandle(h);
}

TEST_F(PlatformFiles, DispositionsAndTheirErrors) {
    EXPECT_EQ(open("a.txt", ACCESS_READ, SHARE_READ, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 2u);
    EXPECT_EQ(open("nodir/a.txt", ACCESS_READ, SHARE_READ, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 3u);
    EXPECT_EQ(open("nodir/a.txt", ACCESS_WRITE, 0, CREATE_ALWAYS), INVALID);
    EXPECT_EQ(lastError(), 3u);
    EXPECT_EQ(open("a.txt", ACCESS_WRITE, SHARE_READ, TRUNCATE_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 2u);

    writeText("a.txt", "some text");
    EXPECT_EQ(open("a.txt", ACCESS_WRITE, 0, CREATE_NEW), INVALID);
    EXPECT_EQ(lastError(), 80u);

    Handle h = open("a.txt", ACCESS_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(lastError(), 183u);  // it existed, and was emptied
    closeHandle(h);
    EXPECT_EQ(readText("a.txt"), "");

    writeText("a.txt", "some text");
    h = open("a.txt", ACCESS_READ | ACCESS_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(lastError(), 183u);
    EXPECT_EQ(setFilePointer(h, 0, FROM_END), 9u);  // kept
    closeHandle(h);

    h = open("b.txt", ACCESS_READ | ACCESS_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID);
    EXPECT_EQ(lastError(), 0u);
    closeHandle(h);

    h = open("a.txt", ACCESS_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(h, INVALID);
    closeHandle(h);
    EXPECT_EQ(readText("a.txt"), "");

    // A directory is not a file.
    EXPECT_EQ(createFile(dir.c_str(), ACCESS_READ, SHARE_READ, OPEN_EXISTING, 0), INVALID);
    EXPECT_EQ(lastError(), 5u);
}

TEST_F(PlatformFiles, HandleAccessIsEnforced) {
    writeText("a.txt", "original");
    Handle h = open("a.txt", ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID);
    uint32_t done = 99;
    EXPECT_FALSE(writeFile(h, "x", 1, &done));
    EXPECT_EQ(lastError(), 5u);
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(setEndOfFile(h));
    uint32_t error = lastError();
    EXPECT_TRUE(error == 5 || error == 87) << error;  // Wine: 87
    EXPECT_FALSE(flushFileBuffers(h));
    EXPECT_EQ(lastError(), 5u);
    closeHandle(h);

    h = open("a.txt", ACCESS_WRITE, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID);
    char buf[8];
    EXPECT_FALSE(readFile(h, buf, sizeof buf, &done));
    EXPECT_EQ(lastError(), 5u);
    closeHandle(h);
    EXPECT_EQ(readText("a.txt"), "original");

    // A closed handle is no handle, and neither is a made-up number.
    EXPECT_FALSE(writeFile(h, "x", 1, &done));
    EXPECT_EQ(lastError(), 6u);
    EXPECT_FALSE(readFile(Handle(123456789), buf, sizeof buf, &done));
    EXPECT_EQ(lastError(), 6u);
    EXPECT_FALSE(lockFile(Handle(123456789), 0, 1));
    EXPECT_EQ(lastError(), 6u);
    EXPECT_FALSE(closeHandle(Handle(123456789)));
    EXPECT_EQ(lastError(), 6u);
}

TEST_F(PlatformFiles, ByteRangeLocksBetweenHandles) {
    writeText("locks.dat", "0123456789");
    const uint32_t both = ACCESS_READ | ACCESS_WRITE, all = SHARE_READ | SHARE_WRITE;
    Handle a = open("locks.dat", both, all, OPEN_EXISTING);
    Handle b = open("locks.dat", both, all, OPEN_EXISTING);
    ASSERT_NE(a, INVALID);
    ASSERT_NE(b, INVALID);

    ASSERT_TRUE(lockFile(a, 1000000000u, 10));
    EXPECT_FALSE(lockFile(b, 1000000005u, 1));
    EXPECT_EQ(lastError(), 33u);
    EXPECT_TRUE(lockFile(b, 1000000010u, 5));  // right after a's range
    // The same handle cannot lock an overlapping range twice either.
    EXPECT_FALSE(lockFile(a, 1000000009u, 2));
    EXPECT_EQ(lastError(), 33u);
    // Unlocking needs the range as it was locked.
    EXPECT_FALSE(unlockFile(a, 1000000000u, 5));
    uint32_t error = lastError();
    EXPECT_TRUE(error == 158 || error == 33) << error;  // Wine: 33
    EXPECT_FALSE(unlockFile(b, 1000000000u, 10));  // a's lock, not b's
    ASSERT_TRUE(unlockFile(a, 1000000000u, 10));
    EXPECT_TRUE(lockFile(b, 1000000005u, 1));

    // Ranges up to the top of the 32-bit space work as well.
    EXPECT_TRUE(lockFile(a, 0xFFFFFFFFu, 1));
    EXPECT_FALSE(lockFile(b, 0xFFFFFFF0u, 0x10));
    EXPECT_FALSE(lockFile(b, 1000000001u, 1000000000u));  // covers b's own ranges

    // Closing a handle gives up its locks and no other handle's.
    ASSERT_TRUE(closeHandle(b));
    EXPECT_TRUE(lockFile(a, 1000000005u, 1));
    EXPECT_TRUE(lockFile(a, 1000000010u, 5));
    Handle c = open("locks.dat", both, all, OPEN_EXISTING);
    ASSERT_NE(c, INVALID);
    EXPECT_FALSE(lockFile(c, 0xFFFFFFFFu, 1));
    closeHandle(c);
    closeHandle(a);
}

TEST_F(PlatformFiles, SharingModesBetweenHandles) {
    writeText("shared.dat", "x");
    const char* f = "shared.dat";
    // An exclusive handle keeps everyone out, and is kept out by anyone.
    Handle a = open(f, ACCESS_READ | ACCESS_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(a, INVALID);
    EXPECT_EQ(open(f, ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 32u);
    closeHandle(a);
    a = open(f, ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(a, INVALID);
    EXPECT_EQ(open(f, ACCESS_READ, 0, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 32u);
    closeHandle(a);

    // Shared for reading only (deny write): readers welcome, writers not.
    a = open(f, ACCESS_READ, SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(a, INVALID);
    Handle b = open(f, ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(b, INVALID);
    closeHandle(b);
    EXPECT_EQ(open(f, ACCESS_WRITE, SHARE_READ | SHARE_WRITE, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 32u);
    // A newcomer denying writes is fine with a reader, one denying reads is not.
    b = open(f, ACCESS_READ, SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(b, INVALID);
    closeHandle(b);
    EXPECT_EQ(open(f, ACCESS_READ, SHARE_WRITE, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 32u);
    closeHandle(a);

    // Shared for writing only (deny read): a writer may come, a reader not.
    a = open(f, ACCESS_READ | ACCESS_WRITE, SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(a, INVALID);
    b = open(f, ACCESS_WRITE, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(b, INVALID);
    closeHandle(b);
    EXPECT_EQ(open(f, ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING), INVALID);
    EXPECT_EQ(lastError(), 32u);
    // A refused create must not have emptied the file.
    EXPECT_EQ(open(f, ACCESS_READ | ACCESS_WRITE, 0, CREATE_ALWAYS), INVALID);
    EXPECT_EQ(lastError(), 32u);
    closeHandle(a);
    EXPECT_EQ(readText(f), "x");
}

TEST_F(PlatformFiles, DeleteAndRename) {
    writeText("a.txt", "A");
    writeText("b.txt", "B");
    // A file that is open cannot be deleted or renamed.
    Handle h = open("a.txt", ACCESS_READ, SHARE_READ | SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID);
    EXPECT_FALSE(deleteFile(path("a.txt").c_str()));
    EXPECT_EQ(lastError(), 32u);
    EXPECT_FALSE(moveFile(path("a.txt").c_str(), path("c.dat").c_str()));
    EXPECT_EQ(lastError(), 32u);
    closeHandle(h);

    // Renaming never replaces.
    EXPECT_FALSE(moveFile(path("a.txt").c_str(), path("b.txt").c_str()));
    EXPECT_EQ(lastError(), 183u);
    EXPECT_EQ(readText("b.txt"), "B");
    ASSERT_TRUE(moveFile(path("a.txt").c_str(), path("c.dat").c_str()));
    EXPECT_EQ(readText("c.dat"), "A");
    EXPECT_FALSE(moveFile(path("a.txt").c_str(), path("a2.txt").c_str()));
    EXPECT_EQ(lastError(), 2u);

    ASSERT_TRUE(deleteFile(path("c.dat").c_str()));
    EXPECT_FALSE(deleteFile(path("c.dat").c_str()));
    EXPECT_EQ(lastError(), 2u);
    EXPECT_FALSE(deleteFile(path("nodir/c.dat").c_str()));
    EXPECT_EQ(lastError(), 3u);
}

TEST_F(PlatformFiles, Directories) {
    std::string sub = path("sub");
    ASSERT_TRUE(createDirectory(sub.c_str()));
    EXPECT_FALSE(createDirectory(sub.c_str()));
    EXPECT_EQ(lastError(), 183u);
    EXPECT_FALSE(createDirectory(path("none/sub").c_str()));
    EXPECT_EQ(lastError(), 3u);

    writeText("sub/x.txt", "x");
    EXPECT_FALSE(removeDirectory(sub.c_str()));
    EXPECT_EQ(lastError(), 145u);
    ASSERT_TRUE(deleteFile(path("sub/x.txt").c_str()));
    EXPECT_FALSE(deleteFile(sub.c_str()));  // a directory is not deleted as a file
    EXPECT_EQ(lastError(), 5u);
    ASSERT_TRUE(removeDirectory(sub.c_str()));
    EXPECT_FALSE(removeDirectory(sub.c_str()));
    EXPECT_EQ(lastError(), 2u);

    char before[1024], inside[1024];
    int n = currentDirectory(before, sizeof before);
    ASSERT_GT(n, 0);
    EXPECT_EQ(size_t(n), strlen(before));
    EXPECT_EQ(currentDirectory(before, 2), 0);  // too small
    currentDirectory(before, sizeof before);
    writeText("a.txt", "here");
    ASSERT_TRUE(setCurrentDirectory(dir.c_str()));
    ASSERT_GT(currentDirectory(inside, sizeof inside), n);
    EXPECT_EQ(std::string(inside).substr(0, size_t(n)), before);
    EXPECT_TRUE(fileExists("a.txt"));  // relative to the new current directory
    ASSERT_TRUE(setCurrentDirectory(before));
    EXPECT_FALSE(setCurrentDirectory(path("none").c_str()));
    EXPECT_EQ(lastError(), 2u);

    uint64_t freeBytes = 0;
    ASSERT_TRUE(diskFreeSpace(nullptr, &freeBytes));
    EXPECT_GT(freeBytes, 0u);
}

TEST_F(PlatformFiles, FileExistsWithWildCards) {
    writeText("data.dbf", "");
    EXPECT_TRUE(fileExists(path("data.dbf").c_str()));
    EXPECT_TRUE(fileExists(dir.c_str()));  // directories are found too
    EXPECT_TRUE(fileExists(path("*.dbf").c_str()));
    EXPECT_TRUE(fileExists(path("*.DBF").c_str()));
    EXPECT_TRUE(fileExists(path("d?ta.*").c_str()));
    EXPECT_TRUE(fileExists(path("*.*").c_str()));
    EXPECT_TRUE(fileExists(path("*").c_str()));
    EXPECT_FALSE(fileExists(path("*.ntx").c_str()));
    EXPECT_FALSE(fileExists(path("d?.dbf").c_str()));
    EXPECT_FALSE(fileExists(path("data.dbf.bak").c_str()));
    EXPECT_FALSE(fileExists(path("none/*.dbf").c_str()));
}

TEST(PlatformNames, SerialDeviceNames) {
    EXPECT_EQ(comDeviceNumber("COM1"), 1);
    EXPECT_EQ(comDeviceNumber("Com1:"), 1);
    EXPECT_EQ(comDeviceNumber("com9"), 9);
    EXPECT_EQ(comDeviceNumber("\\\\.\\COM2"), 2);
    EXPECT_EQ(comDeviceNumber("COM0"), 0);
    EXPECT_EQ(comDeviceNumber("COM10"), 0);
    EXPECT_EQ(comDeviceNumber("COM1::"), 0);
    EXPECT_EQ(comDeviceNumber("COM1.txt"), 0);
    EXPECT_EQ(comDeviceNumber("CON"), 0);
    EXPECT_EQ(comDeviceNumber(nullptr), 0);
}

TEST(PlatformNames, ComputerAndUser) {
    char name[64];
    ASSERT_TRUE(computerName(name, sizeof name));
    EXPECT_GT(strlen(name), 0u);
    EXPECT_LE(strlen(name), 15u);
    for (const char* c = name; *c; ++c) EXPECT_FALSE(*c >= 'a' && *c <= 'z') << name;
    EXPECT_FALSE(computerName(name, 1));
    ASSERT_TRUE(userName(name, sizeof name));
    EXPECT_GT(strlen(name), 0u);
    EXPECT_FALSE(userName(name, 1));
}

TEST(PlatformNames, ExecutableAndCommandLine) {
    char exe[1024];
    int n = moduleFileName(exe, sizeof exe);
    ASSERT_GT(n, 0);
    EXPECT_EQ(size_t(n), strlen(exe));
    EXPECT_NE(std::string(exe).find("xbtests"), std::string::npos) << exe;
    EXPECT_TRUE(fileExists(exe));
    char small[4];
    EXPECT_EQ(moduleFileName(small, sizeof small), 4);  // cut to the buffer
    const char* line = commandLine();
    ASSERT_NE(line, nullptr);
    EXPECT_NE(std::string(line).find("xbtests"), std::string::npos) << line;

    void* self = moduleHandle(nullptr);
    EXPECT_NE(self, nullptr);
    EXPECT_EQ(moduleHandle("no-such-library-here"), nullptr);
    EXPECT_EQ(procAddress(self, "noSuchEntryPointAnywhere"), nullptr);
}

// Days from the civil date, to check the weekday the system reports.
int weekday(int y, int m, int d) {
    y -= m <= 2;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long days = long(era) * 146097 + doe - 719468;  // 0 is 1970-01-01, a Thursday
    return int(((days % 7) + 11) % 7);
}

TEST(PlatformTime, LocalTimeIsACalendarDate) {
    LocalTime t;
    localTime(&t);
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 59);
    EXPECT_LE(t.milliseconds, 999);
    EXPECT_EQ(t.dayOfWeek, weekday(t.year, t.month, t.day));
}

TEST(PlatformTime, SleepWaitsAtLeastTheTime) {
    LocalTime a, b;
    localTime(&a);
    sleepMs(120);
    localTime(&b);
    auto ms = [](const LocalTime& t) {
        return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000L + t.milliseconds;
    };
    long elapsed = ms(b) - ms(a);
    if (elapsed < 0) elapsed += 24L * 3600 * 1000;  // past midnight
    EXPECT_GE(elapsed, 110);
    EXPECT_LT(elapsed, 5000);
}

}  // namespace
