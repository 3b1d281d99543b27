// Child processes on POSIX: fork and exec, with the standard handles, the
// working directory and the environment set in the child before the exec.
// A failed exec is reported back through a close-on-exec pipe, so that
// processStart fails (as CreateProcessA would) instead of starting a child
// that ends at once.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/internal.h"

extern char** environ;

namespace xb::os {

namespace {

// The environment the child gets: ours, with the given entries added or
// replacing ours of the same name.
std::vector<std::string> childEnvironment(const char* const* extra) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    for (; extra && *extra; ++extra) {
        const char* eq = std::strchr(*extra, '=');
        size_t nameLength = eq ? size_t(eq - *extra) : std::strlen(*extra);
        bool replaced = false;
        for (std::string& have : env)
            if (have.size() > nameLength && have[nameLength] == '=' && have.compare(0, nameLength, *extra, nameLength) == 0) {
                have = *extra;
                replaced = true;
            }
        if (!replaced) env.emplace_back(*extra);
    }
    return env;
}

bool validHandle(Handle h) { return h == INVALID || (h >= 0 && h <= INT_MAX); }

}  // namespace

bool processStart(const ProcessStart* start, Process* p) {
    p->process = INVALID;
    p->id = 0;
    if (!start || !start->argv || !start->argv[0] || !validHandle(start->input) ||
        !validHandle(start->output) || !validHandle(start->error)) {
        setLastError(87);
        return false;
    }
    // Everything the child needs is made before the fork: the child only
    // makes system calls.
    std::vector<std::string> env = childEnvironment(start->env);
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const char* const* a = start->argv; *a; ++a) argv.push_back(const_cast<char*>(*a));
    argv.push_back(nullptr);
    char program[posix::PATH_BUFFER], directory[posix::PATH_BUFFER];
    if (!posix::nativePath(start->argv[0], program, sizeof program)) return false;
    if (start->directory && !posix::nativePath(start->directory, directory, sizeof directory)) return false;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return posix::failWith(errno);
    int fds[3] = {int(start->input), int(start->output), int(start->error)};
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        close(report[0]);
        close(report[1]);
        return posix::failWith(e);
    }
    if (pid == 0) {
        // Standard handles first moved out of the way of each other.
        int moved[3];
        for (int i = 0; i < 3; ++i) moved[i] = fds[i] >= 0 ? fcntl(fds[i], F_DUPFD_CLOEXEC, 3) : -1;
        for (int i = 0; i < 3; ++i)
            if (moved[i] >= 0) dup2(moved[i], i);
        int e = 0;
        if (start->directory && chdir(directory) != 0) e = errno;
        if (!e) {
            execve(program, argv.data(), envp.data());
            e = errno;
        }
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(report[1]);
    int childError = 0;
    ssize_t n;
    do n = read(report[0], &childError, sizeof childError);
    while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == ssize_t(sizeof childError)) {
        waitpid(pid, nullptr, 0);
        return posix::failOnPath(childError, program);
    }
    p->process = Handle(pid);
    p->id = uint32_t(pid);
    return true;
}

bool processWait(Process* p, uint32_t ms, uint32_t* exitCode) {
    if (!p || p->process == INVALID) {
        setLastError(6);
        return false;
    }
    uint32_t waited = 0;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_t(p->process), &status, ms == WAIT_FOREVER ? 0 : WNOHANG);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return posix::failWith(errno);
        if (r > 0) {
            if (exitCode) *exitCode = WIFEXITED(status) ? uint32_t(WEXITSTATUS(status)) : 128u + uint32_t(WTERMSIG(status));
            p->process = INVALID;  // reaped: the id may be reused from now on
            return true;
        }
        if (waited >= ms) {
            setLastError(258);  // WAIT_TIMEOUT
            return false;
        }
        uint32_t step = ms - waited < 5 ? ms - waited : 5;
        sleepMs(step);
        waited += step;
    }
}

bool processTerminate(Process* p, uint32_t) {
    if (!p || p->process == INVALID) {
        setLastError(6);
        return false;
    }
    if (kill(pid_t(p->process), SIGKILL) != 0) return posix::failWith(errno);
    return true;
}

void processClose(Process* p) {
    if (!p) return;
    if (p->process != INVALID) {
        int status;
        while (waitpid(pid_t(p->process), &status, 0) < 0 && errno == EINTR) {
        }
    }
    p->process = INVALID;
    p->id = 0;
}

uint32_t processId() { return uint32_t(getpid()); }

bool pipeCreate(Handle* readEnd, Handle* writeEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return posix::failWith(errno);
    *readEnd = fds[0];
    *writeEnd = fds[1];
    return true;
}

}  // namespace xb::os
