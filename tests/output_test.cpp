// The output channels: the error log beside the executable and its message
// boxes, the console boxes, the display conversion, and the key blocks.
#include "runtime/output.h"
#include "tests/support/native_call.h"
#include "tests/support/program_run.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm/function.h"
#include "base/dates.h"
#include "platform/platform.h"
#include "runtime/display.h"
#include "runtime/files.h"
#include "runtime/setkey.h"
#include "runtime/settings_block.h"
#include "vm/native.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

struct Box {
    std::string text, caption;
    uint32_t style;
};
std::vector<Box> boxes;
void recordBox(const char* text, const char* caption, uint32_t style) { boxes.push_back({text, caption, style}); }

// Each test names the log after a program in its own scratch directory:
// test processes running side by side (ctest -j) never share an Error.txt.
std::string logOwner;

std::string logPath() {
    char name[300];
    EXPECT_TRUE(errorLogName(logOwner.c_str(), name, sizeof name));
    return name;
}

std::string readFile(const std::string& path) {
    os::Handle h = os::createFile(path.c_str(), os::ACCESS_READ, os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING, 0);
    if (h == os::INVALID) return "<missing>";
    std::string text;
    char buf[512];
    uint32_t got = 0;
    while (os::readFile(h, buf, sizeof buf, &got) && got) text.append(buf, got);
    os::closeHandle(h);
    return text;
}

void writeFile(const std::string& path, const std::string& text) {
    os::Handle h = os::createFile(path.c_str(), os::ACCESS_WRITE, 0, os::CREATE_ALWAYS, 0x80);
    ASSERT_NE(h, os::INVALID);
    uint32_t done;
    os::writeFile(h, text.data(), uint32_t(text.size()), &done);
    os::closeHandle(h);
}

class OutputTest : public test::VmTest {
protected:
    test::ProgramRun scratch;

    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
        boxes.clear();
        outputMessageBox = recordBox;
        outputReset();
        logOwner = scratch.dir + "/xbtests";
        outputSetLogOwner(logOwner.c_str());
    }
    void TearDown() override {
        outputReset();
        outputMessageBox = os::messageBox;
        os::deleteFile(logPath().c_str());
        outputSetLogOwner(nullptr);
        VmTest::TearDown();
    }
};

}  // namespace

TEST(ErrorLogName, IsTheExecutablesDirectoryPlusErrorTxt) {
    char out[261];
    ASSERT_TRUE(errorLogName("C:\\Apps\\com\\comtest.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Apps\\com\\Error.txt");
    ASSERT_TRUE(errorLogName("/opt/xb/bin/comtest", out, sizeof out));
    EXPECT_STREQ(out, "/opt/xb/bin/Error.txt");
    ASSERT_TRUE(errorLogName("D:comtest.exe", out, sizeof out));
    EXPECT_STREQ(out, "D:Error.txt");
    ASSERT_TRUE(errorLogName("comtest.exe", out, sizeof out));
    EXPECT_STREQ(out, "Error.txt");
    // 251 characters of directory and the 9 of the name make 260: the most
    std::string dir = "C:\\" + std::string(247, 'd') + "\\";
    ASSERT_EQ(dir.size(), 251u);
    ASSERT_TRUE(errorLogName((dir + "x.exe").c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out).size(), 260u);
    std::string longer = "C:\\" + std::string(248, 'd') + "\\x.exe";
    EXPECT_FALSE(errorLogName(longer.c_str(), out, sizeof out));
}

TEST_F(OutputTest, FirstWriteOfARunRecreatesTheLogAndEachPieceGetsABox) {
    const std::string path = logPath();
    writeFile(path, "left over from an earlier run\r\n");
    outputStart();
    invoke("OUTERR", {"Fallo", 12});
    // three pieces: the text, a blank, the display text of the number
    EXPECT_EQ(readFile(path), "Fallo         12");
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "Fallo");
    EXPECT_EQ(boxes[1].text, " ");
    EXPECT_EQ(boxes[2].text, "        12");
    for (const Box& b : boxes) {
        EXPECT_EQ(b.caption, "Error");
        EXPECT_EQ(b.style, 0x1010u);
    }
    // a bare line end is logged without a box; later writes append
    errorOutput("\r\n", 2);
    invoke("OUTERR", {Arg::nil(), true});
    EXPECT_EQ(readFile(path), "Fallo         12\r\nNIL .T.");
    EXPECT_EQ(boxes.size(), 6u);

    // the next run starts the log anew
    outputReset();
    outputStart();
    errorOutput("otra", 4);
    EXPECT_EQ(readFile(path), "otra");
}

TEST_F(OutputTest, BeforeStartUpTheErrorOutputWritesNoLogAndNoBox) {
    const std::string path = logPath();
    os::deleteFile(path.c_str());
    errorOutput("\r\n", 2);  // goes to the plain handle
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(readFile(path), "<missing>");
}

TEST_F(OutputTest, TheLogDoesNotDisturbTheFileErrorBeingReported) {
    outputStart();
    EXPECT_EQ(invoke("FOPEN", {"no such file here.txt"}).v.l, -1);
    errorOutput("report", 6);
    EXPECT_EQ(invoke("FERROR").v.l, 2);
    EXPECT_EQ(fileErrorState().osError, 2);
}

TEST_F(OutputTest, ConsoleOutputShowsEachArgumentInItsOwnBox) {
    invoke("QQOUT", {"uno", 2.5});
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "uno");
    EXPECT_EQ(boxes[1].text, " ");
    EXPECT_EQ(boxes[0].caption, "QOUT");
    EXPECT_EQ(boxes[0].style, 0u);
    boxes.clear();
    invoke("QOUT", {std::string("ab\0cd", 5)});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ab");  // up to the first zero byte
    boxes.clear();
    invoke("QOUT");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(OutputTest, DisplayConversionOfEachType) {
    auto show = [](const Item& it) {
        DisplayText t = displayText(&it);
        return std::string(t.text, t.length);
    };
    EXPECT_EQ(show(Item{}), "NIL");
    EXPECT_EQ(show(logicalItem(true)), ".T.");
    EXPECT_EQ(show(logicalItem(false)), ".F.");
    EXPECT_EQ(show(intItem(-42)), "       -42");
    Item w = intItem(7);
    w.width = 3;
    EXPECT_EQ(show(w), "  7");
    EXPECT_EQ(show(doubleItem(3.14159, 8, 2)), "    3.14");
    Item date{};
    date.type = T_DATE;
    date.v.l = dateFromYmd(2024, 3, 5, 1900);
    EXPECT_EQ(show(date), "03/05/24");
    date.v.l = 0;
    EXPECT_EQ(show(date), "  /  /  ");
    Item array{};
    array.type = T_ARRAY;
    EXPECT_EQ(show(array), "");

    // fixedFormat: an integer shows the decimals setting too
    settingSetLogical(SET_FIXEDFORMAT, true);
    std::string fixed = show(intItem(5));
    settingSetLogical(SET_FIXEDFORMAT, false);
    EXPECT_EQ(fixed, "         5.00");
}

// ---- key blocks

namespace {

std::vector<std::string> keyProbeCalls;
bool keyProbeAnswer;

}  // namespace

XB_NATIVE(fnKeyProbe, "KEYPROBE") {
    std::string call;
    for (uint16_t i = 1; i <= paramCount(); ++i) {
        Item* p = paramItem(i, M_ANY);
        call += (i > 1 ? "|" : "");
        call += (p->type & M_STRING) ? std::string(strData(p), strLength(p)) : std::to_string(itemInt(p));
    }
    keyProbeCalls.push_back(call);
    retLogical(keyProbeAnswer);
    return 0;
}

namespace {

const char* const kKeyModule = R"(
symbol BIND proc
symbol ASK proc
symbol SETKEY
symbol KEYPROBE
symbol __SETKEYCHECK
proc BIND
    FRAME 1 0
    PUSHSYMNIL SETKEY
    PUSHLOCAL 1
    PUSHBLOCK {
        FRAME 3 0
        PUSHSYMNIL KEYPROBE
        PUSHLOCAL 1
        PUSHLOCAL 2
        PUSHLOCAL 3
        FUNC 3
        ENDBLOCK
    }
    FUNC 2
    POPRET
    ENDPROC
end
proc ASK
    FRAME 2 0
    LINE 42
    PUSHSYMNIL __SETKEYCHECK
    PUSHLOCAL 1
    PUSHLOCAL 2
    FUNC 2
    POPRET
    ENDPROC
end
)";

class KeyBlockTest : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load(kKeyModule);
        keyProbeCalls.clear();
        keyProbeAnswer = false;
    }
    void TearDown() override {
        releaseKeyBlocks();
        VmTest::TearDown();
    }
};

}  // namespace

TEST_F(KeyBlockTest, BoundBlocksRunWithTheAskingProcedure) {
    EXPECT_EQ(call("BIND", {intItem(-3)}).type, T_NIL);  // no block before
    collectGarbage(true);                                 // the table keeps the block alive
    EXPECT_EQ(call("BIND", {intItem(-3)}).type & T_BLOCK, T_BLOCK);  // the previous one comes back

    EXPECT_EQ(call("ASK", {intItem(-3), logicalItem(false)}).v.l, 1);
    EXPECT_TRUE(keyProbeCalls.empty());
    EXPECT_EQ(call("ASK", {intItem(-3), logicalItem(true)}).v.l, 1);
    ASSERT_EQ(keyProbeCalls.size(), 1u);
    EXPECT_EQ(keyProbeCalls[0], "ASK|42|");
    keyProbeAnswer = true;  // a block answering .T. makes the check false
    EXPECT_EQ(call("ASK", {intItem(-3), logicalItem(true)}).v.l, 0);

    EXPECT_EQ(call("ASK", {intItem(0), logicalItem(true)}).v.l, 0);
    EXPECT_EQ(call("ASK", {intItem(9), logicalItem(true)}).v.l, 0);
    EXPECT_EQ(keyProbeCalls.size(), 2u);

    // a second argument that is no block unbinds the key
    Item r = invoke("SETKEY", {-3, 0});
    EXPECT_EQ(r.type & T_BLOCK, T_BLOCK);
    EXPECT_EQ(invoke("SETKEY", {-3}).type, T_NIL);
    EXPECT_FALSE(keyCheck(-3, false));
}

TEST_F(KeyBlockTest, ThirtyTwoKeysAtMost) {
    for (int key = 1; key <= 32; ++key) call("BIND", {intItem(key)});
    EXPECT_TRUE(keyCheck(32, false));
    call("BIND", {intItem(33)});  // no free pair: nothing happens
    EXPECT_FALSE(keyCheck(33, false));
    invoke("SETKEY", {7, Arg::nil()});
    call("BIND", {intItem(33)});
    EXPECT_TRUE(keyCheck(33, false));
    EXPECT_FALSE(keyCheck(7, false));
}
