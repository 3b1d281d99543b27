// The class registry and the classes' message tables.
#include "lib/classes.h"

#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "base/casemap.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The registry of classes (handle n is entry n - 1) and whether the class
// opcodes are installed. freeClasses frees the classes and resets the
// record, all but `started`: that the class system ran in this process,
// which the heap's end-of-run report still asks after the classes are gone.
struct ClassRegistryState {
    ClassRecord** registry = nullptr;
    uint16_t registryCount = 0;
    uint16_t registryCapacity = 0;
    bool opcodesInstalled = false;
    bool started = false;
};
ClassRegistryState classes;
ClassRecord* newRecord(uint16_t capacity, GlobalSymbol* name, uintptr_t owner) {
    auto* c = static_cast<ClassRecord*>(memAllocZero(sizeof(ClassRecord)));
    c->name = name;
    c->owner = owner;
    c->methodCapacity = capacity;
    if (capacity) c->methods = static_cast<MethodEntry*>(memAlloc(uint32_t(capacity) * sizeof(MethodEntry)));
    c->noMethod = &noMethodFunction;
    return c;
}

// Enters the record into the registry; 0 when the 16-bit handles ran out.
uint16_t enter(ClassRecord* c) {
    if (classes.registryCount == 0xFFFF) return 0;
    if (classes.registryCount == classes.registryCapacity) {
        uint32_t cap = uint32_t(classes.registryCapacity) + REGISTRY_GROWTH;
        if (cap > 0xFFFF) cap = 0xFFFF;
        classes.registry = static_cast<ClassRecord**>(memRealloc(classes.registry, cap * sizeof(ClassRecord*)));
        classes.registryCapacity = uint16_t(cap);
    }
    classes.registry[classes.registryCount++] = c;
    return classes.registryCount;
}

void freeRecord(ClassRecord* c) {
    memFree(c->methods);
    memFree(c);
}

// Binary search over the keys, which run from the largest down. Returns the
// index of an entry with that key or -1, with *insertAt where it belongs.
int32_t searchKey(const ClassRecord* c, uint32_t key, uint32_t* insertAt) {
    uint32_t low = 0, high = c->methodCount;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        uint32_t k = c->methods[mid].key;
        if (k == key) return int32_t(mid);
        if (k < key) high = mid;  // a smaller key: the wanted one lies toward the front
        else low = mid + 1;
    }
    if (insertAt) *insertAt = low;
    return -1;
}

bool sameMessage(const GlobalSymbol* a, const GlobalSymbol* b) {
    return a == b || std::strcmp(symbolName(a), symbolName(b)) == 0;
}

// Within the run of entries that share the key found at hit, the one for
// message, or null with *runEnd just past the run.
MethodEntry* scanRun(const ClassRecord* c, uint32_t hit, const GlobalSymbol* message, uint32_t* runEnd) {
    uint32_t key = c->methods[hit].key;
    uint32_t first = hit;
    while (first > 0 && c->methods[first - 1].key == key) --first;
    uint32_t i = first;
    for (; i < c->methodCount && c->methods[i].key == key; ++i)
        if (sameMessage(c->methods[i].message, message)) return &c->methods[i];
    if (runEnd) *runEnd = i;
    return nullptr;
}

}  // namespace

uint16_t classCreate(uint16_t capacity, GlobalSymbol* name, uintptr_t owner) {
    if (!classes.opcodesInstalled) {
        classOpcodesInstall();
        classes.opcodesInstalled = true;
    }
    classes.started = true;
    ClassRecord* c = newRecord(capacity, name, owner);
    uint16_t h = enter(c);
    if (!h) {
        freeRecord(c);
        return 0;
    }
    c->instanceTemplate = tempAlloc();
    makeArray(c->instanceTemplate, 0);
    c->classVariables = tempAlloc();
    makeArray(c->classVariables, 0);
    return h;
}

uint16_t classCreateDerived(GlobalSymbol* name, uintptr_t owner, uint16_t parent) {
    ClassRecord* p = classRecord(parent);
    if (!p) return 0;
    if (!classes.opcodesInstalled) {
        classOpcodesInstall();
        classes.opcodesInstalled = true;
    }
    classes.started = true;
    uint16_t capacity = p->methodCount > MESSAGE_GROWTH ? p->methodCount : MESSAGE_GROWTH;
    ClassRecord* c = newRecord(capacity, name, owner);
    uint16_t h = enter(c);
    if (!h) {
        freeRecord(c);
        return 0;
    }
    if (p->methodCount) std::memcpy(c->methods, p->methods, p->methodCount * sizeof(MethodEntry));
    c->methodCount = p->methodCount;
    // the same array objects: the subclass's variables follow the parent's
    c->instanceTemplate = tempAlloc();
    *c->instanceTemplate = *p->instanceTemplate;
    c->classVariables = tempAlloc();
    *c->classVariables = *p->classVariables;
    std::memcpy(c->hooks, p->hooks, sizeof c->hooks);
    c->noMethod = p->noMethod;
    c->superclass = parent;
    return h;
}

ClassRecord* classRecord(uint16_t handle) {
    if (handle == 0 || handle > classes.registryCount) return nullptr;
    return classes.registry[handle - 1];
}

uint16_t classCount() { return classes.registryCount; }

const char* className(uint16_t handle) {
    ClassRecord* c = classRecord(handle);
    return c && c->name ? symbolName(c->name) : "";
}

bool classIsKindOf(uint16_t handle, const char* name, uint32_t length) {
    for (ClassRecord* c = classRecord(handle); c; c = classRecord(c->superclass)) {
        const char* n = c->name ? symbolName(c->name) : "";
        if (std::strlen(n) != length) continue;
        uint32_t i = 0;
        while (i < length && toUpper(uint8_t(n[i])) == toUpper(uint8_t(name[i]))) ++i;
        if (i == length) return true;
        // a parent always has a smaller handle, so the walk ends
    }
    return false;
}

bool classSetHook(uint16_t handle, uint32_t slot, GlobalSymbol* function) {
    ClassRecord* c = classRecord(handle);
    if (!c || slot >= 3) return false;
    c->hooks[slot] = function;
    return true;
}

bool classSystemStarted() { return classes.started; }

void freeClasses() {
    // newest first, so that the temporaries give the static area back in order
    for (uint32_t i = classes.registryCount; i-- > 0;) {
        ClassRecord* c = classes.registry[i];
        if (vm.statics) {
            tempRelease(c->classVariables);
            tempRelease(c->instanceTemplate);
        }
        freeRecord(c);
    }
    memFree(classes.registry);
    if (classes.opcodesInstalled) classOpcodesRemove();
    bool ran = classes.started;
    classes = ClassRegistryState{};
    classes.started = ran;
}

MethodEntry* classFindMessage(const ClassRecord* c, const GlobalSymbol* message) {
    if (!c || c->methodCapacity == 0 || !message) return nullptr;
    int32_t hit = searchKey(c, message->hash, nullptr);
    if (hit < 0) return nullptr;
    return scanRun(c, uint32_t(hit), message, nullptr);
}

MethodEntry* classAddMessage(uint16_t handle, GlobalSymbol* message, const Function* f) {
    ClassRecord* c = classRecord(handle);
    if (!c || !message) return nullptr;
    uint32_t at = 0;
    int32_t hit = searchKey(c, message->hash, &at);
    if (hit >= 0) {
        if (MethodEntry* e = scanRun(c, uint32_t(hit), message, &at)) {
            e->function = f;
            return e;
        }
        // another name with the same key: a neighbour in the same run
    }
    if (c->methodCount == 0xFFFF) return nullptr;
    if (c->methodCount == c->methodCapacity) {
        uint32_t cap = uint32_t(c->methodCapacity) + MESSAGE_GROWTH;
        if (cap > 0xFFFF) cap = 0xFFFF;
        c->methods = static_cast<MethodEntry*>(memRealloc(c->methods, cap * sizeof(MethodEntry)));
        c->methodCapacity = uint16_t(cap);
    }
    std::memmove(&c->methods[at + 1], &c->methods[at], (c->methodCount - at) * sizeof(MethodEntry));
    ++c->methodCount;
    MethodEntry* e = &c->methods[at];
    std::memset(e, 0, sizeof *e);
    e->message = message;
    e->key = message->hash;
    e->function = f;
    e->scope = MS_PUBLIC;
    e->ownerClass = handle;
    e->ownerModule = c->owner;
    return e;
}

bool isObject(const Item* it) { return (it->type & T_ARRAY) && bodyOf(it)->classHandle != 0; }

uint16_t objectClass(const Item* it) { return isObject(it) ? bodyOf(it)->classHandle : 0; }

uint16_t objectSearchClass(const Item* it) {
    if (!isObject(it)) return 0;
    return itemReceiver(it) ? itemClassHandle(it) : bodyOf(it)->classHandle;
}

void objectTag(Item* it, uint16_t handle) {
    bodyOf(it)->classHandle = handle;
    setItemClassHandle(it, handle);
    setItemReceiver(it, 0);
}

}  // namespace xb
