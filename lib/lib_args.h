// What the library's native functions share: their parameters with
// references followed, the optional-number rule, and their argument error.
//
// Argument errors of the library functions are raised as the built-ins
// raise theirs: general code 1, subsystem "BASE", the function's name as the
// operation, its parameters as the operands, substitution allowed. The
// substituted value becomes the function's result.
#pragma once
#include <cstdint>

#include "vm/error.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

// Parameter n with references followed, or null when absent.
inline Item* libArg(uint32_t n) {
    Item* p = paramItem(n, M_ANY);
    return p ? derefItem(p) : nullptr;
}
inline bool libIsNil(const Item* it) { return !it || it->type == T_NIL; }

// Parameter n as text, or null when it is no String or Memo.
inline Item* libText(uint32_t n) {
    Item* p = libArg(n);
    return p && isString(p) ? p : nullptr;
}

// An optional numeric parameter: fallback when absent or NIL; false (an
// argument error) when present and of another type.
inline bool libOptInt(uint32_t n, int32_t fallback, int32_t* out) {
    Item* p = libArg(n);
    if (libIsNil(p)) {
        *out = fallback;
        return true;
    }
    if (!isNumeric(p)) return false;
    *out = itemInt(p);
    return true;
}

// The library's argument error; the result is NIL unless substituted.
inline uint16_t libArgError(uint16_t subCode) {
    retNil();
    return argumentError("BASE", subCode, EF_SUBSTITUTE);
}

// Runs the in-place handler of opcode op on the argc Items the caller
// pushed; on success the result is popped into *out (a rooted Item). False,
// with the arguments removed, when the handler refused them.
inline bool libRunOpcode(uint8_t op, uint16_t argc, Item* out) {
    Item* base = vm.top - argc;
    uint16_t r = opTable[op]();
    if (r == 0) *out = *vm.top;
    vm.top = base;
    return r == 0;
}

// Subcodes of the library's argument errors, one per function. (The
// environment and file functions never raise: they answer "", {} or .F.)
enum LibSubcode : uint16_t {
    SC_ALLTRIM = 3101, SC_PADR, SC_PADL, SC_PADC, SC_RIGHT, SC_STRTRAN, SC_STUFF, SC_RAT, SC_STRZERO,
    SC_MEMOLINE, SC_MLCOUNT, SC_HARDCR, SC_MEMOTRAN, SC_DESCEND,
    SC_ARRAY = 3131, SC_ACLONE, SC_ACOPY, SC_ADEL, SC_AINS, SC_AEVAL, SC_AFILL, SC_ASCAN, SC_ASIZE,
    SC_ASORT, SC_ATAIL,
    SC_MOD = 3161, SC_STOD, SC_DAYS, SC_ELAPTIME, SC_DEVPOS, SC_INKEY,
};

}  // namespace xb
