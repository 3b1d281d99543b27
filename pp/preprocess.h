// The preprocessor: one source file's text in, logical lines out.
//
// It reads the text as Windows-1252 (a file that is valid UTF-8 and has
// non-ASCII bytes is converted first), blanks comments (// ... , /* ... */,
// && ..., and * or NOTE starting a statement) so that columns of untouched
// lines still match the source, joins a line ending in ';' with the next,
// carries out the directives (#define, #undef, #ifdef/#ifndef/#else/#endif,
// #include, #error, #command/#xcommand/#translate/#xtranslate) and applies
// the rules to every statement until it no longer changes. The standard
// header, carried inside the program, is read first unless turned off.
//
// Owners: everything returned belongs to the caller; nothing is kept between
// calls (each call starts from the standard header's rules and the options'
// definitions).
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pp/diagnostic.h"

namespace xb::pp {

// One logical line, ready for the compiler. Its text may hold several
// statements separated by ';' outside string literals (a rule's result can
// make several); directives and comment-only lines produce no Line.
struct Line {
    std::string file;       // the file it was read from
    int line = 0;           // its first physical line, 1-based
    std::string text;       // Windows-1252, no line breaks
    bool expanded = false;  // a definition or rule changed it: its columns no longer match the source
};

struct Options {
    std::vector<std::string> includeDirs;  // -I folders, searched after the including file's folder
    bool standardHeader = true;            // read the carried standard header first
    std::vector<std::pair<std::string, std::string>> defines;  // NAME, text (as #define NAME text)
    // Reads a whole file for #include; false when it cannot be read. When
    // empty, every #include fails with an error naming the file.
    std::function<bool(const std::string& path, std::string* contents)> readFile;
};

// Preprocesses text, the contents of the file named fileName. Appends the
// logical lines to *out and every error and warning to *diags (at most
// MAX_ERRORS_PER_FILE errors per file). True when no error was reported.
bool preprocess(const std::string& text, const std::string& fileName, const Options& options,
                std::vector<Line>* out, std::vector<Diagnostic>* diags);

}  // namespace xb::pp
