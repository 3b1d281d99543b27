// Runs a program made of modules held in memory: the program's modules first
// in the image, in their order, then the six standard modules; the X
// operands of every module are bound once the module tables are registered.
// The runner (xbrun) and the executables made by the compiler driver
// (xbrunner) start programs this way.
#pragma once
#include <string>
#include <vector>

#include "tools/asm/assembler.h"

namespace xb::xbc {

// Starts the process's run with the modules (which must stay valid to the
// end of the process: the run owns them from here on). commandLine is what
// the program's parameters are split from, its own name first. Never returns.
[[noreturn]] void runModules(const std::vector<pcasm::AsmModule>& modules, const char* commandLine);

// The full name of a file named relative to the current directory (names
// that already start at a root are returned as they are).
std::string absoluteFileName(const std::string& name);

}  // namespace xb::xbc
