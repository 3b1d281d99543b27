// Fault injection through the file layer's syscall table: every operation
// that changes a table or its orders (append, key change, page split, root
// split, memo append and rewrite, pack, rebuild), in shared and exclusive
// use, interrupted at every write it makes, by a kill or by a full disk.
//
// A kill at write N is a snapshot of the files taken just before write N
// (a killed process writes nothing more, and what it wrote is in the
// files): the process carries on undisturbed, and the snapshot is then
// opened fresh. A full disk fails write N and every later write with the
// operating system's "disk full" (112) and nothing written; the process
// sees the errors, closes its files, and the files are opened again.
//
// After each, the crash rule is checked on the files: the table opens;
// every committed record has its values and memo; each of its keys is
// found by a seek and leads to it, and is in the order once; no entry
// leads to a record holding another key; the orders pass the structural
// check and the table check `xbdb check` makes. Only the records an
// operation was changing when it was interrupted may differ (old or new
// values, one stale or missing entry per order), and an order marked by an
// interrupted rebuild or pack may refuse to open.
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "rdd/areas.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/dbf/dbf_format.h"
#include "rdd/ntx/ntx_check.h"
#include "rdd/ntx/ntx_driver.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using test::invoke;
using test::textOf;

namespace {

enum class Fault { None, Kill, Full };

// The live files and the names of their snapshots.
const char* const kLive[] = {"crh.dbf", "crh.dbt", "crh_n.ntx", "crh_a.ntx"};
const char* const kSnap[] = {"crk.dbf", "crk.dbt", "crk_n.ntx", "crk_a.ntx"};
constexpr int kFiles = 4;
constexpr uint16_t kNameLength = 40;  // key size 40: 18 keys a page, splits come early

struct Injection {
    Fault fault = Fault::None;
    uint32_t at = 0;       // the write that is interrupted (1-based)
    uint32_t writes = 0;   // writes and cuts counted so far
    bool active = false;
    bool snapped = false;
} inj;

void snapshot() {
    namespace fs = std::filesystem;
    for (int i = 0; i < kFiles; ++i) {
        std::error_code ec;
        fs::remove(kSnap[i], ec);
        if (fs::exists(kLive[i])) fs::copy_file(kLive[i], kSnap[i], ec);
    }
    inj.snapped = true;
}

// Counts a change of a file; true when it must fail (full disk).
bool interrupt() {
    if (!inj.active) return false;
    ++inj.writes;
    if (inj.writes == inj.at && inj.fault == Fault::Kill) snapshot();
    return inj.fault == Fault::Full && inj.writes >= inj.at;
}

bool injectedWrite(os::Handle h, const void* buffer, uint32_t n, uint32_t* done) {
    if (interrupt()) {
        *done = 0;
        os::setLastError(112);
        return false;
    }
    return defaultFileSyscalls().writeFile(h, buffer, n, done);
}

bool injectedCut(os::Handle h) {
    // Cutting frees space: on a full disk it still works, but it is a
    // position at which a process can be killed.
    bool full = interrupt();
    (void)full;
    return defaultFileSyscalls().setEndOfFile(h);
}

struct Rec {
    std::string name;
    double amt = 0;
    std::string note;
    bool deleted = false;
    bool operator==(const Rec& o) const {
        return name == o.name && amt == o.amt && note == o.note && deleted == o.deleted;
    }
};

std::string describe(const Rec& r) {
    char b[64];
    std::snprintf(b, sizeof b, " %.2f ", r.amt);
    return "[" + r.name + b + r.note + (r.deleted ? " *]" : "]");
}

// One operation of an action as it went.
struct OpRecord {
    uint32_t start;            // writes counted before it
    uint32_t end;              // writes counted when it returned
    bool ok;                   // it and its commit returned success
    std::set<uint32_t> touched;  // records it changes (0: all, as pack)
    std::map<uint32_t, Rec> intended;
    bool whole;                // a whole-table operation (pack, rebuild)
    std::vector<Rec> after;    // the model once it is committed
};

class CrashHarness : public test::VmTest {
public:
    std::vector<Rec> model;
    std::vector<OpRecord> ops;
    bool shared = false;
    uint32_t failures = 0;
    uint32_t checks = 0;
    std::string trace;

    std::filesystem::path home, scratchDir;

    void SetUp() override {
        // Thousands of commits: a memory file system where there is one
        // keeps the flushes cheap.
        namespace fs = std::filesystem;
        home = fs::current_path();
        fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        scratchDir = base / ("xbcrash_" + std::to_string(stamp));
        fs::create_directories(scratchDir);
        fs::current_path(scratchDir);
        VmTest::SetUp();
        load("symbol MAIN proc\nproc MAIN\n    ENDPROC\nend\n");
        resetDriverRegistry();
        registerDriver("DBF", 1);
        registerDriver("DBFNTX", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBFNTX");
        answerLogical(false);  // raised errors take their default
    }
    void TearDown() override {
        fileSyscalls() = defaultFileSyscalls();
        inj = Injection{};
        answerUnwind();  // a test that stopped half way may leave a write error behind
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        for (int i = 0; i < kFiles; ++i) {
            fsDelete(kLive[i]);
            fsDelete(kSnap[i]);
        }
        VmTest::TearDown();
        std::filesystem::current_path(home);
        std::error_code ec;
        std::filesystem::remove_all(scratchDir, ec);
    }

    WorkArea* area() { return currentArea(); }

    static std::string nameOf(int i) {
        char b[32];
        std::snprintf(b, sizeof b, "K%05d", i);
        return b;
    }

    // ---- the table, its orders and the operations --------------------

    void createTable() {
        Item* rows = tempAlloc();
        makeArray(rows, 3);
        struct Def {
            const char* name;
            const char* type;
            int length, decimals;
        } defs[] = {{"NAME", "C", kNameLength, 0}, {"AMT", "N", 10, 2}, {"NOTE", "M", 10, 0}};
        for (int i = 0; i < 3; ++i) {
            Item* row = &arrayItems(rows)[i];
            makeArray(row, 4);
            Item* e = arrayItems(row);
            makeString(&e[0], defs[i].name, uint32_t(std::strlen(defs[i].name)));
            makeString(&e[1], defs[i].type, 1);
            e[2] = intItem(defs[i].length);
            e[3] = intItem(defs[i].decimals);
        }
        invoke("DBCREATE", {"crh", *rows});
        tempRelease(rows);
    }
    bool openTable(const char* base, bool inShared) {
        invoke("DBUSEAREA", {true, "DBFNTX", base, test::Arg::nil(), inShared});
        return area() != nullptr && dbfTableOf(area()) != nullptr;
    }
    RddResult addOrder(const char* bag) {
        OrderInfo oi{nullptr, bag, nullptr};
        return rdd::orderListAdd(area(), &oi);
    }
    void createOrder(const char* bag, const char* key) {
        OrderCondition c{};
        ASSERT_EQ(rdd::orderCondition(area(), &c), RDD_OK);
        OrderCreateInfo ci{bag, nullptr, key, nullptr, 0};
        ASSERT_EQ(rdd::orderCreate(area(), &ci), RDD_OK);
    }
    RddResult put(uint16_t field, const Item& v) { return rdd::putValue(area(), field, &v); }
    RddResult putRec(const Rec& r, const Rec* old) {
        Item name{}, note{};
        makeString(&name, r.name.data(), uint32_t(r.name.size()));
        RddResult st = put(0, name);
        if (!st) st = put(1, doubleItem(r.amt));
        if (!st && (!old || old->note != r.note)) {
            makeString(&note, r.note.data(), uint32_t(r.note.size()));
            st = put(2, note);
        }
        return st;
    }
    RddResult lockRecord(uint32_t n) {
        if (!shared) return RDD_OK;
        LockInfo li{n, 2, 0, 0};
        RddResult st = rdd::lock(area(), &li);
        return st ? st : li.result ? RDD_OK : RDD_FAILED;
    }

    // Runs one operation and notes what it did.
    // It succeeded when it and its commit returned 0 and raised nothing.
    void run(std::set<uint32_t> touched, std::map<uint32_t, Rec> intended, bool whole,
             const std::function<RddResult()>& body, const std::function<void()>& apply, bool commit = true) {
        OpRecord op;
        op.start = inj.writes;
        size_t raisedBefore = errors.size();
        RddResult st = body();
        if (!st && commit) st = rdd::flush(area());
        op.end = inj.writes;
        op.ok = !st && errors.size() == raisedBefore;
        op.touched = std::move(touched);
        op.intended = std::move(intended);
        op.whole = whole;
        if (op.ok) apply();
        op.after = model;
        ops.push_back(op);
    }
    void append(int key, const std::string& note = "") {
        Rec r{nameOf(key), key * 1.5 - 20, note, false};
        uint32_t n = uint32_t(model.size() + 1);
        run({n}, {{n, r}}, false, [&] {
            RddResult st = rdd::append(area(), 1);
            return st ? st : putRec(r, nullptr);
        }, [&] { model.push_back(r); });
    }
    void change(uint32_t n, int key, const std::string& note) {
        Rec r = model[n - 1];
        Rec old = r;
        r.name = nameOf(key);
        r.amt = key * 1.5 - 20;
        r.note = note;
        run({n}, {{n, r}}, false, [&] {
            RddResult st = rdd::goTo(area(), n);
            if (!st) st = lockRecord(n);
            return st ? st : putRec(r, &old);
        }, [&] { model[n - 1] = r; });
    }
    void remove(uint32_t n) {
        Rec r = model[n - 1];
        r.deleted = true;
        run({n}, {{n, r}}, false, [&] {
            RddResult st = rdd::goTo(area(), n);
            if (!st) st = lockRecord(n);
            return st ? st : rdd::deleteRecord(area());
        }, [&] { model[n - 1] = r; });
    }
    void pack() {
        run({0}, {}, true, [&] { return rdd::pack(area()); }, [&] {
            std::vector<Rec> kept;
            for (const Rec& r : model)
                if (!r.deleted) kept.push_back(r);
            model = kept;
        });
    }
    void rebuild() {
        run({}, {}, true, [&] { return rdd::orderListRebuild(area()); }, [] {});
    }
    void close() {
        run({}, {}, false, [&] {
            invoke("DBCLOSEAREA");
            return area() != nullptr ? RDD_FAILED : RDD_OK;
        }, [] {}, false);
    }

    // Creates the table with count records (keys 10, 20, ...) and both
    // orders, committed, outside any injection.
    void setup(int count, bool memos) {
        createTable();
        ASSERT_TRUE(openTable("crh", false));
        for (int i = 1; i <= count; ++i) append(i * 10, memos ? "note " + std::to_string(i) : "");
        createOrder("crh_n", "NAME");
        createOrder("crh_a", "AMT");
        invoke("DBCLOSEAREA");
        ASSERT_TRUE(openTable("crh", shared));
        ASSERT_EQ(addOrder("crh_n"), RDD_OK);
        ASSERT_EQ(addOrder("crh_a"), RDD_OK);
        ops.clear();
    }

    // ---- the check ------------------------------------------------------

    Rec readRecord(uint32_t n) {
        Rec r;
        rdd::goTo(area(), n);
        Item v{};
        rdd::getValue(area(), 0, &v);
        r.name = textOf(v);
        while (!r.name.empty() && r.name.back() == ' ') r.name.pop_back();
        rdd::getValue(area(), 1, &v);
        r.amt = (v.type & T_DOUBLE) ? v.v.d : double(v.v.l);
        Item* m = tempAlloc();
        itemClear(m);
        rdd::getValue(area(), 2, m);
        r.note = isString(m) ? textOf(*m) : "";
        tempRelease(m);
        uint16_t del = 0;
        rdd::deleted(area(), &del);
        r.deleted = del != 0;
        return r;
    }
    // The key of record n in order (1 NAME, 2 AMT): the field's bytes.
    std::string recordKey(uint32_t n, int order) {
        rdd::goTo(area(), n);
        uint8_t* image = nullptr;
        if (rdd::getRecord(area(), &image) || !image) return "?";
        const DbfTable* t = dbfTableOf(area());
        uint32_t field = uint32_t(order - 1);
        std::string k(reinterpret_cast<const char*>(image) + t->fieldOffsets[field], t->fields[field].length);
        if (order == 2) ntxNumericTransform(k.data(), uint16_t(k.size()));
        return k;
    }
    static bool marked(const char* file) {
        os::Handle h = fsOpen(file, 0x40);
        if (h == os::INVALID) return false;
        uint8_t sig[2] = {0, 0};
        fsReadLong(h, sig, 2);
        fsClose(h);
        return (sig[0] & 0x06) == 0;
    }

    void fail(const std::string& what) {
        ++failures;
        if (failures <= 8) ADD_FAILURE() << trace << ": " << what;
    }

    struct Collect {
        std::vector<std::pair<std::string, uint32_t>> entries;
    };
    static bool collect(const char* key, uint32_t record, void* context) {
        auto* c = static_cast<Collect*>(context);
        c->entries.emplace_back(std::string(key, kNameLength), record);
        return true;
    }

    // Checks the files named base (after the interrupted action) against
    // the committed model and the operations in flight.
    void check(const char* base, const char* const* bags, const std::vector<Rec>& committed,
               const std::set<uint32_t>& loose, const std::map<uint32_t, std::vector<Rec>>& allowed,
               bool wholeInFlight, bool packInFlight) {
        fileSyscalls() = defaultFileSyscalls();
        inj.active = false;
        errors.clear();
        ++checks;
        if (!openTable(base, false)) {
            fail("the table does not open");
            return;
        }
        uint32_t count = 0;
        rdd::recCount(area(), &count);
        auto isLoose = [&](uint32_t n) { return loose.count(0) || loose.count(n); };
        if (packInFlight) {
            // Records move in place: every live record is still there,
            // perhaps twice, under the old count or the new one.
            std::vector<Rec> seen;
            for (uint32_t n = 1; n <= count; ++n) seen.push_back(readRecord(n));
            for (uint32_t n = 1; n <= committed.size(); ++n) {
                const Rec& r = committed[n - 1];
                if (r.deleted) continue;
                std::vector<Rec> forms{r};
                if (auto it = allowed.find(n); it != allowed.end()) forms = it->second;
                bool there = false;
                for (const Rec& s : seen)
                    for (const Rec& f : forms) there = there || s == f;
                if (!there) fail("a live record is lost by the pack: " + describe(r));
            }
        } else {
            if (count < committed.size()) fail("the table counts fewer records than were committed");
            for (uint32_t n = 1; n <= count; ++n) {
                Rec got = readRecord(n);
                if (n <= committed.size() && got == committed[n - 1]) continue;
                if (isLoose(n)) {
                    auto it = allowed.find(n);
                    bool ok = it == allowed.end();
                    // the record's bytes are old or new; its memo, written
                    // before the record, may be new with an old record
                    bool noteOk = false;
                    if (it != allowed.end())
                        for (const Rec& r : it->second) noteOk = noteOk || got.note == r.note;
                    if (it != allowed.end())
                        for (Rec r : it->second) {
                            r.note = got.note;
                            ok = ok || (noteOk && got == r);
                        }
                    // an append in flight may show its blank record
                    ok = ok || (n > committed.size() && got == Rec{"", 0, "", false});
                    if (ok) continue;
                }
                fail("record " + std::to_string(n) + " reads " + describe(got) +
                     (n <= committed.size() ? " instead of " + describe(committed[n - 1]) : " past the committed ones"));
            }
        }
        for (int order = 1; order <= 2; ++order) {
            RddResult st = addOrder(bags[order - 1]);
            uint16_t n = ntxOrderCount(area());
            if (st || n != order) {
                if (!(wholeInFlight && marked((std::string(bags[order - 1]) + ".ntx").c_str())))
                    fail(std::string("order ") + bags[order - 1] + " does not open");
                // keep the numbering: the next order cannot be checked either
                break;
            }
            checkOrder(order, count, committed, isLoose, packInFlight);
        }
        invoke("DBCLOSEAREA");
    }

    void checkOrder(int order, uint32_t count, const std::vector<Rec>& committed,
                    const std::function<bool(uint32_t)>& isLoose, bool packInFlight) {
        std::string tag = "order " + std::to_string(order) + ": ";
        NtxTree* t = ntxOrderTree(area(), uint16_t(order));
        NtxCheckResult cr{};
        Collect c;
        NtxStatus st = ntxCheck(t, &cr, collect, &c);
        if (st) {
            fail(tag + "structure: " + cr.message);
            return;
        }
        std::map<uint32_t, int> times;
        uint16_t keySize = t->keySize;
        for (auto& [key, rec] : c.entries) {
            ++times[rec];
            bool exists = rec >= 1 && rec <= count;
            // An entry past the count is never allowed, not even for the
            // record in flight: the next append takes that number.
            if (!exists) {
                fail(tag + "an entry leads to record " + std::to_string(rec) + " past the table's count");
                continue;
            }
            bool same = recordKey(rec, order) == key.substr(0, keySize);
            if (!same && (packInFlight || !isLoose(rec)))
                fail(tag + "an entry leads to record " + std::to_string(rec) + " holding another key");
        }
        if (packInFlight) {
            NtxCheckResult vr{};
            if (ntxVerifyOrder(area(), uint16_t(order), &vr)) fail(tag + "after a pack: " + vr.message);
            return;
        }
        for (uint32_t n = 1; n <= committed.size() && n <= count; ++n) {
            if (isLoose(n) || committed[n - 1].deleted) continue;
            if (times[n] != 1) fail(tag + "record " + std::to_string(n) + " is in the order " +
                                    std::to_string(times[n]) + " times");
            // a seek of its key leads to it
            Item which = intItem(order);
            OrderInfo oi{&which, nullptr, nullptr};
            rdd::orderListFocus(area(), &oi);
            Item key{};
            if (order == 1) makeString(&key, committed[n - 1].name.data(), uint32_t(committed[n - 1].name.size()));
            else key = doubleItem(committed[n - 1].amt);
            rdd::seek(area(), 0, &key, 0);
            uint16_t found = 0;
            rdd::found(area(), &found);
            Item rn{};
            rdd::recNo(area(), &rn);
            if (!found || uint32_t(rn.v.l) != n)
                fail(tag + "the key of record " + std::to_string(n) + " does not lead to it");
        }
        NtxCheckResult vr{};
        if (ntxVerifyOrder(area(), uint16_t(order), &vr)) {
            unsigned long rec = 0;
            bool named = std::sscanf(vr.message, "record %lu", &rec) == 1;
            if (!named || !isLoose(uint32_t(rec))) fail(tag + "the table check: " + vr.message);
        }
    }

    // ---- driving --------------------------------------------------------

    using Action = std::function<void(CrashHarness&)>;

    // Runs setup and action once with the fault at write `at`, then checks.
    void once(int records, bool memos, const Action& action, Fault fault, uint32_t at) {
        model.clear();
        ops.clear();
        setup(records, memos);
        std::vector<Rec> initial = model;
        inj = Injection{fault, at, 0, true, false};
        fileSyscalls().writeFile = injectedWrite;
        fileSyscalls().setEndOfFile = injectedCut;
        // A write error cannot be defaulted: the program's handler breaks
        // out of the operation, as a program's own handler would.
        answerUnwind();
        action(*this);
        if (area()) close();
        // A close that failed keeps the area (its files are closed): the
        // second close releases it.
        if (area()) invoke("DBCLOSEAREA");
        EXPECT_EQ(area(), nullptr) << trace;
        answerLogical(false);
        fileSyscalls() = defaultFileSyscalls();
        inj.active = false;
        if (fault == Fault::None) return;
        // what was committed, and what was in flight, at the fault
        std::vector<Rec> committed = initial;
        std::set<uint32_t> loose;
        std::map<uint32_t, std::vector<Rec>> allowed;
        bool whole = false, packing = false;
        for (const OpRecord& op : ops) {
            bool done = fault == Fault::Kill ? op.ok && op.end < at : op.ok;
            bool started = fault == Fault::Kill ? op.start < at : true;
            if (done) {
                committed = op.after;
                continue;
            }
            if (!started) continue;
            loose.insert(op.touched.begin(), op.touched.end());
            for (auto& [n, r] : op.intended) allowed[n].push_back(r);
            whole = whole || op.whole;
            packing = packing || op.touched.count(0);
        }
        for (auto& [n, v] : allowed)
            if (n <= committed.size()) v.push_back(committed[n - 1]);
        const char* bags[] = {fault == Fault::Kill ? "crk_n" : "crh_n", fault == Fault::Kill ? "crk_a" : "crh_a"};
        if (fault == Fault::Kill && !inj.snapped) return;
        check(fault == Fault::Kill ? "crk" : "crh", bags, committed, loose, allowed, whole, packing);
    }

    // Every write position of the action, killed and failing.
    void everyPosition(int records, bool memos, const Action& action, const char* what) {
        once(records, memos, action, Fault::None, 0);
        uint32_t total = inj.writes;
        ASSERT_GT(total, 0u) << what;
        for (Fault f : {Fault::Kill, Fault::Full}) {
#ifdef _WIN32
            // An exclusive open denies others reading: the snapshot of a
            // kill cannot copy the files while they are open there.
            if (f == Fault::Kill && !shared) {
                checks += total;
                continue;
            }
#endif
            for (uint32_t at = 1; at <= total + 1; ++at) {
                trace = std::string(what) + (shared ? " shared" : " exclusive") +
                        (f == Fault::Kill ? ", killed at write " : ", disk full from write ") + std::to_string(at) +
                        " of " + std::to_string(total);
                once(records, memos, action, f, at);
                if (HasFatalFailure()) return;
            }
        }
        EXPECT_EQ(failures, 0u) << what;
        // every position was checked: the kills left a snapshot, the full
        // disks a table to open
        EXPECT_EQ(checks, 2 * (total + 1) - 1) << what;
        std::printf("  %s%s: %u writes, %u checks\n", what, shared ? " shared" : " exclusive", total, checks);
    }
};

struct Case {
    const char* name;
    int records;
    bool memos;
    bool exclusiveOnly;
    void (*action)(CrashHarness&);
};

class CrashCases : public CrashHarness, public ::testing::WithParamInterface<std::tuple<Case, bool>> {
public:
    static void appends(CrashHarness& h);
    static void keyChanges(CrashHarness& h);
    static void pageSplit(CrashHarness& h);
    static void rootSplit(CrashHarness& h);
    static void memos(CrashHarness& h);
    static void packs(CrashHarness& h);
    static void rebuilds(CrashHarness& h);
};

}  // namespace

// The operations, written as a program would: each change committed.
namespace {
CrashHarness& as(CrashHarness& h) { return h; }
}  // namespace

void CrashCases::appends(CrashHarness& h) {
    for (int k : {15, 55, 5, 1000}) as(h).append(k, k == 55 ? "appended memo" : "");
}
void CrashCases::keyChanges(CrashHarness& h) {
    // 40 keys built bottom-up: full leaves under a root of separators; the
    // changes take keys out of the root and the leaves and put them back
    // elsewhere.
    as(h).change(19, 5, "");
    as(h).change(1, 401, "");
    as(h).change(38, 195, "");
    as(h).remove(7);
}
void CrashCases::pageSplit(CrashHarness& h) {
    // Full leaves: a key into the middle of one splits it under the root.
    for (int k : {101, 102, 103}) as(h).append(k);
}
void CrashCases::rootSplit(CrashHarness& h) {
    // 16 keys in the root leaf: the 19th splits the root.
    for (int k : {1, 2, 3}) as(h).append(k);
}
void CrashCases::memos(CrashHarness& h) {
    as(h).change(2, 20, "short");                        // rewritten in place
    as(h).change(3, 30, std::string(700, 'm'));          // appended
    as(h).change(4, 41, "note 4 and then some more");    // in place, key changed too
    as(h).append(77, std::string(1023, 'x'));            // a memo of two blocks less one byte
}
void CrashCases::packs(CrashHarness& h) {
    as(h).remove(3);
    as(h).remove(9);
    as(h).pack();
}
void CrashCases::rebuilds(CrashHarness& h) { as(h).rebuild(); }

TEST_P(CrashCases, TheCrashRuleHoldsAtEveryWrite) {
    const Case& c = std::get<0>(GetParam());
    shared = std::get<1>(GetParam());
    if (shared && c.exclusiveOnly) GTEST_SKIP() << "pack needs exclusive use";
    everyPosition(c.records, c.memos, c.action, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, CrashCases,
    ::testing::Combine(::testing::Values(Case{"append", 10, false, false, CrashCases::appends},
                                         Case{"key change", 40, false, false, CrashCases::keyChanges},
                                         Case{"page split", 40, false, false, CrashCases::pageSplit},
                                         Case{"root split", 16, false, false, CrashCases::rootSplit},
                                         Case{"memo append and rewrite", 6, true, false, CrashCases::memos},
                                         Case{"pack", 12, true, true, CrashCases::packs},
                                         Case{"rebuild", 30, false, false, CrashCases::rebuilds}),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<Case, bool>>& info) {
        std::string n = std::get<0>(info.param).name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n + (std::get<1>(info.param) ? "_shared" : "_exclusive");
    });
