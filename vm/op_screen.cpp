// ROW, COL and SETPOS over the stored cursor position.
#include "base/cursor.h"
#include "vm/builtins.h"
#include "vm/stack.h"

namespace xb {

XB_OPCODE(ROW) {
    pushLong(cursorRow());
    return 0;
}

XB_OPCODE(COL) {
    pushLong(cursorCol());
    return 0;
}

// SETPOS(r, c): stores both (each as a 16-bit value) when both are numbers;
// the column is dropped and the row argument is the result. Never fails.
XB_OPCODE(SETPOS) {
    Item* c = vm.top;
    Item* r = c - 1;
    if (isNumeric(r) && isNumeric(c))
        setCursorPos(uint16_t(doubleToInt(numericValue(r))), uint16_t(doubleToInt(numericValue(c))));
    pop();
    return 0;
}

}  // namespace xb
