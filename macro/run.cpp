// Macro run and text substitution.
#include "macro/run.h"

#include <cstring>

#include "vm/symbols.h"
#include "base/casemap.h"
#include "macro/compiler.h"
#include "base/memory.h"
#include "vm/interp.h"
#include "vm/memvars.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

bool macroUndefinedIsNil = false;

namespace {

constexpr uint16_t FF_NOT_FOR_MACRO = 0x0002 | FF_DEBUG;

// The code of the runs in progress, innermost last: a static array, and a
// heap array only while runs nest deeper than it (given back when the
// outermost run ends, so nothing stays allocated between runs).
// Its pointer starts at its own inline array, so the record is reset in
// place (macroRunsAbandoned), never by copying a fresh one.
struct ActiveRuns {
    uint8_t* inlineActive[64];
    uint8_t** activeCode = inlineActive;
    uint32_t activeCount = 0;
    uint32_t activeCapacity = 64;
};
ActiveRuns runs;

void enterRun(uint8_t* code) {
    if (runs.activeCount == runs.activeCapacity) {
        auto* grown = static_cast<uint8_t**>(memAlloc(runs.activeCapacity * 2 * uint32_t(sizeof(uint8_t*))));
        std::memcpy(grown, runs.activeCode, runs.activeCount * sizeof(uint8_t*));
        if (runs.activeCode != runs.inlineActive) memFree(runs.activeCode);
        runs.activeCode = grown;
        runs.activeCapacity *= 2;
    }
    runs.activeCode[runs.activeCount++] = code;
}

void leaveRun() {
    if (--runs.activeCount == 0 && runs.activeCode != runs.inlineActive) {
        memFree(runs.activeCode);
        runs.activeCode = runs.inlineActive;
        runs.activeCapacity = 64;
    }
}

inline bool nameStart(uint8_t c) { return c == '_' || c == '@' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool nameChar(uint8_t c) { return nameStart(c) || (c >= '0' && c <= '9'); }
inline bool refChar(uint8_t c) {
    return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

uint16_t syntaxFailure() {
    itemClear(vm.top);
    vm.top->type = T_INTEGER;
    vm.top->width = 10;
    vm.top->v.l = opStatus(MACRO_SYNTAX_ERROR);
    return opStatus(MACRO_SYNTAX_ERROR);
}

// The String held by the memory variable named p[0..n), or null.
const Item* stringVariable(const char* p, uint32_t n) {
    char name[SYMBOL_NAME_MAX + 1];
    upperText(name, p, n);
    name[n] = 0;
    GlobalSymbol* s = findSymbol(name);
    if (!s || !s->memvarSlot) return nullptr;
    Item* v = memvarItem(s->memvarSlot);
    if (!v) return nullptr;
    v = derefItem(v);
    return (v->type & M_STRING) ? v : nullptr;
}

}  // namespace

bool plainIdentifier(const char* text, uint32_t n, uint32_t* start, uint32_t* length) {
    uint32_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == n || !nameStart(uint8_t(text[i]))) return false;
    uint32_t from = i++;
    while (i < n && nameChar(uint8_t(text[i]))) ++i;
    uint32_t to = i;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i != n) return false;
    *start = from;
    *length = to - from;
    return true;
}

uint16_t substituteTop() {
    const char* text = strData(vm.top);
    uint32_t n = strLength(vm.top);
    const char* amp = static_cast<const char*>(std::memchr(text, '&', n));
    if (!amp) return 0;
    // work copy: the text as it is being rebuilt
    uint32_t capacity = n + 1;
    char* work = static_cast<char*>(memAlloc(capacity));
    std::memcpy(work, text, n);
    uint32_t length = n;
    uint32_t at = uint32_t(amp - text);
    uint32_t steps = 0;
    bool changed = false;
    while (at < length) {
        if (work[at] != '&') {
            ++at;
            continue;
        }
        uint32_t nameAt = at + 1;
        if (nameAt >= length || !((charClass(uint8_t(work[nameAt])) & ccLetter) || work[nameAt] == '_')) {
            at = nameAt;
            continue;
        }
        uint32_t end = nameAt;
        while (end < length && end - nameAt < uint32_t(SYMBOL_NAME_MAX) && refChar(uint8_t(work[end]))) ++end;
        uint32_t refEnd = end < length && work[end] == '.' ? end + 1 : end;
        const Item* value = end > nameAt ? stringVariable(work + nameAt, end - nameAt) : nullptr;
        if (!value) {
            at = end;
            continue;
        }
        uint32_t insert = strLength(value);
        uint32_t newLength = length - (refEnd - at) + insert;
        if (newLength > MACRO_TEXT_MAX || ++steps > MACRO_SUBSTITUTIONS_MAX) {
            memFree(work);
            return syntaxFailure();
        }
        if (newLength + 1 > capacity) {
            capacity = newLength + 1;
            work = static_cast<char*>(memRealloc(work, capacity));
        }
        std::memmove(work + at + insert, work + refEnd, length - refEnd);
        std::memcpy(work + at, strData(value), insert);
        length = newLength;
        changed = true;
        // references inside the inserted text are expanded too
    }
    if (changed) makeString(vm.top, work, length);
    memFree(work);
    return 0;
}

uint16_t macroRun(bool storeMode) {
    const char* text = strData(vm.top);
    uint32_t n = strLength(vm.top);
    uint32_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == n) return syntaxFailure();
    uint32_t codeLength;
    uint8_t* code = compileMacro(text, n, &codeLength, storeMode);
    if (!code) return syntaxFailure();
    --vm.top;
    Item* base = vm.top;
    uint16_t flags = vm.frameFlags;
    // blocks made by the code outlive its buffer, so they copy their code
    vm.frameFlags = uint16_t((flags | FF_MACRO) & ~FF_NOT_FOR_MACRO);
    enterRun(code);
    uint16_t r = execute(code, emptyModuleTable());
    leaveRun();
    vm.frameFlags = flags;
    memFree(code);
    while (vm.top < base + 1) pushNil();
    if (vm.top > base + 1) vm.top = base + 1;
    if (storeMode) vm.top -= 2;
    return r;
}

void macroRunsAbandoned() {
    while (runs.activeCount) memFree(runs.activeCode[--runs.activeCount]);
    if (runs.activeCode != runs.inlineActive) memFree(runs.activeCode);
    runs.activeCode = runs.inlineActive;
    runs.activeCapacity = 64;
    macroUndefinedIsNil = false;
}

}  // namespace xb
