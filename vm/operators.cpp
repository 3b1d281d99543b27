// Numeric coercion, the relational string comparison and the on-the-spot
// raise used by the operator handlers.
#include "vm/operators.h"

#include <cstring>

#include "base/casemap.h"
#include "vm/error.h"
#include "vm/settings.h"
#include "vm/vm.h"

namespace xb {

namespace {

inline bool isNumberOrDate(uint16_t type) { return type == T_INTEGER || type == T_DOUBLE || type == T_DATE; }

inline void toDouble(Item* it) {
    if (it->type == T_DOUBLE) return;
    // Integer and Date keep their 32-bit value in v.l
    setDouble(it, double(it->v.l), it->width, 0);
}

}  // namespace

bool coerceNumeric(Item* a, Item* b) {
    if (!isNumberOrDate(a->type) || !isNumberOrDate(b->type)) return false;
    toDouble(a);
    toDouble(b);
    return true;
}

int compareStringBytes(const char* a, uint32_t la, const char* b, uint32_t lb, int mode, bool exact) {
    uint32_t m = la < lb ? la : lb;
    if (m == 0) {
        if (la == lb) return 0;
        if (mode != 0) return lb == 0 ? 0 : -1;
        return la > lb ? 1 : -1;
    }
    if (mode != 0) {
        int c = collateCompare(a, b, m, m);
        if (c != 0) return c;
        // an equal prefix: the right operand being a prefix of the left one
        // is equality unless exactCompare is on
        if (!exact) return la >= lb ? 0 : -1;
    } else {
        int c = std::memcmp(a, b, m);
        if (c != 0) return c > 0 ? 1 : -1;
    }
    if (la == lb) return 0;
    return la > lb ? 1 : -1;
}

int compareStrings(int mode) {
    const Item* a = vm.top - 1;
    const Item* b = vm.top;
    return compareStringBytes(strData(a), strLength(a), strData(b), strLength(b), mode, settingExactCompare());
}

uint16_t raiseHandlerError(OpErrorWord word) {
    // while TYPE traps errors nothing is raised: the activation unwinds
    if (vm.frameFlags & FF_QUIET) return ST_UNWIND;
    ErrorDescriptor d = statusDescriptor(opStatus(word));
    return raiseOperatorError(&d, statusOperandCount(opStatus(word)));
}

}  // namespace xb
