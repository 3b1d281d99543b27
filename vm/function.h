// What a symbol's function designates: a native routine, or a pcode procedure
// (its bytes and its module's table) run by the interpreter. Native functions
// declare themselves with XB_NATIVE; the image registers them by name at
// start-up (vm/natives.cpp, vm/symbols.cpp).
#pragma once
#include <cstdint>

#include "vm/target.h"

namespace xb {

struct ModuleSymbol;

struct Function {
    uint16_t (*native)();  // null for pcode procedures
    const uint8_t* pcode;
    ModuleSymbol* module;
};
static_assert(sizeof(Function) == 3 * sizeof(void*), "Function: three pointers on every target");

// Native functions register themselves by name; after the module tables are
// registered each name gets its native unless a module defined it.
// `file` is the source that defined it, so that a check can tell the
// runtime's own functions from those a test or a tool adds.
struct NativeRegistration {
    const char* name;
    const Function* function;
    NativeRegistration* next;
    const char* file;
    NativeRegistration(const char* n, const Function* f, const char* sourceFile = nullptr);
};
NativeRegistration* nativeRegistrations();
const Function* findNative(const char* name);

}  // namespace xb

// Defines a native function callable from pcode under NAME:
//   XB_NATIVE(fnFOPEN, "FOPEN") { ... return 0; }
#define XB_NATIVE(ident, NAME)                                   \
    static uint16_t ident##_body();                              \
    extern const ::xb::Function ident;                           \
    const ::xb::Function ident = {ident##_body, nullptr, nullptr}; \
    static ::xb::NativeRegistration ident##_registration(NAME, &ident, __FILE__); \
    static uint16_t ident##_body()
