// Serial ports on Win32: the line settings through the device control block,
// and the table of redirected COMn names.
#include <windows.h>

#include <cstring>

#include "platform/com_name.h"
#include "platform/platform.h"
#include "platform/win32/internal.h"

namespace xb::os {

namespace {

char mappedPaths[COM_PORTS][MAX_PATH];

}  // namespace

void mapComDevice(int number, const char* path) {
    if (number < 1 || number > COM_PORTS) return;
    char* slot = mappedPaths[number - 1];
    if (!path) {
        slot[0] = 0;
        return;
    }
    strncpy(slot, path, MAX_PATH - 1);
    slot[MAX_PATH - 1] = 0;
}

const char* win32::mappedComDevice(int number) {
    return mappedPaths[number - 1][0] ? mappedPaths[number - 1] : nullptr;
}

bool getCommState(Handle h, CommState* state) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(reinterpret_cast<HANDLE>(h), &dcb)) return false;
    state->baudRate = dcb.BaudRate;
    state->byteSize = dcb.ByteSize;
    state->parity = dcb.Parity;
    state->stopBits = dcb.StopBits;
    return true;
}

bool setCommState(Handle h, const CommState* state) {
    // Read the whole block, change the four fields, write it back: every
    // other setting of the port stays as it was.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(reinterpret_cast<HANDLE>(h), &dcb)) return false;
    dcb.BaudRate = state->baudRate;
    dcb.ByteSize = state->byteSize;
    dcb.Parity = state->parity;
    dcb.StopBits = state->stopBits;
    return SetCommState(reinterpret_cast<HANDLE>(h), &dcb) != 0;
}

}  // namespace xb::os
