// Execute permission for files the program writes: Windows runs any file
// named .exe, so there is nothing to do.
#include "platform/executable.h"
#include "platform/platform.h"

namespace xb::os {

bool makeExecutable(const char* name) { return name != nullptr; }

}  // namespace xb::os
