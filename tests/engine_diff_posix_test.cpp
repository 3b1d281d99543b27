// Differential run of the two engines over the pcode programs the tests
// have: every assembler file under tests/data and modules, and every
// assembler program the test sources carry as a raw string literal whose
// first symbol is its procedure. Each runs under xbrun twice, with
// XB_ENGINE=classic and XB_ENGINE=fast, in a scratch directory of its own
// with nothing on standard input; standard output, standard error, the exit
// code, Error.txt and every other file the run leaves must be the same.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Everything a run leaves: the exit code and each file of its directory
// (standard output and error were sent to files there).
struct Trace {
    int exitCode = -1;
    std::map<std::string, std::string> files;
};

Trace runIn(const std::string& xbrun, const std::string& dir, const char* engine) {
    Trace t;
    pid_t pid = fork();
    if (pid < 0) return t;
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("XB_ENGINE", engine, 1);
        // a program that waits for ever must not hold the suite
        alarm(60);
        execl(xbrun.c_str(), xbrun.c_str(), "prog.xbasm", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    t.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename() != "prog.xbasm" && e.path().filename() != "xbrun")
            t.files[e.path().filename().string()] = readFile(e.path());
    return t;
}

// The raw string literals of a source that are whole programs for xbrun.
std::vector<std::string> rawPrograms(const std::string& source) {
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = source.find("R\"(", at)) != std::string::npos) {
        size_t start = at + 3;
        size_t stop = source.find(")\"", start);
        if (stop == std::string::npos) break;
        std::string body = source.substr(start, stop - start);
        at = stop + 2;
        size_t first = body.find_first_not_of(" \t\r\n");
        if (first == std::string::npos || body.compare(first, 7, "symbol ") != 0) continue;
        size_t eol = body.find('\n', first);
        std::string line = body.substr(first, eol == std::string::npos ? std::string::npos : eol - first);
        if (line.find(" proc") == std::string::npos) continue;
        if (body.find("\nend") == std::string::npos) continue;
        out.push_back(body);
    }
    return out;
}

struct Program {
    std::string name;
    std::string text;
};

std::vector<Program> allPrograms() {
    std::vector<Program> programs;
    fs::path root(XB_SOURCE_DIR);
    for (const char* folder : {"tests/data", "modules"})
        for (const auto& e : fs::directory_iterator(root / folder))
            if (e.path().extension() == ".xbasm")
                programs.push_back({std::string(folder) + "/" + e.path().filename().string(), readFile(e.path())});
    for (const auto& e : fs::directory_iterator(root / "tests")) {
        if (e.path().extension() != ".cpp") continue;
        // this file's own literals are none; the generated ones live elsewhere
        std::vector<std::string> found = rawPrograms(readFile(e.path()));
        for (size_t i = 0; i < found.size(); ++i)
            programs.push_back({"tests/" + e.path().filename().string() + "#" + std::to_string(i + 1), found[i]});
    }
    return programs;
}

TEST(EngineDiff, EveryProgramOfTheTestsRunsTheSameUnderBothEngines) {
    xb::test::ProgramRun scratch;
    std::string xbrun = scratch.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    std::vector<Program> programs = allPrograms();
    // the files are there: a wrong folder must not pass as "nothing differs"
    ASSERT_GT(programs.size(), 100u);
    int ran = 0, exitedZero = 0;
    for (const Program& p : programs) {
        Trace traces[2];
        const char* engines[2] = {"classic", "fast"};
        for (int k = 0; k < 2; ++k) {
            fs::path dir = fs::path(scratch.dir) / (std::to_string(ran) + engines[k]);
            fs::create_directories(dir);
            std::ofstream(dir / "prog.xbasm", std::ios::binary) << p.text;
            traces[k] = runIn(xbrun, dir.string(), engines[k]);
            fs::remove_all(dir);
        }
        ++ran;
        if (traces[0].exitCode == 0) ++exitedZero;
        EXPECT_EQ(traces[0].exitCode, traces[1].exitCode) << p.name;
        EXPECT_NE(traces[0].exitCode, 127) << p.name << ": xbrun did not start";
        EXPECT_LT(traces[0].exitCode, 128) << p.name << ": ended by a signal";
        ASSERT_EQ(traces[0].files.size(), traces[1].files.size()) << p.name;
        for (const auto& [file, bytes] : traces[0].files) {
            auto other = traces[1].files.find(file);
            ASSERT_TRUE(other != traces[1].files.end()) << p.name << ": " << file;
            EXPECT_TRUE(bytes == other->second) << p.name << ": " << file << " differs\n--- classic\n"
                                                << bytes << "\n--- fast\n"
                                                << other->second;
        }
    }
    // most programs run to their end; some report errors on purpose
    EXPECT_GT(exitedZero, ran / 4);
}

}  // namespace
#endif
