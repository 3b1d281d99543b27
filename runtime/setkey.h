// Key blocks: up to 32 codeblocks bound to key codes (SETKEY), and the key
// check that runs the block bound to a key.
#pragma once
#include <cstdint>

namespace xb {

constexpr uint32_t KEY_BLOCKS = 32;

// False when key is 0 or has no block. Otherwise, with run set, evaluates
// the block with the running procedure's name, its line and an empty text,
// and answers false when the block returns .T.; true in every other case.
bool keyCheck(int32_t key, bool run);

// Releases every block of the table (console stop event).
void releaseKeyBlocks();

}  // namespace xb
