// Get/set blocks: a Codeblock of one parameter that reads a variable when
// called without an argument (or with NIL) and assigns the argument to it
// otherwise, built from the variable's name given as text.
//
// A plain name is never compiled: one of two prebuilt templates (memory
// variable, or field of the current work area) is patched with the name's
// symbol (and the area number) and copied into the new block. Any other
// text (an aliased field, an array element, a macro) becomes the text of a
// block and goes through the macro compiler.
//
// From pcode: GETSETBLOCK(cName) returns the block (the variable is read
// once while the block is built, so a missing variable is reported then).
#pragma once
#include <cstdint>

namespace xb {

// Builds the block for text[0..n). True: the block is on top of the
// evaluation stack and the return Item holds the variable's current value.
// False: the text did not compile (the macro syntax error was raised), the
// variable is missing and the error block gave up, or the first read
// failed; the stack is as the failing step left it.
bool buildGetSetBlock(const char* text, uint32_t n);

// The templates, exposed for tests: the memory-variable form (29 bytes,
// symbol at 12 and 24) and the field form (35 bytes, area at 12 and 27,
// symbol at 15 and 30).
constexpr uint32_t MEMVAR_BLOCK_SIZE = 29;
constexpr uint32_t FIELD_BLOCK_SIZE = 35;

}  // namespace xb
