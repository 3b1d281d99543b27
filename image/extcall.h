// Calling procedures of a library built from this runtime.
//
// A library of this kind carries its own runtime (symbol table, evaluation
// stack, heap) and exports five entries. Their Win32 stdcall names, the
// names the loader looks up (POSIX: the plain names, platform/export_name.h):
//
//   "_DllGetSymbol@4"  (const char* name) -> library symbol, 0 when none
//   "_DllPutSymbol@4"  (library symbol)   begins a call on the library's stack
//   "_DllPutItem@4"    (const Item*)      pushes a copy as the next argument
//   "_DllDo@4"         (argument count)   runs the call
//   "_DllGetEval@0"    () -> const Item*  the library's return Item
//
// A library symbol is the library's 32-bit symbol reference (vm/symref.h:
// the record's address on i386, its number on x86_64).
//
// Pcode reaches the calling side through four functions:
//   LIBLOAD(path)              -> library handle, or 0
//   LIBFREE(handle)            -> .T. when a loaded library was given back
//   LIBSYMBOL(handle, name)    -> library symbol, or 0
//   LIBCALL(handle, symbol, ...) -> the procedure's value, or NIL
// A library handle is the module handle on i386 and a number of the
// loader's table on x86_64; either way only a handle LIBLOAD returned and
// LIBFREE has not given back is accepted, and only a symbol LIBSYMBOL
// returned for that handle: any other number gives 0 or NIL and is never
// used as an address. docs/external-calls.md has the whole contract.
#pragma once
#include <cstdint>

#include "vm/item.h"
#include "vm/target.h"

#if defined(_WIN32) && !XB_TARGET_64
#define XB_DLLCALL __stdcall
#else
#define XB_DLLCALL
#endif

namespace xb {

using DllGetSymbolEntry = uint32_t(XB_DLLCALL*)(const char* name);
using DllPutSymbolEntry = void(XB_DLLCALL*)(uint32_t symbol);
using DllPutItemEntry = void(XB_DLLCALL*)(const Item* item);
using DllDoEntry = void(XB_DLLCALL*)(uint32_t count);
using DllGetEvalEntry = const Item*(XB_DLLCALL*)();

// The loader's table: libraries loaded at once, and symbols remembered per
// library (LIBSYMBOL returns 0 once a library's list is full).
constexpr uint32_t MAX_LIBRARIES = 64;
constexpr uint32_t MAX_LIBRARY_SYMBOLS = 256;

// The same four as plain calls (the natives read their parameters and call
// these). A handle or symbol of 0 is "none".
uint32_t loadLibrary(const char* path);
bool freeLibrary(uint32_t handle);
uint32_t resolveLibrarySymbol(uint32_t handle, const char* name);
// Leaves the result in *out (a rooted Item): NIL when refused.
void callLibrary(uint32_t handle, uint32_t symbol, const Item* args, uint16_t count, Item* out);
// Gives back every library still loaded (shutdown, tests).
void freeAllLibraries();

}  // namespace xb
