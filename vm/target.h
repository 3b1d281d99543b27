// The two pointer widths the runtime is built for. The Windows product and the
// Linux -m32 build are i386 (4-byte pointers): their record layouts are the
// ones the runtime was designed with. The Linux x86_64 build runs the same
// sources with 8-byte pointers; where a record holds a pointer it takes its
// natural 64-bit layout, and each record states both layouts beside its
// definition.
#pragma once
#include <cstdint>

#if UINTPTR_MAX > 0xFFFFFFFFu
#define XB_TARGET_64 1
#else
#define XB_TARGET_64 0
#endif

static_assert(sizeof(void*) == (XB_TARGET_64 ? 8 : 4), "an i386 or an x86_64 target");
