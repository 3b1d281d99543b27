// RDDREGISTER, RDDSETDEFAULT and RDDLIST: the driver registry seen from pcode.
#include <cstring>

#include "vm/function.h"
#include "rdd/registry.h"
#include "vm/error.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

// A NUL-terminated copy of at most 255 bytes of a text (names are far shorter).
void copyName(const Item* text, char* out, uint32_t size) {
    uint32_t n = strLength(text);
    if (n >= size) n = size - 1;
    std::memcpy(out, strData(text), n);
    out[n] = 0;
}

}  // namespace

XB_NATIVE(fnRDDREGISTER, "RDDREGISTER") {
    const Item* name = stringArgument(1);
    if (!name || strLength(name) == 0) fatalError(9001);
    if (strLength(name) > DRIVER_NAME_MAX) fatalError(9003);
    char raw[DRIVER_NAME_MAX + 1];
    copyName(name, raw, sizeof raw);
    char normalised[60];
    normaliseDriverName(raw, uint32_t(std::strlen(raw)), normalised);
    if (!findDriverModule(normalised)) fatalError(9002);
    registerDriver(normalised, uint16_t(paramInt(2)));
    return 0;
}

XB_NATIVE(fnRDDSETDEFAULT, "RDDSETDEFAULT") {
    retCString(storedDefaultDriver());
    const Item* name = stringArgument(1);
    if (!name) return 0;
    char raw[256];
    copyName(name, raw, sizeof raw);
    char normalised[60];
    normaliseDriverName(raw, uint32_t(std::strlen(raw)), normalised);
    if (!findDriverModule(normalised)) return argumentError("DBCMD", 1015, EF_SUBSTITUTE);
    setDefaultDriver(normalised);
    return 0;
}

// RDDLIST([kind]): the names of the drivers registered with that kind (1
// when absent or 0), in registration order.
XB_NATIVE(fnRDDLIST, "RDDLIST") {
    uint16_t kind = uint16_t(paramInt(1));
    if (kind == 0) kind = 1;
    const DriverRegistry& r = driverRegistry();
    uint32_t n = 0;
    for (int i = 0; i < r.count; ++i) n += r.entries[i].kind == kind;
    retArray(n);
    uint32_t at = 0;
    for (int i = 0; i < r.count; ++i) {
        if (r.entries[i].kind != kind) continue;
        // each element is rooted in the returned array before it is built
        Item* e = &arrayItems(returnItem())[at++];
        makeString(e, r.entries[i].name, uint32_t(std::strlen(r.entries[i].name)));
    }
    return 0;
}

}  // namespace xb
