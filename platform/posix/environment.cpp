// Environment variables and reserved memory areas on POSIX: anonymous
// mappings are zero pages until written.
#include "platform/environment.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace xb::os {

bool environmentVariable(const char* name, char* buf, uint32_t size, uint32_t* length) {
    const char* v = name && *name ? std::getenv(name) : nullptr;
    if (!v) return false;
    size_t n = std::strlen(v);
    *length = uint32_t(n);
    if (n < size) std::memcpy(buf, v, n + 1);
    else if (size) buf[0] = 0;  // as the Win32 call does: nothing of a value that does not fit
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
