// SET(specifier, [value], [additive]): reads and changes the settings block.
#include "vm/function.h"
#include "runtime/settings_block.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

XB_NATIVE(fnSET, "SET") {
    const Item* specifier = argumentItem(1);
    if (!specifier || !isNumeric(specifier)) return 0;
    return applySetting(itemInt(specifier), argumentItem(2), argumentItem(3));
}

}  // namespace xb
