// File-name resolution: splitting names, the default extension, defaultDir
// and the search path in list order, the error record of a failed open, and
// the existence check with wild cards (FILE).
#include "runtime/filenames.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "vm/error.h"
#include "runtime/files.h"
#include "runtime/settings_block.h"

using namespace xb;
using test::invoke;

namespace {

struct SplitCase {
    const char* name;
    const char* drive;
    const char* directory;
    const char* base;
    const char* extension;
};

class FileNames : public test::VmTest {
protected:
    std::string dir;
    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
        dir = "xbnames_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        for (const char* d : {"", "/one", "/two", "/three"}) os::createDirectory((dir + d).c_str());
    }
    void TearDown() override {
        for (const char* f : {"/T.dbf", "/one/T.dbf", "/two/T.dbf", "/three/T.dbf", "/three/U.ntx", "/T"})
            os::deleteFile((dir + f).c_str());
        for (const char* d : {"/one", "/two", "/three", ""}) os::removeDirectory((dir + d).c_str());
        settingSetText(SET_DEFAULTDIR, "");
        settingSetText(SET_SEARCHPATH, "");
        VmTest::TearDown();
    }
    void touch(const std::string& name) {
        os::Handle h = fsCreate(name.c_str(), 0);
        ASSERT_NE(h, os::INVALID) << name;
        fsClose(h);
    }
    // Opens name; "" when it fails, else the full name it opened.
    std::string opened(const char* name, uint32_t flags, const char* list = nullptr, const char* ext = ".dbf") {
        os::Handle h = fileNameOpen(name, ext, flags, list, nullptr);
        if (h == os::INVALID) return "";
        fsClose(h);
        return fileNameFull();
    }
};

}  // namespace

TEST_F(FileNames, SplitGivesDriveDirectoryBaseAndExtension) {
    const SplitCase cases[] = {
        {"  C:\\data\\cust.dbf ", "C:", "\\data\\", "cust", ".dbf"},
        {"a/b/c.tar.gz", "", "a/b/", "c.tar", ".gz"},
        {"D:name.ntx", "D:", "", "name", ".ntx"},
        {"plain", "", "", "plain", ""},
        {"dir.x\\file", "", "dir.x\\", "file", ""},
        {"..", "", "..", "", ""},
        {"a\\.", "", "a\\.", "", ""},
        {"C:..", "C:", "..", "", ""},
        {"x.", "", "", "x", "."},
        {"name.ext  ", "", "", "name", ".ext"},
    };
    for (const SplitCase& c : cases) {
        char drive[3], d[NAME_PART_SIZE], b[NAME_PART_SIZE], e[NAME_PART_SIZE];
        fileNameSplit(c.name, drive, d, b, e);
        EXPECT_STREQ(drive, c.drive) << c.name;
        EXPECT_STREQ(d, c.directory) << c.name;
        EXPECT_STREQ(b, c.base) << c.name;
        EXPECT_STREQ(e, c.extension) << c.name;
    }
    std::string longName(400, 'n');
    char b[NAME_PART_SIZE];
    fileNameSplit(longName.c_str(), nullptr, nullptr, b, nullptr);
    EXPECT_EQ(std::string(b), std::string(255, 'n'));  // cut, never overrun
}

TEST_F(FileNames, DefaultDirAndTheSearchPathAreTriedInOrderForBareNamesOnly) {
    touch(dir + "/three/T.dbf");
    std::string list = dir + "/one;" + dir + "/two\\," + dir + "/three";
    EXPECT_EQ(opened("T", 0, list.c_str()), dir + "/three\\T.dbf");
    settingSetText(SET_SEARCHPATH, list.c_str());
#ifdef _WIN32
    // Windows file names do not differ in case: the name as given is found
    EXPECT_EQ(opened("t.dbf", FN_PATHS, nullptr), dir + "/three\\t.dbf");
#else
    EXPECT_EQ(opened("t.dbf", FN_PATHS, nullptr), "");  // names differ in case on POSIX
#endif
    EXPECT_EQ(opened("T", FN_PATHS, nullptr), dir + "/three\\T.dbf");
    touch(dir + "/two/T.dbf");
    EXPECT_EQ(opened("T", FN_PATHS, nullptr), dir + "/two\\T.dbf");
    settingSetText(SET_DEFAULTDIR, (dir + "/one\\").c_str());
    touch(dir + "/one/T.dbf");
    EXPECT_EQ(opened("T", FN_PATHS, nullptr), dir + "/one\\T.dbf");  // one backslash
    // a name with a directory is never looked for elsewhere
    EXPECT_EQ(opened((dir + "/T").c_str(), FN_PATHS, nullptr), "");
    EXPECT_EQ(opened((dir + "/three/T").c_str(), FN_PATHS, nullptr), dir + "/three/T.dbf");
    // the default extension replaces the name's own only when forced
    touch(dir + "/three/U.ntx");
    EXPECT_EQ(opened((dir + "/three/U.ntx").c_str(), 0), dir + "/three/U.ntx");
    EXPECT_EQ(opened((dir + "/three/U.ntx").c_str(), FN_FORCEEXT), "");
    EXPECT_EQ(opened((dir + "/three/U.xyz").c_str(), FN_FORCEEXT, nullptr, ".ntx"), dir + "/three/U.ntx");
    // no default extension: the name and a point, which names the file itself
    touch(dir + "/T");
    EXPECT_EQ(opened((dir + "/T").c_str(), 0, nullptr, nullptr), dir + "/T.");
}

TEST_F(FileNames, AFailedOpenNamesTheFirstPlaceTriedWithItsCode) {
    settingSetText(SET_DEFAULTDIR, (dir + "/one").c_str());
    settingSetText(SET_SEARCHPATH, (dir + "/two;" + dir + "/three").c_str());
    ErrorDescriptor e{};
    e.flags = EF_RETRY;
    e.tries = 1;
    EXPECT_EQ(fileNameOpen("NONE", ".dbf", FN_PATHS, nullptr, &e), os::INVALID);
    EXPECT_EQ(std::string(e.fileName), dir + "/one\\NONE.dbf");
    EXPECT_EQ(e.genCode, EG_OPEN);
    EXPECT_EQ(e.osCode, 2);
    EXPECT_EQ(e.tries, 2);
    ErrorDescriptor c{};
    std::string missing = dir + "/nodir/NEW";
    EXPECT_EQ(fileNameOpen(missing.c_str(), ".dbf", FN_CREATE, nullptr, &c), os::INVALID);
    EXPECT_EQ(c.genCode, EG_CREATE);
    EXPECT_EQ(c.osCode, 3);
    EXPECT_EQ(c.tries, 0);  // retry not allowed: the count stays
    // open-or-create creates, and a second open positions at the end
    os::Handle h = fileNameOpen("T", ".dbf", FN_PATHS | FN_OPENCREATE | FO_READWRITE, nullptr, nullptr);
    ASSERT_NE(h, os::INVALID);
    EXPECT_EQ(fsWrite(h, "abc", 3), 3);
    fsClose(h);
    h = fileNameOpen("T", ".dbf", FN_PATHS | FN_OPENCREATE | FO_READWRITE, nullptr, nullptr);
    EXPECT_EQ(fsSeek(h, 0, 1), 3u);
    fsClose(h);
}

TEST_F(FileNames, ExistenceMatchesWildCardsAndBackslashes) {
    touch(dir + "/three/U.ntx");
    EXPECT_TRUE(fileNameExists((dir + "\\three\\U.ntx  ").c_str()));
    EXPECT_TRUE(fileNameExists((dir + "/three/*.ntx").c_str()));
    EXPECT_TRUE(fileNameExists((dir + "/three/?.n*").c_str()));
    EXPECT_FALSE(fileNameExists((dir + "/three/*.dbf").c_str()));
    EXPECT_TRUE(invoke("FILE", {dir + "/three/U.*"}).v.l);
    EXPECT_FALSE(invoke("FILE", {dir + "/two/U.*"}).v.l);
    EXPECT_FALSE(invoke("FILE", {5}).v.l);
}
