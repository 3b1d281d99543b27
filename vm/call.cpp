// The call sequence shared by DO, FUNC, SEND, EVALSEND and the native entry
// points callProc and evalSend, and the FRAME opcode that fits a call's
// arguments to the callee's parameters.
#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "vm/error.h"
#include "vm/guard.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

const Function blockEvalFunction = {blockEvalRoutine, nullptr, nullptr};
const Function undefinedFunction = {undefinedFunctionRoutine, nullptr, nullptr};
const Function noMethodFunction = {noMethodRoutine, nullptr, nullptr};
GlobalSymbol* evalSymbol;
void (*&releasePrivatesHook)() = runtimeHooks.releasePrivatesHook;

namespace {

// The call's Symbol slot holds something else: an argument error whose
// operation is the call's opcode and whose operand is that Item. Calls that
// give a value take the error block's answer as their result; DO chooses
// the default (nothing is called).
uint16_t calleeNotASymbol(Item* frame, CallKind kind) {
    static const char* const names[] = {"DO", "FUNC", "SEND", "EVALSEND", "EVALSEND"};
    vm.top = frame;  // self and arguments go; the callee Item is the operand
    bool value = kind != CALL_DO;
    uint16_t r = raiseGuardError(names[kind], 1, value);
    if (r == ST_UNWIND) {
        vm.top = frame - 1;
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    if (kind == CALL_EVALNATIVE) *returnItem() = *vm.top;  // evalSend leaves its result there
    if (kind == CALL_DO || kind == CALL_EVALNATIVE) --vm.top;
    vm.callResult = 0;
    return 0;
}


// The returning frame's locals were captured by codeblocks: copy them into
// the shared array, which from now on holds them.
void detachLocals(Item* frame) {
    ObjectBody* a = static_cast<ObjectBody*>(frameSlot(frame)->symbolOrLocals);
    a->flags |= ARRAY_DETACHED;
    Item* e = static_cast<Item*>(a->data);
    for (uint32_t i = 1; i <= a->length; ++i) {
        Item* local = frame + 1 + i;
        if (local->type & M_REF) *local = *derefItem(local);
        e[i - 1] = *local;
    }
}

}  // namespace

const Function* defaultSendResolver(GlobalSymbol* message, Item* receiver) {
    if ((receiver->type & T_BLOCK) && message == evalSymbol) return &blockEvalFunction;
    return &noMethodFunction;
}

const Function* (*&sendResolver)(GlobalSymbol* message, Item* receiver) = runtimeHooks.sendResolver;

uint16_t callFunction(const Function* f) {
    return f->native ? f->native() : execute(f->pcode, f->module);
}

uint16_t callSequence(uint16_t n, CallKind kind) {
    itemClear(returnItem());
    vm.callResult = 0;  // describes the call that is about to run, nothing older

    Item* caller = vm.frame;
    FrameExtra& cx = vm.frameExtra[slotOf(caller)];
    cx.savedParamCount = uint8_t(vm.paramCount);
    cx.savedLocalCount = vm.localCount;
    cx.savedLine = vm.lineNumber;
    cx.savedFlags = vm.frameFlags;
    uint32_t savedBlockFrame = vm.blockFrame;
    Item* savedStatics = vm.staticsBase;

    // The Symbol's slot must lie above the caller's frame, and hold a Symbol.
    needItems(uint32_t(n) + 1);
    Item* frame = vm.top - n - 1;
    FrameSlot* fs = frameSlot(frame);
    if (fs->type != T_SYMBOL || !fs->symbolOrLocals) [[unlikely]] return calleeNotASymbol(frame, kind);
    GlobalSymbol* sym = static_cast<GlobalSymbol*>(fs->symbolOrLocals);
    fs->callerFrame = slotOf(caller);
    setFrameProcSymbol(frame, sym);
    fs->pad = 0;
    vm.frameFlags = 0;
    vm.lineNumber = 0;
    vm.paramCount = n;
    vm.frame = frame;

    const Function* f;
    switch (kind) {
    case CALL_DO:
    case CALL_FUNC:
        vm.callerModule = vm.moduleSymbols;
        f = sym->function;
        if (!f) f = sym->function = &undefinedFunction;
        break;
    case CALL_SEND:
        vm.callerModule = vm.moduleSymbols;
        f = sendResolver(sym, frame + 1);
        break;
    default:
        f = &blockEvalFunction;
        break;
    }
    FrameExtra& fx = frameExtraOf(frame);
    fx.serial = vm.nextSerial;
    vm.nextSerial = vm.nextSerial == 0xFFFFFFFFu ? 2 : vm.nextSerial + 1;  // 0 means returned, 1 the bottom
    ++vm.liveFrames;
    if (callFunction(f) == ST_UNWIND) vm.callResult = ST_UNWIND;
    --vm.liveFrames;
    fx.serial = 0;

    vm.top = frame;
    if (kind <= CALL_SEND && (fs->type & T_ARRAY) && !(frame[1].type & T_BLOCK)) detachLocals(frame);
    if ((vm.frameFlags & FF_PRIVATES) && releasePrivatesHook) releasePrivatesHook();

    vm.frame = caller;
    vm.lineNumber = cx.savedLine;
    vm.frameFlags = cx.savedFlags;
    vm.paramCount = cx.savedParamCount;
    vm.localCount = cx.savedLocalCount;
    vm.blockFrame = savedBlockFrame;
    vm.staticsBase = savedStatics;

    if (kind == CALL_DO || kind == CALL_EVALNATIVE) {
        --vm.top;
    } else if (vm.callResult != ST_UNWIND) {
        *frame = *returnItem();
        itemClear(returnItem());
    }
    return vm.callResult;
}

uint16_t callProc(uint16_t n) { return callSequence(n, CALL_DO); }

uint16_t evalSend(uint16_t n) { return callSequence(n, CALL_EVALNATIVE); }

uint16_t evalBlock(const Item* block) {
    pushSymbol(evalSymbol);
    push(block);
    return evalSend(0);
}

uint16_t evalBlock1(const Item* block, const Item* arg) {
    pushSymbol(evalSymbol);
    push(block);
    push(arg);
    return evalSend(1);
}

uint16_t blockEvalRoutine() {
    Item* frame = vm.frame;
    Item* self = frame + 1;
    if (!(self->type & T_BLOCK)) return noMethodRoutine();
    auto* cb = static_cast<Codeblock*>(bodyOf(self)->data);
    FrameSlot* fs = frameSlot(frame);
    setFrameProcSymbol(frame, cb->procSymbol);
    vm.staticsBase = cb->staticsBase;
    vm.blockFrame = cb->definingFrame;
    vm.localCount = cb->localCount;
    uint16_t r;
    if (cb->flags & CB_OWNED) {
        uint16_t flags = vm.frameFlags;
        vm.frameFlags |= FF_MACRO;
        r = execute(cb->code, emptyModuleTable());
        vm.frameFlags = uint16_t((vm.frameFlags & ~FF_MACRO) | (flags & FF_MACRO));
    } else {
        bool hasLocals = (cb->detachedLocals.type & T_ARRAY) != 0;
        if (vm.blockFrame != DETACHED && hasLocals && (bodyOf(&cb->detachedLocals)->flags & ARRAY_DETACHED)) {
            cb->definingFrame = DETACHED;
            vm.blockFrame = DETACHED;
        }
        // the creator returned without detaching, or its slot now holds another call
        if (vm.blockFrame < FRAME_GONE && vm.frameExtra[vm.blockFrame].serial != cb->definingSerial)
            vm.blockFrame = FRAME_GONE;
        if (vm.blockFrame == DETACHED && hasLocals) {
            fs->type = T_ARRAY;
            fs->symbolOrLocals = bodyOf(&cb->detachedLocals);
        }
        if (!(cb->flags & CB_INPLACE)) return noMethodRoutine();
        r = execute(cb->code, cb->moduleSymbols);
    }
    if (r == 0) {
        *returnItem() = *vm.top;
        --vm.top;
    }
    return r;
}

namespace {

// Inside TYPE the caller traps errors: report an unwinding instead of raising.
bool callerIsQuiet() {
    Item* caller = vm.stack + frameSlot(vm.frame)->callerFrame;
    return (savedFlagsOf(caller) & FF_QUIET) != 0;
}

uint16_t raiseCallError(uint16_t genCode, uint16_t subCode, const char* operation, const Item* operands,
                        uint16_t count) {
    if (callerIsQuiet()) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    return raiseReport({"BASE", genCode, subCode, EF_SUBSTITUTE, operation}, operands, count) == ST_UNWIND ? ST_UNWIND
                                                                                                 : 0;
}

}  // namespace

uint16_t undefinedFunctionRoutine() {
    GlobalSymbol* sym = frameProcSymbol(vm.frame);
    return raiseCallError(EG_NOFUNC, 1001, symbolName(sym), vm.frame + 2, vm.paramCount);
}

uint16_t noMethodRoutine() {
    const char* name = symbolName(frameProcSymbol(vm.frame));
    if (name[0] == '_') return raiseCallError(EG_NOVARMETHOD, 1005, name + 1, vm.frame + 1, uint16_t(vm.paramCount + 1));
    return raiseCallError(EG_NOMETHOD, 1004, name, vm.frame + 1, uint16_t(vm.paramCount + 1));
}

XB_OPCODE(DO) {
    uint16_t n = fetchU16();
    return callSequence(n, CALL_DO);
}

XB_OPCODE(FUNC) {
    uint16_t n = fetchU16();
    return callSequence(n, CALL_FUNC);
}

XB_OPCODE(SEND) {
    uint16_t n = fetchU16();
    return callSequence(n, CALL_SEND);
}

XB_OPCODE(EVALSEND) {
    uint16_t n = fetchU16();
    return callSequence(n, CALL_EVALSEND);
}

XB_OPCODE(FRAME) {
    uint8_t params = fetchU8();
    uint8_t locals = fetchU8();
    vm.localCount = uint8_t(params + locals);
    if (vm.paramCount > params) {
        vm.top -= vm.paramCount - params;
    } else {
        for (uint32_t i = vm.paramCount; i < params; ++i) pushNil();
    }
    for (uint32_t i = 0; i < locals; ++i) pushNil();
    return 0;
}

}  // namespace xb
