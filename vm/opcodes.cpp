#include "vm/opcodes.h"

#include <cstring>

namespace xb {

namespace {

struct Table {
    OpcodeInfo info[256];
    Table() {
        for (auto& i : info) i = {nullptr, OM_NONE};
#define OP(name, num, mode) info[num] = {#name, OM_##mode};
#define OP2(name, num, mode) OP(name, num, mode)
#include "vm/opcodes.def"
#undef OP
#undef OP2
    }
};

const Table& table() {
    static const Table t;
    return t;
}

}  // namespace

const OpcodeInfo& opcodeInfo(uint8_t op) { return table().info[op]; }

int opcodeByName(const char* name) {
    for (int i = 0; i < 256; ++i) {
        const char* n = table().info[i].name;
        if (!n) continue;
        // ASCII-only comparison: mnemonics are plain letters and digits
        size_t k = 0;
        for (; n[k] && name[k]; ++k) {
            char a = n[k], b = name[k];
            if (b >= 'a' && b <= 'z') b = char(b - 32);
            if (a != b) break;
        }
        if (!n[k] && !name[k]) return i;
    }
    return -1;
}

int operandLength(const uint8_t* pc, const uint8_t* end) {
    const uint8_t* p = pc + 1;
    auto avail = [&](int n) { return end - p >= n; };
    switch (opcodeInfo(*pc).mode) {
    case OM_NONE: return 0;
    case OM_B: return avail(1) ? 1 : -1;
    case OM_N:
    case OM_I:
    case OM_S:
    case OM_J:
    case OM_U:
    case OM_BB: return avail(2) ? 2 : -1;
    case OM_X: return avail(4) ? 4 : -1;
    case OM_DBL: return avail(10) ? 10 : -1;
    case OM_STR:
        if (!avail(1)) return -1;
        return avail(2 + p[0]) ? 2 + p[0] : -1;
    case OM_BLOCK: {
        if (!avail(2)) return -1;
        int n = p[0] | (p[1] << 8);
        return avail(2 + n) ? 2 + n : -1;
    }
    }
    return -1;
}

}  // namespace xb
