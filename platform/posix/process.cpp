// Process-level calls on POSIX.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace xb::os {

static uint32_t lastErrorValue;

[[noreturn]] void exitProcess(uint32_t code) { std::_Exit(int(code & 0xFF)); }
uint32_t lastError() { return lastErrorValue; }
void setLastError(uint32_t code) { lastErrorValue = code; }
Handle stdOutput() { return 1; }
Handle stdError() { return 2; }
Handle stdInput() { return 0; }
bool isTerminal(Handle h) { return isatty(int(h)) == 1; }

// ---- command line

static std::string commandLineText;
static bool commandLineSet;

static void appendArgument(std::string& line, const char* arg) {
    if (!line.empty()) line += ' ';
    bool quote = !*arg || strpbrk(arg, " \t");
    if (quote) line += '"';
    line += arg;
    if (quote) line += '"';
}

void setCommandLine(int argc, char** argv) {
    commandLineText.clear();
    for (int i = 0; i < argc; ++i)
        if (argv[i]) appendArgument(commandLineText, argv[i]);
    commandLineSet = true;
}

const char* commandLine() {
    if (!commandLineSet) {
        // Not handed over by the entry point: rebuild it from the kernel's copy.
        commandLineSet = true;
        if (FILE* f = fopen("/proc/self/cmdline", "rb")) {
            std::string raw;
            char chunk[1024];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) raw.append(chunk, n);
            fclose(f);
            for (size_t at = 0; at < raw.size(); at += strlen(raw.c_str() + at) + 1)
                appendArgument(commandLineText, raw.c_str() + at);
        }
    }
    return commandLineText.c_str();
}

// ---- the executable and loaded libraries

int moduleFileName(char* buf, int size) {
    if (!buf || size <= 0) {
        setLastError(87);
        return 0;
    }
    char path[posix::PATH_BUFFER];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) {
        posix::failWith(errno);
        return 0;
    }
    if (n >= size) {
        // As GetModuleFileNameA: cut, terminated, the full size returned.
        memcpy(buf, path, size_t(size - 1));
        buf[size - 1] = 0;
        setLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return size;
    }
    memcpy(buf, path, size_t(n));
    buf[n] = 0;
    return int(n);
}

void* moduleHandle(const char* name) {
    // Like GetModuleHandleA: the executable for no name, otherwise only a
    // library that is already loaded; the reference dlopen adds is given
    // back at once, as a module handle holds none.
    void* module = dlopen(name, RTLD_LAZY | (name ? RTLD_NOLOAD : 0));
    if (!module) {
        setLastError(126);  // ERROR_MOD_NOT_FOUND
        return nullptr;
    }
    if (name) dlclose(module);
    return module;
}

void* procAddress(void* module, const char* name) {
    void* address = module && name ? dlsym(module, name) : nullptr;
    if (!address) setLastError(127);  // ERROR_PROC_NOT_FOUND
    return address;
}

}  // namespace xb::os
