// Runs compiled source programs inside the test binary (POSIX): the program
// is compiled in the test, then a forked child puts the compiled modules in
// front of the six standard modules, starts the process as the executable
// does (initialisation procedures, the main procedure, exit procedures) and
// ends with the program's exit code. The child's ? and ?? write to standard
// output as console programs do (a new line before the values, blanks
// between them), and its error output (Error.txt) is kept in a scratch
// folder, which is also the child's working folder; the parent collects standard output, standard error, the log and
// the exit code.
//
//   xb::test::PrgResult r = xb::test::runProgram({{"hello.prg", "? 'hi'"}});
//   EXPECT_EQ(r.out, "\nhi");
#pragma once
#ifndef _WIN32
#include "tests/support/compile_fixture.h"
#include "tests/support/program_run.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/modules.h"
#include "runtime/display.h"
#include "runtime/output.h"
#include "vm/function.h"
#include "vm/native.h"
#include "vm/stack.h"
#include "vm/symbol.h"

namespace xb::test {

struct PrgResult {
    bool compiled = false;
    std::string diagnostics;  // formatted, one per line
    std::string out;          // standard output
    std::string err;          // standard error
    std::string log;          // Error.txt, "<missing>" when none was written
    int exitCode = -1;
};

namespace prg_detail {

inline void writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) return;
        p += w;
        n -= size_t(w);
    }
}

inline void writeArguments() {
    for (uint32_t i = 1; i <= paramCount(); ++i) {
        if (i > 1) writeAll(1, " ", 1);
        DisplayText t = displayText(derefItem(paramItem(i, M_ANY)));
        writeAll(1, t.text, t.length);
    }
}

inline uint16_t consoleQout() {
    writeAll(1, "\n", 1);
    writeArguments();
    return 0;
}
inline uint16_t consoleQqout() {
    writeArguments();
    return 0;
}
inline const Function qoutFunction = {consoleQout, nullptr, nullptr};
inline const Function qqoutFunction = {consoleQqout, nullptr, nullptr};

inline std::vector<pcasm::AsmModule>* childModules = nullptr;

inline void afterRegistration() {
    for (pcasm::AsmModule& m : *childModules) pcasm::bindModule(&m);
    findOrCreateSymbol("QOUT")->function = &qoutFunction;
    findOrCreateSymbol("QQOUT")->function = &qqoutFunction;
}

inline void boxToStandardError(const char* text, const char* caption, uint32_t) {
    std::string line = std::string(caption) + ": " + text + "\n";
    writeAll(2, line.data(), line.size());
}

}  // namespace prg_detail

inline PrgResult runProgram(const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& arguments = "") {
    PrgResult r;
    Compiled c(files);
    r.compiled = c.ok;
    r.diagnostics = c.errors;
    if (!c.ok) return r;

    ProgramRun scratch;
    std::string owner = scratch.path("prog");
    int out[2], err[2];
    if (pipe(out) != 0) return r;
    if (pipe(err) != 0) return r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (chdir(scratch.dir.c_str()) != 0) _exit(126);  // files the program makes go to the scratch folder
        close(out[0]);
        close(err[0]);
        static std::vector<pcasm::AsmModule> modules;
        static std::vector<ImageModule> image;
        modules = c.program.modules;
        for (auto& m : modules) image.push_back(pcasm::moduleImage(m));
        const modules::CompiledModule* const* standard = modules::standardModules();
        for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image.push_back(modules::imageModule(*standard[i]));
        prg_detail::childModules = &modules;
        outputMessageBox = prg_detail::boxToStandardError;
        outputSetLogOwner(owner.c_str());
        freeSymbols();
        setImage(image.data(), uint32_t(image.size()));
        afterSymbolRegistration = prg_detail::afterRegistration;
        static std::string commandLine;
        commandLine = "prog" + (arguments.empty() ? std::string() : " " + arguments);
        processEntry(commandLine.c_str());
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, size_t(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.log = scratch.read("Error.txt");
    return r;
}

}  // namespace xb::test
#endif
