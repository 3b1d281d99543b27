// An order against its table; see ntx_verify.h.
#include "rdd/ntx/ntx_verify.h"

#include <cstdio>

#include "base/memory.h"

namespace xb {

namespace {

struct Verify {
    NtxTree* t;
    uint32_t recordCount;
    NtxOrderKind kind;
    NtxRecordKey recordKey;
    NtxBlankRecord isBlank;
    void* context;
    uint32_t owed, firstOwed;
    uint8_t* seen;  // one bit per record
    char* key;      // keySize bytes
    NtxStatus status;
    char message[160];
};

bool mismatch(Verify& v, uint32_t record, const char* what) {
    v.status = NTX_ERR_TABLE;
    std::snprintf(v.message, sizeof v.message, "record %lu: %s", static_cast<unsigned long>(record), what);
    return false;
}

bool visitEntry(const char* key, uint32_t record, void* context) {
    Verify& v = *static_cast<Verify*>(context);
    if (record == 0 || record > v.recordCount) return mismatch(v, record, "entry for a record outside the table");
    uint32_t i = record - 1;
    if (v.seen[i / 8] & (1u << (i % 8))) return mismatch(v, record, "record in the order twice");
    v.seen[i / 8] |= uint8_t(1u << (i % 8));
    bool passes = false;
    if (!v.recordKey(record, v.key, &passes, v.context)) {
        v.status = NTX_STOPPED;
        return false;
    }
    if (!passes) return mismatch(v, record, "entry for a record that fails the for-condition");
    bool same = v.kind == NTX_ORDER_UNIQUE ? ntxCompare(key, v.key, v.t->keySize, false) == 0
                                           : std::memcmp(key, v.key, v.t->keySize) == 0;
    if (!same) return mismatch(v, record, "entry key differs from the record's key");
    return true;
}

// After the walk: what the table has that the order must hold.
NtxStatus checkCoverage(Verify& v) {
    if (v.kind == NTX_ORDER_PARTIAL) return NTX_OK;
    for (uint32_t r = 1; r <= v.recordCount; r++) {
        uint32_t i = r - 1;
        if (v.seen[i / 8] & (1u << (i % 8))) continue;
        bool passes = false;
        if (!v.recordKey(r, v.key, &passes, v.context)) return v.status = NTX_STOPPED;
        if (!passes) continue;
        if (v.isBlank && v.isBlank(r, v.context)) {
            if (v.owed++ == 0) v.firstOwed = r;
            continue;
        }
        if (v.kind == NTX_ORDER_ORDINARY) {
            mismatch(v, r, "record missing from the order");
            return v.status;
        }
        uint32_t found;
        bool equal;
        NtxStatus st = ntxSeek(v.t, v.key, v.t->keySize, false, false, &found, &equal);
        if (st != NTX_OK) return st;
        if (!equal) {
            mismatch(v, r, "the record's key is missing from the unique order");
            return v.status;
        }
    }
    return NTX_OK;
}

}  // namespace

NtxStatus ntxVerifyTable(NtxTree* t, uint32_t recordCount, NtxOrderKind kind, NtxRecordKey recordKey,
                        void* context, NtxCheckResult* result, NtxBlankRecord isBlank) {
    Verify v;
    std::memset(&v, 0, sizeof v);
    v.t = t;
    v.recordCount = recordCount;
    v.kind = kind;
    v.recordKey = recordKey;
    v.isBlank = isBlank;
    v.context = context;
    v.seen = static_cast<uint8_t*>(memAllocZero(recordCount / 8 + 1));
    v.key = static_cast<char*>(memAlloc(t->keySize));
    NtxStatus st = ntxCheck(t, result, visitEntry, &v);
    if (st == NTX_OK && !v.status) st = checkCoverage(v);
    if (st == NTX_OK && v.status) st = v.status;
    result->owed = v.owed;
    result->firstOwed = v.firstOwed;
    if (v.status == NTX_ERR_TABLE) {
        result->status = NTX_ERR_TABLE;
        std::memcpy(result->message, v.message, sizeof result->message);
    }
    memFree(v.seen);
    memFree(v.key);
    return st;
}

}  // namespace xb
