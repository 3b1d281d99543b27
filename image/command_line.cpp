// Splitting the command line into parameters, and the runtime switches that
// are never passed to the program.
#include <cstring>

#include "image/startup.h"
#include "base/memory.h"

namespace xb {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The end of the parameter that starts at p.
const char* parameterEnd(const char* p) {
    if (*p == '"') {
        const char* close = std::strchr(p + 1, '"');
        return close ? close + 1 : p + std::strlen(p);
    }
    while (*p && !isBlank(*p)) ++p;
    return p;
}

}  // namespace

uint16_t splitCommandLine(const char* line, char** out) {
    uint16_t count = 0;
    const char* p = line ? line : "";
    // Leading blanks are not skipped: a line that begins with one yields an
    // empty first parameter.
    while (*p || count == 0) {
        const char* end = parameterEnd(p);
        if (out) {
            size_t n = size_t(end - p);
            char* copy = static_cast<char*>(memAlloc(uint32_t(n) + 1));
            std::memcpy(copy, p, n);
            copy[n] = 0;
            out[count] = copy;
        }
        ++count;
        p = end;
        while (isBlank(*p)) ++p;
        if (!*p) break;
    }
    return count;
}

const char* skipParameter(const char* line) {
    if (!line) return "";
    const char* p = parameterEnd(line);
    while (isBlank(*p)) ++p;
    return p;
}

bool isRuntimeSwitch(const char* argument) {
    return argument && (argument[0] == '/' || (argument[0] && argument[1] == '/'));
}

}  // namespace xb
