// The ErrorObject: a 7-element object of the class ERROR, built for every
// raise, and the 29 messages that read and write it.
//
// Element 1 holds the descriptor's numeric fields as 28 bytes (the pointer
// fields stay zero; the texts are elements 3 to 6). A change builds a new
// string rather than writing into the old one, which a copy of the object
// may share.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "lib/classes.h"
#include "runtime/errorsys.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

enum : uint32_t { E_BYTES = 1, E_ARGS, E_SUBSYSTEM, E_DESCRIPTION, E_OPERATION, E_FILENAME, E_CARGO };
enum : uint32_t { F_SEVERITY = 0, F_GENCODE = 2, F_OSCODE = 4, F_FLAGS = 6, F_TRIES = 8, F_SUBCODE = 10 };
static_assert(offsetof(ErrorDescriptor, genCode) == F_GENCODE && offsetof(ErrorDescriptor, flags) == F_FLAGS &&
                  offsetof(ErrorDescriptor, subCode) == F_SUBCODE,
              "element 1 mirrors the descriptor");

uint16_t classHandle;

Item* element(uint32_t n) {
    Item* self = vm.frame + 1;
    if (self->type & M_REF) self = derefItem(self);
    if (!(self->type & T_ARRAY) || arrayLength(self) < n) return nullptr;
    return arrayItems(self) + n - 1;
}

void readBytes(uint8_t out[EO_BYTES]) {
    std::memset(out, 0, EO_BYTES);
    Item* b = element(E_BYTES);
    if (b && (b->type & M_STRING)) std::memcpy(out, strData(b), strLength(b) < EO_BYTES ? strLength(b) : EO_BYTES);
}

uint16_t readField(uint32_t offset) {
    uint8_t bytes[EO_BYTES];
    readBytes(bytes);
    return uint16_t(bytes[offset] | (bytes[offset + 1] << 8));
}

void writeField(uint32_t offset, uint16_t value) {
    Item* b = element(E_BYTES);
    if (!b) return;
    uint8_t bytes[EO_BYTES];
    readBytes(bytes);
    bytes[offset] = uint8_t(value);
    bytes[offset + 1] = uint8_t(value >> 8);
    makeString(b, reinterpret_cast<const char*>(bytes), EO_BYTES);
}

// The first argument, through a reference, a memo as text; NIL when absent.
Item argument() {
    Item v{};
    if (Item* p = paramItem(1, M_ANY)) v = (p->type & M_REF) ? *derefItem(p) : *p;
    if ((v.type & T_MEMO) == T_MEMO) v.type = T_STRING;
    return v;
}

uint16_t getClassName() {
    Item* self = vm.frame + 1;
    if (self->type & M_REF) self = derefItem(self);
    retCString(className(objectClass(self)));
    return 0;
}

template <uint32_t E>
uint16_t getElement() {
    Item* e = element(E);
    if (e) retItem(e);
    else retNil();
    return 0;
}

template <uint32_t OFFSET>
uint16_t getNumber() {
    retInt(readField(OFFSET));
    return 0;
}

template <uint16_t BIT>
uint16_t getFlag() {
    retLogical((readField(F_FLAGS) & BIT) != 0);
    return 0;
}

// Texts, arrays, anything: stored when of the accepted type; the answer is
// the argument either way.
template <uint32_t E, uint16_t MASK>
uint16_t setElement() {
    Item v = argument();
    Item* e = element(E);
    if (e && (MASK == M_ANY || (v.type & MASK))) *e = v;
    retItem(&v);
    return 0;
}

// A number of 0 or more, or the argument error of subsystem "ERROR" (whose
// substituted answer becomes the message's result).
bool numberArgument(uint16_t* out) {
    Item* p = paramItem(1, M_NUMERIC);
    if (!p) return false;
    double d = itemDouble(p);
    if (!(d >= 0)) return false;
    *out = uint16_t(itemInt(p));
    return true;
}

template <uint32_t OFFSET>
uint16_t setNumber() {
    uint16_t v;
    if (!numberArgument(&v)) return argumentError("ERROR", 0, EF_SUBSTITUTE);
    writeField(OFFSET, v);
    Item a = argument();
    retItem(&a);
    return 0;
}

uint16_t setGenCode() {
    uint16_t v;
    if (!numberArgument(&v)) return argumentError("ERROR", 0, EF_SUBSTITUTE);
    writeField(F_GENCODE, v);
    if (Item* d = element(E_DESCRIPTION)) {
        const char* text = errorDescription(v);
        makeString(d, text, uint32_t(std::strlen(text)));
    }
    Item a = argument();
    retItem(&a);
    return 0;
}

template <uint16_t BIT>
uint16_t setFlag() {
    Item v = argument();
    if (v.type != T_LOGICAL) {
        retNil();
        return 0;
    }
    uint16_t flags = readField(F_FLAGS);
    writeField(F_FLAGS, uint16_t(v.v.l ? flags | BIT : flags & ~BIT));
    retItem(&v);
    return 0;
}

struct ErrorMessage {
    const char* name;
    Function function;
};

// Registered in this order.
const ErrorMessage messages[29] = {
    {"CLASSNAME", {getClassName, nullptr, nullptr}},
    {"SUBSYSTEM", {getElement<E_SUBSYSTEM>, nullptr, nullptr}},
    {"SUBCODE", {getNumber<F_SUBCODE>, nullptr, nullptr}},
    {"GENCODE", {getNumber<F_GENCODE>, nullptr, nullptr}},
    {"OSCODE", {getNumber<F_OSCODE>, nullptr, nullptr}},
    {"SEVERITY", {getNumber<F_SEVERITY>, nullptr, nullptr}},
    {"CANDEFAULT", {getFlag<EF_DEFAULT>, nullptr, nullptr}},
    {"CANRETRY", {getFlag<EF_RETRY>, nullptr, nullptr}},
    {"CANSUBSTITUTE", {getFlag<EF_SUBSTITUTE>, nullptr, nullptr}},
    {"OPERATION", {getElement<E_OPERATION>, nullptr, nullptr}},
    {"DESCRIPTION", {getElement<E_DESCRIPTION>, nullptr, nullptr}},
    {"FILENAME", {getElement<E_FILENAME>, nullptr, nullptr}},
    {"ARGS", {getElement<E_ARGS>, nullptr, nullptr}},
    {"TRIES", {getNumber<F_TRIES>, nullptr, nullptr}},
    {"CARGO", {getElement<E_CARGO>, nullptr, nullptr}},
    {"_SUBSYSTEM", {setElement<E_SUBSYSTEM, M_STRING>, nullptr, nullptr}},
    {"_SUBCODE", {setNumber<F_SUBCODE>, nullptr, nullptr}},
    {"_GENCODE", {setGenCode, nullptr, nullptr}},
    {"_OSCODE", {setNumber<F_OSCODE>, nullptr, nullptr}},
    {"_SEVERITY", {setNumber<F_SEVERITY>, nullptr, nullptr}},
    {"_CANDEFAULT", {setFlag<EF_DEFAULT>, nullptr, nullptr}},
    {"_CANRETRY", {setFlag<EF_RETRY>, nullptr, nullptr}},
    {"_CANSUBSTITUTE", {setFlag<EF_SUBSTITUTE>, nullptr, nullptr}},
    {"_OPERATION", {setElement<E_OPERATION, M_STRING>, nullptr, nullptr}},
    {"_DESCRIPTION", {setElement<E_DESCRIPTION, M_STRING>, nullptr, nullptr}},
    {"_FILENAME", {setElement<E_FILENAME, M_STRING>, nullptr, nullptr}},
    {"_ARGS", {setElement<E_ARGS, T_ARRAY>, nullptr, nullptr}},
    {"_TRIES", {setNumber<F_TRIES>, nullptr, nullptr}},
    {"_CARGO", {setElement<E_CARGO, M_ANY>, nullptr, nullptr}},
};

void setText(Item* slot, const char* text) {
    if (text) makeString(slot, text, uint32_t(std::strlen(text)));
    else makeConstString(slot, "", 0);
}

}  // namespace

uint16_t errorClass() {
    // a handle that survived freeClasses() may name nothing, or another class
    if (classHandle && std::strcmp(className(classHandle), "ERROR") == 0) return classHandle;
    classHandle = classCreate(29, findOrCreateSymbol("ERROR"));
    for (const ErrorMessage& m : messages) classAddMessage(classHandle, findOrCreateSymbol(m.name), &m.function);
    return classHandle;
}

void buildErrorObject(Item* out, const ErrorDescriptor* d, const Item* operands, uint16_t count) {
    uint16_t h = errorClass();
    makeArray(out, EO_ELEMENTS);
    objectTag(out, h);
    Item* e = arrayItems(out);

    ErrorDescriptor numbers = *d;
    numbers.subsystem = numbers.description = numbers.operation = numbers.fileName = nullptr;
    makeString(&e[E_BYTES - 1], reinterpret_cast<const char*>(&numbers), EO_BYTES);

    const char* description = d->description;
    if (!description && d->genCode > 0) description = errorDescription(d->genCode);
    setText(&e[E_SUBSYSTEM - 1], d->subsystem);
    setText(&e[E_DESCRIPTION - 1], description);
    setText(&e[E_OPERATION - 1], d->operation);
    setText(&e[E_FILENAME - 1], d->fileName);

    if (count > 0) {
        makeArray(&e[E_ARGS - 1], count);
        Item* a = arrayItems(&e[E_ARGS - 1]);
        for (uint16_t i = 0; i < count; ++i) {
            const Item* op = &operands[i];
            a[i] = (op->type & M_REF) ? *derefItem(const_cast<Item*>(op)) : *op;
        }
    }
}

}  // namespace xb
