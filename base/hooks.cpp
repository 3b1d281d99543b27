#include "base/hooks.h"

namespace xb {

// The defaults live beside the code they stand in for.
const Function* defaultSendResolver(GlobalSymbol* message, Item* receiver);
uint16_t provisionalLauncher(ErrorDescriptor* d, const Item* operands, uint16_t count);
void stdErrorWrite(const char* text, uint32_t n);
void defaultExitAfterFailure(uint32_t code);
void defaultMemExhausted();

// One definition of the defaults, evaluated at compile time.
constexpr RuntimeHooks startingHooks() {
    RuntimeHooks h{};
    h.sendResolver = defaultSendResolver;
    h.errorLauncher = provisionalLauncher;
    h.errorOutputWrite = stdErrorWrite;
    h.exitAfterFailureHook = defaultExitAfterFailure;
    h.memExhausted = defaultMemExhausted;
    return h;
}

RuntimeHooks defaultHooks() { return startingHooks(); }

// Constant-initialised, so every hook is set before any code runs.
constinit RuntimeHooks runtimeHooks = startingHooks();

}  // namespace xb
