// Memo reads through the read-ahead window: the same lengths, texts and
// statuses as the memo file's own reads for every block in any order
// (memos shorter and longer than the window, blocks inside a memo, beyond
// the end, a memo cut short, a failing read), and a table that changes its
// memos between reads: an exclusive one drops its window at each write, a
// shared one reads the file every time and sees another handle's change.
#include "rdd/dbf/dbt_window.h"
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "rdd/dbf/dbt.h"
#include "runtime/files.h"
#include "vm/object.h"

using namespace xb;

namespace {

struct Outcome {
    DbtStatus status;
    uint32_t length;
    std::string text;
    bool operator==(const Outcome& o) const { return status == o.status && length == o.length && text == o.text; }
};

Outcome direct(os::Handle h, uint32_t block) {
    Outcome o{DbtStatus::Ok, 0, ""};
    o.status = dbtLength(h, block, &o.length);
    if (o.status != DbtStatus::Ok) return o;
    o.text.resize(o.length);
    o.status = dbtRead(h, block, o.text.data(), o.length);
    return o;
}

Outcome windowed(os::Handle h, DbtWindow* w, uint32_t block) {
    Outcome o{DbtStatus::Ok, 0, ""};
    o.status = dbtWindowLength(h, w, block, &o.length);
    if (o.status != DbtStatus::Ok) return o;
    o.text.resize(o.length);
    o.status = dbtWindowRead(h, w, block, o.text.data(), o.length);
    return o;
}

class DbtWindowTest : public ::testing::Test {
protected:
    std::string name;
    os::Handle h = os::INVALID;
    DbtWindow w{};
    std::vector<uint32_t> blocks;  // where each memo starts

    void SetUp() override {
        name = std::string("dbtw_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dbt";
        h = fsCreate(name.c_str(), 0);
        ASSERT_NE(h, os::INVALID);
        ASSERT_EQ(dbtWriteHeader(h), DbtStatus::Ok);
    }
    void TearDown() override {
        dbtWindowFree(&w);
        fsClose(h);
        fsDelete(name.c_str());
    }
    void appendMemo(uint32_t n, char fill) {
        std::string text(n, fill);
        for (uint32_t i = 0; i < n; i += 97) text[i] = char('a' + i % 26);
        uint32_t block = 0;
        ASSERT_EQ(dbtWrite(h, 0, text.data(), n, false, &block), DbtStatus::Ok);
        blocks.push_back(block);
    }
    uint32_t fileBlocks() { return fsSeek(h, 0, os::FROM_END) / kDbtBlockSize; }
    // Every block from 0 to a few past the end, in the given order, through
    // the window and directly.
    void expectSameAsFile(std::vector<uint32_t> order) {
        for (uint32_t b : order) {
            SCOPED_TRACE(b);
            Outcome want = direct(h, b), got = windowed(h, &w, b);
            ASSERT_TRUE(got == want) << "status " << int(got.status) << " want " << int(want.status) << ", length "
                                     << got.length << " want " << want.length;
        }
    }
};

TEST_F(DbtWindowTest, EveryBlockReadsAsTheFileHasItInAnyOrder) {
    // Lengths around the block, the in-place limit and the window.
    const uint32_t lengths[] = {1,    20,   509,  510,   511,   512,   1023,  3000, 16,
                                8190, 8200, 16383, 16384, 16385, 20000, 40000, 5,    700};
    for (size_t i = 0; i < sizeof lengths / sizeof lengths[0]; i++) appendMemo(lengths[i], char('A' + i));
    for (int i = 0; i < 60; i++) appendMemo(10 + i * 7, 'z');  // a run of short memos
    uint32_t end = fileBlocks() + 3;
    std::vector<uint32_t> forward;
    for (uint32_t b = 0; b < end; b++) forward.push_back(b);
    expectSameAsFile(forward);
    dbtWindowDrop(&w);
    std::vector<uint32_t> backward(forward.rbegin(), forward.rend());
    expectSameAsFile(backward);
    std::vector<uint32_t> shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    expectSameAsFile(shuffled);
    // The starts of the memos only, as a scan reads them.
    expectSameAsFile(blocks);
    // Without a window: the file itself.
    for (uint32_t b : blocks) EXPECT_TRUE(windowed(h, nullptr, b) == direct(h, b));
}

TEST_F(DbtWindowTest, AMemoCutShortAndBlocksBeyondTheEndAreCorrupt) {
    appendMemo(30, 'a');
    appendMemo(40, 'b');
    // Text without any end mark at the end of the file.
    std::string tail(700, 'c');
    fsSeek(h, 0, os::FROM_END);
    uint32_t at = fsSeek(h, 0, os::FROM_END);
    uint32_t pad = kDbtBlockSize - at % kDbtBlockSize;
    std::string filler(pad, '\0');
    fsWriteLong(h, filler.data(), pad);
    fsWriteLong(h, tail.data(), uint32_t(tail.size()));
    uint32_t cut = (at + pad) / kDbtBlockSize;
    // The window is filled from the first memo and reaches the end of the
    // file; the cut memo lies inside it.
    Outcome first = windowed(h, &w, blocks[0]);
    EXPECT_EQ(first.status, DbtStatus::Ok);
    EXPECT_EQ(first.length, 30u);
    uint32_t length = 99;
    EXPECT_EQ(dbtLength(h, cut, &length), DbtStatus::Corrupt);
    EXPECT_EQ(dbtWindowLength(h, &w, cut, &length), DbtStatus::Corrupt);
    EXPECT_EQ(dbtWindowLength(h, &w, cut + 1, &length), DbtStatus::Corrupt);
    EXPECT_EQ(dbtWindowLength(h, &w, cut + 40, &length), DbtStatus::Corrupt);
    EXPECT_EQ(dbtWindowLength(h, &w, 0x7FFFFFFFu, &length), DbtStatus::Corrupt);
    // Block 0 is no memo.
    EXPECT_EQ(dbtWindowLength(h, &w, 0, &length), DbtStatus::Ok);
    EXPECT_EQ(length, 0u);
}

bool failingReadAt(os::Handle, uint64_t, void*, uint32_t, uint32_t* done) {
    *done = 0;
    return false;
}

TEST_F(DbtWindowTest, AFailingReadIsAReadErrorAndLeavesNothingBehind) {
    appendMemo(30, 'a');
    appendMemo(40, 'b');
    fileSyscalls().readFileAt = failingReadAt;
    uint32_t length = 0;
    EXPECT_EQ(dbtWindowLength(h, &w, blocks[0], &length), DbtStatus::ReadError);
    fileSyscalls() = defaultFileSyscalls();
    // Nothing stale was kept: the next read fills the window afresh.
    EXPECT_TRUE(windowed(h, &w, blocks[1]) == direct(h, blocks[1]));
    EXPECT_EQ(windowed(h, &w, blocks[1]).text.size(), 40u);
}

using DbfMemoWindow = test::DbfFixture;
using test::Area;

std::string memoText(int record, int version, size_t n) {
    std::string s = "memo " + std::to_string(record) + " v" + std::to_string(version) + " ";
    while (s.size() < n) s += char('a' + s.size() % 26);
    s.resize(n);
    return s;
}

TEST_F(DbfMemoWindow, AnExclusiveTableReadsItsOwnChangesAfterEachWrite) {
    Area* a = createFive();
    for (int r = 1; r <= 5; r++) {
        ASSERT_EQ(dbfAppend(&a->t, false), 0);
        Item m = text(memoText(r, 1, 40 + r).c_str());
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m), 0);
    }
    close(a);
    a = open(false);
    auto expectMemos = [&](const std::vector<std::string>& want) {
        for (uint32_t r = 1; r <= want.size(); r++) {
            ASSERT_EQ(dbfGoTo(&a->t, r), 0);
            EXPECT_EQ(getText(a, 4), want[r - 1]) << "record " << r;
        }
    };
    std::vector<std::string> want;
    for (int r = 1; r <= 5; r++) want.push_back(memoText(r, 1, 40 + r));
    expectMemos(want);  // the window now holds the whole file
    // Rewritten in place (short enough for its block), then read again.
    ASSERT_EQ(dbfGoTo(&a->t, 2), 0);
    Item m2 = text(memoText(2, 2, 30).c_str());
    ASSERT_EQ(dbfPutValue(&a->t, 4, &m2), 0);
    want[1] = memoText(2, 2, 30);
    expectMemos(want);
    // Grown past its block: appended at the end of the file.
    ASSERT_EQ(dbfGoTo(&a->t, 4), 0);
    Item m4 = text(memoText(4, 2, 900).c_str());
    ASSERT_EQ(dbfPutValue(&a->t, 4, &m4), 0);
    want[3] = memoText(4, 2, 900);
    expectMemos(want);
    // A new record with a memo after the window reached the end.
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    Item m6 = text(memoText(6, 1, 60).c_str());
    ASSERT_EQ(dbfPutValue(&a->t, 4, &m6), 0);
    want.push_back(memoText(6, 1, 60));
    expectMemos(want);
    // Zap empties the memo file; new memos take the old blocks' numbers.
    ASSERT_EQ(dbfZap(&a->t), 0);
    ASSERT_EQ(dbfAppend(&a->t, false), 0);
    Item z = text("after the zap");
    ASSERT_EQ(dbfPutValue(&a->t, 4, &z), 0);
    expectMemos({"after the zap"});
    close(a);
    EXPECT_TRUE(raisedHere.empty());
}

TEST_F(DbfMemoWindow, ASharedTableSeesAnotherHandlesMemoChange) {
    Area* a = createFive();
    for (int r = 1; r <= 3; r++) {
        ASSERT_EQ(dbfAppend(&a->t, false), 0);
        Item m = text(memoText(r, 1, 50).c_str());
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m), 0);
    }
    close(a);
    Area* reader = open(true);
    Area* writer = open(true);
    ASSERT_EQ(dbfGoTo(&reader->t, 1), 0);
    EXPECT_EQ(getText(reader, 4), memoText(1, 1, 50));
    ASSERT_EQ(dbfGoTo(&reader->t, 2), 0);
    EXPECT_EQ(getText(reader, 4), memoText(2, 1, 50));
    // The writer rewrites record 2's memo in its block and commits.
    bool locked = false;
    ASSERT_EQ(dbfGoTo(&writer->t, 2), 0);
    ASSERT_EQ(dbfLock(&writer->t, 1, 2, &locked), 0);
    ASSERT_TRUE(locked);
    Item m = text(memoText(2, 2, 50).c_str());
    ASSERT_EQ(dbfPutValue(&writer->t, 4, &m), 0);
    ASSERT_EQ(dbfFlush(&writer->t), 0);
    ASSERT_EQ(dbfUnlock(&writer->t, 0), 0);
    // The same block, new text: the reader reads the file again.
    ASSERT_EQ(dbfGoTo(&reader->t, 2), 0);
    EXPECT_EQ(getText(reader, 4), memoText(2, 2, 50));
    ASSERT_EQ(dbfGoTo(&reader->t, 3), 0);
    EXPECT_EQ(getText(reader, 4), memoText(3, 1, 50));
    close(writer);
    close(reader);
    EXPECT_TRUE(raisedHere.empty());
}

}  // namespace
