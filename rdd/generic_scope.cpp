// Generic scope operations: evaluating a block over the records of a scope,
// copying records into another area, evaluating a block in an area, and
// compiling an expression text into a block.
#include <cstring>

#include "macro/run.h"
#include "rdd/default_methods.h"
#include "rdd/generic.h"
#include "vm/error.h"
#include "vm/fields.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/normalize.h"
#include "vm/stack.h"

namespace xb {

namespace {

bool isBlock(const Item* it) { return it && (it->type & T_BLOCK); }
bool isTrue(const Item* it) { return it && it->type == T_LOGICAL && it->v.l; }

RddResult evalAction(WorkArea* a, void* context) {
    return rdd::evalBlock(a, static_cast<const ScopeInfo*>(context)->action);
}

RddResult transferAction(WorkArea* a, void* context) {
    return rdd::transRecord(a, static_cast<TransferInfo*>(context));
}

RddResult genericDbEval(WorkArea* a, const ScopeInfo* scope) {
    if (!isBlock(scope->action)) return RDD_OK;
    ScopeInfo copy = *scope;
    return scopeLoop(a, &copy, evalAction, &copy);
}

RddResult genericTrans(WorkArea* a, TransferInfo* t) {
    if (!t->destination) return RDD_FAILED;
    return scopeLoop(a, &t->scope, transferAction, t);
}

RddResult genericEvalBlock(WorkArea* a, const Item* block) {
    RddResult r = rddFromStatus(evalInArea(a, block));
    if (!a->result) return r;
    if (r) {
        itemClear(a->result);
        return r;
    }
    *a->result = *returnItem();
    if ((a->result->type & M_NUMERIC) && a->result->width == 0) normalizeNumeric(a->result);
    return RDD_OK;
}

constexpr uint32_t COMPILE_TEXT_MAX = 256;
// The compile operation's failure: the text is no expression (or the area
// has no result item to take the block).
constexpr RddResult COMPILE_FAILED{2};

// "{||" text "}" goes to the macro compiler; the block lands in the result.
RddResult genericCompile(WorkArea* a, const char* text) {
    if (!text) fatalError(1254);
    size_t n = std::strlen(text);
    if (n > COMPILE_TEXT_MAX) fatalError(1255);
    static char buffer[COMPILE_TEXT_MAX + 8];
    std::memcpy(buffer, "{||", 3);
    std::memcpy(buffer + 3, text, n);
    buffer[3 + n] = '}';
    buffer[4 + n] = 0;
    if (!a->result) return COMPILE_FAILED;
    // Compiling "{||text}" and running it leaves one Item: the block, or
    // the failure's status.
    pushString(buffer, uint32_t(n + 4));
    uint16_t r = macroRun(false);
    bool ok = r == 0 && (vm.top->type & T_BLOCK);
    if (ok) *a->result = *vm.top;
    pop();
    return ok ? RDD_OK : COMPILE_FAILED;
}

}  // namespace

RddResult scopeLoop(WorkArea* a, const ScopeInfo* s, RecordAction action, void* context) {
    int32_t limit = -1;  // no limit
    RddResult r = RDD_OK;
    if (s->record && isNumeric(s->record)) {
        if ((r = rdd::goTo(a, uint32_t(itemInt(s->record))))) return r;
        limit = 1;
    } else if (s->next && isNumeric(s->next)) {
        limit = itemInt(s->next);
        if (limit <= 0) return RDD_OK;
    } else if (!isBlock(s->whileCondition) && !isTrue(s->rest)) {
        if ((r = rdd::goTop(a))) return r;
    }
    for (;;) {
        uint16_t eof = 0;
        if ((r = rdd::eof(a, &eof))) return r;
        if (eof) return RDD_OK;
        if (isBlock(s->whileCondition)) {
            if ((r = rdd::evalBlock(a, s->whileCondition))) return r;
            if (!isTrue(a->result)) return RDD_OK;
        }
        bool selected = true;
        if (isBlock(s->forCondition)) {
            if ((r = rdd::evalBlock(a, s->forCondition))) return r;
            selected = isTrue(a->result);
        }
        if (selected && (r = action(a, context))) return r;
        if (limit > 0 && --limit == 0) return RDD_OK;
        if (idleServices) idleServices();
        if ((r = rdd::skip(a, 1))) return r;
    }
}


// Append in the destination, copy each field pair through the field values,
// and carry the deletion mark over.
RddResult genericTransRecord(WorkArea* a, TransferInfo* t) {
    WorkArea* to = t->destination;
    if (!to) return RDD_FAILED;
    if (RddResult r = rdd::append(to, 1)) return r;
    for (uint16_t i = 0; i < t->pairCount; ++i) {
        const FieldPair& p = t->pairs[i];
        if (p.source >= a->fieldCount || p.destination >= to->fieldCount) return RDD_FAILED;
        const FieldDescriptor& d = a->fields[p.source];
        if (RddResult r = rddFromStatus(pushField(&d))) return r;
        RddResult r = rdd::putValue(to, p.destination, vm.top);
        pop();
        if (r) return r;
    }
    uint16_t deleted = 0;
    if (RddResult r = rdd::deleted(a, &deleted)) return r;
    return deleted ? rdd::deleteRecord(to) : RDD_OK;
}

void fillGenericScope(RddMethodTable* t) {
    rddSetSlot<RDD_DBEVAL>(t, genericDbEval);
    rddSetSlot<RDD_TRANS>(t, genericTrans);
    rddSetSlot<RDD_TRANSRECORD>(t, genericTransRecord);
    rddSetSlot<RDD_EVALBLOCK>(t, genericEvalBlock);
    rddSetSlot<RDD_COMPILE>(t, genericCompile);
}

}  // namespace xb
