// Environment variables of the process.
#pragma once

namespace xb::os {

// Copies the value of the variable `name` into buf (zero-terminated) and
// returns its length; -1 when the variable is not set or its value does not
// fit in size - 1 bytes (buf then holds an empty text when size > 0).
int environmentVariable(const char* name, char* buf, int size);

}  // namespace xb::os
