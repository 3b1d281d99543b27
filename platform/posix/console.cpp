// Message boxes on POSIX: there is no desktop to show them on, so the caption
// and the text go to standard error, one box per line ("caption: text").
// Only write(2) is used, so the crash report may show its box from inside
// the fault handler.
#include <cstring>
#include <unistd.h>

#include "platform/platform.h"

namespace xb::os {

static void writeAll(const char* text, size_t n) {
    while (n > 0) {
        ssize_t r = write(2, text, n);
        if (r <= 0) return;
        text += r;
        n -= size_t(r);
    }
}

void messageBox(const char* text, const char* caption, uint32_t style) {
    (void)style;  // icons and buttons have no equivalent here
    if (!text) text = "";
    if (caption && *caption) {
        writeAll(caption, strlen(caption));
        writeAll(": ", 2);
    }
    size_t n = strlen(text);
    writeAll(text, n);
    if (n == 0 || text[n - 1] != '\n') writeAll("\n", 1);
}

void messageBox(const char* text, const char* caption) { messageBox(text, caption, 0); }

}  // namespace xb::os
