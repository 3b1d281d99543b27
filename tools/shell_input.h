// Where the shell's lines come from. On a terminal, with libedit built in,
// lines are read with editing and a history of the session (the arrow keys
// recall earlier lines); otherwise, or without a terminal, plain lines from
// standard input (a prompt only on a terminal). Lines typed on a terminal
// whose display is converted (runtime/terminal_text.h) arrive as UTF-8 and
// are turned into Windows-1252.
#pragma once
#include <string>

namespace xb::shell {

struct LineReader {
    // The next line without its line end; false at the end of input.
    bool (*next)(LineReader* self, std::string* line);
    void (*close)(LineReader* self);
    bool prompting;  // a prompt is shown (standard input is a terminal)
    bool editing;    // lines come through libedit
};

LineReader openLineReader();

}  // namespace xb::shell
