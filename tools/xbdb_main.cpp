// xbdb: a command-line tool for the files the database drivers keep.
//
//   xbdb info FILE                 a table's version, date, counts, lengths
//                                  and fields; for an index (.ntx) its header
//   xbdb dump TABLE [--csv] [--utf8]
//                                  the records, memo texts included, with the
//                                  deleted mark; bytes as stored (Windows-1252)
//                                  or converted to UTF-8
//   xbdb check INDEX TABLE         the index's structure and every record's
//                                  entry; exit 1 naming the first violation
//   xbdb reindex INDEX TABLE       rebuilds the index from the table
//
// It runs the runtime and its drivers (DBFNTX over DBF), not a parser of its
// own: a tiny assembled module calls XBDB_RUN, which does the work with the
// database layer started. Exit codes: 0 success, 1 a violation or an error
// raised by a driver, 2 bad usage.
#include <cstring>
#include <string>

#include "vm/function.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/modules.h"
#include "platform/platform.h"
#include "rdd/areas.h"
#include "rdd/dbf/dbf_driver.h"
#include "rdd/ntx/ntx_driver.h"
#include "rdd/ntx/ntx_tree.h"
#include "rdd/workarea.h"
#include "runtime/files.h"
#include "runtime/output.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace {

using namespace xb;

int gArgc;
char** gArgv;
pcasm::AsmModule program;
ImageModule image[1 + modules::STANDARD_MODULE_COUNT];

const char kProgram[] = R"(symbol XBDBMAIN proc
symbol XBDB_RUN
proc XBDBMAIN
    PUSHSYMNIL XBDB_RUN
    DO 0
    ENDPROC
end
)";

void out(const std::string& text) {
    uint32_t done = 0;
    os::writeFile(os::stdOutput(), text.data(), uint32_t(text.size()), &done);
}
int usage() {
    std::string u =
        "usage: xbdb info FILE | dump TABLE [--csv] [--utf8] | check INDEX TABLE | reindex INDEX TABLE\n";
    uint32_t done = 0;
    os::writeFile(os::stdError(), u.data(), uint32_t(u.size()), &done);
    return 2;
}

Item callFunction(const char* name, std::initializer_list<Item> args) {
    GlobalSymbol* s = findSymbol(name);
    if (!s) return Item{};
    pushSymbol(s);
    pushNil();
    for (const Item& a : args) push(&a);
    callProc(uint16_t(args.size()));
    return *returnItem();
}
Item text(const char* s) {
    Item it{};
    makeString(&it, s, uint32_t(std::strlen(s)));
    return it;
}
Item logical(bool b) {
    Item it{};
    it.type = T_LOGICAL;
    it.v.l = b;
    return it;
}

// Opens table in a new area with DBFNTX; null when it could not be opened.
WorkArea* openTable(const char* table, bool readOnly) {
    Item* keep[2] = {tempAlloc(), tempAlloc()};
    *keep[0] = text(table);
    *keep[1] = text("DBFNTX");
    callFunction("DBUSEAREA", {logical(true), *keep[1], *keep[0], Item{}, logical(false), logical(readOnly)});
    tempRelease(keep[0]);
    tempRelease(keep[1]);
    return currentArea();
}

bool endsWithNtx(const char* name) {
    size_t n = std::strlen(name);
    if (n < 4) return false;
    std::string ext(name + n - 4);
    for (char& c : ext) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    return ext == ".NTX";
}

std::string field(const char* p, size_t room) { return std::string(p, strnlen(p, room)); }

int infoIndex(const char* name) {
    os::Handle h = fsOpen(name, 0x40);
    if (h == os::INVALID) {
        out(std::string("xbdb: cannot open ") + name + "\n");
        return 1;
    }
    NtxHeader hd;
    NtxStatus st = ntxReadHeader(h, &hd);
    uint32_t size = fsSeek(h, 0, os::FROM_END);
    fsClose(h);
    if (st) {
        out(std::string("xbdb: ") + name + ": " + ntxErrorText(st) + "\n");
        return 1;
    }
    char line[160];
    std::snprintf(line, sizeof line, "signature %u, change counter %u, root %u, free %u, file %u bytes (%u pages)\n",
                  hd.signature, hd.changeCounter, hd.root, hd.freeList, size, size / NTX_PAGE_SIZE);
    out(line);
    std::snprintf(line, sizeof line, "item size %u, key size %u, decimals %u, maximum %u, half %u\n", hd.itemSize,
                  hd.keySize, hd.keyDecimals, hd.maxKeys, hd.halfPage);
    out(line);
    out("key: " + field(hd.keyExpr, sizeof hd.keyExpr) + "\n");
    out("for: " + field(hd.forExpr, sizeof hd.forExpr) + "\n");
    out("tag: " + field(hd.tagName, NTX_TAG_LENGTH) + "\n");
    out(std::string("unique: ") + (hd.unique ? "yes" : "no") + ", descending: " + (hd.descending ? "yes" : "no") +
        "\n");
    return 0;
}

int infoTable(const char* name) {
    WorkArea* a = openTable(name, true);
    if (!a) return 1;
    const DbfTable* t = dbfTableOf(a);
    char line[160];
    std::snprintf(line, sizeof line, "version 0x%02X, last update %04u-%02u-%02u, %u records\n", t->header[0],
                  1900u + t->header[1], t->header[2], t->header[3], t->recordCount);
    out(line);
    std::snprintf(line, sizeof line, "header %u bytes, record %u bytes, %u fields%s\n", t->headerLength,
                  t->recordLength, t->fieldCount, t->hasMemo ? ", memo file" : "");
    out(line);
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
        std::snprintf(line, sizeof line, "%-10s %c %5u %3u\n", t->fields[i].name, t->fields[i].type,
                      t->fields[i].length, t->fields[i].decimals);
        out(line);
    }
    return 0;
}

std::string toUtf8(const std::string& s) {
    // Windows-1252 0x80-0x9F; the undefined ones stay as U+FFFD.
    static const uint16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string r;
    for (unsigned char c : s) {
        uint32_t u = c < 0x80 ? c : c < 0xA0 ? high[c - 0x80] : c;
        if (u < 0x80) {
            r += char(u);
        } else if (u < 0x800) {
            r += char(0xC0 | u >> 6);
            r += char(0x80 | (u & 0x3F));
        } else {
            r += char(0xE0 | u >> 12);
            r += char(0x80 | (u >> 6 & 0x3F));
            r += char(0x80 | (u & 0x3F));
        }
    }
    return r;
}

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

int dump(const char* name, bool csv, bool utf8) {
    WorkArea* a = openTable(name, true);
    if (!a) return 1;
    const DbfTable* t = dbfTableOf(a);
    auto cell = [&](std::string v) {
        if (utf8) v = toUtf8(v);
        if (!csv) return v;
        std::string q = "\"";
        for (char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    };
    std::string head = csv ? "\"DELETED\"" : "DEL";
    for (uint32_t i = 0; i < t->fieldCount; ++i) head += (csv ? "," : "|") + cell(t->fields[i].name);
    out(head + "\n");
    uint32_t count = t->recordCount;
    for (uint32_t n = 1; n <= count; ++n) {
        rdd::goTo(a, n);
        uint8_t* image = nullptr;
        if (rdd::getRecord(a, &image) || !image) return 1;
        std::string line = csv ? (image[0] == '*' ? "\"*\"" : "\"\"") : (image[0] == '*' ? "*" : " ");
        for (uint32_t i = 0; i < t->fieldCount; ++i) {
            std::string v;
            if (t->fields[i].type == 'M') {
                Item* m = tempAlloc();
                itemClear(m);
                rdd::getValue(a, uint16_t(i), m);  // fields count from 0 here
                if (isString(m)) v.assign(strData(m), strLength(m));
                tempRelease(m);
            } else {
                v = trimRight(std::string(reinterpret_cast<const char*>(image) + t->fieldOffsets[i], t->fields[i].length));
                size_t lead = v.find_first_not_of(' ');
                v = lead == std::string::npos ? "" : v.substr(lead);
            }
            line += (csv ? "," : "|") + cell(v);
        }
        out(line + "\n");
    }
    return 0;
}

int checkOrReindex(const char* index, const char* table, bool reindex) {
    WorkArea* a = openTable(table, !reindex);
    if (!a) return 1;
    OrderInfo oi{nullptr, index, nullptr};
    if (rdd::orderListAdd(a, &oi) && ntxOrderCount(a) == 0) return 1;
    if (reindex && rdd::orderListRebuild(a)) return 1;
    NtxCheckResult r{};
    RddResult st = ntxVerifyOrder(a, 1, &r);
    char line[256];
    if (st) {
        std::snprintf(line, sizeof line, "%s: %s (page %u): %s\n", index, ntxErrorText(r.status), r.page, r.message);
        out(line);
        return 1;
    }
    std::snprintf(line, sizeof line, "%s: %s, %u keys, %u pages, %u free pages, depth %u\n", index,
                  reindex ? "rebuilt" : "ok", r.keys, r.pages, r.freePages, r.depth);
    out(line);
    if (r.owed) {
        // Not damage: appends that a kill interrupted before their commit.
        std::snprintf(line, sizeof line, "%s: %u blank records without keys (appends not committed), from record %u\n",
                      index, r.owed, r.firstOwed);
        out(line);
    }
    return 0;
}

int run() {
    std::string cmd = gArgv[1];
    if (cmd == "info" && gArgc == 3) return endsWithNtx(gArgv[2]) ? infoIndex(gArgv[2]) : infoTable(gArgv[2]);
    if (cmd == "dump" && gArgc >= 3) {
        bool csv = false, utf8 = false;
        for (int i = 3; i < gArgc; ++i) {
            if (std::strcmp(gArgv[i], "--csv") == 0) csv = true;
            else if (std::strcmp(gArgv[i], "--utf8") == 0) utf8 = true;
            else return usage();
        }
        return dump(gArgv[2], csv, utf8);
    }
    if ((cmd == "check" || cmd == "reindex") && gArgc == 4) return checkOrReindex(gArgv[2], gArgv[3], cmd == "reindex");
    return usage();
}

XB_NATIVE(fnXBDB_RUN, "XBDB_RUN") {
    setErrorLevel(int16_t(run()));
    retNil();
    return 0;
}

void bindProgram() { pcasm::bindModule(&program); }

bool validUsage(int argc, char** argv) {
    if (argc < 3) return false;
    std::string cmd = argv[1];
    if (cmd == "info") return argc == 3;
    if (cmd == "dump") return true;
    return (cmd == "check" || cmd == "reindex") && argc == 4;
}

}  // namespace

const char HELP[] =
    "usage: xbdb info FILE                  a table's version, date, counts, lengths and fields;\n"
    "                                       an index's header\n"
    "       xbdb dump TABLE [--csv] [--utf8] the records with their deleted mark and memo texts\n"
    "       xbdb check INDEX TABLE          the index's structure and every record's entry\n"
    "       xbdb reindex INDEX TABLE        rebuilds the index from the table\n"
    "       xbdb --help                     this text\n"
    "Exit codes: 0 success, 1 a violation or a driver error, 2 bad usage.\n";

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        out(HELP);
        return 0;
    }
    if (!validUsage(argc, argv)) return usage();
    gArgc = argc;
    gArgv = argv;
    pcasm::AsmError err{};
    if (!pcasm::assemble(kProgram, sizeof kProgram - 1, &program, &err)) return 2;
    image[0] = pcasm::moduleImage(program);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image[1 + i] = modules::imageModule(*standard[i]);
    setImage(image, 1 + modules::STANDARD_MODULE_COUNT);
    afterSymbolRegistration = bindProgram;
    outputSetConsole(true);  // errors on standard error, not in message boxes
    os::setCommandLine(1, argv);
    processEntry("");
}
