#include "rdd/dbf/dbf_table.h"

#include <cstring>

#include "base/dates.h"
#include "rdd/dbf/dbf_locks.h"
#include "rdd/dbf/dbt.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/object.h"

namespace xb {

namespace {

constexpr uint16_t SUB_OPEN_TABLE = 1001, SUB_OPEN_MEMO = 1002, SUB_CREATE_TABLE = 1004,
                   SUB_CREATE_MEMO = 1005, SUB_READ = 1010, SUB_WRITE = 1011, SUB_CORRUPT = 1012,
                   SUB_TYPE = 1020, SUB_WIDTH = 1021, SUB_UNLOCKED = 1022, SUB_SHARED = 1023,
                   SUB_APPENDLOCK = 1024, SUB_READONLY = 1025;
// Offsets stay below 2 GiB: the file layer seeks with signed 32-bit values.
constexpr uint64_t kMaxOffset = 0x7FFFFFFFu;

ErrorDescriptor descriptor(uint16_t gen, uint16_t sub, uint16_t flags) {
    return errorDescriptor(nullptr, gen, sub, flags);
}

uint16_t raise(DbfTable* t, uint16_t gen, uint16_t sub, uint16_t flags, bool osCode, const char* file) {
    ErrorDescriptor d = descriptor(gen, sub, flags);
    // A write that came up short on a full disk has no OS error of its own
    // (the file layer clears it): its reason is carried beside it.
    if (osCode) d.osCode = gen == EG_WRITE ? fsWriteErrorCode() : fsLastError();
    d.fileName = file;
    uint16_t answer = t->env->raise(t->ctx, &d);
    // A raised error always fails the operation: a quiet default is status
    // 0 from the handler but must not read as success to the caller.
    return answer == 0 ? uint16_t(1) : answer;
}

uint16_t corrupt(DbfTable* t) { return raise(t, EG_CORRUPTION, SUB_CORRUPT, 0, true, t->tableName); }
uint16_t corruptMemo(DbfTable* t) { return raise(t, EG_CORRUPTION, SUB_CORRUPT, 0, true, t->memoName); }

void hook(DbfTable* t, int n) {
    if (t->env->hook) t->env->hook(t->ctx, n);
}

void copyName(char* dst, const char* src) {
    size_t n = src ? std::strlen(src) : 0;
    if (n > kDbfNameMax) n = kDbfNameMax;
    if (n) std::memcpy(dst, src, n);
    dst[n] = 0;
}

bool seekTo(os::Handle h, uint64_t offset) {
    return offset <= kMaxOffset && fsSeek(h, int32_t(offset), os::FROM_BEGIN) == uint32_t(offset);
}

bool writeAt(os::Handle h, uint64_t offset, const void* data, uint32_t n) {
    return seekTo(h, offset) && fsWriteLong(h, data, n) == int32_t(n);
}

uint64_t recordOffset(const DbfTable* t, uint32_t n) {
    return uint64_t(t->headerLength) + uint64_t(n - 1) * t->recordLength;
}

// The record count of a shared table comes from the file size.
void refreshCount(DbfTable* t) {
    if (!t->shared) return;
    uint32_t size = fsSeek(t->tableFile, 0, os::FROM_END);
    if (size == 0xFFFFFFFFu || size < t->headerLength) return;
    t->recordCount = (size - t->headerLength) / t->recordLength;
}

// The 0x1A after the last record, and the file cut there.
bool flushWrites(DbfTable* t);

bool writeEofAndCut(DbfTable* t) {
    if (!flushWrites(t)) return false;
    const uint8_t mark = kDbfEofMark;
    return writeAt(t->tableFile, recordOffset(t, t->recordCount + 1), &mark, 1) &&
           fsWriteLong(t->tableFile, nullptr, 0) == 0;
}

bool isLocked(const DbfTable* t, uint32_t n) {
    for (uint32_t i = 0; i < t->lockCount; ++i)
        if (t->lockedRecords[i] == n) return true;
    return false;
}

void addLock(DbfTable* t, uint32_t n) {
    if (t->lockCount == t->lockCapacity) {
        uint32_t cap = t->lockCapacity ? t->lockCapacity * 2 : 8;
        t->lockedRecords = static_cast<uint32_t*>(memRealloc(t->lockedRecords, cap * sizeof(uint32_t)));
        t->lockCapacity = cap;
    }
    t->lockedRecords[t->lockCount++] = n;
}

void removeLock(DbfTable* t, uint32_t n) {
    for (uint32_t i = 0; i < t->lockCount; ++i) {
        if (t->lockedRecords[i] != n) continue;
        std::memmove(t->lockedRecords + i, t->lockedRecords + i + 1, (t->lockCount - i - 1) * sizeof(uint32_t));
        --t->lockCount;
        return;
    }
}

void releaseAllRecordLocks(DbfTable* t, uint32_t keep) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < t->lockCount; ++i) {
        if (t->lockedRecords[i] == keep) {
            t->lockedRecords[kept++] = keep;
            continue;
        }
        dbfUnlockRecord(t->tableFile, t->lockedRecords[i]);
    }
    t->lockCount = kept;
}

void blankBuffer(DbfTable* t) {
    std::memset(t->recordBuffer, ' ', t->recordLength);
    t->bufferCurrent = true;
}

constexpr uint32_t kCacheBytes = 64 * 1024;

bool caching(const DbfTable* t) { return !t->shared && t->cacheCapacity != 0; }

// Writes the appended records held back; false on a failed write. The
// records of the block are then dropped (the error is reported by the
// caller) and the count goes back to the records before the block, with
// the file cut there, so that the header written later never counts
// records that are not in the file. Only appended records are ever held
// back, and they are the last ones of the table.
bool flushWrites(DbfTable* t) {
    if (t->writeCount == 0) return true;
    uint32_t n = t->writeCount;
    t->writeCount = 0;
    if (writeAt(t->tableFile, recordOffset(t, t->writeFirst), t->writeCache, n * t->recordLength)) return true;
    FileErrorState saved = fileErrorState();
    t->recordCount = t->writeFirst - 1;
    t->readCount = 0;
    // Best effort: a partial block (a short write on a full disk) is cut
    // away; whole records past the header's count are ignored anyway.
    if (seekTo(t->tableFile, recordOffset(t, t->writeFirst))) fsWriteLong(t->tableFile, nullptr, 0);
    if (t->recNo > t->recordCount) {
        t->recNo = t->recordCount + 1;
        t->positioned = false;
        t->recordDirty = t->appended = false;
        *t->bof = *t->eof = 1;
        blankBuffer(t);
    }
    fileErrorState() = saved;
    return false;
}

uint16_t flushWritesOrRaise(DbfTable* t) {
    return flushWrites(t) ? 0 : raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
}

void dropCaches(DbfTable* t) {
    t->readCount = 0;
    t->writeCount = 0;
}

// Reads the current record from the read-ahead block, filling it when the
// record is not in it. False on a short read.
bool readCached(DbfTable* t) {
    uint32_t n = t->recNo;
    if (n < t->readFirst || n >= t->readFirst + t->readCount) {
        t->readCount = 0;
        uint32_t want = t->cacheCapacity;
        if (want > t->recordCount - n + 1) want = t->recordCount - n + 1;
        if (!seekTo(t->tableFile, recordOffset(t, n))) return false;
        int32_t got = fsReadLong(t->tableFile, t->readCache, want * t->recordLength);
        if (got < int32_t(t->recordLength)) return false;
        t->readFirst = n;
        t->readCount = uint32_t(got) / t->recordLength;
    }
    std::memcpy(t->recordBuffer, t->readCache + (n - t->readFirst) * t->recordLength, t->recordLength);
    return true;
}

uint16_t readRecord(DbfTable* t) {
    int32_t got = -1;
    if (caching(t)) {
        if (uint16_t r = flushWritesOrRaise(t)) return r;
        got = readCached(t) ? int32_t(t->recordLength) : -1;
    } else if (seekTo(t->tableFile, recordOffset(t, t->recNo))) {
        got = fsReadLong(t->tableFile, t->recordBuffer, t->recordLength);
    }
    if (got != int32_t(t->recordLength)) {
        // The buffer may hold part of a record: it is not the current one.
        t->bufferCurrent = false;
        return raise(t, EG_READ, SUB_READ, 0, true, t->tableName);
    }
    t->positioned = true;
    t->bufferCurrent = true;
    t->deletedFlag = t->recordBuffer[0] == '*';
    hook(t, 6);
    return 0;
}

uint16_t writeRecord(DbfTable* t) {
    uint32_t n = t->recNo;
    if (caching(t)) {
        if (n >= t->readFirst && n < t->readFirst + t->readCount)
            std::memcpy(t->readCache + (n - t->readFirst) * t->recordLength, t->recordBuffer, t->recordLength);
        bool inBlock = t->writeCount && n >= t->writeFirst && n < t->writeFirst + t->writeCount;
        bool next = t->appended && t->writeCount < t->cacheCapacity &&
                    (t->writeCount == 0 || n == t->writeFirst + t->writeCount);
        if (!inBlock && !next) {
            if (uint16_t r = flushWritesOrRaise(t)) return r;
            next = t->appended;
        }
        if (inBlock || next) {
            if (!inBlock && t->writeCount == 0) t->writeFirst = n;
            if (!inBlock) ++t->writeCount;
            std::memcpy(t->writeCache + (n - t->writeFirst) * t->recordLength, t->recordBuffer, t->recordLength);
            t->tableWritten = true;
            hook(t, 7);
            return 0;
        }
    }
    if (!writeAt(t->tableFile, recordOffset(t, n), t->recordBuffer, t->recordLength))
        return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
    t->tableWritten = true;
    hook(t, 7);
    return 0;
}

// Opens one of the two files, asking the error handler while it answers
// retry. Returns the handle or -1 (the error was raised).
os::Handle openWithRetry(DbfTable* t, const char* name, const char* ext, uint32_t flags, uint16_t sub,
                         uint16_t errFlags, char* fullName, uint16_t* status) {
    ErrorDescriptor d = descriptor(0, sub, errFlags);
    for (;;) {
        os::Handle h = t->env->openFile(name, ext, flags, &d);
        copyName(fullName, d.fileName);
        if (h != os::INVALID) return h;
        d.severity = 2;
        d.subCode = sub;
        d.flags = errFlags;
        uint16_t answer = t->env->raise(t->ctx, &d);
        if (answer != 1) {
            *status = answer == 0xFFFF ? answer : uint16_t(1);
            return os::INVALID;
        }
    }
}

void freeTable(DbfTable* t) {
    memFree(t->fields);
    memFree(t->fieldOffsets);
    memFree(t->recordBuffer);
    memFree(t->lockedRecords);
    memFree(t->readCache);
    memFree(t->writeCache);
    dbtWindowFree(&t->memoWindow);
    t->readCache = t->writeCache = nullptr;
    t->cacheCapacity = t->readCount = t->writeCount = 0;
    t->fields = nullptr;
    t->fieldOffsets = nullptr;
    t->recordBuffer = nullptr;
    t->lockedRecords = nullptr;
    t->lockCount = t->lockCapacity = 0;
    t->fieldCount = 0;
    // A close that failed (a full disk) leaves nothing to write back: a
    // second close of the area finds a table that was never opened.
    t->recordDirty = t->appended = t->headerDirty = t->bufferCurrent = false;
}

void closeFiles(DbfTable* t) {
    if (t->tableFile != os::INVALID) fsClose(t->tableFile);
    if (t->memoFile != os::INVALID) fsClose(t->memoFile);
    t->tableFile = t->memoFile = os::INVALID;
}

// Field offsets (from 1) with the forced lengths; the sum in *total.
void layFields(DbfTable* t, uint32_t* total) {
    uint32_t offset = 1;
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
        t->fields[i].length = dbfForcedLength(t->fields[i].type, t->fields[i].length);
        t->fieldOffsets[i] = uint16_t(offset);
        offset += t->fields[i].length;
    }
    *total = offset;
}

void allocFields(DbfTable* t, uint32_t count) {
    t->fieldCount = count;
    t->fields = static_cast<DbfField*>(memAllocZero(count * sizeof(DbfField)));
    t->fieldOffsets = static_cast<uint16_t*>(memAllocZero(count * sizeof(uint16_t)));
}

// The two blocks of an exclusive table, each of whole records.
void allocCaches(DbfTable* t) {
    if (t->shared) return;
    uint32_t n = kCacheBytes / t->recordLength;
    if (n < 1) n = 1;
    t->cacheCapacity = n;
    t->readCache = static_cast<uint8_t*>(memAlloc(n * t->recordLength));
    t->writeCache = static_cast<uint8_t*>(memAlloc(n * t->recordLength));
}

}  // namespace

os::Handle dbfPlainOpen(const char* name, const char* ext, uint32_t flags, ErrorDescriptor* d) {
    static char full[kDbfNameMax + 16];
    size_t n = std::strlen(name);
    if (n > kDbfNameMax) n = kDbfNameMax;
    size_t base = n;
    // The extension starts at the last point after the last separator.
    for (size_t i = n; i > 0; --i) {
        char c = name[i - 1];
        if (c == '/' || c == '\\') break;
        if (c == '.') {
            base = i - 1;
            break;
        }
    }
    std::memcpy(full, name, n);
    full[n] = 0;
    if (base == n || (flags & kDbfOpenForceExt)) {
        std::memcpy(full + base, ext, std::strlen(ext) + 1);
    }
    d->fileName = full;
    os::Handle h = (flags & kDbfOpenCreate) ? fsCreate(full, 0) : fsOpen(full, uint16_t(flags));
    if (h == os::INVALID) {
        if (d->flags & EF_RETRY) ++d->tries;
        d->osCode = fsLastError();
        d->genCode = (flags & 0x0300) ? EG_CREATE : EG_OPEN;
    }
    return h;
}

void dbfTableInit(DbfTable* t, const DbfEnv* env, void* ctx, uint32_t* bof, uint32_t* eof, uint32_t* found) {
    std::memset(t, 0, sizeof *t);
    t->env = env;
    t->ctx = ctx;
    t->bof = bof;
    t->eof = eof;
    t->found = found;
    t->tableFile = t->memoFile = os::INVALID;
}

uint16_t dbfTableOpen(DbfTable* t, const char* name, bool shared, bool readOnly) {
    t->shared = shared;
    t->readOnly = readOnly;
    uint16_t status = 0;
    uint32_t flags = (shared ? 0x10C0u : 0x1090u) | (readOnly ? 0u : 2u);
    t->tableFile = openWithRetry(t, name, ".dbf", flags, SUB_OPEN_TABLE, EF_RETRY | EF_DEFAULT, t->tableName,
                                 &status);
    if (t->tableFile == os::INVALID) return status;

    DbfHeader h{};
    if (!seekTo(t->tableFile, 0) || fsReadLong(t->tableFile, t->header, kDbfHeaderSize) != int32_t(kDbfHeaderSize))
        status = corrupt(t);
    if (!status) {
        dbfHeaderDecode(t->header, &h);
        uint32_t size = fsSeek(t->tableFile, 0, os::FROM_END);
        uint32_t count = dbfFieldCountOf(h.headerLength);
        // A header that claims more than the file holds, or no field at
        // all, cannot be a table.
        if (!dbfVersionValid(h.version) || count == 0 || size == 0xFFFFFFFFu || h.headerLength > size)
            status = corrupt(t);
        else {
            t->headerLength = h.headerLength;
            t->recordLength = h.recordLength;
            t->recordCount = h.recordCount;
            t->hasMemo = h.version == kDbfVersionMemo;
            allocFields(t, count);
        }
    }
    if (!status && t->hasMemo) {
        uint32_t memoFlags = (shared ? 0x18C0u : 0x1890u) | (readOnly ? 0u : 2u);
        t->memoFile = openWithRetry(t, name, ".dbt", memoFlags, SUB_OPEN_MEMO, EF_RETRY | EF_DEFAULT, t->memoName,
                                    &status);
    }
    if (!status) {
        uint32_t bytes = t->fieldCount * kDbfDescriptorSize;
        uint8_t* raw = static_cast<uint8_t*>(memAlloc(bytes));
        if (!seekTo(t->tableFile, kDbfHeaderSize) || fsReadLong(t->tableFile, raw, bytes) != int32_t(bytes))
            status = corrupt(t);
        for (uint32_t i = 0; !status && i < t->fieldCount; ++i) dbfFieldDecode(raw + i * kDbfDescriptorSize, &t->fields[i]);
        memFree(raw);
        if (!status) {
            uint32_t total = 0;
            if (dbfCheckFields(t->fields, t->fieldCount, uint16_t(t->recordLength)) != DbfLayout::Ok) status = corrupt(t);
            else layFields(t, &total);
        }
    }
    if (status) {
        closeFiles(t);
        freeTable(t);
        return status;
    }
    t->recordBuffer = static_cast<uint8_t*>(memAlloc(t->recordLength));
    t->bufferCurrent = false;
    refreshCount(t);
    allocCaches(t);
    return 0;
}

// A field that no open could take back as written: a type letter other than
// C D L M N (in-memory types without a letter are written as "U", which open
// rejects as corruption), or an N length that its one descriptor byte would
// wrap (N 300 would be read back as N 44 in a 301-byte record).
static bool unreadableField(const DbfField& f) {
    if (f.type != 'C' && f.type != 'D' && f.type != 'L' && f.type != 'M' && f.type != 'N') return true;
    return f.type == 'N' && f.length > 0xFF;
}

uint16_t dbfTableCreate(DbfTable* t, const char* name, const DbfField* fields, uint32_t count) {
    uint32_t recordLength = 1;
    bool unreadable = false;
    for (uint32_t i = 0; i < count; ++i) {
        recordLength += dbfForcedLength(fields[i].type, fields[i].length);
        unreadable = unreadable || unreadableField(fields[i]);
    }
    if (count == 0 || count > kDbfMaxFields || recordLength > kDbfMaxRecordLength || unreadable) {
        // The header's 16-bit lengths would wrap, or the table could not be
        // opened again: refuse before any file is touched.
        copyName(t->tableName, name);
        return raise(t, EG_CREATE, SUB_CREATE_TABLE, EF_DEFAULT, false, t->tableName);
    }
    allocFields(t, count);
    for (uint32_t i = 0; i < count; ++i) {
        t->fields[i] = fields[i];
        if (t->fields[i].type == 'C') t->fields[i].decimals = 0;
        if (t->fields[i].type == 'M') t->hasMemo = true;
    }
    uint32_t total;
    layFields(t, &total);
    t->recordLength = total;
    t->headerLength = kDbfHeaderSize * (count + 1) + 2;

    uint16_t status = 0;
    t->tableFile = openWithRetry(t, name, ".dbf", 0x1182, SUB_CREATE_TABLE, EF_RETRY | EF_DEFAULT, t->tableName,
                                 &status);
    if (t->tableFile == os::INVALID) {
        freeTable(t);
        return status;
    }
    // The descriptors and the three closing bytes in one write.
    uint32_t bytes = count * kDbfDescriptorSize + 3;
    uint8_t* raw = static_cast<uint8_t*>(memAlloc(bytes));
    for (uint32_t i = 0; i < count; ++i) dbfFieldEncode(t->fields[i], raw + i * kDbfDescriptorSize);
    raw[bytes - 3] = kDbfHeaderEnd;
    raw[bytes - 2] = 0;
    raw[bytes - 1] = kDbfEofMark;
    t->recordCount = 0;
    bool ok = dbfWriteHeader(t) && writeAt(t->tableFile, kDbfHeaderSize, raw, bytes);
    memFree(raw);
    if (!ok) status = raise(t, EG_CREATE, SUB_CREATE_TABLE, EF_DEFAULT, true, t->tableName);
    bool memoCreated = false;
    if (!status && t->hasMemo) {
        t->memoFile = openWithRetry(t, name, ".dbt", 0x1982, SUB_CREATE_MEMO, EF_DEFAULT, t->memoName, &status);
        memoCreated = t->memoFile != os::INVALID;
        if (memoCreated && dbtWriteHeader(t->memoFile) != DbtStatus::Ok)
            status = raise(t, EG_CREATE, SUB_CREATE_MEMO, EF_DEFAULT, true, t->memoName);
    }
    if (status) {
        closeFiles(t);
        fsDelete(t->tableName);
        if (memoCreated) fsDelete(t->memoName);
        freeTable(t);
        return status;
    }
    t->headerDirty = false;
    t->recordBuffer = static_cast<uint8_t*>(memAlloc(t->recordLength));
    t->bufferCurrent = false;
    allocCaches(t);
    return 0;
}

namespace {

// The 32 header bytes with today's date and the count in memory.
bool writeHeaderBytes(DbfTable* t) {
    DbfHeader h{};
    dbfHeaderDecode(t->header, &h);  // keeps bytes 28-29 as read
    h.version = t->hasMemo ? kDbfVersionMemo : kDbfVersionPlain;
    os::LocalTime now{};
    os::localTime(&now);
    dbfStampHeader(&h, now.year, now.month, now.day);
    h.recordCount = t->recordCount;
    h.headerLength = uint16_t(t->headerLength);
    h.recordLength = uint16_t(t->recordLength);
    dbfHeaderEncode(h, t->header);
    if (!writeAt(t->tableFile, 0, t->header, kDbfHeaderSize)) return false;
    t->tableWritten = true;
    return true;
}

}  // namespace

bool dbfWriteHeader(DbfTable* t) {
    if (!writeHeaderBytes(t)) return false;
    t->headerDirty = false;
    return true;
}

uint16_t dbfSettle(DbfTable* t) {
    if (t->shared || t->readOnly) return 0;
    if (uint16_t r = flushWritesOrRaise(t)) return r;
    DbfHeader h{};
    dbfHeaderDecode(t->header, &h);
    if (h.recordCount == t->recordCount) return 0;
    // headerDirty stays: the flush or close still writes the end mark and
    // cuts the file.
    if (!writeHeaderBytes(t)) return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
    return 0;
}

uint16_t dbfTableClose(DbfTable* t) {
    uint16_t status = 0;
    if (t->tableFile != os::INVALID) {
        status = dbfGoCold(t);
        if (!status) status = flushWritesOrRaise(t);
        dbfUnlock(t, 0);
        if (t->headerDirty && !t->readOnly) {
            bool locked = t->shared && dbfLockHeaderWait(t->tableFile);
            refreshCount(t);
            bool ok = dbfWriteHeader(t) && writeEofAndCut(t);
            FileErrorState saved = fileErrorState();
            if (locked) dbfUnlockHeader(t->tableFile);
            fileErrorState() = saved;
            // A header that did not reach the disk is reported, not lost.
            if (!ok && !status) status = raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
        }
        if (t->tableWritten) fsCommit(t->tableFile);
        if (t->memoFile != os::INVALID && t->memoWritten) fsCommit(t->memoFile);
        closeFiles(t);
    }
    freeTable(t);
    return status;
}

uint16_t dbfRecCount(DbfTable* t, uint32_t* count) {
    refreshCount(t);
    *count = t->recordCount;
    return 0;
}

uint16_t dbfGoTo(DbfTable* t, uint32_t n) {
    uint16_t status = dbfGoCold(t);
    if (status) return status;
    *t->found = 0;
    if (n > t->recordCount) refreshCount(t);
    if (n == 0 || n > t->recordCount) {
        t->recNo = t->recordCount + 1;
        t->positioned = false;
        *t->bof = *t->eof = 1;
        t->deletedFlag = false;
        blankBuffer(t);
    } else {
        t->recNo = n;
        t->positioned = true;
        *t->bof = *t->eof = 0;
        t->bufferCurrent = false;
    }
    hook(t, 8);
    return 0;
}

uint16_t dbfGoBottomRaw(DbfTable* t) {
    uint16_t status = dbfGoCold(t);
    if (status) return status;
    refreshCount(t);
    return dbfGoTo(t, t->recordCount);
}

uint16_t dbfReadCurrent(DbfTable* t) {
    if (t->bufferCurrent) return 0;
    if (t->recNo == 0 || t->recNo > t->recordCount) {
        // The phantom record is a blank buffer, never read.
        blankBuffer(t);
        return 0;
    }
    return readRecord(t);
}

uint16_t dbfGoCold(DbfTable* t) {
    if (!t->recordDirty) return 0;
    return t->env->goCold ? t->env->goCold(t->ctx) : dbfGoColdRaw(t);
}

uint16_t dbfGoHot(DbfTable* t) { return t->env->goHot ? t->env->goHot(t->ctx) : dbfGoHotRaw(t); }

uint16_t dbfGoColdRaw(DbfTable* t) {
    if (!t->recordDirty) return 0;
    uint16_t status = writeRecord(t);
    if (status) return status;
    t->recordDirty = false;
    t->headerDirty = true;
    if (!t->appended && !t->deletedFlag) hook(t, 4);
    t->appended = false;
    return 0;
}

uint16_t dbfGoHotRaw(DbfTable* t) {
    if (t->shared && !t->fileLocked && !isLocked(t, t->recNo))
        return raise(t, EG_UNLOCKED, SUB_UNLOCKED, 0, false, t->tableName);
    if (t->readOnly) return raise(t, EG_READONLY, SUB_READONLY, 0, false, t->tableName);
    t->recordDirty = true;
    return 0;
}

namespace {

// The memo read-ahead of an exclusive table; none when shared (another
// process may change the memo file between two reads).
DbtWindow* memoWindow(DbfTable* t) { return t->shared ? nullptr : &t->memoWindow; }

uint16_t prepareChange(DbfTable* t, bool* phantom) {
    uint16_t status = dbfReadCurrent(t);
    if (status) return status;
    *phantom = !t->positioned || t->recNo > t->recordCount;
    if (*phantom) return 0;
    return t->recordDirty ? 0 : dbfGoHot(t);
}

}  // namespace

uint16_t dbfGetValue(DbfTable* t, uint32_t i, Item* out) {
    if (i >= t->fieldCount) return raise(t, EG_DATATYPE, SUB_TYPE, 0, false, t->tableName);
    uint16_t status = dbfReadCurrent(t);
    if (status) return status;
    const DbfField& f = t->fields[i];
    const char* p = reinterpret_cast<const char*>(t->recordBuffer) + t->fieldOffsets[i];
    itemClear(out);
    switch (f.type) {
        case 'C': makeString(out, p, f.length); return 0;
        case 'N':
            out->type = T_DOUBLE;
            out->v.d = dbfDecodeNumber(p, f.length);
            out->width = f.length;
            out->decimals = f.decimals;
            return 0;
        case 'D':
            out->type = T_DATE;
            out->v.l = dbfDecodeDate(p);
            return 0;
        case 'L':
            out->type = T_LOGICAL;
            out->v.l = dbfDecodeLogical(p[0]) ? 1 : 0;
            return 0;
        case 'M': {
            uint32_t n = 0;
            status = dbfGetVarLen(t, i, &n);
            if (status) return status;
            char* text = makeStringBuffer(out, n);
            out->type = T_MEMO;
            if (n && dbtWindowRead(t->memoFile, memoWindow(t), dbfDecodeMemoBlock(p), text, n) != DbtStatus::Ok) {
                itemClear(out);
                return raise(t, EG_READ, SUB_READ, 0, true, t->memoName);
            }
            return 0;
        }
        default: return raise(t, EG_DATATYPE, SUB_TYPE, 0, false, t->tableName);
    }
}

uint16_t dbfGetVarLen(DbfTable* t, uint32_t i, uint32_t* length) {
    *length = 0;
    if (i >= t->fieldCount || t->fields[i].type != 'M' || t->memoFile == os::INVALID) return 0;
    uint16_t status = dbfReadCurrent(t);
    if (status) return status;
    uint32_t block = dbfDecodeMemoBlock(reinterpret_cast<const char*>(t->recordBuffer) + t->fieldOffsets[i]);
    switch (dbtWindowLength(t->memoFile, memoWindow(t), block, length)) {
        case DbtStatus::Ok: return 0;
        case DbtStatus::Corrupt: return corruptMemo(t);
        default: return raise(t, EG_READ, SUB_READ, 0, true, t->memoName);
    }
}

uint16_t dbfPutValue(DbfTable* t, uint32_t i, const Item* value) {
    if (i >= t->fieldCount) return raise(t, EG_DATATYPE, SUB_TYPE, 0, false, t->tableName);
    bool phantom = false;
    uint16_t status = prepareChange(t, &phantom);
    if (status || phantom) return status;
    const DbfField& f = t->fields[i];
    char* p = reinterpret_cast<char*>(t->recordBuffer) + t->fieldOffsets[i];
    uint16_t type = value->type;
    if ((type & T_LOGICAL) && f.type == 'L') {
        p[0] = dbfEncodeLogical(value->v.l != 0);
    } else if ((type & M_NUMERIC) && f.type == 'N') {
        double v = (type & T_DOUBLE) ? value->v.d : double(value->v.l);
        if (!dbfEncodeNumber(v, f.length, f.decimals, p))
            return raise(t, EG_DATAWIDTH, SUB_WIDTH, EF_DEFAULT, false, t->tableName);
    } else if ((type & T_DATE) && f.type == 'D') {
        dbfEncodeDate(value->v.l, p);
    } else if ((type & M_STRING) && f.type == 'C') {
        dbfEncodeText(strData(value), strLength(value), f.length, p);
    } else if ((type & M_STRING) && f.type == 'M' && t->memoFile != os::INVALID) {
        uint32_t n = strLength(value);
        uint32_t block = 0;
        if (n) {
            uint32_t current = dbfDecodeMemoBlock(p);
            // On a failed write the field keeps its old block: it never
            // points at a block that was not written.
            dbtWindowDrop(&t->memoWindow);
            if (dbtWrite(t->memoFile, current, strData(value), n, t->shared, &block) != DbtStatus::Ok)
                return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->memoName);
        }
        dbfEncodeMemoBlock(block, p);
        t->memoWritten = t->memoWritten || n != 0;
    } else {
        return raise(t, EG_DATATYPE, SUB_TYPE, 0, false, t->tableName);
    }
    return 0;
}

uint16_t dbfDeleteRecord(DbfTable* t) {
    bool phantom = false;
    uint16_t status = prepareChange(t, &phantom);
    if (status || phantom) return status;
    t->recordBuffer[0] = '*';
    t->deletedFlag = true;
    hook(t, 5);
    return 0;
}

uint16_t dbfRecall(DbfTable* t) {
    bool phantom = false;
    uint16_t status = prepareChange(t, &phantom);
    if (status || phantom) return status;
    t->recordBuffer[0] = ' ';
    t->deletedFlag = false;
    return 0;
}

uint16_t dbfDeleted(DbfTable* t, bool* deleted) {
    uint16_t status = dbfReadCurrent(t);
    *deleted = status == 0 && t->deletedFlag;
    return status;
}

uint16_t dbfGetRecord(DbfTable* t, const uint8_t** image) {
    uint16_t status = dbfReadCurrent(t);
    *image = t->recordBuffer;
    return status;
}

uint16_t dbfPutRecord(DbfTable* t, const uint8_t* image) {
    if (!t->recordDirty) {
        uint16_t status = dbfGoHot(t);
        if (status) return status;
    }
    std::memcpy(t->recordBuffer, image, t->recordLength);
    t->deletedFlag = t->recordBuffer[0] == '*';
    t->bufferCurrent = true;
    return 0;
}

uint16_t dbfAppend(DbfTable* t, bool releaseOthers) {
    uint16_t status = dbfGoCold(t);
    if (status) return status;
    if (t->readOnly) return raise(t, EG_READONLY, SUB_READONLY, 0, false, t->tableName);
    bool headerLocked = false;
    if (t->shared) {
        if (releaseOthers && t->lockCount) releaseAllRecordLocks(t, 0);
        uint16_t tries = 0;
        for (;;) {
            headerLocked = dbfLockHeaderWait(t->tableFile);
            refreshCount(t);
            uint32_t n = t->recordCount + 1;
            if (isLocked(t, n)) {
                dbfUnlockRecord(t->tableFile, n);
                removeLock(t, n);
            }
            bool ok = t->fileLocked;
            if (!ok && headerLocked && dbfLockRecord(t->tableFile, n)) {
                addLock(t, n);
                ok = true;
            }
            if (ok) break;
            ErrorDescriptor d = descriptor(EG_APPENDLOCK, SUB_APPENDLOCK, EF_RETRY | EF_DEFAULT);
            d.osCode = fsLastError();
            d.tries = ++tries;
            d.fileName = t->tableName;
            if (headerLocked) dbfUnlockHeader(t->tableFile);
            headerLocked = false;
            uint16_t answer = t->env->raise(t->ctx, &d);
            if (answer != 1) return answer == 0 ? uint16_t(1) : answer;
        }
    }
    blankBuffer(t);
    t->recNo = t->recordCount + 1;
    ++t->recordCount;
    t->headerDirty = t->recordDirty = t->appended = true;
    t->positioned = true;
    t->deletedFlag = false;
    *t->bof = *t->eof = *t->found = 0;
    if (headerLocked) {
        // Others see the record (and so a count that includes it) at once.
        // A write that failed (a full disk) takes the record back: the
        // count and the file stay in step, and a partial record is cut
        // away while the header lock still keeps others from appending.
        // The header's count follows at once: an exclusive open after a kill
        // takes the count from the header, and an order may name the record
        // before this process commits (the blank record is then owed).
        status = writeRecord(t);
        if (!status && !writeHeaderBytes(t)) status = raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
        FileErrorState saved = fileErrorState();
        if (status) {
            uint32_t n = t->recNo;
            if (seekTo(t->tableFile, recordOffset(t, n))) fsWriteLong(t->tableFile, nullptr, 0);
            --t->recordCount;
            t->recordDirty = t->appended = false;
            t->positioned = false;
            t->recNo = t->recordCount + 1;
            *t->bof = *t->eof = 1;
        }
        dbfUnlockHeader(t->tableFile);
        fileErrorState() = saved;
        if (status) return status;
    }
    hook(t, 3);
    return 0;
}

uint16_t dbfFlush(DbfTable* t) {
    uint16_t status = dbfGoCold(t);
    if (!status) status = flushWritesOrRaise(t);
    if (status) return status;
    if (t->headerDirty && !t->readOnly) {
        bool locked = false;
        bool ok = true;
        if (t->shared) {
            locked = dbfLockHeaderWait(t->tableFile);
            refreshCount(t);
            ok = dbfWriteHeader(t);
        } else {
            // The count first: the records it names are already written;
            // the end mark and the cut only tidy what lies after them.
            ok = dbfWriteHeader(t) && writeEofAndCut(t);
        }
        FileErrorState saved = fileErrorState();
        if (locked) dbfUnlockHeader(t->tableFile);
        fileErrorState() = saved;
        if (!ok) return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
    }
    if (t->tableWritten) {
        fsCommit(t->tableFile);
        t->tableWritten = false;
    }
    if (t->memoWritten && t->memoFile != os::INVALID) {
        fsCommit(t->memoFile);
        t->memoWritten = false;
    }
    return 0;
}

uint16_t dbfPack(DbfTable* t) {
    if (t->shared) return raise(t, EG_SHARED, SUB_SHARED, 0, false, t->tableName);
    if (t->readOnly) return raise(t, EG_READONLY, SUB_READONLY, 0, false, t->tableName);
    uint16_t status = dbfGoCold(t);
    if (status) return status;
    t->headerDirty = true;
    uint32_t kept = 0;
    uint32_t count = t->recordCount;
    for (uint32_t n = 1; n <= count; ++n) {
        status = dbfGoTo(t, n);
        if (!status) status = dbfReadCurrent(t);
        if (status) return status;
        if (t->deletedFlag) continue;
        ++kept;
        if (kept == n) continue;
        t->recNo = kept;
        status = writeRecord(t);
        if (status) return status;
    }
    // Records move in place, each by one write to a place that holds a
    // deleted record or one already moved: a kill part way leaves every
    // live record at least once (some twice) and the old count; once the
    // new count is written the records past it are ignored.
    t->recordCount = kept;
    t->readCount = 0;
    bool ok = dbfWriteHeader(t) && writeEofAndCut(t);
    if (!ok) return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
    return dbfGoTo(t, 1);
}

uint16_t dbfZap(DbfTable* t) {
    if (t->shared) return raise(t, EG_SHARED, SUB_SHARED, 0, false, t->tableName);
    if (t->readOnly) return raise(t, EG_READONLY, SUB_READONLY, 0, false, t->tableName);
    uint16_t status = dbfGoCold(t);
    if (!status) status = dbfGoTo(t, 0);
    if (status) return status;
    t->headerDirty = true;
    t->recordCount = 0;
    t->recNo = 1;
    dropCaches(t);
    // The table is emptied on disk before its memo file: the other order
    // would leave, after a kill, records whose memos are gone.
    if (!dbfWriteHeader(t) || !writeEofAndCut(t)) return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->tableName);
    dbtWindowDrop(&t->memoWindow);
    if (t->memoFile != os::INVALID && dbtZap(t->memoFile) != DbtStatus::Ok)
        return raise(t, EG_WRITE, SUB_WRITE, 0, true, t->memoName);
    if (t->memoFile != os::INVALID) t->memoWritten = true;
    return 0;
}

uint16_t dbfLock(DbfTable* t, uint16_t method, uint32_t record, bool* result) {
    *result = false;
    if (method == 3) {
        if (t->shared && !t->fileLocked) {
            uint16_t status = dbfGoCold(t);
            if (status) return status;
            releaseAllRecordLocks(t, 0);
            t->fileLocked = dbfLockWholeFile(t->tableFile);
            t->bufferCurrent = false;
            *result = t->fileLocked;
            return 0;
        }
        *result = true;
        return 0;
    }
    if (method != 1 && method != 2) return 0;
    uint32_t n = record ? record : t->recNo;
    if (n > t->recordCount) refreshCount(t);
    if (n == 0 || n > t->recordCount) return 0;
    if (!t->shared || isLocked(t, n)) return 0;
    uint16_t status = dbfGoCold(t);
    if (status) return status;
    if (method == 1 && t->fileLocked) {
        dbfUnlockWholeFile(t->tableFile);
        t->fileLocked = false;
    }
    bool ok = dbfLockRecord(t->tableFile, n);
    if (ok) {
        if (method == 1) releaseAllRecordLocks(t, n);
        addLock(t, n);
    }
    *result = ok;
    // What the previous holder wrote is read afresh.
    if (t->recNo > t->recordCount) blankBuffer(t);
    else t->bufferCurrent = false;
    return 0;
}

uint16_t dbfUnlock(DbfTable* t, uint32_t record) {
    if (!t->shared) return 0;
    if (t->lockCount) {
        uint16_t status = dbfGoCold(t);
        if (status) return status;
        if (record == 0) releaseAllRecordLocks(t, 0);
        else if (isLocked(t, record)) {
            dbfUnlockRecord(t->tableFile, record);
            removeLock(t, record);
        }
    } else if (t->fileLocked) {
        uint16_t status = dbfGoCold(t);
        if (status) return status;
        dbfUnlockWholeFile(t->tableFile);
        t->fileLocked = false;
    }
    return 0;
}

}  // namespace xb
