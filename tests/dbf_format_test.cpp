// The DBF bytes without a driver: header and descriptor round trips at
// byte level, the 16-bit C length, forced lengths, layout checks, and the
// encodings of numbers, dates, logicals, texts and memo block numbers.
// Then the memo file's block arithmetic on real files, and the fault seam
// of the file layer under a memo append.
#include "rdd/dbf/dbf_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/dates.h"
#include "rdd/dbf/dbf_locks.h"
#include "rdd/dbf/dbt.h"
#include "runtime/files.h"

using namespace xb;

namespace {

TEST(DbfFormat, HeaderBytesRoundTrip) {
    DbfHeader h{};
    h.version = kDbfVersionMemo;
    dbfStampHeader(&h, 2014, 7, 31);
    h.recordCount = 0x01020304;
    h.headerLength = 32 * 3 + 34;
    h.recordLength = 0x1234;
    h.keep28 = 0xBEEF;
    uint8_t b[32];
    std::memset(b, 0x55, sizeof b);
    dbfHeaderEncode(h, b);
    const uint8_t expect[32] = {0x83, 114, 7, 31, 0x04, 0x03, 0x02, 0x01, 130, 0, 0x34, 0x12, 0, 0, 0, 0,
                                0,    0,   0, 0,  0,    0,    0,    0,    0,   0, 0,    0,    0xEF, 0xBE, 0, 0};
    EXPECT_EQ(0, std::memcmp(b, expect, 32));
    DbfHeader back{};
    dbfHeaderDecode(b, &back);
    EXPECT_EQ(back.version, 0x83);
    EXPECT_EQ(back.year, 114);
    EXPECT_EQ(back.recordCount, 0x01020304u);
    EXPECT_EQ(back.headerLength, 130);
    EXPECT_EQ(back.recordLength, 0x1234);
    EXPECT_EQ(back.keep28, 0xBEEF);
}

TEST(DbfFormat, DescriptorBytesPerType) {
    struct Case {
        DbfField f;
        uint8_t len, dec;
    } cases[] = {
        {{"NAME", 'C', 300, 0}, 44, 1},  // 300 = 0x012C: low byte 44, high byte 1
        {{"AMOUNT", 'N', 10, 2}, 10, 2},
        {{"WHEN", 'D', 8, 0}, 8, 0},
        {{"OK", 'L', 1, 0}, 1, 0},
        {{"NOTES", 'M', 10, 0}, 10, 0},
        {{"ODD", 'U', 4, 3}, 4, 3},
    };
    for (const Case& c : cases) {
        uint8_t b[32];
        std::memset(b, 0x77, sizeof b);
        dbfFieldEncode(c.f, b);
        SCOPED_TRACE(c.f.name);
        EXPECT_EQ(0, std::memcmp(b, c.f.name, std::strlen(c.f.name)));
        for (size_t i = std::strlen(c.f.name); i < 11; ++i) EXPECT_EQ(b[i], 0) << i;
        EXPECT_EQ(b[11], uint8_t(c.f.type));
        EXPECT_EQ(b[16], c.len);
        EXPECT_EQ(b[17], c.dec);
        for (int i : {12, 13, 14, 15, 18, 25, 31}) EXPECT_EQ(b[i], 0) << i;
        DbfField back{};
        dbfFieldDecode(b, &back);
        EXPECT_STREQ(back.name, c.f.name);
        EXPECT_EQ(back.length, c.f.length);
    }
}

TEST(DbfFormat, DescriptorNameStopsAtTenCharacters) {
    uint8_t b[32];
    std::memset(b, 'A', sizeof b);  // no NUL anywhere in the name bytes
    b[11] = 'C';
    DbfField f{};
    dbfFieldDecode(b, &f);
    EXPECT_STREQ(f.name, "AAAAAAAAAA");
}

TEST(DbfFormat, ForcedLengthsAndLayoutChecks) {
    EXPECT_EQ(dbfForcedLength('D', 10), 8);
    EXPECT_EQ(dbfForcedLength('L', 3), 1);
    EXPECT_EQ(dbfForcedLength('M', 4), 10);
    EXPECT_EQ(dbfForcedLength('C', 300), 300);
    EXPECT_EQ(dbfForcedLength('N', 7), 7);
    EXPECT_TRUE(dbfVersionValid(0x03));
    EXPECT_TRUE(dbfVersionValid(0x83));
    EXPECT_FALSE(dbfVersionValid(0x30));
    EXPECT_FALSE(dbfVersionValid(0x8B));
    EXPECT_EQ(dbfFieldCountOf(0), 0u);
    EXPECT_EQ(dbfFieldCountOf(31), 0u);
    EXPECT_EQ(dbfFieldCountOf(32 * 3 + 34), 3u);
    EXPECT_EQ(dbfFieldCountOf(32 * 3 + 33), 3u);  // other writers: 32 x fields + 33
    DbfField f[2] = {{"A", 'C', 5, 0}, {"B", 'D', 3, 0}};
    EXPECT_EQ(dbfCheckFields(f, 2, 14), DbfLayout::Ok);  // 1 + 5 + 8
    EXPECT_EQ(dbfCheckFields(f, 2, 13), DbfLayout::BadRecordLength);
    EXPECT_EQ(dbfCheckFields(f, 2, 0), DbfLayout::BadRecordLength);
    EXPECT_EQ(dbfCheckFields(f, 0, 14), DbfLayout::NoFields);
    f[1].type = 'X';
    EXPECT_EQ(dbfCheckFields(f, 2, 14), DbfLayout::BadFieldType);
}

TEST(DbfFormat, NumberEncodings) {
    struct Case {
        double v;
        uint16_t len, dec;
        const char* text;  // null: does not fit
    } cases[] = {
        {12.5, 6, 2, " 12.50"}, {-3, 4, 0, "  -3"}, {999, 3, 0, "999"}, {1000, 3, 0, nullptr},
        {0.004, 5, 2, " 0.00"}, {-0.5, 4, 1, "-0.5"}, {123456.789, 10, 2, " 123456.79"}, {-10, 2, 0, nullptr},
    };
    for (const Case& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        bool ok = dbfEncodeNumber(c.v, c.len, c.dec, out);
        SCOPED_TRACE(c.v);
        if (!c.text) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(out[0], '#');  // refused: nothing written
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_EQ(std::string(out, c.len), c.text);
        EXPECT_DOUBLE_EQ(dbfDecodeNumber(out, c.len), std::stod(c.text));
    }
    std::string wide(80, ' ');
    wide[79] = '7';
    EXPECT_EQ(dbfDecodeNumber(wide.data(), 80), 7.0);  // blanks do not count against the text limit
}

TEST(DbfFormat, DateLogicalTextAndMemoEncodings) {
    char d[8];
    int32_t day = dateFromYmd(2014, 7, 31, 0);
    dbfEncodeDate(day, d);
    EXPECT_EQ(std::string(d, 8), "20140731");
    EXPECT_EQ(dbfDecodeDate(d), day);
    dbfEncodeDate(kEmptyDate, d);
    EXPECT_EQ(std::string(d, 8), "        ");
    EXPECT_EQ(dbfDecodeDate(d), kEmptyDate);
    EXPECT_EQ(dbfDecodeDate("2014x731"), kEmptyDate);

    for (char c : std::string("TtYy")) EXPECT_TRUE(dbfDecodeLogical(c)) << c;
    for (char c : std::string("FfNn ?")) EXPECT_FALSE(dbfDecodeLogical(c)) << c;
    EXPECT_EQ(dbfEncodeLogical(true), 'T');
    EXPECT_EQ(dbfEncodeLogical(false), 'F');

    char t[6];
    dbfEncodeText("abc", 3, 6, t);
    EXPECT_EQ(std::string(t, 6), "abc   ");
    dbfEncodeText("abcdefgh", 8, 6, t);
    EXPECT_EQ(std::string(t, 6), "abcdef");

    char m[10];
    dbfEncodeMemoBlock(0, m);
    EXPECT_EQ(std::string(m, 10), "          ");
    dbfEncodeMemoBlock(1234, m);
    EXPECT_EQ(std::string(m, 10), "      1234");
    EXPECT_EQ(dbfDecodeMemoBlock(m), 1234u);
    EXPECT_EQ(dbfDecodeMemoBlock(" 1 2 x 3  "), 123u);
    EXPECT_EQ(dbfDecodeMemoBlock("0000000000"), 0u);
    EXPECT_EQ(dbfDecodeMemoBlock("9999999999"), 0xFFFFFFFFu);
}

// ---- memo files ------------------------------------------------------------

class DbtFile : public ::testing::Test {
protected:
    std::string path;
    os::Handle h = os::INVALID;
    void SetUp() override {
        path = std::string("dbt_test_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dbt";
        h = fsCreate(path.c_str(), 0);
        ASSERT_NE(h, os::INVALID);
        ASSERT_EQ(dbtWriteHeader(h), DbtStatus::Ok);
    }
    void TearDown() override {
        fileSyscalls() = defaultFileSyscalls();
        fsClose(h);
        fsDelete(path.c_str());
    }
    std::vector<uint8_t> bytes() {
        uint32_t size = fsSeek(h, 0, os::FROM_END);
        std::vector<uint8_t> b(size);
        fsSeek(h, 0, os::FROM_BEGIN);
        fsReadLong(h, b.data(), size);
        return b;
    }
    uint32_t nextFree() {
        auto b = bytes();
        return uint32_t(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
    }
    std::string read(uint32_t block) {
        uint32_t n = 0;
        EXPECT_EQ(dbtLength(h, block, &n), DbtStatus::Ok);
        std::string s(n, '?');
        EXPECT_EQ(dbtRead(h, block, s.data(), n), DbtStatus::Ok);
        return s;
    }
};

// The memo file's results mix with no other status word.
static_assert(!std::is_convertible_v<DbtStatus, uint16_t> && !std::is_convertible_v<uint16_t, DbtStatus>,
              "memo results are their own type");

TEST_F(DbtFile, NewFileAndBlockArithmetic) {
    auto b = bytes();
    ASSERT_EQ(b.size(), 512u);
    EXPECT_EQ(b[0], 1);
    for (size_t i = 1; i < 512; ++i) ASSERT_EQ(b[i], 0) << i;

    // The first memo lands in block 2: the file is block-aligned, so a whole
    // block of filler comes first.
    std::string m100(100, 'a'), m400(400, 'b'), m600(600, 'c'), m511(511, 'd');
    uint32_t block = 0;
    ASSERT_EQ(dbtWrite(h, 0, m100.data(), 100, false, &block), DbtStatus::Ok);
    EXPECT_EQ(block, 2u);
    EXPECT_EQ(nextFree(), 3u);
    b = bytes();
    EXPECT_EQ(b.size(), 1024u + 102u);  // the text and two end marks
    EXPECT_EQ(b[512], 0x1A);  // the filler starts with the end mark
    EXPECT_EQ(b[1024 + 100], 0x1A);
    EXPECT_EQ(b[1024 + 101], 0x1A);
    EXPECT_EQ(read(2), m100);

    // 400 bytes rewrite in place; 600 append; 511 always append.
    uint32_t again = 0;
    ASSERT_EQ(dbtWrite(h, block, m400.data(), 400, false, &again), DbtStatus::Ok);
    EXPECT_EQ(again, 2u);
    EXPECT_EQ(read(2), m400);
    ASSERT_EQ(dbtWrite(h, block, m600.data(), 600, false, &again), DbtStatus::Ok);
    EXPECT_EQ(again, 3u);  // 1126 pads to 1536
    EXPECT_EQ(read(3), m600);
    EXPECT_EQ(nextFree(), 5u);  // data ends at 1536 + 601 = 2137, next boundary 2560
    uint32_t fresh = 0;
    ASSERT_EQ(dbtWrite(h, 3, m511.data(), 511, true, &fresh), DbtStatus::Ok);
    EXPECT_EQ(fresh, 5u);
    EXPECT_EQ(read(5), m511);
    EXPECT_EQ(read(2), m400);  // older memos stay where they were

    ASSERT_EQ(dbtZap(h), DbtStatus::Ok);
    EXPECT_EQ(bytes().size(), 512u);
    EXPECT_EQ(nextFree(), 1u);
}

TEST_F(DbtFile, TextWithEndMarkIsCutAndMemoSpanningBlocksIsWhole) {
    std::string text = "before";
    text += '\x1A';
    text += "after";
    uint32_t block = 0;
    ASSERT_EQ(dbtWrite(h, 0, text.data(), uint32_t(text.size()), false, &block), DbtStatus::Ok);
    EXPECT_EQ(read(block), "before");
    std::string big(1500, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char('a' + i % 26);
    ASSERT_EQ(dbtWrite(h, 0, big.data(), 1500, false, &block), DbtStatus::Ok);
    EXPECT_EQ(read(block), big);
    // A whole block exactly: the mark starts the next block.
    std::string exact(512, 'e');
    ASSERT_EQ(dbtWrite(h, 0, exact.data(), 512, false, &block), DbtStatus::Ok);
    EXPECT_EQ(read(block), exact);
}

// Memo reads are positioned reads in runs of blocks: lengths on either side
// of a block and of a run come back whole, and the file pointer is where the
// caller left it.
TEST_F(DbtFile, LengthsAroundBlockAndRunEdgesAndPointerUntouched) {
    const uint32_t lengths[] = {1, 510, 511, 512, 513, 1023, 1024, 4095, 4096, 4097, 4608, 4609, 9000, 20000};
    for (uint32_t n : lengths) {
        std::string text(n, ' ');
        for (uint32_t i = 0; i < n; ++i) text[i] = char('A' + (i * 7 + n) % 26);
        uint32_t block = 0;
        ASSERT_EQ(dbtWrite(h, 0, text.data(), n, false, &block), DbtStatus::Ok) << n;
        ASSERT_EQ(fsSeek(h, 100, os::FROM_BEGIN), 100u);
        EXPECT_EQ(read(block), text) << n;
        EXPECT_EQ(fsSeek(h, 0, os::FROM_CURRENT), 100u) << n;
    }
}

TEST_F(DbtFile, MissingEndMarkAfterSeveralRunsAndFailedReads) {
    // 10,000 bytes without a mark from block 2 to the end of the file: the
    // length is looked for over more than one run and found missing.
    std::string tail(10000, 'q');
    fsSeek(h, 1024, os::FROM_BEGIN);
    ASSERT_EQ(fsWriteLong(h, tail.data(), 10000), 10000);
    uint32_t n = 5;
    EXPECT_EQ(dbtLength(h, 2, &n), DbtStatus::Corrupt);
    // The mark exactly at the end of the second run.
    fsSeek(h, 1024 + 512 + 4096, os::FROM_BEGIN);
    ASSERT_EQ(fsWriteLong(h, "\x1A", 1), 1);
    EXPECT_EQ(dbtLength(h, 2, &n), DbtStatus::Ok);
    EXPECT_EQ(n, 512u + 4096u);
    // A failing positioned read is a read error with the OS code kept.
    fileSyscalls().readFileAt = [](os::Handle, uint64_t, void*, uint32_t, uint32_t* done) {
        *done = 0;
        os::setLastError(23);
        return false;
    };
    EXPECT_EQ(dbtLength(h, 2, &n), DbtStatus::ReadError);
    EXPECT_EQ(fileErrorState().osError, 23);
    char buf[4];
    EXPECT_EQ(dbtRead(h, 2, buf, 4), DbtStatus::ReadError);
    fileSyscalls() = defaultFileSyscalls();
    EXPECT_EQ(dbtRead(h, 2, buf, 4), DbtStatus::Ok);
    EXPECT_EQ(std::string(buf, 4), "qqqq");
}

TEST_F(DbtFile, HostileBlockNumbersAndMissingEndMark) {
    uint32_t n = 7;
    EXPECT_EQ(dbtLength(h, 0, &n), DbtStatus::Ok);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dbtLength(h, 1, &n), DbtStatus::Corrupt);  // the file has only block 0
    EXPECT_EQ(dbtLength(h, 0xFFFFFFFFu, &n), DbtStatus::Corrupt);
    EXPECT_EQ(dbtLength(h, 4194304, &n), DbtStatus::Corrupt);  // 2 GiB
    // A memo that runs to the end of the file without its mark.
    std::string tail(700, 'z');
    fsSeek(h, 1024, os::FROM_BEGIN);
    ASSERT_EQ(fsWriteLong(h, tail.data(), 700), 700);
    EXPECT_EQ(dbtLength(h, 2, &n), DbtStatus::Corrupt);
    char buf[8];
    EXPECT_EQ(dbtRead(h, 0xFFFFFFFFu, buf, 8), DbtStatus::Corrupt);
    // A field pointing beyond the file is not written through: the memo is
    // appended and gets a real block.
    uint32_t block = 0;
    ASSERT_EQ(dbtWrite(h, 900, "hi", 2, false, &block), DbtStatus::Ok);
    EXPECT_EQ(block, 4u);  // 1724 pads to 2048
    EXPECT_EQ(read(block), "hi");
}

// The fault seam: a write of an append fails; no block number is handed
// out and the OS code stays readable after the unlock.
int writesLeft;
bool failingWrite(os::Handle h, const void* buf, uint32_t n, uint32_t* done) {
    if (writesLeft-- > 0) return defaultFileSyscalls().writeFile(h, buf, n, done);
    *done = 0;
    os::setLastError(29);  // write fault
    return false;
}

TEST_F(DbtFile, FailedWriteHandsOutNoBlock) {
    fileSyscalls().writeFile = failingWrite;
    // A short memo's append is two writes (padding with the text and its
    // marks, then block 0); a long one's is four (padding, text, marks,
    // block 0). Each may fail.
    std::string longMemo(3000, 'x');
    for (int okWrites : {0, 1, 2, 3}) {
        writesLeft = okWrites;
        uint32_t block = 12345;
        EXPECT_EQ(dbtWrite(h, 0, longMemo.data(), uint32_t(longMemo.size()), true, &block), DbtStatus::WriteError)
            << okWrites;
        EXPECT_EQ(block, 12345u);
        EXPECT_EQ(fsLastError(), 29);
    }
    for (int okWrites : {0, 1}) {
        writesLeft = okWrites;
        uint32_t block = 12345;
        EXPECT_EQ(dbtWrite(h, 0, "memo", 4, true, &block), DbtStatus::WriteError) << okWrites;
        EXPECT_EQ(block, 12345u);
        EXPECT_EQ(fsLastError(), 29);
    }
    // The header lock was released after every failure: it can be taken by
    // another handle of the file.
    os::Handle other = fsOpen(path.c_str(), FO_READWRITE);
    ASSERT_NE(other, os::INVALID);
    EXPECT_TRUE(fsLock(other, kDbfLockBase, 1, false));
    EXPECT_TRUE(fsLock(other, kDbfLockBase, 1, true));
    fsClose(other);
}

}  // namespace

// Two end marks wherever the second lies in the memo's own blocks: a reader
// that looks for two marks sees a memo rewritten shorter in place end where
// it ends, and allocation is as with one mark.
TEST_F(DbtFile, MemosEndWithASecondMarkInsideTheirOwnBlocks) {
    struct Case {
        uint32_t first, second;  // an appended memo, then a rewrite of it
        uint32_t block, again;   // where each lands
        bool secondMarkAfterAppend;
    };
    // 510: text and both marks fill the block exactly; 511: the second
    // mark would start a new block at the end of the file, so it is left out.
    const Case cases[] = {{400, 100, 2, 2, true}, {510, 3, 2, 2, true}, {511, 20, 2, 2, false},
                          {1023, 10, 2, 2, false}, {1022, 600, 2, 5, true}};
    for (const Case& c : cases) {
        ASSERT_EQ(dbtZap(h), DbtStatus::Ok);
        std::string a(c.first, 'a'), b(c.second, 'b');
        uint32_t block = 0, again = 0;
        ASSERT_EQ(dbtWrite(h, 0, a.data(), c.first, false, &block), DbtStatus::Ok);
        EXPECT_EQ(block, c.block) << c.first;
        auto f = bytes();
        size_t end = size_t(block) * 512 + c.first;
        EXPECT_EQ(f[end], 0x1A) << c.first;
        EXPECT_EQ(f.size(), end + (c.secondMarkAfterAppend ? 2 : 1)) << c.first;
        if (c.secondMarkAfterAppend) EXPECT_EQ(f[end + 1], 0x1A) << c.first;
        // the next free block does not see the second mark
        uint32_t afterOne = uint32_t((end + 1 + 512 - (end + 1) % 512) / 512);
        EXPECT_EQ(nextFree(), afterOne) << c.first;
        ASSERT_EQ(dbtWrite(h, block, b.data(), c.second, false, &again), DbtStatus::Ok);
        EXPECT_EQ(again, c.again) << c.first;
        f = bytes();
        size_t at = size_t(again) * 512 + c.second;
        EXPECT_EQ(f[at], 0x1A) << c.first;
        if (again == block) {
            EXPECT_EQ(f[at + 1], 0x1A) << c.first;  // in place: always both
        }
        EXPECT_EQ(read(again), b);
    }
}
