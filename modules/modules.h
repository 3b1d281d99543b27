// The compiled modules of the image: each one's module symbol table (entry 0
// zero), its pristine image copy, and its procedures' pcode. The byte arrays
// are generated from the modules/*.prg sources (tools/genmodules.sh) and
// checked in; tests keep them in step with the sources and with the
// assembler texts modules/*.xbasm.
#pragma once
#include <cstdint>

#include "vm/function.h"
#include "vm/symbols.h"

namespace xb::modules {

struct CompiledProc {
    const char* name;
    const uint8_t* code;
    uint32_t length;
};

struct CompiledModule {
    const char* name;  // the source's module line
    ModuleSymbol* table;
    const ModuleSymbol* pristine;
    uint32_t count;  // entries including the zero entry
    const CompiledProc* procs;
    uint32_t procCount;
    const Function* functions;  // procCount records, named by the pristine table
};

inline ImageModule imageModule(const CompiledModule& m) {
    return {m.table, m.pristine, m.count, m.functions, m.procCount};
}

// The six standard modules in image order: start-up, error system, database
// start-up, NTX registration, NTX lock errors, DBF registration.
constexpr uint32_t STANDARD_MODULE_COUNT = 6;
const CompiledModule* const* standardModules();

}  // namespace xb::modules
