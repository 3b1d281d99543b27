// Read access to the settings the virtual machine and libraries consult. The
// full settings block (runtime/settings_block.*) keeps the values; these
// accessors are what the rest of the runtime calls.
#pragma once
#include <cstdint>

namespace xb {

bool settingExactCompare();
bool settingFixedFormat();
uint16_t settingDecimals();
const char* settingDateFormat();
int settingEpoch();
bool settingSoftSeek();
bool settingHideDeleted();
bool settingExclusiveOpen();
const char* settingSearchPath();
const char* settingDefaultDir();

}  // namespace xb
