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

// The byte after the text, then filler: one write of text and mark would
// need a copy of the text, two writes do not.
bool writeText(os::Handle h, const char* data, uint32_t n) {
    const uint8_t mark = kDbtEndMark;
    return writeAll(h, data, n) && writeAll(h, &mark, 1);
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

DbtStatus dbtLength(os::Handle h, uint32_t block, uint32_t* length) {
    *length = 0;
    if (block == 0) return DbtStatus::Ok;
    uint64_t offset;
    DbtStatus s = checkBlock(h, block, &offset);
    if (s != DbtStatus::Ok) return s;
    if (!seekTo(h, offset)) return DbtStatus::ReadError;
    uint8_t buffer[kDbtBlockSize];
    uint64_t total = 0;
    for (;;) {
        int32_t got = fsReadLong(h, buffer, sizeof buffer);
        if (got < 0) return DbtStatus::ReadError;
        const void* mark = std::memchr(buffer, kDbtEndMark, uint32_t(got));
        if (mark) {
            total += uint32_t(static_cast<const uint8_t*>(mark) - buffer);
            break;
        }
        // The end of the file before the end mark: the memo is cut short.
        if (uint32_t(got) < sizeof buffer) return DbtStatus::Corrupt;
        total += sizeof buffer;
        if (total > kMaxOffset) return DbtStatus::Corrupt;
    }
    *length = uint32_t(total);
    return DbtStatus::Ok;
}

DbtStatus dbtRead(os::Handle h, uint32_t block, char* out, uint32_t length) {
    if (length == 0) return DbtStatus::Ok;
    if (uint64_t(block) * kDbtBlockSize + length > kMaxOffset) return DbtStatus::Corrupt;
    if (!seekTo(h, uint64_t(block) * kDbtBlockSize)) return DbtStatus::ReadError;
    int32_t got = fsReadLong(h, out, length);
    return got == int32_t(length) ? DbtStatus::Ok : DbtStatus::ReadError;
}

DbtStatus dbtWrite(os::Handle h, uint32_t current, const char* data, uint32_t n, bool shared,
                   uint32_t* block) {
    if (current != 0 && n < kDbtInPlaceLimit) {
        uint64_t offset;
        // A field pointing beyond the file is not trusted with a write: the
        // memo is appended instead.
        if (checkBlock(h, current, &offset) == DbtStatus::Ok) {
            if (!seekTo(h, offset) || !writeText(h, data, n)) return DbtStatus::WriteError;
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
            if (seekTo(h, size) && writeAll(h, filler, pad) && writeText(h, data, n) && seekTo(h, 0) &&
                writeAll(h, next, 4)) {
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
