// The compiled modules of the image: their tables and pcode against an
// independent transcription of every procedure (stated jump distances,
// extended opcodes by name), and the checked-in byte arrays against their
// assembler sources.
#include "vm/symbols.h"
#include "modules/app_main.h"
#include "modules/modules.h"
#include "tests/support/asm_fixture.h"
#include "tools/asm/disassembler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace xb;
using namespace xb::modules;

namespace {

struct ListedProc {
    const char* name;
    const char* pcode;  // "OP a b; OP ...", blocks as "PUSHBLOCK n [OP; ...]"
};
struct ListedModule {
    const char* symbols;  // assembler symbol lines
    std::vector<ListedProc> procs;
};

// Every module, procedure by procedure: MAIN opens "Com1:" in mode 2 (read
// and write).
const std::vector<ListedModule>& listing() {
    static const std::vector<ListedModule> modules = {
        {"symbol MAIN proc\nsymbol FOPEN\nsymbol FDCB\nsymbol FWRITE\nsymbol FCOMMIT\nsymbol FCLOSE\n",
         {{"MAIN",
           "LINE 0; FRAME 0 2; LINE 11; PUSHSYMNIL 2; PUSHSTR \"Com1:\"; PUSHWORD 2; FUNC 2; POPLOCAL 1; LINE 13; "
           "PUSHLOCAL 1; PUSHINT -1; NOTEQUAL; JUMPFALSE 131; LINE 18; PUSHSYMNIL 3; PUSHLOCAL 1; "
           "PUSHDOUBLE 10 0 115200; PUSHWORD 8; ZERO; ZERO; FUNC 5; POPLOCAL 2; LINE 21; PUSHSYMNIL 4; "
           "PUSHLOCAL 1; PUSHSTR \"Texto de prueba\"; PUSHSTR \"\\r\"; PLUS; PUSHSTR \"\\n\"; PLUS; DO 2; LINE 24; "
           "PUSHSYMNIL 5; PUSHLOCAL 1; DO 1; LINE 27; PUSHSYMNIL 3; PUSHLOCAL 1; PUSHLOCAL 2; ARRAYGETC 1; "
           "PUSHLOCAL 2; ARRAYGETC 2; PUSHLOCAL 2; ARRAYGETC 3; PUSHLOCAL 2; ARRAYGETC 4; DO 5; LINE 30; "
           "PUSHSYMNIL 6; PUSHLOCAL 1; DO 1; LINE 33; PUSHNIL; POPRET; JUMP 0; ENDPROC"}}},
        {"symbol CLIPINIT$ init proc\nsymbol GETLIST\nsymbol ERRORSYS\nsymbol SYSINIT proc\n",
         {{"CLIPINIT$",
           "LINE 0; LINE 5; ARRAYGEN 0; PUSHSYM 2; PUBLIC 1; POPMEMVAR 2; LINE 6; PUSHSYMNIL 3; DO 0; LINE 8; "
           "JUMP 0; ENDPROC"},
          {"SYSINIT", "LINE 0; LINE 12; JUMP 0; ENDPROC"}}},
        {"symbol ERRORSYS proc\nsymbol ERRORBLOCK\nsymbol DEFERROR static proc\nsymbol GENCODE\nsymbol OSCODE\n"
         "symbol CANDEFAULT\nsymbol NETERR\nsymbol ERRORMESSAGE static proc\nsymbol PROCNAME\nsymbol PROCLINE\n"
         "symbol OUTERR\nsymbol ERRORLEVEL\nsymbol __QUIT\nsymbol SEVERITY\nsymbol SUBSYSTEM\nsymbol SUBCODE\n"
         "symbol DESCRIPTION\nsymbol FILENAME\nsymbol OPERATION\n",
         {{"ERRORSYS",
           "LINE 0; LINE 8; PUSHSYMNIL 2; PUSHBLOCK 16 [FRAME 1 0; LINE 8; PUSHSYMNIL 3; PUSHLOCAL 1; FUNC 1; "
           "ENDBLOCK]; DO 1; LINE 10; JUMP 0; ENDPROC"},
          {"DEFERROR",
           "LINE 0; FRAME 1 3; LINE 19; PUSHSYM 4; PUSHLOCAL 1; SEND 0; PUSHWORD 5; JUMPNOTEQUAL 8; LINE 20; "
           "ZERO; POPRET; JUMP 368; LINE 23; PUSHSYM 4; PUSHLOCAL 1; SEND 0; PUSHWORD 21; EXACTEQUAL; "
           "JUMPFALSEKEEP 13; PUSHSYM 5; PUSHLOCAL 1; SEND 0; PUSHWORD 32; EXACTEQUAL; JUMPFALSEKEEP 9; "
           "PUSHSYM 6; PUSHLOCAL 1; SEND 0; JUMPFALSE 18; LINE 24; PUSHSYMNIL 7; TRUE; DO 1; LINE 25; FALSE; "
           "POPRET; JUMP 303; LINE 28; PUSHSYM 4; PUSHLOCAL 1; SEND 0; PUSHWORD 40; EXACTEQUAL; "
           "JUMPFALSEKEEP 9; PUSHSYM 6; PUSHLOCAL 1; SEND 0; JUMPFALSE 18; LINE 29; PUSHSYMNIL 7; TRUE; DO 1; "
           "LINE 30; FALSE; POPRET; JUMP 254; LINE 33; PUSHSYMNIL 8; PUSHLOCAL 1; FUNC 1; POPLOCAL 2; LINE 44; "
           "ZERO; POPLOCAL 3; LINE 68; PUSHSYM 5; PUSHLOCAL 1; SEND 0; EMPTY; NOT; JUMPFALSE 43; LINE 69; "
           "PUSHLOCAL 2; PUSHSTR \" (DOS Error \"; PUSHSYM 5; PUSHLOCAL 1; SEND 0; STR1; LTRIM; PLUS; "
           "PUSHSTR \") \"; PLUS; PLUS; POPLOCAL 2; LINE 73; PUSHLOCAL 2; PUSHSTR \"\\r\"; PUSHSTR \"\\n\"; PLUS; "
           "PLUS; POPLOCAL 2; LINE 75; PUSHWORD 2; POPLOCAL 4; LINE 77; IDLE; PUSHSYMNIL 9; PUSHLOCAL 4; "
           "FUNC 1; EMPTY; NOT; JUMPFALSE 87; LINE 79; PUSHLOCAL 2; PUSHSTR \"\\r\"; PUSHSTR \"\\n\"; PLUS; "
           "PUSHSTR \"- Llamado desde \"; PLUS; PUSHSYMNIL 9; PUSHLOCAL 4; FUNC 1; TRIM; PLUS; PUSHSTR \"(\"; "
           "PLUS; PUSHSYMNIL 10; PUSHLOCAL 4; FUNC 1; STR1; LTRIM; PLUS; PUSHSTR \")  \"; PLUS; PLUS; "
           "POPLOCAL 2; LINE 80; PUSHLOCAL 4; INC; POPLOCAL 4; JUMP -102; LINE 83; PUSHSYMNIL 11; PUSHLOCAL 2; "
           "DO 1; LINE 84; PUSHSYMNIL 12; ONE; DO 1; LINE 85; PUSHSYMNIL 13; DO 0; LINE 87; FALSE; POPRET; "
           "JUMP 0; ENDPROC"},
          {"ERRORMESSAGE",
           "LINE 0; FRAME 1 1; LINE 96; PUSHSYM 14; PUSHLOCAL 1; SEND 0; ONE; GREATER; JUMPFALSE 12; "
           "PUSHSTR \"Error \"; JUMP 11; PUSHSTR \"Warning \"; POPLOCAL 2; LINE 98; PUSHSYM 15; PUSHLOCAL 1; "
           "SEND 0; VALTYPE; PUSHSTR \"C\"; EXACTEQUAL; JUMPFALSE 22; LINE 99; PUSHLOCAL 2; PUSHSYM 15; "
           "PUSHLOCAL 1; SEND 0; PLUS; POPLOCAL 2; JUMP 16; LINE 101; PUSHLOCAL 2; PUSHSTR \"???\"; PLUS; "
           "POPLOCAL 2; LINE 104; PUSHSYM 16; PUSHLOCAL 1; SEND 0; VALTYPE; PUSHSTR \"N\"; EXACTEQUAL; "
           "JUMPFALSE 29; LINE 105; PUSHLOCAL 2; PUSHSTR \"/\"; PUSHSYM 16; PUSHLOCAL 1; SEND 0; STR1; LTRIM; "
           "PLUS; PLUS; POPLOCAL 2; JUMP 17; LINE 107; PUSHLOCAL 2; PUSHSTR \"/???\"; PLUS; POPLOCAL 2; "
           "LINE 110; PUSHSYM 17; PUSHLOCAL 1; SEND 0; VALTYPE; PUSHSTR \"C\"; EXACTEQUAL; JUMPFALSE 25; "
           "LINE 111; PUSHLOCAL 2; PUSHSTR \"  \"; PUSHSYM 17; PUSHLOCAL 1; SEND 0; PLUS; PLUS; POPLOCAL 2; "
           "LINE 114; PUSHSYM 18; PUSHLOCAL 1; SEND 0; EMPTY; NOT; JUMPFALSE 28; LINE 115; PUSHLOCAL 2; "
           "PUSHSTR \": \"; PUSHSYM 18; PUSHLOCAL 1; SEND 0; PLUS; PLUS; POPLOCAL 2; JUMP 39; PUSHSYM 19; "
           "PUSHLOCAL 1; SEND 0; EMPTY; NOT; JUMPFALSE 25; LINE 117; PUSHLOCAL 2; PUSHSTR \": \"; PUSHSYM 19; "
           "PUSHLOCAL 1; SEND 0; PLUS; PLUS; POPLOCAL 2; LINE 120; PUSHLOCAL 2; POPRET; JUMP 0; ENDPROC"}}},
        {"symbol RDDSYS proc\nsymbol RDDINIT$ init proc\nsymbol DBFNTX\nsymbol DBFONLY\nsymbol RDDSETDEFAULT\n",
         {{"RDDSYS", "LINE 0; LINE 6; JUMP 0; ENDPROC"},
          {"RDDINIT$", "LINE 0; LINE 16; PUSHSYMNIL 5; PUSHSTR \"DBFNTX\"; DO 1; LINE 18; JUMP 0; ENDPROC"}}},
        {"symbol DBFNTX proc\nsymbol DBFNTXINIT$ init proc\nsymbol _VDBFNTX\nsymbol DBFONLY\nsymbol RDDREGISTER\n",
         {{"DBFNTX", "LINE 0; LINE 8; JUMP 0; ENDPROC"},
          {"DBFNTXINIT$",
           "LINE 0; LINE 18; PUSHSYMNIL 5; PUSHSTR \"DBFNTX\"; ONE; DO 2; LINE 20; JUMP 0; ENDPROC"}}},
        {"symbol _NTXERR proc\nsymbol LOCKERRHANDLER static proc\nsymbol GENCODE\nsymbol EVAL\n"
         "symbol INITHANDLER$ init proc\nsymbol ERRORBLOCK\n",
         {{"_NTXERR", "LINE 0; LINE 8; JUMP 0; ENDPROC"},
          {"LOCKERRHANDLER",
           "LINE 0; FRAME 2 0; LINE 15; PUSHSYM 3; PUSHLOCAL 1; SEND 0; PUSHWORD 41; JUMPNOTEQUAL 8; LINE 16; "
           "TRUE; POPRET; JUMP 19; LINE 19; PUSHSYM 4; PUSHLOCAL 2; PUSHLOCAL 1; EVALSEND 1; POPRET; JUMP 0; "
           "ENDPROC"},
          {"INITHANDLER$",
           "LINE 0; FRAME 0 1; LINE 28; PUSHSYMNIL 6; PUSHBLOCK 19 [FRAME 1 0; LINE 28; PUSHSYMNIL 2; "
           "PUSHLOCAL 1; PUSHOUTER 1; FUNC 2; ENDBLOCK]; DETACHLOCALS; FUNC 1; POPLOCAL 1; LINE 30; JUMP 0; "
           "ENDPROC"}}},
        {"symbol DBFONLY proc\nsymbol DBFINIT$ init proc\nsymbol _VDBF\nsymbol RDDREGISTER\n",
         {{"DBFONLY", "LINE 0; LINE 8; JUMP 0; ENDPROC"},
          {"DBFINIT$", "LINE 0; LINE 17; PUSHSYMNIL 4; PUSHSTR \"DBF\"; ONE; DO 2; LINE 19; JUMP 0; ENDPROC"}}},
    };
    return modules;
}

// "OP a; PUSHBLOCK n [OP; ...]" -> assembler lines ("PUSHBLOCK n {" ... "}").
std::string listingToText(const char* pcode) {
    std::string out, item;
    bool quoted = false;
    auto flush = [&] {
        size_t b = item.find_first_not_of(' ');
        if (b != std::string::npos) out += item.substr(b) + "\n";
        item.clear();
    };
    for (const char* p = pcode; *p; ++p) {
        if (*p == '"' && (p == pcode || p[-1] != '\\')) quoted = !quoted;
        if (!quoted && *p == ';') {
            flush();
        } else if (!quoted && *p == '[') {
            item += "{";
            flush();
        } else if (!quoted && *p == ']') {
            flush();
            out += "}\n";
        } else {
            item += *p;
        }
    }
    flush();
    return out;
}

std::vector<const CompiledModule*> imageModules() {
    std::vector<const CompiledModule*> all = {&appMain};
    for (uint32_t i = 0; i < STANDARD_MODULE_COUNT; ++i) all.push_back(standardModules()[i]);
    return all;
}

std::vector<uint8_t> compiledBytes(const CompiledModule& m, const char* proc) {
    for (uint32_t i = 0; i < m.procCount; ++i)
        if (std::strcmp(m.procs[i].name, proc) == 0)
            return std::vector<uint8_t>(m.procs[i].code, m.procs[i].code + m.procs[i].length);
    ADD_FAILURE() << "no compiled procedure " << proc << " in " << m.name;
    return {};
}

std::vector<uint8_t> assembledBytes(const pcasm::AsmModule& m, const char* proc) {
    const pcasm::AsmProc* p = pcasm::findProc(m, proc);
    if (!p) return {};
    return std::vector<uint8_t>(m.code + p->offset, m.code + p->offset + p->length);
}

}  // namespace

TEST(CompiledModules, TablesAndPcodeFollowTheListing) {
    const auto all = imageModules();
    ASSERT_EQ(all.size(), listing().size());
    for (size_t i = 0; i < all.size(); ++i) {
        const CompiledModule& compiled = *all[i];
        const ListedModule& listed = listing()[i];
        std::string text = listed.symbols;
        for (const ListedProc& p : listed.procs) text += "proc " + std::string(p.name) + "\n" + listingToText(p.pcode) + "end\n";
        SCOPED_TRACE(compiled.name);
        pcasm::ScopedModule expected(text.c_str());
        ASSERT_EQ(compiled.count, expected.m.count);
        for (uint32_t n = 1; n < compiled.count; ++n) {
            EXPECT_STREQ(compiled.pristine[n].name, expected.m.pristine[n].name) << "entry " << n;
            EXPECT_EQ(compiled.pristine[n].scope, expected.m.pristine[n].scope) << compiled.pristine[n].name;
            // natives are bound by name at registration: no address in the image
            EXPECT_EQ(imageFunction(imageModule(compiled), &compiled.pristine[n]) != nullptr,
                      imageFunction(expected.image(), &expected.m.pristine[n]) != nullptr)
                << compiled.pristine[n].name;
        }
        ASSERT_EQ(compiled.procCount, listed.procs.size());
        for (const ListedProc& p : listed.procs) {
            EXPECT_EQ(compiledBytes(compiled, p.name), assembledBytes(expected.m, p.name)) << p.name;
        }
        // every procedure's Function points at its bytes and its module's table
        for (uint32_t k = 0; k < compiled.procCount; ++k) {
            const Function* f = nullptr;
            for (uint32_t n = 1; n < compiled.count; ++n)
                if (std::strcmp(compiled.pristine[n].name, compiled.procs[k].name) == 0)
                    f = imageFunction(imageModule(compiled), &compiled.pristine[n]);
            ASSERT_NE(f, nullptr) << compiled.procs[k].name;
            EXPECT_EQ(f->native, nullptr);
            EXPECT_EQ(f->pcode, compiled.procs[k].code);
            EXPECT_EQ(f->module, compiled.table);
        }
    }
}

TEST(CompiledModules, ImageOrderPutsTheApplicationFirst) {
    const auto all = imageModules();
    const char* firsts[] = {"MAIN", "CLIPINIT$", "ERRORSYS", "RDDSYS", "DBFNTX", "_NTXERR", "DBFONLY"};
    for (size_t i = 0; i < all.size(); ++i) EXPECT_STREQ(all[i]->pristine[1].name, firsts[i]);
    // entry 0 of every table is the zero entry
    const ModuleSymbol zero{};
    for (const CompiledModule* m : all) EXPECT_EQ(std::memcmp(&m->pristine[0], &zero, sizeof zero), 0) << m->name;
}

// The checked-in arrays are what the sources assemble to (regenerate them
// with tools/genmodules.sh after editing a source).
TEST(CompiledModules, ByteArraysMatchTheirSources) {
    const auto all = imageModules();
    const char* sources[] = {"app_main", "std_clipinit", "std_errorsys", "std_rddsys",
                             "std_dbfntx", "std_ntxerr", "std_dbfonly"};
    for (size_t i = 0; i < all.size(); ++i) {
        std::string path = std::string(XB_SOURCE_DIR) + "/modules/" + sources[i] + ".xbasm";
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        std::stringstream text;
        text << in.rdbuf();
        pcasm::ScopedModule source(text.str().c_str());
        SCOPED_TRACE(path);
        EXPECT_STREQ(source.m.name, all[i]->name);
        ASSERT_EQ(source.m.count, all[i]->count);
        for (uint32_t n = 1; n < source.m.count; ++n) {
            EXPECT_STREQ(source.m.pristine[n].name, all[i]->pristine[n].name);
            EXPECT_EQ(source.m.pristine[n].scope, all[i]->pristine[n].scope);
        }
        ASSERT_EQ(source.m.procCount, all[i]->procCount);
        for (uint32_t k = 0; k < source.m.procCount; ++k) {
            EXPECT_STREQ(source.m.procs[k].name, all[i]->procs[k].name);
            EXPECT_EQ(assembledBytes(source.m, source.m.procs[k].name), compiledBytes(*all[i], all[i]->procs[k].name))
                << source.m.procs[k].name;
        }
    }
}
