#include "pp/diagnostic.h"

namespace xb::pp {

std::string formatDiagnostic(const Diagnostic& d) {
    std::string s = d.file;
    s += ':';
    s += std::to_string(d.line);
    if (d.column > 0) {
        s += ':';
        s += std::to_string(d.column);
    }
    s += d.warning ? ": warning: " : ": error: ";
    s += d.message;
    return s;
}

}  // namespace xb::pp
