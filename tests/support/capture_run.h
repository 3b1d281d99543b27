// Runs a built program (see program_run.h) with its standard output and
// standard error each captured in a file of the scratch directory, on both
// targets, and with the working directory of the test process. Line ends of
// the captured output can be normalised (Windows writes CR LF).
//
//   xb::test::ProgramRun run;
//   std::string xbrun = run.copyProgram("xbrun");
//   xb::test::Captured c = xb::test::runCaptured(run, xbrun, {file});
//   c.exitCode, c.out, c.err
#pragma once
#include "tests/support/program_run.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace xb::test {

struct Captured {
    int exitCode = -1;
    std::string out, err;
};

// CR LF as LF, for comparing output with expectations written with LF.
inline std::string unixLines(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) r += s[i];
    return r;
}

// Runs program with args; in directory dir when one is given (else the test
// process's own).
inline Captured runCaptured(const ProgramRun& run, const std::string& program, const std::vector<std::string>& args,
                            const std::string& dir = "") {
    Captured c;
    static int serial = 0;
    ++serial;
    const std::string outName = "capture_out_" + std::to_string(serial) + ".txt";
    const std::string errName = "capture_err_" + std::to_string(serial) + ".txt";
    const std::string outPath = run.path(outName.c_str()), errPath = run.path(errName.c_str());
#ifdef _WIN32
    std::fflush(stdout);
    std::fflush(stderr);
    int savedOut = _dup(1), savedErr = _dup(2);
    int fo = _open(outPath.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    int fe = _open(errPath.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fo >= 0 && fe >= 0) {
        _dup2(fo, 1);
        _dup2(fe, 2);
        std::vector<std::string> quoted;
        quoted.push_back("\"" + program + "\"");
        for (const std::string& a : args)
            quoted.push_back(a.empty() || a.find_first_of(" \t") != std::string::npos ? "\"" + a + "\"" : a);
        std::vector<const char*> argv;
        for (const std::string& a : quoted) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        char here[4096];
        bool moved = !dir.empty() && _getcwd(here, int(sizeof here)) && _chdir(dir.c_str()) == 0;
        c.exitCode = int(_spawnv(_P_WAIT, program.c_str(), argv.data()));
        if (moved) (void)_chdir(here);
        _dup2(savedOut, 1);
        _dup2(savedErr, 2);
    }
    if (fo >= 0) _close(fo);
    if (fe >= 0) _close(fe);
    _close(savedOut);
    _close(savedErr);
#else
    pid_t pid = fork();
    if (pid < 0) return c;
    if (pid == 0) {
        int fo = open(outPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        int fe = open(errPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        int fi = open("/dev/null", O_RDONLY);
        if (fo < 0 || fe < 0 || fi < 0) _exit(126);
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        dup2(fo, 1);
        dup2(fe, 2);
        dup2(fi, 0);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    c.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    c.out = run.read(outName.c_str());
    c.err = run.read(errName.c_str());
    if (c.out == "<missing>") c.out.clear();
    if (c.err == "<missing>") c.err.clear();
    return c;
}

}  // namespace xb::test
