// The four character tests of the library, each on the first character of
// its text argument. A missing, empty or non-text argument answers false.
#include "vm/function.h"
#include "base/casemap.h"
#include "vm/native.h"

namespace xb {

namespace {

// The first byte of parameter 1 through test, as the function's result.
uint16_t firstCharTest(bool (*test)(uint8_t)) {
    const Item* s = paramItem(1, T_STRING);
    retLogical(s && strLength(s) > 0 && test(uint8_t(strData(s)[0])));
    return 0;
}

}  // namespace

// Upper-case letter: changes under the lower-case map (accented capitals too).
XB_NATIVE(fnISUPPER, "ISUPPER") { return firstCharTest(isUpperChar); }
// Lower-case letter: changes under the upper-case map.
XB_NATIVE(fnISLOWER, "ISLOWER") { return firstCharTest(isLowerChar); }
// A-Z or a-z only.
XB_NATIVE(fnISALPHA, "ISALPHA") { return firstCharTest(isAlphaChar); }
// 0-9.
XB_NATIVE(fnISDIGIT, "ISDIGIT") { return firstCharTest(isDigitChar); }

}  // namespace xb
