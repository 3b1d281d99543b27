#include "rdd/binding.h"

#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/areas.h"
#include "rdd/default_methods.h"
#include "vm/vm.h"
#include "rdd/workarea.h"
#include "vm/fields.h"

namespace xb {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }
bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }

uint16_t aliasError(WorkArea* a, uint16_t genCode, uint16_t subCode, const char* alias) {
    ErrorDescriptor d = errorDescriptor("DBCMD", genCode, subCode, EF_DEFAULT, alias);
    RddResult r = rdd::error(a, &d);
    return rddStatusWord(r == RDD_UNWIND ? RDD_UNWIND : RDD_FAILED);
}

// ---- the field access of the virtual machine

uint16_t accessCurrent() { return currentAreaNumber(); }
bool accessExists(uint16_t area) { return areaAt(area) != nullptr; }
uint32_t accessPosition(uint16_t area, const FieldDescriptor* d) {
    return uint32_t(d - areaAt(area)->fields);
}
uint16_t accessGet(uint16_t area, uint32_t pos, Item* out) {
    return rddStatusWord(rdd::getValue(areaAt(area), uint16_t(pos), out));
}
uint16_t accessVarLen(uint16_t area, uint32_t pos, uint32_t* length) {
    return rddStatusWord(rdd::getVarLen(areaAt(area), uint16_t(pos), length));
}
uint16_t accessPut(uint16_t area, uint32_t pos, Item* value) {
    return rddStatusWord(rdd::putValue(areaAt(area), uint16_t(pos), value));

}
uint16_t accessSelect(uint16_t area) { return selectArea(area); }

const FieldAccess databaseAccess = {accessCurrent, accessExists, accessPosition, accessGet,
                                    accessVarLen,  accessPut,    accessSelect};

}  // namespace

char* trimAliasName(char* name) {
    char* s = name;
    while (blank(*s)) ++s;
    size_t n = std::strlen(s);
    while (n > 0 && blank(s[n - 1])) --n;
    std::memmove(name, s, n);
    name[n] = 0;
    upperText(name, name, n);
    return name;
}

bool validAlias(const char* t) {
    while (blank(*t)) ++t;
    if (!(*t == '_' || *t == '@' || letter(*t))) return false;
    ++t;
    while (*t == '_' || *t == '@' || letter(*t) || digit(*t)) ++t;
    while (blank(*t)) ++t;
    return *t == 0;
}

uint16_t bindArea(WorkArea* a, const OpenInfo* info) {
    a->areaNo = info->areaNo;
    if (a->areaNo == 0) return 0;  // a transient record (DBCREATE's): nothing to bind
    GlobalSymbol* alias = nullptr;
    if (info->alias && info->alias[0]) {
        if (!validAlias(info->alias)) return aliasError(a, EG_BADALIAS, 1010, info->alias);
        char name[SYMBOL_NAME_MAX + 1];
        std::strncpy(name, info->alias, SYMBOL_NAME_MAX);
        name[SYMBOL_NAME_MAX] = 0;
        alias = findOrCreateSymbol(trimAliasName(name));
        if (alias->aliasArea > 0) return aliasError(a, EG_DUPALIAS, 1011, info->alias);
    }
    for (uint16_t i = 0; i < a->fieldCount; ++i) {
        FieldDescriptor* d = &a->fields[i];
        d->area = a->areaNo;
        d->next = d->symbol->fieldChain;
        d->symbol->fieldChain = d;
    }
    if (alias) {
        alias->aliasArea = a->areaNo;
        a->alias = alias;
    }
    storeArea(a->areaNo, a);
    return 0;
}

void unbindArea(WorkArea* a) {
    for (uint16_t i = 0; i < a->fieldCount; ++i) {
        FieldDescriptor* d = &a->fields[i];
        if (!d->symbol) continue;
        for (FieldDescriptor** p = &d->symbol->fieldChain; *p; p = &(*p)->next)
            if (*p == d) {
                *p = d->next;
                break;
            }
        d->next = nullptr;
    }
    if (a->alias) {
        a->alias->aliasArea = 0;
        a->alias = nullptr;
    }
}

void installFieldAccess() { setFieldAccess(&databaseAccess); }
void uninstallFieldAccess() {
    if (fieldAccess() == &databaseAccess) setFieldAccess(nullptr);
}

}  // namespace xb
