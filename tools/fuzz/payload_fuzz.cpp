// libFuzzer target for the program an executable carries (tools/xbc/payload.h),
// the input a runner reads from its own file. The first byte chooses how the
// rest is taken:
//   'T'   as the text of one module, put into a sound container (right
//         lengths and checksum), so that the assembler and the verifier
//         behind the container get fuzzed through it;
//   else  as a whole file: runner bytes, body and trailer.
// Either way the program is decoded and every module assembled, then freed;
// nothing runs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/xbc/payload.h"

namespace {

void putU32(std::string* s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s->push_back(char(uint8_t(v >> (8 * i))));
}

std::string container(const uint8_t* text, size_t n) {
    std::string body;
    putU32(&body, uint32_t(n));
    body.append(reinterpret_cast<const char*>(text), n);
    std::string file = "runner" + body;
    file.append(xb::xbc::PAYLOAD_MAGIC, sizeof xb::xbc::PAYLOAD_MAGIC);
    putU32(&file, xb::xbc::PAYLOAD_VERSION);
    putU32(&file, 0);
    putU32(&file, 1);
    putU32(&file, uint32_t(body.size()));
    putU32(&file, xb::xbc::payloadCrc(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    putU32(&file, 0);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = size > 0 && data[0] == 'T' ? container(data + 1, size - 1)
                                                  : std::string(reinterpret_cast<const char*>(data), size);
    xb::xbc::ProgramPayload payload;
    std::string why;
    if (xb::xbc::decodePayload(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &payload, &why) !=
        xb::xbc::PayloadStatus::Found)
        return 0;
    std::vector<xb::pcasm::AsmModule> modules;
    if (xb::xbc::assemblePayload(payload, &modules, &why))
        for (xb::pcasm::AsmModule& m : modules) xb::pcasm::freeModule(&m);
    return 0;
}
