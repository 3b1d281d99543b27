// The records the database layer and its drivers share: the common part of
// every work area, and the argument records of the method-table operations.
//
// Ownership: an area record is allocated by the layer (its size from the
// driver's structSize) and freed by the generic release. Every Item the area
// keeps between calls (result, filter, locate scope, relation keys) is a
// static-area temporary (tempAlloc), so the collector sees what it holds;
// the pointers below are null when the area holds nothing there.
#pragma once
#include <cstddef>
#include <cstdint>

#include "rdd/method_table.h"
#include "vm/fields.h"
#include "vm/item.h"

namespace xb {

struct GlobalSymbol;

constexpr uint16_t LOCATE_ITEMS = 7;

// The common part of every driver's area record; a driver's record starts
// with it and appends its own fields.
struct WorkArea {
    RddMethodTable* methods;  // the driver's resolved table
    uint16_t areaNo;          // 1..255 once open
    GlobalSymbol* alias;      // bound alias symbol, or null
    uint16_t fieldCapacity;   // FieldDescriptors allocated
    uint16_t fieldCount;      // FieldDescriptors defined
    FieldDescriptor* fields;
    Item* result;  // receives the value of blocks evaluated for the area
    uint32_t atTop, atBottom;  // set by goTop / goBottom, cleared by skips
    uint32_t bof, eof, found;
    Item* locateScope[LOCATE_ITEMS];
    Item* filterBlock;
    Item* filterText;
    RelationRecord* relations;  // relations that start here, in the order set
    uint16_t parentCount;       // relations that lead into this area
    // Blocks being evaluated for this area by one of its operations; while
    // above 0 the area cannot be closed (the operation still uses it).
    uint16_t busy;
    uint32_t reserved[6];
};
#if defined(__i386__) || defined(_M_IX86)
static_assert(offsetof(WorkArea, areaNo) == 4 && offsetof(WorkArea, alias) == 8, "WorkArea i386");
static_assert(offsetof(WorkArea, fieldCapacity) == 12 && offsetof(WorkArea, fields) == 16, "WorkArea i386");
static_assert(offsetof(WorkArea, result) == 20 && offsetof(WorkArea, atTop) == 24, "WorkArea i386");
static_assert(offsetof(WorkArea, bof) == 32 && offsetof(WorkArea, found) == 40, "WorkArea i386");
static_assert(offsetof(WorkArea, locateScope) == 44 && offsetof(WorkArea, filterBlock) == 72,
              "WorkArea i386");
static_assert(offsetof(WorkArea, relations) == 80 && offsetof(WorkArea, parentCount) == 84, "WorkArea i386");
static_assert(sizeof(WorkArea) == 112, "the common part is 112 bytes on i386");
#endif
// What the generic structSize reports.
constexpr uint16_t WORKAREA_SIZE = uint16_t(sizeof(WorkArea));

// A field as a driver defines it (addField): the Item type of its values.
struct FieldDefinition {
    const char* name;  // as given; the generic addField upper-cases nothing
    uint16_t type;     // T_STRING, T_MEMO, T_DOUBLE, T_INTEGER, T_DATE, T_LOGICAL, or 0
    uint16_t subtype;  // 'F' for fields defined with type F, else 0
    uint16_t length;
    uint16_t decimals;
};

// Passed to open and create.
struct OpenInfo {
    uint16_t areaNo;
    const char* fileName;
    const char* alias;  // null or empty: no alias
    uint16_t shared;
    uint16_t readOnly;
};

// The records a scope loop selects (dbEval, trans, sort). Null or non-block
// conditions are absent; next and record count only when numeric; rest only
// when a logical true.
struct ScopeInfo {
    const Item* action;  // dbEval: the block evaluated for each selected record
    const Item* forCondition;
    const Item* whileCondition;
    const Item* next;
    const Item* record;
    const Item* rest;
};

// A field pair of a transfer: 0-based field indexes.
struct FieldPair {
    uint16_t source;
    uint16_t destination;
};
constexpr uint16_t TRANSFER_WHOLE_ALLOWED = 1;  // the caller allows whole-record copy
constexpr uint16_t TRANSFER_WHOLE_CHOSEN = 2;   // the driver chose it
struct TransferInfo {
    ScopeInfo scope;  // scope.action is not used
    WorkArea* destination;
    uint16_t flags;
    uint16_t pairCount;
    const FieldPair* pairs;
};

// A sort key: 0-based field index and the flags the sorting driver defines.
struct SortKey {
    uint16_t field;
    uint16_t flags;
};
struct SortInfo {
    TransferInfo transfer;  // scope, destination and field pairs of the sorted copy
    uint16_t keyCount;
    const SortKey* keys;
};

// One relation, in the parent's list. The key block and text are static-area
// temporaries owned by the record (text null when none was given).
struct RelationRecord {
    Item* keyBlock;
    Item* keyText;
    WorkArea* parent;
    WorkArea* child;
    RelationRecord* next;
};

constexpr uint16_t LOCK_RECORD = 1;  // lock this record alone (others released)
constexpr uint16_t LOCK_ADD = 2;     // add the record to the locked set
constexpr uint16_t LOCK_FILE = 3;
struct LockInfo {
    uint32_t record;  // 0: the current record
    uint16_t method;
    uint16_t pad;
    uint32_t result;  // set by the driver: non-zero when the lock is held
};

// Information codes of the info operation that the layer itself asks for.
enum RddInfoCode : uint16_t {
    DBI_ISDBF = 1,          // a table of records (true for table drivers)
    DBI_CANPUTREC = 2,      // takes whole record images
    DBI_GETHEADERSIZE = 3,  // header length in bytes
    DBI_LASTUPDATE = 4,     // date of the last update
    DBI_GETRECSIZE = 7,     // record length in bytes
    DBI_GETLOCKARRAY = 8,   // array of the locked record numbers
    DBI_TABLEEXT = 9,       // default table file extension
    DBI_RELATIONCOUNT = 22,
    DBI_BOF = 26,
    DBI_EOF = 27,
    DBI_LOCATEFOR = 28,
    DBI_FOUND = 29,
    DBI_FIELDCOUNT = 30,
    DBI_ALIAS = 33,
    DBI_DRIVERVERSION = 101,
    DBI_LAYERVERSION = 102,
};

// Buffers the name-writing operations fill (alias, fieldName, sysName).
constexpr uint32_t RDD_NAME_BUFFER = 64;

}  // namespace xb
