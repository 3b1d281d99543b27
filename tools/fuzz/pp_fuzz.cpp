// libFuzzer target for the preprocessor alone: the input is source text,
// read after the standard header. An #include of any name reads the input
// itself again (so rules, definitions and nesting limits meet fuzzed text
// twice). Every input must end with a result and diagnostics, never a crash,
// a hang or a read out of bounds; the lines it gives must not hold line
// breaks, and a failure must come with at least one error.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pp/preprocess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    xb::pp::Options options;
    options.includeDirs = {"inc"};
    options.defines = {{"FUZZ", "1"}};
    int reads = 0;
    options.readFile = [&text, &reads](const std::string& path, std::string* contents) {
        if (path.rfind("inc/", 0) != 0 || ++reads > 4) return false;
        *contents = text;
        return true;
    };
    std::vector<xb::pp::Line> lines;
    std::vector<xb::pp::Diagnostic> diags;
    bool ok = xb::pp::preprocess(text, "fuzz.prg", options, &lines, &diags);
    bool anyError = false;
    for (const xb::pp::Diagnostic& d : diags) anyError = anyError || !d.warning;
    if (!ok && !anyError) std::abort();
    for (const xb::pp::Line& l : lines)
        if (l.text.find('\n') != std::string::npos || l.line < 1) std::abort();
    return 0;
}
