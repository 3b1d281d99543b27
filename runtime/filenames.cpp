#include "runtime/filenames.h"

#include <cstring>
#include <initializer_list>

#include "vm/function.h"
#include "vm/error.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "vm/native.h"

namespace xb {

namespace {

constexpr uint32_t BUFFER = 1024;  // room for a directory entry, a directory part, base and extension
char composedName[BUFFER];
char fullName[BUFFER];

bool separator(char c) { return c == '\\' || c == '/'; }

void copyPart(char* out, const char* from, uint32_t n, uint32_t size) {
    if (!out) return;
    if (n > size - 1) n = size - 1;
    std::memcpy(out, from, n);
    out[n] = 0;
}

// Appends at most n bytes of text, never past the buffer.
void append(char* buffer, const char* text, size_t n) {
    size_t at = std::strlen(buffer);
    if (n > BUFFER - 1 - at) n = BUFFER - 1 - at;
    std::memcpy(buffer + at, text, n);
    buffer[at + n] = 0;
}
void append(char* buffer, const char* text) { append(buffer, text, std::strlen(text)); }

// directory + '\' (unless empty or ending in one) + the composed name.
void placeIn(const char* directory, size_t n) {
    fullName[0] = 0;
    append(fullName, directory, n);
    if (n > 0 && directory[n - 1] != '\\') append(fullName, "\\");
    append(fullName, composedName);
}

os::Handle tryOpen(uint32_t flags) {
    if (flags & FN_CREATE) return fsCreate(fullName, 0);
    os::Handle h = fsOpen(fullName, uint16_t(flags));
    if (flags & FN_OPENCREATE) {
        if (h == os::INVALID) return fsCreate(fullName, 0);
        fsSeek(h, 0, 2);
    }
    return h;
}

// The full name of the first place: defaultDir for a bare name with
// FN_PATHS, else the composed name alone.
void firstPlace(bool bare, uint32_t flags) {
    const char* dir = settingDefaultDir();
    if (bare && (flags & FN_PATHS) && dir && dir[0]) {
        size_t n = std::strlen(dir);
        placeIn(dir, n > FILE_NAME_MAX ? FILE_NAME_MAX : n);
    } else {
        fullName[0] = 0;
        append(fullName, composedName);
    }
}

}  // namespace

void fileNameSplit(const char* name, char* drive, char* directory, char* base, char* extension) {
    for (char* out : {drive, directory, base, extension})
        if (out) out[0] = 0;
    while (*name == ' ') ++name;
    uint32_t n = uint32_t(strnlen(name, FILE_NAME_MAX));
    uint32_t start = 0;
    if (n >= 2 && name[1] == ':') {
        copyPart(drive, name, 2, 3);
        start = 2;
    }
    int32_t sep = -1;  // the last separator
    for (uint32_t i = start; i < n; ++i)
        if (separator(name[i])) sep = int32_t(i);
    uint32_t baseAt = sep >= 0 ? uint32_t(sep) + 1 : start;
    // "." or ".." right after a separator, the drive or the start: a directory
    const char* tail = name + baseAt;
    uint32_t tailLength = n - baseAt;
    if ((tailLength == 1 && tail[0] == '.') || (tailLength == 2 && tail[0] == '.' && tail[1] == '.')) {
        copyPart(directory, name + start, n - start, NAME_PART_SIZE);
        return;
    }
    if (sep >= 0) copyPart(directory, name + start, uint32_t(sep) + 1 - start, NAME_PART_SIZE);
    uint32_t extAt = n;
    for (uint32_t i = n; i > baseAt; --i)
        if (name[i - 1] == '.') {
            extAt = i - 1;
            break;
        }
    copyPart(base, tail, extAt - baseAt, NAME_PART_SIZE);
    uint32_t extLength = n - extAt;
    while (extLength > 0 && name[extAt + extLength - 1] == ' ') --extLength;
    copyPart(extension, name + extAt, extLength, NAME_PART_SIZE);
}

os::Handle fileNameOpen(const char* name, const char* defaultExtension, uint32_t flags,
                        const char* directories, ErrorDescriptor* error) {
    if (!defaultExtension) defaultExtension = ".";
    const char* list = (flags & FN_PATHS) ? settingSearchPath() : directories;
    if (!list) list = "";
    char drive[3], dir[NAME_PART_SIZE], base[NAME_PART_SIZE], ext[NAME_PART_SIZE];
    fileNameSplit(name, drive, dir, base, ext);
    bool bare = !drive[0] && !dir[0];
    composedName[0] = 0;
    if (!bare) {
        append(composedName, drive);
        append(composedName, dir);
    }
    append(composedName, base);
    append(composedName, ext[0] && !(flags & FN_FORCEEXT) ? ext : defaultExtension);
    firstPlace(bare, flags);
    if (error) error->fileName = fullName;
    os::Handle h = tryOpen(flags);
    while (h == os::INVALID && bare && *list) {
        const char* end = list;
        while (*end && *end != ',' && *end != ';') ++end;
        placeIn(list, size_t(end - list));
        list = *end ? end + 1 : end;
        h = tryOpen(flags);
    }
    if (h == os::INVALID && error) {
        firstPlace(bare, flags);
        if (error->flags & EF_RETRY) ++error->tries;
        error->osCode = fsLastError();
        error->genCode = (flags & (FN_CREATE | FN_OPENCREATE)) ? EG_CREATE : EG_OPEN;
    }
    return h;
}

const char* fileNameFull() { return fullName; }

bool fileNameExists(const char* name) {
    char copy[FILE_NAME_MAX + 1];
    size_t n = strnlen(name, FILE_NAME_MAX);
    std::memcpy(copy, name, n);
    while (n > 0 && copy[n - 1] == ' ') --n;
    copy[n] = 0;
    return os::fileExists(copy);
}

// FILE(name): whether a file matches the name (wild cards allowed).
XB_NATIVE(fnFILE, "FILE") {
    Item* text = paramItem(1, M_STRING);
    if (!text) {
        retLogical(false);
        return 0;
    }
    char* name = itemTextCopy(text);
    retLogical(fileNameExists(name));
    memFree(name);
    return 0;
}

}  // namespace xb
