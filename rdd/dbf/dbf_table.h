// The DBF table engine: one open table file (and its memo file) with its
// record buffer, positioning, lazy reads and write-back, appends under the
// header lock, locks, pack and zap. It knows nothing of method tables: the
// DBF driver (rdd/dbf/dbf_driver.cpp) embeds a DbfTable in its area record and
// hands it a DbfEnv through which the engine raises its errors (the area's
// error operation), evaluates the area's hooks and opens files (the
// file-name layer). That keeps every byte and lock of the table testable on
// its own.
//
// Ownership: the table owns its two file handles, the field arrays, the
// record buffer and the lock list (tracked memory); dbfTableClose frees
// them. Items handed in are only read; Items handed out are new values.
//
// Results: every operation returns a status word, 0 for success; when an
// error was raised it is the error handler's answer (0 default: the
// operation failed quietly, 0xFFFF unwinding). Status 1 from open and
// create means the files could not be opened (the error was raised).
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "rdd/dbf/dbf_format.h"
#include "rdd/dbf/dbt_window.h"
#include "vm/error.h"
#include "vm/item.h"

namespace xb {

struct DbfEnv {
    // Raises a filled descriptor (severity, codes, flags, file name are
    // set); returns 0 default, 1 retry, 0xFFFF unwinding.
    uint16_t (*raise)(void* ctx, ErrorDescriptor* d);
    // Evaluates table hook 1..8 when the area has one.
    void (*hook)(void* ctx, int number);
    // Opens (or with flag 0x0100 creates) name completed with the default
    // extension; on failure fills d's general code, OS code, try count and
    // file name and returns -1. The name written into d stays valid until
    // the next call.
    os::Handle (*openFile)(const char* name, const char* defaultExt, uint32_t flags, ErrorDescriptor* d);
    // Optional: the area's own goCold and goHot operations, so that a driver
    // inheriting the area (the index driver keeping its orders) sees every
    // write-back and every first change the engine makes. Null: the engine's
    // own (dbfGoColdRaw, dbfGoHotRaw).
    uint16_t (*goCold)(void* ctx);
    uint16_t (*goHot)(void* ctx);
};

// The opener flags the engine uses.
constexpr uint32_t kDbfOpenCreate = 0x0100;
constexpr uint32_t kDbfOpenForceExt = 0x0800;
constexpr uint32_t kDbfOpenUseDirs = 0x1000;

// A simple opener for tests and for use before the file-name layer exists:
// the default extension when the name has none (always with 0x0800), no
// directory search.
os::Handle dbfPlainOpen(const char* name, const char* defaultExt, uint32_t flags, ErrorDescriptor* d);

constexpr uint32_t kDbfNameMax = 260;

struct DbfTable {
    const DbfEnv* env;
    void* ctx;
    // The positioning flags live in the area's common part.
    uint32_t* bof;
    uint32_t* eof;
    uint32_t* found;

    uint8_t header[kDbfHeaderSize];  // as last read or written
    DbfField* fields;
    uint16_t* fieldOffsets;
    uint32_t fieldCount;
    uint32_t headerLength, recordLength;
    uint32_t recordCount;
    uint32_t recNo;  // recordCount + 1: the phantom record
    os::Handle tableFile, memoFile;
    bool hasMemo, shared, readOnly;
    bool positioned, deletedFlag, fileLocked;
    uint32_t* lockedRecords;
    uint32_t lockCount, lockCapacity;
    bool headerDirty, recordDirty, appended, bufferCurrent;
    bool tableWritten, memoWritten;
    uint8_t* recordBuffer;
    // Exclusive tables only (nobody else reads or writes the file): records
    // read ahead in one block, and appended records written behind in one
    // block (written at the next read, flush, close, or non-appending write).
    uint8_t* readCache;
    uint32_t readFirst, readCount, cacheCapacity;  // in records
    uint8_t* writeCache;
    uint32_t writeFirst, writeCount;
    // Exclusive tables only: memos read ahead (dropped before every write
    // of the memo file).
    DbtWindow memoWindow;
    char tableName[kDbfNameMax + 1];  // full names, for the errors
    char memoName[kDbfNameMax + 1];
};

void dbfTableInit(DbfTable* t, const DbfEnv* env, void* ctx, uint32_t* bof, uint32_t* eof, uint32_t* found);

uint16_t dbfTableOpen(DbfTable* t, const char* name, bool shared, bool readOnly);
// fields: lengths are forced here (D 8, L 1, M 10); names are upper-cased by
// the caller. Refuses more than 2046 fields, a record over 65535 bytes, a
// type letter other than C D L M N and an N field longer than 255: tables
// that would wrap their lengths or that no open could read back.
uint16_t dbfTableCreate(DbfTable* t, const char* name, const DbfField* fields, uint32_t count);
// Writes back, writes the header when it changed, releases the locks,
// closes both files and frees everything. Safe on a table never opened.
uint16_t dbfTableClose(DbfTable* t);

uint16_t dbfRecCount(DbfTable* t, uint32_t* count);
uint16_t dbfGoTo(DbfTable* t, uint32_t n);
uint16_t dbfGoBottomRaw(DbfTable* t);  // goCold, count refresh, goTo(count)
uint16_t dbfReadCurrent(DbfTable* t);  // reads the record when the buffer is not current
// Through the environment's goCold/goHot when it has them (a dirty record
// only for goCold), else the raw engine operations below.
uint16_t dbfGoCold(DbfTable* t);
uint16_t dbfGoHot(DbfTable* t);
uint16_t dbfGoColdRaw(DbfTable* t);  // writes a dirty record back
uint16_t dbfGoHotRaw(DbfTable* t);   // checks the lock and marks the record dirty

uint16_t dbfGetValue(DbfTable* t, uint32_t field, Item* out);
uint16_t dbfPutValue(DbfTable* t, uint32_t field, const Item* value);
uint16_t dbfGetVarLen(DbfTable* t, uint32_t field, uint32_t* length);
uint16_t dbfDeleteRecord(DbfTable* t);
uint16_t dbfRecall(DbfTable* t);
uint16_t dbfDeleted(DbfTable* t, bool* deleted);
uint16_t dbfGetRecord(DbfTable* t, const uint8_t** image);
uint16_t dbfPutRecord(DbfTable* t, const uint8_t* image);

// Write ordering (docs/crash-safety.md): a shared append writes its blank
// record and then the header's count under the header lock; a failed write
// takes the record back (count and file stay in step). Flush writes the
// header before the end mark and the cut. Pack moves records in place and
// then writes the new count (a kill part way can leave live records twice,
// never lose one); zap empties the table before its memo file.
uint16_t dbfAppend(DbfTable* t, bool releaseOthers);
uint16_t dbfFlush(DbfTable* t);
uint16_t dbfPack(DbfTable* t);
uint16_t dbfZap(DbfTable* t);

// method 1: lock record (releasing the others), 2: add a record lock,
// 3: lock the file. *result as the lock operation reports it.
uint16_t dbfLock(DbfTable* t, uint16_t method, uint32_t record, bool* result);
uint16_t dbfUnlock(DbfTable* t, uint32_t record);  // 0: all

// Writes the header (today's date) at offset 0; false on a short write.
bool dbfWriteHeader(DbfTable* t);
// Exclusive tables: puts the appended records held back and then the
// header's count on disk (the end mark and the cut stay for the flush or
// close). A driver calls it before writing anything that names those
// records, such as index pages, so that a kill never leaves a key for a
// record the table does not count. 0, or the status of the write error.
uint16_t dbfSettle(DbfTable* t);

}  // namespace xb
