// The source compiler's speed: compiles one file (preprocessing, parsing,
// code generation, assembly and verification) a few times and prints the
// best CPU time and the lines per second. With --std-header the standard
// commands' rules are read first, as xbc does for a user's program.
//   xbcompilebench FILE [RUNS] [--std-header]
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: xbcompilebench FILE [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    long lines = 0;
    for (char c : text) lines += c == '\n';
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    bool stdHeader = argc > 3 && std::string(argv[3]) == "--std-header";
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        std::clock_t start = std::clock();
        xb::xbc::CompileOptions options;
        options.pp.standardHeader = stdHeader;
        xb::xbc::CompiledProgram program;
        std::vector<xb::pp::Diagnostic> diags;
        bool ok = xb::xbc::compileProgram({{argv[1], text}}, options, &program, &diags);
        double cpu = double(std::clock() - start) / CLOCKS_PER_SEC;
        if (!ok) {
            for (const auto& d : diags) std::fprintf(stderr, "%s\n", xb::pp::formatDiagnostic(d).c_str());
            return 1;
        }
        xb::xbc::freeProgram(&program);
        if (cpu < best) best = cpu;
    }
    std::printf("lines %ld\nseconds %.4f\n", lines, best);
    return 0;
}
