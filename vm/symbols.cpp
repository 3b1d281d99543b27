#include "vm/symbols.h"

#include <cstring>

#include "base/casemap.h"
#include "base/memory.h"

namespace xb {

namespace {

const ImageModule* imageModules;
uint32_t imageModuleCount;

ModuleSymbol** nameIndex;
uint32_t indexCount;
uint32_t indexCapacity;

// Pools: blocks of 128 records / name slots, never moved.
constexpr uint32_t POOL_BLOCK = 128;
void** poolBlocks;
uint32_t poolCount;
uint32_t poolCapacity;
GlobalSymbol* recordBlock;
uint32_t recordsUsed = POOL_BLOCK;
ModuleSymbol* slotBlock;
uint32_t slotsUsed = POOL_BLOCK;

SymbolList initList;
SymbolList exitList;

ModuleSymbol emptyTable[1];

uint32_t crcTable[256];

void* newPoolBlock(uint32_t bytes) {
    if (poolCount == poolCapacity) {
        uint32_t grow = poolCapacity == 0 ? 4 : poolCapacity < 9 ? 4 : poolCapacity < 65 ? 16 : poolCapacity / 4;
        poolCapacity += grow;
        poolBlocks = static_cast<void**>(memRealloc(poolBlocks, poolCapacity * sizeof(void*)));
    }
    void* b = memAllocZero(bytes);
    poolBlocks[poolCount++] = b;
    return b;
}

#if XB_TARGET_64
static_assert(POOL_BLOCK == SYMBOL_BLOCK, "record numbers count in pool blocks");
uint32_t recordBlockCapacity;

// Records are numbered through a table of their blocks (vm/symref.h).
void addRecordBlock(GlobalSymbol* block) {
    uint32_t blocks = symbolRecords.count / POOL_BLOCK;
    if (blocks == recordBlockCapacity) {
        recordBlockCapacity += recordBlockCapacity < 64 ? 16 : recordBlockCapacity / 4;
        symbolRecords.blocks = static_cast<GlobalSymbol**>(
            memRealloc(symbolRecords.blocks, recordBlockCapacity * uint32_t(sizeof(GlobalSymbol*))));
    }
    symbolRecords.blocks[blocks] = block;
}
#endif

GlobalSymbol* newRecord(ModuleSymbol* name, const Function* fn) {
    if (recordsUsed == POOL_BLOCK) {
        recordBlock = static_cast<GlobalSymbol*>(newPoolBlock(POOL_BLOCK * sizeof(GlobalSymbol)));
        recordsUsed = 0;
#if XB_TARGET_64
        addRecordBlock(recordBlock);
#endif
    }
    GlobalSymbol* r = &recordBlock[recordsUsed++];
#if XB_TARGET_64
    r->ref = ++symbolRecords.count;
#endif
    r->name = name;
    r->function = fn;
    r->hash = symbolCrc(name->name);
    return r;
}

ModuleSymbol* newNameSlot() {
    if (slotsUsed == POOL_BLOCK) {
        slotBlock = static_cast<ModuleSymbol*>(newPoolBlock(POOL_BLOCK * sizeof(ModuleSymbol)));
        slotsUsed = 0;
    }
    return &slotBlock[slotsUsed++];
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
    uint32_t low = 0, high = indexCount, probe = indexCount / 2, pos = 0;
    while (low < high) {
        int c = compareNames(name, nameIndex[probe]->name);
        if (c == 0) return entryGlobal(nameIndex[probe]);
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
    if (indexCount == indexCapacity) {
        indexCapacity += 128;
        nameIndex = static_cast<ModuleSymbol**>(memRealloc(nameIndex, indexCapacity * sizeof(ModuleSymbol*)));
    }
    std::memmove(&nameIndex[at + 1], &nameIndex[at], (indexCount - at) * sizeof(ModuleSymbol*));
    nameIndex[at] = entry;
    ++indexCount;
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
    imageModules = modules;
    imageModuleCount = count;
}

const ImageModule* findImageModule(const ModuleSymbol* table) {
    for (uint32_t m = 0; m < imageModuleCount; ++m)
        if (imageModules[m].symbols == table) return &imageModules[m];
    return nullptr;
}

GlobalSymbol* registerSymbol(ModuleSymbol* entry, const Function* address) {
    if (entry->scope != SC_PUBLIC) {
        GlobalSymbol* r = newRecord(entry, address);
        if (entry->scope == SC_INIT) appendList(initList, r);
        else if (entry->scope == SC_EXIT) appendList(exitList, r);
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
    indexCount = 0;
    uint32_t total = 0;
    for (uint32_t m = 0; m < imageModuleCount; ++m)
        if (imageModules[m].pristine)
            std::memcpy(imageModules[m].symbols, imageModules[m].pristine, imageModules[m].count * sizeof(ModuleSymbol));
    for (uint32_t m = 0; m < imageModuleCount; ++m)
        for (uint32_t i = 0; i < imageModules[m].count; ++i)
            if (imageModules[m].symbols[i].name[0]) ++total;
    indexCapacity = total ? total : 1;
    nameIndex = static_cast<ModuleSymbol**>(memAlloc(indexCapacity * sizeof(ModuleSymbol*)));
    for (uint32_t m = 0; m < imageModuleCount; ++m) {
        for (uint32_t i = 0; i < imageModules[m].count; ++i) {
            ModuleSymbol* e = &imageModules[m].symbols[i];
            if (!e->name[0]) continue;
            GlobalSymbol* r = registerSymbol(e, imageFunction(imageModules[m], e));
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
    for (uint32_t m = 0; m < imageModuleCount; ++m)
        for (uint32_t i = 0; i < imageModules[m].count; ++i)
            if (imageModules[m].symbols[i].name[0]) return &imageModules[m].symbols[i];
    return nullptr;
}

ModuleSymbol* emptyModuleTable() { return emptyTable; }

SymbolList& initProcedures() { return initList; }
SymbolList& exitProcedures() { return exitList; }

void freeSymbolList(SymbolList& list) {
    memFree(list.items);
    list.items = nullptr;
    list.count = list.capacity = 0;
}

void freeSymbols() {
    for (uint32_t i = 0; i < poolCount; ++i) memFree(poolBlocks[i]);
    memFree(poolBlocks);
    poolBlocks = nullptr;
    poolCount = poolCapacity = 0;
    recordsUsed = slotsUsed = POOL_BLOCK;
#if XB_TARGET_64
    memFree(symbolRecords.blocks);
    symbolRecords = {};
    recordBlockCapacity = 0;
#endif
    memFree(nameIndex);
    nameIndex = nullptr;
    indexCount = indexCapacity = 0;
    freeSymbolList(initList);
    freeSymbolList(exitList);
}

uint32_t symbolCount() { return indexCount; }

}  // namespace xb
