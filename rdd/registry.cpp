#include "rdd/registry.h"

#include <cstring>

#include "rdd/default_methods.h"
#include "vm/error.h"
#include "base/memory.h"

namespace xb {

namespace {

DriverRegistry registry;
char* defaultName;  // normalised heap copy, null when none was set

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool sameName(const uint8_t* prefixed, const char* name) {
    size_t n = std::strlen(name);
    if (prefixed[0] != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (upperAscii(char(prefixed[1 + i])) != upperAscii(name[i])) return false;
    return true;
}

// The first export must be GETFUNCTABLE: its length byte and its first
// eleven characters are compared.
bool exportsTable(const DriverModule& m) {
    static const char wanted[] = "GETFUNCTABLE";
    if (!m.entry || m.exportCount == 0 || !m.exports[0].name) return false;
    const uint8_t* e = m.exports[0].name;
    if (e[0] != sizeof wanted - 1) return false;
    for (size_t i = 0; i < 11; ++i)
        if (upperAscii(char(e[1 + i])) != wanted[i]) return false;
    return true;
}

void (*exportNamed(const DriverModule& m, const char* name))() {
    for (uint16_t i = 0; i < m.exportCount && i < 2; ++i)
        if (m.exports[i].name && sameName(m.exports[i].name, name)) return m.exports[i].function;
    return nullptr;
}

constexpr uint32_t EXTRA_MODULES = 8;
const DriverModule* extraModules[EXTRA_MODULES];

const DriverModule* moduleByName(const char* name) {
    uint32_t count = 0;
    const DriverModule* list = driverModules(&count);
    for (uint32_t i = 0; i < count; ++i)
        if (list[i].name && sameName(list[i].name, name)) return &list[i];
    for (const DriverModule* m : extraModules)
        if (m && m->name && sameName(m->name, name)) return m;
    return nullptr;
}

DriverEntry* entryByName(const char* normalised) {
    for (int i = 0; i < registry.count; ++i)
        if (std::strcmp(registry.entries[i].name, normalised) == 0) return &registry.entries[i];
    return nullptr;
}

void unloadModule(DriverEntry& e) {
    const DriverModule* m = e.module;
    e.module = nullptr;
    if (m)
        if (auto wep = reinterpret_cast<DriverWep>(exportNamed(*m, "WEP"))) wep(0);
}

}  // namespace

DriverRegistry& driverRegistry() { return registry; }

bool addDriverModule(const DriverModule* module) {
    for (const DriverModule*& m : extraModules)
        if (!m || m == module) {
            m = module;
            return true;
        }
    return false;
}

void removeDriverModule(const DriverModule* module) {
    for (const DriverModule*& m : extraModules)
        if (m == module) m = nullptr;
}

uint16_t inheritDriverTable(uint16_t* count, RddMethodTable* table, const char* parent,
                            RddMethodTable* parentCopy, MethodFill fill) {
    *count = RDD_METHOD_COUNT;
    if (!table) return 0;
    if (copyDriverTable(table, parent) != 0) return 8;
    if (parentCopy) *parentCopy = *table;
    if (fill) fill(table);
    return 0;
}

void normaliseDriverName(const char* name, uint32_t length, char* out) {
    while (length > 0 && name[length - 1] == ' ') --length;
    if (length > DRIVER_NAME_MAX) length = DRIVER_NAME_MAX;
    for (uint32_t i = 0; i < length; ++i) out[i] = upperAscii(name[i]);
    out[length] = 0;
}

const DriverModule* findDriverModule(const char* name) {
    const DriverModule* m = moduleByName(name);
    return m && exportsTable(*m) ? m : nullptr;
}

bool registerDriver(const char* name, uint16_t kind) {
    char normalised[60];
    normaliseDriverName(name, uint32_t(std::strlen(name)), normalised);
    if (entryByName(normalised)) return true;
    if (registry.count >= int8_t(DRIVER_SLOTS)) return false;
    DriverEntry& e = registry.entries[registry.count++];
    e = DriverEntry{};
    std::strcpy(e.name, normalised);
    e.kind = kind;
    return true;
}

uint16_t findDriver(const char* name, DriverEntry** out) {
    char normalised[60];
    normaliseDriverName(name, uint32_t(std::strlen(name)), normalised);
    DriverEntry* e = entryByName(normalised);
    if (!e) return FD_NOT_REGISTERED;
    if (!e->module) {
        const DriverModule* m = moduleByName(normalised);
        if (!m) return FD_NO_MODULE;
        e->module = m;
        if (m->entry) m->entry(0, 0, 0, 0);
    }
    auto getTable = reinterpret_cast<GetFuncTable>(exportNamed(*e->module, "GETFUNCTABLE"));
    if (!getTable) {
        unloadModule(*e);
        return FD_NO_GETFUNCTABLE;
    }
    uint16_t count = 0;
    getTable(&count, nullptr);
    if (!e->methods) {
        auto* table = static_cast<RddMethodTable*>(memAllocZero(uint32_t(count) * uint32_t(sizeof(RddMethod))));
        if (count < RDD_METHOD_COUNT || getTable(&count, table) != 0) {
            memFree(table);
            return FD_TABLE_FAILED;
        }
        e->methods = table;
    }
    if (out) *out = e;
    return FD_FOUND;
}

RddMethodTable* acquireDriver(const char* name) {
    DriverEntry* e = nullptr;
    if (findDriver(name, &e) != FD_FOUND) return nullptr;
    ++e->useCount;
    return e->methods;
}

void releaseDriver(RddMethodTable* methods) {
    if (!methods) return;
    for (int i = 0; i < registry.count; ++i) {
        DriverEntry& e = registry.entries[i];
        if (e.methods != methods) continue;
        if (e.useCount == 0) return;
        if (--e.useCount == 0) {
            unloadModule(e);
            memFree(e.methods);
            e.methods = nullptr;
        }
        return;
    }
}

void releaseDriverNamed(const char* name) {
    char normalised[60];
    normaliseDriverName(name, uint32_t(std::strlen(name)), normalised);
    if (DriverEntry* e = entryByName(normalised)) releaseDriver(e->methods);
}

uint16_t copyDriverTable(RddMethodTable* destination, const char* parent) {
    if (!parent || !parent[0]) {
        *destination = defaultMethods();
        return 0;
    }
    RddMethodTable* source = acquireDriver(parent);
    if (!source) return 1;
    *destination = *source;
    return 0;
}

const char* storedDefaultDriver() { return defaultName ? defaultName : ""; }

void setDefaultDriver(const char* normalisedName) {
    size_t n = std::strlen(normalisedName);
    char* copy = static_cast<char*>(memAlloc(uint32_t(n) + 1));
    std::memcpy(copy, normalisedName, n + 1);
    memFree(defaultName);
    defaultName = copy;
}

void clearDefaultDriver() {
    memFree(defaultName);
    defaultName = nullptr;
}

void defaultDriverName(char* out) {
    if (defaultName) {
        std::strcpy(out, defaultName);
        return;
    }
    DriverEntry* e = entryByName("DBFNTX");
    if (!e || e->kind != 1) fatalError(9006);
    std::strcpy(out, "DBFNTX");
}

void releaseAllDrivers() {
    // Children first: their WEP gives back the use they hold on the parent.
    for (int i = registry.count - 1; i >= 0; --i) {
        DriverEntry& e = registry.entries[i];
        if (e.methods) {
            e.useCount = 1;
            releaseDriver(e.methods);
        } else {
            unloadModule(e);
        }
    }
}

void resetDriverRegistry() {
    releaseAllDrivers();
    registry = DriverRegistry{};
    clearDefaultDriver();
}

}  // namespace xb
