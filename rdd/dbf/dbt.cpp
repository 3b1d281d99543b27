#include "rdd/dbf/dbt.h"

#include <cstring>

#include "rdd/dbf/dbf_locks.h"
#include "runtime/files.h"

namespace xb {

namespace {

// Offsets are kept below 2 GiB: the file layer seeks with 32-bit signed
// distances.
constexpr uint64_t kMaxOffset = 0x7FFFFFFFu;

uint32_t fileSize(os::Handle h) { return fsSeek(h, 0, os::FROM_END); }

bool seekTo(os::Handle h, uint64_t offset) {
    return offset <= kMaxOffset && fsSeek(h, int32_t(offset), os::FROM_BEGIN) == uint32_t(offset);
}

bool writeAll(os::Handle h, const void* data, uint32_t n) {
    return fsWriteLong(h, data, n) == int32_t(n);
}

// An appended memo: the text, then its end mark and, when the second byte
// still lies in the memo's last block (it never starts a new block), a
// second 0x1A. Readers that look for two end marks then never run into
// whatever followed in the file. The memo is only linked (block 0, the
// record's field) after these writes, so a kill between them loses
// nothing that was linked.
bool writeText(os::Handle h, const char* data, uint32_t n, uint64_t start) {
    const uint8_t marks[2] = {kDbtEndMark, kDbtEndMark};
    uint32_t count = (start + n + 1) % kDbtBlockSize != 0 ? 2u : 1u;
    return writeAll(h, data, n) && writeAll(h, marks, count);
}

// The padding before an appended memo and the memo itself (writeText):
// one write when they fit a small buffer, else one after the other.
bool writeTail(os::Handle h, const uint8_t* filler, uint32_t pad, const char* data, uint32_t n, uint64_t start) {
    uint8_t buffer[4 * kDbtBlockSize];
    if (pad + n + 2 > sizeof buffer) return writeAll(h, filler, pad) && writeText(h, data, n, start);
    uint32_t count = (start + n + 1) % kDbtBlockSize != 0 ? 2u : 1u;
    std::memcpy(buffer, filler, pad);
    std::memcpy(buffer + pad, data, n);
    buffer[pad + n] = kDbtEndMark;
    buffer[pad + n + 1] = kDbtEndMark;
    return writeAll(h, buffer, pad + n + count);
}

// A memo rewritten in its own block: text and two end marks in one write
// (n <= 510: they fit the block), so that a kill or a failed write leaves
// the old text or the new one, never the new text running into the old.
bool writeInPlace(os::Handle h, const char* data, uint32_t n) {
    uint8_t block[kDbtBlockSize];
    std::memcpy(block, data, n);
    block[n] = kDbtEndMark;
    block[n + 1] = kDbtEndMark;
    return writeAll(h, block, n + 2);
}

DbtStatus checkBlock(os::Handle h, uint32_t block, uint64_t* offset) {
    uint32_t size = fileSize(h);
    if (size == 0xFFFFFFFFu) return DbtStatus::ReadError;
    *offset = uint64_t(block) * kDbtBlockSize;
    if (*offset >= size || *offset > kMaxOffset) return DbtStatus::Corrupt;
    return DbtStatus::Ok;
}

}  // namespace

DbtStatus dbtWriteHeader(os::Handle h) {
    uint8_t header[kDbtBlockSize] = {};
    header[0] = 1;
    if (!seekTo(h, 0)) return DbtStatus::WriteError;
    return writeAll(h, header, sizeof header) ? DbtStatus::Ok : DbtStatus::WriteError;
}

DbtStatus dbtZap(os::Handle h) {
    DbtStatus s = dbtWriteHeader(h);
    if (s != DbtStatus::Ok) return s;
    return fsWriteLong(h, nullptr, 0) == 0 ? DbtStatus::Ok : DbtStatus::WriteError;
}

// Memo reads are positioned reads: no seeks and no size query. A block at
// or beyond the end of the file reads nothing, which makes it Corrupt as a
// memo without its end mark does.
DbtStatus dbtLength(os::Handle h, uint32_t block, uint32_t* length) {
    *length = 0;
    if (block == 0) return DbtStatus::Ok;
    uint64_t offset = uint64_t(block) * kDbtBlockSize;
    if (offset > kMaxOffset) return DbtStatus::Corrupt;
    // The first read is one block (most memos are short); a longer memo is
    // read on in runs of eight blocks.
    uint8_t buffer[8 * kDbtBlockSize];
    uint32_t want = kDbtBlockSize;
    uint64_t total = 0;
    for (;;) {
        int32_t got = fsReadAt(h, offset + total, buffer, want);
        if (got < 0) return DbtStatus::ReadError;
        const void* mark = std::memchr(buffer, kDbtEndMark, uint32_t(got));
        if (mark) {
            total += uint32_t(static_cast<const uint8_t*>(mark) - buffer);
            break;
        }
        // The end of the file before the end mark: the memo is cut short.
        if (uint32_t(got) < want) return DbtStatus::Corrupt;
        total += want;
        if (offset + total > kMaxOffset) return DbtStatus::Corrupt;
        want = sizeof buffer;
    }
    *length = uint32_t(total);
    return DbtStatus::Ok;
}

DbtStatus dbtRead(os::Handle h, uint32_t block, char* out, uint32_t length) {
    if (length == 0) return DbtStatus::Ok;
    if (uint64_t(block) * kDbtBlockSize + length > kMaxOffset) return DbtStatus::Corrupt;
    int32_t got = fsReadAt(h, uint64_t(block) * kDbtBlockSize, out, length);
    return got == int32_t(length) ? DbtStatus::Ok : DbtStatus::ReadError;
}

DbtStatus dbtWrite(os::Handle h, uint32_t current, const char* data, uint32_t n, bool shared,
                   uint32_t* block) {
    if (current != 0 && n < kDbtInPlaceLimit) {
        uint64_t offset;
        // A field pointing beyond the file is not trusted with a write: the
        // memo is appended instead.
        if (checkBlock(h, current, &offset) == DbtStatus::Ok) {
            if (!seekTo(h, offset) || !writeInPlace(h, data, n)) return DbtStatus::WriteError;
            *block = current;
            return DbtStatus::Ok;
        }
    }
    bool locked = shared && dbfLockHeaderWait(h);
    DbtStatus result = DbtStatus::WriteError;
    uint32_t size = fileSize(h);
    if (size != 0xFFFFFFFFu) {
        uint32_t pad = kDbtBlockSize - size % kDbtBlockSize;
        uint64_t start = uint64_t(size) + pad;
        uint64_t end = start + n + 1;
        if (end <= kMaxOffset) {
            static const uint8_t filler[kDbtBlockSize] = {kDbtEndMark};
            uint8_t next[4];
            uint32_t nextFree = uint32_t((end + kDbtBlockSize - end % kDbtBlockSize) / kDbtBlockSize);
            for (int i = 0; i < 4; ++i) next[i] = uint8_t(nextFree >> (8 * i));
            // Order: the padding and the text first, block 0 (the link that
            // hands the space out) last. The size query left the file
            // position at the end.
            if (writeTail(h, filler, pad, data, n, start) && seekTo(h, 0) && writeAll(h, next, 4)) {
                *block = uint32_t(start / kDbtBlockSize);
                result = DbtStatus::Ok;
            }
        }
    }
    // The OS code of a failed write outlives the unlock.
    FileErrorState saved = fileErrorState();
    if (locked) dbfUnlockHeader(h);
    fileErrorState() = saved;
    return result;
}

}  // namespace xb
