// External sort; see ext_sort.h.
#include "rdd/ext_sort.h"

#include <cstdio>
#include <cstring>

#include "runtime/files.h"
#include "base/memory.h"

namespace xb {

struct ExtSortHead {
    uint32_t next;  // next record of the run still in the file
    uint32_t end;   // one past the run's last record
    uint8_t* block;
    uint32_t have;  // records in the block
    uint32_t at;    // current record in the block
};

namespace {

constexpr uint32_t kBlockBytes = 1024;

uint8_t* rec(const ExtSort* s, uint8_t* base, uint32_t i) { return base + size_t(i) * s->recordSize; }

// Swaps two records a word at a time (the records are small: a few dozen
// bytes in an index build).
void swapRecords(uint8_t* a, uint8_t* b, uint32_t n) {
    for (; n >= 8; n -= 8, a += 8, b += 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        std::memcpy(a, &y, 8);
        std::memcpy(b, &x, 8);
    }
    for (; n > 0; n--, a++, b++) {
        uint8_t x = *a;
        *a = *b;
        *b = x;
    }
}

// Eight bytes as a number that orders as the bytes do.
uint64_t bigEndian64(const uint8_t* p) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
#else
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | p[i];
    return v;
#endif
}

// memcmp's sign over n bytes, eight at a time: after equal words the last
// word may overlap bytes already found equal, which leaves the order as it
// is. Inlined into the sort loops, where it is most of the work.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline int compareBytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    if (n < 8) {
        for (uint32_t i = 0; i < n; i++)
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        return 0;
    }
    uint32_t i = 0;
    for (;;) {
        uint64_t x = bigEndian64(a + i), y = bigEndian64(b + i);
        if (x != y) return x < y ? -1 : 1;
        if (i + 8 == n) return 0;
        i = i + 16 <= n ? i + 8 : n - 8;
    }
}

// The two ways records compare; the in-memory sort is instantiated for
// each, so that byte keys cost no call through a pointer.
struct ByteOrder {
    uint32_t n;
    int operator()(const uint8_t* a, const uint8_t* b) const { return compareBytes(a, b, n); }
};
struct CallerOrder {
    ExtSortCompare compare;
    void* context;
    int operator()(const uint8_t* a, const uint8_t* b) const { return compare(a, b, context); }
};

int compareRecords(const ExtSort* s, const uint8_t* a, const uint8_t* b) {
    return s->keyBytes ? compareBytes(a, b, s->keyBytes) : s->compare(a, b, s->context);
}

// In-place sort of n records of `size` bytes at base (no memory beyond the
// budget): quicksort with a median-of-three pivot, insertion sort for short
// ranges, and heap sort where the partitions stay unbalanced too long.
template <class Order>
struct RecordSorter {
    uint8_t* base;
    uint32_t size;
    Order order;

    uint8_t* at(uint32_t i) const { return base + size_t(i) * size; }
    void swap(uint32_t i, uint32_t j) const { swapRecords(at(i), at(j), size); }
    int cmp(uint32_t i, uint32_t j) const { return order(at(i), at(j)); }

    void siftDown(uint32_t first, uint32_t i, uint32_t n) const {
        for (;;) {
            uint32_t big = i, l = 2 * i + 1, r = l + 1;
            if (l < n && cmp(first + l, first + big) > 0) big = l;
            if (r < n && cmp(first + r, first + big) > 0) big = r;
            if (big == i) return;
            swap(first + i, first + big);
            i = big;
        }
    }

    void heapSort(uint32_t first, uint32_t n) const {
        for (uint32_t i = n / 2; i-- > 0;) siftDown(first, i, n);
        for (uint32_t end = n; end > 1; end--) {
            swap(first, first + end - 1);
            siftDown(first, 0, end - 1);
        }
    }

    void insertionSort(uint32_t first, uint32_t n) const {
        for (uint32_t i = 1; i < n; i++)
            for (uint32_t j = first + i; j > first && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
    }

    void sort(uint32_t first, uint32_t n, uint32_t depth) const {
        while (n > 16) {
            if (depth-- == 0) {
                heapSort(first, n);
                return;
            }
            uint32_t mid = first + n / 2, last = first + n - 1;
            if (cmp(mid, first) < 0) swap(mid, first);
            if (cmp(last, mid) < 0) {
                swap(last, mid);
                if (cmp(mid, first) < 0) swap(mid, first);
            }
            swap(first, mid);  // the median is the pivot, at first
            // Hoare's partition: both scans stop at keys equal to the
            // pivot, so runs of equal keys split evenly.
            uint32_t i = first, j = first + n;
            for (;;) {
                do i++;
                while (i < first + n && cmp(i, first) < 0);
                do j--;
                while (cmp(j, first) > 0);
                if (i >= j) break;
                swap(i, j);
            }
            swap(first, j);
            uint32_t left = j - first, right = first + n - 1 - j;
            // The smaller side recursively, the larger in this loop.
            if (left < right) {
                sort(first, left, depth);
                first = j + 1;
                n = right;
            } else {
                sort(j + 1, right, depth);
                n = left;
            }
        }
        insertionSort(first, n);
    }
};

template <class Order>
void sortWith(uint8_t* base, uint32_t size, uint32_t n, Order order) {
    uint32_t depth = 0;
    for (uint32_t k = n; k > 1; k >>= 1) depth += 2;
    RecordSorter<Order>{base, size, order}.sort(0, n, depth);
}

void sortMemory(ExtSort* s) {
    if (s->keyBytes) sortWith(s->memory, s->recordSize, s->count, ByteOrder{s->keyBytes});
    else sortWith(s->memory, s->recordSize, s->count, CallerOrder{s->compare, s->context});
}

ExtSortStatus readRecords(ExtSort* s, int file, uint32_t first, uint8_t* to, uint32_t n) {
    // A positioned read: the write position of the file is left alone.
    uint64_t offset = uint64_t(first) * s->recordSize;
    int32_t want = int32_t(n * s->recordSize);
    return fsReadAt(s->temp[file], offset, to, uint32_t(want)) == want ? EXTSORT_OK : EXTSORT_ERR_READ;
}

ExtSortStatus appendRecords(ExtSort* s, int file, const uint8_t* from, uint32_t n) {
    int32_t want = int32_t(n * s->recordSize);
    return fsWriteLong(s->temp[file], from, uint32_t(want)) == want ? EXTSORT_OK : EXTSORT_ERR_WRITE;
}

ExtSortStatus openTemp(ExtSort* s, int file) {
    if (s->temp[file] != os::INVALID) {
        if (fsSeek(s->temp[file], 0, os::FROM_BEGIN) != 0 || fsWrite(s->temp[file], "", 0) != 0)
            return EXTSORT_ERR_WRITE;
        return EXTSORT_OK;
    }
    s->temp[file] = fsCreate(s->tempName[file], 0);
    return s->temp[file] == os::INVALID ? EXTSORT_ERR_CREATE : EXTSORT_OK;
}

void addRun(ExtSort* s, uint32_t start) {
    if (s->runCount + 2 > s->runCapacity) {
        s->runCapacity = s->runCapacity * 2 + 16;
        s->runs = static_cast<uint32_t*>(s->runs ? memRealloc(s->runs, s->runCapacity * 4)
                                                 : memAlloc(s->runCapacity * 4));
    }
    s->runs[s->runCount++] = start;
}

// Sorts the memory buffer and appends it as a run to the current file.
ExtSortStatus spill(ExtSort* s) {
    if (s->total == 0 && s->runCount == 0) {
        ExtSortStatus st = openTemp(s, 0);
        if (st) return st;
        if (fsSeek(s->temp[0], 0, os::FROM_END) != 0) return EXTSORT_ERR_WRITE;
    }
    sortMemory(s);
    addRun(s, s->total);
    ExtSortStatus st = appendRecords(s, 0, s->memory, s->count);
    s->total += s->count;
    s->count = 0;
    return st;
}

uint32_t blockRecords(const ExtSort* s) {
    uint32_t n = kBlockBytes / s->recordSize;
    return n ? n : 1;
}

// How many runs one merge can take: one block per run plus one for output.
uint32_t fanIn(const ExtSort* s) {
    uint32_t blocks = s->budget / (blockRecords(s) * s->recordSize);
    return blocks > 3 ? blocks - 1 : 2;
}

uint32_t blockFor(const ExtSort* s, uint32_t fan) {
    uint32_t n = s->budget / (fan + 1) / s->recordSize;
    return n ? n : 1;
}

ExtSortStatus refill(ExtSort* s, ExtSortHead* h, uint32_t block) {
    uint32_t n = h->end - h->next;
    if (n > block) n = block;
    h->have = n;
    h->at = 0;
    if (n == 0) return EXTSORT_OK;
    ExtSortStatus st = readRecords(s, s->current, h->next, h->block, n);
    h->next += n;
    return st;
}

const uint8_t* current(const ExtSort* s, uint32_t head) {
    const ExtSortHead* h = &s->heads[head];
    return h->block + size_t(h->at) * s->recordSize;
}

// Heap order of two heads: the smaller current record, then the earlier run.
bool before(ExtSort* s, uint32_t a, uint32_t b) {
    int c = compareRecords(s, current(s, a), current(s, b));
    return c < 0 || (c == 0 && a < b);
}

void siftHeap(ExtSort* s, uint32_t i) {
    for (;;) {
        uint32_t best = i, l = 2 * i + 1, r = l + 1;
        if (l < s->heapSize && before(s, s->heap[l], s->heap[best])) best = l;
        if (r < s->heapSize && before(s, s->heap[r], s->heap[best])) best = r;
        if (best == i) return;
        uint32_t tmp = s->heap[i];
        s->heap[i] = s->heap[best];
        s->heap[best] = tmp;
        i = best;
    }
}

// Sets up heads for runs first .. first + n - 1 of the current file.
ExtSortStatus startHeads(ExtSort* s, uint32_t first, uint32_t n, uint32_t block) {
    s->heapSize = 0;
    for (uint32_t i = 0; i < n; i++) {
        ExtSortHead* h = &s->heads[i];
        h->next = s->runs[first + i];
        h->end = s->runs[first + i + 1];
        h->block = rec(s, s->memory, i * block);
        ExtSortStatus st = refill(s, h, block);
        if (st) return st;
        if (h->have) s->heap[s->heapSize++] = i;
    }
    s->headCount = n;
    for (uint32_t i = s->heapSize / 2; i-- > 0;) siftHeap(s, i);
    return EXTSORT_OK;
}

// The head holding the smallest current record, or -1 when all are empty.
int smallest(ExtSort* s) { return s->heapSize ? int(s->heap[0]) : -1; }

// Moves the smallest head (heap[0]) to its next record.
ExtSortStatus advance(ExtSort* s, int head, uint32_t block) {
    ExtSortHead* h = &s->heads[head];
    ExtSortStatus st = EXTSORT_OK;
    if (++h->at >= h->have) st = refill(s, h, block);
    if (st) return st;
    if (h->have == 0) s->heap[0] = s->heap[--s->heapSize];
    siftHeap(s, 0);
    return EXTSORT_OK;
}

// Merges groups of `fan` runs of the current file into the other file
// until at most `fan` runs are left.
ExtSortStatus mergePasses(ExtSort* s, uint32_t fan) {
    uint32_t block = blockFor(s, fan);
    while (s->runCount > fan) {
        int out = 1 - s->current;
        ExtSortStatus st = openTemp(s, out);
        if (st) return st;
        uint8_t* outBlock = rec(s, s->memory, fan * block);
        uint32_t outHave = 0;
        uint32_t* newRuns = static_cast<uint32_t*>(memAlloc((s->runCount / fan + 3) * 4));
        uint32_t newCount = 0, written = 0;
        for (uint32_t first = 0; first < s->runCount && !st; first += fan) {
            uint32_t n = s->runCount - first < fan ? s->runCount - first : fan;
            newRuns[newCount++] = written;
            st = startHeads(s, first, n, block);
            int h;
            while (!st && (h = smallest(s)) >= 0) {
                std::memcpy(rec(s, outBlock, outHave++), rec(s, s->heads[h].block, s->heads[h].at),
                            s->recordSize);
                written++;
                if (outHave == block) {
                    st = appendRecords(s, out, outBlock, outHave);
                    outHave = 0;
                }
                if (!st) st = advance(s, h, block);
            }
            if (!st && outHave) st = appendRecords(s, out, outBlock, outHave);
            outHave = 0;
        }
        newRuns[newCount] = written;
        memFree(s->runs);
        s->runs = newRuns;
        s->runCount = newCount;
        s->runCapacity = s->runCount / fan + 3;
        s->current = out;
        s->passes++;
        if (st) return st;
    }
    return EXTSORT_OK;
}

}  // namespace

ExtSortStatus extSortBegin(ExtSort* s, uint32_t recordSize, uint32_t budget, ExtSortCompare compare,
                      void* context, const char* tempBase) {
    std::memset(s, 0, sizeof *s);
    s->temp[0] = s->temp[1] = os::INVALID;
    s->phase = 3;
    if (recordSize == 0) return EXTSORT_ERR_RECORD;
    if (budget < 4 * recordSize) budget = 4 * recordSize;
    s->recordSize = recordSize;
    s->budget = budget;
    s->compare = compare;
    s->context = context;
    s->capacity = budget / recordSize;
    s->memory = static_cast<uint8_t*>(memAlloc(budget));
    for (int i = 0; i < 2; i++)
        std::snprintf(s->tempName[i], sizeof s->tempName[i], "%s_s%d", tempBase ? tempBase : "xbsort", i);
    s->phase = 0;
    return EXTSORT_OK;
}

ExtSortStatus extSortBeginBytes(ExtSort* s, uint32_t recordSize, uint32_t keyBytes, uint32_t budget,
                                const char* tempBase) {
    ExtSortStatus st = extSortBegin(s, recordSize, budget, nullptr, nullptr, tempBase);
    if (st == EXTSORT_OK && (keyBytes == 0 || keyBytes > recordSize)) {
        extSortEnd(s);
        st = EXTSORT_ERR_RECORD;
    }
    s->keyBytes = keyBytes;
    return st;
}

ExtSortStatus extSortAdd(ExtSort* s, const void* record) {
    if (s->phase != 0) return EXTSORT_ERR_STATE;
    if (s->count == s->capacity) {
        ExtSortStatus st = spill(s);
        if (st) {
            s->phase = 3;
            return st;
        }
    }
    std::memcpy(rec(s, s->memory, s->count++), record, s->recordSize);
    return EXTSORT_OK;
}

ExtSortStatus extSortFinish(ExtSort* s) {
    if (s->phase != 0) return EXTSORT_ERR_STATE;
    if (s->runCount == 0) {
        sortMemory(s);
        s->streamAt = 0;
        s->phase = 1;
        return EXTSORT_OK;
    }
    ExtSortStatus st = s->count ? spill(s) : EXTSORT_OK;
    if (!st) {
        s->runs[s->runCount] = s->total;
        uint32_t fan = fanIn(s);
        s->heads = static_cast<ExtSortHead*>(memAllocZero(fan * sizeof(ExtSortHead)));
        s->heap = static_cast<uint32_t*>(memAllocZero(fan * sizeof(uint32_t)));
        st = mergePasses(s, fan);
        // The final merge shares the budget among the runs that are left.
        if (!st) st = startHeads(s, 0, s->runCount, blockFor(s, s->runCount));
        s->lastHead = -1;
        s->passes++;
    }
    s->phase = st ? 3 : 2;
    return st;
}

ExtSortStatus extSortNext(ExtSort* s, const void** record) {
    *record = nullptr;
    if (s->phase == 1) {
        if (s->streamAt < s->count) *record = rec(s, s->memory, s->streamAt++);
        return EXTSORT_OK;
    }
    if (s->phase != 2) return s->phase == 3 ? EXTSORT_OK : EXTSORT_ERR_STATE;
    uint32_t block = blockFor(s, s->headCount);
    if (s->lastHead >= 0) {
        ExtSortStatus st = advance(s, s->lastHead, block);
        if (st) {
            s->phase = 3;
            return st;
        }
    }
    int h = smallest(s);
    s->lastHead = h;
    if (h >= 0) *record = rec(s, s->heads[h].block, s->heads[h].at);
    return EXTSORT_OK;
}

void extSortEnd(ExtSort* s) {
    for (int i = 0; i < 2; i++) {
        if (s->temp[i] != os::INVALID) {
            fsClose(s->temp[i]);
            fsDelete(s->tempName[i]);
            s->temp[i] = os::INVALID;
        }
    }
    if (s->memory) memFree(s->memory);
    if (s->runs) memFree(s->runs);
    if (s->heads) memFree(s->heads);
    if (s->heap) memFree(s->heap);
    s->heap = nullptr;
    s->memory = nullptr;
    s->runs = nullptr;
    s->heads = nullptr;
    s->phase = 3;
}

}  // namespace xb
