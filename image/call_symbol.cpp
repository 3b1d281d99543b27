// Calling a procedure by its symbol with the command-line parameters: the
// start-up code's way into pcode.
#include "vm/function.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "vm/interp.h"
#include "vm/stack.h"

namespace xb {

// argv[0] is the program; argv[1..argc) are passed as texts, except the
// runtime switches. Exit procedures are called with argc 0.
bool callSymbol(GlobalSymbol* symbol, int argc, const char* const* argv) {
    if (!symbol || !symbol->function) return false;
    pushSymbol(symbol);
    pushNil();
    uint16_t pushed = 0;
    for (int i = 1; i < argc; ++i) {
        if (isRuntimeSwitch(argv[i])) continue;
        pushCString(argv[i]);
        ++pushed;
    }
    callProc(pushed);
    return true;
}

}  // namespace xb
