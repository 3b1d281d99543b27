#include "platform/environment.h"

#include <cstdlib>
#include <cstring>

namespace xb::os {

int environmentVariable(const char* name, char* buf, int size) {
    if (size > 0) buf[0] = 0;
    const char* v = std::getenv(name);
    if (!v) return -1;
    size_t n = std::strlen(v);
    if (size <= 0 || n >= size_t(size)) return -1;
    std::memcpy(buf, v, n + 1);
    return int(n);
}

}  // namespace xb::os
