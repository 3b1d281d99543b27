// The index driver through the database layer on real files: orders built
// on character, numeric (with negatives), date, descending, unique and
// conditional keys; seeks (exact, soft, last, a shorter character value),
// skipping and scopes; key changes moving only the changed order's entry;
// pack and zap rebuilding; the 16th order refused; and a long random run
// checked after every step against an in-memory model and the structural
// and table checks of every order. Files are named ntxd_* and removed.
#include "rdd/ntx/ntx_driver.h"
#include "tests/support/child_process.h"
#include "tests/support/native_call.h"
#include "tests/support/program_run.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/dates.h"
#include "rdd/areas.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/filenames.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

const char* kModule = R"(
symbol MAIN proc
symbol NAME
symbol AMT
symbol BORN
symbol BORNBLK proc
symbol POSBLK proc
symbol NAMEBLK proc
symbol EMPTYBLK proc
symbol EARLYBLK proc
proc MAIN
    ENDPROC
end
proc BORNBLK
    PUSHBLOCK {
        PUSHFIELD BORN
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc NAMEBLK
    PUSHBLOCK {
        PUSHFIELD NAME
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc EMPTYBLK
    PUSHBLOCK {
        PUSHSTR ""
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc EARLYBLK
    PUSHBLOCK {
        PUSHINT 5
        RECNO
        GREATER
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc POSBLK
    PUSHBLOCK {
        PUSHFIELD AMT
        ZERO
        GREATER
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
)";

class NtxDriver : public test::VmTest {
protected:
    std::vector<std::string> files;

    void SetUp() override {
        VmTest::SetUp();
        load(kModule);
        resetDriverRegistry();
        registerDriver("DBF", 1);
        registerDriver("DBFNTX", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBFNTX");
        answerLogical(false);  // raised errors take their default
    }
    void TearDown() override {
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        for (const std::string& f : files) fsDelete(f.c_str());
        VmTest::TearDown();
    }
    WorkArea* area() { return currentArea(); }

    // NAME C 10, AMT N 6 1, BORN D.
    void table(const char* file) {
        files.push_back(std::string(file) + ".dbf");
        Item* rows = tempAlloc();
        makeArray(rows, 3);
        const std::tuple<const char*, const char*, int, int> defs[] = {
            {"NAME", "C", 10, 0}, {"AMT", "N", 6, 1}, {"BORN", "D", 8, 0}};
        for (int i = 0; i < 3; ++i) {
            Item* row = &arrayItems(rows)[i];
            makeArray(row, 4);
            Item* e = arrayItems(row);
            makeString(&e[0], std::get<0>(defs[i]), uint32_t(std::strlen(std::get<0>(defs[i]))));
            makeString(&e[1], std::get<1>(defs[i]), 1);
            e[2] = intItem(std::get<2>(defs[i]));
            e[3] = intItem(std::get<3>(defs[i]));
        }
        invoke("DBCREATE", {file, *rows});
        tempRelease(rows);
        invoke("DBUSEAREA", {true, "DBFNTX", file});
        ASSERT_NE(area(), nullptr);
    }
    void append(const std::string& name, double amt, int day = 1) {
        invoke("DBAPPEND");
        set(name, amt, day);
    }
    void set(const std::string& name, double amt, int day = 1) {
        invoke("FIELDPUT", {1, name});
        invoke("FIELDPUT", {2, amt});
        Item d{};
        d.type = T_DATE;
        d.v.l = dateFromYmd(2000, 1 + day % 12, 1 + day % 28, 0);
        invoke("FIELDPUT", {3, d});
    }
    // Creates bag with a plain field or block key; cond: descending, for-block.
    void create(const char* bag, const char* key, const Item* block = nullptr, bool unique = false,
                bool descending = false, const Item* forBlock = nullptr) {
        files.push_back(std::string(bag) + ".ntx");
        OrderCondition c{};
        Item desc{};
        desc.type = T_LOGICAL;
        desc.v.l = descending;
        c.args[10] = &desc;
        c.args[1] = forBlock;
        ASSERT_EQ(rdd::orderCondition(area(), &c), RDD_OK);
        OrderCreateInfo ci{bag, nullptr, key, block, uint16_t(unique)};
        ASSERT_EQ(rdd::orderCreate(area(), &ci), RDD_OK);
    }
    void add(const char* bag) {
        OrderInfo oi{nullptr, bag, nullptr};
        EXPECT_EQ(rdd::orderListAdd(area(), &oi), RDD_OK) << bag;
    }
    void focus(int n) {
        Item which = intItem(n);
        OrderInfo oi{&which, nullptr, nullptr};
        rdd::orderListFocus(area(), &oi);
    }
    uint32_t recno() {
        Item it{};
        rdd::recNo(area(), &it);
        return uint32_t(it.v.l);
    }
    bool eof() {
        uint16_t f = 0;
        rdd::eof(area(), &f);
        return f;
    }
    bool bof() {
        uint16_t f = 0;
        rdd::bof(area(), &f);
        return f;
    }
    bool found() {
        uint16_t f = 0;
        rdd::found(area(), &f);
        return f;
    }
    std::string name() { return textOf(invoke("FIELDGET", {1})); }
    double amt() {
        Item v = invoke("FIELDGET", {2});
        return (v.type & T_DOUBLE) ? v.v.d : v.v.l;
    }
    // The records in the controlling order from the top.
    std::vector<uint32_t> walk() {
        std::vector<uint32_t> out;
        rdd::goTop(area());
        while (!eof() && out.size() < 100000) {
            out.push_back(recno());
            rdd::skip(area(), 1);
        }
        return out;
    }
    std::vector<uint32_t> walkBack() {
        std::vector<uint32_t> out;
        rdd::goBottom(area());
        while (!bof() && out.size() < 100000) {
            out.push_back(recno());
            rdd::skip(area(), -1);
            if (bof()) break;
        }
        return out;
    }
    void seek(const Item& v, bool soft = false, bool last = false) { rdd::seek(area(), soft, &v, last); }
    void verifyAll() {
        for (uint16_t n = 1; n <= ntxOrderCount(area()); ++n) {
            NtxCheckResult r{};
            RddResult st = ntxVerifyOrder(area(), n, &r);
            ASSERT_EQ(st, RDD_OK) << "order " << n << ": " << r.message;
        }
    }
    Item info(uint16_t code, int order = 0, const Item* value = nullptr) {
        Item* out = tempAlloc();
        if (value) *out = *value;
        else itemClear(out);
        Item which = intItem(order);
        OrderInfo oi{&which, nullptr, out};
        rdd::orderInfo(area(), code, &oi);
        Item r = *out;
        tempRelease(out);
        return r;
    }
    std::vector<uint8_t> bytes(const std::string& file) {
        std::vector<uint8_t> b;
        os::Handle h = fsOpen(file.c_str(), 0x40);
        if (h == os::INVALID) return b;
        uint32_t size = fsSeek(h, 0, os::FROM_END);
        b.resize(size);
        fsSeek(h, 0, os::FROM_BEGIN);
        fsReadLong(h, b.data(), size);
        fsClose(h);
        return b;
    }
};

TEST_F(NtxDriver, TheMethodTableOverridesExactlyTheOrderAndPositioningSlots) {
    RddMethodTable* ntx = acquireDriver("DBFNTX");
    RddMethodTable* dbf = acquireDriver("DBF");
    ASSERT_TRUE(ntx && dbf);
    const uint16_t overridden[] = {RDD_GOBOTTOM, RDD_GOTO, RDD_GOTOID, RDD_GOTOP, RDD_SEEK, RDD_SKIPRAW,
                                   RDD_FLUSH, RDD_GOCOLD, RDD_GOHOT, RDD_CLOSE, RDD_NEWAREA, RDD_STRUCTSIZE,
                                   RDD_SYSNAME, RDD_PACK, RDD_SORT, RDD_ZAP, RDD_FORCERELATION,
                                   RDD_ORDERLISTADD, RDD_ORDERLISTCLEAR, RDD_ORDERLISTFOCUS,
                                   RDD_ORDERLISTREBUILD, RDD_ORDERCONDITION, RDD_ORDERCREATE, RDD_ORDERINFO};
    for (uint16_t s = 0; s < RDD_METHOD_COUNT; ++s) {
        bool mine = std::find(std::begin(overridden), std::end(overridden), s) != std::end(overridden);
        EXPECT_EQ(ntx->slot[s] != dbf->slot[s], mine) << rddSlotName(s);
    }
    releaseDriver(ntx);
    releaseDriver(dbf);
}

TEST_F(NtxDriver, NumericKeysAreZeroFilledAndNegativesTransformedInTheFile) {
    table("ntxd_num");
    for (double v : {12.0, -12.0, 0.5, -120.5, 3.0}) append("x", v);
    create("ntxd_num_amt", "AMT");
    rdd::orderListClear(area());  // the file is held exclusively while open
    std::vector<uint8_t> f = bytes("ntxd_num_amt.ntx");
    ASSERT_EQ(f.size(), 2048u);
    EXPECT_EQ(f[0], 6);
    EXPECT_EQ(f[14], 6);   // key size: the field's width
    EXPECT_EQ(f[18], 62);  // maximum keys of a 6-byte key: 2 * ((1020 / 16 - 1) / 2)
    EXPECT_EQ(f[20], 31);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&f[22])), "AMT");
    // The root leaf, in key order: -120.5 -12.0 0.5 3.0 12.0.
    const char* expected[] = {",+*,.'", "0,+*.,", "0000.5", "0003.0", "0012.0"};
    uint32_t records[] = {4, 2, 3, 5, 1};
    EXPECT_EQ(f[1024], 5);
    for (int i = 0; i < 5; ++i) {
        uint16_t slot = uint16_t(f[1024 + 2 + 2 * i] | f[1024 + 3 + 2 * i] << 8);
        const uint8_t* item = &f[1024 + slot];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(item + 8), 6), expected[i]);
        EXPECT_EQ(uint32_t(item[4] | item[5] << 8), records[i]);
    }
    add("ntxd_num_amt");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{4, 2, 3, 5, 1}));
    seek(doubleItem(-12));
    EXPECT_TRUE(found());
    EXPECT_EQ(recno(), 2u);
}

TEST_F(NtxDriver, SeeksFirstAndLastOfAShorterValueSoftPastTheEndAndWithinScopes) {
    table("ntxd_seek");
    const char* names[] = {"ABC", "B", "AB", "ABD", "AA", "ABZ", "C"};
    for (const char* n : names) append(n, 1);
    create("ntxd_seek_name", "NAME");
    Item ab{};
    makeString(&ab, "AB", 2);
    seek(ab);
    EXPECT_TRUE(found());
    EXPECT_EQ(recno(), 3u);  // "AB" itself is the first key beginning with AB
    seek(ab, false, true);
    EXPECT_TRUE(found());
    EXPECT_EQ(recno(), 6u);  // ABZ
    Item zz{};
    makeString(&zz, "ZZ", 2);
    seek(zz, true);
    EXPECT_FALSE(found());
    EXPECT_TRUE(eof());
    Item abb{};
    makeString(&abb, "ABB", 3);
    seek(abb, true);  // soft: the next key
    EXPECT_FALSE(found());
    EXPECT_EQ(recno(), 1u);
    seek(abb);  // exact: the phantom record
    EXPECT_FALSE(found());
    EXPECT_TRUE(eof());
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 3, 1, 4, 6, 2, 7}));
    EXPECT_EQ(walkBack(), (std::vector<uint32_t>{7, 2, 6, 4, 1, 3, 5}));
    // Scopes: AB .. ABD
    Item prev = info(DBOI_SCOPETOP, 0, &ab);
    EXPECT_EQ(prev.type, T_NIL);
    Item abd{};
    makeString(&abd, "ABD", 3);
    info(DBOI_SCOPEBOTTOM, 0, &abd);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{3, 1, 4}));
    EXPECT_EQ(walkBack(), (std::vector<uint32_t>{4, 1, 3}));
    seek(zz, true);
    EXPECT_TRUE(eof());
    Item was = info(DBOI_SCOPETOPCLEAR);
    EXPECT_EQ(textOf(was), "AB");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 3, 1, 4}));
    info(DBOI_SCOPETOP, 0, &zz);  // above the bottom: nothing in range
    EXPECT_TRUE(walk().empty());
    info(DBOI_SCOPETOPCLEAR);
    info(DBOI_SCOPEBOTTOMCLEAR);
    // Positions and counts.
    EXPECT_EQ(info(DBOI_KEYCOUNT).v.l, 7);
    Item four = intItem(4);
    EXPECT_EQ(info(DBOI_POSITION, 0, &four).v.l, 4);
    EXPECT_EQ(recno(), 4u);
    rdd::goTo(area(), 6);
    EXPECT_EQ(info(DBOI_POSITION).v.l, 5);
    rdd::skip(area(), -2);
    EXPECT_EQ(recno(), 1u);
    EXPECT_EQ(textOf(info(DBOI_EXPRESSION)), "NAME");
    EXPECT_EQ(textOf(info(DBOI_NAME)), "ntxd_seek_");  // the base name as written, cut to 10
    EXPECT_EQ(textOf(info(DBOI_BAGEXT)), ".NTX");
    EXPECT_EQ(info(DBOI_NUMBER).v.l, 1);
    verifyAll();
}

TEST_F(NtxDriver, DateDescendingUniqueAndConditionalOrdersFollowTheirRules) {
    table("ntxd_kinds");
    struct Row { const char* n; double a; int day; };
    const Row rows[] = {{"K", 5, 3}, {"A", -2, 1}, {"K", 7, 2}, {"B", 0, 5}, {"A", 9, 4}};
    for (const Row& r : rows) append(r.n, r.a, r.day);
    Item born = call("BORNBLK");
    Item* bornKeep = tempAlloc();
    *bornKeep = born;
    create("ntxd_kinds_born", "BORN", bornKeep);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{2, 3, 1, 5, 4}));
    create("ntxd_kinds_desc", "AMT", nullptr, false, true);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 3, 1, 4, 2}));
    create("ntxd_kinds_uniq", "NAME", nullptr, true);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{2, 4, 1}));
    Item pos = call("POSBLK");
    Item* posKeep = tempAlloc();
    *posKeep = pos;
    create("ntxd_kinds_pos", "NAME", nullptr, false, false, posKeep);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 1, 3}));
    // Records leave and enter the conditional order with their amounts.
    rdd::goTo(area(), 1);
    invoke("FIELDPUT", {2, -1});
    rdd::goTo(area(), 2);
    invoke("FIELDPUT", {2, 4});
    rdd::goCold(area());
    verifyAll();
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 2, 3}));  // a new key goes after its equals
    rdd::goTo(area(), 1);
    invoke("FIELDPUT", {2, 5});
    rdd::goTo(area(), 2);
    invoke("FIELDPUT", {2, -2});
    rdd::goCold(area());
    create("ntxd_kinds_name", "NAME");
    rdd::orderListClear(area());
    add("ntxd_kinds_desc");
    add("ntxd_kinds_uniq");
    add("ntxd_kinds_name");
    EXPECT_EQ(ntxOrderCount(area()), 3);
    EXPECT_EQ(ntxControllingOrder(area()), 1);
    // Record 1 (K) becomes A: the unique order keeps K through record 3.
    rdd::goTo(area(), 1);
    invoke("FIELDPUT", {1, "A"});
    invoke("FIELDPUT", {2, -9.5});
    rdd::goCold(area());
    verifyAll();
    EXPECT_EQ(walk(), (std::vector<uint32_t>{5, 3, 4, 2, 1}));
    focus(2);
    EXPECT_EQ(walk().size(), 3u);
    // Record 3 leaves K: no record has K, its entry goes.
    rdd::goTo(area(), 3);
    invoke("FIELDPUT", {1, "Z"});
    rdd::goCold(area());
    verifyAll();
    std::vector<std::string> keys;
    for (uint32_t r : walk()) {
        rdd::goTo(area(), r);
        keys.push_back(name());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"A         ", "B         ", "Z         "}));
    tempRelease(bornKeep);
    tempRelease(posKeep);
}

TEST_F(NtxDriver, AKeyChangeMovesOnlyThatOrdersEntry) {
    table("ntxd_move");
    for (int i = 0; i < 120; ++i) append("N" + std::to_string(1000 + i), i - 60);
    create("ntxd_move_amt", "AMT");
    create("ntxd_move_name", "NAME");
    rdd::orderListClear(area());
    std::vector<uint8_t> amtBefore = bytes("ntxd_move_amt.ntx");
    std::vector<uint8_t> nameBefore = bytes("ntxd_move_name.ntx");
    ASSERT_FALSE(amtBefore.empty());
    add("ntxd_move_name");
    add("ntxd_move_amt");
    rdd::goTo(area(), 7);
    invoke("FIELDPUT", {1, "A0"});
    rdd::goTo(area(), 8);  // the write-back updates the orders
    rdd::orderListClear(area());
    EXPECT_EQ(bytes("ntxd_move_amt.ntx"), amtBefore);
    EXPECT_NE(bytes("ntxd_move_name.ntx"), nameBefore);
    add("ntxd_move_name");
    add("ntxd_move_amt");
    verifyAll();
    EXPECT_EQ(walk().front(), 7u);
    Item a0{};
    makeString(&a0, "A0", 2);
    seek(a0);
    EXPECT_TRUE(found());
    EXPECT_EQ(recno(), 7u);
    Item n1006{};
    makeString(&n1006, "N1006", 5);
    seek(n1006);
    EXPECT_FALSE(found());
}

TEST_F(NtxDriver, PackAndZapRebuildEveryOrder) {
    table("ntxd_pack");
    for (int i = 0; i < 300; ++i) append("P" + std::to_string(i % 37), (i * 7) % 101 - 50);
    create("ntxd_pack_amt", "AMT");
    create("ntxd_pack_name", "NAME");
    rdd::orderListClear(area());
    add("ntxd_pack_name");
    add("ntxd_pack_amt");
    for (uint32_t r = 1; r <= 300; r += 3) {
        rdd::goTo(area(), r);
        rdd::deleteRecord(area());
    }
    invoke("__DBPACK");
    uint32_t count = 0;
    rdd::recCount(area(), &count);
    EXPECT_EQ(count, 200u);
    verifyAll();
    EXPECT_EQ(info(DBOI_KEYCOUNT, 2).v.l, 200);
    EXPECT_EQ(walk().size(), 200u);
    invoke("__DBZAP");
    verifyAll();
    EXPECT_EQ(info(DBOI_KEYCOUNT, 1).v.l, 0);
    EXPECT_TRUE(walk().empty());
    EXPECT_TRUE(eof());
    append("after", 1);
    verifyAll();
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1}));
}

TEST_F(NtxDriver, TheSixteenthOrderIsRefusedAndTheFifteenStay) {
    table("ntxd_many");
    append("x", 1);
    std::vector<std::string> bags;
    for (int i = 0; i < 16; ++i) {
        bags.push_back("ntxd_many" + std::to_string(i));
        create(bags.back().c_str(), i % 2 ? "AMT" : "NAME");
    }
    rdd::orderListClear(area());
    for (int i = 0; i < 15; ++i) add(bags[size_t(i)].c_str());
    errors.clear();
    OrderInfo oi{nullptr, bags[15].c_str(), nullptr};
    EXPECT_NE(rdd::orderListAdd(area(), &oi), RDD_OK);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 31);
    EXPECT_EQ(errors[0].d.subCode, 1027);
    EXPECT_EQ(errors[0].subsystem, "DBFNTX");
    EXPECT_EQ(ntxOrderCount(area()), 15);
    EXPECT_EQ(ntxControllingOrder(area()), 1);
    // Focus by name (shorter match) and by number; a miss changes nothing.
    Item* prev = tempAlloc();
    Item byName{};
    makeString(&byName, "ntxd_many3", 10);
    OrderInfo f{&byName, nullptr, prev};
    rdd::orderListFocus(area(), &f);
    EXPECT_EQ(textOf(*prev), "ntxd_many0");  // the file's base name as written
    EXPECT_EQ(ntxControllingOrder(area()), 4);
    Item missing{};
    makeString(&missing, "nothing", 7);
    OrderInfo g{&missing, nullptr, prev};
    rdd::orderListFocus(area(), &g);
    EXPECT_EQ(ntxControllingOrder(area()), 4);
    tempRelease(prev);
    focus(0);
    errors.clear();
    Item k = intItem(1);
    EXPECT_NE(rdd::seek(area(), 0, &k, 0), RDD_OK);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 36);
    EXPECT_EQ(errors[0].d.subCode, 1020);
}

TEST_F(NtxDriver, ARandomRunMatchesTheModelAndEveryOrderChecksAfterEachStep) {
    table("ntxd_model");
    std::mt19937 rng(20261209);
    struct Rec { std::string name; double amt; bool deleted; };
    std::vector<Rec> model;
    auto randomName = [&] {
        std::string s;
        int n = 1 + int(rng() % 3);
        for (int i = 0; i < n; ++i) s += char('A' + rng() % 4);
        return s;
    };
    auto randomAmt = [&] { return double(int(rng() % 201) - 100) / 2; };
    for (int i = 0; i < 400; ++i) {  // two levels in every order
        Rec r{randomName(), randomAmt(), false};
        append(r.name, r.amt);
        model.push_back(r);
    }
    create("ntxd_model_amt", "AMT");
    create("ntxd_model_desc", "AMT", nullptr, false, true);
    create("ntxd_model_uniq", "NAME", nullptr, true);
    create("ntxd_model_name", "NAME");
    rdd::orderListClear(area());
    for (const char* b : {"ntxd_model_name", "ntxd_model_amt", "ntxd_model_desc", "ntxd_model_uniq"}) add(b);
    ASSERT_EQ(ntxOrderCount(area()), 4);
    auto padded = [](std::string s) { s.resize(10, ' '); return s; };
    for (int step = 0; step < 400; ++step) {
        uint32_t op = rng() % 100;
        uint32_t n = uint32_t(model.size());
        if (op < 25 || n == 0) {
            Rec r{randomName(), randomAmt(), false};
            append(r.name, r.amt);
            model.push_back(r);
        } else if (op < 65) {
            uint32_t r = 1 + rng() % n;
            rdd::goTo(area(), r);
            if (rng() % 2) {
                model[r - 1].name = randomName();
                invoke("FIELDPUT", {1, model[r - 1].name});
            } else {
                model[r - 1].amt = randomAmt();
                invoke("FIELDPUT", {2, model[r - 1].amt});
            }
        } else if (op < 75) {
            uint32_t r = 1 + rng() % n;
            rdd::goTo(area(), r);
            if (model[r - 1].deleted) rdd::recall(area());
            else rdd::deleteRecord(area());
            model[r - 1].deleted = !model[r - 1].deleted;
        } else if (op < 77) {
            invoke("__DBPACK");
            std::vector<Rec> kept;
            for (const Rec& r : model)
                if (!r.deleted) kept.push_back(r);
            model = kept;
        } else if (op < 78 && step > 300) {
            invoke("__DBZAP");
            model.clear();
        } else {
            // Seeks in the name order: exact, soft and last against the model.
            focus(1);
            std::string key = randomName();
            Item v{};
            makeString(&v, key.c_str(), uint32_t(key.size()));
            bool last = rng() % 2, soft = rng() % 2;
            seek(v, soft, last);
            std::vector<std::pair<std::string, uint32_t>> hits;
            for (uint32_t i = 0; i < model.size(); ++i)
                if (padded(model[i].name).compare(0, key.size(), key) == 0) hits.push_back({padded(model[i].name), i + 1});
            EXPECT_EQ(found(), !hits.empty()) << key;
            if (!hits.empty()) {
                std::string want = last ? std::max_element(hits.begin(), hits.end())->first
                                        : std::min_element(hits.begin(), hits.end())->first;
                EXPECT_EQ(name(), want) << key << (last ? " last" : " first");
            } else if (!soft) {
                EXPECT_TRUE(eof());
            }
        }
        rdd::goCold(area());
        ASSERT_NO_FATAL_FAILURE(verifyAll()) << "step " << step;
        if (step % 20 == 0) {
            // Skipping forwards and backwards in each order visits the keys in order.
            for (int o = 1; o <= 3; ++o) {
                focus(o);
                std::vector<uint32_t> fw = walk(), bw = walkBack();
                ASSERT_EQ(fw.size(), model.size());
                std::reverse(bw.begin(), bw.end());
                EXPECT_EQ(fw, bw);
                for (size_t i = 1; i < fw.size(); ++i) {
                    const Rec& a = model[fw[i - 1] - 1];
                    const Rec& b = model[fw[i] - 1];
                    if (o == 1) EXPECT_LE(padded(a.name), padded(b.name));
                    if (o == 2) EXPECT_LE(a.amt, b.amt);
                    if (o == 3) EXPECT_GE(a.amt, b.amt);
                }
            }
            // Scopes on the name order: the records between them, in order.
            focus(1);
            std::string lo = randomName(), hi = randomName();
            Item top{}, bottom{};
            makeString(&top, lo.c_str(), uint32_t(lo.size()));
            makeString(&bottom, hi.c_str(), uint32_t(hi.size()));
            info(DBOI_SCOPETOP, 0, &top);
            info(DBOI_SCOPEBOTTOM, 0, &bottom);
            size_t inRange = 0;
            for (const Rec& r : model) {
                std::string k = padded(r.name);
                if (k.compare(0, lo.size(), lo) >= 0 && k.compare(0, hi.size(), hi) <= 0) ++inRange;
            }
            std::vector<uint32_t> scoped = walk(), back = walkBack();
            EXPECT_EQ(scoped.size(), inRange) << lo << ".." << hi;
            std::reverse(back.begin(), back.end());
            EXPECT_EQ(scoped, back);
            info(DBOI_SCOPETOPCLEAR);
            info(DBOI_SCOPEBOTTOMCLEAR);
        }
    }
}

}  // namespace

namespace {

// The order functions as a program calls them.
TEST_F(NtxDriver, TheOrderFunctionsWorkTheOrdersOfTheCurrentArea) {
    table("ntxd_fn");
    const char* names[] = {"PEAR", "APPLE", "FIG", "APPLE", "KIWI"};
    for (int i = 0; i < 5; ++i) append(names[i], 10 - 3 * i);
    EXPECT_EQ(textOf(invoke("ORDSETFOCUS")), "");
    EXPECT_EQ(invoke("INDEXORD").v.l, 0);
    files.push_back("ntxd_fn_amt.ntx");
    files.push_back("ntxd_fn_name.ntx");
    expectLogical(invoke("ORDCONDSET", {Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(),
                                        Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), true}),
                  true);
    invoke("ORDCREATE", {"ntxd_fn_amt", "byamt", "AMT"});
    EXPECT_EQ(textOf(invoke("ORDNAME")), "BYAMT");
    EXPECT_EQ(textOf(invoke("ORDKEY")), "AMT");
    EXPECT_EQ(textOf(invoke("ORDFOR")), "");
    invoke("ORDCREATE", {"ntxd_fn_name", Arg::nil(), "NAME", Arg::nil(), true});
    EXPECT_EQ(invoke("ORDKEYCOUNT").v.l, 4);  // unique: APPLE once
    invoke("ORDLISTCLEAR");
    EXPECT_EQ(invoke("INDEXORD").v.l, 0);
    invoke("ORDLISTADD", {"ntxd_fn_amt"});
    invoke("ORDLISTADD", {"ntxd_fn_name"});
    EXPECT_EQ(invoke("INDEXORD").v.l, 1);
    EXPECT_EQ(recno(), 1u);  // descending amounts: record 1 has the largest
    EXPECT_EQ(textOf(invoke("ORDSETFOCUS", {"ntxd_fn_name"})), "BYAMT");
    EXPECT_EQ(invoke("INDEXORD").v.l, 2);
    EXPECT_EQ(textOf(invoke("INDEXKEY", {1})), "AMT");
    EXPECT_EQ(textOf(invoke("INDEXKEY", {0})), "NAME");
    EXPECT_EQ(invoke("ORDNUMBER", {"byamt"}).v.l, 1);
    EXPECT_EQ(textOf(invoke("ORDBAGEXT")), ".NTX");
    EXPECT_NE(textOf(invoke("ORDBAGNAME", {2})).find("ntxd_fn_name.ntx"), std::string::npos);
    expectLogical(invoke("DBSEEK", {"FIG"}), true);
    EXPECT_EQ(recno(), 3u);
    EXPECT_EQ(invoke("ORDKEYNO").v.l, 2);
    expectLogical(invoke("DBSEEK", {"G", true}), false);
    EXPECT_EQ(name(), "KIWI      ");
    expectLogical(invoke("DBSEEK", {"ZZ"}), false);
    EXPECT_TRUE(eof());
    EXPECT_EQ(invoke("ORDSCOPE", {0, "B"}).type, T_NIL);
    invoke("ORDSCOPE", {1, "KZ"});
    EXPECT_EQ(walk(), (std::vector<uint32_t>{3, 5}));
    EXPECT_EQ(textOf(invoke("ORDSCOPE", {0})), "B");
    EXPECT_EQ(walk(), (std::vector<uint32_t>{2, 3, 5}));
    invoke("ORDSCOPE", {1});
    // A record moved through FIELDPUT and DBSKIP lands in both orders.
    invoke("DBGOTO", {5});
    invoke("FIELDPUT", {1, "AAA"});
    invoke("DBSKIP", {0});
    invoke("DBGOTOP");
    EXPECT_EQ(recno(), 5u);
    invoke("ORDLISTREBUILD");
    verifyAll();
    errors.clear();
    expectLogical(invoke("DBSEEK", {Arg::nil()}), false);
    expectLogical(invoke("DBSEEK", {"FIG", 1}), false);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].d.genCode, 1);
    EXPECT_EQ(errors[0].d.subCode, 1001);
    EXPECT_EQ(errors[1].d.subCode, 1001);
    invoke("ORDSETFOCUS", {0});
    EXPECT_EQ(invoke("INDEXORD").v.l, 0);
    errors.clear();
    expectLogical(invoke("DBSEEK", {"FIG"}), false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 36);
}

}  // namespace

namespace {

TEST_F(NtxDriver, ARelationSeeksTheChildThroughItsControllingOrder) {
    table("ntxd_kid");
    const char* kids[] = {"MARY", "JOHN", "MARY", "ANN"};
    for (int i = 0; i < 4; ++i) append(kids[i], i + 1);
    create("ntxd_kid_name", "NAME");
    uint16_t childArea = currentAreaNumber();
    files.push_back("ntxd_par.dbf");
    invoke("DBCREATE", {"ntxd_par", invoke("DBSTRUCT")});
    invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_par"});
    for (const char* n : {"JOHN", "BOB", "MARY"}) append(n, 0);
    Item key = call("NAMEBLK");
    Item* keep = tempAlloc();
    *keep = key;
    invoke("DBSETRELATION", {int(childArea), *keep, "NAME"});
    WorkArea* parent = currentArea();
    WorkArea* child = areaAt(childArea);
    auto childRec = [&] {
        Item it{};
        rdd::recNo(child, &it);
        return uint32_t(it.v.l);
    };
    auto childFlag = [&](RddResult (*f)(WorkArea*, uint16_t*)) {
        uint16_t v = 0;
        f(child, &v);
        return v != 0;
    };
    rdd::goTop(parent);
    EXPECT_EQ(childRec(), 2u);
    EXPECT_TRUE(childFlag(rdd::found));
    rdd::skip(parent, 1);  // BOB has no child
    EXPECT_TRUE(childFlag(rdd::eof));
    EXPECT_FALSE(childFlag(rdd::found));
    rdd::skip(parent, 1);  // the first MARY
    EXPECT_EQ(childRec(), 1u);
    rdd::skip(parent, 1);  // past the end: the child too
    EXPECT_TRUE(childFlag(rdd::eof));
    tempRelease(keep);
}

TEST_F(NtxDriver, TwoSharedAreasSeeEachOthersKeysAfterTheirNextLock) {
    table("ntxd_share");
    append("FIRST", 1);
    create("ntxd_share_name", "NAME");
    invoke("DBCLOSEAREA");
    invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_share", "ONE", true});
    invoke("ORDLISTADD", {"ntxd_share_name"});
    WorkArea* one = currentArea();
    invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_share", "TWO", true});
    invoke("ORDLISTADD", {"ntxd_share_name"});
    WorkArea* two = currentArea();
    ASSERT_TRUE(one && two && one != two);
    uint16_t before = ntxOrderTree(two, 1)->changeCounter;
    for (int i = 0; i < 160; ++i) {  // root and leaf splits in both areas
        WorkArea* w = i % 2 ? two : one;
        invoke("DBSELECTAREA", {int(w->areaNo)});
        append("K" + std::to_string(1000 + i * 7919 % 160), i);
        invoke("DBRUNLOCK");  // writes the record and its keys back
        WorkArea* r = i % 2 ? one : two;
        invoke("DBSELECTAREA", {int(r->areaNo)});
        expectLogical(invoke("DBSEEK", {"K" + std::to_string(1000 + i * 7919 % 160)}), true);
        EXPECT_EQ(recno(), uint32_t(i + 2));
    }
    EXPECT_GT(ntxOrderTree(two, 1)->changeCounter, before);
    verifyAll();
    EXPECT_EQ(walk().size(), 161u);
}

}  // namespace

namespace {

TEST_F(NtxDriver, FailuresRaiseTheirErrorsAndLeaveTheAreaUsable) {
    table("ntxd_err");
    for (const char* n : {"ONE", "TWO", "THREE"}) append(n, 1);
    // A key of width 0.
    Item empty = call("EMPTYBLK");
    Item* keep = tempAlloc();
    *keep = empty;
    OrderCreateInfo ci{"ntxd_err_empty", nullptr, "", keep, 0};
    errors.clear();
    EXPECT_NE(rdd::orderCreate(area(), &ci), RDD_OK);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 34);
    EXPECT_EQ(errors[0].d.subCode, 1026);
    EXPECT_EQ(ntxOrderCount(area()), 0);
    tempRelease(keep);
    // Files that are not indexes, or whose offsets and counts lie.
    std::vector<std::vector<uint8_t>> hostile;
    hostile.push_back(std::vector<uint8_t>(2048, 0x41));
    create("ntxd_err_name", "NAME");
    rdd::orderListClear(area());
    std::vector<uint8_t> good = bytes("ntxd_err_name.ntx");
    ASSERT_EQ(good.size(), 2048u);
    auto patched = [&](size_t at, std::vector<uint8_t> with) {
        std::vector<uint8_t> b = good;
        for (size_t i = 0; i < with.size(); ++i) b[at + i] = with[i];
        return b;
    };
    hostile.push_back(patched(4, {0x00, 0x10, 0, 0}));  // root outside the file
    hostile.push_back(patched(4, {0x10, 0x04, 0, 0}));  // root not on a page
    hostile.push_back(patched(14, {0, 0}));             // key size 0
    hostile.push_back(patched(18, {99, 0}));            // maximum not the geometry's
    hostile.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 100));  // short
    files.push_back("ntxd_err_bad.ntx");
    for (size_t i = 0; i < hostile.size(); ++i) {
        os::Handle h = fsCreate("ntxd_err_bad.ntx", 0);
        ASSERT_NE(h, os::INVALID);
        fsWriteLong(h, hostile[i].data(), uint32_t(hostile[i].size()));
        fsClose(h);
        errors.clear();
        OrderInfo oi{nullptr, "ntxd_err_bad", nullptr};
        EXPECT_NE(rdd::orderListAdd(area(), &oi), RDD_OK) << i;
        ASSERT_EQ(errors.size(), 1u) << i;
        EXPECT_EQ(errors[0].d.genCode, 32) << i;
        EXPECT_EQ(errors[0].subsystem, "DBFNTX");
        EXPECT_EQ(ntxOrderCount(area()), 0);
    }
    // A page whose key count is above the maximum: moving fails cleanly.
    std::vector<uint8_t> b = patched(1024, {200, 0});
    os::Handle h = fsCreate("ntxd_err_bad.ntx", 0);
    fsWriteLong(h, b.data(), uint32_t(b.size()));
    fsClose(h);
    errors.clear();
    OrderInfo bad{nullptr, "ntxd_err_bad", nullptr};
    rdd::orderListAdd(area(), &bad);  // opens; its goTop meets the page
    EXPECT_EQ(ntxOrderCount(area()), 1);
    EXPECT_FALSE(errors.empty());
    errors.clear();
    rdd::goTop(area());
    EXPECT_TRUE(eof());
    EXPECT_FALSE(errors.empty());
    rdd::orderListClear(area());
    // An index that missed a change: the old key is not there.
    rdd::goTo(area(), 2);
    invoke("FIELDPUT", {1, "CHANGED"});
    rdd::goCold(area());
    add("ntxd_err_name");
    rdd::goTo(area(), 2);
    invoke("FIELDPUT", {1, "AGAIN"});
    errors.clear();
    rdd::goCold(area());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 32);
    EXPECT_EQ(errors[0].d.subCode, 1210);
    // The new key went in all the same.
    Item again{};
    makeString(&again, "AGAIN", 5);
    seek(again);
    EXPECT_TRUE(found());
    EXPECT_EQ(recno(), 2u);
}

}  // namespace

namespace {

// The table tool on files the driver left: check accepts them, names a
// tampered key order, reindex mends it; info and dump read both files.
TEST_F(NtxDriver, TheTableToolChecksReindexesAndReadsTheFiles) {
    test::ProgramRun run;
    std::string xbdb = run.copyProgram("xbdb");
    if (xbdb.empty()) GTEST_SKIP() << "xbdb not built";
    std::string table = run.path("tool"), index = run.path("tool_name.ntx");
    Item* rows = tempAlloc();
    makeArray(rows, 2);
    const char* defs[2][2] = {{"NAME", "C"}, {"AMT", "N"}};
    for (int i = 0; i < 2; ++i) {
        Item* row = &arrayItems(rows)[i];
        makeArray(row, 4);
        makeString(&arrayItems(row)[0], defs[i][0], uint32_t(std::strlen(defs[i][0])));
        makeString(&arrayItems(row)[1], defs[i][1], 1);
        arrayItems(row)[2] = intItem(i ? 6 : 10);
        arrayItems(row)[3] = intItem(i);
    }
    invoke("DBCREATE", {table, *rows});
    tempRelease(rows);
    invoke("DBUSEAREA", {true, "DBFNTX", table});
    for (int i = 0; i < 200; ++i) {
        invoke("DBAPPEND");
        invoke("FIELDPUT", {1, "N" + std::to_string((i * 37) % 200)});
        invoke("FIELDPUT", {2, i - 100});
    }
    OrderCreateInfo ci{index.c_str(), nullptr, "NAME", nullptr, 0};
    ASSERT_EQ(rdd::orderCreate(area(), &ci), RDD_OK);
    invoke("DBCLOSEAREA");
    EXPECT_EQ(run.run(xbdb, {"check", index, table}).exitCode, 0);
    EXPECT_EQ(run.run(xbdb, {"info", index}).exitCode, 0);
    EXPECT_EQ(run.run(xbdb, {"info", table + ".dbf"}).exitCode, 0);
    EXPECT_EQ(run.run(xbdb, {"dump", table, "--csv", "--utf8"}).exitCode, 0);
    EXPECT_EQ(run.run(xbdb, {"check", index}).exitCode, 2);
    // Swap two keys of the first leaf: the order is broken.
    std::vector<uint8_t> b = bytes(index);
    ASSERT_GT(b.size(), 3072u);
    uint32_t leaf = 2048;  // the first page written: a full leaf
    uint16_t s0 = uint16_t(b[leaf + 2] | b[leaf + 3] << 8), s1 = uint16_t(b[leaf + 4] | b[leaf + 5] << 8);
    b[leaf + 2] = uint8_t(s1);
    b[leaf + 3] = uint8_t(s1 >> 8);
    b[leaf + 4] = uint8_t(s0);
    b[leaf + 5] = uint8_t(s0 >> 8);
    os::Handle h = fsCreate(index.c_str(), 0);
    fsWriteLong(h, b.data(), uint32_t(b.size()));
    fsClose(h);
    EXPECT_EQ(run.run(xbdb, {"check", index, table}).exitCode, 1);
    EXPECT_EQ(run.run(xbdb, {"reindex", index, table}).exitCode, 0);
    EXPECT_EQ(run.run(xbdb, {"check", index, table}).exitCode, 0);
}

}  // namespace

namespace {

// Processes appending to one shared table with its index, each under its
// locks, leave an index that holds every record once. The children are
// this test binary started again, one role each (tests/support/
// child_process.h).
TEST_F(NtxDriver, ProcessesAppendingUnderLocksLeaveACompleteIndex) {
    const int kChildren = 3, kEach = 150;
    if (const char* role = test::childRole()) {
        int c = std::atoi(role);
        invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_procs", "P", true});
        invoke("ORDLISTADD", {"ntxd_procs_name"});
        // All start together, so that their changes interleave.
        for (int w = 0; w < 20000 && !fileNameExists("ntxd_procs.go"); ++w) os::sleepMs(1);
        int bad = currentArea() && ntxOrderCount(currentArea()) == 1 ? 0 : 3;
        for (int i = 0; i < kEach && !bad; ++i) {
            invoke("DBAPPEND");
            invoke("FIELDPUT", {1, "C" + std::to_string(c) + "-" + std::to_string(i)});
            invoke("FIELDPUT", {2, c * 100 + i});
            invoke("DBRUNLOCK");
            if (!errors.empty()) bad = 4;
        }
        invoke("DBCLOSEAREA");
        test::childExit(bad);
    }
    table("ntxd_procs");
    append("START", 0);
    create("ntxd_procs_name", "NAME");
    invoke("DBCLOSEAREA");
    files.push_back("ntxd_procs.go");
    fsDelete("ntxd_procs.go");
    std::vector<std::unique_ptr<test::Child>> children;
    for (int c = 0; c < kChildren; ++c) {
        children.push_back(std::make_unique<test::Child>());
        ASSERT_TRUE(children.back()->start(std::to_string(c)));
    }
    fsClose(fsCreate("ntxd_procs.go", 0));
    for (auto& child : children) EXPECT_EQ(child->finish(), 0) << child->output;
    invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_procs"});
    invoke("ORDLISTADD", {"ntxd_procs_name"});
    verifyAll();
    EXPECT_EQ(info(DBOI_KEYCOUNT).v.l, 1 + kChildren * kEach);
    expectLogical(invoke("DBSEEK", {"C2-149"}), true);
}

}  // namespace

namespace {

// The evaluation block of the order condition, every interval records: a
// false answer stops the reading and the order is built empty. Sorting
// goes in natural order and leaves the controlling order in place.
TEST_F(NtxDriver, TheEvaluationBlockStopsABuildAndSortingKeepsTheOrder) {
    table("ntxd_eval");
    for (int i = 0; i < 8; ++i) append("E" + std::to_string(8 - i), i);
    Item early = call("EARLYBLK");  // true while RECNO() < 5
    Item* keep = tempAlloc();
    *keep = early;
    auto build = [&](int interval) {
        OrderCondition c{};
        Item every = intItem(interval);
        c.args[4] = keep;
        c.args[5] = &every;
        ASSERT_EQ(rdd::orderCondition(area(), &c), RDD_OK);
        files.push_back("ntxd_eval_name.ntx");
        OrderCreateInfo ci{"ntxd_eval_name", nullptr, "NAME", nullptr, 0};
        ASSERT_EQ(rdd::orderCreate(area(), &ci), RDD_OK);
    };
    build(10);  // asked at record 1 only
    EXPECT_EQ(info(DBOI_KEYCOUNT).v.l, 8);
    build(3);  // asked at records 1, 4 and 7: false at 7
    EXPECT_EQ(info(DBOI_KEYCOUNT).v.l, 0);
    EXPECT_TRUE(walk().empty());
    tempRelease(keep);
    // The condition record was cleared by the creation: a plain build now.
    create("ntxd_eval_amt", "AMT", nullptr, false, true);
    EXPECT_EQ(info(DBOI_KEYCOUNT).v.l, 8);
    files.push_back("ntxd_eval_sorted.dbf");
    Item* keys = tempAlloc();
    makeArray(keys, 1);
    makeString(&arrayItems(keys)[0], "NAME", 4);
    expectLogical(invoke("__DBSORT", {"ntxd_eval_sorted", *keys}), true);
    tempRelease(keys);
    EXPECT_EQ(ntxControllingOrder(area()), 1);
    EXPECT_EQ(walk(), (std::vector<uint32_t>{8, 7, 6, 5, 4, 3, 2, 1}));
    invoke("DBUSEAREA", {true, "DBF", "ntxd_eval_sorted"});
    std::vector<std::string> names;
    for (invoke("DBGOTOP"); !eof(); invoke("DBSKIP")) names.push_back(name());
    EXPECT_EQ(names, (std::vector<std::string>{"E1        ", "E2        ", "E3        ", "E4        ", "E5        ",
                                               "E6        ", "E7        ", "E8        "}));
}

}  // namespace

namespace {

// Damaged index files through the driver: random bytes of a valid
// three-level index changed (header fields, offset tables, counts, child
// offsets), some files cut short. Opening, moving, seeking, counting and
// checking give errors or answers, never a crash, a hang or a read outside
// a page (the sanitizer build watches).
TEST_F(NtxDriver, DamagedIndexFilesGiveErrorsNotCrashes) {
    table("ntxd_fuzz");
    for (int i = 0; i < 3000; ++i) append("F" + std::to_string(i * 7 % 3000), i);
    create("ntxd_fuzz_name", "NAME");
    rdd::orderListClear(area());
    std::vector<uint8_t> good = bytes("ntxd_fuzz_name.ntx");
    ASSERT_GT(good.size(), 60u * 1024);
    std::mt19937 rng(7);
    files.push_back("ntxd_fuzz_bad.ntx");
    int opened = 0;
    for (int round = 0; round < 150; ++round) {
        std::vector<uint8_t> b = good;
        int changes = 1 + int(rng() % 4);
        for (int c = 0; c < changes; ++c) {
            size_t at;
            switch (rng() % 4) {
                case 0: at = rng() % 22; break;                                   // header numbers
                case 1: at = 1024 * (1 + rng() % (b.size() / 1024 - 1)) + rng() % 104;  // count, offsets
                case 2: at = 1024 * (1 + rng() % (b.size() / 1024 - 1)) + 104 + (rng() % 50) * 18 + rng() % 4;  // a child
                default: at = rng() % b.size(); break;
            }
            b[at] = uint8_t(rng());
        }
        if (rng() % 10 == 0) b.resize(b.size() - 1024 * (1 + rng() % 8));
        os::Handle h = fsCreate("ntxd_fuzz_bad.ntx", 0);
        ASSERT_NE(h, os::INVALID);
        fsWriteLong(h, b.data(), uint32_t(b.size()));
        fsClose(h);
        OrderInfo oi{nullptr, "ntxd_fuzz_bad", nullptr};
        rdd::orderListAdd(area(), &oi);
        if (ntxOrderCount(area()) == 1) {
            ++opened;
            rdd::goTop(area());
            for (int i = 0; i < 60 && !eof(); ++i) rdd::skip(area(), 1);
            rdd::goBottom(area());
            for (int i = 0; i < 60 && !bof(); ++i) rdd::skip(area(), -1);
            Item key{};
            makeString(&key, "F15", 3);
            seek(key, true);
            seek(key, false, true);
            info(DBOI_KEYCOUNT);
            info(DBOI_POSITION);
            NtxCheckResult r{};
            ntxVerifyOrder(area(), 1, &r);
            rdd::orderListClear(area());
        }
    }
    EXPECT_GT(opened, 50);  // most damage lies beyond the header checks
    add("ntxd_fuzz_name");
    verifyAll();
}

}  // namespace

namespace {

// A condition set and never used is dropped with the last area that could
// use it: the next creation is a plain one.
TEST_F(NtxDriver, AnUnusedConditionGoesWithTheLastArea) {
    table("ntxd_cond");
    for (int i = 0; i < 4; ++i) append("C" + std::to_string(i), i);
    Item pos = call("POSBLK");
    invoke("ORDCONDSET", {Arg::nil(), pos, Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(), Arg::nil(),
                          Arg::nil(), Arg::nil(), Arg::nil(), true});
    invoke("DBCLOSEAREA");
    collectGarbage(true);
    invoke("DBUSEAREA", {true, "DBFNTX", "ntxd_cond"});
    files.push_back("ntxd_cond_amt.ntx");
    invoke("ORDCREATE", {"ntxd_cond_amt", Arg::nil(), "AMT"});
    EXPECT_EQ(walk(), (std::vector<uint32_t>{1, 2, 3, 4}));  // ascending, record 1 (0) included
    verifyAll();
}

}  // namespace
