// The index engine on a million records, through the table engine the way
// the driver builds an order on a plain field: a table of NAME (C 10) and
// NUM (N 10, half of them negative) is appended; then an order is built on
// each field (records read in record order, the field's bytes as the key,
// the external sort in the driver's budget, the bottom-up page writer), 100,000 random
// exact seeks are made on the NAME order, and the NAME order is stepped
// through from its first key to its last. Prints "build_c", "build_n",
// "seek" and "skip" lines (seconds) for bench/ntx_run.sh, and peak memory.
//   xbntxbench [count] [directory]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_clock.h"
#include "platform/platform.h"
#include "rdd/dbf/dbf_table.h"
#include "rdd/ntx/ntx_build.h"
#include "rdd/ntx/ntx_tree.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

int errorsSeen = 0;
uint16_t countError(void*, ErrorDescriptor* d) {
    if (errorsSeen++ < 5) std::fprintf(stderr, "xbntxbench: error %u/%u\n", d->genCode, d->subCode);
    return 0;
}
const DbfEnv env = {countError, nullptr, dbfPlainOpen, nullptr, nullptr};

using bench::residentPeakKb;
using bench::cpuSeconds;
using bench::since;

// The same values bench/ntx_run.sh gives SQLite.
uint32_t nameValue(uint32_t i, uint32_t count) { return uint32_t(uint64_t(i) * 7919 % count); }
int32_t numValue(uint32_t i, uint32_t count) { return int32_t(uint64_t(i) * 104729 % count) - int32_t(count / 2); }

// "k%09u" without the formatter, so that the seeks' time is the engine's
// (SQLite is given the keys ready in a table).
void nameKey(uint32_t n, char* out) {
    out[0] = 'k';
    for (int i = 9; i >= 1; --i, n /= 10) out[i] = char('0' + n % 10);
    out[10] = 0;
}

struct Source {
    DbfTable* table;
    uint32_t field;
    bool numeric;
    uint32_t next;
};

// Answers true to go on, false to stop the build (a table read failed).
bool nextPair(char* key, uint32_t* record, bool* done, void* context) {
    auto* s = static_cast<Source*>(context);
    if (s->next > s->table->recordCount) {
        *done = true;
        return true;
    }
    uint32_t n = s->next++;
    if (dbfGoTo(s->table, n)) return false;
    const uint8_t* image = nullptr;
    if (dbfGetRecord(s->table, &image)) return false;
    std::memcpy(key, image + s->table->fieldOffsets[s->field], 10);
    if (s->numeric) ntxNumericTransform(key, 10);
    *record = n;
    *done = false;
    return true;
}

bool build(DbfTable* table, uint32_t field, const std::string& file, NtxTree* tree, os::Handle* h) {
    *h = fsCreate(file.c_str(), 0);
    if (*h == os::INVALID) return false;
    NtxHeaderInfo info{10, 0, field ? "NUM" : "NAME", nullptr, nullptr, false, false, false};
    if (ntxCreate(tree, *h, info) != NTX_OK) return false;
    Source s{table, field, field == 1, 1};
    return ntxBuildOrder(tree, nextPair, &s, NTX_BUILD_SORT_BUDGET, file.c_str()) == NTX_OK;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    std::string dir = argc > 2 ? argv[2] : ".";
    std::string name = dir + "/ntxbench";
    if (count < 2) return 2;
    os::heapCreate();
    vmStart();

    DbfField fields[2] = {{"NAME", 'C', 10, 0}, {"NUM", 'N', 10, 0}};
    uint32_t bof = 0, eof = 0, found = 0;
    DbfTable t;
    dbfTableInit(&t, &env, nullptr, &bof, &eof, &found);
    if (dbfTableCreate(&t, name.c_str(), fields, 2) != 0) return 1;
    Item* text = tempAlloc();
    char buf[32];
    for (uint32_t i = 1; i <= count; ++i) {
        if (dbfAppend(&t, false) != 0) return 1;
        int n = std::snprintf(buf, sizeof buf, "k%09u", nameValue(i, count));
        makeString(text, buf, uint32_t(n));
        Item v{};
        v.type = T_INTEGER;
        v.v.l = numValue(i, count);
        dbfPutValue(&t, 0, text);
        dbfPutValue(&t, 1, &v);
    }
    if (dbfGoCold(&t) != 0) return 1;

    NtxTree byName{}, byNum{};
    os::Handle hName, hNum;
    double cpu[5];
    cpu[0] = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    if (!build(&t, 0, name + "_c.ntx", &byName, &hName)) return 1;
    double buildC = since(start);
    cpu[1] = cpuSeconds();
    start = std::chrono::steady_clock::now();
    if (!build(&t, 1, name + "_n.ntx", &byNum, &hNum)) return 1;
    double buildN = since(start);
    cpu[2] = cpuSeconds();

    uint32_t seed = 12345, hits = 0;
    start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < 100000; ++i) {
        seed = seed * 1103515245u + 12345u;
        nameKey((seed >> 8) % count, buf);
        uint32_t rec = 0;
        bool hit = false;
        if (ntxSeek(&byName, buf, 10, false, false, &rec, &hit) != NTX_OK) return 1;
        hits += hit;
    }
    double seek = since(start);
    cpu[3] = cpuSeconds();

    start = std::chrono::steady_clock::now();
    uint32_t rec = 0, stepped = 0;
    if (ntxDescend(&byName, NTX_FIRST, nullptr, 0, &rec) != NTX_OK) return 1;
    while (rec) {
        ++stepped;
        if (ntxStep(&byName, 1, &rec) != NTX_OK) return 1;
    }
    double skip = since(start);
    cpu[4] = cpuSeconds();

    ntxDetach(&byName);
    ntxDetach(&byNum);
    fsClose(hName);
    fsClose(hNum);
    dbfTableClose(&t);
    for (const char* ext : {".dbf", "_c.ntx", "_n.ntx"}) fsDelete((name + ext).c_str());
    if (stepped != count || errorsSeen) {
        std::fprintf(stderr, "xbntxbench: %u of %u keys stepped, %d errors\n", stepped, count, errorsSeen);
        return 1;
    }
    std::printf("%u records: build C 10 %.3f s, build N 10 %.3f s, 100000 seeks %.3f s (%u found), "
                "ordered skip %.3f s\n", count, buildC, buildN, seek, hits, skip);
    std::printf("cpu time: build C 10 %.3f s, build N 10 %.3f s, seeks %.3f s, ordered skip %.3f s\n",
                cpu[1] - cpu[0], cpu[2] - cpu[1], cpu[3] - cpu[2], cpu[4] - cpu[3]);
    std::printf("peak memory: tracked heap %d bytes, resident %ld kB\n", memPeak(), residentPeakKb());
    std::printf("build_c %.6f\nbuild_n %.6f\nseek %.6f\nskip %.6f\n", buildC, buildN, seek, skip);
    return 0;
}
