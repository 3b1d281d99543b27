#include "vm/procname.h"

#include <cstdio>
#include <cstring>

#include "vm/symref.h"
#include "vm/error.h"
#include "base/hooks.h"
#include "vm/vm.h"

namespace xb {

const char* (*&receiverClassName)(const Item* self) = runtimeHooks.receiverClassName;

uint32_t hiddenFrameFloor = 0;
uint32_t hiddenFrameCaller = 0;

namespace {
bool hidden(Item* f) {
    if (hiddenFrameFloor && slotOf(f) <= hiddenFrameFloor) return true;
    return hiddenFrameCaller && frameSlot(f)->callerFrame == hiddenFrameCaller;
}
}  // namespace

// Each step goes strictly down the stack and there are at most as many
// steps as calls running, so a damaged chain still ends.
Item* frameAbove(Item* from, uint32_t level) {
    if (!from || !vm.stack) return nullptr;
    Item* f = from;
    if (level > vm.liveFrames) return nullptr;
    while (level--) {
        if (f <= vm.stack) return nullptr;
        uint32_t caller = frameSlot(f)->callerFrame;
        if (caller >= slotOf(f)) return nullptr;
        f = vm.stack + caller;
        if (hidden(f)) return nullptr;
    }
    return f <= vm.stack || hidden(f) ? nullptr : f;
}

Item* nextFrameOut(Item* frame) { return frameAbove(frame, 1); }

uint32_t frameDisplayName(Item* frame, char* buf, uint32_t size) {
    if (!size) return 0;
    buf[0] = 0;
    if (!frame || frame == vm.stack) return 0;
    GlobalSymbol* sym = frameProcSymbol(frame);
    const char* name = sym ? symbolName(sym) : "";
    const Item* self = frame + 1;
    int n;
    if (self->type & T_BLOCK) {
        n = std::snprintf(buf, size, "(b)%s", name);
    } else if (self->type != T_NIL) {
        const char* cls = receiverClassName ? receiverClassName(self) : nullptr;
        n = std::snprintf(buf, size, "%s:%s", cls && *cls ? cls : "obj", name);
    } else {
        n = std::snprintf(buf, size, "%s", name);
    }
    if (n < 0) return 0;
    return uint32_t(n) < size ? uint32_t(n) : size - 1;
}

uint16_t frameLine(Item* frame) {
    if (!frame || frame == vm.stack) return 0;
    if (frame == vm.frame) return vm.lineNumber;
    return vm.frameExtra[frame - vm.stack].savedLine;
}

bool currentProcedureLocation(char* buf, uint32_t size) {
    if (!vm.stack || vm.frame == vm.stack) return false;
    char name[96];
    frameDisplayName(vm.frame, name, sizeof name);
    std::snprintf(buf, size, "%s (%u)", name, unsigned(frameLine(vm.frame)));
    return true;
}

}  // namespace xb
