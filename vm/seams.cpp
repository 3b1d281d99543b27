#include "vm/seams.h"

#include <cstring>

namespace xb {

Seams currentSeams() {
    Seams s;
    s.hooks = runtimeHooks;
    std::memcpy(s.opcodes, opTable, sizeof s.opcodes);
    return s;
}

void restoreSeams(const Seams& saved) {
    runtimeHooks = saved.hooks;
    std::memcpy(opTable, saved.opcodes, sizeof saved.opcodes);
}

}  // namespace xb
