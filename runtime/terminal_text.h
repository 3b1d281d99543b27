// Texts shown on a terminal. Texts are Windows-1252 inside the runtime and in
// every file and pipe; a terminal whose locale is UTF-8 gets them converted
// so that accented letters show as such.
//
// The choice is made once per handle kind, from XB_DISPLAY:
//   XB_DISPLAY=utf8   always convert standard output and standard error
//   XB_DISPLAY=raw    never convert
//   unset or other    convert a handle that is a terminal when the first set
//                     one of LC_ALL, LC_CTYPE, LANG names UTF-8 (POSIX only;
//                     a Windows console is never converted)
#pragma once
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace xb {

enum class DisplayMode : uint8_t { Automatic, Utf8, Raw };

// The mode the environment asks for (XB_DISPLAY).
DisplayMode displayModeFromEnvironment();
// True when a locale value (as in LANG) names UTF-8: "...UTF-8", "...utf8".
bool localeIsUtf8(const char* value);
// Whether output written to h is converted (decided once per run and
// handle, standard output and standard error only).
bool convertsForDisplay(os::Handle h);
// Windows-1252 to UTF-8. Bytes below 0x80 are kept; the five bytes that
// Windows-1252 leaves undefined (0x81 0x8D 0x8F 0x90 0x9D) become U+FFFD.
std::string cp1252ToUtf8(const char* text, uint32_t n);
// The same without allocating: converts text[0..n) into out, which must hold
// 3 * n bytes, and returns the bytes written.
uint32_t cp1252ToUtf8(const char* text, uint32_t n, char* out);
// UTF-8 (what a UTF-8 terminal sends) to Windows-1252: characters it has
// become their byte, others '?'; bytes that are not valid UTF-8 are kept.
std::string utf8ToCp1252(const std::string& text);
// text as it should be written to h: converted when convertsForDisplay(h).
std::string displayForTerminal(os::Handle h, const std::string& text);

}  // namespace xb
