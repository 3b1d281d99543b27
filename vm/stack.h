// Evaluation-stack primitives. Every push is checked against the last slot;
// running past it is fatal error 667.
#pragma once
#include <cstdint>

#include "vm/vm.h"

namespace xb {

[[noreturn]] void stackOverflow();  // fatal error 667
// The running code took more Items than its frame holds: fatal error 668.
// The frame slot may have been overwritten by then, so its procedure fields
// are cleared before the fatal-error line names the running procedure.
[[noreturn]] void stackUnderflow();

// An opcode that takes n Items (its operand says how many) checks first
// that they lie above the running frame's self slot.
inline void needItems(uint32_t n) {
    if (uint32_t(vm.top - vm.frame) <= n) [[unlikely]] stackUnderflow();
}
// Local i of the running frame, which must lie within the frame's Items
// (a local beyond them is fatal error 668 too).
inline Item* frameLocal(uint32_t i) {
    Item* it = localItem(i);
    if (it > vm.top) [[unlikely]] stackUnderflow();
    return it;
}

inline Item* pushSlot() {
    if (vm.top >= vm.stackEnd) stackOverflow();
    return ++vm.top;
}
inline void push(const Item* it) { *pushSlot() = *it; }
inline void pop() { --vm.top; }
inline void pushNil() { itemClear(pushSlot()); }
inline void pushLogical(bool b) {
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_LOGICAL;
    t->v.l = b;
}
inline void pushLong(int32_t v) {
    Item* t = pushSlot();
    itemClear(t);
    t->type = T_INTEGER;
    t->width = 10;
    t->v.l = v;
}
inline void pushInt16(int16_t v) { pushLong(v); }
void pushDouble(double d, uint16_t width, uint16_t decimals);
void pushString(const char* bytes, uint32_t n);
void pushCString(const char* text);
void pushSymbol(GlobalSymbol* sym);

// Pushes the Item, or the Item it refers to when it is a reference.
void pushDeref(const Item* it);
// Resolves references (ItemRef, MemvarRef) to the Item they designate.
Item* derefItem(Item* it);
// Pops the top into target with the store rules: a Memo becomes a String and,
// with fixedFormat on, a Double loses its width and takes the decimals setting.
// A reference in target redirects the store.
void storeTop(Item* target);

// Static area: temporary Items that native code keeps across calls.
Item* tempAlloc();
void tempRelease(Item* it);
// Reserves n Items at the low end (statics of a module); returns the lowest one.
Item* staticsReserve(uint32_t n);

void stackInit();
void stackFree();

// Memvar references are resolved through this hook (the variables layer sets it).
extern Item* (*&memvarSlotItem)(uint16_t slot);

}  // namespace xb
