// The line end of the target's text files and consoles.
#pragma once

namespace xb::os {

#ifdef _WIN32
inline constexpr char LINE_END[] = "\r\n";
#else
inline constexpr char LINE_END[] = "\n";
#endif

}  // namespace xb::os
