// The index file format: the header page, key pages and their items, the
// page geometry derived from the key size, the key text of each value type
// and the key comparison. Everything here is pure (no file access): the
// B-tree engine (rdd/ntx/ntx_tree.h) reads pages into buffers and asks this
// module what the bytes mean and whether they can be trusted.
//
// File layout (little-endian, 1024-byte pages):
//   page 0      the header (NtxHeader below)
//   page k > 0  key pages and free pages
// Key page: a 16-bit key count n, an offset table of max + 1 16-bit entries
// (the page offsets of the item slots in key order; entry n is the slot
// whose child is the rightmost subtree; entries n+1..max are the free
// slots), then max + 1 item slots. Item: child page offset (4 bytes, 0 in a
// leaf), record number (4 bytes), key (key size bytes). The child of item i
// holds the keys not greater than key i; the child of slot n the keys after
// the last key. A free page holds the offset of the next free page in the
// child field of its slot 0.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vm/item.h"

namespace xb {

static_assert(std::endian::native == std::endian::little,
              "index pages are read and written in host byte order");

constexpr uint32_t NTX_PAGE_SIZE = 1024;
constexpr uint16_t NTX_MAX_KEY_SIZE = 256;
constexpr uint32_t NTX_HEADER_READ = 548;   // bytes read from the header at open
constexpr uint32_t NTX_HEADER_SHARED = 12;  // bytes rewritten after a change in shared use
constexpr uint16_t NTX_MAX_DEPTH = 1023;    // levels of the descent stack
constexpr uint16_t NTX_BUILD_LEVELS = 20;   // levels of a bottom-up build
constexpr uint16_t NTX_TAG_LENGTH = 10;

// Header signature bits.
constexpr uint16_t NTX_SIG_CONDITION = 0x01;  // has a for-condition or is descending
constexpr uint16_t NTX_SIG_BASE = 0x06;       // bits 1 and 2: always set by creation
constexpr uint16_t NTX_SIG_PARTIAL = 0x08;    // built from a restricted scope
constexpr uint16_t NTX_SIG_LOCK_HIGH = 0x10;  // lock byte at 0xFFFFFFFF
constexpr uint16_t NTX_SIG_ALT_LOCK = 0x20;   // lock byte at 1025 * slot + 1026

// The header page as it lies on disk.
struct NtxHeader {
    uint16_t signature;
    uint16_t changeCounter;
    uint32_t root;
    uint32_t freeList;
    uint16_t itemSize;
    uint16_t keySize;
    uint16_t keyDecimals;
    uint16_t maxKeys;
    uint16_t halfPage;
    char keyExpr[256];  // NUL-terminated when shorter
    uint8_t unique;
    uint8_t zero1;
    uint8_t descending;
    uint8_t zero2;
    char forExpr[256];
    char tagName[486];  // only the first NTX_TAG_LENGTH characters are used
};
static_assert(sizeof(NtxHeader) == NTX_PAGE_SIZE, "the header is one page");
static_assert(offsetof(NtxHeader, changeCounter) == 2 && offsetof(NtxHeader, root) == 4 &&
                  offsetof(NtxHeader, freeList) == 8 && offsetof(NtxHeader, itemSize) == 12 &&
                  offsetof(NtxHeader, keySize) == 14 && offsetof(NtxHeader, keyDecimals) == 16 &&
                  offsetof(NtxHeader, maxKeys) == 18 && offsetof(NtxHeader, halfPage) == 20 &&
                  offsetof(NtxHeader, keyExpr) == 22 && offsetof(NtxHeader, unique) == 278 &&
                  offsetof(NtxHeader, descending) == 280 && offsetof(NtxHeader, forExpr) == 282 &&
                  offsetof(NtxHeader, tagName) == 538,
              "header field offsets");

// The fixed part of an item; the key follows it.
struct NtxItemHead {
    uint32_t child;
    uint32_t record;
};
static_assert(sizeof(NtxItemHead) == 8 && offsetof(NtxItemHead, record) == 4, "item layout");

// Results of the format checks and of the engine built on them: a type of
// its own, so that it mixes with no other status word. NTX_OK (0) is
// success; ntxErrorText names each failure in one line.
//
// Two results carry what is not the engine's own: NTX_STOPPED, when a
// caller's callback (a build's pair source, a unique update's search, a
// table check's key reader) asked to stop, the callback keeping its own
// reason; and a failure of the external sort under a build, whose code is
// the internal error number the sort gave (4110 and up; ntxSortErrorNumber).
struct NtxStatus {
    uint16_t code;
    constexpr explicit operator bool() const { return code != 0; }
    friend constexpr bool operator==(NtxStatus a, NtxStatus b) { return a.code == b.code; }
    friend constexpr bool operator!=(NtxStatus a, NtxStatus b) { return a.code != b.code; }
};
constexpr NtxStatus NTX_OK{0};
constexpr NtxStatus NTX_ERR_SIGNATURE{1};    // neither bit 1 nor bit 2 of the signature
constexpr NtxStatus NTX_ERR_KEY_SIZE{2};     // key size 0 or above 256
constexpr NtxStatus NTX_ERR_GEOMETRY{3};     // item size, maximum or half page do not follow the key size
constexpr NtxStatus NTX_ERR_ROOT{4};         // root offset outside the file or not on a page boundary
constexpr NtxStatus NTX_ERR_FREE_LIST{5};    // free offset outside the file, unaligned, or a free-list cycle
constexpr NtxStatus NTX_ERR_PAGE{6};         // key count above the maximum or offset table outside the page
constexpr NtxStatus NTX_ERR_CHILD{7};        // a child offset outside the file or not on a page boundary
constexpr NtxStatus NTX_ERR_DEPTH{8};        // the descent went deeper than its stack (a cycle or a hostile tree)
constexpr NtxStatus NTX_ERR_READ{9};         // the file could not be read (short read)
constexpr NtxStatus NTX_ERR_WRITE{10};       // the file could not be written
constexpr NtxStatus NTX_ERR_TOO_DEEP{11};    // a bottom-up build needed more than 20 levels
constexpr NtxStatus NTX_ERR_SHORT{12};       // the file is shorter than its header
constexpr NtxStatus NTX_ERR_ORDER{13};       // keys out of order (found by the checker)
constexpr NtxStatus NTX_ERR_CYCLE{14};       // a page reached twice (found by the checker)
constexpr NtxStatus NTX_ERR_EMPTY_PAGE{15};  // a page without keys where a key is needed
constexpr NtxStatus NTX_ERR_DUPLICATE{16};   // a key twice in a unique order (found by the checker)
constexpr NtxStatus NTX_ERR_TABLE{17};       // the order does not match its table (found by the table check)
constexpr NtxStatus NTX_STOPPED{18};         // a callback of the caller asked to stop
// The internal error number of a failed external sort, 0 for any other result.
constexpr uint16_t ntxSortErrorNumber(NtxStatus s) { return s.code >= 4110 ? s.code : 0; }
const char* ntxErrorText(NtxStatus status);

// Page geometry of a key size.
struct NtxGeometry {
    uint16_t itemSize;  // key size + 8
    uint16_t maxKeys;   // 2 * halfPage
    uint16_t halfPage;  // (1020 / (key size + 10) - 1) / 2
};
NtxGeometry ntxGeometry(uint16_t keySize);  // keySize 1..256

// Header checks done at open: signature, key size and geometry, the root
// (a page boundary, at least 1024, the whole page inside fileSize) and the
// free-list head (0 or the same). Returns the first violation.
NtxStatus ntxValidateHeader(const NtxHeader& h, uint32_t fileSize);

// A fresh header: signature, change counter 1, root 1024, no free page,
// geometry of keySize, the texts cut to 256 bytes (key and condition) and
// to 10 characters upper-cased (tag). forExpr and tag may be null.
struct NtxHeaderInfo {
    uint16_t keySize;
    uint16_t keyDecimals;
    const char* keyExpr;
    const char* forExpr;
    const char* tag;
    bool unique;
    bool descending;
    bool partial;
};
void ntxInitHeader(NtxHeader* h, const NtxHeaderInfo& info);

// ---- key pages: read-only views over a 1024-byte buffer

inline uint16_t ntxGet16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t ntxGet32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void ntxPut16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void ntxPut32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline uint16_t ntxPageCount(const uint8_t* page) { return ntxGet16(page); }
inline uint16_t ntxSlotOffset(const uint8_t* page, uint16_t slot) { return ntxGet16(page + 2 + 2 * slot); }
// Only for pages that passed ntxCheckPage (every slot offset inside the page).
inline uint8_t* ntxSlot(uint8_t* page, uint16_t slot) { return page + ntxSlotOffset(page, slot); }
inline const uint8_t* ntxSlot(const uint8_t* page, uint16_t slot) {
    return page + ntxSlotOffset(page, slot);
}
inline uint32_t ntxSlotChild(const uint8_t* page, uint16_t slot) { return ntxGet32(ntxSlot(page, slot)); }
inline uint32_t ntxSlotRecord(const uint8_t* page, uint16_t slot) {
    return ntxGet32(ntxSlot(page, slot) + 4);
}
inline const char* ntxSlotKey(const uint8_t* page, uint16_t slot) {
    return reinterpret_cast<const char*>(ntxSlot(page, slot) + 8);
}

// An empty page: count 0, slot i at 2 * max + 4 + i * item size, items zero.
void ntxInitPage(uint8_t* page, const NtxGeometry& g);
// The page's count is at most the maximum and its max + 1 offset entries
// are distinct item slots that lie wholly inside the page. Every page read
// from a file passes this before any item of it is touched.
NtxStatus ntxCheckPage(const uint8_t* page, const NtxGeometry& g);
// A child (or free-list) offset that may be followed: a page boundary
// after the header whose page lies inside fileSize.
inline bool ntxPageOffsetValid(uint32_t offset, uint32_t fileSize) {
    return offset >= NTX_PAGE_SIZE && offset % NTX_PAGE_SIZE == 0 && fileSize >= NTX_PAGE_SIZE &&
           offset <= fileSize - NTX_PAGE_SIZE;
}

// ---- key text

// Character value: cut or blank-padded to keySize.
void ntxKeyFromText(const char* text, uint32_t length, uint16_t keySize, char* out);
// Number: formatted in keySize characters with keyDecimals, then the
// numeric transform below.
void ntxKeyFromNumber(double value, uint16_t keySize, uint16_t keyDecimals, char* out);
// Leading blanks become '0'; when the first non-blank is '-' it becomes ','
// and every digit d after it the character 92 - d, so that negative numbers
// sort first and larger magnitudes before smaller ones. Also applied to the
// bytes of a numeric field taken straight from a record.
void ntxNumericTransform(char* text, uint16_t length);
// Date: the eight digits YYYYMMDD (eight blanks for the empty date), padded
// or cut to keySize.
void ntxKeyFromDate(int32_t jdn, uint16_t keySize, char* out);
// Logical: "T" or "F", padded or cut to keySize.
void ntxKeyFromLogical(bool value, uint16_t keySize, char* out);
// Any value Item: 0, or 1242 (a type that cannot be a key: NIL, array,
// block...), with out untouched.
uint16_t ntxKeyFromItem(const Item& value, uint16_t keySize, uint16_t keyDecimals, char* out);

// The size (and decimals) a key expression value gives a new order: date 8,
// logical 1, string its length (at most 256), number its width (at most
// 256) and for a double its decimals (at most 254). keySize 0 means the
// value cannot be a key (or is an empty string).
struct NtxKeyShape {
    uint16_t keySize;
    uint16_t keyDecimals;
};
NtxKeyShape ntxKeyShape(const Item& value);

// Key comparison through the collation over length bytes, negated for a
// descending order: -1, 0 or 1.
int ntxCompare(const char* a, const char* b, uint16_t length, bool descending);

}  // namespace xb
