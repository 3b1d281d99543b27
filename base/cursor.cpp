#include "base/cursor.h"

namespace xb {

namespace {
uint16_t row;
uint16_t col;
}  // namespace

uint16_t cursorRow() { return row; }
uint16_t cursorCol() { return col; }
void setCursorPos(uint16_t r, uint16_t c) {
    row = r;
    col = c;
}

}  // namespace xb
