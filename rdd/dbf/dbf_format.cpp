#include "rdd/dbf/dbf_format.h"

#include <cstring>

#include "base/dates.h"
#include "base/numfmt.h"

namespace xb {

namespace {

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

void dbfHeaderDecode(const uint8_t* b, DbfHeader* h) {
    h->version = b[0];
    h->year = b[1];
    h->month = b[2];
    h->day = b[3];
    h->recordCount = get32(b + 4);
    h->headerLength = get16(b + 8);
    h->recordLength = get16(b + 10);
    h->keep28 = get16(b + 28);
}

void dbfHeaderEncode(const DbfHeader& h, uint8_t* b) {
    std::memset(b, 0, kDbfHeaderSize);
    b[0] = h.version;
    b[1] = h.year;
    b[2] = h.month;
    b[3] = h.day;
    put32(b + 4, h.recordCount);
    put16(b + 8, h.headerLength);
    put16(b + 10, h.recordLength);
    put16(b + 28, h.keep28);
}

void dbfFieldDecode(const uint8_t* b, DbfField* f) {
    // The name stops at its first NUL, and at 10 characters whatever follows.
    size_t n = 0;
    while (n < kDbfFieldNameMax && b[n] != 0) ++n;
    std::memcpy(f->name, b, n);
    f->name[n] = 0;
    f->type = char(b[11]);
    if (f->type == 'C') {
        f->length = uint16_t(b[16] | (b[17] << 8));
        f->decimals = 0;
    } else {
        f->length = b[16];
        f->decimals = b[17];
    }
}

void dbfFieldEncode(const DbfField& f, uint8_t* b) {
    std::memset(b, 0, kDbfDescriptorSize);
    size_t n = std::strlen(f.name);
    if (n > kDbfFieldNameMax) n = kDbfFieldNameMax;
    std::memcpy(b, f.name, n);
    b[11] = uint8_t(f.type);
    b[16] = uint8_t(f.length);
    b[17] = f.type == 'C' ? uint8_t(f.length >> 8) : (f.type == 'N' ? f.decimals : uint8_t(0));
    // Fields of types this driver does not know keep their decimals.
    if (f.type != 'C' && f.type != 'N' && f.type != 'D' && f.type != 'L' && f.type != 'M') b[17] = f.decimals;
}

uint16_t dbfForcedLength(char type, uint16_t asked) {
    switch (type) {
        case 'D': return 8;
        case 'L': return 1;
        case 'M': return uint16_t(kDbfMemoFieldLength);
        default: return asked;
    }
}

bool dbfVersionValid(uint8_t version) { return version == kDbfVersionPlain || version == kDbfVersionMemo; }

uint32_t dbfFieldCountOf(uint16_t headerLength) {
    return headerLength < kDbfHeaderSize ? 0 : (headerLength - kDbfHeaderSize) / kDbfDescriptorSize;
}

DbfLayout dbfCheckFields(const DbfField* fields, uint32_t count, uint16_t recordLength) {
    if (count == 0) return DbfLayout::NoFields;
    uint32_t sum = 1;
    for (uint32_t i = 0; i < count; ++i) {
        char t = fields[i].type;
        if (t != 'C' && t != 'D' && t != 'L' && t != 'M' && t != 'N') return DbfLayout::BadFieldType;
        sum += dbfForcedLength(t, fields[i].length);
    }
    if (recordLength == 0 || recordLength < sum) return DbfLayout::BadRecordLength;
    return DbfLayout::Ok;
}

bool dbfEncodeNumber(double value, uint16_t length, uint16_t decimals, char* out) {
    if (length == 0) return true;
    char text[256];
    // Wider fields go through a heap-free path one chunk at a time: the
    // formatter writes exactly `length` bytes, so format straight into out
    // after checking the fit in a scratch copy when it is small enough.
    if (length <= sizeof text) {
        formatNumber(value, length, decimals, text);
        if (text[0] == '*') return false;
        std::memcpy(out, text, length);
        return true;
    }
    // A number is never wider than 256 characters in practice; a field this
    // wide gets the blanks in front.
    formatNumber(value, sizeof text, decimals, text);
    if (text[0] == '*') return false;
    std::memset(out, ' ', length - sizeof text);
    std::memcpy(out + (length - sizeof text), text, sizeof text);
    return true;
}

double dbfDecodeNumber(const char* field, uint16_t length) {
    // textToNumber refuses texts of 64 characters or more: skip the leading
    // blanks first so that wide fields still read.
    uint32_t i = 0;
    while (i < length && field[i] == ' ') ++i;
    uint32_t n = length - i;
    if (n >= 64) n = 63;
    return textToNumber(field + i, n);
}

void dbfEncodeDate(int32_t jdn, char* out) { dateToCompact(jdn, out); }

int32_t dbfDecodeDate(const char* field) { return dateFromCompact(field, kDateCompactLen, 0); }

void dbfEncodeText(const char* text, uint32_t n, uint16_t length, char* out) {
    if (n > length) n = length;
    std::memcpy(out, text, n);
    std::memset(out + n, ' ', length - n);
}

void dbfEncodeMemoBlock(uint32_t block, char* out) {
    std::memset(out, ' ', kDbfMemoFieldLength);
    for (int i = int(kDbfMemoFieldLength) - 1; block != 0 && i >= 0; --i) {
        out[i] = char('0' + block % 10);
        block /= 10;
    }
}

uint32_t dbfDecodeMemoBlock(const char* field) {
    // Most records of a table with memos have none: ten blanks.
    static const char kBlank[kDbfMemoFieldLength + 1] = "          ";
    static_assert(sizeof kBlank == kDbfMemoFieldLength + 1, "a blank memo field is ten blanks");
    if (std::memcmp(field, kBlank, kDbfMemoFieldLength) == 0) return 0;
    uint64_t v = 0;
    for (uint32_t i = 0; i < kDbfMemoFieldLength; ++i) {
        char c = field[i];
        if (c < '0' || c > '9') continue;
        v = v * 10 + uint32_t(c - '0');
    }
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v);
}

void dbfStampHeader(DbfHeader* h, int year, int month, int day) {
    h->year = uint8_t(year - 1900);
    h->month = uint8_t(month);
    h->day = uint8_t(day);
}

}  // namespace xb
