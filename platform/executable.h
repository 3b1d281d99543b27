// Files that the program writes and that are to be started as programs (the
// compiler driver's executables).
#pragma once

namespace xb::os {

// Lets the file be started as a program: POSIX sets the execute bits where
// the read bits are; Windows runs any .exe, so there is nothing to do. False
// with lastError() set when the file cannot be changed.
bool makeExecutable(const char* name);

}  // namespace xb::os
