// The compile operation's way into the macro compiler: "{||text}" is
// compiled and run, which leaves the codeblock. Built only when the macro
// compiler is part of the tree (the build defines XB_HAVE_MACRO_COMPILER);
// without it no compiler is installed and every compile fails cleanly.
#include "rdd/compile_hook.h"

#ifdef XB_HAVE_MACRO_COMPILER
#include "macro/run.h"
#include "vm/stack.h"

namespace xb {

namespace {

bool compileBlockText(const char* text, uint32_t length, Item* out) {
    pushString(text, length);
    uint16_t r = macroRun(false);  // leaves one Item: the block, or the failure's status
    bool ok = r == 0 && (vm.top->type & T_BLOCK);
    if (ok) *out = *vm.top;
    pop();
    return ok;
}

}  // namespace

void installMacroCompiler() { setBlockCompiler(compileBlockText); }

}  // namespace xb

#else

namespace xb {
void installMacroCompiler() {}
}  // namespace xb

#endif
