// The runtime's replaceable routines and tunables, in one record. A layer
// that lets a later layer (or a test) plug in behaviour does it through a
// field here, never through a global of its own; each field is also
// reachable under its own name (a reference into this record), so code reads
// and sets `quitHook` as before. Tests save and restore every seam in one
// step (vm/seams.h adds the live opcode table):
//
//   RuntimeHooks saved = runtimeHooks;
//   errorLauncher = myLauncher;  ...
//   runtimeHooks = saved;
//
// A null field means "nothing installed" wherever the user of the field
// says so; the fields with a default start with it (see defaultHooks). The
// fields of the lower file layer and the database layer take null or zero
// as their default, so a program built from a few layers only (the table
// fuzz target) can start from an all-zero record.
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace xb {

// The record sits below every layer whose behaviour it carries, so it names
// their types without their headers.
struct Item;
struct GlobalSymbol;
struct Function;
struct ErrorDescriptor;
struct FieldAccess;

// The system calls the lower file layer (runtime/files.h) makes for reading,
// writing, cutting and locking. Tests replace an entry to make a write or a
// lock fail (or come up short) at a chosen moment; a null entry is the
// platform's own call.
struct FileSyscalls {
    bool (*readFile)(os::Handle h, void* buf, uint32_t n, uint32_t* done);
    bool (*writeFile)(os::Handle h, const void* buf, uint32_t n, uint32_t* done);
    bool (*setEndOfFile)(os::Handle h);
    bool (*lockFile)(os::Handle h, uint32_t offset, uint32_t length);
    bool (*unlockFile)(os::Handle h, uint32_t offset, uint32_t length);
    bool (*readFileAt)(os::Handle h, uint64_t offset, void* buf, uint32_t n, uint32_t* done);
};

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
    // files and settings (runtime/)
    FileSyscalls fileCalls;
    // a separate logical setting changed (first, second specifier, value); null: nobody listens
    void (*separateLogicalNotify)(uint16_t first, uint16_t second, bool on);
    // the database layer (vm/fields.h, rdd/)
    const FieldAccess* fieldAccess;  // the area layer's field table; null: no database layer
    bool (*dbfLockWait)();           // between two tries of a DBF lock, false gives up; null: sleep 1 ms
    uint32_t dbfSortBudget;          // bytes SORT keeps in memory before it spills; 0: 8 MiB
};

extern RuntimeHooks runtimeHooks;
// The IDLE opcode's step, also run by long loops of native code (database
// scopes, index builds, waits for input); null until the idle tasks start.
extern void (*&idleServices)();
// The record as the process starts.
RuntimeHooks defaultHooks();

}  // namespace xb
