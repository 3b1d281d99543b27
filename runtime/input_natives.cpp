// ACCEPT and INPUT: one line from standard input.
//
// __ACCEPT([prompt]): writes the prompt (when it is a text) to standard
// output and returns the line read, without its line end; "" at the end of
// input (also for a process without standard input).
// __INPUT([prompt]): the same line evaluated as an expression (as the &
// operator evaluates text); an empty line gives NIL. The expression's errors
// are raised as the & operator raises them.
#include <string>

#include "vm/function.h"
#include "lib/lib_args.h"
#include "platform/platform.h"
#include "runtime/files.h"
#include "runtime/output.h"
#include "vm/opcodes.h"

namespace xb {

namespace {

// The longest line kept; the rest of a longer one is read and dropped.
constexpr size_t kLineMax = 65536;

void prompt() {
    Item* p = libText(1);
    if (p && strLength(p)) standardOutput(strData(p), strLength(p));
}

std::string readLine() {
    std::string line;
    uint8_t c = 0;
    uint32_t done = 0;
    while (fileSyscalls().readFile(os::stdInput(), &c, 1, &done) && done == 1) {
        if (c == '\n') break;
        if (line.size() < kLineMax) line += char(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

XB_NATIVE(fnACCEPT, "__ACCEPT") {
    prompt();
    std::string line = readLine();
    retString(line.data(), uint32_t(line.size()));
    return 0;
}

XB_NATIVE(fnINPUT, "__INPUT") {
    prompt();
    std::string line = readLine();
    retNil();
    if (line.find_first_not_of(" \t") == std::string::npos) return 0;
    Item* base = vm.top;
    for (;;) {
        pushString(line.data(), uint32_t(line.size()));
        uint16_t r = opTable[OP_MACROEVAL]();
        if (r == 0) {
            retItem(vm.top);
            vm.top = base;
            return 0;
        }
        if (r == ST_UNWIND) {
            vm.top = base;
            return ST_UNWIND;
        }
        ErrorDescriptor d = statusDescriptor(r);
        uint16_t outcome = raiseOperatorError(&d, statusOperandCount(r));
        if (outcome == 1) {
            vm.top = base;
            continue;
        }
        if (outcome == 0 && (d.flags & EF_SUBSTITUTE)) retItem(vm.top);
        vm.top = base;
        return outcome == 0 ? 0 : ST_UNWIND;
    }
}

}  // namespace xb
