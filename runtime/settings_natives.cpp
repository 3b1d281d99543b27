// SET(specifier, [value], [additive]): reads and changes the settings block.
#include "vm/function.h"
#include "runtime/settings_block.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

const Item* argument(uint32_t n) {
    Item* p = paramItem(n, M_ANY);
    return p ? derefItem(p) : nullptr;
}

}  // namespace

XB_NATIVE(fnSET, "SET") {
    const Item* specifier = argument(1);
    if (!specifier || !isNumeric(specifier)) return 0;
    return applySetting(itemInt(specifier), argument(2), argument(3));
}

}  // namespace xb
