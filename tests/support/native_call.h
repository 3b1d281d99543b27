// Calls a function of the runtime by its name, the way pcode does (symbol,
// NIL self, arguments, DO), with arguments written as C++ values:
//
//   Item r = invoke("SET", {3, 4});          // SET(3, 4)
//   Item s = invoke("FOPEN", {"x.txt", 2});
//   invoke("SETKEY", {Arg::nil(), 1.5});
//
// Needs the symbol table (a VmTest after load()). The result is the return
// Item as the call left it.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "vm/symbols.h"
#include "vm/interp.h"
#include "vm/stack.h"

namespace xb::test {

struct Arg {
    enum Kind { NIL, INT, DOUBLE, TEXT, LOGICAL, ITEM } kind;
    int32_t i = 0;
    double d = 0;
    std::string s;
    Item item{};

    Arg(int v) : kind(INT), i(v) {}
    Arg(double v) : kind(DOUBLE), d(v) {}
    Arg(bool v) : kind(LOGICAL), i(v) {}
    Arg(const char* v) : kind(TEXT), s(v) {}
    Arg(const std::string& v) : kind(TEXT), s(v) {}
    Arg(const Item& v) : kind(ITEM), item(v) {}
    static Arg nil() { return Arg(NIL); }

    void push() const {
        switch (kind) {
        case NIL: pushNil(); break;
        case INT: pushLong(i); break;
        case DOUBLE: pushDouble(d, 0, 0); break;
        case TEXT: pushString(s.data(), uint32_t(s.size())); break;
        case LOGICAL: pushLogical(i != 0); break;
        case ITEM: ::xb::push(&item); break;
        }
    }

private:
    explicit Arg(Kind k) : kind(k) {}
};

inline Item invoke(const char* name, std::initializer_list<Arg> args = {}) {
    GlobalSymbol* s = findSymbol(name);
    EXPECT_NE(s, nullptr) << name;
    if (!s) return Item{};
    pushSymbol(s);
    pushNil();
    for (const Arg& a : args) a.push();
    callProc(uint16_t(args.size()));
    return *returnItem();
}

inline std::string textOf(const Item& it) {
    if (!(it.type & M_STRING)) return "<not text>";
    return std::string(strData(&it), strLength(&it));
}

}  // namespace xb::test
