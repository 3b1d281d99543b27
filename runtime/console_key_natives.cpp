// DEVPOS, INKEY, PROW and PCOL as a console program without a screen or a
// printer can honour them. Their inline opcodes stay undefined (a macro that
// names them still ends in the invalid-opcode error); a call by name lands
// here.
//
// DEVPOS(row, col) moves the stored cursor as SETPOS does (nothing is drawn)
// and returns NIL. PROW() and PCOL() are 0: no printer position is kept.
// INKEY([seconds]) reads a key from standard input: without an argument
// (nothing waits in a program without a keyboard buffer) it answers 0 at
// once; with a positive number it waits that long and answers 0; INKEY(0)
// waits for the next byte of standard input and answers its code, or 0 at
// the end of input.
#include "vm/function.h"
#include "lib/lib_args.h"
#include "platform/platform.h"
#include "runtime/files.h"
#include "base/cursor.h"

namespace xb {

XB_NATIVE(fnDEVPOS, "DEVPOS") {
    Item* r = libArg(1);
    Item* c = libArg(2);
    if (!r || !c || !isNumeric(r) || !isNumeric(c)) return libArgError(SC_DEVPOS);
    setCursorPos(uint16_t(itemInt(r)), uint16_t(itemInt(c)));
    retNil();
    return 0;
}

XB_NATIVE(fnINKEY, "INKEY") {
    Item* wait = libArg(1);
    if (!libIsNil(wait) && !isNumeric(wait)) return libArgError(SC_INKEY);
    retInt(0);
    if (libIsNil(wait)) return 0;
    double seconds = itemDouble(wait);
    if (seconds > 0) {
        if (seconds > 86400) seconds = 86400;
        os::sleepMs(uint32_t(seconds * 1000));
        return 0;
    }
    uint8_t key = 0;
    uint32_t done = 0;
    if (fileSyscalls().readFile(os::stdInput(), &key, 1, &done) && done == 1) retInt(key);
    return 0;
}

XB_NATIVE(fnPROW, "PROW") {
    retInt(0);
    return 0;
}

XB_NATIVE(fnPCOL, "PCOL") {
    retInt(0);
    return 0;
}

}  // namespace xb
