// Copying a value made by another runtime built from these sources (a
// library's, or the program's as seen from a library) into this runtime's
// heap. Both runtimes share the Item and heap-object layouts, so the other
// side's memory is read directly; nothing of it is kept.
//
//   NIL, numbers, dates, logicals   copied as they are
//   texts (and memos)               copied into a new text of this heap
//   arrays                          copied element by element, nested arrays
//                                   included; an array met twice (shared or
//                                   cyclic) becomes one array met twice here
//                                   too. No native recursion: any depth.
//   codeblocks, objects (arrays of a class), references, symbols, aliases
//                                   NIL: they name code, variables or
//                                   classes of the other runtime
#pragma once

#include "vm/item.h"

namespace xb {

// out must be a rooted Item of this runtime (a stack slot, the return Item);
// it is overwritten. foreign is only read.
void importItem(Item* out, const Item* foreign);

}  // namespace xb
