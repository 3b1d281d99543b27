#include "vm/native.h"

#include <cstring>

#include "base/memory.h"
#include "vm/error.h"
#include "vm/stack.h"
#include "vm/vm.h"

namespace xb {

uint16_t paramCount() { return vm.paramCount; }

Item* paramItem(uint32_t n, uint16_t mask) {
    if (n == 0xFFFF) return returnItem();
    if (n > vm.paramCount) return nullptr;
    Item* p = vm.frame + 1 + n;
    if (mask == M_ANY || (p->type & mask)) return p;
    if (mask == T_INTEGER && p->type == T_DOUBLE) {
        int32_t v = doubleToInt(p->v.d);
        itemClear(p);
        p->type = T_INTEGER;
        p->v.l = v;
        return p;
    }
    return nullptr;
}

Item* argumentItem(uint32_t n) {
    Item* p = paramItem(n, M_ANY);
    return p ? derefItem(p) : nullptr;
}

const Item* stringArgument(uint32_t n) {
    const Item* p = argumentItem(n);
    return p && isString(p) ? p : nullptr;
}

const char* argumentText(uint32_t n, char* buffer, uint32_t size) {
    buffer[0] = 0;
    const Item* it = stringArgument(n);
    if (!it || size == 0) return buffer;
    uint32_t len = strLength(it) < size - 1 ? strLength(it) : size - 1;
    std::memcpy(buffer, strData(it), len);
    buffer[len] = 0;
    return buffer;
}

int32_t itemInt(const Item* it) {
    if (it->type == T_INTEGER) return it->v.l;
    if (it->type == T_DOUBLE) return doubleToInt(it->v.d);
    return 0;
}

int32_t paramInt(uint32_t n) {
    if (n == 0 || n > vm.paramCount) return 0;
    return itemInt(vm.frame + 1 + n);
}

double itemDouble(const Item* it) {
    if (it->type == T_INTEGER) return it->v.l;
    if (it->type == T_DOUBLE) return it->v.d;
    return 0;
}

void* itemData(const Item* it) {
    if (!(it->type & M_HEAP)) fatalError(660);
    return bodyOf(it)->data;
}

char* itemTextCopy(const Item* it) {
    if (!(it->type & M_STRING)) return nullptr;
    uint32_t n = strLength(it);
    char* p = static_cast<char*>(memAlloc(n + 1));
    std::memcpy(p, strData(it), n);
    p[n] = 0;
    return p;
}

void retNil() { itemClear(returnItem()); }

void retLogical(bool b) {
    Item* r = returnItem();
    itemClear(r);
    r->type = T_LOGICAL;
    r->v.l = b;
}

void retInt(int32_t v) {
    Item* r = returnItem();
    itemClear(r);
    r->type = T_INTEGER;
    r->v.l = v;
}

void retDoubleFromLong(int32_t v) { retDouble(v, 0, 0); }

void retDouble(double d, uint16_t width, uint16_t decimals) {
    Item* r = returnItem();
    itemClear(r);
    r->type = T_DOUBLE;
    r->width = width;
    r->decimals = decimals;
    r->v.d = d;
}

char* retStringAlloc(uint32_t n) {
    itemClear(returnItem());
    return makeStringBuffer(returnItem(), n);
}

void retStringConst(const char* bytes, uint32_t n) {
    itemClear(returnItem());
    makeConstString(returnItem(), bytes, n);
}

void retString(const char* bytes, uint32_t n) {
    itemClear(returnItem());
    makeString(returnItem(), bytes, n);
}

void retCString(const char* text) { retString(text ? text : "", text ? uint32_t(std::strlen(text)) : 0); }

void retArray(uint32_t n) {
    itemClear(returnItem());
    makeArray(returnItem(), n);
}

Codeblock* retCodeblock() {
    itemClear(returnItem());
    return makeCodeblock(returnItem());
}

void retItem(const Item* it) { *returnItem() = *it; }

}  // namespace xb
