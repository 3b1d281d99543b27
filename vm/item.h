// The 16-byte value cell of the virtual machine and the heap objects it points at.
//
// Byte layout (i386): 0..1 type code; 2..3 display width (String: length low
// 16 bits); 4..5 decimals (String: length high 16 bits); 6..7 unused; 8..15 the
// value. Bytes a type does not use are kept zero because operators copy whole
// Items.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

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
            uint8_t receiver;  // Array pushed as a method receiver
            uint8_t pad13;
            uint16_t classHandle;
        } o;
        uint16_t area;  // Alias: work area; MemvarRef: slot
        uint32_t raw[2];
    } v;
};

static_assert(sizeof(void*) == 4, "the runtime is built for 32-bit targets only");
static_assert(sizeof(Item) == 16, "Item is 16 bytes");
static_assert(offsetof(Item, width) == 2 && offsetof(Item, decimals) == 4, "Item layout");
static_assert(offsetof(Item, v) == 8, "Item value at byte 8");

// Heap objects: a header followed by the body an Item points at.
enum ObjectKind : uint8_t { K_STRING = 1, K_CONSTSTRING = 2, K_ARRAY = 3, K_BLOCK = 4 };

struct ObjectHeader {
    uint8_t kind;
    uint8_t colour;
    uint16_t pad;
    ObjectHeader* prev;
    ObjectHeader* next;
};

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
static_assert(sizeof(ObjectHeader) == 12 && sizeof(ObjectBody) == 20, "heap object layout");

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
