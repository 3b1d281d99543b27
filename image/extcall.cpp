// The calling side of library calls: the loader's table, the checks that
// keep pcode-supplied numbers from ever being used as addresses, and the
// natives LIBLOAD, LIBFREE, LIBSYMBOL and LIBCALL.
#include "image/extcall.h"

#include "image/item_import.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "vm/function.h"
#include "vm/native.h"
#include "vm/symref.h"
#include "vm/stack.h"
#include "vm/vm.h"

namespace xb {

namespace {

struct LoadedLibrary {
    void* module;      // null: the slot is free
    uint32_t serial;   // x86_64 handles carry it, so a reused slot refuses old handles
    uint32_t symbolCount;
    uint32_t symbols[MAX_LIBRARY_SYMBOLS];  // what resolve returned for this library
};

LoadedLibrary libraries[MAX_LIBRARIES];
uint32_t loadSerial;

// x86_64 handle: bits 0..7 the slot + 1, bits 8..30 the load's serial (a
// positive Integer for pcode). i386: the module handle itself.
uint32_t handleOf(uint32_t slot) {
#if XB_TARGET_64
    return ((libraries[slot].serial & 0x7FFFFF) << 8) | (slot + 1);
#else
    return uint32_t(reinterpret_cast<uintptr_t>(libraries[slot].module));
#endif
}

// The loaded library a pcode number names, or null. Only the table is
// read: the number is compared, never followed.
LoadedLibrary* libraryOf(uint32_t handle) {
    if (handle == 0) return nullptr;
#if XB_TARGET_64
    uint32_t slot = (handle & 0xFF) - 1;
    if (slot >= MAX_LIBRARIES || !libraries[slot].module || handleOf(slot) != handle) return nullptr;
    return &libraries[slot];
#else
    for (uint32_t i = 0; i < MAX_LIBRARIES; ++i)
        if (libraries[i].module && handleOf(i) == handle) return &libraries[i];
    return nullptr;
#endif
}

bool knownSymbol(const LoadedLibrary* lib, uint32_t symbol) {
    if (symbol == 0) return false;
    for (uint32_t i = 0; i < lib->symbolCount; ++i)
        if (lib->symbols[i] == symbol) return true;
    return false;
}

}  // namespace

uint32_t loadLibrary(const char* path) {
    uint32_t slot = 0;
    while (slot < MAX_LIBRARIES && libraries[slot].module) ++slot;
    if (slot == MAX_LIBRARIES) return 0;
    void* module = os::libraryLoad(path);
    if (!module) return 0;
    LoadedLibrary& lib = libraries[slot];
    lib.module = module;
    lib.serial = ++loadSerial;
    lib.symbolCount = 0;
    return handleOf(slot);
}

bool freeLibrary(uint32_t handle) {
    LoadedLibrary* lib = libraryOf(handle);
    if (!lib) return false;
    void* module = lib->module;
    lib->module = nullptr;
    lib->symbolCount = 0;
    return os::libraryFree(module);
}

void freeAllLibraries() {
    for (uint32_t i = 0; i < MAX_LIBRARIES; ++i)
        if (libraries[i].module) freeLibrary(handleOf(i));
}

uint32_t resolveLibrarySymbol(uint32_t handle, const char* name) {
    LoadedLibrary* lib = libraryOf(handle);
    if (!lib || !name) return 0;
    auto get = reinterpret_cast<DllGetSymbolEntry>(os::libraryExport(lib->module, "_DllGetSymbol@4"));
    if (!get) return 0;
    uint32_t symbol = get(name);
    if (symbol == 0 || knownSymbol(lib, symbol)) return symbol;
    if (lib->symbolCount == MAX_LIBRARY_SYMBOLS) return 0;
    lib->symbols[lib->symbolCount++] = symbol;
    return symbol;
}

void callLibrary(uint32_t handle, uint32_t symbol, const Item* args, uint16_t count, Item* out) {
    itemClear(out);
    LoadedLibrary* lib = libraryOf(handle);
    if (!lib || !knownSymbol(lib, symbol)) return;
#if !XB_TARGET_64
    // The symbol is the address of a record of the library's runtime (the
    // same layout as ours), checked above to be one its resolve returned.
    if (!symbolFromRef(symbol)->function) return;
#endif
    // On x86_64 the number is the library's own: the library checks the
    // function itself, and its return Item stays NIL for a symbol without.
    auto put = reinterpret_cast<DllPutSymbolEntry>(os::libraryExport(lib->module, "_DllPutSymbol@4"));
    auto item = reinterpret_cast<DllPutItemEntry>(os::libraryExport(lib->module, "_DllPutItem@4"));
    auto run = reinterpret_cast<DllDoEntry>(os::libraryExport(lib->module, "_DllDo@4"));
    auto eval = reinterpret_cast<DllGetEvalEntry>(os::libraryExport(lib->module, "_DllGetEval@0"));
    if (!put || !item || !run || !eval) return;
    put(symbol);
    for (uint16_t i = 0; i < count; ++i) item(&args[i]);
    run(count);
    // The library's Item refers to the library's heap, which its next
    // collection may free: what it refers to is copied into ours now.
    if (const Item* result = eval()) importItem(out, result);
}

namespace {

uint32_t numberParam(uint32_t n) {
    Item* it = paramItem(n, M_NUMERIC);
    return it ? uint32_t(paramInt(n)) : 0;
}

}  // namespace

XB_NATIVE(fnLIBLOAD, "LIBLOAD") {
    Item* path = paramItem(1, M_STRING);
    uint32_t handle = 0;
    if (path) {
        char* text = itemTextCopy(path);
        handle = loadLibrary(text);
        memFree(text);
    }
    retInt(int32_t(handle));
    return 0;
}

XB_NATIVE(fnLIBFREE, "LIBFREE") {
    retLogical(freeLibrary(numberParam(1)));
    return 0;
}

XB_NATIVE(fnLIBSYMBOL, "LIBSYMBOL") {
    uint32_t handle = numberParam(1);
    Item* name = paramItem(2, M_STRING);
    uint32_t symbol = 0;
    if (handle && name) {
        char* text = itemTextCopy(name);
        symbol = resolveLibrarySymbol(handle, text);
        memFree(text);
    }
    retInt(int32_t(symbol));
    return 0;
}

XB_NATIVE(fnLIBCALL, "LIBCALL") {
    uint16_t n = paramCount();
    if (n < 2) return 0;  // the return Item is NIL
    uint32_t handle = numberParam(1);
    uint32_t symbol = numberParam(2);
    callLibrary(handle, symbol, n > 2 ? localItem(3) : nullptr, uint16_t(n - 2), returnItem());
    return 0;
}

}  // namespace xb
