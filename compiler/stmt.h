// The statement compiler: a file's logical lines in, its module's symbols
// and typed instructions out (procedures, their statements and control structures,
// declarations, the statics initialisation procedure).
#pragma once
#include <string>
#include <vector>

#include "compiler/gen.h"
#include "pp/preprocess.h"

namespace xb::xbc {

// Compiles the lines of one file into mod (symbols, procedures). Errors go
// to mod->diags; returns false when any was reported.
bool compileModule(const std::vector<pp::Line>& lines, ModuleGen* mod);

}  // namespace xb::xbc
