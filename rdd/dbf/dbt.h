// DBT memo files: 512-byte blocks; block 0 holds the number of the next
// free block in its first four bytes (little-endian, the rest zero); a memo
// starts at the beginning of its block, runs over consecutive blocks and
// ends with a 0x1A byte; a second 0x1A follows it wherever that byte lies
// inside blocks the memo already owns (always for a memo rewritten in
// place; after an append unless it would start a new block at the end of
// the file), so that allocation, block numbers and the next-free block are
// as with one mark. Space is never reused: a memo that outgrows its
// first block is written anew at the end of the file.
//
// These functions work on an open memo file handle through the file layer;
// the table driver owns the handle and turns the statuses into its errors
// (with the file layer's OS code). Nothing here allocates.
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace xb {

constexpr uint32_t kDbtBlockSize = 512;
constexpr uint8_t kDbtEndMark = 0x1A;
// A memo shorter than this rewrites its block in place; the text and its
// two end marks then still fit the block.
constexpr uint32_t kDbtInPlaceLimit = 511;

enum class DbtStatus : uint8_t {
    Ok,
    ReadError,   // the file layer failed a read or a seek
    WriteError,  // a write failed or came up short
    Corrupt,     // a block beyond the end of the file, or a memo without its end mark
};

// Writes block 0 (next free block 1, the rest zero) at offset 0.
DbtStatus dbtWriteHeader(os::Handle h);
// Empties the file: block 0 as new, and the file cut after it.
DbtStatus dbtZap(os::Handle h);

// The length of the memo starting at block: the bytes before its first
// 0x1A. Block 0 is no memo (length 0).
DbtStatus dbtLength(os::Handle h, uint32_t block, uint32_t* length);
// Reads length bytes of the memo at block into out.
DbtStatus dbtRead(os::Handle h, uint32_t block, char* out, uint32_t length);

// Stores a memo of n > 0 bytes whose field now holds block `current` (0 for
// none): rewritten in place when current is not 0 and n < 511, otherwise
// appended at the end of the file (under the memo header lock when shared)
// and block 0 updated. *block receives the memo's block. On WriteError no
// block number is handed out: the caller keeps the field as it was.
DbtStatus dbtWrite(os::Handle h, uint32_t current, const char* data, uint32_t n, bool shared,
                   uint32_t* block);

}  // namespace xb
