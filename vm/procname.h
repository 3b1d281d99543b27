// Names and lines of the active procedures, walking the caller-frame chain.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// The frame `level` calls above `from` (0 = from itself); null past the
// outermost procedure.
// At most as many steps as calls are running: a walk always ends.
// Frames at or below the hidden floor, and frames called by the frame at the
// hidden caller slot, belong to a host that runs code on the program's
// behalf (the shell): they end every walk, so reports and PROCNAME show only
// the program's frames.
Item* frameAbove(Item* from, uint32_t level);
// Stack slots set by the host around the code it runs; 0 hides nothing.
extern uint32_t hiddenFrameFloor;
extern uint32_t hiddenFrameCaller;
// The caller of `frame` (frameAbove(frame, 1)); walks that visit every frame
// step with this instead of starting over at each level.
Item* nextFrameOut(Item* frame);
// Display name of the frame: "(b)" + creator for codeblocks, "Class:MESSAGE"
// for methods, else the procedure's name. Returns the length written.
uint32_t frameDisplayName(Item* frame, char* buf, uint32_t size);
// The line last recorded by the frame (the running one reads the register).
uint16_t frameLine(Item* frame);
// The class name of a receiver, for method frames (set by the class layer).
extern const char* (*&receiverClassName)(const Item* self);

}  // namespace xb
