// The programs of tests/programs run through xbrun, each compared with its
// expected standard output, exit code, standard error and Error.txt (the
// folder's README says what each file holds). One test per program.
#include "tests/support/capture_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kFolder = std::string(XB_SOURCE_DIR) + "/tests/programs";

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every program of the folder by file name, sorted.
std::vector<std::string> programFiles() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(kFolder, ec)) {
        std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '_') continue;
        if (endsWith(name, ".prg") || endsWith(name, ".xbasm")) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string slurp(const fs::path& p, bool* present = nullptr) {
    std::ifstream in(p, std::ios::binary);
    if (present) *present = bool(in);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string stem(const std::string& file) { return file.substr(0, file.rfind('.')); }

class ProgramCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(ProgramCorpus, RunsAsExpected) {
    const std::string file = GetParam();
    const std::string name = stem(file);
    xb::test::ProgramRun run;
    std::string xbrun = run.copyProgram("xbrun");
    if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    // The whole folder, so that the parts of several-file programs are there.
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(kFolder, ec))
        if (e.is_regular_file()) fs::copy_file(e.path(), fs::path(run.dir) / e.path().filename(), ec);
    fs::remove(fs::path(run.dir) / "Error.txt", ec);

    std::vector<std::string> args{file};
    bool present = false;
    std::istringstream lines(slurp(fs::path(kFolder) / (name + ".args"), &present));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        args.push_back(line);
    }
    xb::test::Captured r = xb::test::runCaptured(run, xbrun, args, run.dir);

    std::string expectedOut = slurp(fs::path(kFolder) / (name + ".out"), &present);
    ASSERT_TRUE(present) << name << ".out is missing";
    EXPECT_EQ(xb::test::unixLines(r.out), xb::test::unixLines(expectedOut)) << "standard error:\n" << r.err;

    std::string rc = slurp(fs::path(kFolder) / (name + ".rc"), &present);
    EXPECT_EQ(r.exitCode, present ? std::stoi(rc) : 0) << r.err;

    std::string expectedErr = slurp(fs::path(kFolder) / (name + ".err"), &present);
    if (present) EXPECT_EQ(xb::test::unixLines(r.err), xb::test::unixLines(expectedErr));

    std::string expectedLog = slurp(fs::path(kFolder) / (name + ".log"), &present);
    std::string log = run.read("Error.txt");
    EXPECT_EQ(log, present ? expectedLog : std::string("<missing>"));
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
    std::string n;
    for (char c : info.param) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramCorpus, ::testing::ValuesIn(programFiles()), testName);

TEST(ProgramCorpusFolder, EveryProgramHasItsExpectedOutput) {
    std::vector<std::string> files = programFiles();
    EXPECT_FALSE(files.empty());
    for (const std::string& f : files) {
        std::error_code ec;
        EXPECT_TRUE(fs::exists(fs::path(kFolder) / (stem(f) + ".out"), ec)) << f;
    }
}

}  // namespace
