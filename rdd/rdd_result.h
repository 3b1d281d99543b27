// The result of a driver operation (a slot of the method table): a type of
// its own, so that it mixes with no other status word.
//
//   RDD_OK      the operation did its work; results are in the out-parameters.
//   RDD_UNWIND  an error handler unwound (BREAK or a recovery point); the
//               caller stops and passes it on.
//   RDD_FAILED  the operation failed after its error was reported and the
//               handler took the default; non-zero, so no caller mistakes it
//               for success.
// The ERROR operation answers the handler's choice in the same type: RDD_OK
// for the default, RDD_RETRY, or RDD_UNWIND.
//
// The VM speaks handler status words (0, ST_UNWIND, an opcode's error word);
// where the two meet, rddFromStatus and rddStatusWord convert by name.
#pragma once
#include <cstdint>

#include "vm/vm.h"

namespace xb {

struct RddResult {
    uint16_t code;  // 0, 1 (failed / retry) or 0xFFFF (unwound)
    constexpr explicit operator bool() const { return code != 0; }
    friend constexpr bool operator==(RddResult a, RddResult b) { return a.code == b.code; }
    friend constexpr bool operator!=(RddResult a, RddResult b) { return a.code != b.code; }
};
constexpr RddResult RDD_OK{0};
constexpr RddResult RDD_FAILED{1};
constexpr RddResult RDD_RETRY{1};  // only as the ERROR operation's answer
constexpr RddResult RDD_UNWIND{ST_UNWIND};

// A handler status of the VM (0 carry on, ST_UNWIND unwound, or another
// word the handler answered) as a method result with the same meaning.
constexpr RddResult rddFromStatus(uint16_t status) { return RddResult{status}; }
// A method result as a handler status of the VM: 0, ST_UNWIND, or the
// failure's code.
constexpr uint16_t rddStatusWord(RddResult r) { return r.code; }

}  // namespace xb
