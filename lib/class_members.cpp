// What a class's messages can be besides methods: instance and class
// variables with their accessors, messages that forward to other messages,
// and the creation of instances.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "lib/classes.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

Item* selfItem() {
    Item* s = vm.frame + 1;
    return (s->type & M_REF) ? derefItem(s) : s;
}

// Element index (1-based) of array, or null when the array is shorter.
Item* elementOf(Item* array, uint32_t index) {
    if (!(array->type & T_ARRAY) || index == 0 || index > arrayLength(array)) return nullptr;
    return arrayItems(array) + index - 1;
}

Item* variableOf(const MethodEntry* e) {
    if (!e->shared) return elementOf(selfItem(), e->index);
    ClassRecord* c = classRecord(e->ownerClass);
    return c ? elementOf(c->classVariables, e->index) : nullptr;
}

uint16_t readVariable() {
    Item* v = variableOf(currentMethod());
    if (v) retItem((v->type & M_REF) ? derefItem(v) : v);
    else retNil();
    return 0;
}

// Stores the first argument (NIL when none) and answers it.
uint16_t writeVariable() {
    Item* v = variableOf(currentMethod());
    Item value{};
    if (Item* p = paramItem(1, M_ANY)) value = (p->type & M_REF) ? *derefItem(p) : *p;
    if ((value.type & T_MEMO) == T_MEMO) value.type = T_STRING;
    if (v) *v = value;
    retItem(&value);
    return 0;
}

// Sends the forward target to the same receiver with the same arguments.
uint16_t forwardMessage() {
    auto* target = static_cast<GlobalSymbol*>(const_cast<void*>(currentMethod()->target));
    if (!target) {
        retNil();
        return 0;
    }
    Item* frame = vm.frame;
    uint16_t n = vm.paramCount;
    pushSymbol(target);
    for (uint32_t i = 1; i <= uint32_t(n) + 1; ++i) pushDeref(frame + i);
    return sendMessage(n);
}

const Function readVariableFunction = {readVariable, nullptr, nullptr};
const Function writeVariableFunction = {writeVariable, nullptr, nullptr};
const Function forwardFunction = {forwardMessage, nullptr, nullptr};

// NAME and _NAME for text of length n: upper case, cut to the symbol length.
bool messageNames(const char* name, uint32_t length, GlobalSymbol** read, GlobalSymbol** assign) {
    char buf[SYMBOL_NAME_MAX + 2];
    uint32_t n = length < SYMBOL_NAME_MAX ? length : SYMBOL_NAME_MAX;
    buf[0] = '_';
    std::memcpy(buf + 1, name, n);
    buf[n + 1] = 0;
    *read = findOrCreateSymbol(buf + 1);
    if (!symbolName(*read)[0]) return false;
    buf[0] = '_';
    std::strcpy(buf + 1, symbolName(*read));
    *assign = findOrCreateSymbol(buf);
    return true;
}

void setEntry(MethodEntry* e, uint8_t scope, bool shared, uint16_t index, const void* target) {
    e->scope = scope;
    e->shared = shared ? 1 : 0;
    e->index = index;
    e->target = target;
}

// Copy-on-visit table of the deep copy: source array -> its copy.
struct CopyMap {
    ObjectBody** from = nullptr;
    ObjectBody** to = nullptr;
    uint32_t count = 0, capacity = 0;
    ObjectBody** pending = nullptr;  // copies whose elements are still the originals
    uint32_t pendingCount = 0;

    ~CopyMap() {
        memFree(from);
        memFree(to);
        memFree(pending);
    }
    ObjectBody* find(ObjectBody* b) const {
        for (uint32_t i = 0; i < count; ++i)
            if (from[i] == b) return to[i];
        return nullptr;
    }
    void add(ObjectBody* f, ObjectBody* t) {
        if (count == capacity) {
            capacity += 16;
            from = static_cast<ObjectBody**>(memRealloc(from, capacity * sizeof(ObjectBody*)));
            to = static_cast<ObjectBody**>(memRealloc(to, capacity * sizeof(ObjectBody*)));
            pending = static_cast<ObjectBody**>(memRealloc(pending, capacity * sizeof(ObjectBody*)));
        }
        from[count] = f;
        to[count++] = t;
        pending[pendingCount++] = t;
    }
};

// Replaces the array in *slot (which must be rooted) by a shallow copy that
// keeps the class of the original.
void copyArray(Item* slot, CopyMap* map) {
    Item original = *slot;
    ObjectBody* from = bodyOf(&original);
    makeArray(slot, from->length);
    ObjectBody* to = bodyOf(slot);
    if (from->length) std::memcpy(to->data, from->data, from->length * sizeof(Item));
    to->classHandle = from->classHandle;
    setItemClassHandle(slot, itemClassHandle(&original));
    map->add(from, to);
}

// Deep copy: nested arrays are copied once each, so shared sub-arrays stay
// shared in the copy and an array that contains itself does not loop.
void deepCopy(Item* out, CopyMap* map) {
    copyArray(out, map);
    while (map->pendingCount) {
        ObjectBody* b = map->pending[--map->pendingCount];
        Item* e = static_cast<Item*>(b->data);
        for (uint32_t i = 0; i < b->length; ++i) {
            if (!(e[i].type & T_ARRAY)) continue;
            if (ObjectBody* done = map->find(bodyOf(&e[i]))) e[i].v.o.ptr = done;
            else copyArray(&e[i], map);
        }
    }
}

}  // namespace

bool classAddVariable(uint16_t handle, const char* name, uint32_t length, bool shared, uint8_t scope,
                      const Item* initial) {
    ClassRecord* c = classRecord(handle);
    if (!c || scope > MS_CLASS) return false;
    GlobalSymbol *read, *assign;
    if (!messageNames(name, length, &read, &assign)) return false;
    Item* array = shared ? c->classVariables : c->instanceTemplate;
    if (arrayLength(array) >= 0xFFFF) return false;
    arrayResize(array, 1);
    uint16_t index = uint16_t(arrayLength(array));
    Item* slot = arrayItems(array) + index - 1;
    if (initial) *slot = (initial->type & M_REF) ? *derefItem(const_cast<Item*>(initial)) : *initial;
    // set each entry before the next addition, which may move the table
    MethodEntry* e = classAddMessage(handle, read, &readVariableFunction);
    if (!e) return false;
    setEntry(e, scope, shared, index, nullptr);
    e = classAddMessage(handle, assign, &writeVariableFunction);
    if (!e) return false;
    setEntry(e, scope, shared, index, nullptr);
    return true;
}

bool classAddForward(uint16_t handle, const char* name, uint32_t length, uint8_t scope, GlobalSymbol* target,
                     bool shared, GlobalSymbol* assignTarget, bool assignShared) {
    if (!classRecord(handle) || scope > MS_CLASS || !target) return false;
    GlobalSymbol *read, *assign;
    if (!messageNames(name, length, &read, &assign)) return false;
    MethodEntry* e = classAddMessage(handle, read, &forwardFunction);
    if (!e) return false;
    setEntry(e, scope, shared, 0, target);
    e = classAddMessage(handle, assign, assignTarget ? &forwardFunction : &readOnlyFunction);
    if (!e) return false;
    setEntry(e, scope, assignShared, 0, assignTarget);
    return true;
}

void classInstantiate(uint16_t handle, Item* out) {
    ClassRecord* c = classRecord(handle);
    makeArray(out, c ? c->methodCount : 0);
    if (c) objectTag(out, handle);
}

uint16_t classInstantiateFromTemplate(uint16_t handle) {
    ClassRecord* c = classRecord(handle);
    if (!c) {
        retNil();
        return 0;
    }
    Item* obj = pushSlot();
    *obj = *c->instanceTemplate;  // rooted on the stack while it is replaced by its copy
    {
        CopyMap map;
        deepCopy(obj, &map);
    }
    objectTag(obj, handle);
    for (GlobalSymbol* hook : c->hooks) {
        if (!hook) continue;
        pushSymbol(hook);
        push(obj);
        if (callProc(0) == ST_UNWIND) {
            vm.top = obj - 1;
            return ST_UNWIND;
        }
    }
    *returnItem() = *obj;
    vm.top = obj - 1;
    return 0;
}

}  // namespace xb
