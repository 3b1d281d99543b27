// The textual forms of operands shared by the assembler and the disassembler:
// integers, doubles that round-trip bit for bit, and quoted strings with
// the escapes \r \n \t \\ \" \xHH.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace xb::pcasm {

// [+-] then decimal digits or 0x and hex digits, the whole text. Values
// beyond 2^40 in magnitude are refused (no operand is that large).
bool parseInteger(const std::string& text, int64_t* value);

// A double operand: a decimal number ([+-]digits[.digits][e[+-]digits]) or
// 0x followed by exactly 16 hex digits giving the IEEE bits (the form used
// for infinities and NaNs). The result is the 8 bytes in memory order.
bool parseDouble(const std::string& text, uint8_t bits[8]);

// The shortest decimal text that parses back to the same bits, or the 0x
// form when the value is not finite.
std::string formatDouble(const uint8_t bits[8]);

// Appends the bytes as a quoted string: printable ASCII as itself, the rest
// escaped.
void appendQuoted(std::string& out, const uint8_t* bytes, size_t n);

}  // namespace xb::pcasm
