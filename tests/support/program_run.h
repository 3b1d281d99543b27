// Runs the built programs (xbrun, comtest) as child processes from a test, on
// both targets: a scratch directory per test holding a copy of the program, so
// that the Error.txt beside it belongs to that run alone, and a run that gives
// the exit code (and, on POSIX, what the child wrote to standard error, where
// its message boxes go).
//
//   xb::test::ProgramRun run;
//   std::string xbrun = run.copyProgram("xbrun");   // "" when not built
//   std::string file = run.write("p.xbasm", text);
//   xb::test::RunResult r = run.run(xbrun, {file});
//   run.read("Error.txt");                          // "<missing>" when absent
#pragma once
#include "platform/platform.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace xb::test {

struct RunResult {
    int exitCode = -1;
    std::string err;  // standard error (POSIX only; empty on Windows)
};

class ProgramRun {
public:
    ProgramRun() {
        namespace fs = std::filesystem;
        static int serial = 0;
#ifdef _WIN32
        long pid = long(_getpid());
#else
        long pid = long(getpid());
#endif
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        fs::path p = fs::temp_directory_path() /
                     ("xbe2e_" + std::to_string(pid) + "_" + std::to_string(++serial) + "_" +
                      std::to_string(stamp % 1000000));
        std::error_code ec;
        fs::create_directories(p, ec);
        dir = p.string();
    }
    ~ProgramRun() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    std::string dir;

    // The directory of the running test binary, where the programs are built.
    static std::string buildDir() {
        char path[4096];
        int n = os::moduleFileName(path, int(sizeof path));
        return std::filesystem::path(std::string(path, n > 0 ? size_t(n) : 0)).parent_path().string();
    }

    // A copy of the built program (name without ".exe") in the scratch
    // directory; empty when it was not built.
    std::string copyProgram(const char* name) const {
        namespace fs = std::filesystem;
#ifdef _WIN32
        std::string file = std::string(name) + ".exe";
#else
        std::string file = name;
#endif
        fs::path from = fs::path(buildDir()) / file, to = fs::path(dir) / file;
        std::error_code ec;
        if (!fs::is_regular_file(from, ec)) return "";
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        return ec ? "" : to.string();
    }

    std::string path(const char* name) const { return (std::filesystem::path(dir) / name).string(); }

    std::string write(const char* name, const std::string& bytes) const {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

    std::string read(const char* name) const {
        std::ifstream in(path(name), std::ios::binary);
        if (!in) return "<missing>";
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Runs the program to its end.
    RunResult run(const std::string& program, const std::vector<std::string>& args) const {
        RunResult r;
#ifdef _WIN32
        // _spawnv joins the arguments with blanks: quote those that hold one.
        std::vector<std::string> quoted;
        quoted.push_back("\"" + program + "\"");
        for (const std::string& a : args)
            quoted.push_back(a.find_first_of(" \t") == std::string::npos ? a : "\"" + a + "\"");
        std::vector<const char*> argv;
        for (const std::string& a : quoted) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        r.exitCode = int(_spawnv(_P_WAIT, program.c_str(), argv.data()));
#else
        int e[2];
        if (pipe(e) != 0) return r;
        pid_t pid = fork();
        if (pid < 0) {
            close(e[0]);
            close(e[1]);
            return r;
        }
        if (pid == 0) {
            dup2(e[1], 2);
            close(e[0]);
            close(e[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(e[1]);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(e[0], buf, sizeof buf)) > 0) r.err.append(buf, size_t(n));
        close(e[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
        return r;
    }
};

}  // namespace xb::test
