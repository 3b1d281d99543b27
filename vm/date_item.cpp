#include "vm/date_item.h"

#include "base/dates.h"
#include "vm/settings.h"

namespace xb {

void makeDateItem(Item* out, const char* compact, uint32_t n) {
    itemClear(out);
    out->type = T_DATE;
    out->v.l = dateFromCompact(compact, n, settingEpoch());
}

bool dateItemCompact(const Item* it, char* out) {
    if (it->type != T_DATE) return false;
    dateToCompact(it->v.l, out);
    return true;
}

}  // namespace xb
