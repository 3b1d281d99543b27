// Get/set blocks from templates or from text.
#include "macro/varblock.h"

#include <cstring>

#include "vm/function.h"
#include "vm/symbols.h"
#include "base/casemap.h"
#include "macro/run.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/fields.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/native.h"
#include "vm/opcodes.h"
#include "vm/stack.h"
#include "vm/symref.h"

namespace xb {

namespace {

// Each template sits inside a little program that creates the block
// (PUSHBLOCK length, the template, ENDPROC); run with the macro flag set, the
// block takes a copy of the bytes, so the shared template can be patched
// again for the next block.
constexpr uint32_t HEADER = 3;

uint8_t memvarProgram[HEADER + MEMVAR_BLOCK_SIZE + 1] = {
    OP_PUSHBLOCK, MEMVAR_BLOCK_SIZE, 0,
    40, 1, 0,          // one parameter
    55, 1, 0,          // push parameter 1
    123,               // push NIL
    94,                // exactly equal
    27, 8, 0,          // jump if false to 19
    79, 0, 0, 0, 0,    // push the memory variable
    30, 9, 0,          // jump to 28
    55, 1, 0,          // push parameter 1
    93,                // duplicate
    75, 0, 0, 0, 0,    // pop into the memory variable
    95,                // end of block
    OP_ENDPROC};

uint8_t fieldProgram[HEADER + FIELD_BLOCK_SIZE + 1] = {
    OP_PUSHBLOCK, FIELD_BLOCK_SIZE, 0,
    40, 1, 0,          // one parameter
    55, 1, 0,          // push parameter 1
    123,               // push NIL
    94,                // exactly equal
    27, 11, 0,         // jump if false to 22
    54, 0, 0,          // push the work-area number
    82, 0, 0, 0, 0,    // push the field of that area
    30, 12, 0,         // jump to 34
    55, 1, 0,          // push parameter 1
    93,                // duplicate
    54, 0, 0,          // push the work-area number
    76, 0, 0, 0, 0,    // pop into the field of that area
    95,                // end of block
    OP_ENDPROC};

static_assert(sizeof memvarProgram == HEADER + 29 + 1 && sizeof fieldProgram == HEADER + 35 + 1);

void patchSymbol(uint8_t* at, GlobalSymbol* s) {
    uint32_t ref = symbolRef(s);
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(ref >> (8 * i));
}
void patchArea(uint8_t* at, uint16_t area) {
    at[0] = uint8_t(area);
    at[1] = uint8_t(area >> 8);
}

// Pushes a block whose code is a copy of program's template.
void pushBlockCopy(const uint8_t* program) {
    uint16_t flags = vm.frameFlags;
    vm.frameFlags |= FF_MACRO;
    execute(program, emptyModuleTable());
    vm.frameFlags = flags;
}

// The text form: {|_1|if(_1==NIL,TEXT,TEXT:=_1)}
char* blockText(const char* text, uint32_t n, uint32_t* length) {
    static const char A[] = "{|_1|if(_1==NIL,", B[] = ":=_1)}";
    *length = uint32_t(sizeof A - 1) + n + 1 + n + uint32_t(sizeof B - 1);
    auto* out = static_cast<char*>(memAlloc(*length));
    char* p = out;
    std::memcpy(p, A, sizeof A - 1), p += sizeof A - 1;
    std::memcpy(p, text, n), p += n;
    *p++ = ',';
    std::memcpy(p, text, n), p += n;
    std::memcpy(p, B, sizeof B - 1);
    return out;
}

bool buildFromText(const char* text, uint32_t n) {
    uint32_t length;
    char* source = blockText(text, n, &length);
    pushString(source, length);
    memFree(source);
    uint16_t r = macroRun(false);
    if (r) {
        // the syntax error of a text that does not compile is raised here
        if (r != ST_UNWIND) {
            ErrorDescriptor d = errorDescriptor("BASE", EG_SYNTAX, 1449, EF_SUBSTITUTE, "&");
            raiseOperatorError(&d, 1);
        }
        return false;
    }
    Item block = *vm.top;
    if (evalBlock(&block) == ST_UNWIND) return false;
    return true;
}

}  // namespace

bool buildGetSetBlock(const char* text, uint32_t n) {
    uint32_t start, length;
    if (!plainIdentifier(text, n, &start, &length)) return buildFromText(text, n);
    char name[SYMBOL_NAME_MAX + 1];
    if (length > uint32_t(SYMBOL_NAME_MAX)) length = SYMBOL_NAME_MAX;
    upperText(name, text + start, length);
    name[length] = 0;
    GlobalSymbol* s = findOrCreateSymbol(name);
    uint16_t area = fieldAccess()->currentArea();
    FieldDescriptor* field = findField(s, area);
    if (field) {
        patchArea(fieldProgram + HEADER + 12, area);
        patchArea(fieldProgram + HEADER + 27, area);
        patchSymbol(fieldProgram + HEADER + 15, s);
        patchSymbol(fieldProgram + HEADER + 30, s);
        pushBlockCopy(fieldProgram);
    } else {
        patchSymbol(memvarProgram + HEADER + 12, s);
        patchSymbol(memvarProgram + HEADER + 24, s);
        pushBlockCopy(memvarProgram);
    }
    // read the variable once, so that a missing one is reported now
    for (uint16_t tries = 1;; ++tries) {
        if (FieldDescriptor* d = findField(s, fieldAccess()->currentArea())) {
            if (pushField(d)) return false;
            break;
        }
        if (s->memvarSlot) {
            pushDeref(memvarItem(s->memvarSlot));
            break;
        }
        if (raiseMissingVariable(s, tries) == ST_UNWIND) return false;
    }
    *returnItem() = *vm.top;
    --vm.top;
    return true;
}

// GETSETBLOCK(cName) → the get/set block of the variable cName names.
XB_NATIVE(fnGETSETBLOCK, "GETSETBLOCK") {
    Item* name = paramItem(1, M_STRING);
    if (!name) return argumentError("BASE", 1065, EF_SUBSTITUTE);
    Item* top = vm.top;
    char* text = itemTextCopy(name);
    bool ok = buildGetSetBlock(text, strLength(name));
    memFree(text);
    if (ok) {
        *returnItem() = *vm.top;
        vm.top = top;
    } else {
        vm.top = top;
        retNil();
    }
    return 0;
}

}  // namespace xb
