// The 16-byte value cell of the virtual machine and the heap objects it points at.
//
// Byte layout (i386): 0..1 type code; 2..3 display width (String: length low
// 16 bits); 4..5 decimals (String: length high 16 bits); 6..7 unused; 8..15 the
// value (heap types and Symbols: the pointer in 8..11; Arrays: the receiver
// mark in byte 12 and the class handle in 14..15).
// Byte layout (x86_64): the same, except that a pointer fills 8..15, so the
// two Array fields that do not fit beside it move into bytes the Array type
// does not otherwise use: the class handle into 2..3 and the receiver mark
// into byte 6. Use itemClassHandle/itemReceiver and their setters, never the
// bytes.
// Bytes a type does not use are kept zero because operators copy whole Items
// (plain bytes, on every target).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vm/target.h"

namespace xb {

enum ItemType : uint16_t {
    T_NIL = 0x0000,
    T_WORD = 0x0001,
    T_INTEGER = 0x0002,
    T_DOUBLE = 0x0008,
    T_DATE = 0x0020,
    T_LOGICAL = 0x0080,
    T_SYMBOL = 0x0100,
    T_ALIAS = 0x0200,
    T_STRING = 0x0400,
    T_MEMOBIT = 0x0800,
    T_MEMO = 0x0C00,
    T_BLOCK = 0x1000,
    T_ITEMREF = 0x2000,
    T_MEMVARREF = 0x4000,
    T_ARRAY = 0x8000,
};

// Type classes tested with masks.
constexpr uint16_t M_REF = 0x6000;
constexpr uint16_t M_NUMDATE = 0x002A;
constexpr uint16_t M_INTDATE = 0x0022;
constexpr uint16_t M_NUMERIC = 0x000A;
constexpr uint16_t M_STRING = 0x0400;
constexpr uint16_t M_HEAP = 0x9400;
constexpr uint16_t M_ANY = 0xFFFF;

struct GlobalSymbol;
struct ObjectBody;

struct Item {
    uint16_t type;
    uint16_t width;     // numbers: display width; strings: length bits 0..15
    uint16_t decimals;  // Double: decimals; strings: length bits 16..31
    uint16_t pad6;
    union {
        int32_t l;  // Integer, Word, Date, Logical
        double d;
        struct {
            void* ptr;  // Symbol: GlobalSymbol*; ItemRef: Item*; heap types: ObjectBody*
#if !XB_TARGET_64
            uint8_t receiver;  // Array pushed as a method receiver
            uint8_t pad13;
            uint16_t classHandle;
#endif
        } o;
        uint16_t area;  // Alias: work area; MemvarRef: slot
        uint32_t raw[2];
    } v;
};

static_assert(sizeof(Item) == 16, "Item is 16 bytes on every target");
static_assert(offsetof(Item, width) == 2 && offsetof(Item, decimals) == 4 && offsetof(Item, pad6) == 6, "Item layout");
static_assert(offsetof(Item, v) == 8, "Item value at byte 8");
static_assert(offsetof(Item, v.o.ptr) == 8 && sizeof(Item::v) == 8, "one pointer in the value bytes");

// Where an Array Item keeps its receiver mark and class handle.
#if XB_TARGET_64
constexpr size_t ITEM_RECEIVER_AT = 6;
constexpr size_t ITEM_CLASS_AT = 2;
static_assert(sizeof(void*) == 8 && offsetof(Item, pad6) == ITEM_RECEIVER_AT && offsetof(Item, width) == ITEM_CLASS_AT,
              "x86_64: receiver mark in byte 6, class handle in 2..3");
#else
constexpr size_t ITEM_RECEIVER_AT = 12;
constexpr size_t ITEM_CLASS_AT = 14;
static_assert(sizeof(void*) == 4 && offsetof(Item, v.o.receiver) == ITEM_RECEIVER_AT &&
                  offsetof(Item, v.o.classHandle) == ITEM_CLASS_AT,
              "i386: receiver mark in byte 12, class handle in 14..15");
#endif

// An Array pushed as a method receiver (PUSHSELF, super calls): 1, else 0.
inline uint8_t itemReceiver(const Item* it) { return reinterpret_cast<const uint8_t*>(it)[ITEM_RECEIVER_AT]; }
inline void setItemReceiver(Item* it, uint8_t mark) { reinterpret_cast<uint8_t*>(it)[ITEM_RECEIVER_AT] = mark; }
// The class a receiver's messages are looked up in.
inline uint16_t itemClassHandle(const Item* it) {
    uint16_t h;
    std::memcpy(&h, reinterpret_cast<const uint8_t*>(it) + ITEM_CLASS_AT, sizeof h);
    return h;
}
inline void setItemClassHandle(Item* it, uint16_t h) {
    std::memcpy(reinterpret_cast<uint8_t*>(it) + ITEM_CLASS_AT, &h, sizeof h);
}

// Heap objects: a header followed by the body an Item points at.
enum ObjectKind : uint8_t { K_STRING = 1, K_CONSTSTRING = 2, K_ARRAY = 3, K_BLOCK = 4 };

// 0 kind, 1 mark, 2..3 size class; x86_64 pads to 8 bytes so that the body
// keeps its pointer aligned (4 bytes on i386, 8 on x86_64). The collector
// finds objects by sweeping the pools' chunks in address order (and a list
// of its own for the few objects too large for a pool), so the header needs
// no links.
struct ObjectHeader {
    uint8_t kind;
    uint8_t mark;        // 0 unmarked, 1 marked by the running collection, 2 permanent
    uint16_t sizeClass;  // the pool class of the object's cell; 0: a block of its own
#if XB_TARGET_64
    uint32_t pad;
#endif
};

// i386: 0 flags, 4 length, 8 capacity, 12 classHandle, 16 data (20 bytes).
// x86_64: the same up to 16; data is 8 bytes (24 bytes).
struct ObjectBody {
    uint32_t flags;     // arrays: 2 once the frame whose locals it holds returned
    uint32_t length;    // string bytes or array elements
    uint32_t capacity;  // array element slots
    uint16_t classHandle;
    uint16_t pad;
    void* data;  // string bytes, element Items, or the Codeblock record
};

struct HeapObject {
    ObjectHeader h;
    ObjectBody b;
};
static_assert(offsetof(ObjectBody, classHandle) == 12 && offsetof(ObjectBody, data) == 16, "object body layout");
#if XB_TARGET_64
static_assert(sizeof(ObjectHeader) == 8 && sizeof(ObjectBody) == 24 && sizeof(HeapObject) == 32,
              "heap object layout on x86_64");
#else
static_assert(sizeof(ObjectHeader) == 4 && sizeof(ObjectBody) == 20 && sizeof(HeapObject) == 24,
              "heap object layout on i386");
#endif

inline HeapObject* objectOf(ObjectBody* body) {
    return reinterpret_cast<HeapObject*>(reinterpret_cast<char*>(body) - offsetof(HeapObject, b));
}

// Small inline accessors used everywhere.
inline void itemClear(Item* it) { std::memset(it, 0, sizeof(Item)); }
inline bool isString(const Item* it) { return (it->type & M_STRING) != 0; }
inline bool isNumeric(const Item* it) { return (it->type & M_NUMERIC) != 0; }
inline bool isArray(const Item* it) { return (it->type & T_ARRAY) != 0; }
inline uint32_t strLength(const Item* it) { return uint32_t(it->width) | (uint32_t(it->decimals) << 16); }
inline void setStrLength(Item* it, uint32_t n) {
    it->width = uint16_t(n);
    it->decimals = uint16_t(n >> 16);
}
inline ObjectBody* bodyOf(const Item* it) { return static_cast<ObjectBody*>(it->v.o.ptr); }
inline const char* strData(const Item* it) { return static_cast<const char*>(bodyOf(it)->data); }
inline Item* arrayItems(const Item* it) { return static_cast<Item*>(bodyOf(it)->data); }
inline uint32_t arrayLength(const Item* it) { return bodyOf(it)->length; }
inline GlobalSymbol* symbolOf(const Item* it) { return static_cast<GlobalSymbol*>(it->v.o.ptr); }

// Double -> 32-bit integer, truncated toward zero. NaN, infinities and values
// outside the 32-bit range give 0x80000000, as the i386 conversion does.
inline int32_t doubleToInt(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

}  // namespace xb
