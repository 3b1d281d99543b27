// Message boxes on Win32.
#include <windows.h>

#include "platform/platform.h"

namespace xb::os {

void messageBox(const char* text, const char* caption, uint32_t style) {
    MessageBoxA(nullptr, text, caption, style);
}

void messageBox(const char* text, const char* caption) { messageBox(text, caption, MB_OK); }

}  // namespace xb::os
