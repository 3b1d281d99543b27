#include "tools/xbc/payload.h"

#include <cstring>

#include "platform/platform.h"
#include "tools/asm/disassembler.h"

namespace xb::xbc {

namespace {

void putU32(std::string* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(char(uint8_t(v >> (8 * i))));
}

uint32_t getU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

PayloadStatus damaged(std::string* why, const std::string& text) {
    *why = text;
    return PayloadStatus::Damaged;
}

// The trailer's fields, checked against each other and the file's size.
PayloadStatus parseTrailer(const uint8_t* t, uint64_t fileSize, PayloadTrailer* out, std::string* why) {
    std::memcpy(out->magic, t, 8);
    if (std::memcmp(out->magic, PAYLOAD_MAGIC, 8) != 0) return PayloadStatus::Absent;
    out->version = getU32(t + 8);
    out->flags = getU32(t + 12);
    out->moduleCount = getU32(t + 16);
    out->bodyLength = getU32(t + 20);
    out->crc = getU32(t + 24);
    out->reserved = getU32(t + 28);
    if (out->version != PAYLOAD_VERSION)
        return damaged(why, "program format " + std::to_string(out->version) + ", this runner reads format " +
                                std::to_string(PAYLOAD_VERSION));
    if (out->flags & ~PF_GUI) return damaged(why, "unknown flags in the program trailer");
    if (out->reserved != 0) return damaged(why, "the program trailer's last field is not zero");
    if (out->moduleCount == 0 || out->moduleCount > PAYLOAD_MAX_MODULES)
        return damaged(why, "module count " + std::to_string(out->moduleCount) + " out of range");
    if (out->bodyLength > PAYLOAD_MAX_BODY || uint64_t(out->bodyLength) + PAYLOAD_TRAILER_SIZE > fileSize)
        return damaged(why, "the program's length runs past the start of the file");
    if (uint64_t(out->bodyLength) < uint64_t(out->moduleCount) * 4)
        return damaged(why, "the program is too short for its module count");
    return PayloadStatus::Found;
}

PayloadStatus parseBody(const uint8_t* body, const PayloadTrailer& t, ProgramPayload* out, std::string* why) {
    if (payloadCrc(body, t.bodyLength) != t.crc) return damaged(why, "the program's checksum does not match");
    ProgramPayload p;
    p.flags = t.flags;
    size_t at = 0;
    for (uint32_t i = 0; i < t.moduleCount; ++i) {
        if (t.bodyLength - at < 4) return damaged(why, "module " + std::to_string(i + 1) + " is cut short");
        uint32_t n = getU32(body + at);
        at += 4;
        if (n > t.bodyLength - at) return damaged(why, "module " + std::to_string(i + 1) + " runs past the end");
        p.modules.emplace_back(reinterpret_cast<const char*>(body + at), n);
        at += n;
    }
    if (at != t.bodyLength) return damaged(why, "bytes left over after the last module");
    *out = std::move(p);
    return PayloadStatus::Found;
}

bool sameModule(const pcasm::AsmModule& a, const pcasm::AsmModule& b) {
    if (a.count != b.count || a.codeLength != b.codeLength || a.procCount != b.procCount ||
        a.xrefCount != b.xrefCount || std::strcmp(a.name, b.name) != 0)
        return false;
    for (uint32_t n = 1; n < a.count; ++n)
        if (std::strncmp(a.pristine[n].name, b.pristine[n].name, sizeof a.pristine[n].name) != 0 ||
            a.pristine[n].scope != b.pristine[n].scope)
            return false;
    if (a.codeLength && std::memcmp(a.code, b.code, a.codeLength) != 0) return false;
    for (uint32_t i = 0; i < a.procCount; ++i)
        if (a.procs[i].symbol != b.procs[i].symbol || a.procs[i].offset != b.procs[i].offset ||
            a.procs[i].length != b.procs[i].length)
            return false;
    for (uint32_t i = 0; i < a.xrefCount; ++i)
        if (a.xrefs[i].offset != b.xrefs[i].offset || std::strcmp(a.xrefs[i].name, b.xrefs[i].name) != 0)
            return false;
    return true;
}

std::string moduleLabel(const pcasm::AsmModule& m, size_t index) {
    return m.name[0] ? std::string("module ") + m.name : "module " + std::to_string(index + 1);
}

}  // namespace

uint32_t payloadCrc(const uint8_t* data, size_t n) {
    static uint32_t table[256];
    if (!table[1]) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

bool encodePayload(const std::vector<pcasm::AsmModule>& modules, uint32_t flags, std::string* out,
                   std::string* why) {
    if (modules.empty() || modules.size() > PAYLOAD_MAX_MODULES) {
        *why = "a program has 1 to 65535 modules";
        return false;
    }
    std::string body;
    for (size_t i = 0; i < modules.size(); ++i) {
        std::string text = pcasm::disassembleModule(modules[i]);
        // What the runner will assemble must be what was compiled.
        pcasm::AsmModule back{};
        pcasm::AsmError e{};
        bool same = pcasm::assemble(text.data(), text.size(), &back, &e) && sameModule(modules[i], back);
        pcasm::freeModule(&back);
        if (!same) {
            *why = moduleLabel(modules[i], i) + " does not come back the same from its text form" +
                   (e.message[0] ? std::string(" (") + e.message + ")" : std::string());
            return false;
        }
        putU32(&body, uint32_t(text.size()));
        body += text;
    }
    if (body.size() > PAYLOAD_MAX_BODY) {
        *why = "the program is larger than 256 MB";
        return false;
    }
    *out = body;
    out->append(PAYLOAD_MAGIC, sizeof PAYLOAD_MAGIC);
    putU32(out, PAYLOAD_VERSION);
    putU32(out, flags);
    putU32(out, uint32_t(modules.size()));
    putU32(out, uint32_t(body.size()));
    putU32(out, payloadCrc(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    putU32(out, 0);
    return true;
}

PayloadStatus decodePayload(const uint8_t* file, size_t size, ProgramPayload* out, std::string* why) {
    if (size < PAYLOAD_TRAILER_SIZE) return PayloadStatus::Absent;
    PayloadTrailer t{};
    PayloadStatus s = parseTrailer(file + size - PAYLOAD_TRAILER_SIZE, size, &t, why);
    if (s != PayloadStatus::Found) return s;
    return parseBody(file + size - PAYLOAD_TRAILER_SIZE - t.bodyLength, t, out, why);
}

PayloadStatus readPayloadFile(const char* path, ProgramPayload* out, std::string* why) {
    os::Handle h = os::createFile(path, os::ACCESS_READ, os::SHARE_READ | os::SHARE_WRITE, os::OPEN_EXISTING, 0x80);
    if (h == os::INVALID) return damaged(why, "cannot open " + std::string(path) + " (error " +
                                                  std::to_string(os::lastError()) + ")");
    auto readAt = [h](uint32_t offset, uint8_t* buf, uint32_t n) {
        if (os::setFilePointer(h, int32_t(offset), os::FROM_BEGIN) != offset) return false;
        uint32_t got = 0;
        while (n > 0) {
            if (!os::readFile(h, buf, n, &got) || got == 0) return false;
            buf += got;
            n -= got;
        }
        return true;
    };
    PayloadStatus result = PayloadStatus::Absent;
    uint32_t size = os::setFilePointer(h, 0, os::FROM_END);
    uint8_t trailer[PAYLOAD_TRAILER_SIZE];
    PayloadTrailer t{};
    if (size != 0xFFFFFFFFu && size >= PAYLOAD_TRAILER_SIZE &&
        readAt(size - PAYLOAD_TRAILER_SIZE, trailer, PAYLOAD_TRAILER_SIZE)) {
        result = parseTrailer(trailer, size, &t, why);
        if (result == PayloadStatus::Found) {
            std::vector<uint8_t> body(t.bodyLength ? t.bodyLength : 1);
            if (!readAt(size - PAYLOAD_TRAILER_SIZE - t.bodyLength, body.data(), t.bodyLength))
                result = damaged(why, "cannot read the program from " + std::string(path));
            else
                result = parseBody(body.data(), t, out, why);
        }
    }
    os::closeHandle(h);
    return result;
}

bool assemblePayload(const ProgramPayload& payload, std::vector<pcasm::AsmModule>* modules, std::string* why) {
    modules->clear();
    for (size_t i = 0; i < payload.modules.size(); ++i) {
        pcasm::AsmModule m{};
        pcasm::AsmError e{};
        if (!pcasm::assemble(payload.modules[i].data(), payload.modules[i].size(), &m, &e)) {
            *why = "module " + std::to_string(i + 1) + ": " + e.message;
            for (pcasm::AsmModule& done : *modules) pcasm::freeModule(&done);
            modules->clear();
            return false;
        }
        modules->push_back(m);
    }
    return true;
}

}  // namespace xb::xbc
