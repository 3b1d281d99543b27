#include "vm/symbols.h"

#include <cstring>

#include "base/casemap.h"
#include "base/memory.h"

namespace xb {

namespace {

// Pools: blocks of 128 records / name slots, never moved.
constexpr uint32_t POOL_BLOCK = 128;

// Everything the symbol table owns, in one place: the image it was built
// from (the caller's array), the sorted name index, the pools of records and
// name slots, and the INIT/EXIT procedure lists. freeSymbols gives the blocks
// back and puts the whole record back to this state.
struct SymbolTableState {
    const ImageModule* imageModules = nullptr;
    uint32_t imageModuleCount = 0;

    ModuleSymbol** nameIndex = nullptr;  // sorted by name
    uint32_t indexCount = 0;
    uint32_t indexCapacity = 0;

    void** poolBlocks = nullptr;
    uint32_t poolCount = 0;
    uint32_t poolCapacity = 0;
    GlobalSymbol* recordBlock = nullptr;
    uint32_t recordsUsed = POOL_BLOCK;  // full: the next record takes a new block
    ModuleSymbol* slotBlock = nullptr;
    uint32_t slotsUsed = POOL_BLOCK;
    uint32_t recordBlockCapacity = 0;  // 64-bit: entries of symbolRecords.blocks

    SymbolList initList{};
    SymbolList exitList{};
};
SymbolTableState symbols;

ModuleSymbol emptyTable[1];

uint32_t crcTable[256];

void* newPoolBlock(uint32_t bytes) {
    if (symbols.poolCount == symbols.poolCapacity) {
        uint32_t grow = symbols.poolCapacity == 0 ? 4 : symbols.poolCapacity < 9 ? 4 : symbols.poolCapacity < 65 ? 16 : symbols.poolCapacity / 4;
        symbols.poolCapacity += grow;
        symbols.poolBlocks = static_cast<void**>(memRealloc(symbols.poolBlocks, symbols.poolCapacity * sizeof(void*)));
    }
    void* b = memAllocZero(bytes);
    symbols.poolBlocks[symbols.poolCount++] = b;
    return b;
}

#if XB_TARGET_64
static_assert(POOL_BLOCK == SYMBOL_BLOCK, "record numbers count in pool blocks");

// Records are numbered through a table of their blocks (vm/symref.h).
void addRecordBlock(GlobalSymbol* block) {
    uint32_t blocks = symbolRecords.count / POOL_BLOCK;
    if (blocks == symbols.recordBlockCapacity) {
        symbols.recordBlockCapacity += symbols.recordBlockCapacity < 64 ? 16 : symbols.recordBlockCapacity / 4;
        symbolRecords.blocks = static_cast<GlobalSymbol**>(
            memRealloc(symbolRecords.blocks, symbols.recordBlockCapacity * uint32_t(sizeof(GlobalSymbol*))));
    }
    symbolRecords.blocks[blocks] = block;
}
#endif

GlobalSymbol* newRecord(ModuleSymbol* name, const Function* fn) {
    if (symbols.recordsUsed == POOL_BLOCK) {
        symbols.recordBlock = static_cast<GlobalSymbol*>(newPoolBlock(POOL_BLOCK * sizeof(GlobalSymbol)));
        symbols.recordsUsed = 0;
#if XB_TARGET_64
        addRecordBlock(symbols.recordBlock);
#endif
    }
    GlobalSymbol* r = &symbols.recordBlock[symbols.recordsUsed++];
#if XB_TARGET_64
    r->ref = ++symbolRecords.count;
#endif
    r->name = name;
    r->function = fn;
    r->hash = symbolCrc(name->name);
    return r;
}

ModuleSymbol* newNameSlot() {
    if (symbols.slotsUsed == POOL_BLOCK) {
        symbols.slotBlock = static_cast<ModuleSymbol*>(newPoolBlock(POOL_BLOCK * sizeof(ModuleSymbol)));
        symbols.slotsUsed = 0;
    }
    return &symbols.slotBlock[symbols.slotsUsed++];
}

int compareNames(const char* a, const char* b) {
    // unsigned bytes over the length + 1, so a name sorts before its extensions
    const auto* x = reinterpret_cast<const uint8_t*>(a);
    const auto* y = reinterpret_cast<const uint8_t*>(b);
    for (;; ++x, ++y) {
        if (*x != *y) return *x < *y ? -1 : 1;
        if (*x == 0) return 0;
    }
}

// Binary search; returns the record or null with *insertAt set.
GlobalSymbol* searchIndex(const char* name, uint32_t* insertAt) {
    uint32_t low = 0, high = symbols.indexCount, probe = symbols.indexCount / 2, pos = 0;
    while (low < high) {
        int c = compareNames(name, symbols.nameIndex[probe]->name);
        if (c == 0) return entryGlobal(symbols.nameIndex[probe]);
        if (c < 0) {
            high = probe;
            pos = probe;
        } else {
            low = probe + 1;
            pos = low;
        }
        probe = low + (high - low) / 2;
    }
    if (insertAt) *insertAt = pos;
    return nullptr;
}

void insertIndex(uint32_t at, ModuleSymbol* entry) {
    if (symbols.indexCount == symbols.indexCapacity) {
        symbols.indexCapacity += 128;
        symbols.nameIndex = static_cast<ModuleSymbol**>(memRealloc(symbols.nameIndex, symbols.indexCapacity * sizeof(ModuleSymbol*)));
    }
    std::memmove(&symbols.nameIndex[at + 1], &symbols.nameIndex[at], (symbols.indexCount - at) * sizeof(ModuleSymbol*));
    symbols.nameIndex[at] = entry;
    ++symbols.indexCount;
}

void appendList(SymbolList& list, GlobalSymbol* s) {
    if (list.count == list.capacity) {
        list.capacity += 4;
        list.items = static_cast<GlobalSymbol**>(memRealloc(list.items, list.capacity * sizeof(GlobalSymbol*)));
    }
    list.items[list.count++] = s;
}

// Upper-cases at most SYMBOL_NAME_MAX bytes of [s, s+n) into out (NUL-terminated).
void upperName(char* out, const char* s, uint32_t n) {
    if (n > SYMBOL_NAME_MAX) n = SYMBOL_NAME_MAX;
    for (uint32_t i = 0; i < n; ++i) out[i] = char(toUpper(uint8_t(s[i])));
    out[n] = 0;
}

GlobalSymbol* createName(const char* upper, uint32_t insertAt) {
    ModuleSymbol* slot = newNameSlot();
    std::strcpy(slot->name, upper);
    insertIndex(insertAt, slot);
    GlobalSymbol* r = newRecord(slot, nullptr);
    setEntryGlobal(slot, r);
    return r;
}

}  // namespace

uint32_t symbolCrc(const char* name) {
    if (crcTable[1] == 0) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crcTable[i] = c;
        }
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (const auto* p = reinterpret_cast<const uint8_t*>(name); *p; ++p)
        crc = crcTable[(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

void setImage(const ImageModule* modules, uint32_t count) {
    symbols.imageModules = modules;
    symbols.imageModuleCount = count;
}

const ImageModule* findImageModule(const ModuleSymbol* table) {
    for (uint32_t m = 0; m < symbols.imageModuleCount; ++m)
        if (symbols.imageModules[m].symbols == table) return &symbols.imageModules[m];
    return nullptr;
}

GlobalSymbol* registerSymbol(ModuleSymbol* entry, const Function* address) {
    if (entry->scope != SC_PUBLIC) {
        GlobalSymbol* r = newRecord(entry, address);
        if (entry->scope == SC_INIT) appendList(symbols.initList, r);
        else if (entry->scope == SC_EXIT) appendList(symbols.exitList, r);
        return r;
    }
    uint32_t at = 0;
    GlobalSymbol* found = searchIndex(entry->name, &at);
    if (found) {
        if (address) found->function = address;
        return found;
    }
    insertIndex(at, entry);
    return newRecord(entry, address);
}

void registerModuleSymbols() {
    symbols.indexCount = 0;
    uint32_t total = 0;
    for (uint32_t m = 0; m < symbols.imageModuleCount; ++m)
        if (symbols.imageModules[m].pristine)
            std::memcpy(symbols.imageModules[m].symbols, symbols.imageModules[m].pristine, symbols.imageModules[m].count * sizeof(ModuleSymbol));
    for (uint32_t m = 0; m < symbols.imageModuleCount; ++m)
        for (uint32_t i = 0; i < symbols.imageModules[m].count; ++i)
            if (symbols.imageModules[m].symbols[i].name[0]) ++total;
    symbols.indexCapacity = total ? total : 1;
    symbols.nameIndex = static_cast<ModuleSymbol**>(memAlloc(symbols.indexCapacity * sizeof(ModuleSymbol*)));
    for (uint32_t m = 0; m < symbols.imageModuleCount; ++m) {
        for (uint32_t i = 0; i < symbols.imageModules[m].count; ++i) {
            ModuleSymbol* e = &symbols.imageModules[m].symbols[i];
            if (!e->name[0]) continue;
            GlobalSymbol* r = registerSymbol(e, imageFunction(symbols.imageModules[m], e));
            // entries that name an existing record keep pointing at it
            setEntryGlobal(e, r);
        }
    }
    char letter[2] = {0, 0};
    for (int n = 1; n <= 11; ++n) {
        letter[0] = char('A' + n - 1);
        findOrCreateSymbol(letter)->aliasArea = uint16_t(n);
    }
    findOrCreateSymbol("M")->aliasArea = 0xFFFF;
    // Native functions reach every name that no module defined.
    for (NativeRegistration* r = nativeRegistrations(); r; r = r->next) {
        GlobalSymbol* s = findOrCreateSymbol(r->name);
        if (!s->function) s->function = r->function;
    }
}

GlobalSymbol* findSymbol(const char* name) {
    char upper[SYMBOL_NAME_MAX + 1];
    upperName(upper, name, uint32_t(std::strlen(name)));
    return searchIndex(upper, nullptr);
}

GlobalSymbol* findSymbolTrimmed(const char* name) {
    uint32_t n = uint32_t(std::strlen(name));
    if (n > SYMBOL_NAME_MAX) n = SYMBOL_NAME_MAX;
    uint32_t b = 0;
    while (b < n && name[b] == ' ') ++b;
    while (n > b && name[n - 1] == ' ') --n;
    char upper[SYMBOL_NAME_MAX + 1];
    upperName(upper, name + b, n - b);
    return searchIndex(upper, nullptr);
}

GlobalSymbol* findOrCreateSymbol(const char* name) {
    while (*name == ' ' || *name == '\t' || *name == '\n') ++name;
    uint32_t n = 0;
    while (name[n] && name[n] != ' ' && n < SYMBOL_NAME_MAX) ++n;
    char upper[SYMBOL_NAME_MAX + 1];
    upperName(upper, name, n);
    uint32_t at = 0;
    if (GlobalSymbol* s = searchIndex(upper, &at)) return s;
    return createName(upper, at);
}

ModuleSymbol* firstModuleSymbol() {
    for (uint32_t m = 0; m < symbols.imageModuleCount; ++m)
        for (uint32_t i = 0; i < symbols.imageModules[m].count; ++i)
            if (symbols.imageModules[m].symbols[i].name[0]) return &symbols.imageModules[m].symbols[i];
    return nullptr;
}

ModuleSymbol* emptyModuleTable() { return emptyTable; }

SymbolList& initProcedures() { return symbols.initList; }
SymbolList& exitProcedures() { return symbols.exitList; }

void freeSymbolList(SymbolList& list) {
    memFree(list.items);
    list.items = nullptr;
    list.count = list.capacity = 0;
}

void freeSymbols() {
    for (uint32_t i = 0; i < symbols.poolCount; ++i) memFree(symbols.poolBlocks[i]);
    memFree(symbols.poolBlocks);
#if XB_TARGET_64
    memFree(symbolRecords.blocks);
    symbolRecords = {};
#endif
    memFree(symbols.nameIndex);
    memFree(symbols.initList.items);
    memFree(symbols.exitList.items);
    symbols = SymbolTableState{};
}

uint32_t symbolCount() { return symbols.indexCount; }

}  // namespace xb
