// The program an executable made by the compiler driver carries: a copy of
// the prebuilt runner (xbrunner) with the program's modules appended, which
// the runner finds in its own file when it starts.
//
// Layout, every number little-endian, at the very end of the file:
//
//   runner bytes (left as they are)
//   body     for each module: u32 length, then the module's assembler text
//            (disassembleModule: the table, the procedures, X operands by
//            name), `length` bytes
//   trailer  32 bytes: magic "XBPROGRM", u32 version (PAYLOAD_VERSION),
//            u32 flags (PF_GUI), u32 module count, u32 body length,
//            u32 CRC-32 of the body, u32 zero
//
// The text form is what the assembler takes back, so a loaded module passes
// the same checks as any assembler file: every operand range-checked, every
// procedure through the pcode verifier. The file is untrusted input: a
// trailer or body that does not add up is refused with a reason, never
// followed out of bounds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/asm/assembler.h"

namespace xb::xbc {

constexpr char PAYLOAD_MAGIC[8] = {'X', 'B', 'P', 'R', 'O', 'G', 'R', 'M'};
constexpr uint32_t PAYLOAD_VERSION = 1;
constexpr uint32_t PAYLOAD_TRAILER_SIZE = 32;
constexpr uint32_t PAYLOAD_MAX_BODY = 256u << 20;
constexpr uint32_t PAYLOAD_MAX_MODULES = 65535;

// Flags of the trailer.
constexpr uint32_t PF_GUI = 1;  // the windowed form: console output and errors in message boxes

struct PayloadTrailer {
    char magic[8];
    uint32_t version;
    uint32_t flags;
    uint32_t moduleCount;
    uint32_t bodyLength;
    uint32_t crc;
    uint32_t reserved;
};
static_assert(sizeof(PayloadTrailer) == PAYLOAD_TRAILER_SIZE, "the trailer is 32 bytes with no padding");

struct ProgramPayload {
    uint32_t flags = 0;
    std::vector<std::string> modules;  // assembler text, one per module
};

enum class PayloadStatus {
    Found,    // a valid payload
    Absent,   // the file ends without the magic: a runner with no program
    Damaged,  // the magic is there but something does not add up (*why says what)
};

// Body and trailer for the modules. False with *why set when a module does
// not come back from its text form as the same table and bytes.
bool encodePayload(const std::vector<pcasm::AsmModule>& modules, uint32_t flags, std::string* out,
                   std::string* why);

// Finds the payload at the end of the file's bytes (the whole file, or at
// least its last bytes up to the start of the body).
PayloadStatus decodePayload(const uint8_t* file, size_t size, ProgramPayload* out, std::string* why);

// The same, reading only the trailer and the body of the file at path.
PayloadStatus readPayloadFile(const char* path, ProgramPayload* out, std::string* why);

// Assembles every module text. True with *modules filled (the caller frees
// them with pcasm::freeModule); false with *why naming the module and line.
bool assemblePayload(const ProgramPayload& payload, std::vector<pcasm::AsmModule>* modules, std::string* why);

// CRC-32 (the reflected 0xEDB88320 polynomial) of n bytes.
uint32_t payloadCrc(const uint8_t* data, size_t n);

}  // namespace xb::xbc
