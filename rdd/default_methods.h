// The default layer of the method tables and the helpers drivers share.
//
// defaultMethods() is the table every driver's inheritance starts from: each
// of its 92 slots holds either a generic operation (field bookkeeping,
// skipping with filters, scope evaluation, relations, filters, error raising)
// or the unsupported-operation handler of that slot's signature. No slot is
// null and no slot succeeds without doing its work.
#pragma once
#include <cstdint>

#include "rdd/method_table.h"
#include "rdd/workarea.h"
#include "vm/error.h"

namespace xb {

// The resolved default table (built on first use, never freed).
const RddMethodTable& defaultMethods();
// Writes the default layer into table (all 92 slots).
void fillDefaultMethods(RddMethodTable* table);
// True when the slot of table still holds the unsupported-operation handler.
bool isUnsupportedSlot(const RddMethodTable* table, uint16_t slot);

// Raises generic code 30 ("Operaci\xF3n no soportada") through the area's
// error operation. RDD_UNWIND, or RDD_FAILED when the handler let it pass.
RddResult unsupportedOperation(WorkArea* a);

// For drivers: fills a descriptor (severity 2) and passes it to the area's
// error operation, whose subsystem rule applies (the driver's name). Returns
// the handler's answer: RDD_OK default, RDD_RETRY (only with EF_RETRY in
// flags), RDD_UNWIND.
struct AreaErrorInfo {
    uint16_t genCode;
    uint16_t subCode;
    uint16_t flags;
    uint16_t osCode;
    uint16_t tries;
    const char* fileName;
    const char* operation;
};
RddResult raiseAreaError(WorkArea* a, const AreaErrorInfo& info);

// Evaluates block with a's area selected (the previous area is selected
// again afterwards), counting a as busy meanwhile. The value is in the
// return Item. Status of the evaluation.
uint16_t evalInArea(WorkArea* a, const Item* block);

// Selects the records of a scope as dbEval does (one record, the next n, the
// rest, or all from the top; while- and for-conditions) and runs action on
// each, with the idle step between records. A while-condition that yields
// anything but a logical true ends the loop. The first non-zero status ends
// it too and is returned.
using RecordAction = RddResult (*)(WorkArea* a, void* context);
RddResult scopeLoop(WorkArea* a, const ScopeInfo* s, RecordAction action, void* context);

// The answers of info operations: out becomes a logical, or an integer of
// width 10.
void setLogical(Item* out, bool value);
void setInteger(Item* out, int32_t value);

// ---- the generic operations, for parent calls and tests
RddResult genericSkip(WorkArea* a, int32_t count);
RddResult genericSkipFilter(WorkArea* a, int32_t direction);
RddResult genericAddField(WorkArea* a, const FieldDefinition* field);
RddResult genericSetFieldExtent(WorkArea* a, uint16_t count);
RddResult genericOpen(WorkArea* a, OpenInfo* info);  // also create
RddResult genericClose(WorkArea* a);
RddResult genericRelease(WorkArea* a);
RddResult genericNewArea(WorkArea* a);
RddResult genericInfo(WorkArea* a, uint16_t code, Item* out);
RddResult genericTransRecord(WorkArea* a, TransferInfo* transfer);
RddResult genericSetFilter(WorkArea* a, const Item* block, const Item* text);
RddResult genericError(WorkArea* a, ErrorDescriptor* d);

}  // namespace xb
