// Inside the DBFNTX driver: the per-order record, the DBFNTX part of the
// area record and the helpers its two files share (ntx_orders.cpp: the
// order list, creation, rebuild, information; ntx_moves.cpp: positioning,
// keeping the orders up to date, relations, the table operations that
// rebuild). Not for use outside the driver.
//
// Ownership: an NtxOrder is tracked memory owned by its area's part; its
// Items (key and condition blocks, scope values) are static-area
// temporaries released when the order closes. The file handle is the
// order's; the tree is attached to it.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "rdd/dbf/dbf_table.h"
#include "rdd/ntx/ntx_driver.h"
#include "rdd/ntx/ntx_lock.h"
#include "rdd/ntx/ntx_tree.h"
#include "runtime/filenames.h"

namespace xb {

struct NtxOrder {
    char fileName[FILE_NAME_MAX + 1];
    char tag[NTX_TAG_LENGTH + 1];
    os::Handle file;
    bool shared;
    NtxTree tree;
    NtxLock lock;
    bool hasFor;
    bool partial;
    int32_t plainField;  // 0-based field whose bytes are the key, or -1
    Item* keyBlock;      // null when the plain field serves alone
    Item* forBlock;
    // Scopes: the values as given and their key texts.
    Item* scope[2];  // 0 top, 1 bottom
    char scopeKey[2][NTX_MAX_KEY_SIZE + 1];
    uint16_t scopeLength[2];
    bool scopeEmpty;  // top above bottom: nothing is in range
    // The record's keys before its first change (goHot), for goCold.
    char* oldKey;
    bool oldPassed;
    bool oldKnown;
    char* newKey;
};

struct NtxPart {
    uint16_t controlling;  // 1-based; 0: natural order
    uint16_t count;
    NtxOrder* orders[NTX_MAX_ORDERS];
};

extern RddMethodTable ntxParent;  // DBF's resolved table

NtxPart* ntxPart(WorkArea* a);
DbfTable* ntxTable(WorkArea* a);
NtxOrder* ntxControlling(WorkArea* a);

// Raises through the area's error operation with the order's file name.
// The handler's answer (RDD_OK default, RDD_RETRY, RDD_UNWIND).
RddResult ntxRaise(WorkArea* a, uint16_t gen, uint16_t sub, uint16_t flags, const char* file, uint16_t osCode = 0);
// The index lock in shared use (with the refresh after the outermost take);
// RDD_OK, or the status of the lock error. forWrite: the lock is for a change
// (its failure may be defaulted as well as retried).
RddResult ntxLockOrder(WorkArea* a, NtxOrder* o, bool forWrite = false);
// Raises the error of a failed engine status of order o: NTX_ERR_WRITE is
// generic code 24, subcode 1011, with the index's name and the write's OS
// code (112 for a full disk); the rest corruption (32/1012). RDD_FAILED or
// RDD_UNWIND.
RddResult ntxTreeError(WorkArea* a, NtxOrder* o, NtxStatus st);
// Marks every open order's file "not an index" (ntxMarkRebuild) before an
// operation after which the orders must be rebuilt (pack, zap).
RddResult ntxMarkOrders(WorkArea* a);
void ntxUnlockOrder(WorkArea* a, NtxOrder* o);
// The key of the current record in order o (keySize bytes) and whether it
// passes the for-condition. An evaluation failure is internal error 1240,
// a value that cannot be a key 1242 (both fatal).
RddResult ntxRecordKey(WorkArea* a, NtxOrder* o, char* key, bool* passes);
// A value as a search key: the key text and the search length (a shorter
// character value searches over its own length).
void ntxSearchKey(const NtxOrder* o, const Item* value, char* key, uint16_t* length);
// DBF's goTo, leaving the orders' positions alone.
RddResult ntxParentGoTo(WorkArea* a, uint32_t record);
// Rebuilds every open order from the table, then goTop.
RddResult ntxRebuildAll(WorkArea* a);

void fillNtxOrders(RddMethodTable* t);  // ntx_orders.cpp
void fillNtxMoves(RddMethodTable* t);   // ntx_moves.cpp

}  // namespace xb
