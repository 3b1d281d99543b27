// An order against its table: ordinary, unique and partial orders built
// from a table accepted as they are, and each kind of mismatch named when
// the table or the order is changed behind the other's back.
#include "rdd/ntx/ntx_unique.h"
#include "rdd/ntx/ntx_verify.h"
#include "tests/support/ntx_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace xb;
using test::Entry;

namespace {

struct Row {
    std::string key;
    bool passes;
};

struct Table {
    std::vector<Row> rows;
    uint16_t keySize;
    int calls = 0;
    uint16_t failAt = 0;   // record whose key cannot be computed (0: none)
    uint32_t stoppedAt = 0;  // the record at which rowKey stopped the check
};

bool rowKey(uint32_t record, char* key, bool* passes, void* context) {
    Table& t = *static_cast<Table*>(context);
    t.calls++;
    if (record == t.failAt) {
        t.stoppedAt = record;
        return false;
    }
    std::memcpy(key, t.rows[record - 1].key.data(), t.keySize);
    *passes = t.rows[record - 1].passes;
    return true;
}

class NtxVerifyTest : public test::NtxTest {
protected:
    Table table;

    void makeTable(uint16_t keySize, int rows) {
        table.keySize = keySize;
        std::mt19937 rng(5);
        for (int i = 0; i < rows; i++) {
            std::string text = "V" + std::to_string(rng() % 200);
            if (i % 17 == 0) text = "v\xE1";  // collates equal to "va" rows below
            if (i % 19 == 0) text = "va";
            table.rows.push_back(Row{key(text, keySize), rng() % 5 != 0});
        }
    }
    // Builds the order of the table the way a creation does.
    NtxTree* build(const char* name, bool unique, bool partialEveryOther = false) {
        NtxTree* t = create(name, table.keySize, unique);
        std::vector<Entry> pairs;
        for (size_t i = 0; i < table.rows.size(); i++)
            if (table.rows[i].passes && (!partialEveryOther || i % 2 == 0))
                pairs.emplace_back(table.rows[i].key, uint32_t(i + 1));
        uint16_t ks = table.keySize;
        std::stable_sort(pairs.begin(), pairs.end(), [ks](const Entry& a, const Entry& b) {
            return ntxCompare(a.first.data(), b.first.data(), ks, false) < 0;
        });
        NtxBuilder b;
        EXPECT_EQ(ntxBuildBegin(&b, t), NTX_OK);
        for (const Entry& e : pairs) EXPECT_EQ(ntxBuildAdd(&b, e.first.data(), e.second), NTX_OK);
        EXPECT_EQ(ntxBuildFinish(&b), NTX_OK);
        ntxBuildEnd(&b);
        return t;
    }
    std::string verify(NtxTree* t, NtxOrderKind kind, uint32_t count = 0) {
        NtxCheckResult r;
        NtxStatus st = ntxVerifyTable(t, count ? count : uint32_t(table.rows.size()), kind, rowKey, &table, &r);
        if (st == NTX_OK) return "ok";
        if (st == NTX_STOPPED) return "stopped at " + std::to_string(table.stoppedAt);
        return r.message;
    }
};

}  // namespace

TEST_F(NtxVerifyTest, OrdersBuiltFromTheTableAreAccepted) {
    makeTable(8, 900);
    EXPECT_EQ(verify(build("o.ntx", false), NTX_ORDER_ORDINARY), "ok");
    NtxTree* u = build("u.ntx", true);
    EXPECT_EQ(verify(u, NTX_ORDER_UNIQUE), "ok");
    uint32_t count;
    ASSERT_EQ(ntxKeyCount(u, &count), NTX_OK);
    EXPECT_LT(count, 300u);  // far fewer keys than records
    NtxTree* p = build("p.ntx", false, true);
    EXPECT_EQ(verify(p, NTX_ORDER_PARTIAL), "ok");
    // a partial order is not a complete one
    EXPECT_NE(verify(p, NTX_ORDER_ORDINARY).find("missing from the order"), std::string::npos);
}

TEST_F(NtxVerifyTest, EachKindOfMismatchIsNamed) {
    makeTable(8, 400);
    NtxTree* t = build("o.ntx", false);
    uint32_t r = 0;
    while (!table.rows[r].passes) r++;
    const uint32_t rec = r + 1;
    std::string old = table.rows[r].key;
    // the record's key changed without the order
    table.rows[r].key = key("ZZZ", 8);
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY), "record " + std::to_string(rec) + ": entry key differs from the record's key");
    // the record no longer passes
    table.rows[r].key = old;
    table.rows[r].passes = false;
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY),
              "record " + std::to_string(rec) + ": entry for a record that fails the for-condition");
    table.rows[r].passes = true;
    // the entry is gone
    bool found;
    ASSERT_EQ(ntxDelete(t, old.data(), rec, &found), NTX_OK);
    ASSERT_TRUE(found);
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY), "record " + std::to_string(rec) + ": record missing from the order");
    EXPECT_EQ(verify(t, NTX_ORDER_PARTIAL), "ok");
    // the entry twice
    ASSERT_EQ(ntxInsert(t, old.data(), rec), NTX_OK);
    ASSERT_EQ(ntxInsert(t, old.data(), rec), NTX_OK);
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY), "record " + std::to_string(rec) + ": record in the order twice");
    ASSERT_EQ(ntxDelete(t, old.data(), rec, &found), NTX_OK);
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY), "ok");
    // an entry beyond the table's end
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY, 100).substr(0, 7), "record ");
    EXPECT_NE(verify(t, NTX_ORDER_ORDINARY, 100).find("outside the table"), std::string::npos);
    // the table cannot give a key: the check stops there
    table.failAt = rec;
    EXPECT_EQ(verify(t, NTX_ORDER_ORDINARY), "stopped at " + std::to_string(rec));
    table.failAt = 0;
    // a structural fault is reported before the table is asked
    table.calls = 0;
    NtxTree* u = build("u.ntx", true);
    std::string some = table.rows[r].key;
    ASSERT_EQ(ntxInsert(u, some.data(), rec), NTX_OK);  // a second entry of one key
    EXPECT_NE(verify(u, NTX_ORDER_UNIQUE).find("unique"), std::string::npos);
}

TEST_F(NtxVerifyTest, AUniqueOrderMustHoldEveryKeyOfTheTable) {
    makeTable(8, 300);
    NtxTree* u = build("u.ntx", true);
    ASSERT_EQ(verify(u, NTX_ORDER_UNIQUE), "ok");
    // drop the entry of the key "va" (rows "va" and "v\xE1" share it)
    std::string va = key("va", 8);
    uint32_t rec;
    bool found;
    ASSERT_EQ(ntxSeek(u, va.data(), 8, false, false, &rec, &found), NTX_OK);
    ASSERT_TRUE(found);
    std::string stored(u->curKey, 8);
    ASSERT_EQ(ntxDelete(u, stored.data(), rec, &found), NTX_OK);
    EXPECT_EQ(verify(u, NTX_ORDER_UNIQUE).find("missing from the unique order") != std::string::npos, true);
    // the entry pointing at another record of that key (an accented one) is fine
    uint32_t other = 0;
    for (uint32_t i = 0; i < table.rows.size() && !other; i++)
        if (i + 1 != rec && table.rows[i].passes && table.rows[i].key != stored &&
            ntxCompare(table.rows[i].key.data(), va.data(), 8, false) == 0)
            other = i + 1;
    ASSERT_NE(other, 0u);
    ASSERT_EQ(ntxInsert(u, stored.data(), other), NTX_OK);
    EXPECT_EQ(verify(u, NTX_ORDER_UNIQUE), "ok");
    // but not at a record with another key
    ASSERT_EQ(ntxDelete(u, stored.data(), other, &found), NTX_OK);
    uint32_t stranger = 0;
    for (uint32_t i = 0; i < table.rows.size() && !stranger; i++)
        if (table.rows[i].passes && ntxCompare(table.rows[i].key.data(), va.data(), 8, false) != 0) stranger = i + 1;
    ASSERT_EQ(ntxInsert(u, stored.data(), stranger), NTX_OK);
    // (named as a second entry of that record, or as a key it does not have)
    EXPECT_EQ(verify(u, NTX_ORDER_UNIQUE).rfind("record " + std::to_string(stranger) + ": ", 0), 0u);
}

namespace {

bool findOtherRow(const char* key, uint32_t exclude, uint32_t* record, void* context) {
    Table& t = *static_cast<Table*>(context);
    *record = 0;
    for (uint32_t i = 0; i < t.rows.size(); i++)
        if (i + 1 != exclude && t.rows[i].passes && ntxCompare(t.rows[i].key.data(), key, t.keySize, false) == 0) {
            *record = i + 1;
            break;
        }
    return true;
}

}  // namespace

TEST_F(NtxVerifyTest, UniqueOrdersStayRightThroughRandomChangesAppendsAndConditions) {
    makeTable(4, 60);
    NtxTree* u = build("u.ntx", true);
    ASSERT_EQ(verify(u, NTX_ORDER_UNIQUE), "ok");
    std::mt19937 rng(77);
    const char* texts[] = {"a", "\xE1", "b", "c", "A", "d"};  // "a" and a-acute share a key
    int repointed = 0;
    for (int op = 0; op < 600; op++) {
        NtxUniqueChange c{};
        if (op % 7 == 0) {  // append
            table.rows.push_back(Row{key(texts[rng() % 6], 4), rng() % 4 != 0});
            c.record = uint32_t(table.rows.size());
        } else {
            c.record = 1 + rng() % uint32_t(table.rows.size());
            Row& row = table.rows[c.record - 1];
            c.oldPassed = row.passes;
            std::string oldKey = row.key;
            if (rng() % 3 == 0) row.passes = !row.passes;
            else row.key = key(texts[rng() % 6], 4);
            table.rows.push_back(Row{oldKey, false});  // keeps the old key alive for the call
            c.oldKey = table.rows.back().key.data();
        }
        Row& now = table.rows[c.record - 1];
        c.newKey = now.key.data();
        c.newPasses = now.passes;
        uint32_t before = 0;
        if (c.oldPassed) {
            uint32_t r;
            bool f;
            ASSERT_EQ(ntxSeek(u, c.oldKey, 4, false, false, &r, &f), NTX_OK);
            before = f ? r : 0;
        }
        ASSERT_EQ(ntxUniqueUpdate(u, c, findOtherRow, &table), NTX_OK);
        if (before == c.record && c.oldPassed) {
            uint32_t r;
            bool f;
            ASSERT_EQ(ntxSeek(u, c.oldKey, 4, false, false, &r, &f), NTX_OK);
            if (f && r != c.record) repointed++;
        }
        if (op % 7 != 0) table.rows.pop_back();
        ASSERT_EQ(verify(u, NTX_ORDER_UNIQUE), "ok") << "op " << op;
    }
    EXPECT_GT(repointed, 10);
}
