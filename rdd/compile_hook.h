// How the database layer reaches the macro compiler: the compile operation
// hands it "{||text}" and expects the codeblock in *out (a static-area
// temporary). The macro compiler installs its entry when it starts; without
// one, every compile fails cleanly (status 2).
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// True with a Codeblock in *out; false when the text does not compile (the
// compiler reports nothing itself: the caller decides).
using BlockCompiler = bool (*)(const char* text, uint32_t length, Item* out);
BlockCompiler blockCompiler();
void setBlockCompiler(BlockCompiler compiler);

}  // namespace xb
