#include "vm/stack.h"

#include <cstring>

#include "vm/error.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "base/hooks.h"
#include "platform/environment.h"
#include "vm/object.h"

namespace xb {

VmState vm;
Item* (*&memvarSlotItem)(uint16_t slot) = runtimeHooks.memvarSlotItem;

void stackOverflow() { fatalError(667); }

void stackUnderflow() {
    if (vm.top < vm.stack) vm.top = vm.stack;
    if (vm.frame != vm.stack) {
        FrameSlot* fs = frameSlot(vm.frame);
        fs->type = T_SYMBOL;
        fs->symbolOrLocals = nullptr;
        setFrameProcSymbol(vm.frame, nullptr);
    }
    fatalError(668);
}

void pushDouble(double d, uint16_t width, uint16_t decimals) {
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_DOUBLE;
    t->width = width;
    t->decimals = decimals;
    t->v.d = d;
}

void pushString(const char* bytes, uint32_t n) {
    Item* t = pushSlot();
    itemClear(t);  // rooted as NIL while the string is built
    makeString(t, bytes, n);
}

void pushCString(const char* text) { pushString(text ? text : "", text ? uint32_t(std::strlen(text)) : 0); }

void pushSymbol(GlobalSymbol* sym) {
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_SYMBOL;
    t->v.o.ptr = sym;
}

Item* derefItem(Item* it) {
    while (it->type & M_REF) {
        if (it->type & T_ITEMREF) it = static_cast<Item*>(it->v.o.ptr);
        else it = memvarSlotItem(it->v.area);
    }
    return it;
}

void pushDeref(const Item* it) {
    if (it->type & M_REF) it = derefItem(const_cast<Item*>(it));
    push(it);
}

void storeTop(Item* target) {
    Item* v = vm.top;
    if (target->type & M_REF) target = derefItem(target);
    if ((v->type & T_MEMO) == T_MEMO) v->type = T_STRING;
    if (v->type == T_DOUBLE && settingFixedFormat()) {
        v->width = 0;
        v->decimals = settingDecimals();
    }
    *target = *v;
    --vm.top;
}

Item* tempAlloc() {
    Item* it;
    if (vm.tempFree) {
        it = vm.tempFree;
        vm.tempFree = static_cast<Item*>(it->v.o.ptr);
    } else {
        if (vm.staticsLow <= vm.statics) fatalError(667);
        it = --vm.staticsLow;
    }
    itemClear(it);
    return it;
}

void tempRelease(Item* it) {
    itemClear(it);
    if (it == vm.staticsLow) {
        ++vm.staticsLow;
        return;
    }
    it->v.o.ptr = vm.tempFree;
    vm.tempFree = it;
}

Item* staticsReserve(uint32_t n) {
    if (uint32_t(vm.staticsLow - vm.statics) < n) fatalError(667);
    vm.staticsLow -= n;
    std::memset(vm.staticsLow, 0, n * sizeof(Item));
    return vm.staticsLow;
}

namespace {

// The stack (with its guard slots), the static area and the frame records
// are reserved whole and read as zero; pages take memory only once used, so
// a small program stays small. Sizes are rounded to 64 KiB.
constexpr size_t roundArea(size_t n) { return (n + 0xFFFF) & ~size_t(0xFFFF); }
constexpr size_t STACK_AREA = roundArea((STACK_GUARD_SLOTS + STACK_SLOTS) * sizeof(Item));
constexpr size_t STATICS_AREA = roundArea(STACK_SLOTS * sizeof(Item));
constexpr size_t FRAMES_AREA = roundArea(STACK_SLOTS * sizeof(FrameExtra));

void* reserveOrExhaust(size_t bytes) {
    void* p = os::reserveArea(bytes);
    if (!p) memExhausted();
    return p;
}

}  // namespace

void stackInit() {
    auto* area = static_cast<Item*>(reserveOrExhaust(STACK_AREA));
    vm.stack = area + STACK_GUARD_SLOTS;
    vm.statics = static_cast<Item*>(reserveOrExhaust(STATICS_AREA));
    vm.frameExtra = static_cast<FrameExtra*>(reserveOrExhaust(FRAMES_AREA));
    vm.frameExtra[0].serial = 1;  // the bottom frame never returns
    vm.nextSerial = 2;
    vm.liveFrames = 0;
    vm.top = vm.stack;
    vm.stackEnd = vm.stack + STACK_LIMIT;
    vm.staticsLow = vm.statics + STACK_SLOTS;
    vm.staticsBase = nullptr;  // a fresh static area belongs to no module yet
    vm.tempFree = nullptr;
    vm.frame = vm.stack;
    vm.execDepth = 0;
    vm.callResult = 0;
    vm.frameFlags = 0;
    itemClear(vm.stack);
}

void stackFree() {
    if (vm.stack) os::releaseArea(vm.stack - STACK_GUARD_SLOTS, STACK_AREA);
    os::releaseArea(vm.statics, STATICS_AREA);
    os::releaseArea(vm.frameExtra, FRAMES_AREA);
    vm.stack = vm.statics = vm.top = vm.stackEnd = vm.staticsLow = nullptr;
    vm.staticsBase = nullptr;  // it pointed into the area just freed
    vm.frameExtra = nullptr;
    vm.tempFree = nullptr;
}

}  // namespace xb
