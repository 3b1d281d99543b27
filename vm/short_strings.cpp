#include "vm/short_strings.h"

#include "vm/object.h"

namespace xb {

namespace {

// Each one-byte text with its terminating NUL; the empty text is the NUL of
// entry 0.
struct ShortTexts {
    char bytes[256][2];
    constexpr ShortTexts() : bytes() {
        for (int i = 0; i < 256; ++i) {
            bytes[i][0] = char(i);
            bytes[i][1] = 0;
        }
    }
};
constexpr ShortTexts texts;

ObjectBody* oneByte[256];
ObjectBody* empty;

}  // namespace

void shortStringsInit() {
    if (empty) return;
    empty = newPermanentString(&texts.bytes[0][1], 0);
    for (int i = 0; i < 256; ++i) oneByte[i] = newPermanentString(texts.bytes[i], 1);
}

void shortStringsDrop() {
    if (!empty) return;
    freePermanentObject(empty);
    empty = nullptr;
    for (auto& b : oneByte) {
        freePermanentObject(b);
        b = nullptr;
    }
}

ObjectBody* sharedShortString(const char* bytes, uint32_t n) {
    if (n > 1 || !empty) return nullptr;
    return n ? oneByte[static_cast<uint8_t>(bytes[0])] : empty;
}

}  // namespace xb
