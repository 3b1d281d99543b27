// Index file format: geometry, header and page checks, key texts and the
// key comparison. See ntx_format.h.
#include "rdd/ntx/ntx_format.h"

#include "base/casemap.h"
#include "base/dates.h"
#include "base/numfmt.h"

namespace xb {

const char* ntxErrorText(NtxStatus status) {
    static const char* const kText[] = {
        "no error",
        "not an index file (signature)",
        "key size outside 1..256",
        "item size, maximum or half page do not match the key size",
        "root offset outside the file or not on a page boundary",
        "free list offset outside the file, unaligned or cyclic",
        "key count above the maximum or offset table outside the page",
        "child offset outside the file or not on a page boundary",
        "descent deeper than the stack allows",
        "index file read failed",
        "index file write failed",
        "build needs more than 20 levels",
        "file shorter than the index header",
        "keys out of order",
        "page reached twice (cycle or shared page)",
        "page without keys where a key is needed",
        "key twice in a unique order",
        "order does not match its table",
        "stopped by the caller",
    };
    static_assert(sizeof kText / sizeof kText[0] == NTX_STOPPED.code + 1u, "one text per status");
    return status.code < sizeof kText / sizeof kText[0] ? kText[status.code] : "unknown index error";
}

NtxGeometry ntxGeometry(uint16_t keySize) {
    NtxGeometry g;
    g.itemSize = uint16_t(keySize + 8);
    g.halfPage = uint16_t((1020 / (keySize + 10) - 1) / 2);
    g.maxKeys = uint16_t(2 * g.halfPage);
    return g;
}

NtxStatus ntxValidateHeader(const NtxHeader& h, uint32_t fileSize) {
    if ((h.signature & NTX_SIG_BASE) == 0) return NTX_ERR_SIGNATURE;
    if (h.keySize == 0 || h.keySize > NTX_MAX_KEY_SIZE) return NTX_ERR_KEY_SIZE;
    NtxGeometry g = ntxGeometry(h.keySize);
    if (h.itemSize != g.itemSize || h.maxKeys != g.maxKeys || h.halfPage != g.halfPage)
        return NTX_ERR_GEOMETRY;
    if (!ntxPageOffsetValid(h.root, fileSize)) return NTX_ERR_ROOT;
    if (h.freeList != 0 && !ntxPageOffsetValid(h.freeList, fileSize)) return NTX_ERR_FREE_LIST;
    return NTX_OK;
}

static void copyText(char* dst, const char* src, size_t room) {
    if (!src) return;
    size_t n = 0;
    while (n < room && src[n]) n++;
    std::memcpy(dst, src, n);
}

void ntxInitHeader(NtxHeader* h, const NtxHeaderInfo& info) {
    std::memset(h, 0, sizeof *h);
    NtxGeometry g = ntxGeometry(info.keySize);
    bool hasFor = info.forExpr && info.forExpr[0];
    h->signature = uint16_t(NTX_SIG_BASE | (hasFor || info.descending ? NTX_SIG_CONDITION : 0) |
                            (info.partial ? NTX_SIG_PARTIAL : 0));
    h->changeCounter = 1;
    h->root = NTX_PAGE_SIZE;
    h->freeList = 0;
    h->itemSize = g.itemSize;
    h->keySize = info.keySize;
    h->keyDecimals = info.keyDecimals;
    h->maxKeys = g.maxKeys;
    h->halfPage = g.halfPage;
    copyText(h->keyExpr, info.keyExpr, sizeof h->keyExpr);
    h->unique = info.unique ? 1 : 0;
    h->descending = info.descending ? 1 : 0;
    copyText(h->forExpr, info.forExpr, sizeof h->forExpr);
    copyText(h->tagName, info.tag, NTX_TAG_LENGTH);
    upperText(h->tagName, h->tagName, NTX_TAG_LENGTH);
}

void ntxInitPage(uint8_t* page, const NtxGeometry& g) {
    std::memset(page, 0, NTX_PAGE_SIZE);
    uint16_t base = uint16_t(2 * g.maxKeys + 4);
    for (uint16_t i = 0; i <= g.maxKeys; i++) ntxPut16(page + 2 + 2 * i, uint16_t(base + i * g.itemSize));
}

NtxStatus ntxCheckPage(const uint8_t* page, const NtxGeometry& g) {
    if (ntxPageCount(page) > g.maxKeys) return NTX_ERR_PAGE;
    uint32_t base = 2u * g.maxKeys + 4;
    // One bit per item slot: each entry must name a distinct slot, so that
    // rotating the table can never make two positions share an item.
    uint8_t seen[(NTX_PAGE_SIZE / 9) / 8 + 2] = {};
    // Every page read from the file passes here: the slot number is found
    // by a multiplication (exact for distances below a page) instead of a
    // division per slot.
    const uint64_t inverse = (uint64_t(1) << 32) / g.itemSize + 1;
    for (uint16_t i = 0; i <= g.maxKeys; i++) {
        uint32_t off = ntxSlotOffset(page, i);
        if (off < base || off + g.itemSize > NTX_PAGE_SIZE) return NTX_ERR_PAGE;
        uint32_t k = uint32_t((uint64_t(off - base) * inverse) >> 32);
        if (k * g.itemSize != off - base) return NTX_ERR_PAGE;
        if (seen[k / 8] & (1u << (k % 8))) return NTX_ERR_PAGE;
        seen[k / 8] |= uint8_t(1u << (k % 8));
    }
    return NTX_OK;
}

void ntxKeyFromText(const char* text, uint32_t length, uint16_t keySize, char* out) {
    uint32_t n = length < keySize ? length : keySize;
    std::memcpy(out, text, n);
    std::memset(out + n, ' ', keySize - n);
}

void ntxNumericTransform(char* text, uint16_t length) {
    uint16_t i = 0;
    while (i < length && text[i] == ' ') text[i++] = '0';
    if (i < length && text[i] == '-') {
        text[i++] = ',';
        for (; i < length; i++)
            if (text[i] >= '0' && text[i] <= '9') text[i] = char(92 - text[i]);
    }
}

void ntxKeyFromNumber(double value, uint16_t keySize, uint16_t keyDecimals, char* out) {
    formatNumber(value, keySize, keyDecimals, out);
    ntxNumericTransform(out, keySize);
}

void ntxKeyFromDate(int32_t jdn, uint16_t keySize, char* out) {
    char text[8];
    dateToCompact(jdn, text);
    ntxKeyFromText(text, 8, keySize, out);
}

void ntxKeyFromLogical(bool value, uint16_t keySize, char* out) {
    ntxKeyFromText(value ? "T" : "F", 1, keySize, out);
}

uint16_t ntxKeyFromItem(const Item& v, uint16_t keySize, uint16_t keyDecimals, char* out) {
    if (v.type & M_STRING) {
        ntxKeyFromText(strData(&v), strLength(&v), keySize, out);
    } else if (v.type == T_DOUBLE) {
        ntxKeyFromNumber(v.v.d, keySize, keyDecimals, out);
    } else if (v.type == T_INTEGER || v.type == T_WORD) {
        ntxKeyFromNumber(double(v.v.l), keySize, keyDecimals, out);
    } else if (v.type == T_DATE) {
        ntxKeyFromDate(v.v.l, keySize, out);
    } else if (v.type == T_LOGICAL) {
        ntxKeyFromLogical(v.v.l != 0, keySize, out);
    } else {
        return 1242;
    }
    return 0;
}

NtxKeyShape ntxKeyShape(const Item& v) {
    NtxKeyShape s = {0, 0};
    if (v.type & M_STRING) {
        uint32_t n = strLength(&v);
        s.keySize = uint16_t(n > NTX_MAX_KEY_SIZE ? NTX_MAX_KEY_SIZE : n);
    } else if (v.type == T_DATE) {
        s.keySize = 8;
    } else if (v.type == T_LOGICAL) {
        s.keySize = 1;
    } else if (v.type == T_DOUBLE || v.type == T_INTEGER || v.type == T_WORD) {
        bool isInt = v.type != T_DOUBLE;
        double value = isInt ? double(v.v.l) : v.v.d;
        uint16_t width = v.width, dec = isInt ? 0 : v.decimals;
        if (width == 0) {
            NumberShape shape = defaultShape(isInt, value, 0, dec, NumberSettings{false, 0});
            width = shape.width;
            dec = shape.decimals;
        }
        s.keySize = uint16_t(width > NTX_MAX_KEY_SIZE ? NTX_MAX_KEY_SIZE : width);
        if (!isInt) s.keyDecimals = uint16_t(dec > 254 ? 254 : dec);
    }
    return s;
}

int ntxCompare(const char* a, const char* b, uint16_t length, bool descending) {
    int c = collateCompare(a, b, length, length);
    return descending ? -c : c;
}

}  // namespace xb
