// The DBFNTX driver: DBF tables with up to 15 index files (one order each)
// per area, one of them (or none) controlling the order in which the area
// moves. It registers the fill of the "DBFNTX" method table, which inherits
// everything from DBF and overrides positioning, write-back (every open
// order kept up to date), pack and zap (the orders rebuilt), relations into
// the area (seeking the child) and the order operations.
//
// The argument records of the order slots are driver-neutral (rdd/orders.h);
// this header offers what the tests and the table tool need to look inside
// an area's orders.
#pragma once
#include <cstdint>

#include "rdd/ntx/ntx_check.h"
#include "rdd/ntx/ntx_tree.h"
#include "rdd/orders.h"
#include "rdd/workarea.h"

namespace xb {

constexpr uint16_t NTX_MAX_ORDERS = 15;

// ---- looking inside an area opened by DBFNTX (tests, the table tool)

uint16_t ntxOrderCount(WorkArea* a);
uint16_t ntxControllingOrder(WorkArea* a);  // 0: natural order
// The engine state of order n (1-based), or null.
NtxTree* ntxOrderTree(WorkArea* a, uint16_t n);
// Checks order n against the area's table: structure (ntxCheck) and every
// record's key (ntxVerifyTable with the order's kind). Moves the area; it
// ends on the phantom record. RDD_OK; RDD_FAILED with the first violation
// in *result (result->status, result->message); or the failure of reading a
// record's key.
RddResult ntxVerifyOrder(WorkArea* a, uint16_t n, NtxCheckResult* result);

}  // namespace xb
