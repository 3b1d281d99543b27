// The operating-system layer. Everything the runtime asks of the OS passes
// through here; nothing above this header includes an OS header. The calls are
// shaped after the Win32 functions the runtime was designed around: one
// backend maps them onto Win32 (platform/win32), one onto POSIX
// (platform/posix). Error values reported by osLastError() are always the
// Windows numbers (2 file not found, 3 path not found, 5 access denied, 32
// sharing violation, 33 lock violation, 80 file exists, 112 disk full ...).
#pragma once
#include <cstdint>

namespace xb::os {

using Handle = intptr_t;  // -1 is the invalid handle
constexpr Handle INVALID = -1;

// ---- process-private heap (HeapCreate/HeapAlloc/HeapReAlloc/HeapFree/HeapDestroy)
bool heapCreate();
void* heapAlloc(uint32_t size);
void* heapRealloc(void* p, uint32_t size);
void heapFree(void* p);
void heapDestroy();

// ---- process
[[noreturn]] void exitProcess(uint32_t code);
const char* commandLine();               // GetCommandLineA: the whole command line
// POSIX has no GetCommandLineA: the entry point hands its arguments over and
// the backend joins them into one Windows-shaped line, wrapping arguments that
// are empty or hold blanks or tabs in double quotes, so that the runtime's own
// splitter sees the same shape on both targets. Without this call the POSIX
// backend builds the line from the process's own arguments. No-op on Win32.
void setCommandLine(int argc, char** argv);
int moduleFileName(char* buf, int size);  // GetModuleFileNameA: full path of the executable
void installCrashHandler(void (*report)(const char* what, uint32_t code, uintptr_t address));
uint32_t lastError();  // GetLastError (Windows numbering)
void setLastError(uint32_t code);

// ---- child processes (CreateProcessA, CreatePipe, WaitForSingleObject,
// GetExitCodeProcess, TerminateProcess); platform/*/child_process.cpp.
// The caller owns a started Process until processClose; the handles it
// passed in stay its own (the child gets copies).
struct ProcessStart {
    const char* const* argv;  // argv[0] is the program's path; ends with a null
    const char* const* env;   // "NAME=value" entries added to (or replacing in)
                              // this process's environment; null-ended; may be null
    const char* directory;    // the child's working directory; null: this one's
    // The child's standard handles; INVALID: this process's own.
    Handle input, output, error;
};
struct Process {
    Handle process;  // INVALID when not started
    uint32_t id;
};
// Starts the program (found by its path, not searched for). False, with
// lastError() set (2 when the program is missing), when it cannot start.
bool processStart(const ProcessStart* start, Process* p);
// Waits at most ms milliseconds (WAIT_FOREVER: no limit) for the end. True,
// with *exitCode, once it ended: the code it passed to exitProcess, or for a
// POSIX process ended by a signal 128 + the signal. False on time-out (last
// error 258) or failure.
constexpr uint32_t WAIT_FOREVER = 0xFFFFFFFFu;
bool processWait(Process* p, uint32_t ms, uint32_t* exitCode);
// Ends the process at once (POSIX: SIGKILL, so its exit code reads 137).
bool processTerminate(Process* p, uint32_t code);
// Releases the process (waiting for it first on POSIX, so that it leaves no
// zombie: terminate or wait before closing a process that may still run).
void processClose(Process* p);
uint32_t processId();  // GetCurrentProcessId
// An anonymous pipe: what is written to *writeEnd is read from *readEnd.
// Neither end is passed to child processes unless given as a standard
// handle. Reading returns done == 0 (POSIX) or fails with 109 (Win32) once
// every write end is closed and the pipe is drained.
bool pipeCreate(Handle* readEnd, Handle* writeEnd);

// ---- standard handles and console-less output
Handle stdOutput();  // GetStdHandle(STD_OUTPUT_HANDLE)
Handle stdError();
Handle stdInput();
bool isTerminal(Handle h);  // a console / terminal rather than a file or pipe
void messageBox(const char* text, const char* caption);  // MessageBoxA; POSIX: standard error
void messageBox(const char* text, const char* caption, uint32_t style);  // MB_* style bits

// ---- files (CreateFileA and friends)
// On POSIX, sharing modes and byte-range locks are open-file-description
// locks that other processes of this runtime see as Windows processes
// would; how, and the limits, in platform/posix/share.cpp and files.cpp.
enum Access : uint32_t { ACCESS_READ = 1, ACCESS_WRITE = 2 };
enum Share : uint32_t { SHARE_READ = 1, SHARE_WRITE = 2 };
// <windows.h> defines these names as macros (with the same values); keep
// them out of the way here so that the header reads the same after it.
#pragma push_macro("CREATE_NEW")
#pragma push_macro("CREATE_ALWAYS")
#pragma push_macro("OPEN_EXISTING")
#pragma push_macro("OPEN_ALWAYS")
#pragma push_macro("TRUNCATE_EXISTING")
#undef CREATE_NEW
#undef CREATE_ALWAYS
#undef OPEN_EXISTING
#undef OPEN_ALWAYS
#undef TRUNCATE_EXISTING
enum Disposition : uint32_t {
    CREATE_NEW = 1, CREATE_ALWAYS = 2, OPEN_EXISTING = 3, OPEN_ALWAYS = 4, TRUNCATE_EXISTING = 5
};
#pragma pop_macro("CREATE_NEW")
#pragma pop_macro("CREATE_ALWAYS")
#pragma pop_macro("OPEN_EXISTING")
#pragma pop_macro("OPEN_ALWAYS")
#pragma pop_macro("TRUNCATE_EXISTING")
Handle createFile(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t attributes);
bool readFile(Handle h, void* buf, uint32_t n, uint32_t* done);
// A read at a given offset that leaves the file pointer where it was (one
// system call where the OS has positioned reads); short only at the end of
// the file.
bool readFileAt(Handle h, uint64_t offset, void* buf, uint32_t n, uint32_t* done);
bool writeFile(Handle h, const void* buf, uint32_t n, uint32_t* done);
enum Origin : uint32_t { FROM_BEGIN = 0, FROM_CURRENT = 1, FROM_END = 2 };
// SetFilePointer: returns the new position, or 0xFFFFFFFF with lastError() set.
uint32_t setFilePointer(Handle h, int32_t distance, uint32_t origin);
bool setEndOfFile(Handle h);
bool lockFile(Handle h, uint32_t offset, uint32_t length);
bool unlockFile(Handle h, uint32_t offset, uint32_t length);
bool flushFileBuffers(Handle h);
bool closeHandle(Handle h);
bool deleteFile(const char* name);
bool moveFile(const char* from, const char* to);
bool createDirectory(const char* name);
bool removeDirectory(const char* name);
bool setCurrentDirectory(const char* name);
int currentDirectory(char* buf, int size);  // length written, 0 on failure
// Bytes available to the caller on the volume of root (null or empty: the
// current directory), with critical-error boxes off during the query.
bool diskFreeSpace(const char* root, uint64_t* freeBytes);
bool fileExists(const char* name);  // FindFirstFileA/FindClose
uint32_t setErrorMode(uint32_t mode);  // returns the previous mode (no effect on POSIX)
// One entry of a directory listing (FindFirstFileA/FindNextFileA).
constexpr uint32_t DIR_NAME_MAX = 260;
constexpr uint32_t ATTR_READONLY = 0x01, ATTR_HIDDEN = 0x02, ATTR_SYSTEM = 0x04, ATTR_DIRECTORY = 0x10,
                   ATTR_ARCHIVE = 0x20;
struct DirEntry {
    char name[DIR_NAME_MAX];  // the name alone, NUL-terminated
    uint64_t size;
    struct {
        uint16_t year, month, day, hour, minute, second;
    } modified;  // local time of the last write
    uint32_t attributes;  // ATTR_* bits
};
// Calls visit for each entry whose name matches the wild cards of the last
// part of pattern ("*.dbf", "data/*.*", a plain name), "." and ".." left
// out, until visit answers false. False (lastError() set) when the folder
// cannot be read; a folder without matches is true with no call.
bool listDirectory(const char* pattern, bool (*visit)(const DirEntry& entry, void* context), void* context);

// ---- serial line (GetCommState/SetCommState), reduced to what the runtime uses
struct CommState {
    uint32_t baudRate;
    uint8_t byteSize;  // 5..8
    uint8_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits;  // 0 one, 1 one and a half, 2 two
};
bool getCommState(Handle h, CommState* state);
bool setCommState(Handle h, const CommState* state);
// Maps a device name such as "COM1" to another path (the /COMn= switch).
void mapComDevice(int number, const char* path);

// ---- time, names, sleeping
struct LocalTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
void localTime(LocalTime* t);  // GetLocalTime
void sleepMs(uint32_t ms);
bool computerName(char* buf, uint32_t size);
bool userName(char* buf, uint32_t size);

// ---- external libraries (GetModuleHandleA/GetProcAddress)
void* moduleHandle(const char* name);
void* procAddress(void* module, const char* name);

// ---- libraries loaded by the program (LoadLibraryA/GetProcAddress/FreeLibrary)
// libraryLoad: the library's module handle, or null (lastError() set) when
// the file is missing or is no library of this target. The caller owns the
// handle until libraryFree.
void* libraryLoad(const char* path);
bool libraryFree(void* library);
// An export by its Win32 stdcall name ("_Name@N"). Win32 looks the name up
// as written; POSIX looks up the plain name (platform/export_name.h:
// "_DllDo@4" is "DllDo"). Null when the library has no such export.
void* libraryExport(void* library, const char* decoratedName);

}  // namespace xb::os
