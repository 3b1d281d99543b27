// The settings block: the 46 values the language reads and writes by
// specifier number (SET), their kinds, defaults and hooks, and the start-up
// and shutdown steps that fill and empty it. The rest of the runtime reads
// settings through vm/settings.h only.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

constexpr uint8_t SETTING_COUNT = 46;

// Specifiers with a meaning of their own in this runtime.
enum SettingId : uint8_t {
    SET_EXACTCOMPARE = 1,
    SET_FIXEDFORMAT = 2,
    SET_DECIMALS = 3,
    SET_DATEFORMAT = 4,
    SET_EPOCH = 5,
    SET_SEARCHPATH = 6,
    SET_DEFAULTDIR = 7,
    SET_EXCLUSIVEOPEN = 8,
    SET_SOFTSEEK = 9,
    SET_HIDEDELETED = 11,
    SET_COLOUR = 15,
    SET_DELIMITERS = 34,
};

enum SettingKind : uint8_t { SK_NONE, SK_LOGICAL, SK_NUMBER, SK_TEXT, SK_PAIR, SK_HOOKED };

// A hooked specifier's handler: leaves the setting's value in the return
// Item (NIL for none) and applies value when it fits. extra is the third
// argument of SET (may be null).
using SettingHandler = void (*)(const Item* value, const Item* extra);
// The output hooks of the alternate, printer and extra files (19, 20, 22, 24).
using OutputHook = void (*)(int action, bool additive);

struct Setting {
    uint8_t kind;
    uint8_t cutAtBlank;  // text settings that keep only what comes before a blank
    uint8_t logical;
    char pair[2];
    uint16_t number;
    char* text;  // memAlloc'd and owned by the block; null before start-up reads as ""
};

struct SettingsBlock {
    Setting entries[SETTING_COUNT + 1];  // entry 0 unused
    SettingHandler handlers[SETTING_COUNT + 1];
    OutputHook outputHooks[SETTING_COUNT + 1];
    bool (*dateFormatHook)(const char* format);
    void (*epochHook)();
    uint8_t separateLogical;  // specifier 12's value, kept apart from the block
};
SettingsBlock& settingsBlock();

// SET(specifier, value, extra): the return Item receives the value as it
// was; value (may be null) is applied when its type fits. Only the low byte
// of the specifier counts; outside 1..46 the result is NIL. Returns 0, or
// ST_UNWIND when the error raised for a number above 65535 unwound.
uint16_t applySetting(int32_t specifier, const Item* value, const Item* extra);

// Native-side setters (tests, start-up): the same rules as SET with a value
// of that type, without a result.
void settingSetLogical(uint8_t specifier, bool on);
void settingSetNumber(uint8_t specifier, uint16_t value);
void settingSetText(uint8_t specifier, const char* text);

// Start-up and shutdown steps, in the order the start-up chain runs them.
void settingsHooksStart();    // handlers of 12, 13, 14, 38; the idle task 0x2001
void settingsStart();         // decimals, date format, epoch, paths and their hooks
void settingsConsoleStart();  // console start event: 17, 28, 31, 32, 34, 19, 20, 22, 24, 15, 16
void settingsConsoleStop();   // console stop event: output hooks, texts 19, 20, 22, 24
void settingsRelease();       // final clean-up: texts 4, 6, 7

}  // namespace xb
