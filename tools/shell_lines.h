// The shell's lines: one line of source text becomes a procedure of its own
// module, registered with the running program, so statements, commands and
// expressions run through the preprocessor and the source compiler exactly
// as in a program file.
//
// Memory variables assigned in a line without a declaration must outlive the
// line's procedure (a private would be released when it returns), so each
// name the line assigns that has no variable yet is made PUBLIC (NIL) before
// the line runs, and a line that starts with PRIVATE declares PUBLIC
// variables. A LOCAL declared in a line lasts only for that line; statics
// and procedure definitions are refused.
//
// Owners: every compiled line's module is kept until the process ends, since
// strings and codeblocks made by a line point into its pcode.
#pragma once
#include <string>

#include "vm/symbol.h"

namespace xb::shell {

struct CompiledLine {
    GlobalSymbol* procedure = nullptr;  // the line's procedure; null when it did not compile
    bool expression = false;            // a bare expression: its value is the procedure's result
    int column = 0;                     // on failure: 1-based column of the fault in the line, 0 unknown
    std::string message;                // on failure: what is wrong
};

// Compiles and registers one line (no line breaks). Call only while the
// runtime is running. A line is an expression when the preprocessor leaves
// it unchanged, it is not an assignment, and it compiles as a value.
CompiledLine compileLine(const std::string& line);

// True when text starts with a name followed by an assignment operator
// (:= = += -= *= /= ^= %= ++ --), which makes it a statement.
bool looksLikeAssignment(const std::string& text);

}  // namespace xb::shell
