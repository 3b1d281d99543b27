// A test library with four of the five entries: no DllGetEval. The calling
// side must never call it. DllGetSymbol("PROC") gives a symbol; any other
// name gives 100 + the number of calls the other entries received, which
// is how a test sees that none was made.
#include <cstdint>

#include "image/extcall.h"

#if defined(_WIN32)
#define XB_EXPORT extern "C"
#else
#define XB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
uint32_t calls;
// What "PROC" names: on i386 the caller reads the function field of the
// record a symbol addresses, so the symbol is a record with every word set.
[[maybe_unused]] uintptr_t record[32] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
}  // namespace

XB_EXPORT uint32_t XB_DLLCALL DllGetSymbol(const char* name) {
    if (name && name[0] == 'P' && name[1] == 'R' && name[2] == 'O' && name[3] == 'C' && !name[4])
#if XB_TARGET_64
        return 1;
#else
        return uint32_t(reinterpret_cast<uintptr_t>(record));
#endif
    return 100 + calls;
}
XB_EXPORT void XB_DLLCALL DllPutSymbol(uint32_t) { ++calls; }
XB_EXPORT void XB_DLLCALL DllPutItem(const xb::Item*) { ++calls; }
XB_EXPORT void XB_DLLCALL DllDo(uint32_t) { ++calls; }
