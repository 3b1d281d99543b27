// The cursor position of a process without a screen: a row and a column that
// SETPOS stores and ROW and COL report. Nothing is drawn and nothing else
// reads them.
#pragma once
#include <cstdint>

namespace xb {

uint16_t cursorRow();
uint16_t cursorCol();
void setCursorPos(uint16_t row, uint16_t col);

}  // namespace xb
