// Damaged tables and memo files, many of them: a good table with memos is
// damaged at random (seeded, so every run sees the same files) in its
// header, descriptors, records and memo blocks, or cut short, and then
// opened and read whole. Each open either succeeds or raises an error;
// nothing may crash, hang or read outside its buffers (the sanitizer build
// checks the last). The errors seen must be those of the table driver.
#include "tests/support/dbf_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

using namespace xb;
using test::Area;

namespace {

class DbfDamage : public test::DbfFixture {
protected:
    // Opens base.dbf/.dbt as they are and reads every field of the first
    // records, the last one, and the memo lengths. The number of records
    // read is bounded: a damaged count may claim billions.
    bool readAll() {
        Area* a = fresh();
        if (dbfTableOpen(&a->t, base.c_str(), false, false) != 0) return false;
        uint32_t count = a->t.recordCount < 40 ? a->t.recordCount : 40;
        for (uint32_t n = 0; n <= count + 1; ++n) {
            dbfGoTo(&a->t, n);
            for (uint32_t f = 0; f < a->t.fieldCount; ++f) {
                Item it{};
                dbfGetValue(&a->t, f, &it);
                uint32_t len = 0;
                dbfGetVarLen(&a->t, f, &len);
            }
            bool deleted = false;
            dbfDeleted(&a->t, &deleted);
        }
        dbfGoBottomRaw(&a->t);
        Item it{};
        dbfGetValue(&a->t, 0, &it);
        // Writing back into a damaged table must not crash either.
        Item v = text("z");
        dbfPutValue(&a->t, 0, &v);
        dbfTableClose(&a->t);
        return true;
    }
};

TEST_F(DbfDamage, RandomDamageEndsInErrorsNeverInACrash) {
    Area* a = create({{"NAME", 'C', 12, 0}, {"AMOUNT", 'N', 9, 2}, {"WHEN", 'D', 8, 0}, {"OK", 'L', 1, 0},
                      {"NOTES", 'M', 10, 0}, {"WIDE", 'C', 300, 0}});
    for (int i = 0; i < 12; ++i) {
        appendRow(a, "row", i * 1.5);
        std::string memo(size_t(i * 97 % 1300 + 1), char('a' + i));
        Item m = text(memo.c_str());
        ASSERT_EQ(dbfPutValue(&a->t, 4, &m), 0);
    }
    close(a);
    const auto goodTable = fileBytes(".dbf");
    const auto goodMemo = fileBytes(".dbt");
    uint32_t state = 12345;
    auto rnd = [&state](uint32_t n) {
        state = state * 1103515245u + 12345u;
        return n ? (state >> 8) % n : 0;
    };
    std::set<std::pair<uint16_t, uint16_t>> codes;
    int opened = 0;
    const int kRounds = 400;
    for (int round = 0; round < kRounds; ++round) {
        auto t = goodTable;
        auto m = goodMemo;
        switch (round % 5) {
            case 0:  // a few bytes of the header or the descriptors
                for (int k = 0; k < 3; ++k) t[rnd(32 * 7 + 2)] = uint8_t(rnd(256));
                break;
            case 1:  // cut anywhere
                t.resize(rnd(uint32_t(t.size())));
                break;
            case 2:  // memo block numbers in the records
                for (int k = 0; k < 4; ++k) {
                    uint32_t rec = rnd(12), at = 32 * 7 + 2 + rec * (1 + 12 + 9 + 8 + 1 + 10 + 300) + 31 + rnd(10);
                    if (at < t.size()) t[at] = uint8_t("0123456789 x\x1A"[rnd(13)]);
                }
                break;
            case 3:  // the memo file: end marks removed, block 0, cut
                for (auto& b : m)
                    if (b == 0x1A && rnd(2)) b = 'q';
                m[rnd(4)] = uint8_t(rnd(256));
                m.resize(m.size() - rnd(uint32_t(m.size())));
                break;
            case 4:  // anything anywhere
                for (int k = 0; k < 8; ++k) t[rnd(uint32_t(t.size()))] = uint8_t(rnd(256));
                for (int k = 0; k < 8; ++k) m[rnd(uint32_t(m.size()))] = uint8_t(rnd(256));
                break;
        }
        writeFile(t, ".dbf");
        writeFile(m, ".dbt");
        raisedHere.clear();
        if (!readAll() && raisedHere.empty()) ADD_FAILURE() << "round " << round << ": a failed open said nothing";
        for (const auto& r : raisedHere) codes.insert({r.gen, r.sub});
        if (raisedHere.empty()) ++opened;
    }
    // Every error is one of the table's own.
    const std::set<std::pair<uint16_t, uint16_t>> allowed = {
        {32, 1012}, {23, 1010}, {24, 1011}, {33, 1020}, {34, 1021}, {21, 1002}};
    for (const auto& c : codes) EXPECT_TRUE(allowed.count(c)) << c.first << "/" << c.second;
    EXPECT_TRUE(codes.count({32, 1012}));
    EXPECT_GT(opened, 0);  // some damage is harmless
}

}  // namespace
