// The list of the runtime's native functions (lib/functions.def) as a
// table, and the reference page made from it (docs/functions.md).
//
// The table is static data; nothing here touches the virtual machine, so
// the page generator (tools/funcdoc_main.cpp) links this file alone.
#pragma once
#include <cstdint>
#include <string>

namespace xb {

struct FunctionEntry {
    const char* name;
    const char* group;  // TEXT, ARRAY, ... (see functions.def)
    const char* arguments;
    const char* result;
    const char* errors;
    const char* summary;
};

// The entries in the order of the list.
const FunctionEntry* functionList(uint32_t* count);
// The entry for name, or null.
const FunctionEntry* findFunctionEntry(const char* name);
// The reference page: one section per group, one table row per function.
std::string functionsMarkdown();

}  // namespace xb
