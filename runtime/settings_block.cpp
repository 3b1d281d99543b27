// The settings block's storage, its defaults, the accessors the runtime reads,
// the rules by which SET changes each kind, and the start-up and shutdown steps.
#include "runtime/settings_block.h"

#include <cstring>
#include <initializer_list>

#include "base/casemap.h"
#include "base/dates.h"
#include "base/hooks.h"
#include "vm/error.h"
#include "base/memory.h"
#include "runtime/output.h"
#include "vm/settings.h"
#include "vm/native.h"
#include "vm/vm.h"

namespace xb {

namespace {

constexpr Setting logical(bool on) { return Setting{SK_LOGICAL, 0, uint8_t(on), {0, 0}, 0, nullptr}; }
constexpr Setting number(uint16_t v) { return Setting{SK_NUMBER, 0, 0, {0, 0}, v, nullptr}; }
constexpr Setting text(bool cut) { return Setting{SK_TEXT, uint8_t(cut), 0, {0, 0}, 0, nullptr}; }
constexpr Setting hooked() { return Setting{SK_HOOKED, 0, 0, {0, 0}, 0, nullptr}; }
constexpr Setting none() { return Setting{SK_NONE, 0, 0, {0, 0}, 0, nullptr}; }
constexpr Setting pair(char a, char b) { return Setting{SK_PAIR, 0, 0, {a, b}, 0, nullptr}; }

bool dateFormatHook(const char* format);
void epochHook();

// The values before start-up are the defaults a program starts with, so that code run
// without the start-up chain (tests, tools) reads them too; the hooks of the
// date format and the epoch are in place from the start for the same reason.
SettingsBlock block = {
    {
        none(),                                                       // 0
        logical(false), logical(false), number(2), text(false),       // 1-4
        number(1900), text(true), text(true), logical(true),          // 5-8
        logical(false), logical(false), logical(false), hooked(),     // 9-12
        hooked(), hooked(), hooked(), hooked(),                       // 13-16
        logical(true), logical(false), text(true), text(true),        // 17-20
        logical(false), text(true), logical(false), text(true),       // 21-24
        number(0), logical(false), logical(false), logical(true),     // 25-28
        logical(false), logical(false), logical(true), logical(true), // 29-32
        logical(false), pair(':', ':'), logical(false), number(0),    // 33-36
        logical(false), hooked(), none(), none(),                     // 37-40
        none(), none(), none(), none(),                               // 41-44
        logical(true), number(0),                                     // 45-46
    },
    {},
    {},
    dateFormatHook,
    epochHook,
    1,
};

DateFormatText workingDateFormat = {"MM/DD/YY", 8};
uint16_t epochCentury = 19;  // what date conversion derives from the epoch
uint16_t epochYear = 0;

constexpr uint8_t OUTPUT_SETTINGS[] = {19, 20, 22, 24};

bool dateFormatHook(const char* format) { return dateFormatSet(&workingDateFormat, format); }

void epochHook() {
    epochCentury = uint16_t(block.entries[SET_EPOCH].number / 100);
    epochYear = uint16_t(block.entries[SET_EPOCH].number % 100);
}

void doNothingIdle() {}
void noOutput(int, bool) {}

void storeText(uint8_t specifier, const char* value, uint32_t n) {
    Setting& s = block.entries[specifier];
    if (s.cutAtBlank)
        if (const void* blank = std::memchr(value, ' ', n)) n = uint32_t(static_cast<const char*>(blank) - value);
    char* copy = static_cast<char*>(memAlloc(n + 1));
    std::memcpy(copy, value, n);
    copy[n] = 0;
    memFree(s.text);
    s.text = copy;
}

void freeText(uint8_t specifier) {
    memFree(block.entries[specifier].text);
    block.entries[specifier].text = nullptr;
}

const char* textOf(uint8_t specifier) {
    const char* t = block.entries[specifier].text;
    return t ? t : "";
}

// The date-format hook sees at most 12 characters of the new text (the
// empty text when there is none); it keeps 10 of them.
void runDateFormatHook(const char* value, uint32_t n) {
    char scratch[13];
    if (n > 12) n = 12;
    std::memcpy(scratch, value, n);
    scratch[n] = 0;
    if (block.dateFormatHook) block.dateFormatHook(scratch);
}

void applyText(uint8_t specifier, const char* value, uint32_t n, bool additive) {
    Setting& s = block.entries[specifier];
    if (s.kind == SK_TEXT) {
        storeText(specifier, value, n);
        if (block.outputHooks[specifier]) block.outputHooks[specifier](1, additive);
    } else if (s.kind == SK_PAIR && n > 0) {
        s.pair[0] = value[0];
        s.pair[1] = n > 1 ? value[1] : value[0];
    }
}

void setSeparateLogical(bool on) {
    block.separateLogical = uint8_t(on);
    if (runtimeHooks.separateLogicalNotify) runtimeHooks.separateLogicalNotify(65534, 65535, on);
}

// ---- the hooked specifiers

void separateLogicalHandler(const Item* value, const Item*) {
    retLogical(block.separateLogical != 0);
    if (value && value->type == T_LOGICAL) setSeparateLogical(value->v.l != 0);
}

void noOperationHandler(const Item*, const Item*) {}

void colourHandler(const Item*, const Item*) { retCString(kColourText); }

// A text given to a logical setting means on when it starts with "ON".
bool textMeansOn(const Item* value) {
    uint32_t n = strLength(value);
    const char* t = strData(value);
    return n >= 2 && toUpper(uint8_t(t[0])) == 'O' && toUpper(uint8_t(t[1])) == 'N';
}

uint16_t applyNumber(uint8_t specifier, const Item* value) {
    Setting& s = block.entries[specifier];
    int64_t v;
    if (value->type == T_DOUBLE) {
        double d = value->v.d;
        // truncated toward zero first: 65535.5 is 65535 and is stored
        if (!(d < 65536.0)) v = d != d ? 0 : 65536;  // NaN counts as 0
        else v = d < -2147483648.0 ? INT32_MIN : int64_t(d);
    } else {
        v = value->v.l;
    }
    if (v > 65535) {
        Item previous = *returnItem();
        uint16_t r = argumentError("BASE", 2020, EF_DEFAULT);
        if (r == ST_UNWIND) return r;
        *returnItem() = previous;  // the setting keeps its value, SET still reports it
        return 0;
    }
    s.number = uint16_t(v);
    if (specifier == SET_EPOCH && block.epochHook) block.epochHook();
    return 0;
}

}  // namespace

SettingsBlock& settingsBlock() { return block; }

bool settingExactCompare() { return block.entries[SET_EXACTCOMPARE].logical != 0; }
bool settingFixedFormat() { return block.entries[SET_FIXEDFORMAT].logical != 0; }
uint16_t settingDecimals() { return block.entries[SET_DECIMALS].number; }
const char* settingDateFormat() { return workingDateFormat.text; }
int settingEpoch() { return block.entries[SET_EPOCH].number; }
bool settingSoftSeek() { return block.entries[SET_SOFTSEEK].logical != 0; }
bool settingHideDeleted() { return block.entries[SET_HIDEDELETED].logical != 0; }
bool settingExclusiveOpen() { return block.entries[SET_EXCLUSIVEOPEN].logical != 0; }
const char* settingSearchPath() { return textOf(SET_SEARCHPATH); }
const char* settingDefaultDir() { return textOf(SET_DEFAULTDIR); }

uint16_t applySetting(int32_t specifier, const Item* value, const Item* extra) {
    retNil();
    uint8_t n = uint8_t(specifier);
    if (n < 1 || n > SETTING_COUNT) return 0;
    Setting& s = block.entries[n];
    if (value && value->type == T_NIL) value = nullptr;
    if (n == SET_DATEFORMAT) {
        if (value && isString(value)) runDateFormatHook(strData(value), strLength(value));
        else runDateFormatHook("", 0);
    }
    switch (s.kind) {
    case SK_LOGICAL:
        retLogical(s.logical != 0);
        if (value && value->type == T_LOGICAL) s.logical = uint8_t(value->v.l != 0);
        else if (value && isString(value)) s.logical = uint8_t(textMeansOn(value));
        return 0;
    case SK_NUMBER:
        retInt(s.number);
        if (value && isNumeric(value)) return applyNumber(n, value);
        return 0;
    case SK_TEXT:
        retCString(textOf(n));
        if (value && isString(value)) {
            bool additive = extra && extra->type == T_LOGICAL && extra->v.l;
            applyText(n, strData(value), strLength(value), additive);
        }
        return 0;
    case SK_PAIR:
        if (value && isString(value)) applyText(n, strData(value), strLength(value), false);
        retString(s.pair, 2);
        return 0;
    case SK_HOOKED:
        if (block.handlers[n]) block.handlers[n](value, extra);
        return 0;
    default:
        return 0;
    }
}

void settingSetLogical(uint8_t specifier, bool on) {
    if (specifier == 12) setSeparateLogical(on);
    else if (specifier >= 1 && specifier <= SETTING_COUNT && block.entries[specifier].kind == SK_LOGICAL)
        block.entries[specifier].logical = uint8_t(on);
}

void settingSetNumber(uint8_t specifier, uint16_t value) {
    if (specifier < 1 || specifier > SETTING_COUNT || block.entries[specifier].kind != SK_NUMBER) return;
    block.entries[specifier].number = value;
    if (specifier == SET_EPOCH && block.epochHook) block.epochHook();
}

void settingSetText(uint8_t specifier, const char* value) {
    if (specifier < 1 || specifier > SETTING_COUNT || !value) return;
    uint32_t n = uint32_t(std::strlen(value));
    if (specifier == SET_DATEFORMAT) runDateFormatHook(value, n);
    applyText(specifier, value, n, false);
}

void settingsHooksStart() {
    block.handlers[12] = separateLogicalHandler;
    block.handlers[13] = noOperationHandler;
    block.handlers[14] = noOperationHandler;
    block.handlers[38] = noOperationHandler;
    registerIdleTask(doNothingIdle, 0x2001);
}

void settingsStart() {
    block.entries[SET_DECIMALS].number = 2;
    storeText(SET_DATEFORMAT, "mm/dd/yy", 8);
    block.entries[SET_EPOCH].number = 1900;
    storeText(SET_SEARCHPATH, "", 0);
    storeText(SET_DEFAULTDIR, "", 0);
    dateFormatHook("mm/dd/yy");
    epochHook();
    block.dateFormatHook = dateFormatHook;
    block.epochHook = epochHook;
}

void settingsConsoleStart() {
    for (uint8_t s : {17, 28, 31, 32}) block.entries[s].logical = 1;
    block.entries[SET_DELIMITERS].pair[0] = ':';
    block.entries[SET_DELIMITERS].pair[1] = ':';
    storeText(19, "", 0);
    storeText(20, "SCREEN", 6);
    storeText(22, "", 0);
    storeText(24, "", 0);
    for (uint8_t s : OUTPUT_SETTINGS) block.outputHooks[s] = noOutput;
    block.handlers[SET_COLOUR] = colourHandler;
    block.handlers[16] = noOperationHandler;
}

void settingsConsoleStop() {
    for (uint8_t s : OUTPUT_SETTINGS) {
        if (block.outputHooks[s]) block.outputHooks[s](0, false);
        freeText(s);
    }
}

void settingsRelease() {
    freeText(SET_DATEFORMAT);
    freeText(SET_SEARCHPATH);
    freeText(SET_DEFAULTDIR);
}

}  // namespace xb
