// The macro compiler: one expression of the language, given as text at run
// time, compiled into a buffer of pcode that the interpreter runs at once.
//
// Owners: the returned buffer belongs to the caller (memFree it after the
// run). The compiler's own state (token array, work text, tree) lives only
// for the length of one compile; compiles never nest because a compile runs
// no pcode. Symbol operands are the 4-byte references of vm/symref.h; the
// symbols a compile names are found or created as it goes and stay (symbols
// are never removed), everything else it allocates is freed before it
// returns, on success and on every failure.
#pragma once
#include <cstdint>

namespace xb {

// Compiles text[0..length) (up to its first NUL). storeMode: an aliased
// reference at the top of the expression compiles as a store of the value
// under it. Returns the code (ending in ENDPROC) and its length, or null on
// any lexical, syntax or generation failure, including code that would not
// fit the 16-bit lengths and jump distances of pcode.
uint8_t* compileMacro(const char* text, uint32_t length, uint32_t* codeLength, bool storeMode);

// Limits of the language the compiler accepts.
constexpr int MACRO_NAME_MAX = 58;   // identifiers are cut to this
constexpr int MACRO_PARAM_MAX = 57;  // block parameters and message names

}  // namespace xb
