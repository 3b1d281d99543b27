// A table engine around one test: a VM for the Items, an environment that
// records every raised error and evaluated hook, open tables with the flags
// their areas would hold, and the files of the test (named after it) removed
// afterwards.
#pragma once
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rdd/dbf/dbf_table.h"
#include "runtime/files.h"
#include "vm/object.h"

namespace xb::test {

struct Raised {
    uint16_t gen, sub, flags, os, tries;
    std::string file;
};

// One open table with the flags its area would hold.
struct Area {
    DbfTable t;
    uint32_t bof = 0, eof = 0, found = 0;
};

class DbfFixture : public VmTest {
protected:
    static inline std::vector<Raised>* seen = nullptr;
    static inline std::vector<int>* hooks = nullptr;
    static inline uint16_t answerCode = 0;
    std::vector<Raised> raisedHere;
    std::vector<int> hooksHere;
    std::vector<std::unique_ptr<Area>> areas;
    std::string base;

    static uint16_t raiseHere(void*, ErrorDescriptor* d) {
        seen->push_back({d->genCode, d->subCode, d->flags, d->osCode, d->tries, d->fileName ? d->fileName : ""});
        return answerCode;
    }
    static void hookHere(void*, int n) { hooks->push_back(n); }
    static inline const DbfEnv env = {raiseHere, hookHere, dbfPlainOpen, nullptr, nullptr};

    void SetUp() override {
        VmTest::SetUp();
        seen = &raisedHere;
        hooks = &hooksHere;
        answerCode = 0;
        load("symbol MAIN proc\nproc MAIN\n    ENDPROC\nend\n");
        base = std::string("dbft_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override {
        fileSyscalls() = defaultFileSyscalls();
        for (auto& a : areas) dbfTableClose(&a->t);
        areas.clear();
        for (Item* t : pinned) tempRelease(t);
        pinned.clear();
        fsDelete((base + ".dbf").c_str());
        fsDelete((base + ".dbt").c_str());
        VmTest::TearDown();
    }
    Area* fresh() {
        areas.push_back(std::make_unique<Area>());
        Area* a = areas.back().get();
        dbfTableInit(&a->t, &env, a, &a->bof, &a->eof, &a->found);
        return a;
    }
    Area* create(std::vector<DbfField> fields) {
        Area* a = fresh();
        EXPECT_EQ(dbfTableCreate(&a->t, base.c_str(), fields.data(), uint32_t(fields.size())), 0);
        return a;
    }
    Area* open(bool shared, bool readOnly = false) {
        Area* a = fresh();
        EXPECT_EQ(dbfTableOpen(&a->t, base.c_str(), shared, readOnly), 0);
        return a;
    }
    void close(Area* a) { EXPECT_EQ(dbfTableClose(&a->t), 0); }
    std::vector<uint8_t> fileBytes(const std::string& ext) {
        std::vector<uint8_t> b;
        os::Handle h = fsOpen((base + ext).c_str(), 0x40);
        if (h == os::INVALID) return b;
        uint32_t size = fsSeek(h, 0, os::FROM_END);
        b.resize(size);
        fsSeek(h, 0, os::FROM_BEGIN);
        fsReadLong(h, b.data(), size);
        fsClose(h);
        return b;
    }
    void writeFile(const std::vector<uint8_t>& b, const std::string& ext = ".dbf") {
        os::Handle h = fsCreate((base + ext).c_str(), 0);
        ASSERT_NE(h, os::INVALID);
        fsWriteLong(h, b.data(), uint32_t(b.size()));
        fsClose(h);
    }
    // A string kept in a static-area temporary until the test ends, so that
    // copies of it stay valid across the collections later allocations start.
    Item text(const char* s) {
        Item* t = tempAlloc();
        makeString(t, s, uint32_t(std::strlen(s)));
        pinned.push_back(t);
        return *t;
    }
    std::vector<Item*> pinned;
    std::string getText(Area* a, uint32_t field) {
        Item it{};
        EXPECT_EQ(dbfGetValue(&a->t, field, &it), 0);
        return isString(&it) ? std::string(strData(&it), strLength(&it)) : "<not a string>";
    }
    Item get(Area* a, uint32_t field) {
        Item it{};
        EXPECT_EQ(dbfGetValue(&a->t, field, &it), 0);
        return it;
    }
    void expectRaised(uint16_t gen, uint16_t sub) {
        ASSERT_FALSE(raisedHere.empty()) << "expected " << gen << "/" << sub;
        EXPECT_EQ(raisedHere.back().gen, gen);
        EXPECT_EQ(raisedHere.back().sub, sub);
    }
    // Five-field table: C 10, N 8.2, D, L, M.
    Area* createFive() { return create({{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}, {"WHEN", 'D', 8, 0},
                                        {"OK", 'L', 1, 0}, {"NOTES", 'M', 10, 0}}); }
    void appendRow(Area* a, const char* name, double amount) {
        ASSERT_EQ(dbfAppend(&a->t, false), 0);
        Item n = text(name), v = doubleItem(amount);
        ASSERT_EQ(dbfPutValue(&a->t, 0, &n), 0);
        ASSERT_EQ(dbfPutValue(&a->t, 1, &v), 0);
    }
};

inline uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(le16(b, at)) | uint32_t(le16(b, at + 2)) << 16;
}

}  // namespace xb::test
