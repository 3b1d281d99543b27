// Helpers for the preprocessor tests: run text through preprocess() and
// read back the lines or the diagnostics as plain text.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "pp/preprocess.h"

namespace xb::pptest {

struct PpRun {
    bool ok = false;
    std::vector<pp::Line> lines;
    std::vector<pp::Diagnostic> diags;

    // The lines' texts, one per line, separated by "\n".
    std::string text() const {
        std::string s;
        for (size_t i = 0; i < lines.size(); ++i) s += (i ? "\n" : "") + lines[i].text;
        return s;
    }
    std::string errors() const {
        std::string s;
        for (size_t i = 0; i < diags.size(); ++i) s += (i ? "\n" : "") + pp::formatDiagnostic(diags[i]);
        return s;
    }
};

// Preprocesses src as "test.prg"; files holds what #include may read.
inline PpRun runPp(const std::string& src, bool standardHeader = false,
                   const std::map<std::string, std::string>& files = {},
                   const std::vector<std::string>& includeDirs = {}) {
    pp::Options o;
    o.standardHeader = standardHeader;
    o.includeDirs = includeDirs;
    o.readFile = [files](const std::string& path, std::string* contents) {
        auto it = files.find(path);
        if (it == files.end()) return false;
        *contents = it->second;
        return true;
    };
    PpRun r;
    r.ok = pp::preprocess(src, "test.prg", o, &r.lines, &r.diags);
    return r;
}

}  // namespace xb::pptest
