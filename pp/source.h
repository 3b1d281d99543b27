// Source text to logical lines: the character set, comments and ';'
// continuation, before any directive or rule is looked at.
#pragma once
#include <string>
#include <vector>

namespace xb::pp {

// Text that is valid UTF-8 and holds non-ASCII bytes, converted to
// Windows-1252 (characters it lacks become '?'); other text, and a leading
// byte-order mark, as it is (the mark dropped).
std::string toWindows1252(const std::string& text);

struct LogicalLine {
    int line = 0;      // first physical line, 1-based
    std::string text;  // comments blanked, continuation lines appended
};

// Splits text into logical lines: comments (// ..., /* ... */, && ..., and
// a line starting with * or NOTE) become blanks, so the columns of the first
// physical line still match; a line whose last non-blank is ';' is joined
// with the next (the ';' becomes a blank). Every physical line that starts a
// logical line gives one entry, blank or not.
std::vector<LogicalLine> logicalLines(const std::string& text);

}  // namespace xb::pp
