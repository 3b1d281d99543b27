// Counts adjacent opcode pairs (and the three- and four-opcode sequences the
// fast engine fuses) over pcode programs: assembler files (.xbasm) and the
// programs test sources carry as raw string literals (a literal counts when
// it assembles). Walks every procedure's code, nested codeblocks included,
// in address order; a pair never spans a PUSHBLOCK or ENDBLOCK boundary.
// Prints the most frequent pairs with their share of all pairs.
//   xbpairs [-n top] file...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/opcodes.h"

using namespace xb;

namespace {

struct Counts {
    std::map<std::pair<int, int>, uint64_t> pairs;
    std::map<std::string, uint64_t> sequences;
    uint64_t instructions = 0;
    uint64_t pairTotal = 0;
    uint32_t programs = 0;
};

std::string name(int op) {
    const char* n = opcodeInfo(uint8_t(op)).name;
    if (n) return n;
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", op);
    return buf;
}

bool boundary(int op) { return op == OP_PUSHBLOCK || op == OP_ENDBLOCK; }

void countCode(const uint8_t* code, uint32_t length, Counts* c) {
    const uint8_t* end = code + length;
    std::vector<int> ops;
    for (const uint8_t* p = code; p < end;) {
        int n = operandLength(p, end);
        if (n < 0) break;
        ops.push_back(*p);
        // the block's code follows its PUSHBLOCK's length operand
        p += *p == OP_PUSHBLOCK ? 3 : 1 + n;
    }
    c->instructions += ops.size();
    for (size_t i = 0; i + 1 < ops.size(); ++i) {
        if (boundary(ops[i]) || boundary(ops[i + 1])) continue;
        ++c->pairs[{ops[i], ops[i + 1]}];
        ++c->pairTotal;
        if (ops[i] != OP_PUSHLOCAL || i + 2 >= ops.size()) continue;
        int b = ops[i + 1], r = ops[i + 2];
        int d = i + 3 < ops.size() ? ops[i + 3] : -1;
        if (b == OP_PUSHLOCAL && (r == OP_PLUS || r == OP_MINUS) && d == OP_POPLOCAL)
            ++c->sequences["PUSHLOCAL PUSHLOCAL PLUS|MINUS POPLOCAL"];
        if ((b == OP_INC || b == OP_DEC) && r == OP_POPLOCAL) ++c->sequences["PUSHLOCAL INC|DEC POPLOCAL"];
        bool operand = b == OP_PUSHINT || b == OP_PUSHWORD || b == OP_ZERO || b == OP_ONE || b == OP_PUSHDOUBLE ||
                       b == OP_PUSHLOCAL;
        bool relation = r == OP_LESS || r == OP_LESSEQUAL || r == OP_GREATER || r == OP_GREATEREQUAL ||
                        r == OP_EQUAL || r == OP_EXACTEQUAL || r == OP_NOTEQUAL;
        if (operand && relation && (d == OP_JUMPFALSE || d == OP_JUMPTRUE))
            ++c->sequences["PUSHLOCAL operand relation JUMPFALSE|JUMPTRUE"];
    }
}

bool countText(const std::string& text, Counts* c) {
    pcasm::AsmModule m{};
    pcasm::AsmError e{};
    pcasm::AsmOptions options;
    options.verify = false;
    if (!pcasm::assemble(text.data(), text.size(), &m, &e, options)) return false;
    for (uint32_t i = 0; i < m.procCount; ++i) countCode(m.code + m.procs[i].offset, m.procs[i].length, c);
    ++c->programs;
    return true;
}

// The raw string literals of a C++ source that look like assembler modules.
std::vector<std::string> rawPrograms(const std::string& source) {
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = source.find("R\"(", at)) != std::string::npos) {
        size_t start = at + 3;
        size_t stop = source.find(")\"", start);
        if (stop == std::string::npos) break;
        std::string body = source.substr(start, stop - start);
        if (body.find("proc ") != std::string::npos) out.push_back(body);
        at = stop + 2;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    size_t top = 30;
    Counts c;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            top = size_t(std::strtoul(argv[++i], nullptr, 10));
            continue;
        }
        std::ifstream f(argv[i], std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "xbpairs: cannot read %s\n", argv[i]);
            return 1;
        }
        std::ostringstream s;
        s << f.rdbuf();
        std::string path = argv[i];
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".cpp") == 0) {
            for (const std::string& p : rawPrograms(s.str())) countText(p, &c);
        } else if (!countText(s.str(), &c)) {
            std::fprintf(stderr, "xbpairs: %s does not assemble\n", argv[i]);
        }
    }
    std::vector<std::pair<uint64_t, std::pair<int, int>>> sorted;
    for (const auto& [k, v] : c.pairs) sorted.push_back({v, k});
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::printf("%u programs, %llu instructions, %llu pairs\n", c.programs, (unsigned long long)c.instructions,
                (unsigned long long)c.pairTotal);
    for (size_t i = 0; i < sorted.size() && i < top; ++i)
        std::printf("%6llu %5.2f%%  %s %s\n", (unsigned long long)sorted[i].first,
                    100.0 * double(sorted[i].first) / double(c.pairTotal ? c.pairTotal : 1),
                    name(sorted[i].second.first).c_str(), name(sorted[i].second.second).c_str());
    for (const auto& [k, v] : c.sequences) std::printf("sequence %6llu  %s\n", (unsigned long long)v, k.c_str());
    return 0;
}
