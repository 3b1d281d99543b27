#include "platform/com_name.h"

#include <cstring>

#include "platform/platform.h"

namespace xb::os {

namespace {

constexpr size_t COM_PATH_BUFFER = 4096;
char mappedPaths[COM_PORTS][COM_PATH_BUFFER];

}  // namespace

void mapComDevice(int number, const char* path) {
    if (number < 1 || number > COM_PORTS) return;
    char* slot = mappedPaths[number - 1];
    if (!path) {
        slot[0] = 0;
        return;
    }
    std::strncpy(slot, path, COM_PATH_BUFFER - 1);
    slot[COM_PATH_BUFFER - 1] = 0;
}

const char* mappedComDevice(int number) {
    if (number < 1 || number > COM_PORTS) return nullptr;
    return mappedPaths[number - 1][0] ? mappedPaths[number - 1] : nullptr;
}

}  // namespace xb::os
