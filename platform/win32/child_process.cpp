// Child processes on Win32: CreateProcessA with the standard handles passed
// through STARTUPINFO. Only inheritable copies of the three handles made for
// the call are inherited (the pipes of pipeCreate are not inheritable, so a
// child never holds another child's pipe open); the copies are closed again
// once the child has its own.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace xb::os {

namespace {

HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h); }

// One argument as the C runtime's splitter reads it back: quoted when empty
// or holding blanks, tabs or quotes; backslashes doubled before a quote.
void appendArgument(std::string& line, const char* arg) {
    if (!line.empty()) line += ' ';
    if (*arg && !std::strpbrk(arg, " \t\"")) {
        line += arg;
        return;
    }
    line += '"';
    size_t slashes = 0;
    for (const char* c = arg; *c; ++c) {
        if (*c == '\\') {
            ++slashes;
        } else if (*c == '"') {
            line.append(slashes + 1, '\\');
            slashes = 0;
        } else {
            slashes = 0;
        }
        line += *c;
    }
    line.append(slashes, '\\');
    line += '"';
}

// The environment block: ours with the given entries added or replacing
// ours (names compared without regard to case, as Windows does).
std::vector<char> environmentBlock(const char* const* extra) {
    std::vector<std::string> env;
    if (char* block = GetEnvironmentStringsA()) {
        for (char* e = block; *e; e += std::strlen(e) + 1) env.emplace_back(e);
        FreeEnvironmentStringsA(block);
    }
    for (; extra && *extra; ++extra) {
        const char* eq = std::strchr(*extra, '=');
        size_t nameLength = eq ? size_t(eq - *extra) : std::strlen(*extra);
        bool replaced = false;
        for (std::string& have : env)
            if (have.size() > nameLength && have[nameLength] == '=' &&
                _strnicmp(have.c_str(), *extra, nameLength) == 0) {
                have = *extra;
                replaced = true;
            }
        if (!replaced) env.emplace_back(*extra);
    }
    std::vector<char> block;
    for (const std::string& e : env) block.insert(block.end(), e.c_str(), e.c_str() + e.size() + 1);
    block.push_back(0);
    if (block.size() == 1) block.push_back(0);
    return block;
}

// An inheritable copy of h, or of this process's own standard handle.
HANDLE inheritable(Handle h, DWORD standard) {
    HANDLE source = h == INVALID ? GetStdHandle(standard) : native(h);
    HANDLE copy = nullptr;
    if (!source || source == INVALID_HANDLE_VALUE) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

}  // namespace

bool processStart(const ProcessStart* start, Process* p) {
    p->process = INVALID;
    p->id = 0;
    if (!start || !start->argv || !start->argv[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string line;
    for (const char* const* a = start->argv; *a; ++a) appendArgument(line, *a);
    std::vector<char> env = environmentBlock(start->env);
    bool redirect = start->input != INVALID || start->output != INVALID || start->error != INVALID;
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    HANDLE copies[3] = {nullptr, nullptr, nullptr};
    if (redirect) {
        copies[0] = inheritable(start->input, STD_INPUT_HANDLE);
        copies[1] = inheritable(start->output, STD_OUTPUT_HANDLE);
        copies[2] = inheritable(start->error, STD_ERROR_HANDLE);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = copies[0];
        si.hStdOutput = copies[1];
        si.hStdError = copies[2];
    }
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    BOOL ok = CreateProcessA(start->argv[0], line.data(), nullptr, nullptr, redirect ? TRUE : FALSE, 0,
                             env.data(), start->directory, &si, &pi);
    DWORD error = GetLastError();
    for (HANDLE c : copies)
        if (c) CloseHandle(c);
    if (!ok) {
        SetLastError(error);
        return false;
    }
    CloseHandle(pi.hThread);
    p->process = reinterpret_cast<Handle>(pi.hProcess);
    p->id = pi.dwProcessId;
    return true;
}

bool processWait(Process* p, uint32_t ms, uint32_t* exitCode) {
    if (!p || p->process == INVALID) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD r = WaitForSingleObject(native(p->process), ms == WAIT_FOREVER ? INFINITE : ms);
    if (r == WAIT_TIMEOUT) {
        SetLastError(WAIT_TIMEOUT);
        return false;
    }
    if (r != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(native(p->process), &code)) return false;
    if (exitCode) *exitCode = code;
    return true;
}

bool processTerminate(Process* p, uint32_t code) {
    if (!p || p->process == INVALID) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return TerminateProcess(native(p->process), code) != 0;
}

void processClose(Process* p) {
    if (!p) return;
    if (p->process != INVALID) CloseHandle(native(p->process));
    p->process = INVALID;
    p->id = 0;
}

uint32_t processId() { return GetCurrentProcessId(); }

bool pipeCreate(Handle* readEnd, Handle* writeEnd) {
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, 0)) return false;
    *readEnd = reinterpret_cast<Handle>(r);
    *writeEnd = reinterpret_cast<Handle>(w);
    return true;
}

}  // namespace xb::os
