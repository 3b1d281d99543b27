// The logical operators .NOT., .AND. and .OR. The compiler gives .AND. and
// .OR. short-circuit jumps; these opcodes serve macro-compiled code, which
// evaluates both sides.
#include "vm/operators.h"
#include "vm/stack.h"

namespace xb {

XB_OPCODE(NOT) {
    Item* a = vm.top;
    if (a->type != T_LOGICAL) return opStatus(E_NOT);
    setLogical(a, a->v.l == 0);
    return 0;
}

XB_OPCODE(AND) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (a->type != T_LOGICAL || b->type != T_LOGICAL) return opStatus(E_AND);
    setLogical(a, a->v.l != 0 && b->v.l != 0);
    pop();
    return 0;
}

XB_OPCODE(OR) {
    Item* b = vm.top;
    Item* a = b - 1;
    if (a->type != T_LOGICAL || b->type != T_LOGICAL) return opStatus(E_OR);
    setLogical(a, a->v.l != 0 || b->v.l != 0);
    pop();
    return 0;
}

}  // namespace xb
