// Test helpers around the source compiler: compile source texts into
// modules, with the diagnostics as text when the compile fails.
//
//   xb::test::Compiled c({{"main.prg", "? 1"}});
//   ASSERT_TRUE(c.ok) << c.errors;
//   c.program.modules[0] ...
#pragma once
// before gtest: image/symbols.h declares a NAME_MAX that <limits.h> would break
#include "compiler/compiler.h"

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace xb::test {

inline std::string readSourceFile(const std::string& relative) {
    std::ifstream in(std::string(XB_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using Files = std::vector<std::pair<std::string, std::string>>;

struct Compiled {
    bool ok = false;
    xbc::CompiledProgram program;
    std::vector<pp::Diagnostic> diags;
    std::string errors;  // every diagnostic, one per line

    Compiled(const std::string& name, const std::string& text, bool warnings = false)
        : Compiled(std::vector<std::pair<std::string, std::string>>{{name, text}}, warnings) {}
    explicit Compiled(const std::vector<std::pair<std::string, std::string>>& files, bool warnings = false) {
        std::vector<xbc::SourceFile> sources;
        for (const auto& f : files) sources.push_back({f.first, f.second});
        xbc::CompileOptions options;
        options.pp.standardHeader = false;
        options.warnings = warnings;
        ok = xbc::compileProgram(sources, options, &program, &diags);
        for (const pp::Diagnostic& d : diags) errors += pp::formatDiagnostic(d) + "\n";
    }
    ~Compiled() { xbc::freeProgram(&program); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
};

}  // namespace xb::test
