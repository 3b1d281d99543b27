// Memo reads ahead, for a memo file no other process changes (a table in
// exclusive use): one positioned read fills a window of the file and the
// memos inside it are then read from memory. A scan reads memos in the
// order they were appended, so one read serves dozens of short memos where
// each used to cost two reads of its own.
//
// Coherence: the window holds bytes as the file had them when it was
// filled. The table drops it (dbtWindowDrop) before every write of the
// memo file, and a shared table passes no window at all: every read goes to
// the file, as another process may have changed it.
//
// Ownership: the window's buffer is tracked memory, allocated at the first
// read through it and freed by dbtWindowFree.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "rdd/dbf/dbt.h"

namespace xb {

constexpr uint32_t kDbtWindowBytes = 16384;

struct DbtWindow {
    uint8_t* data;   // kDbtWindowBytes, or null before the first read
    uint64_t start;  // file offset of data[0]
    uint32_t have;   // bytes of data read from the file (0: empty)
    bool atEnd;      // the fill came up short: the file ends at start + have
};

// As dbtLength and dbtRead, with the same results, through the window. A
// null window reads the file directly.
DbtStatus dbtWindowLength(os::Handle h, DbtWindow* w, uint32_t block, uint32_t* length);
DbtStatus dbtWindowRead(os::Handle h, DbtWindow* w, uint32_t block, char* out, uint32_t length);

// Forgets what the window holds (before a write of the memo file).
void dbtWindowDrop(DbtWindow* w);
// Drops the window and frees its buffer.
void dbtWindowFree(DbtWindow* w);

}  // namespace xb
