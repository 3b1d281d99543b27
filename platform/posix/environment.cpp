// Environment variables and reserved memory areas on POSIX: anonymous
// mappings are zero pages until written.
#include "platform/environment.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace xb::os {

bool environmentValue(const char* name, char* buf, uint32_t size) {
    const char* v = std::getenv(name);
    if (!v || size == 0) return false;
    size_t n = std::strlen(v);
    if (n >= size) return false;
    std::memcpy(buf, v, n + 1);
    return true;
}

void* reserveArea(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void releaseArea(void* area, size_t bytes) {
    if (area) munmap(area, bytes);
}

}  // namespace xb::os
