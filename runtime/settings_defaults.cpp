// Documented defaults of the settings, served until the settings block is
// started; the settings block replaces this file's values at start-up.
#include "runtime/settings.h"

namespace xb {

bool settingExactCompare() { return false; }
bool settingFixedFormat() { return false; }
uint16_t settingDecimals() { return 2; }
const char* settingDateFormat() { return "mm/dd/yy"; }
int settingEpoch() { return 1900; }
bool settingSoftSeek() { return false; }
bool settingHideDeleted() { return false; }
bool settingExclusiveOpen() { return true; }
const char* settingSearchPath() { return ""; }
const char* settingDefaultDir() { return ""; }

}  // namespace xb
