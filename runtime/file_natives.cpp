// The file functions of pcode: numeric handles over the lower file layer.
// They report failure through their results and the file error (FERROR),
// never by raising, except FOPEN given a name that is not text.
#include <cstring>

#include "vm/function.h"
#include "vm/error.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb {

namespace {

uint16_t fileError;  // what FERROR reports; reset by every file function

void takeOsError() { fileError = fileErrorState().osError; }

bool isNumber(const Item* it) { return it && (it->type & M_NUMERIC); }
bool isText(const Item* it) { return it && (it->type & M_STRING); }

// A handle argument; anything but a number is no handle at all (so that no
// target ever writes to whatever descriptor 0 happens to be).
os::Handle handleParam(uint32_t n) {
    Item* p = argumentItem(n);
    return isNumber(p) ? os::Handle(itemInt(p)) : os::INVALID;
}

// A NUL-terminated copy of a text argument (memFree it), or null.
char* textParam(uint32_t n) {
    Item* p = argumentItem(n);
    return isText(p) ? itemTextCopy(p) : nullptr;
}

// The shared part of the two reads into a variable: handle, variable passed
// by reference and count, exactly. The variable gets a new text of count
// bytes, zero beyond what was read. Returns false when the arguments do not fit.
bool readIntoVariable(bool wide, int32_t* result) {
    if (paramCount() != 3) return false;
    Item* var = argumentItem(2);
    Item* count = argumentItem(3);
    if (!isText(var) || !isNumber(count)) return false;
    int32_t n = itemInt(count);
    if (n < 0 || uint32_t(n) > strLength(var)) return false;
    os::Handle h = handleParam(1);
    pushNil();  // roots the new text while it is filled
    char* bytes = makeStringBuffer(vm.top, uint32_t(n));
    std::memset(bytes, 0, uint32_t(n));
    *result = wide ? fsReadLong(h, bytes, uint32_t(n)) : int32_t(fsRead(h, bytes, uint16_t(n)));
    *var = *vm.top;
    pop();
    takeOsError();
    return true;
}

}  // namespace

XB_NATIVE(fnFOPEN, "FOPEN") {
    fileError = 0;
    char* name = textParam(1);
    if (!name) return argumentError("BASE", 2021, EF_SUBSTITUTE);
    uint16_t mode = paramCount() >= 2 ? uint16_t(paramInt(2)) : 0;
    os::Handle h = fsOpen(name, mode);
    memFree(name);
    takeOsError();
    retInt(int32_t(h));
    return 0;
}

XB_NATIVE(fnFCREATE, "FCREATE") {
    fileError = 0;
    Item* p = argumentItem(1);
    if (!isText(p)) fatalError(660);
    char* name = itemTextCopy(p);
    os::Handle h = fsCreate(name, uint16_t(paramInt(2)));
    memFree(name);
    takeOsError();
    retInt(int32_t(h));
    return 0;
}

XB_NATIVE(fnFCLOSE, "FCLOSE") {
    fileError = 0;
    Item* h = argumentItem(1);
    if (!isNumber(h)) {
        retLogical(false);
        return 0;
    }
    // A failed close is reported: .F., with the OS reason in FERROR.
    bool closed = fsClose(os::Handle(itemInt(h)));
    takeOsError();
    retLogical(closed);
    return 0;
}

XB_NATIVE(fnFWRITE, "FWRITE") {
    fileError = 0;
    Item* data = argumentItem(2);
    if (!isText(data)) {
        retInt(0);
        return 0;
    }
    uint32_t length = strLength(data);
    Item* count = argumentItem(3);
    uint16_t n = uint16_t(isNumber(count) ? uint32_t(itemInt(count)) : length);
    // Never past the end of the text. A text whose count comes out as 0 in
    // 16 bits (65,536 bytes, say) writes nothing: only an empty text asks
    // for the truncation that a zero-byte write means.
    if (n > length) n = uint16_t(length);
    if (n == 0 && length > 0) {
        retInt(0);
        return 0;
    }
    uint16_t written = fsWrite(handleParam(1), strData(data), n);
    takeOsError();
    retInt(written);
    return 0;
}

XB_NATIVE(fnFCOMMIT, "FCOMMIT") {
    fileError = 0;
    Item* h = argumentItem(1);
    if (isNumber(h)) fsCommit(os::Handle(itemInt(h)));
    return 0;
}

XB_NATIVE(fnFREAD, "FREAD") {
    fileError = 0;
    int32_t result = 0;
    if (!readIntoVariable(false, &result)) result = 0;
    retInt(result);
    return 0;
}

XB_NATIVE(fnFREADLONG, "FREADLONG") {
    fileError = 0;
    int32_t result = 0;
    if (!readIntoVariable(true, &result)) result = 0;
    retInt(result);
    return 0;
}

XB_NATIVE(fnFREADSTR, "FREADSTR") {
    fileError = 0;
    Item* count = argumentItem(2);
    if (paramCount() != 2 || !isNumber(count)) {
        retString("", 0);
        return 0;
    }
    uint16_t n = uint16_t(itemInt(count));
    char* buffer = static_cast<char*>(memAlloc(uint32_t(n) + 1));
    uint16_t got = fsRead(handleParam(1), buffer, n);
    takeOsError();
    uint32_t length = 0;
    if (got != 65535)
        while (length < got && buffer[length]) ++length;
    retString(buffer, length);
    memFree(buffer);
    return 0;
}

XB_NATIVE(fnFSEEK, "FSEEK") {
    fileError = 0;
    Item* offset = argumentItem(2);
    if (!isNumber(offset)) {
        retInt(0);
        return 0;
    }
    os::Handle h = handleParam(1);
    int32_t distance = itemInt(offset);
    uint16_t origin = uint16_t(paramInt(3));
    bool beforeStart = false;
    if (origin == os::FROM_BEGIN && distance < 0) {
        beforeStart = true;
    } else if (origin == os::FROM_CURRENT && distance < 0) {
        uint32_t here = fsSeek(h, 0, os::FROM_CURRENT);
        beforeStart = here != 0xFFFFFFFFu && int64_t(here) + distance < 0;
    }
    if (beforeStart) {
        uint32_t here = fsSeek(h, 0, os::FROM_CURRENT);
        fileError = 25;
        retInt(int32_t(here));
        return 0;
    }
    uint32_t position = fsSeek(h, distance, origin);
    takeOsError();
    retInt(int32_t(position));
    return 0;
}

XB_NATIVE(fnFERASE, "FERASE") {
    fileError = 0;
    char* name = textParam(1);
    bool done = fsDelete(name ? name : "");
    memFree(name);
    takeOsError();
    retInt(done ? 0 : -1);
    return 0;
}

XB_NATIVE(fnFRENAME, "FRENAME") {
    fileError = 0;
    char* from = textParam(1);
    char* to = textParam(2);
    bool done = from && to ? fsRename(from, to) : fsRename("", "");
    memFree(from);
    memFree(to);
    takeOsError();
    retInt(done ? 0 : -1);
    return 0;
}

XB_NATIVE(fnFERROR, "FERROR") {
    retInt(fileError);
    return 0;
}

}  // namespace xb
