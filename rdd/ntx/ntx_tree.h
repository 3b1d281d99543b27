// The B-tree engine of an index file, independent of work areas: descent,
// stepping, seeking, locating a (key, record) pair, insertion with page
// splits and deletion with the free list, over an already open file handle
// of the runtime's file layer.
//
// Write ordering, so that a process killed between any two writes leaves
// an index whose keys all lead where they should (docs/crash-safety.md):
//   - A page is changed in place only by a single write that leaves it
//     whole (an insertion into a page with room, a removal from a leaf, a
//     record number replaced). Everything else copies on write: a split
//     writes both halves to fresh pages, then makes one write that
//     switches to them (the parent page, or the 12 header bytes for a new
//     root), then frees the old page; deleting a key that has a subtree
//     copies the path down to the leaf that gives the replacement key to
//     fresh pages and switches by rewriting the page of the deleted key.
//   - A page taken from the free list has the new free-list head written
//     to the header before anything links to it; a freed page is unlinked
//     before it is written as free. A kill can leak a page, never link a
//     free one.
//   - A root change writes the header's 12 bytes at once, in both modes.
//   - Shared use: the first write of a change is the raised change counter
//     (with the root and free list as they were), so that another process
//     taking the lock after a kill drops every page it cached; the root
//     and free list follow at ntxCommitShared.
//   - Builds mark the header (ntxMarkRebuild) before the file is cut and
//     unmark it with their final header write.
// A later page cache must keep these orders: it may hold back writes only
// where the order between them does not matter (fresh pages before their
// switch may go in any order; the switch after all of them; the freeing
// after the switch).
//
// Ownership: the caller opens and closes the file handle (name resolution,
// open modes, sharing and byte-range locking stay with the driver) and owns
// the NtxTree record. ntxAttach allocates the tree's descent stack and key
// buffers from the tracked heap and takes a use of the three shared page
// buffers; ntxDetach gives them back (it does not close the handle and does
// not write the header: call ntxWriteHeader first).
//
// Results: every operation returns an NtxStatus (ntx_format.h); NTX_OK is
// success. A record number of 0 means "no key there" (past either end, or
// no match). A hostile file makes an operation return an error; pages are
// checked before use, child offsets before they are followed, and every
// descent is bounded by NTX_MAX_DEPTH levels (NTX_ERR_DEPTH: the driver
// writes its "stack fault" line to the console).
//
// Position: after a successful descent, step or locate, the descent stack
// names the current key and curKey/curRecord hold it. Insert, delete,
// ntxRefresh with a changed counter, and ntxReset empty the stack; the
// driver re-locates its record before stepping again (ntxLocate).
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "rdd/ntx/ntx_format.h"

namespace xb {

// One level of the descent stack: a page, the slot taken in it and its key
// count when it was read.
struct NtxLevel {
    uint32_t page;
    uint16_t pos;
    uint16_t count;
};

enum NtxMode : uint8_t {
    NTX_EXACT,   // first key equal over the search length
    NTX_SOFT,    // first key not smaller than the search key
    NTX_INSERT,  // after the last key not greater (where a new key goes)
    NTX_LAST,    // the last key
    NTX_FIRST,   // the first key
};

struct NtxPageCache;

struct NtxTree {
    os::Handle file;
    uint32_t fileSize;
    // From the header (kept up to date in memory; see ntxWriteHeader).
    uint16_t signature;
    uint16_t changeCounter;
    uint32_t root;
    uint32_t freeList;
    uint16_t keySize;
    uint16_t keyDecimals;
    NtxGeometry geom;
    bool unique;
    bool descending;
    bool dirty;        // root or free list changed since the header was written
    // Write ordering (see "Write ordering" below).
    bool sharedUse;    // set by the driver: other processes read the file
    bool changing;     // shared use: the raised change counter is on disk
    bool rebuilding;   // the header on disk is marked "not an index"
                       // (ntxMarkRebuild); header writes keep the mark
                       // until a build finishes (ntxBuildFinish clears it)
    // Position.
    uint16_t depth;    // levels on the stack; 0: no position
    NtxLevel* stack;   // NTX_MAX_DEPTH + 1 entries
    char* curKey;      // keySize + 5 bytes: the key of the current position
    uint32_t curRecord;  // its record number, 0 when none
    char* searchKey;   // keySize + 5 bytes: the caller's search value as key text
    NtxPageCache* cache;  // owned; null when the page cache is off (ntx_cache.h)
};

// Reads the 548 header bytes of an index file into *out (the rest zero):
// the texts for compiling the key and condition, the tag, and orderInfo's
// codes 1 and 2. A text of 256 characters has no terminator: measure it
// with ntxHeaderTextLength. NTX_ERR_READ/NTX_ERR_SHORT on a short file.
NtxStatus ntxReadHeader(os::Handle file, NtxHeader* out);
// Length of a header text field (keyExpr, forExpr: room 256; tagName: 10).
uint16_t ntxHeaderTextLength(const char* field, uint16_t room);

// Reads the header (548 bytes at offset 0) and the file size, validates
// them and fills t. On failure nothing is allocated.
NtxStatus ntxAttach(NtxTree* t, os::Handle file);
void ntxDetach(NtxTree* t);

// Writes a new header and an empty root page at 1024 and cuts the file
// there, then attaches. Used before building: with building, the header is
// written marked (as by ntxMarkRebuild) and stays so until the build's
// final header write, so that a kill before the keys are in leaves a file
// that does not open as an index.
NtxStatus ntxCreate(NtxTree* t, os::Handle file, const NtxHeaderInfo& info, bool building = false);
// ntxAttach for a file whose header is marked by an interrupted or running
// build: the mark is accepted (and kept: t->rebuilding).
NtxStatus ntxAttachMarked(NtxTree* t, os::Handle file);
// Writes the signature without bits 1 and 2 (which makes the file "not an
// index" to every open) and sets t->rebuilding; header writes keep the mark
// until a build finishes, and the header write after it unmarks the file.
// Called before a rebuild, a pack or a zap changes what the order must hold.
NtxStatus ntxMarkRebuild(NtxTree* t);

// Empties the order: the file is cut after its header, the root is a new
// empty page at 1024, the free list is empty, the header dirty.
NtxStatus ntxReset(NtxTree* t);

// Header write-back. Exclusive use: reads the first 548 bytes and writes
// them back with the signature (marked while t->rebuilding), change
// counter 1, the root and the free-list head (only when dirty). Shared use
// (ntxCommitShared): the first 12 bytes with the change counter raised
// (once per change: a change that already wrote its raised counter keeps
// it).
NtxStatus ntxWriteHeader(NtxTree* t);
NtxStatus ntxCommitShared(NtxTree* t);
// After obtaining the index lock: reads the first 12 bytes; when the change
// counter differs, takes the new root and free list, re-reads the file size,
// drops the position and the cached pages and sets *changed.
NtxStatus ntxRefresh(NtxTree* t, bool* changed);

// Descent from the root with the search value in key (length bytes,
// 1..keySize; ignored for NTX_FIRST and NTX_LAST). *record is the record
// of the key reached, or 0 (none, or in exact mode a key that differs over
// the length).
NtxStatus ntxDescend(NtxTree* t, NtxMode mode, const char* key, uint16_t length, uint32_t* record);
// One step forwards (+1) or backwards (-1) from the current key; *record 0
// at either end (the position is then lost).
NtxStatus ntxStep(NtxTree* t, int direction, uint32_t* record);
// Seek: soft or exact descent over length bytes; with last, the last of
// the keys equal over that length. *found: a key equal over length was
// reached. *record: the record reached (0: none).
NtxStatus ntxSeek(NtxTree* t, const char* key, uint16_t length, bool soft, bool last, uint32_t* record,
                 bool* found);
// The last key not greater than the search value over length (a bottom
// scope); *record 0 when every key is greater.
NtxStatus ntxSeekAtMost(NtxTree* t, const char* key, uint16_t length, uint32_t* record);
// The 1-based position of the current key in the order (0 without one);
// the position is kept. Costs a step per key before it.
NtxStatus ntxKeyNumber(NtxTree* t, uint32_t* number);
// Goes to the key at 1-based position number; *record 0 past the end.
NtxStatus ntxGoToNumber(NtxTree* t, uint32_t number, uint32_t* record);
// Positions on the entry (key, record) (key is keySize bytes); *found false
// when there is none.
NtxStatus ntxLocate(NtxTree* t, const char* key, uint32_t record, bool* found);
// Inserts (key, record) after the keys equal to it.
NtxStatus ntxInsert(NtxTree* t, const char* key, uint32_t record);
// Deletes the entry (key, record); *found false when it is not there.
NtxStatus ntxDelete(NtxTree* t, const char* key, uint32_t record, bool* found);
// Gives the entry (key, oldRecord) the record number newRecord in place
// (the key and the entry's position stay); *found false when there is no
// such entry. For unique orders, whose one entry per key must keep naming a
// record that has the key when its record's key changes.
NtxStatus ntxReplaceRecord(NtxTree* t, const char* key, uint32_t oldRecord, uint32_t newRecord, bool* found);
// Number of keys (a walk over every page).
NtxStatus ntxKeyCount(NtxTree* t, uint32_t* count);

// The three shared page buffers (header, page, second page). Every
// attached tree holds one use; the buffers are freed with the last use.
// ntxBufferUses reports the count (tests and the driver's accounting).
uint32_t ntxBufferUses();

}  // namespace xb
