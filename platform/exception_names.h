// Names of the Windows exception codes that a crash report can carry. The
// POSIX backend translates its fault signals into the same codes, so a crash
// report reads alike on both targets.
#pragma once
#include <cstdint>

namespace xb::os {

constexpr uint32_t EXC_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t EXC_MISALIGNMENT = 0x80000002;
constexpr uint32_t EXC_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr uint32_t EXC_PRIVILEGED_INSTRUCTION = 0xC0000096;
constexpr uint32_t EXC_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t EXC_INT_OVERFLOW = 0xC0000095;
constexpr uint32_t EXC_FLT_DENORMAL = 0xC000008D;
constexpr uint32_t EXC_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t EXC_FLT_INEXACT = 0xC000008F;
constexpr uint32_t EXC_FLT_INVALID = 0xC0000090;
constexpr uint32_t EXC_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t EXC_FLT_STACK_CHECK = 0xC0000092;
constexpr uint32_t EXC_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t EXC_STACK_OVERFLOW = 0xC00000FD;
constexpr uint32_t EXC_IN_PAGE_ERROR = 0xC0000006;

inline const char* exceptionName(uint32_t code) {
    switch (code) {
        case EXC_ACCESS_VIOLATION: return "Access violation";
        case EXC_MISALIGNMENT: return "Datatype misalignment";
        case EXC_ILLEGAL_INSTRUCTION: return "Illegal instruction";
        case EXC_PRIVILEGED_INSTRUCTION: return "Privileged instruction";
        case EXC_INT_DIVIDE_BY_ZERO: return "Integer division by zero";
        case EXC_INT_OVERFLOW: return "Integer overflow";
        case EXC_FLT_DENORMAL: return "Floating-point denormal operand";
        case EXC_FLT_DIVIDE_BY_ZERO: return "Floating-point division by zero";
        case EXC_FLT_INEXACT: return "Floating-point inexact result";
        case EXC_FLT_INVALID: return "Floating-point invalid operation";
        case EXC_FLT_OVERFLOW: return "Floating-point overflow";
        case EXC_FLT_STACK_CHECK: return "Floating-point stack check";
        case EXC_FLT_UNDERFLOW: return "Floating-point underflow";
        case EXC_STACK_OVERFLOW: return "Stack overflow";
        case EXC_IN_PAGE_ERROR: return "In-page error";
        default: return "Unhandled exception";
    }
}

}  // namespace xb::os
