// Constants, locals and plain stack manipulation.
#include <cstring>

#include "vm/interp.h"
#include "vm/literals.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

XB_OPCODE(PUSHNIL) {
    pushNil();
    return 0;
}

XB_OPCODE(PUSHINT) {
    pushLong(fetchI16());
    return 0;
}

XB_OPCODE(PUSHWORD) {
    pushLong(fetchU16());
    return 0;
}

XB_OPCODE(ZERO) {
    pushLong(0);
    return 0;
}

XB_OPCODE(ONE) {
    pushLong(1);
    return 0;
}

XB_OPCODE(TRUE) {
    pushLogical(true);
    return 0;
}

XB_OPCODE(FALSE) {
    pushLogical(false);
    return 0;
}

XB_OPCODE(PUSHDOUBLE) {
    Item* t = pushSlot();
    t->type = T_DOUBLE;
    t->width = fetchU8();
    t->decimals = fetchU8();
    t->pad6 = 0;
    std::memcpy(&t->v.d, fetchBytes(sizeof(double)), sizeof(double));
    return 0;
}

XB_OPCODE(PUSHSTR) {
    uint8_t n = fetchU8();
    const char* bytes = reinterpret_cast<const char*>(fetchBytes(n + 1u));  // the bytes and their 0
    Item* t = pushSlot();
    itemClear(t);
    // macro code is freed with its block, so its literals must be copied
    if (vm.frameFlags & FF_MACRO) makeString(t, bytes, n);
    else pushLiteral(t, bytes, n);
    return 0;
}

XB_OPCODE(PUSHEMPTYSTR) {
    Item* t = pushSlot();
    itemClear(t);
    makeConstString(t, "", 0);
    return 0;
}

XB_OPCODE(PUSHLOCAL) {
    const Item* local = frameLocal(fetchU16());
    if (local->type & M_REF) [[unlikely]] local = derefItem(const_cast<Item*>(local));
    *pushSlot() = *local;
    return 0;
}

XB_OPCODE(POPLOCAL) {
    Item* local = frameLocal(fetchU16());
    if (local->type & M_REF) {
        storeTop(local);
    } else {
        Item* v = vm.top;
        if ((v->type & T_MEMO) == T_MEMO) v->type = T_STRING;
        *local = *v;
        --vm.top;
    }
    return 0;
}

XB_OPCODE(POP) {
    --vm.top;
    return 0;
}

XB_OPCODE(PCOUNT) {
    pushLong(vm.paramCount);
    return 0;
}

XB_OPCODE(DUP) {
    pushDeref(vm.top);
    return 0;
}

}  // namespace xb
