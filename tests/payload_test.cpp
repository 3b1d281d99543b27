// The program an executable carries (tools/xbc/payload.h): encoded after
// the runner's bytes and found again, and, being untrusted input, every kind
// of damage refused with a reason: cut files, changed trailer fields, changed
// bytes with and without a matching checksum, module texts that do not
// assemble or verify.
#include "tests/support/asm_fixture.h"
#include "tools/xbc/payload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/asm/disassembler.h"

using namespace xb;
using namespace xb::xbc;

namespace {

const char* const kMain = R"(
module HELLO
symbol MAIN proc
symbol QOUT
symbol HELPER static proc
symbol NAMED
proc MAIN
    FRAME 0 1
    LINE 3
    PUSHSYMNIL QOUT
    PUSHSTR "hola\r\n\x01"
    PUSHDOUBLE 10 2 -3.5
    DO 2
    PUSHBLOCK {
        FRAME 1 0
        PUSHLOCAL 1
        ENDBLOCK
    }
    POPLOCAL 1
    PUSHSYMNILX NAMED
    DO 0
    PUSHSYMNIL HELPER
    DO 0
    ENDPROC
end
proc HELPER
    PUSHINT -7
    POPRET
    ENDPROC
end
)";

const char* const kOther = R"(
symbol OTHER proc
proc OTHER
    ENDPROC
end
)";

const std::string kRunner = std::string("\x7F" "ELF runner bytes\0\0 XBPROGR", 28);

std::string withPayload(const std::vector<const char*>& texts, uint32_t flags = 0) {
    std::vector<pcasm::AsmModule> modules;
    for (const char* t : texts) modules.push_back(pcasm::assembleOrDie(t));
    std::string payload, why;
    EXPECT_TRUE(encodePayload(modules, flags, &payload, &why)) << why;
    for (pcasm::AsmModule& m : modules) pcasm::freeModule(&m);
    return kRunner + payload;
}

PayloadStatus decode(const std::string& file, ProgramPayload* p, std::string* why) {
    return decodePayload(reinterpret_cast<const uint8_t*>(file.data()), file.size(), p, why);
}

void putU32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = char(uint8_t(v >> (8 * i)));
}
uint32_t getU32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + i]);
    return v;
}

// Field offsets from the end of the file.
constexpr size_t T = PAYLOAD_TRAILER_SIZE;
size_t field(const std::string& f, size_t offsetInTrailer) { return f.size() - T + offsetInTrailer; }

// Recomputes the body's checksum after a deliberate change.
void fixCrc(std::string& f) {
    uint32_t length = getU32(f, field(f, 20));
    const uint8_t* body = reinterpret_cast<const uint8_t*>(f.data()) + f.size() - T - length;
    putU32(f, field(f, 24), payloadCrc(body, length));
}

TEST(Payload, ChecksumIsTheUsualCrc32) {
    EXPECT_EQ(payloadCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(payloadCrc(nullptr, 0), 0u);
}

TEST(Payload, ModulesComeBackWithTheirTablesAndBytes) {
    std::string file = withPayload({kMain, kOther}, PF_GUI);
    ProgramPayload p;
    std::string why;
    ASSERT_EQ(decode(file, &p, &why), PayloadStatus::Found) << why;
    EXPECT_EQ(p.flags, PF_GUI);
    ASSERT_EQ(p.modules.size(), 2u);
    std::vector<pcasm::AsmModule> back;
    ASSERT_TRUE(assemblePayload(p, &back, &why)) << why;
    pcasm::ScopedModule a(kMain), b(kOther);
    const pcasm::AsmModule* originals[] = {&a.m, &b.m};
    for (size_t i = 0; i < 2; ++i) {
        const pcasm::AsmModule& o = *originals[i];
        EXPECT_STREQ(back[i].name, o.name);
        ASSERT_EQ(back[i].count, o.count);
        for (uint32_t n = 1; n < o.count; ++n) {
            EXPECT_STREQ(back[i].pristine[n].name, o.pristine[n].name);
            EXPECT_EQ(back[i].pristine[n].scope, o.pristine[n].scope);
        }
        ASSERT_EQ(back[i].codeLength, o.codeLength);
        EXPECT_EQ(std::memcmp(back[i].code, o.code, o.codeLength), 0);
        ASSERT_EQ(back[i].xrefCount, o.xrefCount);
        for (uint32_t x = 0; x < o.xrefCount; ++x) EXPECT_STREQ(back[i].xrefs[x].name, o.xrefs[x].name);
        EXPECT_EQ(p.modules[i], pcasm::disassembleModule(o));
        pcasm::freeModule(&back[i]);
    }
    EXPECT_EQ(a.m.xrefCount, 1u);  // the X operand travelled by name
}

TEST(Payload, AFileWithoutTheMagicCarriesNoProgram) {
    ProgramPayload p;
    std::string why;
    EXPECT_EQ(decode("", &p, &why), PayloadStatus::Absent);
    EXPECT_EQ(decode(kRunner, &p, &why), PayloadStatus::Absent);
    EXPECT_EQ(decode(std::string(31, 'X'), &p, &why), PayloadStatus::Absent);
    std::string file = withPayload({kOther});
    file[file.size() - T] = 'x';  // first magic byte
    EXPECT_EQ(decode(file, &p, &why), PayloadStatus::Absent);
}

TEST(Payload, CutFilesAreNeverReadOutOfBounds) {
    const std::string file = withPayload({kMain, kOther});
    const size_t bodyStart = file.size() - T - getU32(file, field(file, 20));
    ASSERT_EQ(bodyStart, kRunner.size());
    ProgramPayload p;
    std::string why;
    // Cut from the end: the trailer is gone or read from the wrong place.
    for (size_t n = 0; n < file.size(); ++n) {
        std::string cut = file.substr(0, n);
        PayloadStatus s = decode(cut, &p, &why);
        EXPECT_NE(s, PayloadStatus::Found) << n;
    }
    // Cut from the front: fine while the body is whole, refused after.
    for (size_t n = 0; n <= file.size(); ++n) {
        std::string cut = file.substr(n);
        PayloadStatus s = decode(cut, &p, &why);
        if (n <= bodyStart) EXPECT_EQ(s, PayloadStatus::Found) << n << ": " << why;
        else if (n <= file.size() - T) EXPECT_EQ(s, PayloadStatus::Damaged) << n;
        else EXPECT_EQ(s, PayloadStatus::Absent) << n;
    }
}

TEST(Payload, TrailerFieldsThatDoNotAddUpAreRefused) {
    const std::string good = withPayload({kMain, kOther});
    const uint32_t length = getU32(good, field(good, 20));
    struct Case {
        size_t offset;
        uint32_t value;
        bool fixChecksum;
        const char* reason;
    };
    const Case cases[] = {
        {8, 2, false, "format 2"},
        {8, 0, false, "format 0"},
        {12, 2, false, "unknown flags"},
        {28, 1, false, "not zero"},
        {16, 0, false, "module count 0"},
        {16, PAYLOAD_MAX_MODULES + 1, false, "out of range"},
        {16, 3, false, "module 3 is cut short"},
        {16, 1, false, "left over"},
        {20, length + 1, false, "checksum"},
        {20, uint32_t(good.size()), false, "past the start"},
        {20, 0xFFFFFFFFu, false, "past the start"},
        {20, 4, false, "too short"},
        {24, 0, false, "checksum"},
    };
    for (const Case& c : cases) {
        std::string f = good;
        putU32(f, field(f, c.offset), c.value);
        if (c.fixChecksum) fixCrc(f);
        ProgramPayload p;
        std::string why;
        EXPECT_EQ(decode(f, &p, &why), PayloadStatus::Damaged) << c.reason;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    // A module length running past the body, checksum made to match.
    std::string f = good;
    putU32(f, kRunner.size(), length);
    fixCrc(f);
    ProgramPayload p;
    std::string why;
    EXPECT_EQ(decode(f, &p, &why), PayloadStatus::Damaged);
    EXPECT_NE(why.find("module 1 runs past the end"), std::string::npos) << why;
}

TEST(Payload, EveryChangedByteOfTheBodyFailsTheChecksum) {
    const std::string good = withPayload({kOther});
    const uint32_t length = getU32(good, field(good, 20));
    for (size_t at = kRunner.size(); at < kRunner.size() + length; ++at) {
        std::string f = good;
        f[at] = char(f[at] ^ 0x20);
        ProgramPayload p;
        std::string why;
        ASSERT_EQ(decode(f, &p, &why), PayloadStatus::Damaged) << at;
        EXPECT_NE(why.find("checksum"), std::string::npos);
    }
}

// Changes with a matching checksum get past the container: the module text
// is then the assembler's input, refused with a module and line or, when it
// still assembles, verified code. Never a crash (the sanitizer builds watch).
TEST(Payload, ForgedBodiesGoThroughTheAssemblersChecks) {
    const std::string good = withPayload({kMain, kOther});
    const uint32_t length = getU32(good, field(good, 20));
    std::mt19937 random(1234);
    int refusedByContainer = 0, refusedByAssembler = 0, accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string f = good;
        int changes = 1 + int(random() % 3);
        for (int k = 0; k < changes; ++k) {
            size_t at = kRunner.size() + random() % length;
            f[at] = char(random() % 256);
        }
        fixCrc(f);
        ProgramPayload p;
        std::string why;
        if (decode(f, &p, &why) != PayloadStatus::Found) {
            ++refusedByContainer;
            EXPECT_FALSE(why.empty());
            continue;
        }
        std::vector<pcasm::AsmModule> modules;
        if (!assemblePayload(p, &modules, &why)) {
            ++refusedByAssembler;
            EXPECT_EQ(why.rfind("module ", 0), 0u) << why;
            EXPECT_TRUE(modules.empty());
            continue;
        }
        ++accepted;
        for (pcasm::AsmModule& m : modules) pcasm::freeModule(&m);
    }
    // Each way out was taken (a change in a comment or a string still assembles).
    EXPECT_GT(refusedByContainer, 0);
    EXPECT_GT(refusedByAssembler, 0);
    EXPECT_GT(accepted, 0);
}

TEST(Payload, ModuleTextsThatFailTheVerifierAreRefused) {
    // A body written by hand: the container is sound, the code is not.
    const std::string text = "symbol MAIN proc\nproc MAIN\n    POP\n    ENDPROC\nend\n";
    std::string body;
    body.resize(4);
    putU32(body, 0, uint32_t(text.size()));
    body += text;
    std::string trailer(T, '\0');
    std::memcpy(&trailer[0], PAYLOAD_MAGIC, 8);
    putU32(trailer, 8, PAYLOAD_VERSION);
    putU32(trailer, 16, 1);
    putU32(trailer, 20, uint32_t(body.size()));
    putU32(trailer, 24, payloadCrc(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    ProgramPayload p;
    std::string why;
    ASSERT_EQ(decode(kRunner + body + trailer, &p, &why), PayloadStatus::Found) << why;
    std::vector<pcasm::AsmModule> modules;
    EXPECT_FALSE(assemblePayload(p, &modules, &why));
    EXPECT_EQ(why.rfind("module 1: line 3:", 0), 0u) << why;
}

TEST(Payload, NothingToCarryIsAnError) {
    std::string out, why;
    EXPECT_FALSE(encodePayload({}, 0, &out, &why));
    EXPECT_FALSE(why.empty());
}

TEST(Payload, ReadsOnlyTheEndOfAFileOnDisk) {
    const std::string file = withPayload({kMain});
    std::string path = ::testing::TempDir() + "xbpayload_test.bin";
    os::Handle h = os::createFile(path.c_str(), os::ACCESS_WRITE, 0, os::CREATE_ALWAYS, 0x80);
    ASSERT_NE(h, os::INVALID);
    uint32_t done = 0;
    ASSERT_TRUE(os::writeFile(h, file.data(), uint32_t(file.size()), &done));
    os::closeHandle(h);
    ProgramPayload p;
    std::string why;
    EXPECT_EQ(readPayloadFile(path.c_str(), &p, &why), PayloadStatus::Found) << why;
    EXPECT_EQ(p.modules.size(), 1u);
    os::deleteFile(path.c_str());
    EXPECT_EQ(readPayloadFile(path.c_str(), &p, &why), PayloadStatus::Damaged);
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
}

}  // namespace
