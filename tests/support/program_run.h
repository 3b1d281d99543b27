// Runs the built programs (xbrun, comtest) as child processes from a test, on
// both targets: a scratch directory per test holding a copy of the program, so
// that the Error.txt beside it belongs to that run alone, and a run that gives
// the exit code and what the child wrote to standard output and error (on
// POSIX its message boxes go to standard error; on Windows they are boxes).
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

#include <cstdio>

namespace xb::test {

struct RunResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error (where message boxes go on POSIX)
};

class ProgramRun {
public:
    ProgramRun() {
        namespace fs = std::filesystem;
        static int serial = 0;
        long pid = long(os::processId());
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

    // Runs the program to its end, in the working directory of the test
    // (inDir: in the scratch directory), with input as its standard input;
    // what it writes to standard output and error is returned. Through the
    // platform layer's process start on both targets.
    RunResult run(const std::string& program, const std::vector<std::string>& args,
                  const std::string& input = "", bool inDir = false) const {
        RunResult r;
        // The standard handles are files beside the scratch directory, so
        // that neither a full pipe nor the directory's contents get in the way.
        std::string inName = dir + ".stdin", outName = dir + ".stdout", errName = dir + ".stderr";
        std::ofstream(inName, std::ios::binary) << input;
        const uint32_t both = os::ACCESS_READ | os::ACCESS_WRITE, all = os::SHARE_READ | os::SHARE_WRITE;
        os::Handle in = os::createFile(inName.c_str(), os::ACCESS_READ, all, os::OPEN_EXISTING, 0);
        os::Handle out = os::createFile(outName.c_str(), both, all, os::CREATE_ALWAYS, 0);
        os::Handle err = os::createFile(errName.c_str(), both, all, os::CREATE_ALWAYS, 0);
        std::vector<const char*> argv;
        argv.push_back(program.c_str());
        for (const std::string& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        os::ProcessStart s{argv.data(), nullptr, inDir ? dir.c_str() : nullptr, in, out, err};
        os::Process p{};
        if (in != os::INVALID && out != os::INVALID && err != os::INVALID && os::processStart(&s, &p)) {
            uint32_t code = 0;
            if (os::processWait(&p, os::WAIT_FOREVER, &code)) r.exitCode = int(code);
            os::processClose(&p);
        }
        for (os::Handle h : {in, out, err})
            if (h != os::INVALID) os::closeHandle(h);
        r.out = slurp(outName);
        r.err = slurp(errName);
        for (const std::string& f : {inName, outName, errName}) std::remove(f.c_str());
        return r;
    }

    static std::string slurp(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace xb::test
