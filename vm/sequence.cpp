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

// The sequence stack and the handlers each new entry copies. resetSequences
// closes every open sequence; the registered handlers stay, as the
// subsystems that registered them at start-up stay.
struct SequenceState {
    SequenceEntry sequences[MAX_SEQUENCES + 1]{};
    uint32_t sequenceTop = 0;  // number of open sequences
    SequenceHandler handlers[MAX_HANDLERS]{};
    uint32_t handlerCount = 0;
};
SequenceState seq;
void notify(SequenceEntry& e, int event) {
    for (uint16_t i = 0; i < e.handlerCount; ++i) e.handlers[i](event, e.state);
}

void popEntry() {
    SequenceEntry& e = seq.sequences[seq.sequenceTop--];
    memFree(e.handlers);
    e.handlers = nullptr;
}

}  // namespace

int registerSequenceHandler(SequenceHandler h) {
    if (seq.handlerCount == MAX_HANDLERS) return 1;
    for (uint32_t i = 0; i < seq.handlerCount; ++i)
        if (seq.handlers[i] == h) return 0;
    seq.handlers[seq.handlerCount++] = h;
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
    if (seq.sequenceTop + 1 > MAX_SEQUENCES) fatalError(10);
    SequenceEntry& e = seq.sequences[++seq.sequenceTop];
    e.depth = vm.execDepth;
    e.recovery = vm.pc + d;
    e.handlerCount = uint16_t(seq.handlerCount);
    e.handlers = static_cast<SequenceHandler*>(memAlloc(uint32_t(sizeof(SequenceHandler) * (seq.handlerCount ? seq.handlerCount : 1))));
    std::memcpy(e.handlers, seq.handlers, sizeof(SequenceHandler) * seq.handlerCount);
    std::memset(e.state, 0, sizeof e.state);
    notify(e, 1);
    return 0;
}

uint16_t opSeqEnd() {
    if (seq.sequenceTop == 0) fatalError(11);
    notify(seq.sequences[seq.sequenceTop], 3);
    popEntry();
    return 0;
}

uint16_t opBreak() {
    *returnItem() = *vm.top;  // RECOVER USING reads it with PUSHRET
    --vm.top;
    return ST_UNWIND;
}

bool findRecoveryPoint(uint16_t depth, const uint8_t** address) {
    if (seq.sequenceTop == 0) return false;
    SequenceEntry& e = seq.sequences[seq.sequenceTop];
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
    while (seq.sequenceTop) popEntry();
}

uint32_t sequenceDepth() { return seq.sequenceTop; }

XB_OPCODE(SEQBEGIN) { return opSeqBegin(); }
XB_OPCODE(SEQEND) { return opSeqEnd(); }
XB_OPCODE(BREAK) { return opBreak(); }

}  // namespace xb
