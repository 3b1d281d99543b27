// The runtime's replaceable routines, in one record. A layer that lets a
// later layer (or a test) plug in behaviour does it through a field here;
// each field is also reachable under its own name (a reference into this
// record), so code reads and sets `quitHook` as before. Tests save and
// restore every hook in one step:
//
//   RuntimeHooks saved = runtimeHooks;
//   errorLauncher = myLauncher;  ...
//   runtimeHooks = saved;
//
// A null field means "nothing installed" wherever the user of the field
// says so; the fields with a default start with it (see defaultHooks).
#pragma once
#include <cstdint>

namespace xb {

// The record sits below every layer whose behaviour it carries, so it names
// their types without their headers.
struct Item;
struct GlobalSymbol;
struct Function;
struct ErrorDescriptor;

struct RuntimeHooks {
    // interpreter and calls (vm/)
    const Function* (*sendResolver)(GlobalSymbol* message, Item* receiver);  // class layer
    void (*quitHook)();             // an unwinding met a finished activation
    void (*releasePrivatesHook)();  // variables layer: a returning frame's privates
    void (*gcMarkMemvarRoots)();    // variables layer: collector roots
    const char* (*receiverClassName)(const Item* self);  // class layer, for frame names
    Item* (*memvarSlotItem)(uint16_t slot);              // variables layer: MemvarRef
    void (*idleServices)();                              // the IDLE opcode's step
    // errors and memory (runtime/)
    uint16_t (*errorLauncher)(ErrorDescriptor* d, const Item* operands, uint16_t count);
    void (*errorOutputWrite)(const char* text, uint32_t n);
    void (*exitAfterFailureHook)(uint32_t code);
    void (*memReleaseItemAreas)();
    bool (*memClassSystemStarted)();
    void (*memReportLine)(const char* text);
    void (*memExhausted)();
    // start-up (image/)
    void (*afterSymbolRegistration)();
};

extern RuntimeHooks runtimeHooks;
// The IDLE opcode's step, also run by long loops of native code (database
// scopes, index builds, waits for input); null until the idle tasks start.
extern void (*&idleServices)();
// The record as the process starts.
RuntimeHooks defaultHooks();

}  // namespace xb
