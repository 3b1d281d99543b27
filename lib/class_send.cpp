// Message resolution: which function answers a message sent to a value, the
// visibility of protected and hidden messages, the answers every value gives
// (EVAL of a block, CLASSNAME, CLASSH), the missing-method errors, and the
// two opcodes of the class system.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "lib/classes.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/procname.h"
#include "vm/stack.h"

namespace xb {

namespace {

MethodEntry current;

Item* callerFrame() { return vm.stack + frameSlot(vm.frame)->callerFrame; }

// The receiver of the running call, through a reference if it is one.
Item* selfItem() {
    Item* s = vm.frame + 1;
    return (s->type & M_REF) ? derefItem(s) : s;
}

const char* typeClassName(const Item* it) {
    if (it->type & M_NUMERIC) return "NUMERIC";
    if (it->type & M_STRING) return "CHARACTER";
    switch (it->type) {
    case T_DATE: return "DATE";
    case T_LOGICAL: return "LOGICAL";
    case T_BLOCK: return "BLOCK";
    case T_ARRAY: return "ARRAY";
    default: return "NIL";
    }
}

uint16_t classNameRoutine() {
    Item* self = selfItem();
    retCString(isObject(self) ? className(objectClass(self)) : typeClassName(self));
    return 0;
}

uint16_t classHandleRoutine() {
    retInt(objectClass(selfItem()));
    return 0;
}

const Function classNameFunction = {classNameRoutine, nullptr, nullptr};
const Function classHandleFunction = {classHandleRoutine, nullptr, nullptr};

// Hidden messages are visible to the class's own methods (the caller's self
// is an object of the class searched) and to blocks that the module of the
// class, or of one of its ancestors, created.
bool hiddenVisible(uint16_t searched) {
    Item* caller = callerFrame();
    if (caller == vm.stack) return false;
    const Item* self = caller + 1;
    if (isObject(self) && objectClass(self) == searched) return true;
    if (!(self->type & T_BLOCK)) return false;
    auto* cb = static_cast<const Codeblock*>(bodyOf(self)->data);
    uintptr_t module = uintptr_t(cb->moduleSymbols);
    for (ClassRecord* c = classRecord(searched); c; c = classRecord(c->superclass))
        if (c->owner == module) return true;
    return false;
}

bool visible(const ClassRecord* c, uint16_t searched, const MethodEntry& e) {
    switch (e.scope) {
    case MS_PUBLIC: return true;
    case MS_MODULE: {
        uintptr_t module = uintptr_t(vm.callerModule);
        return module == c->owner || module == e.ownerModule;
    }
    case MS_CLASS: return hiddenVisible(searched);
    default: return false;
    }
}

const Function* fallback(GlobalSymbol* message, const Item* r) {
    const char* name = symbolName(message);
    if ((r->type & T_BLOCK) && std::strcmp(name, "EVAL") == 0) return &blockEvalFunction;
    if (std::strcmp(name, "CLASSNAME") == 0) return &classNameFunction;
    if (std::strcmp(name, "CLASSH") == 0) return &classHandleFunction;
    if (isObject(r)) {
        uint16_t s = objectSearchClass(r);
        ClassRecord* c = classRecord(s ? s : objectClass(r));
        if (c && c->noMethod) return c->noMethod;
    }
    return &noMethodFunction;
}

// Inside TYPE the caller traps errors: the send fails without a raise.
bool callerIsQuiet() { return (savedFlagsOf(callerFrame()) & FF_QUIET) != 0; }

uint16_t readOnlyRoutine() {
    if (callerIsQuiet()) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    const char* name = symbolName(frameProcSymbol(vm.frame));
    if (name[0] == '_') ++name;
    ErrorDescriptor d = errorDescriptor("BASE", EG_READONLY, 1005, EF_SUBSTITUTE, name);
    return raiseError(&d, vm.frame + 1, uint16_t(vm.paramCount + 1)) == ST_UNWIND ? ST_UNWIND : 0;
}

// QSUPER: a copy of self that searches the parent of its current search class.
uint16_t opQSuper() {
    Item* self = vm.frame + 1;
    if (self->type & M_REF) self = derefItem(self);
    Item copy = *self;
    if (isObject(&copy)) {
        ClassRecord* c = classRecord(objectSearchClass(&copy));
        setItemReceiver(&copy, 1);
        setItemClassHandle(&copy, c ? c->superclass : 0);
    }
    push(&copy);
    return 0;
}

uint16_t opClassNop() { return 0; }

const char* objectClassName(const Item* self) { return isObject(self) ? className(objectClass(self)) : nullptr; }

}  // namespace

const Function readOnlyFunction = {readOnlyRoutine, nullptr, nullptr};

const Function* classResolve(GlobalSymbol* message, Item* receiver) {
    const Item* r = (receiver->type & M_REF) ? derefItem(receiver) : receiver;
    if (isObject(r)) {
        uint16_t s = objectSearchClass(r);
        if (ClassRecord* c = classRecord(s)) {
            MethodEntry* e = classFindMessage(c, message);
            if (e && visible(c, s, *e)) {
                current = *e;
                return e->function;
            }
        }
    }
    return fallback(message, r);
}

const MethodEntry* currentMethod() { return &current; }

uint16_t sendMessage(uint16_t n) {
    uint16_t r = callSequence(n, CALL_SEND);
    // the call left its result (or, after an unwinding, its frame slot) on top
    if (r != ST_UNWIND) *returnItem() = *vm.top;
    --vm.top;
    return r;
}

void classSystemInstall() {
    sendResolver = classResolve;
    receiverClassName = objectClassName;
    memClassSystemStarted = classSystemStarted;
}

void classOpcodesInstall() {
    // 209 is the class system's own slot: a handler there means a second,
    // foreign class system was started
    if (hasOpHandler(OP_CLASSNOP)) fatalError(30);
    installOpHandler(OP_QSUPER, opQSuper);
    installOpHandler(OP_CLASSNOP, opClassNop);
}

void classOpcodesRemove() {
    installOpHandler(OP_QSUPER, nullptr);
    installOpHandler(OP_CLASSNOP, nullptr);
}

}  // namespace xb
