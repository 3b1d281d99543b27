// A message about source text: where it is and what is wrong. The one record
// the preprocessor and the compiler report through; tools print it with
// formatDiagnostic ("file.prg:12:5: error: message").
#pragma once
#include <string>

namespace xb::pp {

struct Diagnostic {
    std::string file;     // the file as it was named (command line or #include)
    int line = 0;         // 1-based physical line the programmer wrote; 0 when unknown
    int column = 0;       // 1-based; 0 when unknown
    bool warning = false; // false: an error (nothing is run or written)
    std::string message;  // no trailing new line
};

// "file:line:col: error: message" (or "warning:"); the column part is left
// out when it is 0.
std::string formatDiagnostic(const Diagnostic& d);

// Most errors reported for one file before the rest are dropped.
constexpr int MAX_ERRORS_PER_FILE = 20;

}  // namespace xb::pp
