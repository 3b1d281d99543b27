// Generic skipping: a step loop over the driver's raw skip, and the filter
// pass that moves on past records hidden by the filter block or, with
// hideDeleted on, by their deletion mark.
#include "rdd/default_methods.h"
#include "rdd/generic.h"
#include "vm/settings.h"
#include "vm/stack.h"

namespace xb {

RddResult genericSkip(WorkArea* a, int32_t count) {
    if (count == 0) return rdd::skipRaw(a, 0);
    a->atTop = 0;
    a->atBottom = 0;
    int32_t direction = count > 0 ? 1 : -1;
    RddResult r = RDD_OK;
    while (count != 0) {
        r = rdd::skipRaw(a, direction);
        if (!r) r = rdd::skipFilter(a, direction);
        count -= direction;
        if (r || a->bof || a->eof) break;
    }
    if (direction < 0) a->eof = 0;
    else a->bof = 0;
    return r;
}

RddResult genericSkipFilter(WorkArea* a, int32_t direction) {
    uint32_t wasTop = a->atTop, wasBottom = a->atBottom;
    RddResult r = RDD_OK;
    while (!a->bof && !a->eof) {
        bool hidden = false;
        if (a->filterBlock) {
            if ((r = rddFromStatus(evalInArea(a, a->filterBlock)))) break;
            const Item* v = returnItem();
            hidden = v->type == T_LOGICAL && !v->v.l;  // anything but false lets it through
        }
        if (!hidden && settingHideDeleted()) {
            uint16_t deleted = 0;
            if ((r = rdd::deleted(a, &deleted))) break;
            hidden = deleted != 0;
        }
        if (!hidden) break;
        if ((r = rdd::skipRaw(a, direction))) break;
    }
    if (r) return r;
    if (wasTop && a->eof) {
        a->bof = 1;  // nothing visible from the top
    } else if (wasBottom && a->bof) {
        a->eof = 1;
    } else if (a->bof && direction < 0) {
        // back past the first visible record: stay on it, with bof set
        r = rdd::goTop(a);
        a->bof = 1;
        a->eof = 0;
    }
    return r;
}

void fillGenericSkip(RddMethodTable* t) {
    rddSetSlot<RDD_SKIP>(t, genericSkip);
    rddSetSlot<RDD_SKIPFILTER>(t, genericSkipFilter);
}

}  // namespace xb
