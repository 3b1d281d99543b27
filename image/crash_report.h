// The process-wide crash handler: a fault that reaches the top of a thread
// reports "General Protection Fault." and the xBase call stack on the error
// output and in a message box, then the process ends.
#pragma once
#include <cstdint>

namespace xb {

// Installs the handler (not in sanitizer builds, whose runtime reports
// faults itself).
void crashReportStart();

// Builds the call-stack text into out (at most size - 1 characters, lines
// that do not fit are dropped): "- Llamado desde NAME(LINE)\r\n" per level,
// from the running procedure outward. Returns the length.
uint32_t crashCallStack(char* out, uint32_t size);

}  // namespace xb
