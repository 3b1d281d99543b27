// Codeblock creation, the binding of blocks to their creator's locals, and
// the outer-local opcodes a running block uses to reach those locals.
#include <cstring>

#include "base/memory.h"
#include "vm/guard.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"
#include "vm/var_access.h"

namespace xb {

namespace {

constexpr OpErrorWord OUTER_OUT_OF_BOUNDS = errorWord(1132, 0, false);

inline bool runningInBlock() { return (selfSlot()->type & T_BLOCK) != 0; }
inline Codeblock* runningBlock() { return static_cast<Codeblock*>(bodyOf(selfSlot())->data); }

// The detached-locals array in the running frame's procedure slot, or null.
inline ObjectBody* frameLocalsArray() {
    FrameSlot* fs = frameSlot(vm.frame);
    return (fs->type & T_ARRAY) ? static_cast<ObjectBody*>(fs->symbolOrLocals) : nullptr;
}

// Outer local i: the defining frame's local while that frame lives, else
// element i of the detached array (null when i lies outside it).
Item* outerLocal(uint16_t i) {
    if (vm.blockFrame < FRAME_GONE) {
        // the creator's locals lie below the running block's frame
        Item* var = vm.stack + vm.blockFrame + 1 + i;
        return var < vm.frame ? var : nullptr;
    }
    ObjectBody* a = frameLocalsArray();
    if (!a || i == 0 || i > a->length) return nullptr;
    return static_cast<Item*>(a->data) + (i - 1);
}

}  // namespace

// n code → a Codeblock over the code (a copy under macro code, whose pcode
// is freed with its block).
XB_OPCODE(PUSHBLOCK) {
    uint16_t length = fetchU16();
    const uint8_t* code = fetchBytes(length);
    Item* t = pushSlot();
    itemClear(t);
    Codeblock* cb = makeCodeblock(t);
    if (vm.frameFlags & FF_MACRO) {
        auto* copy = static_cast<uint8_t*>(memAlloc(length ? length : 1));
        std::memcpy(copy, code, length);
        cb->code = copy;
        cb->flags = CB_OWNED;
    } else {
        cb->code = code;
        cb->flags = CB_INPLACE;
    }
    if (runningInBlock()) {
        // a block made inside a block uses the locals of the outer block's creator
        cb->definingFrame = vm.blockFrame;
        cb->definingSerial = runningBlock()->definingSerial;
        cb->localCount = runningBlock()->localCount;
    } else {
        cb->definingFrame = slotOf(vm.frame);
        cb->definingSerial = frameExtraOf(vm.frame).serial;
        cb->localCount = vm.localCount;
    }
    cb->moduleSymbols = vm.moduleSymbols;
    cb->staticsBase = vm.staticsBase;
    cb->procSymbol = frameProcSymbol(vm.frame);
    return 0;
}

// block → block, linked to the detached-locals array of the frame it was
// created in (the array is made on first use, one per frame).
XB_OPCODE(DETACHLOCALS) {
    Item* target = vm.frame;
    uint8_t count = vm.localCount;
    if (runningInBlock()) {
        if (vm.blockFrame == FRAME_GONE) return raiseGuardError("DETACHLOCALS", 0, false);
        count = runningBlock()->localCount;
        if (vm.blockFrame != DETACHED) target = vm.stack + vm.blockFrame;
    }
    FrameSlot* fs = frameSlot(target);
    if (!(fs->type & T_ARRAY)) {
        Item* a = pushSlot();  // rooted while it is made
        itemClear(a);
        makeArray(a, count);
        fs->type = T_ARRAY;
        fs->symbolOrLocals = bodyOf(a);
        --vm.top;
    }
    if (vm.top->type & T_BLOCK) {
        Codeblock* cb = static_cast<Codeblock*>(bodyOf(vm.top)->data);
        itemClear(&cb->detachedLocals);
        cb->detachedLocals.type = T_ARRAY;
        cb->detachedLocals.v.o.ptr = fs->symbolOrLocals;
    }
    return 0;
}

XB_OPCODE(PUSHOUTER) {
    uint16_t i = fetchU16();
    if (vm.blockFrame == FRAME_GONE) return raiseGuardError("PUSHOUTER", 0, true);
    Item* var = outerLocal(i);
    if (!var) return opStatus(OUTER_OUT_OF_BOUNDS);
    pushDeref(var);
    return 0;
}

XB_OPCODE(POPOUTER) {
    uint16_t i = fetchU16();
    if (vm.blockFrame == FRAME_GONE) {
        uint16_t r = raiseGuardError("POPOUTER", 0, false);
        if (r == 0) --vm.top;  // the default: the value is dropped
        return r;
    }
    Item* var = outerLocal(i);
    if (!var) return opStatus(OUTER_OUT_OF_BOUNDS);
    popIntoVariable(var);
    return 0;
}

// A reference to the outer local; NIL once the locals are detached.
XB_OPCODE(PUSHOUTERREF) {
    uint16_t i = fetchU16();
    if (vm.blockFrame == FRAME_GONE) return raiseGuardError("PUSHOUTERREF", 0, true);
    if (vm.blockFrame == DETACHED) {
        pushNil();
        return 0;
    }
    Item* var = outerLocal(i);
    if (!var) return opStatus(OUTER_OUT_OF_BOUNDS);
    pushVariableRef(var);
    return 0;
}

}  // namespace xb
