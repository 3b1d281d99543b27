// RELEASE of memory variables.
//
// __MVXRELEASE(name, ...): each named variable (a text, any case) that
// exists gets the value NIL; names that exist nowhere are passed over.
// __MVRELEASEALL([skeleton, lLike]): the private variables created by the
// calling procedure get the value NIL: all of them without a skeleton;
// with one, those whose names match it (wild cards * and ?, any case) when
// lLike is .T., those that do not when it is .F. (RELEASE ALL LIKE / EXCEPT).
// Both return NIL and never raise.
#include <string>

#include "vm/function.h"
#include "vm/symbols.h"
#include "base/casemap.h"
#include "lib/lib_args.h"
#include "vm/memvars.h"
#include "vm/symbol.h"

namespace xb {

namespace {

std::string upperText(const Item* s) {
    std::string out;
    for (uint32_t i = 0; i < strLength(s); ++i) out += char(toUpper(uint8_t(strData(s)[i])));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    size_t b = out.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : out.substr(b);
}

bool wildMatch(const char* p, const char* s) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*s) {
        if (*p == '*') {
            star = p++;
            resume = s;
        } else if (*p == '?' || *p == *s) {
            ++p;
            ++s;
        } else if (star) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

}  // namespace

XB_NATIVE(fnMVXRELEASE, "__MVXRELEASE") {
    retNil();
    for (uint16_t i = 1; i <= paramCount(); ++i) {
        Item* n = libText(i);
        if (!n) continue;
        std::string name = upperText(n);
        GlobalSymbol* s = name.empty() ? nullptr : findSymbol(name.c_str());
        if (s && s->memvarSlot) itemClear(memvarItem(s->memvarSlot));
    }
    return 0;
}

XB_NATIVE(fnMVRELEASEALL, "__MVRELEASEALL") {
    retNil();
    Item* skeleton = libText(1);
    Item* like = libArg(2);
    bool wantMatch = !like || like->type != T_LOGICAL || like->v.l;
    std::string mask = skeleton ? upperText(skeleton) : std::string();
    MemvarTable* t = memvarTable();
    if (!t || !t->privates) return 0;
    uint32_t caller = frameSlot(vm.frame)->callerFrame;
    for (uint32_t k = t->privateDepth; k > 0; --k) {
        PrivateEntry& e = t->privates[k - 1];
        if (e.frame != caller) {
            if (e.frame < caller) break;
            continue;
        }
        if (skeleton && wildMatch(mask.c_str(), symbolName(e.symbol)) != wantMatch) continue;
        if (e.symbol->memvarSlot) itemClear(memvarItem(e.symbol->memvarSlot));
    }
    return 0;
}

}  // namespace xb
