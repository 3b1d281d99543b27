// FDCB(handle, baud, dataBits, parity, stopBits): returns the line settings in
// force as {baud, dataBits, parity, stopBits} and changes those given as
// numbers; every other setting of the line is kept as it was.
#include <cstring>

#include "vm/function.h"
#include "platform/com_name.h"
#include "platform/platform.h"
#include "runtime/serial.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

Item* numberParam(uint32_t n) {
    Item* p = paramItem(n, M_ANY);
    if (p) p = derefItem(p);
    return p && (p->type & M_NUMERIC) ? p : nullptr;
}

void setElement(Item* array, uint32_t i, int32_t value) {
    Item* e = &arrayItems(array)[i];
    itemClear(e);
    e->type = T_INTEGER;
    e->width = 10;
    e->v.l = value;
}

}  // namespace

XB_NATIVE(fnFDCB, "FDCB") {
    Item* handle = numberParam(1);
    if (!handle) return 0;
    os::Handle h = os::Handle(int16_t(itemInt(handle)));
    os::CommState state{};
    if (!os::getCommState(h, &state)) return 0;

    retArray(4);
    Item* result = returnItem();
    setElement(result, 0, int32_t(state.baudRate));
    setElement(result, 1, state.byteSize);
    setElement(result, 2, state.parity);
    setElement(result, 3, state.stopBits);
    if (paramCount() < 2) return 0;

    bool changed = false;
    if (Item* p = numberParam(2)) {
        state.baudRate = uint32_t(itemInt(p));
        changed = true;
    }
    uint8_t* bytes[3] = {&state.byteSize, &state.parity, &state.stopBits};
    for (uint32_t n = 3; n <= 5; ++n) {
        if (Item* p = numberParam(n)) {
            *bytes[n - 3] = uint8_t(itemInt(p));
            changed = true;
        }
    }
    // A refused change leaves the port as it was; the caller still gets
    // the settings that were in force.
    if (changed) os::setCommState(h, &state);
    return 0;
}

bool applySerialSwitch(const char* argument) {
    if (!argument || argument[0] != '/') return false;
    char device[5];
    const char* eq = std::strchr(argument, '=');
    if (!eq || eq - argument - 1 > 4 || eq - argument - 1 < 4) return false;
    std::memcpy(device, argument + 1, 4);
    device[4] = 0;
    int number = os::comDeviceNumber(device);
    if (number == 0 || !eq[1]) return false;
    os::mapComDevice(number, eq + 1);
    return true;
}

}  // namespace xb
