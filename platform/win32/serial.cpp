// Serial ports on Win32: the line settings through the device control block
// (the table of redirected COMn names is platform/com_name.cpp).
#include <windows.h>

#include <cstring>

#include "platform/com_name.h"
#include "platform/platform.h"

namespace xb::os {

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
