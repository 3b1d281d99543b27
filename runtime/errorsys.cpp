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

Item* errorBlockSlot;  // static-area temporary, null when there is no block
bool inHandler;
bool netErrFlag;

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
    if (inHandler) exitAfterFailure(1);
    if (!errorBlockSlot || !vm.stack) noErrorBlock();

    ErrorDescriptor copy = *d;
    if (!copy.description && copy.genCode > 0) copy.description = errorDescription(copy.genCode);
    Item* object = pushSlot();
    itemClear(object);
    buildErrorObject(object, &copy, operands, count);

    Item block = *errorBlockSlot;
    inHandler = true;
    uint16_t r = evalBlock1(&block, object);
    inHandler = false;
    vm.top = object - 1;
    return r;
}

void memoryExhausted() { fatalError(5304); }

}  // namespace

void errorSystemStart() {
    classSystemInstall();
    errorLauncher = launch;
    memExhausted = memoryExhausted;
    inHandler = false;
    netErrFlag = false;
}

void errorSystemStop() {
    setErrorBlock(nullptr);
    inHandler = false;
}

const Item* currentErrorBlock() { return errorBlockSlot; }

void setErrorBlock(const Item* block) {
    if (errorBlockSlot) {
        if (vm.statics) tempRelease(errorBlockSlot);
        errorBlockSlot = nullptr;
    }
    if (block && (block->type & T_BLOCK)) {
        errorBlockSlot = tempAlloc();
        *errorBlockSlot = *block;
    }
}

bool inErrorHandler() { return inHandler; }
void leaveErrorHandler() { inHandler = false; }

bool netErr() { return netErrFlag; }
void setNetErr(bool on) { netErrFlag = on; }

}  // namespace xb
