// Index file format: page geometry, the header and empty root page byte
// for byte, key texts of every value type (the numeric transform keeps
// numeric order under the collation), the page check against hostile
// offset tables, and the descending comparison.
#include "rdd/ntx/ntx_format.h"
#include "tests/support/ntx_fixture.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/dates.h"

using namespace xb;

namespace {

std::string numberKey(double v, uint16_t size, uint16_t dec) {
    std::string k(size, '?');
    ntxKeyFromNumber(v, size, dec, &k[0]);
    return k;
}

std::string readAll(const std::string& name) {
    os::Handle h = fsOpen(name.c_str(), 0);
    std::string s;
    char buf[4096];
    int32_t got;
    while ((got = fsReadLong(h, buf, sizeof buf)) > 0) s.append(buf, size_t(got));
    fsClose(h);
    return s;
}

uint32_t le(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = v << 8 | uint8_t(s[at + size_t(i)]);
    return v;
}

class NtxFormatTest : public test::NtxTest {};

}  // namespace

TEST(NtxGeometryTest, KeySizesGiveHalfAndMaximumThatFitThePage) {
    struct {
        uint16_t keySize, half, max;
    } cases[] = {{10, 25, 50}, {1, 45, 90}, {8, 27, 54}, {100, 4, 8}, {256, 1, 2}, {20, 16, 32}};
    for (auto c : cases) {
        NtxGeometry g = ntxGeometry(c.keySize);
        EXPECT_EQ(g.halfPage, c.half) << c.keySize;
        EXPECT_EQ(g.maxKeys, c.max) << c.keySize;
        EXPECT_EQ(g.itemSize, c.keySize + 8) << c.keySize;
    }
    // every key size: the offset table and max + 1 items fit in one page
    for (uint16_t k = 1; k <= NTX_MAX_KEY_SIZE; k++) {
        NtxGeometry g = ntxGeometry(k);
        ASSERT_GE(g.halfPage, 1) << k;
        ASSERT_LE(2u * g.maxKeys + 4 + (g.maxKeys + 1u) * g.itemSize, NTX_PAGE_SIZE) << k;
    }
}

TEST_F(NtxFormatTest, NewIndexHeaderAndRootPageByteForByte) {
    os::Handle h = createFile("a.ntx");
    NtxHeaderInfo info = {10, 0, "NAME", "AGE > 3", "byname_and_more", true, false, false};
    NtxTree t;
    ASSERT_EQ(ntxCreate(&t, h, info), NTX_OK);
    ntxDetach(&t);
    std::string f = readAll(dir + "/a.ntx");
    ASSERT_EQ(f.size(), 2048u);
    EXPECT_EQ(le(f, 0, 2), 7u);  // 6, plus bit 0 for the for-condition
    EXPECT_EQ(le(f, 2, 2), 1u);
    EXPECT_EQ(le(f, 4, 4), 1024u);
    EXPECT_EQ(le(f, 8, 4), 0u);
    EXPECT_EQ(le(f, 12, 2), 18u);
    EXPECT_EQ(le(f, 14, 2), 10u);
    EXPECT_EQ(le(f, 16, 2), 0u);
    EXPECT_EQ(le(f, 18, 2), 50u);
    EXPECT_EQ(le(f, 20, 2), 25u);
    EXPECT_EQ(f.substr(22, 5), std::string("NAME\0", 5));
    EXPECT_EQ(f[278], 1);
    EXPECT_EQ(f[280], 0);
    EXPECT_EQ(f.substr(282, 8), std::string("AGE > 3\0", 8));
    EXPECT_EQ(f.substr(538, 11), std::string("BYNAME_AND\0", 11));  // 10 characters, upper case
    EXPECT_EQ(std::count(f.begin() + 549, f.begin() + 1024, '\0'), 1024 - 549);
    // the root: no keys, slot i at 2 * 50 + 4 + 18 * i, items zero
    EXPECT_EQ(le(f, 1024, 2), 0u);
    for (int i = 0; i <= 50; i++) EXPECT_EQ(le(f, 1024 + 2 + 2 * size_t(i), 2), 104u + 18u * uint32_t(i));
    EXPECT_EQ(std::count(f.begin() + 1024 + 104, f.end(), '\0'), 1024 - 104);
    // read back: the texts, a key text of the full 256 characters without terminator
    h = createFile("b.ntx");
    std::string longKey(300, 'K');
    info.keyExpr = longKey.c_str();
    ASSERT_EQ(ntxCreate(&t, h, info), NTX_OK);
    ntxDetach(&t);
    NtxHeader back;
    ASSERT_EQ(ntxReadHeader(h, &back), NTX_OK);
    EXPECT_EQ(ntxHeaderTextLength(back.keyExpr, 256), 256);
    EXPECT_EQ(back.unique, 1);
    EXPECT_EQ(std::string(back.forExpr, ntxHeaderTextLength(back.forExpr, 256)), "AGE > 3");
    EXPECT_EQ(std::string(back.tagName, ntxHeaderTextLength(back.tagName, 10)), "BYNAME_AND");
    os::Handle shortFile = createFile("c.ntx");
    fsWrite(shortFile, "\x06\x00\x01\x00", 4);
    EXPECT_EQ(ntxReadHeader(shortFile, &back), NTX_ERR_SHORT);
    // a descending order without condition sets bit 0 too; a partial one bit 3
    NtxHeader hd;
    ntxInitHeader(&hd, NtxHeaderInfo{8, 2, "D", nullptr, nullptr, false, true, true});
    EXPECT_EQ(hd.signature, 6 | 1 | 8);
    EXPECT_EQ(hd.descending, 1);
    EXPECT_EQ(hd.keyDecimals, 2);
    ntxInitHeader(&hd, NtxHeaderInfo{8, 0, "D", "", nullptr, false, false, false});
    EXPECT_EQ(hd.signature, 6);
}

TEST(NtxKeyTextTest, NumbersBecomeTextsThatSortInNumericOrder) {
    EXPECT_EQ(numberKey(12, 5, 0), "00012");
    EXPECT_EQ(numberKey(-12, 5, 0), "00,+*");
    EXPECT_EQ(numberKey(0, 3, 0), "000");
    EXPECT_EQ(numberKey(-9, 3, 0), "0,#");
    EXPECT_EQ(numberKey(1.5, 6, 2), "001.50");
    EXPECT_EQ(numberKey(-1.5, 6, 2), "0,+.',");
    EXPECT_EQ(numberKey(123456, 4, 0), "****");  // too wide: the overflow text is kept
    // numeric order equals key order for negative, fractional and positive values
    std::vector<double> values = {-999.5, -100, -12.5, -12, -1, -0.5, 0, 0.5, 1, 12, 99.5, 999};
    for (size_t i = 0; i + 1 < values.size(); i++) {
        std::string a = numberKey(values[i], 7, 1), b = numberKey(values[i + 1], 7, 1);
        EXPECT_LT(ntxCompare(a.data(), b.data(), 7, false), 0) << values[i] << " " << a << " " << b;
        EXPECT_GT(ntxCompare(a.data(), b.data(), 7, true), 0) << values[i];
    }
    // the transform of field bytes taken straight from a record
    char field[] = "  -305";
    ntxNumericTransform(field, 6);
    EXPECT_STREQ(field, "00,),'");
}

TEST(NtxKeyTextTest, TextsDatesAndLogicals) {
    char out[12];
    ntxKeyFromText("ABC", 3, 6, out);
    EXPECT_EQ(std::string(out, 6), "ABC   ");
    ntxKeyFromText("ABCDEFGH", 8, 4, out);
    EXPECT_EQ(std::string(out, 4), "ABCD");
    ntxKeyFromDate(dateFromYmd(2024, 3, 5, 1900), 8, out);
    EXPECT_EQ(std::string(out, 8), "20240305");
    ntxKeyFromDate(0, 8, out);
    EXPECT_EQ(std::string(out, 8), "        ");
    ntxKeyFromLogical(true, 1, out);
    EXPECT_EQ(out[0], 'T');
    ntxKeyFromLogical(false, 1, out);
    EXPECT_EQ(out[0], 'F');
    // accents weigh as their base letter; upper case sorts before lower case
    EXPECT_EQ(ntxCompare("\xE1nimo", "animo", 5, false), 0);
    EXPECT_LT(ntxCompare("Zeta ", "alfa ", 5, false), 0);
    EXPECT_LT(ntxCompare("N", "\xD1", 1, false), 0);
    EXPECT_LT(ntxCompare("\xD1", "O", 1, false), 0);
}

class NtxItemKeyTest : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\n    ENDPROC\nend\n");
    }
};

TEST_F(NtxItemKeyTest, ValuesOfEveryTypeAndTheirKeyShapes) {
    char out[16];
    Item s = str("Hola");
    ASSERT_EQ(ntxKeyFromItem(s, 6, 0, out), 0);
    EXPECT_EQ(std::string(out, 6), "Hola  ");
    NtxKeyShape shape = ntxKeyShape(s);
    EXPECT_EQ(shape.keySize, 4);
    Item d{};
    d.type = T_DOUBLE;
    d.v.d = -12;
    d.width = 5;
    d.decimals = 1;
    ASSERT_EQ(ntxKeyFromItem(d, 5, 0, out), 0);
    EXPECT_EQ(std::string(out, 5), "00,+*");
    shape = ntxKeyShape(d);
    EXPECT_EQ(shape.keySize, 5);
    EXPECT_EQ(shape.keyDecimals, 1);
    Item n{};
    n.type = T_INTEGER;
    n.v.l = 12;
    n.width = 0;  // no width: the default width of an integer
    EXPECT_EQ(ntxKeyShape(n).keySize, 10);
    ASSERT_EQ(ntxKeyFromItem(n, 5, 0, out), 0);
    EXPECT_EQ(std::string(out, 5), "00012");
    Item dt = dateItem(dateFromYmd(1999, 12, 31, 1900));
    ASSERT_EQ(ntxKeyFromItem(dt, 8, 0, out), 0);
    EXPECT_EQ(std::string(out, 8), "19991231");
    EXPECT_EQ(ntxKeyShape(dt).keySize, 8);
    Item l{};
    l.type = T_LOGICAL;
    l.v.l = 1;
    ASSERT_EQ(ntxKeyFromItem(l, 1, 0, out), 0);
    EXPECT_EQ(out[0], 'T');
    EXPECT_EQ(ntxKeyShape(l).keySize, 1);
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ntxKeyFromItem(nilItem(), 4, 0, out), 1242);
    EXPECT_EQ(ntxKeyFromItem(array(2), 4, 0, out), 1242);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(ntxKeyShape(nilItem()).keySize, 0);
    EXPECT_EQ(ntxKeyShape(str("")).keySize, 0);
    EXPECT_EQ(ntxKeyShape(str(std::string(300, 'a'))).keySize, 256);
}

// The slot check against a plain model (division per entry): every value
// of one entry, with the other entries as a new page has them, for key
// sizes whose item sizes divide the page differently.
TEST(NtxPageCheckTest, EveryOffsetOfAnEntryIsJudgedAsByDivision) {
    for (uint16_t keySize : {uint16_t(1), uint16_t(7), uint16_t(10), uint16_t(37), uint16_t(120), uint16_t(256)}) {
        NtxGeometry g = ntxGeometry(keySize);
        uint8_t page[NTX_PAGE_SIZE];
        ntxInitPage(page, g);
        for (uint16_t entry : {uint16_t(0), uint16_t(g.maxKeys / 2), g.maxKeys}) {
            for (uint32_t v = 0; v < NTX_PAGE_SIZE + 40; v++) {
                uint8_t bad[NTX_PAGE_SIZE];
                std::memcpy(bad, page, sizeof bad);
                ntxPut16(bad + 2 + 2 * entry, uint16_t(v));
                // The model: inside the item area, on a slot boundary, and
                // the slot no other entry names.
                uint32_t base = 2u * g.maxKeys + 4;
                bool fits = v >= base && v + g.itemSize <= NTX_PAGE_SIZE && (v - base) % g.itemSize == 0;
                bool unused = true;
                for (uint16_t i = 0; i <= g.maxKeys; i++)
                    if (i != entry && ntxSlotOffset(page, i) == v) unused = false;
                NtxStatus want = fits && unused ? NTX_OK : NTX_ERR_PAGE;
                ASSERT_EQ(ntxCheckPage(bad, g), want) << "key size " << keySize << ", entry " << entry << ", " << v;
            }
        }
    }
}

TEST(NtxPageCheckTest, HostileCountsAndOffsetTablesAreRejected) {
    NtxGeometry g = ntxGeometry(10);
    uint8_t page[NTX_PAGE_SIZE];
    ntxInitPage(page, g);
    EXPECT_EQ(ntxCheckPage(page, g), NTX_OK);
    struct Damage {
        const char* what;
        int entry;       // offset-table entry to overwrite, or -1 for the count
        uint16_t value;
    } cases[] = {
        {"count above the maximum", -1, 51},
        {"entry inside the table", 3, 50},
        {"entry past the page end", 0, 1020},
        {"entry between slots", 7, 105},
        {"entry naming another entry's slot", 9, 104},
        {"entry beyond 16 bits of page", 50, 0xFFFF},
    };
    for (const Damage& d : cases) {
        uint8_t bad[NTX_PAGE_SIZE];
        std::memcpy(bad, page, sizeof bad);
        ntxPut16(d.entry < 0 ? bad : bad + 2 + 2 * d.entry, d.value);
        EXPECT_EQ(ntxCheckPage(bad, g), NTX_ERR_PAGE) << d.what;
    }
    // a rotated table is still a valid page
    uint16_t first = ntxSlotOffset(page, 0);
    for (uint16_t i = 0; i < 50; i++) ntxPut16(page + 2 + 2 * i, ntxSlotOffset(page, uint16_t(i + 1)));
    ntxPut16(page + 2 + 100, first);
    EXPECT_EQ(ntxCheckPage(page, g), NTX_OK);
}
