// The file functions of pcode and the lower layer under them: handles, the
// file error, open modes, the bounds of FWRITE, failed closes, reads into a
// variable, seeking before the start, and the /COMn= switch.
#include "runtime/files.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "runtime/serial.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

const char* const kReadModule = R"(
symbol P proc
symbol READINTO proc
symbol FREAD
symbol FREADLONG
; READINTO(handle, count, wide) -> {result, the variable}; the variable
; starts as ten X characters
proc READINTO
    FRAME 3 1
    PUSHSTR "XXXXXXXXXX"
    POPLOCAL 4
    PUSHLOCAL 3
    JUMPTRUE wide
    PUSHSYMNIL FREAD
    JUMP call
wide:
    PUSHSYMNIL FREADLONG
call:
    PUSHLOCAL 1
    PUSHLOCALREF 4
    PUSHLOCAL 2
    FUNC 3
    PUSHLOCAL 4
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc P
    ENDPROC
end
)";

class FileFunctionsTest : public test::VmTest {
protected:
    std::string dir;

    void SetUp() override {
        VmTest::SetUp();
        load(kReadModule);
        dir = "xbfiles_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        os::createDirectory(dir.c_str());
    }
    void TearDown() override {
        for (const char* f : {"a.txt", "b.txt", "c.txt"}) os::deleteFile(path(f).c_str());
        os::removeDirectory(dir.c_str());
        VmTest::TearDown();
    }
    std::string path(const char* name) const { return dir + "/" + name; }

    int32_t create(const char* name, const std::string& content) {
        Item h = invoke("FCREATE", {path(name)});
        EXPECT_GE(h.v.l, 0);
        if (!content.empty()) {
            EXPECT_EQ(invoke("FWRITE", {h.v.l, content}).v.l, int32_t(content.size()));
        }
        return h.v.l;
    }
    std::string contents(const char* name) {
        os::Handle h = fsOpen(path(name).c_str(), 0);
        if (h == os::INVALID) return "<missing>";
        std::string text;
        char buf[4096];
        uint16_t got;
        while ((got = fsRead(h, buf, sizeof buf)) != 0 && got != 65535) text.append(buf, got);
        fsClose(h);
        return text;
    }
    int32_t fileError() { return invoke("FERROR").v.l; }
};

}  // namespace

TEST_F(FileFunctionsTest, OpenReportsTheOsErrorAndTheNextSuccessClearsIt) {
    Item h = invoke("FOPEN", {path("a.txt")});
    EXPECT_EQ(h.type, T_INTEGER);
    EXPECT_EQ(h.v.l, -1);
    EXPECT_EQ(fileError(), 2);
    invoke("FCLOSE", {create("a.txt", "abc")});
    h = invoke("FOPEN", {path("a.txt")});
    EXPECT_GE(h.v.l, 0);
    EXPECT_EQ(h.width, 0);
    EXPECT_EQ(fileError(), 0);
    // opened with the default mode: reading only
    EXPECT_EQ(invoke("FWRITE", {h.v.l, "x"}).v.l, 65535);
    EXPECT_EQ(fileError(), 5);
    EXPECT_EQ(invoke("FCLOSE", {h.v.l}).v.l, 1);
    // a name that is not text is an argument error
    invoke("FOPEN", {5});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 2021);
    EXPECT_EQ(errors[0].subsystem, "BASE");
}

TEST_F(FileFunctionsTest, SharingBitsOfTheOpenMode) {
    invoke("FCLOSE", {create("a.txt", "abc")});
    // 0x10: others may write, not read
    int32_t first = invoke("FOPEN", {path("a.txt"), 0x10 | 2}).v.l;
    ASSERT_GE(first, 0);
    int32_t writer = invoke("FOPEN", {path("a.txt"), 1}).v.l;
    EXPECT_GE(writer, 0);
    EXPECT_EQ(invoke("FOPEN", {path("a.txt"), 0}).v.l, -1);
    EXPECT_EQ(fileError(), 32);
    invoke("FCLOSE", {writer});
    invoke("FCLOSE", {first});
    // 0x20 and 0x30: nobody else
    for (int mode : {0x20, 0x30}) {
        first = invoke("FOPEN", {path("a.txt"), mode}).v.l;
        ASSERT_GE(first, 0) << mode;
        EXPECT_EQ(invoke("FOPEN", {path("a.txt"), 0}).v.l, -1) << mode;
        EXPECT_EQ(invoke("FOPEN", {path("a.txt"), 1}).v.l, -1) << mode;
        invoke("FCLOSE", {first});
    }
    // 0x40 shares both
    first = invoke("FOPEN", {path("a.txt"), 0x40}).v.l;
    int32_t second = invoke("FOPEN", {path("a.txt"), 2}).v.l;
    EXPECT_GE(second, 0);
    invoke("FCLOSE", {second});
    invoke("FCLOSE", {first});
}

TEST_F(FileFunctionsTest, WriteStaysWithinTheText) {
    int32_t h = create("a.txt", "");
    EXPECT_EQ(invoke("FWRITE", {h, "abcdef", 3}).v.l, 3);
    // a count beyond the text writes the text and no more
    EXPECT_EQ(invoke("FWRITE", {h, "XY", 4000}).v.l, 2);
    EXPECT_EQ(contents("a.txt"), "abcXY");
    // data that is not text writes nothing
    EXPECT_EQ(invoke("FWRITE", {h, 12}).v.l, 0);
    // 65,536 bytes: the count is 0 in 16 bits, and nothing is written
    // (in particular the file is not cut at the current position)
    invoke("FSEEK", {h, 2});
    EXPECT_EQ(invoke("FWRITE", {h, std::string(65536, 'z')}).v.l, 0);
    EXPECT_EQ(contents("a.txt"), "abcXY");
    // an explicit count of 0 with text writes nothing either
    EXPECT_EQ(invoke("FWRITE", {h, "q", 0}).v.l, 0);
    EXPECT_EQ(contents("a.txt"), "abcXY");
    // the empty text truncates at the current position
    EXPECT_EQ(invoke("FWRITE", {h, ""}).v.l, 0);
    EXPECT_EQ(contents("a.txt"), "ab");
    // 65,537 bytes write one
    EXPECT_EQ(invoke("FWRITE", {h, std::string(65537, 'w')}).v.l, 1);
    EXPECT_EQ(contents("a.txt"), "abw");
    invoke("FCLOSE", {h});
}

TEST_F(FileFunctionsTest, AFailedCloseIsReported) {
    int32_t h = create("a.txt", "x");
    EXPECT_EQ(invoke("FCLOSE", {h}).v.l, 1);
    EXPECT_EQ(fileError(), 0);
    Item again = invoke("FCLOSE", {h});
    ASSERT_EQ(again.type, T_LOGICAL);
    EXPECT_EQ(again.v.l, 0);
    EXPECT_EQ(fileError(), 6);  // invalid handle
    EXPECT_EQ(fileErrorState().closeError, 65535);
    EXPECT_EQ(invoke("FCLOSE", {"1"}).v.l, 0);
    EXPECT_EQ(fileError(), 0);
}

TEST_F(FileFunctionsTest, ReadsIntoAVariableLeaveZerosBeyondWhatWasRead) {
    invoke("FCLOSE", {create("a.txt", "abc")});
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "FREADLONG" : "FREAD");
        int32_t h = invoke("FOPEN", {path("a.txt")}).v.l;
        Item r = call("READINTO", {intItem(h), intItem(10), logicalItem(wide)});
        ASSERT_TRUE(r.type & T_ARRAY);
        EXPECT_EQ(arrayItems(&r)[0].v.l, 3);
        EXPECT_EQ(textOf(arrayItems(&r)[1]), std::string("abc\0\0\0\0\0\0\0", 10));
        // a count above the variable's length does not fit: nothing changes
        invoke("FSEEK", {h, 0});
        r = call("READINTO", {intItem(h), intItem(11), logicalItem(wide)});
        EXPECT_EQ(arrayItems(&r)[0].v.l, 0);
        EXPECT_EQ(textOf(arrayItems(&r)[1]), "XXXXXXXXXX");
        invoke("FCLOSE", {h});
    }
}

TEST_F(FileFunctionsTest, ReadTextStopsAtTheFirstZeroByte) {
    int32_t h = create("a.txt", std::string("ab\0cd", 5));
    invoke("FSEEK", {h, 0});
    EXPECT_EQ(textOf(invoke("FREADSTR", {h, 5})), "ab");
    invoke("FSEEK", {h, 3});
    EXPECT_EQ(textOf(invoke("FREADSTR", {h, 10})), "cd");
    EXPECT_EQ(textOf(invoke("FREADSTR", {h})), "");
    invoke("FCLOSE", {h});
    EXPECT_EQ(textOf(invoke("FREADSTR", {h, 4})), "");  // the read fails
}

TEST_F(FileFunctionsTest, SeekingBeforeTheStartDoesNotMove) {
    int32_t h = create("a.txt", "0123456789");
    EXPECT_EQ(invoke("FSEEK", {h, 4}).v.l, 4);
    EXPECT_EQ(invoke("FSEEK", {h, -1}).v.l, 4);
    EXPECT_EQ(fileError(), 25);
    EXPECT_EQ(invoke("FSEEK", {h, -5, 1}).v.l, 4);
    EXPECT_EQ(fileError(), 25);
    EXPECT_EQ(invoke("FSEEK", {h, -4, 1}).v.l, 0);
    EXPECT_EQ(fileError(), 0);
    EXPECT_EQ(invoke("FSEEK", {h, -3, 2}).v.l, 7);
    EXPECT_EQ(invoke("FSEEK", {h, "x"}).v.l, 0);
    invoke("FCLOSE", {h});
}

TEST_F(FileFunctionsTest, EraseAndRename) {
    invoke("FCLOSE", {create("a.txt", "abc")});
    EXPECT_EQ(invoke("FRENAME", {path("a.txt"), path("b.txt")}).v.l, 0);
    EXPECT_EQ(contents("b.txt"), "abc");
    EXPECT_EQ(invoke("FRENAME", {path("a.txt"), path("c.txt")}).v.l, -1);
    EXPECT_EQ(fileError(), 65535);
    EXPECT_EQ(invoke("FRENAME", {path("b.txt"), 5}).v.l, -1);  // both names taken as empty
    EXPECT_EQ(contents("b.txt"), "abc");
    EXPECT_EQ(invoke("FERASE", {path("b.txt")}).v.l, 0);
    EXPECT_EQ(contents("b.txt"), "<missing>");
    EXPECT_EQ(invoke("FERASE", {path("b.txt")}).v.l, -1);
    EXPECT_EQ(invoke("FERASE", {Arg::nil()}).v.l, -1);
}

TEST_F(FileFunctionsTest, CreateTruncatesAndWantsAName) {
    invoke("FCLOSE", {create("a.txt", "abcdef")});
    invoke("FCLOSE", {create("a.txt", "")});
    EXPECT_EQ(contents("a.txt"), "");
    EXPECT_EXIT(invoke("FCREATE", {5}), ::testing::ExitedWithCode(1), "660");
}

TEST_F(FileFunctionsTest, ComSwitchPointsADeviceAtAnotherPath) {
    invoke("FCLOSE", {create("a.txt", "port")});
    EXPECT_TRUE(applySerialSwitch(("/COM7=" + path("a.txt")).c_str()));
    int32_t h = invoke("FOPEN", {"com7:"}).v.l;
    ASSERT_GE(h, 0);
    EXPECT_EQ(textOf(invoke("FREADSTR", {h, 10})), "port");
    invoke("FCLOSE", {h});
    os::mapComDevice(7, nullptr);
    for (const char* bad : {"/COM0=x", "/COM10=x", "/COMX=x", "/COM1=", "/LPT1=x", "COM1=x", "/COM1"})
        EXPECT_FALSE(applySerialSwitch(bad)) << bad;
    EXPECT_TRUE(applySerialSwitch("/com2=elsewhere"));
    os::mapComDevice(2, nullptr);
}
