// BEGIN SEQUENCE / BREAK / RECOVER: the sequence stack, its handlers and the
// search for a recovery point during an unwinding.
#include <cstring>

#include "vm/error.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "base/hooks.h"
#include "vm/stack.h"

namespace xb {

void (*&quitHook)() = runtimeHooks.quitHook;

namespace {

constexpr uint32_t MAX_SEQUENCES = 15;  // entries 1..15; entry 0 is never used
constexpr uint32_t MAX_HANDLERS = 8;

struct SequenceEntry {
    uint16_t depth;
    const uint8_t* recovery;
    uint16_t handlerCount;
    SequenceHandler* handlers;
    uint32_t state[4];
};

SequenceEntry sequences[MAX_SEQUENCES + 1];
uint32_t sequenceTop;  // number of open sequences
SequenceHandler handlers[MAX_HANDLERS];
uint32_t handlerCount;

void notify(SequenceEntry& e, int event) {
    for (uint16_t i = 0; i < e.handlerCount; ++i) e.handlers[i](event, e.state);
}

void popEntry() {
    SequenceEntry& e = sequences[sequenceTop--];
    memFree(e.handlers);
    e.handlers = nullptr;
}

}  // namespace

int registerSequenceHandler(SequenceHandler h) {
    if (handlerCount == MAX_HANDLERS) return 1;
    for (uint32_t i = 0; i < handlerCount; ++i)
        if (handlers[i] == h) return 0;
    handlers[handlerCount++] = h;
    return 0;
}

void stackSequenceHandler(int event, void* state) {
    auto* saved = static_cast<uint32_t*>(state);
    uint32_t current = slotOf(vm.top);
    if (event == 1) {
        *saved = current;
    } else if (event == 2) {
        if (*saved > current) fatalError(12);
        vm.top = vm.stack + *saved;
    }
}

uint16_t opSeqBegin() {
    uint16_t d = fetchU16();
    if (sequenceTop + 1 > MAX_SEQUENCES) fatalError(10);
    SequenceEntry& e = sequences[++sequenceTop];
    e.depth = vm.execDepth;
    e.recovery = vm.pc + d;
    e.handlerCount = uint16_t(handlerCount);
    e.handlers = static_cast<SequenceHandler*>(memAlloc(uint32_t(sizeof(SequenceHandler) * (handlerCount ? handlerCount : 1))));
    std::memcpy(e.handlers, handlers, sizeof(SequenceHandler) * handlerCount);
    std::memset(e.state, 0, sizeof e.state);
    notify(e, 1);
    return 0;
}

uint16_t opSeqEnd() {
    if (sequenceTop == 0) fatalError(11);
    notify(sequences[sequenceTop], 3);
    popEntry();
    return 0;
}

uint16_t opBreak() {
    *returnItem() = *vm.top;  // RECOVER USING reads it with PUSHRET
    --vm.top;
    return ST_UNWIND;
}

bool findRecoveryPoint(uint16_t depth, const uint8_t** address) {
    if (sequenceTop == 0) return false;
    SequenceEntry& e = sequences[sequenceTop];
    if (e.depth == depth) {
        notify(e, 2);
        *address = e.recovery;
        popEntry();
        return true;
    }
    if (depth < e.depth) {
        // the sequence belongs to an activation that no longer exists
        if (quitHook) quitHook();
        exitAfterFailure(1);
    }
    return false;
}

void resetSequences() {
    while (sequenceTop) popEntry();
}

uint32_t sequenceDepth() { return sequenceTop; }

XB_OPCODE(SEQBEGIN) { return opSeqBegin(); }
XB_OPCODE(SEQEND) { return opSeqEnd(); }
XB_OPCODE(BREAK) { return opBreak(); }

}  // namespace xb
