// Environment and file functions: GETENV, DIRECTORY, CURDIR, MEMOREAD and
// MEMOWRIT. Like the low-level file functions they never raise: a missing
// variable or file, a wrong argument or a failed write answers "", {} or
// .F., and FERROR() tells the file error of MEMOREAD and MEMOWRIT.
#include <cstdio>
#include <cstring>
#include <string>

#include "vm/function.h"
#include "base/dates.h"
#include "lib/lib_args.h"
#include "platform/environment.h"
#include "platform/platform.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/object.h"

namespace xb {

namespace {

// A text parameter as a NUL-terminated std::string; false when absent or
// not a text, or when it holds a NUL (no OS name can).
bool textParam(uint32_t n, std::string* out) {
    Item* s = libText(n);
    if (!s) return false;
    out->assign(strData(s), strLength(s));
    return out->find('\0') == std::string::npos;
}

// The most MEMOREAD reads: a larger file answers "" rather than exhaust memory.
constexpr uint32_t kMemoReadMax = 0x40000000;

struct Listing {
    Item* rows;  // rooted array of rows
    bool directories, hidden, system;
};

bool addRow(const os::DirEntry& e, void* context) {
    auto* l = static_cast<Listing*>(context);
    if ((e.attributes & os::ATTR_DIRECTORY) && !l->directories) return true;
    if ((e.attributes & os::ATTR_HIDDEN) && !l->hidden) return true;
    if ((e.attributes & os::ATTR_SYSTEM) && !l->system) return true;
    arrayResize(l->rows, 1);
    Item* row = &arrayItems(l->rows)[arrayLength(l->rows) - 1];
    makeArray(row, 5);
    Item* f = arrayItems(row);
    makeString(&f[0], e.name, uint32_t(std::strlen(e.name)));
    f = arrayItems(row);
    f[1].type = T_DOUBLE;
    f[1].v.d = double(e.size);
    f[2].type = T_DATE;
    os::LocalTime t{};
    t.year = e.modified.year;
    t.month = e.modified.month;
    t.day = e.modified.day;
    f[2].v.l = dateFromLocalTime(t);
    char clock[16];
    int n = std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", unsigned(e.modified.hour) % 100,
                          unsigned(e.modified.minute) % 100, unsigned(e.modified.second) % 100);
    makeString(&f[3], clock, uint32_t(n));
    char attr[8];
    int k = 0;
    if (e.attributes & os::ATTR_READONLY) attr[k++] = 'R';
    if (e.attributes & os::ATTR_HIDDEN) attr[k++] = 'H';
    if (e.attributes & os::ATTR_SYSTEM) attr[k++] = 'S';
    if (e.attributes & os::ATTR_DIRECTORY) attr[k++] = 'D';
    if (e.attributes & os::ATTR_ARCHIVE) attr[k++] = 'A';
    f = arrayItems(row);
    makeString(&f[4], attr, uint32_t(k));
    return true;
}

}  // namespace

// GETENV(name): the variable's value, "" when it is not set.
XB_NATIVE(fnGETENV, "GETENV") {
    std::string name;
    if (!textParam(1, &name) || name.empty()) {
        retString("", 0);
        return 0;
    }
    char small[256];
    uint32_t length = 0;
    if (!os::environmentVariable(name.c_str(), small, sizeof small, &length)) {
        retString("", 0);
        return 0;
    }
    if (length < sizeof small) {
        retString(small, length);
        return 0;
    }
    char* big = static_cast<char*>(memAlloc(length + 1));
    uint32_t again = 0;
    if (os::environmentVariable(name.c_str(), big, length + 1, &again) && again <= length) retString(big, again);
    else retString("", 0);
    memFree(big);
    return 0;
}

// DIRECTORY([pattern], [attributes]): one row {name, size, date, time,
// attributes} per matching entry. Files are always listed; folders, hidden
// and system entries only when attributes holds "D", "H" or "S". The
// pattern defaults to every name of the current folder; a pattern ending in
// a folder separator lists that folder.
XB_NATIVE(fnDIRECTORY, "DIRECTORY") {
    std::string pattern, attrs;
    if (!textParam(1, &pattern) || pattern.empty()) pattern = "*.*";
    if (pattern.back() == '/' || pattern.back() == '\\') pattern += "*.*";
    if (!textParam(2, &attrs)) attrs.clear();
    Listing l{tempAlloc(), false, false, false};
    for (char c : attrs) {
        c = char(c & ~0x20);
        if (c == 'D') l.directories = true;
        if (c == 'H') l.hidden = true;
        if (c == 'S') l.system = true;
    }
    makeArray(l.rows, 0);
    os::listDirectory(pattern.c_str(), addRow, &l);
    retItem(l.rows);
    tempRelease(l.rows);
    return 0;
}

// CURDIR(): the current folder without its drive and without the leading
// separator ("" at the root).
XB_NATIVE(fnCURDIR, "CURDIR") {
    const char* dir = fsCurrentDir();
    if (dir[0] && dir[1] == ':') dir += 2;
    while (*dir == '\\' || *dir == '/') ++dir;
    retCString(dir);
    return 0;
}

// MEMOREAD(file): the whole file as a text, "" when it cannot be read.
XB_NATIVE(fnMEMOREAD, "MEMOREAD") {
    std::string name;
    retString("", 0);
    if (!textParam(1, &name) || name.empty()) return 0;
    os::Handle h = fsOpen(name.c_str(), 0);
    if (h == os::INVALID) return 0;
    uint32_t size = fsSeek(h, 0, 2);
    fsSeek(h, 0, 0);
    if (size != 0xFFFFFFFFu && size <= kMemoReadMax) {
        Item* out = tempAlloc();
        char* p = makeStringBuffer(out, size);
        int32_t got = fsReadLong(h, p, size);
        if (got == int32_t(size)) retItem(out);
        tempRelease(out);
    }
    fsClose(h);
    return 0;
}

// MEMOWRIT(file, text): writes text as the whole file (created or
// replaced); .T. when every byte was written.
XB_NATIVE(fnMEMOWRIT, "MEMOWRIT") {
    std::string name;
    Item* text = libText(2);
    retLogical(false);
    if (!textParam(1, &name) || name.empty() || !text) return 0;
    os::Handle h = fsCreate(name.c_str(), 0);
    if (h == os::INVALID) return 0;
    uint32_t n = strLength(text);
    int32_t wrote = n ? fsWriteLong(h, strData(text), n) : 0;
    bool closed = fsClose(h);
    retLogical(wrote == int32_t(n) && closed);
    return 0;
}

}  // namespace xb
