// Runs inside the fault handler: it formats into static buffers only and
// writes through the error output and the message box.
#include "image/crash_report.h"

#include <cstring>

#include "platform/platform.h"
#include "runtime/output.h"
#include "vm/procname.h"
#include "vm/vm.h"

namespace xb {

namespace {

char crashText[4096];

void append(char* out, uint32_t size, uint32_t* at, const char* text, uint32_t n) {
    if (*at + n >= size) return;
    std::memcpy(out + *at, text, n);
    *at += n;
    out[*at] = 0;
}

void report(const char*, uint32_t, uintptr_t) {
    static const char title[] = "General Protection Fault.";
    errorOutput(title, sizeof title - 1);
    errorOutput("\r\n", 2);
    uint32_t n = crashCallStack(crashText, sizeof crashText);
    errorOutput(crashText, n);
    // A console program has written the call stack to standard error already.
    if (!outputIsConsole()) outputMessageBox(crashText, "Error de Protecci\xF3n General", 0x2000);
}

}  // namespace

uint32_t crashCallStack(char* out, uint32_t size) {
    uint32_t at = 0;
    if (size) out[0] = 0;
    if (!vm.stack || !vm.frame) return 0;
    uint32_t levels = 0;
    for (Item* frame = frameAbove(vm.frame, 0); frame && levels <= vm.liveFrames;
         frame = nextFrameOut(frame), ++levels) {
        char name[128];
        uint32_t nameLength = frameDisplayName(frame, name, sizeof name);
        // Formatted by hand: no library call that might allocate or lock.
        char digits[8];
        uint32_t d = sizeof digits;
        unsigned value = frameLine(frame);
        do {
            digits[--d] = char('0' + value % 10);
            value /= 10;
        } while (value);
        char line[192];
        uint32_t n = 0;
        static const char prefix[] = "- Llamado desde ";
        std::memcpy(line, prefix, sizeof prefix - 1);
        n += sizeof prefix - 1;
        std::memcpy(line + n, name, nameLength);
        n += nameLength;
        line[n++] = '(';
        std::memcpy(line + n, digits + d, sizeof digits - d);
        n += uint32_t(sizeof digits - d);
        line[n++] = ')';
        line[n++] = '\r';
        line[n++] = '\n';
        uint32_t before = at;
        append(out, size, &at, line, n);
        if (at == before) break;  // the rest does not fit
    }
    return at;
}

void crashReportStart() {
#ifndef XB_SANITIZE
    os::installCrashHandler(report);
#endif
}

}  // namespace xb
