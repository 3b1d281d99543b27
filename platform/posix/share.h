// Windows sharing modes between handles and processes (how: share.cpp).
#pragma once
#include <cstdint>

namespace xb::os::posix {

// Announces a freshly opened regular file's access and sharing and checks
// them against every other handle of the file. 0 when the open may stand,
// otherwise the Windows error (32 on a sharing conflict); the caller closes.
uint32_t claimShare(int fd, uint32_t access, uint32_t share);

// True when some handle has the file open, so that Windows would refuse to
// delete or rename it (this runtime never opens with delete sharing).
bool pathInUse(const char* path);

}  // namespace xb::os::posix
