// The external sort on byte keys and on awkward inputs: records ordered by
// their leading bytes (extSortBeginBytes) against std::sort, with and without
// temporary files and merge passes; the in-memory sort on inputs that defeat
// a naive quicksort (sorted, reversed, all equal, organ pipe, few distinct
// keys) through the caller's comparison; and the index build's sort entries,
// whose bytes must order exactly as the collation and the record numbers do.
#include "rdd/ext_sort.h"
#include "rdd/ntx/ntx_build.h"
#include "tests/support/ntx_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace xb;

namespace {

using Record = std::vector<uint8_t>;

enum class Shape { Random, Sorted, Reversed, AllEqual, OrganPipe, FewDistinct };

// count records of `size` bytes; the key bytes follow the shape, the rest
// numbers the record so that the multiset check sees every record.
std::vector<Record> makeRecords(uint32_t count, uint32_t size, uint32_t keyBytes, Shape shape, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<Record> v;
    for (uint32_t i = 0; i < count; i++) {
        Record r(size);
        uint32_t k = 0;
        switch (shape) {
            case Shape::Random: k = rng(); break;
            case Shape::Sorted: k = i; break;
            case Shape::Reversed: k = count - i; break;
            case Shape::AllEqual: k = 7; break;
            case Shape::OrganPipe: k = i < count / 2 ? i : count - i; break;
            case Shape::FewDistinct: k = rng() % 3; break;
        }
        // The key as big-endian bytes at the end of the key field, random
        // bytes before them for the random shape (long keys differ early).
        for (uint32_t j = 0; j < keyBytes; j++) {
            uint32_t fromEnd = keyBytes - 1 - j;
            r[j] = fromEnd < 4 ? uint8_t(k >> (8 * fromEnd)) : (shape == Shape::Random ? uint8_t(rng()) : 0);
        }
        for (uint32_t j = keyBytes; j < size; j++) r[j] = uint8_t(i >> (8 * ((j - keyBytes) % 4)));
        v.push_back(r);
    }
    return v;
}

struct SortRun {
    std::vector<Record> out;
    uint32_t passes = 0;
    bool spilled = false;
};

// Sorts the records through the engine; bytes != 0 selects byte keys.
void runSort(const std::string& base, const std::vector<Record>& in, uint32_t size, uint32_t keyBytes,
             uint32_t budget, ExtSortCompare compare, SortRun* run) {
    ExtSort s;
    if (compare) ASSERT_EQ(extSortBegin(&s, size, budget, compare, nullptr, base.c_str()), EXTSORT_OK);
    else ASSERT_EQ(extSortBeginBytes(&s, size, keyBytes, budget, base.c_str()), EXTSORT_OK);
    for (const Record& r : in) ASSERT_EQ(extSortAdd(&s, r.data()), EXTSORT_OK);
    ASSERT_EQ(extSortFinish(&s), EXTSORT_OK);
    run->spilled = os::fileExists((base + "_s0").c_str());
    for (;;) {
        const void* next = nullptr;
        ASSERT_EQ(extSortNext(&s, &next), EXTSORT_OK);
        if (!next) break;
        const uint8_t* p = static_cast<const uint8_t*>(next);
        run->out.emplace_back(p, p + size);
    }
    run->passes = s.passes;
    extSortEnd(&s);
    EXPECT_FALSE(os::fileExists((base + "_s0").c_str()));
    EXPECT_FALSE(os::fileExists((base + "_s1").c_str()));
}

// Keys in order and the same multiset of whole records.
void expectSorted(std::vector<Record> out, std::vector<Record> in, uint32_t keyBytes) {
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 1; i < out.size(); i++)
        ASSERT_LE(std::memcmp(out[i - 1].data(), out[i].data(), keyBytes), 0) << "at " << i;
    std::sort(out.begin(), out.end());
    std::sort(in.begin(), in.end());
    EXPECT_EQ(out, in);
}

// The first four bytes as a big-endian number: the caller's comparison in
// the shape tests (records of 8 bytes, keys of 4).
int compareFirstWord(const void* a, const void* b, void*) {
    return std::memcmp(a, b, 4);
}

class ExtSortBytesTest : public test::NtxTest {};

}  // namespace

TEST_F(ExtSortBytesTest, ByteKeysSortAsMemcmpInMemoryAndThroughRunsAndPasses) {
    struct Case {
        uint32_t count, size, keyBytes, budget;
        Shape shape;
        bool spills;
        uint32_t minPasses;  // merge passes at least (0: no merge)
    } cases[] = {
        {0, 24, 14, 16384, Shape::Random, false, 0},
        {1, 24, 14, 16384, Shape::Random, false, 0},
        {600, 24, 14, 16384, Shape::Random, false, 0},          // fits the budget
        {5000, 24, 14, 16384, Shape::Random, true, 1},          // runs, one final merge
        {40000, 24, 14, 16384, Shape::Random, true, 2},         // 58 runs, 15 at a time
        {40000, 24, 14, 1 << 20, Shape::FewDistinct, false, 0},
        {20000, 13, 13, 8192, Shape::Reversed, true, 2},        // key is the whole record
        {3000, 7, 3, 64, Shape::Random, true, 2},               // keys shorter than a word
        {3000, 20, 9, 1024, Shape::Sorted, true, 2},            // the last word overlaps
        {2000, 40, 33, 4096, Shape::OrganPipe, true, 2},
        {2000, 300, 260, 16384, Shape::AllEqual, true, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n++);
        std::vector<Record> in = makeRecords(c.count, c.size, c.keyBytes, c.shape, c.count + c.size);
        SortRun run;
        runSort(path("b"), in, c.size, c.keyBytes, c.budget, nullptr, &run);
        files.push_back(dir + "/b_s0");
        files.push_back(dir + "/b_s1");
        EXPECT_EQ(run.spilled, c.spills);
        EXPECT_GE(run.passes, c.minPasses);
        expectSorted(run.out, in, c.keyBytes);
    }
}

TEST_F(ExtSortBytesTest, TheInMemorySortCopesWithEveryShape) {
    // 200,000 records in memory: a quadratic partition would not finish.
    const Shape shapes[] = {Shape::Random,   Shape::Sorted,    Shape::Reversed,
                            Shape::AllEqual, Shape::OrganPipe, Shape::FewDistinct};
    for (Shape shape : shapes) {
        SCOPED_TRACE(int(shape));
        std::vector<Record> in = makeRecords(200000, 8, 4, shape, 11);
        for (bool bytes : {false, true}) {
            SortRun run;
            runSort(path("m"), in, 8, 4, 8 * 200000, bytes ? nullptr : compareFirstWord, &run);
            EXPECT_FALSE(run.spilled);
            expectSorted(run.out, in, 4);
        }
    }
}

TEST_F(ExtSortBytesTest, ByteKeysOfNothingOrBeyondTheRecordAreRefused) {
    ExtSort s;
    EXPECT_EQ(extSortBeginBytes(&s, 8, 0, 16384, "x"), EXTSORT_ERR_RECORD);
    extSortEnd(&s);
    EXPECT_EQ(extSortBeginBytes(&s, 8, 9, 16384, "x"), EXTSORT_ERR_RECORD);
    extSortEnd(&s);
    EXPECT_EQ(extSortBeginBytes(&s, 0, 1, 16384, "x"), EXTSORT_ERR_RECORD);
    extSortEnd(&s);
    ASSERT_EQ(extSortBeginBytes(&s, 8, 8, 16384, "x"), EXTSORT_OK);
    extSortEnd(&s);
}

TEST_F(ExtSortBytesTest, IndexSortEntriesOrderAsTheCollationThenTheRecordNumber) {
    // Keys over every byte value, with many equal and many equally weighted
    // (accented vowels weigh as their base vowel) so that ties reach the
    // record numbers.
    std::mt19937 rng(24);
    const char alphabet[] = "aA\xE1\xC1" "eE\xE9\xC9" "nN\xF1\xD1" "cC\xE7 0-9.";
    for (uint16_t keySize : {uint16_t(1), uint16_t(3), uint16_t(10), uint16_t(40)}) {
        for (bool descending : {false, true}) {
            SCOPED_TRACE(std::to_string(keySize) + (descending ? " descending" : " ascending"));
            std::vector<std::pair<std::string, uint32_t>> pairs;
            for (int i = 0; i < 400; i++) {
                std::string k(keySize, ' ');
                for (char& ch : k)
                    ch = i % 2 ? char(rng() % 256) : alphabet[rng() % (sizeof alphabet - 1)];
                pairs.emplace_back(k, uint32_t(rng() % 5 == 0 ? 1 : rng()));
            }
            std::vector<std::vector<char>> entries;
            for (auto& p : pairs) {
                std::vector<char> e(ntxEntrySize(keySize));
                ntxEntryMake(e.data(), p.first.data(), keySize, descending, p.second);
                EXPECT_EQ(std::string(ntxEntryKey(e.data(), keySize), keySize), p.first);
                EXPECT_EQ(ntxEntryRecord(e.data(), keySize), p.second);
                entries.push_back(e);
            }
            for (size_t i = 0; i < pairs.size(); i++) {
                for (size_t j = 0; j < pairs.size(); j += 7) {
                    int want = ntxCompare(pairs[i].first.data(), pairs[j].first.data(), keySize, descending);
                    if (want == 0) want = pairs[i].second < pairs[j].second ? -1 : pairs[i].second > pairs[j].second;
                    int got = std::memcmp(entries[i].data(), entries[j].data(), ntxEntryKeyBytes(keySize));
                    got = got < 0 ? -1 : got > 0;
                    ASSERT_EQ(got, want) << i << " against " << j;
                }
            }
        }
    }
}
