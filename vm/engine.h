// The two ways of running pcode, and the pieces of the classic loop the fast
// one shares. Both run the same bytes with the same handlers' semantics; the
// fast engine keeps pc and top in registers, runs the common opcodes inline
// and fuses a few common sequences, and hands every other opcode to its
// handler with the `vm` record brought up to date first. The classic engine
// stays selectable for the differential tests (XB_ENGINE=classic in the
// environment at start-up, or selectEngine).
#pragma once
#include <cstdint>

namespace xb {

enum EngineKind : uint8_t { ENGINE_FAST = 0, ENGINE_CLASSIC = 1 };

// The engine execute() uses from now on.
void selectEngine(EngineKind kind);
EngineKind currentEngine();
// Reads XB_ENGINE ("classic" or "fast") from the environment; start-up.
void selectEngineFromEnvironment();

// Runs the activation execute() has set up (vm.pc at its first opcode, the
// running flag set) until it ends; 0, or the status that ends it unwinding.
uint16_t runClassic();
uint16_t runFast();

// What the classic loop does with a handler's non-zero result: raises the
// error it describes, then retries (vm.pc back at `instruction`), resumes at
// a recovery point, or returns ST_UNWIND. 0 means carry on.
uint16_t handleOpResult(uint16_t r, const uint8_t* instruction);
// The running code took the Items of its frame (fatal 668), unless it is the
// bottom frame with nothing on it.
void checkFrameItems();

// Every change to the dispatch table goes through installOpHandler, which
// counts them here: the fast engine runs an opcode inline only while its
// handler is the one registered at start-up.
extern uint32_t dispatchGeneration;
// The handler registered for op at static-initialisation time.
uint16_t (*registeredOpHandler(uint8_t op))();

// IDLE in the fast engine runs the idle services and tasks at every
// IDLE_INTERVAL-th IDLE (a bounded countdown, shared by all activations).
constexpr uint32_t IDLE_INTERVAL = 16;

}  // namespace xb
