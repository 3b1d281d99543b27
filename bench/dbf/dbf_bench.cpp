// The table driver's storage engine timed on a million records: append them
// (C 20, N 10.2, D, L, M with a short memo in every tenth record) into a new
// table, close it, open it again and read every field of every record.
// Prints "append S" and "scan S" lines for bench/dbf_run.sh, and the peak
// memory: the tracked heap's peak and the process's resident peak.
//   xbdbfbench [count] [directory]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_clock.h"
#include "base/dates.h"
#include "platform/platform.h"
#include "rdd/dbf/dbf_table.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/vm_init.h"

using namespace xb;

namespace {

int errorsSeen = 0;
uint16_t countError(void*, ErrorDescriptor* d) {
    if (errorsSeen++ < 5) std::fprintf(stderr, "xbdbfbench: error %u/%u\n", d->genCode, d->subCode);
    return 0;
}
const DbfEnv env = {countError, nullptr, dbfPlainOpen, nullptr, nullptr};

// The texts handed to the engine while appending: one string per length,
// its bytes rewritten for each record (the engine copies them into the
// record or the memo file), so that the harness itself leaves no garbage
// behind and the memory measured is the engine's and the scan's.
struct TextSlots {
    Item* byLength[64];
};
const Item* textOf(TextSlots* s, const char* bytes, uint32_t n) {
    if (!s->byLength[n]) {
        s->byLength[n] = tempAlloc();  // rooted while the collector may run
        makeStringBuffer(s->byLength[n], n);
    }
    std::memcpy(const_cast<char*>(strData(s->byLength[n])), bytes, n);
    return s->byLength[n];
}

using bench::residentPeakKb;
using bench::cpuSeconds;
using bench::since;

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    std::string dir = argc > 2 ? argv[2] : ".";
    std::string name = dir + "/bench";
    os::heapCreate();
    vmStart();

    DbfField fields[5] = {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"WHEN", 'D', 8, 0}, {"OK", 'L', 1, 0},
                          {"NOTES", 'M', 10, 0}};
    uint32_t bof = 0, eof = 0, found = 0;
    DbfTable t;
    dbfTableInit(&t, &env, nullptr, &bof, &eof, &found);
    if (dbfTableCreate(&t, name.c_str(), fields, 5) != 0) return 1;
    const int32_t day0 = dateFromYmd(2000, 1, 1, 0);
    TextSlots slots{};
    char buf[64];
    double cpu0 = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 1; i <= count; ++i) {
        if (dbfAppend(&t, false) != 0) return 1;
        int n = std::snprintf(buf, sizeof buf, "name %07u", i);
        const Item* name = textOf(&slots, buf, uint32_t(n));
        Item v[3] = {};
        v[0].type = T_DOUBLE;
        v[0].v.d = i * 1.25;
        v[1].type = T_DATE;
        v[1].v.l = day0 + int32_t(i % 3650);
        v[2].type = T_LOGICAL;
        v[2].v.l = i & 1;
        dbfPutValue(&t, 0, name);
        dbfPutValue(&t, 1, &v[0]);
        dbfPutValue(&t, 2, &v[1]);
        dbfPutValue(&t, 3, &v[2]);
        if (i % 10 == 0) {
            n = std::snprintf(buf, sizeof buf, "memo of record %u", i);
            dbfPutValue(&t, 4, textOf(&slots, buf, uint32_t(n)));
        }
    }
    if (dbfTableClose(&t) != 0) return 1;
    double appendSeconds = since(start);
    long appendPeakKb = residentPeakKb();
    double cpu1 = cpuSeconds();

    Item* text = tempAlloc();  // each value read, rooted while the collector may run
    dbfTableInit(&t, &env, nullptr, &bof, &eof, &found);
    if (dbfTableOpen(&t, name.c_str(), false, true) != 0) return 1;
    start = std::chrono::steady_clock::now();
    double sum = 0;
    uint64_t textBytes = 0;
    for (uint32_t i = 1; i <= t.recordCount; ++i) {
        dbfGoTo(&t, i);
        for (uint32_t f = 0; f < 5; ++f) {
            if (dbfGetValue(&t, f, text) != 0) return 1;
            if (isString(text)) textBytes += strLength(text);
            else if (text->type == T_DOUBLE) sum += text->v.d;
            else sum += text->v.l;
        }
    }
    double scanSeconds = since(start);
    double cpu2 = cpuSeconds();
    uint32_t read = t.recordCount;
    dbfTableClose(&t);
    fsDelete((name + ".dbf").c_str());
    fsDelete((name + ".dbt").c_str());
    if (read != count || errorsSeen) {
        std::fprintf(stderr, "xbdbfbench: %u of %u records, %d errors\n", read, count, errorsSeen);
        return 1;
    }
    std::printf("%u records: append %.3f s (%.2f us a record), scan %.3f s (%.2f us a record); %llu text bytes, sum %.0f\n",
                count, appendSeconds, appendSeconds * 1e6 / count, scanSeconds, scanSeconds * 1e6 / count,
                (unsigned long long)textBytes, sum);
    std::printf("cpu time: append %.3f s, scan %.3f s (the close and the open between them counted in)\n", cpu1 - cpu0, cpu2 - cpu1);
    std::printf("peak memory: tracked heap %d bytes, resident %ld kB (%ld kB after the append)\n", memPeak(),
                residentPeakKb(), appendPeakKb);
    std::printf("append %.6f\nscan %.6f\n", appendSeconds, scanSeconds);
    return 0;
}
