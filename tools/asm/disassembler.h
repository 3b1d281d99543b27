// The pcode disassembler: one instruction per line, in the text form the
// assembler reads back (docs/pcode-assembler.md). Operands are decimal, jumps
// are the stored distances, symbol operands are entry numbers (with the name
// as a comment when the table is known). Safe on any bytes: it stops at a
// truncated instruction with a comment saying so.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/symbols.h"
#include "tools/asm/assembler.h"

namespace xb::pcasm {

// Disassembles code[0..length). table (count entries, may be null) only
// supplies the comments naming symbol operands. X operands appear as their
// address in hex, which the assembler does not take back: use
// disassembleModule for code that has them.
std::string disassemble(const uint8_t* code, size_t length, const ModuleSymbol* table = nullptr,
                        uint32_t count = 0);

// The whole module as assembler text: its module line, its symbol lines and
// every procedure between `proc NAME` and `end`, X operands by name.
// Assembling the result gives the same table and the same bytes.
std::string disassembleModule(const AsmModule& m);

}  // namespace xb::pcasm
