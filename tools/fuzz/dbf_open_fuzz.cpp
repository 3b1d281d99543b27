// libFuzzer target over opening and reading a table with its memo file. The
// input is split in two: its first two bytes give the table file's length,
// the table's bytes follow, the rest is the memo file. Both are written to
// scratch files, the table is opened (exclusive), every field of the first
// records, the phantom record and the last record is decoded and its memo
// measured and read, a lock is tried, and the table is closed. Any crash,
// hang or sanitizer report is a finding; errors are fine.
//
// The scratch files are dbf_open_fuzz.dbf/.dbt in $TMPDIR (or /tmp).
//
// Built as xbfuzz_dbf by the fuzz64 preset (cmake/fuzz.cmake); its seed
// corpus comes from tools/fuzz/make_dbf_seeds.py. The engine needs no
// virtual machine: the Item-making calls of the engine and the runtime's
// hook record get small stand-ins here, so that the collector and the
// interpreter stay out of the build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rdd/dbf/dbf_table.h"
#include "rdd/dbf/dbt.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "base/hooks.h"
#include "vm/object.h"

namespace xb {

// Stand-ins: strings live in one reused buffer, freed at the end of a run.
namespace {
char* scratch = nullptr;
}
char* makeStringBuffer(Item* out, uint32_t n) {
    memFree(scratch);
    scratch = static_cast<char*>(memAlloc(n + 1));
    itemClear(out);
    out->type = T_STRING;
    setStrLength(out, n);
    scratch[n] = 0;
    return scratch;
}
void makeString(Item* out, const char* bytes, uint32_t n) { std::memcpy(makeStringBuffer(out, n), bytes, n); }
[[noreturn]] void fatalError(uint32_t code) {
    std::fprintf(stderr, "fatal %u\n", code);
    __builtin_trap();
}
// Only the memory layer's exhaustion hook is ever called here.
RuntimeHooks runtimeHooks{};

}  // namespace xb

using namespace xb;

namespace {

uint16_t quiet(void*, ErrorDescriptor*) { return 0; }
const DbfEnv env = {quiet, nullptr, dbfPlainOpen, nullptr, nullptr};

void writeFile(const std::string& name, const uint8_t* data, size_t n) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return;
    if (n) std::fwrite(data, 1, n, f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = false;
    static std::string base;
    if (!started) {
        os::heapCreate();
        runtimeHooks.memExhausted = [] { fatalError(5304); };
        const char* dir = std::getenv("TMPDIR");
        base = std::string(dir && *dir ? dir : "/tmp") + "/dbf_open_fuzz";
        started = true;
    }
    if (size < 2) return 0;
    size_t tableLength = size_t(data[0] | data[1] << 8);
    if (tableLength > size - 2) tableLength = size - 2;
    writeFile(base + ".dbf", data + 2, tableLength);
    writeFile(base + ".dbt", data + 2 + tableLength, size - 2 - tableLength);

    uint32_t bof = 0, eof = 0, found = 0;
    DbfTable t;
    dbfTableInit(&t, &env, nullptr, &bof, &eof, &found);
    if (dbfTableOpen(&t, base.c_str(), false, false) == 0) {
        uint32_t last = t.recordCount < 64 ? t.recordCount : 64;
        for (uint32_t n = 0; n <= last + 1; ++n) {
            dbfGoTo(&t, n == last + 1 ? t.recordCount : n);
            for (uint32_t f = 0; f < t.fieldCount; ++f) {
                Item it{};
                dbfGetValue(&t, f, &it);
                uint32_t len = 0;
                dbfGetVarLen(&t, f, &len);
            }
            bool deleted;
            dbfDeleted(&t, &deleted);
        }
        bool locked;
        dbfLock(&t, 3, 0, &locked);
        dbfTableClose(&t);
    }
    memFree(scratch);
    scratch = nullptr;
    fsDelete((base + ".dbf").c_str());
    fsDelete((base + ".dbt").c_str());
    return 0;
}
