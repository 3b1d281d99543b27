// The error launcher: every raise builds an ErrorObject and evaluates the
// error block with it; the block's value is the answer the raising code
// decides on. Also the error block itself and the network-error flag.
#include "runtime/errorsys.h"

#include <cstdio>
#include <cstring>

#include "lib/classes.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The error system's state; errorSystemStop releases the block and resets
// the record whole.
struct ErrorSystemState {
    Item* errorBlockSlot = nullptr;  // static-area temporary, null when there is no block
    bool inHandler = false;
    bool netErrFlag = false;
};
ErrorSystemState errorSystem;
void writeText(const char* s) { errorOutputWrite(s, uint32_t(std::strlen(s))); }

[[noreturn]] void noErrorBlock() {
    char where[160];
    if (vm.stack && currentProcedureLocation(where, sizeof where)) {
        char line[224];
        std::snprintf(line, sizeof line, "\r\nNo ERRORBLOCK() for error at: %s", where);
        writeText(line);
    }
    exitAfterFailure(1);
}

uint16_t launch(ErrorDescriptor* d, const Item* operands, uint16_t count) {
    // an error while the error block runs cannot be handled by it
    if (errorSystem.inHandler) exitAfterFailure(1);
    if (!errorSystem.errorBlockSlot || !vm.stack) noErrorBlock();

    ErrorDescriptor copy = *d;
    if (!copy.description && copy.genCode > 0) copy.description = errorDescription(copy.genCode);
    Item* object = pushSlot();
    itemClear(object);
    buildErrorObject(object, &copy, operands, count);

    Item block = *errorSystem.errorBlockSlot;
    errorSystem.inHandler = true;
    uint16_t r = evalBlock1(&block, object);
    errorSystem.inHandler = false;
    vm.top = object - 1;
    return r;
}

void memoryExhausted() { fatalError(5304); }

}  // namespace

void errorSystemStart() {
    classSystemInstall();
    errorLauncher = launch;
    memExhausted = memoryExhausted;
    errorSystem.inHandler = false;
    errorSystem.netErrFlag = false;
}

void errorSystemStop() {
    setErrorBlock(nullptr);
    errorSystem = ErrorSystemState{};
}

const Item* currentErrorBlock() { return errorSystem.errorBlockSlot; }

void setErrorBlock(const Item* block) {
    if (errorSystem.errorBlockSlot) {
        if (vm.statics) tempRelease(errorSystem.errorBlockSlot);
        errorSystem.errorBlockSlot = nullptr;
    }
    if (block && (block->type & T_BLOCK)) {
        errorSystem.errorBlockSlot = tempAlloc();
        *errorSystem.errorBlockSlot = *block;
    }
}

bool inErrorHandler() { return errorSystem.inHandler; }
void leaveErrorHandler() { errorSystem.inHandler = false; }

bool netErr() { return errorSystem.netErrFlag; }
void setNetErr(bool on) { errorSystem.netErrFlag = on; }

}  // namespace xb
