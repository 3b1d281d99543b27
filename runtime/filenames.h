// File-name resolution: how the database drivers and the error output turn
// a user's file name into an open file. A name is split into drive,
// directory, base and extension, completed with a default extension, placed
// in the defaultDir directory or looked for along a directory list (the
// searchPath setting), and opened or created through the lower file layer.
//
// The opener's result name lives in a process-wide buffer until the next
// call (fileNameFull()); callers that keep it copy it. Nothing here raises an
// error: a failed open fills the caller's error record, which the caller
// raises.
#pragma once
#include <cstdint>

#include "platform/platform.h"

namespace xb {

struct ErrorDescriptor;

constexpr uint32_t FILE_NAME_MAX = 260;  // longest name handled
constexpr uint32_t NAME_PART_SIZE = 256;  // each part holds at most 255 characters

// Opener flags; the low 16 bits are also the open mode of the file layer.
constexpr uint32_t FN_CREATE = 0x0100;      // always create anew
constexpr uint32_t FN_OPENCREATE = 0x0200;  // open (at its end), or create when that fails
constexpr uint32_t FN_FORCEEXT = 0x0800;    // the default extension replaces the name's own
constexpr uint32_t FN_PATHS = 0x1000;       // use defaultDir and searchPath

// Splits name into its parts. Each output given (null to skip) is set empty
// first; drive holds 3 bytes, the others NAME_PART_SIZE. The directory keeps
// its trailing separator, the extension its leading point.
void fileNameSplit(const char* name, char* drive, char* directory, char* base, char* extension);

// Opens (or creates, by flags) name. defaultExtension null counts as ".";
// directories is a list separated by ',' or ';' (null: empty; with FN_PATHS
// the searchPath setting replaces it). A name with a drive or a directory
// is tried only as given. On failure (-1) a given error record names the
// first place tried, has the file layer's last error as its OS code, general
// code 20 (create) or 21 (open), and one more try when its flags allow retry.
os::Handle fileNameOpen(const char* name, const char* defaultExtension, uint32_t flags,
                        const char* directories, ErrorDescriptor* error);
// The full name of the last open: the file opened, or the first place tried.
const char* fileNameFull();

// Whether a file of that name exists; wild cards match.
bool fileNameExists(const char* name);

}  // namespace xb
