// The expression shell of xbrun: `xbrun -e EXPR...` and `xbrun -i`.
#pragma once

namespace xb::shell {

// argv[1] is "-e" or "-i". Runs the whole runtime (start-up, the expressions,
// shutdown) and never returns; the exit code is the program's error level,
// 2 when an expression given with -e does not compile, 2 for a bad usage.
[[noreturn]] void run(int argc, char** argv);

}  // namespace xb::shell
