// How the database layer reaches the macro compiler: the compile operation
// hands it "{||text}" and expects the codeblock in *out (a static-area
// temporary). The entry is installed when the layer starts and the macro
// compiler is built in; without one, every compile fails cleanly (status 2).
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// True with a Codeblock in *out; false when the text does not compile (the
// compiler reports nothing itself: the caller decides).
using BlockCompiler = bool (*)(const char* text, uint32_t length, Item* out);
BlockCompiler blockCompiler();
void setBlockCompiler(BlockCompiler compiler);
// Installs the macro compiler's entry when it is part of the build (the
// database layer's start event calls it); otherwise does nothing.
void installMacroCompiler();

}  // namespace xb
