// The interpreter's registers, the evaluation stack and the static area: one
// set per process (the runtime is single-threaded).
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct ModuleSymbol;
struct GlobalSymbol;

constexpr uint32_t STACK_SLOTS = 131170;
constexpr uint32_t STACK_LIMIT = STACK_SLOTS - 1;  // index of the last slot

// frameFlags bits
constexpr uint16_t FF_RUNNING = 0x0001;
constexpr uint16_t FF_MACRO = 0x0004;
constexpr uint16_t FF_PRIVATES = 0x0008;
constexpr uint16_t FF_DEBUG = 0x0010;
constexpr uint16_t FF_QUIET = 0x0040;

constexpr uint16_t ST_UNWIND = 0xFFFF;
// blockFrame / a codeblock's defining frame once the locals are detached.
// Slot numbers are 32-bit: the stack has more slots than 16 bits can name.
constexpr uint32_t DETACHED = 0xFFFFFFFFu;
// blockFrame of a block whose creator returned without detaching its locals:
// the outer-local opcodes raise instead of reaching the slots it left.
constexpr uint32_t FRAME_GONE = 0xFFFFFFFEu;

// The procedure slot of a call, seen as a frame. Bytes 0..1 and 8.. are
// those of an Item: once the locals are detached the slot reads as an Array
// Item whose value is the detached-locals array (the collector marks it so).
//   i386:   0 type, 4 callerFrame, 8 symbolOrLocals, 12 procSymbol.
//   x86_64: 0 type, 4 callerFrame, 8 symbolOrLocals (8 bytes); the procedure
//           symbol does not fit and is kept in the slot's FrameExtra.
// Read and write the procedure symbol through frameProcSymbol/setFrameProcSymbol.
struct FrameSlot {
    uint16_t type;         // Symbol, or Array once the locals were detached
    uint16_t pad;
    uint32_t callerFrame;  // slot number of the caller's procedure slot
    void* symbolOrLocals;  // GlobalSymbol*, or the detached-locals array body
#if !XB_TARGET_64
    GlobalSymbol* procSymbol;
#endif
};
static_assert(sizeof(FrameSlot) == 16 && sizeof(FrameSlot) == sizeof(Item), "a frame lives in one Item");
static_assert(offsetof(FrameSlot, type) == offsetof(Item, type) && offsetof(FrameSlot, callerFrame) == 4 &&
                  offsetof(FrameSlot, symbolOrLocals) == offsetof(Item, v.o.ptr),
              "a detached frame slot reads as an Array Item");
#if !XB_TARGET_64
static_assert(offsetof(FrameSlot, procSymbol) == 12, "i386: procedure symbol in bytes 12..15");
#endif

// What a frame saves while it calls another, kept beside the stack (one entry
// per slot). Not in the procedure slot: the bottom frame is slot 0, the
// return Item, which every callee overwrites.
// `serial` names the call whose procedure slot this is (0 once it returned),
// so a codeblock can tell its creator's frame from a later call that reused
// the slot.
//   i386: 12 bytes. x86_64: 24 bytes, the frame's procedure symbol at 16.
struct FrameExtra {
    uint16_t savedLine;
    uint8_t savedParamCount;
    uint8_t savedLocalCount;
    uint16_t savedFlags;
    uint16_t pad;
    uint32_t serial;
#if XB_TARGET_64
    GlobalSymbol* procSymbol;  // the procedure running in this slot's frame
#endif
};
#if XB_TARGET_64
static_assert(sizeof(FrameExtra) == 24 && offsetof(FrameExtra, procSymbol) == 16, "FrameExtra layout on x86_64");
#else
static_assert(sizeof(FrameExtra) == 12, "FrameExtra layout on i386");
#endif

struct VmState {
    const uint8_t* pc;
    ModuleSymbol* moduleSymbols;
    Item* frame;  // procedure slot of the running call
    uint16_t paramCount;
    uint8_t localCount;
    Item* staticsBase;
    uint32_t blockFrame;
    uint16_t lineNumber;
    uint16_t frameFlags;
    uint16_t callResult;
    uint16_t execDepth;
    uint8_t running;
    ModuleSymbol* callerModule;

    Item* stack;   // STACK_SLOTS Items; slot 0 is the return Item
    Item* top;     // topmost occupied slot
    Item* stackEnd;  // &stack[STACK_LIMIT]

    Item* statics;     // static area, STACK_SLOTS Items, filled from the end down
    Item* staticsLow;  // lowest Item in use (== statics + STACK_SLOTS when empty)
    Item* tempFree;    // free list of returned temporaries (linked through v.o.ptr)

    FrameExtra* frameExtra;  // per stack slot: what a frame there saved while calling
    uint32_t liveFrames;     // calls running (bounds every walk of the caller chain)
    uint32_t nextSerial;     // serial of the next call (never 0)
};

// Slots kept below slot 0: an instruction that pops more than the stack
// holds writes into them, never outside the allocation, and the interpreter
// ends the run (fatal error 668) before anything reads them.
constexpr uint32_t STACK_GUARD_SLOTS = 16;

extern VmState vm;

inline Item* returnItem() { return vm.stack; }
inline uint32_t slotOf(const Item* it) { return uint32_t(it - vm.stack); }
inline FrameSlot* frameSlot(Item* it) { return reinterpret_cast<FrameSlot*>(it); }
inline FrameExtra& frameExtraOf(const Item* frame) { return vm.frameExtra[frame - vm.stack]; }
// The procedure a frame runs (set by the call sequence).
inline GlobalSymbol* frameProcSymbol(Item* frame) {
#if XB_TARGET_64
    return frameExtraOf(frame).procSymbol;
#else
    return frameSlot(frame)->procSymbol;
#endif
}
inline void setFrameProcSymbol(Item* frame, GlobalSymbol* s) {
#if XB_TARGET_64
    frameExtraOf(frame).procSymbol = s;
#else
    frameSlot(frame)->procSymbol = s;
#endif
}
// The flags a frame saved when it made the call that is running above it.
inline uint16_t savedFlagsOf(const Item* frame) { return frameExtraOf(frame).savedFlags; }
inline Item* selfSlot() { return vm.frame + 1; }
inline Item* localItem(uint32_t i) { return vm.frame + 1 + i; }

}  // namespace xb
