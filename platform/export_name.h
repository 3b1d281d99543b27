// The name a library export has on POSIX, made from its Win32 stdcall name.
// A stdcall export of a Windows library is "_Name@N" (N the bytes of its
// arguments); a shared object exports the plain C name. The mapping drops
// one leading '_' and a trailing '@' followed by digits only:
//   "_DllGetSymbol@4" -> "DllGetSymbol"   "_DllGetEval@0" -> "DllGetEval"
//   "Plain" -> "Plain"   "_x@" -> "x@" (no digits: kept)   "a@1b" -> "a@1b"
// Pure text work, no OS calls.
#pragma once
#include <cstdint>

namespace xb::os {

// Writes the plain name into out (size bytes, NUL-terminated); false when
// name is null or the result does not fit.
inline bool plainExportName(const char* name, char* out, uint32_t size) {
    if (!name || !out || size == 0) return false;
    if (*name == '_') ++name;
    uint32_t n = 0;
    while (name[n]) ++n;
    uint32_t at = n;
    while (at > 0 && name[at - 1] >= '0' && name[at - 1] <= '9') --at;
    if (at < n && at > 0 && name[at - 1] == '@') n = at - 1;
    if (n + 1 > size) return false;
    for (uint32_t i = 0; i < n; ++i) out[i] = name[i];
    out[n] = 0;
    return true;
}

}  // namespace xb::os
