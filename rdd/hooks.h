// The pending table hooks: eight optional codeblocks that DBSETHOOKS stores
// and that the next table opened by the DBF driver (or one inheriting from
// it) takes over. Each pending hook is a static-area temporary, so the
// collector sees it while it waits.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

constexpr uint16_t TABLE_HOOKS = 8;

// Moves the eight pending hooks into the caller's slots (each a temporary
// that the caller now owns and releases with tempRelease, or null); the
// pending set is empty afterwards.
void takePendingHooks(Item* into[TABLE_HOOKS]);
// Releases the pending hooks (the database layer's stop event).
void releasePendingHooks();

}  // namespace xb
