// Turns an assembled module into C++ source that embeds it: the pcode as byte
// arrays, one Function per procedure, the writable and the pristine module
// table, and a modules::CompiledModule (modules/modules.h) describing them.
// This is how the compiled modules of the image are made from their
// assembler text.
#pragma once
#include <string>

#include "tools/asm/assembler.h"

namespace xb::pcasm {

enum class EmitForm {
    Source,  // a .cpp: internals in an anonymous namespace, `identifier` external
    Header,  // a header: every definition inline, names prefixed with `identifier`
};

// False with *why set when the module cannot be embedded (X operands need
// binding at run time, which an embedded table has no place for) or the
// identifier is not a C++ name.
bool emitModuleSource(const AsmModule& m, const char* identifier, const char* sourceName, EmitForm form,
                      std::string* out, std::string* why);

}  // namespace xb::pcasm
