// Memo reads through a read-ahead window; see dbt_window.h.
#include "rdd/dbf/dbt_window.h"

#include <cstring>

#include "base/memory.h"
#include "runtime/files.h"

namespace xb {

namespace {

// The same limit as the memo file's own reads: offsets below 2 GiB.
constexpr uint64_t kMaxOffset = 0x7FFFFFFFu;

bool covers(const DbtWindow* w, uint64_t offset, uint64_t n) {
    return w->have != 0 && offset >= w->start && offset + n <= w->start + w->have;
}

// Fills the window from offset. False on a failed read (the window is then
// empty).
bool fill(os::Handle h, DbtWindow* w, uint64_t offset) {
    if (!w->data) w->data = static_cast<uint8_t*>(memAlloc(kDbtWindowBytes));
    w->have = 0;
    int32_t got = fsReadAt(h, offset, w->data, kDbtWindowBytes);
    if (got < 0) return false;
    w->start = offset;
    w->have = uint32_t(got);
    w->atEnd = uint32_t(got) < kDbtWindowBytes;
    return true;
}

}  // namespace

DbtStatus dbtWindowLength(os::Handle h, DbtWindow* w, uint32_t block, uint32_t* length) {
    *length = 0;
    if (!w || block == 0) return dbtLength(h, block, length);
    uint64_t offset = uint64_t(block) * kDbtBlockSize;
    if (offset > kMaxOffset) return DbtStatus::Corrupt;
    // At most two looks: the window as it is, then one filled from the
    // memo's first block.
    for (int pass = 0; pass < 2; pass++) {
        if (!covers(w, offset, 1)) {
            if (!fill(h, w, offset)) return DbtStatus::ReadError;
            // Nothing there: the block lies at or beyond the end of the file.
            if (w->have == 0) return DbtStatus::Corrupt;
            pass = 1;
        }
        uint32_t at = uint32_t(offset - w->start);
        const void* mark = std::memchr(w->data + at, kDbtEndMark, w->have - at);
        if (mark) {
            *length = uint32_t(static_cast<const uint8_t*>(mark) - (w->data + at));
            return DbtStatus::Ok;
        }
        // The file ends before the end mark: the memo is cut short.
        if (w->atEnd) return DbtStatus::Corrupt;
        if (pass == 0) w->have = 0;  // look again from the memo's start
    }
    // A memo longer than the window: read on in the file itself.
    return dbtLength(h, block, length);
}

DbtStatus dbtWindowRead(os::Handle h, DbtWindow* w, uint32_t block, char* out, uint32_t length) {
    uint64_t offset = uint64_t(block) * kDbtBlockSize;
    if (w && length != 0 && offset + length <= kMaxOffset && covers(w, offset, length)) {
        std::memcpy(out, w->data + (offset - w->start), length);
        return DbtStatus::Ok;
    }
    return dbtRead(h, block, out, length);
}

void dbtWindowDrop(DbtWindow* w) {
    w->have = 0;
    w->atEnd = false;
}

void dbtWindowFree(DbtWindow* w) {
    if (w->data) memFree(w->data);
    w->data = nullptr;
    dbtWindowDrop(w);
}

}  // namespace xb
