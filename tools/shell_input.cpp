// The shell's line sources (see shell_input.h).
#include "tools/shell_input.h"

#include <cstdlib>

#include "platform/platform.h"
#include "runtime/terminal_text.h"

#ifdef XB_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace xb::shell {

namespace {

const char PROMPT[] = "> ";

void write(const char* text, uint32_t n) {
    uint32_t done;
    os::writeFile(os::stdOutput(), text, n, &done);
}

void stripCarriageReturn(std::string* line) {
    if (!line->empty() && line->back() == '\r') line->pop_back();
}

std::string pending;
bool ended = false;

bool nextPlain(LineReader* self, std::string* line) {
    if (self->prompting) write(PROMPT, sizeof PROMPT - 1);
    line->clear();
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            *line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            break;
        }
        if (ended) {
            if (pending.empty()) {
                if (self->prompting) write("\n", 1);
                return false;
            }
            *line = pending;
            pending.clear();
            break;
        }
        char buf[4096];
        uint32_t got = 0;
        if (!os::readFile(os::stdInput(), buf, sizeof buf, &got) || got == 0) ended = true;
        else pending.append(buf, got);
    }
    stripCarriageReturn(line);
    if (self->prompting && convertsForDisplay(os::stdOutput())) *line = utf8ToCp1252(*line);
    return true;
}

void closePlain(LineReader*) {}

#ifdef XB_HAVE_LIBEDIT
bool nextEdited(LineReader*, std::string* line) {
    char* got = readline(PROMPT);
    if (!got) {
        write("\n", 1);
        return false;
    }
    *line = got;
    if (line->find_first_not_of(" \t") != std::string::npos) add_history(got);
    std::free(got);
    stripCarriageReturn(line);
    if (convertsForDisplay(os::stdOutput())) *line = utf8ToCp1252(*line);
    return true;
}
#endif

}  // namespace

LineReader openLineReader() {
    LineReader r{nextPlain, closePlain, os::isTerminal(os::stdInput()), false};
#ifdef XB_HAVE_LIBEDIT
    if (r.prompting && os::isTerminal(os::stdOutput()) && !std::getenv("XB_NO_EDITING")) {
        r.next = nextEdited;
        r.editing = true;
    }
#endif
    return r;
}

}  // namespace xb::shell
