#include "tools/asm/disassembler.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/asm/text_forms.h"
#include "vm/interp.h"
#include "vm/opcodes.h"

namespace xb::pcasm {

namespace {

struct Context {
    const ModuleSymbol* table;
    uint32_t count;
    const AsmModule* module;  // for the names of X operands, may be null
    uint32_t base;            // offset of the code within module->code
    const char* indent;       // prefix of every line
};

std::string number(long v) { return std::to_string(v); }

// The mnemonic the assembler maps back to this number: its name when that
// name leads to it, else the plain number (the second NOP, undefined numbers).
std::string mnemonic(uint8_t op) {
    const char* name = opcodeInfo(op).name;
    if (name && opcodeByName(name) == op) return name;
    return number(op);
}

std::string tableName(const Context& c, uint16_t n) {
    if (!c.table || n >= c.count) return {};
    const char* name = c.table[n].name;
    return std::string(name, strnlen(name, SYMBOL_NAME_MAX));
}

const char* xrefName(const Context& c, size_t offset) {
    if (!c.module) return nullptr;
    for (uint32_t i = 0; i < c.module->xrefCount; ++i)
        if (c.module->xrefs[i].offset == c.base + offset) return c.module->xrefs[i].name;
    return nullptr;
}

// Appends the operands of the complete instruction at code[at].
void appendOperands(std::string& line, const Context& c, const uint8_t* code, size_t at) {
    const uint8_t* p = code + at + 1;
    std::string comment;
    switch (opcodeInfo(code[at]).mode) {
    case OM_NONE: break;
    case OM_B: line += " " + number(p[0]); break;
    case OM_N:
    case OM_U: line += " " + number(readU16(p)); break;
    case OM_I:
    case OM_J: line += " " + number(readI16(p)); break;
    case OM_S: {
        uint16_t s = readU16(p);
        line += " " + number(s);
        comment = tableName(c, s);
        break;
    }
    case OM_X: {
        if (const char* name = xrefName(c, at + 1)) {
            line += " ";
            line += name;
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, " 0x%08lX", static_cast<unsigned long>(readU32(p)));
            line += buf;
            comment = "symbol address";
        }
        break;
    }
    case OM_BB: line += " " + number(p[0]) + " " + number(p[1]); break;
    case OM_STR:
        line += " ";
        appendQuoted(line, p + 1, p[0]);
        if (p[1 + p[0]] != 0) comment = "no terminating 0 byte";
        break;
    case OM_DBL: line += " " + number(p[0]) + " " + number(p[1]) + " " + formatDouble(p + 2); break;
    case OM_BLOCK: line += " " + number(readU16(p)) + " {"; break;
    }
    if (!comment.empty()) line += "  ; " + comment;
}

void disassembleInto(std::string& out, const uint8_t* code, size_t length, const Context& c) {
    std::vector<size_t> ends;  // ends of the open codeblocks, innermost last
    size_t at = 0;
    auto indent = [&](size_t depth) {
        out += c.indent;
        for (size_t i = 0; i < depth; ++i) out += "    ";
    };
    for (;;) {
        while (!ends.empty() && at == ends.back()) {
            ends.pop_back();
            indent(ends.size());
            out += "}\n";
        }
        if (at >= length) break;
        const size_t limit = ends.empty() ? length : ends.back();
        const int n = operandLength(code + at, code + limit);
        indent(ends.size());
        if (n < 0) {
            out += "; truncated instruction at offset " + number(long(at)) + "\n";
            break;
        }
        std::string line = mnemonic(code[at]);
        appendOperands(line, c, code, at);
        out += line;
        out += '\n';
        if (opcodeInfo(code[at]).mode == OM_BLOCK) {
            ends.push_back(at + 1 + size_t(n));
            at += 3;
        } else {
            at += 1 + size_t(n);
        }
    }
}

const char* scopeWord(uint8_t scope) {
    switch (scope) {
    case SC_STATIC: return " static";
    case SC_INIT: return " init";
    case SC_EXIT: return " exit";
    default: return "";
    }
}

}  // namespace

std::string disassemble(const uint8_t* code, size_t length, const ModuleSymbol* table, uint32_t count) {
    std::string out;
    if (!code) return out;
    disassembleInto(out, code, length, {table, count, nullptr, 0, ""});
    return out;
}

std::string disassembleModule(const AsmModule& m) {
    std::string out;
    if (m.name[0]) out += std::string("module ") + m.name + "\n";
    for (uint32_t n = 1; n < m.count; ++n) {
        const ModuleSymbol& e = m.pristine[n];
        bool defined = false;
        for (uint32_t i = 0; i < m.procCount; ++i) defined |= m.procs[i].symbol == n;
        out += "symbol ";
        out += std::string(e.name, strnlen(e.name, SYMBOL_NAME_MAX));
        out += scopeWord(e.scope);
        if (defined) out += " proc";
        out += "  ; " + number(long(n)) + "\n";
    }
    for (uint32_t i = 0; i < m.procCount; ++i) {
        const AsmProc& p = m.procs[i];
        out += std::string("\nproc ") + p.name + "\n";
        disassembleInto(out, m.code + p.offset, p.length, {m.pristine, m.count, &m, p.offset, "    "});
        out += "end\n";
    }
    return out;
}

}  // namespace xb::pcasm
