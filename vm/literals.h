// The String objects of compiled code's literals: one per literal, built the
// first time its PUSHSTR runs and shared by every later run. They are
// permanent: the collector neither marks nor frees them. Only code that
// outlives the run may use this (compiled modules); macro-compiled code is
// freed with its codeblock, so its PUSHSTR copies the bytes every time.
#pragma once
#include <cstdint>

#include "vm/item.h"

namespace xb {

// Sets *out to the literal's String (n bytes at `bytes`, inside pcode).
void pushLiteral(Item* out, const char* bytes, uint32_t n);
// Literals cached now (tests).
uint32_t literalCount();
// Frees the literals' objects and the table (teardown, and tests' resets).
void dropLiterals();

}  // namespace xb
