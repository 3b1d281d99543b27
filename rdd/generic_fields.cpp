// Generic field bookkeeping: the descriptor array, adding fields, building
// them from a structure array, and the field queries.
#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "rdd/default_methods.h"
#include "vm/vm.h"
#include "rdd/generic.h"
#include "base/memory.h"
#include "vm/native.h"
#include "vm/object.h"

namespace xb {

namespace {

constexpr uint32_t FIELD_NAME_MAX = 10;

uint16_t clampWord(const Item* it) {
    int32_t v = itemInt(it);
    return uint16_t(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v);
}

// The Item type (and subtype word) a type letter gives.
void typeOfLetter(char letter, uint16_t* type, uint16_t* subtype) {
    *subtype = 0;
    switch (toUpper(uint8_t(letter))) {
    case 'C': *type = T_STRING; break;
    case 'D': *type = T_DATE; break;
    case 'F':
        *type = T_DOUBLE;
        *subtype = 'F';
        break;
    case 'L': *type = T_LOGICAL; break;
    case 'M': *type = T_MEMO; break;
    case 'N': *type = T_DOUBLE; break;
    default: *type = 0; break;
    }
}

const char* letterOfType(uint16_t type) {
    switch (type) {
    case T_STRING: return "C";
    case T_MEMO: return "M";
    case T_INTEGER:
    case T_DOUBLE: return "N";
    case T_DATE: return "D";
    case T_LOGICAL: return "L";
    default: return "U";
    }
}

// A row is {name, type, length, decimals}: two texts and two numbers.
bool rowIsValid(const Item* row) {
    if (!isArray(row) || arrayLength(row) < 4) return false;
    const Item* e = arrayItems(row);
    return isString(&e[0]) && strLength(&e[0]) > 0 && isString(&e[1]) && strLength(&e[1]) > 0 &&
           isNumeric(&e[2]) && isNumeric(&e[3]);
}

RddResult badStructure(WorkArea* a) {
    AreaErrorInfo e{};
    e.genCode = EG_ARG;
    e.subCode = 1014;
    e.flags = EF_DEFAULT;
    e.operation = "createFields";
    RddResult r = raiseAreaError(a, e);
    return r == RDD_UNWIND ? RDD_UNWIND : RDD_FAILED;
}

RddResult genericCreateFields(WorkArea* a, const Item* structure) {
    if (!isArray(structure)) return badStructure(a);
    uint32_t rows = arrayLength(structure);
    for (uint32_t i = 0; i < rows; ++i)
        if (!rowIsValid(&arrayItems(structure)[i])) return badStructure(a);
    if (rows > 0xFFFF) return badStructure(a);
    if (RddResult r = rdd::setFieldExtent(a, uint16_t(rows))) return r;
    for (uint32_t i = 0; i < rows; ++i) {
        // the row's Items are read before anything can run a collection
        const Item* e = arrayItems(&arrayItems(structure)[i]);
        char name[SYMBOL_NAME_MAX + 1];
        uint32_t n = strLength(&e[0]);
        if (n > uint32_t(SYMBOL_NAME_MAX)) n = SYMBOL_NAME_MAX;
        upperText(name, strData(&e[0]), n);
        name[n] = 0;
        FieldDefinition f{};
        f.name = name;
        typeOfLetter(strData(&e[1])[0], &f.type, &f.subtype);
        f.length = clampWord(&e[2]);
        f.decimals = clampWord(&e[3]);
        if (RddResult r = rdd::addField(a, &f)) return r;
    }
    return RDD_OK;
}

RddResult genericFieldCount(WorkArea* a, uint16_t* count) {
    *count = a->fieldCount;
    return RDD_OK;
}

RddResult genericFieldName(WorkArea* a, uint16_t field, char* out) {
    out[0] = 0;
    if (field < 1 || field > a->fieldCount) return RDD_OK;
    const char* name = symbolName(a->fields[field - 1].symbol);
    size_t n = std::strlen(name);
    if (n > FIELD_NAME_MAX) n = FIELD_NAME_MAX;
    std::memcpy(out, name, n);
    out[n] = 0;
    return RDD_OK;
}

RddResult genericFieldInfo(WorkArea* a, uint16_t field, uint16_t code, Item* out) {
    if (field < 1 || field > a->fieldCount) return RDD_FAILED;
    const FieldDescriptor& d = a->fields[field - 1];
    switch (code) {
    case 1: {
        const char* name = symbolName(d.symbol);
        makeString(out, name, uint32_t(std::strlen(name)));
        return RDD_OK;
    }
    case 2: makeString(out, letterOfType(d.type), 1); return RDD_OK;
    case 3: setInteger(out, d.length); return RDD_OK;
    case 4: setInteger(out, d.decimals); return RDD_OK;
    default: return unsupportedOperation(a);
    }
}

}  // namespace

RddResult genericSetFieldExtent(WorkArea* a, uint16_t count) {
    memFree(a->fields);
    a->fields = count ? static_cast<FieldDescriptor*>(memAllocZero(uint32_t(count) * sizeof(FieldDescriptor)))
                      : nullptr;
    a->fieldCapacity = count;
    a->fieldCount = 0;
    return RDD_OK;
}

RddResult genericAddField(WorkArea* a, const FieldDefinition* f) {
    if (a->fieldCount >= a->fieldCapacity) return RDD_OK;
    FieldDescriptor& d = a->fields[a->fieldCount];
    d = FieldDescriptor{};
    d.type = f->type;
    d.subtype = f->subtype;
    d.length = f->length;
    d.decimals = f->decimals;
    char name[SYMBOL_NAME_MAX + 1];
    std::strncpy(name, f->name ? f->name : "", SYMBOL_NAME_MAX);
    name[SYMBOL_NAME_MAX] = 0;
    d.symbol = findOrCreateSymbol(name);
    ++a->fieldCount;
    return RDD_OK;
}

void fillGenericFields(RddMethodTable* t) {
    rddSetSlot<RDD_SETFIELDEXTENT>(t, genericSetFieldExtent);
    rddSetSlot<RDD_ADDFIELD>(t, genericAddField);
    rddSetSlot<RDD_CREATEFIELDS>(t, genericCreateFields);
    rddSetSlot<RDD_FIELDCOUNT>(t, genericFieldCount);
    rddSetSlot<RDD_FIELDNAME>(t, genericFieldName);
    rddSetSlot<RDD_FIELDINFO>(t, genericFieldInfo);
}

}  // namespace xb
