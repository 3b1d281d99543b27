// An order against its table: the check `xbdb check` makes after the
// structural one (ntx_check.h). The table is seen through a callback that
// gives, for a record number, the record's current key text and whether
// it passes the order's for-condition; the order's entries are walked in
// order.
//
// Rules by kind of order:
//   ordinary  every record that passes is there exactly once, with its
//             current key (byte for byte); no other entry.
//   unique    each entry names a record that passes and has the entry's
//             key (by the collation); no key twice; every key that a
//             passing record has is there.
//   partial   (built from a restricted scope) a subset of the ordinary
//             entries: each entry names a passing record with that key,
//             no record twice.
#pragma once
#include <cstdint>

#include "rdd/ntx/ntx_check.h"

namespace xb {

enum NtxOrderKind : uint8_t { NTX_ORDER_ORDINARY, NTX_ORDER_UNIQUE, NTX_ORDER_PARTIAL };

// Fills key (keySize bytes) and *passes for record (1..record count);
// returns false to stop the check (which then answers NTX_STOPPED),
// keeping its reason in its context.
using NtxRecordKey = bool (*)(uint32_t record, char* key, bool* passes, void* context);

// Optional: whether record is blank (present, every field byte a blank): the
// record an append writes before its values. A blank record that an order
// misses is owed by an append interrupted before its commit, not damage: it
// is counted in result->owed (the first in result->firstOwed).
using NtxBlankRecord = bool (*)(uint32_t record, void* context);

// NTX_OK, a structural status of ntxCheck, NTX_ERR_TABLE with the first
// mismatch named in result->message, or NTX_STOPPED when the callback stopped.
NtxStatus ntxVerifyTable(NtxTree* t, uint32_t recordCount, NtxOrderKind kind, NtxRecordKey recordKey,
                        void* context, NtxCheckResult* result, NtxBlankRecord isBlank = nullptr);

}  // namespace xb
