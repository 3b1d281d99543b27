// External sort of fixed-size records within a memory budget: records are
// gathered in memory, each full buffer is sorted and written as a run to a
// temporary file, runs are merged (as many passes as the budget's fan-in
// needs) and the result is streamed back one record at a time. Used to
// build index orders and by the table sort.
//
// Use: extSortBegin, extSortAdd for every record, extSortFinish, then
// extSortNext until it gives null, and always extSortEnd (also after a
// failure). The order is the caller's compare (negative, 0, positive);
// records that compare equal come back in no particular order, so callers
// that need a stable order put a tie-breaker (a record number) in the
// records. extSortBeginBytes orders records by their first keyBytes bytes
// as unsigned bytes (memcmp) instead: the caller lays out a key whose bytes
// sort as wanted (a collation key, a tie-breaker in big-endian order) and
// the sort calls no function per comparison.
//
// Memory: the budget (at least four records) is one block from the tracked
// heap, plus a few words per run. Temporary files: tempBase + "_s0" and
// tempBase + "_s1", created only when the records do not fit in the budget
// and deleted by extSortEnd.
//
// Results: 0, or an internal error number: 4110 (a record size of 0, or
// key bytes of 0 or more than the record),
// 4412 (a temporary file cannot be created), 4413 (writing it failed),
// 4414 (reading it back failed), 4415 (calls out of order).
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace xb {

using ExtSortCompare = int (*)(const void* a, const void* b, void* context);

// The result of a sort call: a type of its own, so that it mixes with no
// other status word. True when the call failed; extSortErrorNumber gives the
// internal error number a caller reports.
struct ExtSortStatus {
    uint16_t code;  // 0, or one of the numbers below
    constexpr explicit operator bool() const { return code != 0; }
    friend constexpr bool operator==(ExtSortStatus a, ExtSortStatus b) { return a.code == b.code; }
    friend constexpr bool operator!=(ExtSortStatus a, ExtSortStatus b) { return a.code != b.code; }
};
constexpr ExtSortStatus EXTSORT_OK{0};
constexpr ExtSortStatus EXTSORT_ERR_RECORD{4110};
constexpr ExtSortStatus EXTSORT_ERR_CREATE{4412};
constexpr ExtSortStatus EXTSORT_ERR_WRITE{4413};
constexpr ExtSortStatus EXTSORT_ERR_READ{4414};
constexpr ExtSortStatus EXTSORT_ERR_STATE{4415};
constexpr uint16_t extSortErrorNumber(ExtSortStatus s) { return s.code; }

struct ExtSortHead;  // one run being merged (ext_sort.cpp)

struct ExtSort {
    uint32_t recordSize;
    uint32_t budget;
    ExtSortCompare compare;
    void* context;
    uint32_t keyBytes;   // nonzero: compare by the first keyBytes bytes (memcmp), not by compare
    uint8_t phase;       // 0 adding, 1 streaming from memory, 2 streaming a merge, 3 done/failed
    uint8_t* memory;     // budget bytes
    uint32_t capacity;   // records that fit in memory
    uint32_t count;      // records in memory
    uint32_t streamAt;   // next record streamed from memory
    uint32_t total;      // records written to runs
    uint32_t* runs;      // run i is records runs[i] .. runs[i + 1] - 1 of the current file
    uint32_t runCount;
    uint32_t runCapacity;
    int current;         // the temporary file holding the runs (0 or 1)
    os::Handle temp[2];
    char tempName[2][272];
    ExtSortHead* heads;  // merge state of the final pass
    uint32_t headCount;
    uint32_t* heap;      // heads that still hold records, smallest current record first
    uint32_t heapSize;
    int lastHead;        // head whose record was handed out last (advanced on the next call)
    uint32_t passes;     // merge passes done (intermediate and final)
};

ExtSortStatus extSortBegin(ExtSort* s, uint32_t recordSize, uint32_t budget, ExtSortCompare compare,
                      void* context, const char* tempBase);
ExtSortStatus extSortBeginBytes(ExtSort* s, uint32_t recordSize, uint32_t keyBytes, uint32_t budget,
                                const char* tempBase);
ExtSortStatus extSortAdd(ExtSort* s, const void* record);
ExtSortStatus extSortFinish(ExtSort* s);
// *record points at the next record (valid until the next call), or is null
// at the end.
ExtSortStatus extSortNext(ExtSort* s, const void** record);
void extSortEnd(ExtSort* s);

}  // namespace xb
