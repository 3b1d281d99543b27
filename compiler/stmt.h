// The statement compiler: a file's logical lines in, its module as the pcode
// assembler's text out (procedures, their statements and control structures,
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

// The module as assembler text; srcLines[i] is the source position of text
// line i + 1 (0 for lines that no statement made).
std::string moduleText(const ModuleGen& mod, std::vector<AsmLine>* srcLines);

}  // namespace xb::xbc
