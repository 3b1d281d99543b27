// DBFNTX: the area's order list (up to 15 index files, one controlling),
// opening, creating and rebuilding orders, the order condition record,
// orderInfo with the scopes, and the life of the area (its part of the area
// record, close). Positioning and upkeep are in ntx_moves.cpp.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "rdd/areas.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/default_methods.h"
#include "rdd/ntx/ntx_area.h"
#include "rdd/ntx/ntx_build.h"
#include "rdd/ntx/ntx_verify.h"
#include "rdd/registry.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "base/hooks.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {


RddMethodTable ntxParent;

namespace {

constexpr uint16_t SUB_OPEN_INDEX = 1003, SUB_CREATE_INDEX = 1006, SUB_WRITE = 1011, SUB_CORRUPT = 1012;
// A key or for-condition text that does not compile: the macro syntax error's code.
constexpr uint16_t SUB_KEY_SYNTAX = 1449;

// ---- the order condition record (one for the runtime) --------------------

struct ConditionRecord {
    bool set;
    bool partial;
    Item* args[ORDER_CONDITION_ARGS];  // static-area temporaries, or null
};
ConditionRecord condition;

void clearCondition() {
    for (Item*& it : condition.args) {
        if (it) tempRelease(it);
        it = nullptr;
    }
    condition.set = condition.partial = false;
}

const Item* condArg(int n) { return condition.set ? condition.args[n - 1] : nullptr; }
bool condTrue(int n) {
    const Item* it = condArg(n);
    return it && it->type == T_LOGICAL && it->v.l;
}
const Item* condBlock(int n) {
    const Item* it = condArg(n);
    return it && (it->type & T_BLOCK) ? it : nullptr;
}
double numberOf(const Item* it) { return (it->type & T_DOUBLE) ? it->v.d : double(it->v.l); }

RddResult ntxOrderCondition(WorkArea*, OrderCondition* c) {
    clearCondition();
    bool set = false, partial = false;
    for (int i = 0; i < ORDER_CONDITION_ARGS; ++i) {
        const Item* it = c ? c->args[i] : nullptr;
        if (!isGiven(it)) continue;
        Item* keep = tempAlloc();
        *keep = *it;
        bool numeric = (it->type & M_NUMERIC) != 0;
        bool truth = it->type == T_LOGICAL && it->v.l;
        // Negative numbers count as 0 for the interval and the last two.
        if (numeric && (i == 5 || i == 7 || i == 8) && numberOf(it) < 0) {
            itemClear(keep);
            keep->type = T_INTEGER;
            keep->width = 10;
            keep->v.l = 0;
        }
        condition.args[i] = keep;
        int n = i + 1;
        if (n == 1 && isString(it)) set = true;
        if ((n == 2 || n == 5) && (it->type & T_BLOCK)) set = true;
        if ((n == 3 || n == 10 || n == 11) && truth) set = true;
        if ((n == 8 || n == 9) && numeric && numberOf(it) >= 0) set = true;
        if ((n == 3 || n == 10) && truth) partial = true;
        if (n == 4 && (it->type & T_BLOCK)) partial = true;
        if ((n == 8 || n == 9) && numeric && numberOf(it) > 0) partial = true;
    }
    condition.set = set;
    condition.partial = set && partial;
    return RDD_OK;
}

// ---- helpers ------------------------------------------------------------

uint16_t partOffset() {
    static uint16_t offset = 0;
    if (!offset) {
        uint16_t size = 0;
        rddCallVia<RDD_STRUCTSIZE>(&ntxParent, static_cast<WorkArea*>(nullptr), &size);
        offset = uint16_t((size + 7u) & ~7u);
    }
    return offset;
}

void upper(char* s) {
    for (; *s; ++s) *s = char(std::toupper(static_cast<unsigned char>(*s)));
}

// The field a key text names, when it is a plain C or N field of the
// table whose width is the key size (its bytes are then the key); -1
// otherwise.
int32_t plainFieldOf(WorkArea* a, const char* text, uint16_t keySize) {
    char name[64];
    size_t n = 0;
    while (*text == ' ') ++text;
    for (; *text && *text != ' ' && n < sizeof name - 1; ++text) name[n++] = *text;
    while (*text == ' ') ++text;
    if (*text || n == 0) return -1;
    name[n] = 0;
    upper(name);
    if (!(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) return -1;
    for (size_t i = 0; i < n; ++i)
        if (!(std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '_')) return -1;
    const DbfTable* t = ntxTable(a);
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
        const DbfField& f = t->fields[i];
        if (std::strcmp(f.name, name) != 0) continue;
        if ((f.type == 'C' || f.type == 'N') && (keySize == 0 || f.length == keySize)) return int32_t(i);
        return -1;
    }
    return -1;
}

// Compiles text through the area into a new temporary; null on failure.
Item* compileText(WorkArea* a, const char* text) {
    if (!text || !*text) return nullptr;
    if (rdd::compile(a, text) || !a->result || !(a->result->type & T_BLOCK)) return nullptr;
    Item* keep = tempAlloc();
    *keep = *a->result;
    return keep;
}
Item* keepBlock(const Item* block) {
    Item* keep = tempAlloc();
    *keep = *block;
    return keep;
}

// Opens name (default extension .ntx) with the area's sharing, asking the
// error handler while it answers retry. INVALID after a failure (*status).
os::Handle openIndexFile(WorkArea* a, const char* name, bool create, RddResult* status) {
    const DbfTable* t = ntxTable(a);
    uint32_t mode = create ? 0x1182u : (t->shared ? 0x10C0u : 0x1090u) | (t->readOnly ? 0u : 2u);
    for (uint16_t tries = 1;; ++tries) {
        ErrorDescriptor d = errorDescriptor(nullptr, 0, create ? SUB_CREATE_INDEX : SUB_OPEN_INDEX, EF_RETRY | EF_DEFAULT);
        os::Handle h = fileNameOpen(name, ".ntx", mode, nullptr, &d);
        if (h != os::INVALID) {
            *status = RDD_OK;
            return h;
        }
        d.tries = tries;
        RddResult answer = rdd::error(a, &d);
        if (answer == RDD_RETRY) continue;
        *status = answer == RDD_UNWIND ? answer : RDD_FAILED;
        return os::INVALID;
    }
}

void closeOrder(NtxOrder* o) {
    if (!o->shared && o->tree.dirty) ntxWriteHeader(&o->tree);
    ntxDetach(&o->tree);
    fsClose(o->file);
    Item* items[] = {o->keyBlock, o->forBlock, o->scope[0], o->scope[1]};
    for (Item* it : items)
        if (it) tempRelease(it);
    memFree(o->oldKey);
    memFree(o->newKey);
    memFree(o);
}

// Opens an index file as an order record (not yet in the list). keyBlock
// and forBlock, when given, replace compiling the header's texts. building:
// the file was just created for a build and is marked until the build
// ends (any other open refuses a marked file).
RddResult openOrder(WorkArea* a, const char* name, const Item* keyBlock, const Item* forBlock, NtxOrder** out,
                   bool building = false) {
    RddResult status = RDD_OK;
    os::Handle h = openIndexFile(a, name, false, &status);
    if (h == os::INVALID) return status;
    auto* o = static_cast<NtxOrder*>(memAllocZero(sizeof(NtxOrder)));
    std::strncpy(o->fileName, fileNameFull(), FILE_NAME_MAX);
    o->file = h;
    o->shared = ntxTable(a)->shared;
    o->plainField = -1;
    NtxHeader header;
    NtxStatus st = ntxReadHeader(h, &header);
    if (!st) st = building ? ntxAttachMarked(&o->tree, h) : ntxAttach(&o->tree, h);
    o->tree.sharedUse = o->shared;
    if (st) {
        fsClose(h);
        RddResult r = ntxRaise(a, EG_CORRUPTION, SUB_CORRUPT, EF_DEFAULT, o->fileName);
        memFree(o);
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
    char text[NTX_MAX_KEY_SIZE + 1];
    uint16_t n = ntxHeaderTextLength(header.keyExpr, NTX_MAX_KEY_SIZE);
    std::memcpy(text, header.keyExpr, n);
    text[n] = 0;
    o->plainField = plainFieldOf(a, text, o->tree.keySize);
    o->keyBlock = keyBlock && (keyBlock->type & T_BLOCK) ? keepBlock(keyBlock) : compileText(a, text);
    n = ntxHeaderTextLength(header.forExpr, NTX_MAX_KEY_SIZE);
    std::memcpy(text, header.forExpr, n);
    text[n] = 0;
    o->hasFor = n > 0 || (forBlock && (forBlock->type & T_BLOCK));
    if (o->hasFor) o->forBlock = forBlock && (forBlock->type & T_BLOCK) ? keepBlock(forBlock) : compileText(a, text);
    o->oldKey = static_cast<char*>(memAllocZero(o->tree.keySize + 1u));
    o->newKey = static_cast<char*>(memAllocZero(o->tree.keySize + 1u));
    if ((!o->keyBlock && o->plainField < 0) || (o->hasFor && !o->forBlock)) {
        // The key or condition text does not compile here: say so, or the
        // caller would carry on as if the order were open.
        char file[FILE_NAME_MAX + 1];
        std::strncpy(file, o->fileName, FILE_NAME_MAX);
        file[FILE_NAME_MAX] = 0;
        closeOrder(o);
        RddResult r = ntxRaise(a, EG_SYNTAX, SUB_KEY_SYNTAX, EF_DEFAULT, file);
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
    o->partial = (o->tree.signature & NTX_SIG_PARTIAL) != 0;
    n = ntxHeaderTextLength(header.tagName, NTX_TAG_LENGTH);
    if (n) {
        std::memcpy(o->tag, header.tagName, n);
    } else {
        char base[NAME_PART_SIZE];
        fileNameSplit(o->fileName, nullptr, nullptr, base, nullptr);
        // The order's name is the file's base name as it is written, cut to
        // 10 characters (a tag in the header is taken as stored).
        std::memcpy(o->tag, base, std::min<size_t>(std::strlen(base), NTX_TAG_LENGTH));
    }
    ntxLockSetup(&o->lock, h, o->tree.signature);
    *out = o;
    return RDD_OK;
}

// ---- building -----------------------------------------------------------

struct BuildSource {
    WorkArea* area;
    NtxOrder* order;
    uint32_t next, count;
    const Item* evalBlock;
    uint32_t interval;
    // Why the reading stopped: the evaluation block ended it (blockEnded), or
    // a step failed (result).
    bool blockEnded;
    RddResult result;
};

bool nextPair(char* key, uint32_t* record, bool* done, void* context) {
    auto* s = static_cast<BuildSource*>(context);
    WorkArea* a = s->area;
    while (s->next <= s->count) {
        uint32_t n = s->next++;
        if ((s->result = ntxParentGoTo(a, n))) return false;
        if (s->evalBlock && (n - 1) % (s->interval ? s->interval : 1) == 0) {
            RddResult r = rdd::evalBlock(a, s->evalBlock);
            if (r == RDD_UNWIND) {
                s->result = r;
                return false;
            }
            if (r || !a->result || (a->result->type & T_ARRAY) ||
                (a->result->type == T_LOGICAL && !a->result->v.l)) {
                s->blockEnded = true;
                return false;
            }
        }
        bool passes = true;
        if ((s->result = ntxRecordKey(a, s->order, key, &passes))) return false;
        if (idleServices) idleServices();
        if (passes) {
            *record = n;
            *done = false;
            return true;
        }
    }
    *done = true;
    return true;
}

bool noPairs(char*, uint32_t*, bool* done, void*) {
    *done = true;
    return true;
}

RddResult buildOrder(WorkArea* a, NtxOrder* o) {
    BuildSource s{a, o, 1, 0, condBlock(5), 0, false, RDD_OK};
    if (const Item* iv = condArg(6); iv && (iv->type & M_NUMERIC) && numberOf(iv) > 0)
        s.interval = uint32_t(numberOf(iv));
    rdd::recCount(a, &s.count);
    NtxStatus st = ntxBuildOrder(&o->tree, nextPair, &s, NTX_BUILD_SORT_BUDGET, o->fileName);
    if (st == NTX_STOPPED && s.blockEnded) st = ntxBuildOrder(&o->tree, noPairs, nullptr, NTX_BUILD_SORT_BUDGET, o->fileName);
    if (st == NTX_STOPPED) return s.result;  // reported where it failed
    if (uint16_t n = ntxSortErrorNumber(st)) fatalError(n);
    // The final header write unmarks the file: a build is whole on disk
    // before the file opens as an index again.
    if (!st) st = o->shared ? ntxCommitShared(&o->tree) : ntxWriteHeader(&o->tree);
    if (st) return ntxTreeError(a, o, st);
    return RDD_OK;
}

// ---- the order list -----------------------------------------------------

int32_t orderNumberOf(WorkArea* a, const Item* which) {
    NtxPart* p = ntxPart(a);
    if (!isGiven(which)) return p->controlling;
    if (which->type & M_NUMERIC) {
        double v = numberOf(which);
        return v >= 0 && v <= p->count ? int32_t(v) : -1;
    }
    if (!isString(which)) return -1;
    char name[NAME_PART_SIZE];
    uint32_t len = strLength(which) < NAME_PART_SIZE - 1 ? strLength(which) : NAME_PART_SIZE - 1;
    std::memcpy(name, strData(which), len);
    name[len] = 0;
    while (len && name[len - 1] == ' ') name[--len] = 0;
    upper(name);
    if (!len) return -1;
    for (uint16_t i = 0; i < p->count; ++i) {
        NtxOrder* o = p->orders[i];
        char base[NAME_PART_SIZE];
        fileNameSplit(o->fileName, nullptr, nullptr, base, nullptr);
        upper(base);
        char tag[NTX_TAG_LENGTH + 1];
        std::memcpy(tag, o->tag, sizeof tag);
        upper(tag);
        for (const char* candidate : {static_cast<const char*>(tag), static_cast<const char*>(base)}) {
            size_t shorter = std::min<size_t>(len, std::strlen(candidate));
            if (shorter && std::strncmp(candidate, name, shorter) == 0) return i + 1;
        }
    }
    return -1;
}

void setText(Item* out, const char* s) {
    if (out) makeString(out, s, uint32_t(std::strlen(s)));
}
void setNumber(Item* out, int32_t v) {
    if (!out) return;
    itemClear(out);
    out->type = T_INTEGER;
    out->width = 10;
    out->v.l = v;
}

RddResult ntxOrderListClear(WorkArea* a) {
    RddResult status = rdd::goCold(a);
    NtxPart* p = ntxPart(a);
    for (uint16_t i = 0; i < p->count; ++i) {
        closeOrder(p->orders[i]);
        p->orders[i] = nullptr;
    }
    p->count = p->controlling = 0;
    return status;
}

RddResult ntxOrderListAdd(WorkArea* a, OrderInfo* info) {
    if (RddResult r = rdd::goCold(a)) return r;
    NtxPart* p = ntxPart(a);
    const char* name = info && info->bagName ? info->bagName : "";
    if (p->count >= NTX_MAX_ORDERS) {
        RddResult r = ntxRaise(a, EG_LIMIT, 1027, EF_DEFAULT, name);
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
    NtxOrder* o = nullptr;
    if (RddResult r = openOrder(a, name, nullptr, nullptr, &o)) return r;
    p->orders[p->count++] = o;
    if (p->count == 1) p->controlling = 1;
    return rdd::goTop(a);
}

RddResult ntxOrderListFocus(WorkArea* a, OrderInfo* info) {
    NtxPart* p = ntxPart(a);
    NtxOrder* now = ntxControlling(a);
    if (info && info->value) setText(info->value, now ? now->tag : "");
    if (!info || !isGiven(info->order)) return RDD_OK;
    int32_t n = orderNumberOf(a, info->order);
    if (n < 0) return RDD_OK;
    p->controlling = uint16_t(n);
    if (NtxOrder* o = ntxControlling(a)) o->tree.depth = 0;
    return RDD_OK;
}

RddResult ntxOrderListRebuild(WorkArea* a) { return ntxRebuildAll(a); }

RddResult ntxOrderCreate(WorkArea* a, OrderCreateInfo* ci) {
    if (RddResult r = ntxOrderListClear(a)) return r;
    const char* keyText = ci->keyText ? ci->keyText : "";
    const Item* keyBlock = ci->keyBlock && (ci->keyBlock->type & T_BLOCK) ? ci->keyBlock : nullptr;
    int32_t field = plainFieldOf(a, keyText, 0);
    Item* compiled = nullptr;
    if (!keyBlock && field < 0) {
        compiled = compileText(a, keyText);
        if (!compiled) {
            clearCondition();
            RddResult r = ntxRaise(a, EG_SYNTAX, SUB_KEY_SYNTAX, EF_DEFAULT, ci->bagName);
            return r == RDD_UNWIND ? r : RDD_FAILED;
        }
        keyBlock = compiled;
    }
    // The key's type and size come from the blank record.
    RddResult status = ntxParentGoTo(a, 0);
    Item* value = tempAlloc();
    if (!status) {
        if (keyBlock) {
            status = rdd::evalBlock(a, keyBlock);
            if (!status && a->result) *value = *a->result;
        } else {
            status = rdd::getValue(a, uint16_t(field), value);
        }
    }
    NtxKeyShape shape = ntxKeyShape(*value);
    tempRelease(value);
    if (!status && shape.keySize == 0) {
        RddResult r = ntxRaise(a, EG_DATAWIDTH, 1026, EF_DEFAULT, ci->bagName);
        status = r == RDD_UNWIND ? r : RDD_FAILED;
    }
    os::Handle h = os::INVALID;
    if (!status) h = openIndexFile(a, ci->bagName, true, &status);
    if (!status) {
        const Item* forText = condArg(1);
        char forBuffer[NTX_MAX_KEY_SIZE + 1] = {};
        if (forText && isString(forText)) {
            uint32_t n = strLength(forText) < NTX_MAX_KEY_SIZE ? strLength(forText) : NTX_MAX_KEY_SIZE;
            std::memcpy(forBuffer, strData(forText), n);
        }
        NtxHeaderInfo hi{shape.keySize, shape.keyDecimals, keyText, forBuffer, ci->tag, ci->unique != 0,
                         condTrue(11), condition.partial};
        NtxTree fresh{};
        char fullName[FILE_NAME_MAX + 1] = {};
        std::strncpy(fullName, fileNameFull(), FILE_NAME_MAX);
        NtxStatus st = ntxCreate(&fresh, h, hi, true);
        if (!st) ntxDetach(&fresh);
        fsClose(h);
        NtxOrder* o = nullptr;
        if (st) {
            bool write = st == NTX_ERR_WRITE;
            RddResult r = ntxRaise(a, write ? EG_WRITE : EG_CORRUPTION, write ? SUB_WRITE : SUB_CORRUPT, EF_DEFAULT,
                                  fullName, write ? fsWriteErrorCode() : 0);
            status = r == RDD_UNWIND ? r : RDD_FAILED;
        } else {
            status = openOrder(a, fullName, keyBlock, condBlock(2), &o, true);
        }
        if (!status) {
            status = buildOrder(a, o);
            if (status) {
                closeOrder(o);
            } else {
                NtxPart* p = ntxPart(a);
                p->orders[0] = o;
                p->count = p->controlling = 1;
            }
        }
    }
    if (compiled) tempRelease(compiled);
    clearCondition();
    if (status) return status;
    return rdd::goTop(a);
}

RddResult headerText(WorkArea* a, NtxOrder* o, bool forText, Item* out) {
    if (RddResult r = ntxLockOrder(a, o)) return r;
    NtxHeader h;
    NtxStatus st = ntxReadHeader(o->file, &h);
    ntxUnlockOrder(a, o);
    const char* field = forText ? h.forExpr : h.keyExpr;
    if (out) makeString(out, st ? "" : field, st ? 0 : ntxHeaderTextLength(field, NTX_MAX_KEY_SIZE));
    return RDD_OK;
}

// Answers the scope's previous value in value (NIL when none) and clears it.
RddResult setScope(NtxOrder* o, int side, Item* value) {
    Item* previous = o->scope[side];
    if (value) {
        if (previous) *value = *previous;
        else itemClear(value);
    }
    if (previous) tempRelease(previous);
    o->scope[side] = nullptr;
    o->scopeEmpty = false;
    o->tree.depth = 0;
    return RDD_OK;
}

RddResult ntxOrderInfo(WorkArea* a, uint16_t code, OrderInfo* info) {
    Item* out = info ? info->value : nullptr;
    int32_t n = orderNumberOf(a, info ? info->order : nullptr);
    NtxPart* p = ntxPart(a);
    if (n == 0) n = p->controlling;  // 0 asks about the controlling order
    if (n <= 0 || n > p->count) {
        if (code == DBOI_BAGEXT) setText(out, ".NTX");
        else if (code == DBOI_NUMBER) setNumber(out, n < 0 ? 0 : n);
        else if (out && code != DBOI_POSITION && code != DBOI_KEYCOUNT) setText(out, "");
        else if (out) itemClear(out);
        if (out && (code == DBOI_POSITION || code == DBOI_KEYCOUNT)) setNumber(out, 0);
        return RDD_OK;
    }
    NtxOrder* o = p->orders[n - 1];
    switch (code) {
        case DBOI_CONDITION: return headerText(a, o, true, out);
        case DBOI_EXPRESSION: return headerText(a, o, false, out);
        case DBOI_POSITION: {
            if (RddResult r = rdd::goCold(a)) return r;
            if (RddResult r = ntxLockOrder(a, o)) return r;
            uint32_t number = 0, rec = 0;
            NtxStatus st = NTX_OK;
            if (out && (out->type & M_NUMERIC)) {
                number = numberOf(out) > 0 ? uint32_t(numberOf(out)) : 0;
                st = ntxGoToNumber(&o->tree, number, &rec);
                ntxUnlockOrder(a, o);
                RddResult moved = st ? RDD_OK : ntxParentGoTo(a, rec);
                setNumber(out, rec ? int32_t(number) : 0);
                return st || moved ? RDD_FAILED : RDD_OK;
            }
            DbfTable* t = ntxTable(a);
            RddResult keyed = RDD_OK;
            if (t->positioned && t->recNo <= t->recordCount) {
                bool passes = true, found = false;
                keyed = ntxRecordKey(a, o, o->newKey, &passes);
                if (!keyed && passes) st = ntxLocate(&o->tree, o->newKey, t->recNo, &found);
                if (!keyed && !st && found) st = ntxKeyNumber(&o->tree, &number);
            }
            ntxUnlockOrder(a, o);
            setNumber(out, int32_t(number));
            return st || keyed ? RDD_FAILED : RDD_OK;
        }
        case DBOI_NAME: setText(out, o->tag); return RDD_OK;
        case DBOI_NUMBER: setNumber(out, n); return RDD_OK;
        case DBOI_BAGNAME: setText(out, o->fileName); return RDD_OK;
        case DBOI_BAGEXT: setText(out, ".NTX"); return RDD_OK;
        case DBOI_KEYCOUNT: {
            if (RddResult r = rdd::goCold(a)) return r;
            if (RddResult r = ntxLockOrder(a, o)) return r;
            uint32_t count = 0;
            NtxStatus st = ntxKeyCount(&o->tree, &count);
            ntxUnlockOrder(a, o);
            setNumber(out, int32_t(count));
            return st ? RDD_FAILED : RDD_OK;
        }
        case DBOI_SCOPETOP:
        case DBOI_SCOPEBOTTOM: {
            int side = code == DBOI_SCOPETOP ? 0 : 1;
            Item* kept = nullptr;
            if (out && isGiven(out)) {
                kept = tempAlloc();
                *kept = *out;
            }
            setScope(o, side, out);
            if (kept) {
                o->scope[side] = kept;
                ntxSearchKey(o, kept, o->scopeKey[side], &o->scopeLength[side]);
                if (o->scopeLength[side] == 0) {
                    tempRelease(kept);
                    o->scope[side] = nullptr;
                }
            }
            if (o->scope[0] && o->scope[1]) {
                uint16_t len = std::min(o->scopeLength[0], o->scopeLength[1]);
                o->scopeEmpty = ntxCompare(o->scopeKey[0], o->scopeKey[1], len, o->tree.descending) > 0;
            }
            return RDD_OK;
        }
        case DBOI_SCOPETOPCLEAR: return setScope(o, 0, out);
        case DBOI_SCOPEBOTTOMCLEAR: return setScope(o, 1, out);
        default:
            if (out) itemClear(out);
            return RDD_OK;
    }
}

// ---- life of the area ---------------------------------------------------

RddResult ntxNewArea(WorkArea* a) {
    if (RddResult r = rddCallVia<RDD_NEWAREA>(&ntxParent, a)) return r;
    std::memset(ntxPart(a), 0, sizeof(NtxPart));
    return RDD_OK;
}

RddResult ntxStructSize(WorkArea*, uint16_t* size) {
    *size = uint16_t(partOffset() + sizeof(NtxPart));
    return RDD_OK;
}

RddResult ntxSysName(WorkArea*, char* out) {
    std::strcpy(out, "DBFNTX");
    return RDD_OK;
}

RddResult ntxClose(WorkArea* a) {
    RddResult status = ntxOrderListClear(a);
    RddResult r = rddCallVia<RDD_CLOSE>(&ntxParent, a);
    // The condition record's Items must not outlive the last area that could
    // use them (the layer's stop closes every area before the temporaries go).
    bool others = false;
    for (uint16_t n = 1; n <= AREA_COUNT && !others; ++n) {
        WorkArea* w = areaAt(n);
        others = w && w != a && rddSlot<RDD_ORDERCREATE>(rddMethodsOf(w)) == ntxOrderCreate;
    }
    if (!others) clearCondition();
    return status ? status : r;
}

void fillNtx(RddMethodTable* t) {
    fillNtxMoves(t);
    rddSetSlot<RDD_CLOSE>(t, ntxClose);
    rddSetSlot<RDD_NEWAREA>(t, ntxNewArea);
    rddSetSlot<RDD_STRUCTSIZE>(t, ntxStructSize);
    rddSetSlot<RDD_SYSNAME>(t, ntxSysName);
    rddSetSlot<RDD_ORDERLISTADD>(t, ntxOrderListAdd);
    rddSetSlot<RDD_ORDERLISTCLEAR>(t, ntxOrderListClear);
    rddSetSlot<RDD_ORDERLISTFOCUS>(t, ntxOrderListFocus);
    rddSetSlot<RDD_ORDERLISTREBUILD>(t, ntxOrderListRebuild);
    rddSetSlot<RDD_ORDERCONDITION>(t, ntxOrderCondition);
    rddSetSlot<RDD_ORDERCREATE>(t, ntxOrderCreate);
    rddSetSlot<RDD_ORDERINFO>(t, ntxOrderInfo);
}

MethodFillRegistration ntxRegistration("DBFNTX", fillNtx, &ntxParent);

}  // namespace

// ---- shared with ntx_moves.cpp ------------------------------------------

NtxPart* ntxPart(WorkArea* a) { return reinterpret_cast<NtxPart*>(reinterpret_cast<char*>(a) + partOffset()); }
DbfTable* ntxTable(WorkArea* a) { return const_cast<DbfTable*>(dbfTableOf(a)); }
NtxOrder* ntxControlling(WorkArea* a) {
    NtxPart* p = ntxPart(a);
    return p->controlling && p->controlling <= p->count ? p->orders[p->controlling - 1] : nullptr;
}

RddResult ntxRaise(WorkArea* a, uint16_t gen, uint16_t sub, uint16_t flags, const char* file, uint16_t osCode) {
    AreaErrorInfo e{gen, sub, flags, osCode, 1, file, nullptr};
    return raiseAreaError(a, e);
}

RddResult ntxTreeError(WorkArea* a, NtxOrder* o, NtxStatus st) {
    // A failed write is a write error of the index file (a full disk
    // carries its reason, 112, beside the cleared OS error); anything else
    // the file holds is corruption.
    RddResult r = st == NTX_ERR_WRITE
                      ? ntxRaise(a, EG_WRITE, SUB_WRITE, EF_DEFAULT, o->fileName, fsWriteErrorCode())
                      : ntxRaise(a, EG_CORRUPTION, SUB_CORRUPT, EF_DEFAULT, o->fileName);
    return r == RDD_UNWIND ? r : RDD_FAILED;
}

RddResult ntxMarkOrders(WorkArea* a) {
    NtxPart* p = ntxPart(a);
    for (uint16_t i = 0; i < p->count; ++i) {
        NtxOrder* o = p->orders[i];
        if (NtxStatus st = ntxMarkRebuild(&o->tree)) return ntxTreeError(a, o, st);
    }
    return RDD_OK;
}

RddResult ntxLockOrder(WorkArea* a, NtxOrder* o, bool forWrite) {
    if (!o->shared) return RDD_OK;
    for (uint16_t tries = 1;; ++tries) {
        bool outermost = o->lock.depth == 0;
        if (ntxLockTake(&o->lock, idleServices)) {
            if (outermost) {
                bool changed = false;
                ntxRefresh(&o->tree, &changed);
            }
            return RDD_OK;
        }
        uint16_t os = fsLastError();
        // A lock for reading may only be retried; one for a change may
        // also be defaulted (the change is then not made).
        uint16_t flags = forWrite ? uint16_t(EF_RETRY | EF_DEFAULT) : EF_RETRY;
        RddResult r = ntxRaise(a, EG_LOCK, os ? 1031 : 1035, flags, o->fileName, os);
        if (r == RDD_RETRY) continue;
        return r == RDD_UNWIND ? r : RDD_FAILED;
    }
}

void ntxUnlockOrder(WorkArea* a, NtxOrder* o) {
    if (!o->shared) return;
    if (!ntxLockDrop(&o->lock)) {
        uint16_t os = fsLastError();
        ntxRaise(a, EG_LOCK, os ? 1034 : 1038, EF_DEFAULT, o->fileName, os);
    }
}

RddResult ntxRecordKey(WorkArea* a, NtxOrder* o, char* key, bool* passes) {
    *passes = true;
    if (o->hasFor) {
        RddResult r = rdd::evalBlock(a, o->forBlock);
        if (r == RDD_UNWIND) return r;
        if (r || !a->result || a->result->type != T_LOGICAL) fatalError(1240);
        *passes = a->result->v.l != 0;
    }
    const uint16_t size = o->tree.keySize;
    if (o->plainField >= 0) {
        uint8_t* image = nullptr;
        if (RddResult r = rdd::getRecord(a, &image)) return r;
        const DbfTable* t = ntxTable(a);
        std::memcpy(key, image + t->fieldOffsets[o->plainField], size);
        if (t->fields[o->plainField].type == 'N') ntxNumericTransform(key, size);
        return RDD_OK;
    }
    RddResult r = rdd::evalBlock(a, o->keyBlock);
    if (r == RDD_UNWIND) return r;
    if (r || !a->result) fatalError(1240);
    if (ntxKeyFromItem(*a->result, size, o->tree.keyDecimals, key)) fatalError(1242);
    return RDD_OK;
}

void ntxSearchKey(const NtxOrder* o, const Item* value, char* key, uint16_t* length) {
    uint16_t size = o->tree.keySize;
    if (isString(value)) {
        uint32_t n = strLength(value);
        ntxKeyFromText(strData(value), n, size, key);
        *length = uint16_t(n < size ? n : size);
        return;
    }
    if (ntxKeyFromItem(*value, size, o->tree.keyDecimals, key)) fatalError(1242);
    *length = size;
}

RddResult ntxParentGoTo(WorkArea* a, uint32_t record) { return rddCallVia<RDD_GOTO>(&ntxParent, a, record); }

RddResult ntxRebuildAll(WorkArea* a) {
    if (RddResult r = rdd::goCold(a)) return r;
    NtxPart* p = ntxPart(a);
    RddResult status = RDD_OK;
    for (uint16_t i = 0; i < p->count && !status; ++i) {
        NtxOrder* o = p->orders[i];
        if ((status = ntxLockOrder(a, o, true))) break;
        status = buildOrder(a, o);
        ntxUnlockOrder(a, o);
        o->oldKnown = false;
    }
    clearCondition();
    if (status) return status;
    return rdd::goTop(a);
}

uint16_t ntxOrderCount(WorkArea* a) { return ntxPart(a)->count; }
uint16_t ntxControllingOrder(WorkArea* a) { return ntxPart(a)->controlling; }
NtxTree* ntxOrderTree(WorkArea* a, uint16_t n) {
    NtxPart* p = ntxPart(a);
    return n >= 1 && n <= p->count ? &p->orders[n - 1]->tree : nullptr;
}

namespace {
struct VerifyContext {
    WorkArea* area;
    NtxOrder* order;
    RddResult result;  // why the key reader stopped the check
};
bool verifyKey(uint32_t record, char* key, bool* passes, void* context) {
    auto* v = static_cast<VerifyContext*>(context);
    if ((v->result = ntxParentGoTo(v->area, record))) return false;
    v->result = ntxRecordKey(v->area, v->order, key, passes);
    return !v->result;
}
bool blankRecord(uint32_t record, void* context) {
    auto* v = static_cast<VerifyContext*>(context);
    if (ntxParentGoTo(v->area, record)) return false;
    uint8_t* image = nullptr;
    if (rdd::getRecord(v->area, &image) || !image) return false;
    uint32_t length = ntxTable(v->area)->recordLength;
    for (uint32_t i = 0; i < length; ++i)
        if (image[i] != ' ') return false;
    return true;
}
}  // namespace

RddResult ntxVerifyOrder(WorkArea* a, uint16_t n, NtxCheckResult* result) {
    NtxPart* p = ntxPart(a);
    std::memset(result, 0, sizeof *result);
    if (n < 1 || n > p->count) return RDD_FAILED;
    if (RddResult r = rdd::goCold(a)) return r;
    NtxOrder* o = p->orders[n - 1];
    uint32_t count = 0;
    rdd::recCount(a, &count);
    NtxOrderKind kind = o->tree.unique ? NTX_ORDER_UNIQUE : o->partial ? NTX_ORDER_PARTIAL : NTX_ORDER_ORDINARY;
    VerifyContext v{a, o, RDD_OK};
    if (RddResult r = ntxLockOrder(a, o)) return r;
    NtxStatus st = ntxVerifyTable(&o->tree, count, kind, verifyKey, &v, result, blankRecord);
    ntxUnlockOrder(a, o);
    o->tree.depth = 0;
    ntxParentGoTo(a, 0);
    if (st == NTX_STOPPED) return v.result;
    if (st && !result->status) result->status = st;
    return st ? RDD_FAILED : RDD_OK;
}

}  // namespace xb
