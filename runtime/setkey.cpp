// The key-block table. Each bound block lives in a static-area temporary, so
// the collector sees it as long as the table holds it.
#include "runtime/setkey.h"

#include "vm/function.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/procname.h"
#include "vm/stack.h"

namespace xb {

namespace {

struct KeyBlock {
    int32_t key;  // 0: a free pair
    Item* block;  // static-area temporary holding the Codeblock, or null
};
KeyBlock table[KEY_BLOCKS];

KeyBlock* findPair(int32_t key, bool orFree) {
    for (KeyBlock& k : table)
        if (k.key == key && key != 0) return &k;
    if (!orFree) return nullptr;
    for (KeyBlock& k : table)
        if (k.key == 0) return &k;
    return nullptr;
}

void releasePair(KeyBlock* k) {
    if (k->block) tempRelease(k->block);
    k->block = nullptr;
    k->key = 0;
}

bool checkKey(int32_t key, bool run, Item* active) {
    KeyBlock* k = key ? findPair(key, false) : nullptr;
    if (!k || !k->block) return false;
    if (!run) return true;
    char name[96];
    frameDisplayName(active, name, sizeof name);
    uint16_t line = frameLine(active);
    pushSymbol(evalSymbol);
    push(k->block);
    pushCString(name);
    pushLong(line);
    pushString("", 0);
    evalSend(3);
    const Item* answer = returnItem();
    return !(answer->type == T_LOGICAL && answer->v.l);
}

}  // namespace

bool keyCheck(int32_t key, bool run) { return checkKey(key, run, vm.frame); }

void releaseKeyBlocks() {
    for (KeyBlock& k : table) releasePair(&k);
}

// SETKEY(key, [block]): the block bound to key (NIL when none); with a
// second argument the binding is replaced by that block, or removed when it
// is not a codeblock.
XB_NATIVE(fnSETKEY, "SETKEY") {
    KeyBlock* k = findPair(paramInt(1), true);
    if (!k) return 0;
    if (k->block) retItem(k->block);
    if (paramCount() < 2) return 0;
    int32_t key = paramInt(1);
    releasePair(k);
    Item* block = paramItem(2, M_ANY);
    if (block) block = derefItem(block);
    if (block && (block->type & T_BLOCK)) {
        k->block = tempAlloc();
        *k->block = *block;
        k->key = key;
    }
    return 0;
}

// The key check for pcode: (key, run flag) -> logical. The block sees the
// procedure that asked, not this native.
XB_NATIVE(fnSETKEYCHECK, "__SETKEYCHECK") {
    Item* run = paramItem(2, T_LOGICAL);
    Item* caller = frameAbove(vm.frame, 1);
    retLogical(checkKey(paramInt(1), run && run->v.l, caller ? caller : vm.frame));
    return 0;
}

}  // namespace xb
