#include "rdd/db_command_support.h"

#include <cstdio>
#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/areas.h"
#include "rdd/default_methods.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

Item* commandArg(uint32_t n) {
    Item* p = paramItem(n, M_ANY);
    return p ? derefItem(p) : nullptr;
}

uint16_t callNamed(const char* name, const Item* args, uint16_t count) {
    GlobalSymbol* s = findSymbol(name);
    if (!s) return rddStatusWord(RDD_FAILED);
    pushSymbol(s);
    pushNil();
    for (uint16_t i = 0; i < count; ++i) push(&args[i]);
    return callProc(count);
}

ScopeInfo scopeArgs(uint32_t first) {
    ScopeInfo s{};
    s.forCondition = commandArg(first);
    s.whileCondition = commandArg(first + 1);
    s.next = commandArg(first + 2);
    s.record = commandArg(first + 3);
    s.rest = commandArg(first + 4);
    return s;
}

bool scopeIsEmpty(const ScopeInfo& s) {
    auto absent = [](const Item* it) { return !it || it->type == T_NIL; };
    bool restGiven = s.rest && s.rest->type == T_LOGICAL && s.rest->v.l;
    return absent(s.forCondition) && absent(s.whileCondition) && absent(s.next) && absent(s.record) && !restGiven;
}

std::string fieldNameOf(WorkArea* a, uint16_t index) {
    char name[RDD_NAME_BUFFER] = "";
    rdd::fieldName(a, uint16_t(index + 1), name);
    name[RDD_NAME_BUFFER - 1] = 0;
    return name;
}

int32_t fieldIndexOf(WorkArea* a, const std::string& name) {
    uint16_t count = 0;
    rdd::fieldCount(a, &count);
    for (uint16_t i = 0; i < count; ++i)
        if (fieldNameOf(a, i) == name) return i;
    return -1;
}

std::vector<uint16_t> chooseFields(WorkArea* a, const Item* names) {
    std::vector<uint16_t> out;
    uint16_t count = 0;
    rdd::fieldCount(a, &count);
    if (!names || !isArray(names) || arrayLength(names) == 0) {
        for (uint16_t i = 0; i < count; ++i) out.push_back(i);
        return out;
    }
    for (uint32_t k = 0; k < arrayLength(names); ++k) {
        const Item* n = &arrayItems(names)[k];
        if (!isString(n)) continue;
        std::string name;
        for (uint32_t i = 0; i < strLength(n); ++i) {
            char c = strData(n)[i];
            if (c != ' ') name += char(toUpper(uint8_t(c)));
        }
        // "ALIAS->NAME" names the field of this table as well
        size_t arrow = name.find("->");
        if (arrow != std::string::npos) name = name.substr(arrow + 2);
        int32_t at = fieldIndexOf(a, name);
        if (at >= 0) out.push_back(uint16_t(at));
    }
    return out;
}

uint16_t openBeside(const Item* file, const Item* driver, bool readOnly, WorkArea** opened) {
    *opened = nullptr;
    uint16_t current = currentAreaNumber();
    uint16_t slot = lowestFreeArea();
    if (slot == 0) return rddStatusWord(RDD_FAILED);
    char alias[24];
    std::snprintf(alias, sizeof alias, "__XBTMP%u", unsigned(slot));
    Item args[6]{};
    args[0].type = T_LOGICAL;
    args[0].v.l = 1;
    if (driver && isString(driver)) args[1] = *driver;
    args[2] = *file;
    Item* aliasText = tempAlloc();
    makeString(aliasText, alias, uint32_t(std::strlen(alias)));
    args[3] = *aliasText;
    args[4].type = T_LOGICAL;
    args[4].v.l = 1;
    args[5].type = T_LOGICAL;
    args[5].v.l = readOnly ? 1 : 0;
    uint16_t r = callNamed("DBUSEAREA", args, 6);
    tempRelease(aliasText);
    itemClear(returnItem());
    if (currentAreaNumber() != current && r != ST_UNWIND) *opened = currentArea();
    selectArea(current);
    return r == ST_UNWIND ? r : 0;
}

uint16_t closeBeside(WorkArea* a) {
    if (!a) return 0;
    uint16_t current = currentAreaNumber();
    RddResult r = closeAndRelease(a);
    selectArea(current);
    return rddStatusWord(r);

}

RddResult chosenStructure(WorkArea* a, const std::vector<uint16_t>& fields, Item* out) {
    makeArray(out, uint32_t(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
        makeArray(&arrayItems(out)[i], 4);
        for (uint16_t code = 1; code <= 4; ++code) {
            Item* cell = &arrayItems(&arrayItems(out)[i])[code - 1];
            if (RddResult r = rdd::fieldInfo(a, uint16_t(fields[i] + 1), code, cell)) return r;
        }
    }
    return RDD_OK;
}

std::string withDefaultExtension(const Item* file, const char* ext) {
    std::string name(strData(file), strLength(file));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    size_t sep = name.find_last_of("/\\:");
    size_t dot = name.find('.', sep == std::string::npos ? 0 : sep + 1);
    if (dot == std::string::npos) name += ext;
    return name;
}

}  // namespace xb
