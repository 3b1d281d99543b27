// How the shell shows the value of a bare expression: scalars in the form
// `?` prints them (so the output matches a program's), arrays and codeblocks
// in a readable form that `?` leaves empty: {1, "a", {2}}, {|| ...}.
// Inside an array, texts are quoted and numbers trimmed. Nesting deeper than
// 8 levels, or an array that contains itself, shows as {...}.
#pragma once
#include <string>

#include "vm/item.h"

namespace xb::shell {

std::string echoText(const Item* value);

}  // namespace xb::shell
