#include "lib/function_list.h"

#include <cstring>

namespace xb {

namespace {

const FunctionEntry kEntries[] = {
#define XB_FUNCTION(name, group, args, result, errors, summary) {name, #group, args, result, errors, summary},
#include "lib/functions.def"
#undef XB_FUNCTION
};

struct GroupTitle {
    const char* group;
    const char* title;
};
const GroupTitle kGroups[] = {
    {"TEXT", "Text"},
    {"ARRAY", "Arrays and blocks"},
    {"NUMDATE", "Numbers, dates and types"},
    {"ENVFILE", "Environment and files"},
    {"LOWFILE", "Low-level files and the serial port"},
    {"DATABASE", "Work areas and tables"},
    {"ORDER", "Orders (indexes)"},
    {"COMMAND", "Functions the commands call"},
    {"CONSOLE", "Console and keys"},
    {"RUNTIME", "Errors, settings and variables"},
    {"CLASS", "Classes"},
    {"EXTERNAL", "Libraries built the same way"},
};

// Table cells: a | inside would end the cell.
std::string cell(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '|') out += "\\|";
        else out += *p;
    }
    return out;
}

}  // namespace

const FunctionEntry* functionList(uint32_t* count) {
    *count = uint32_t(sizeof kEntries / sizeof kEntries[0]);
    return kEntries;
}

const FunctionEntry* findFunctionEntry(const char* name) {
    for (const FunctionEntry& e : kEntries)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

std::string functionsMarkdown() {
    std::string out =
        "# Functions\n\n"
        "Every native function of the runtime, by group. This page is generated from\n"
        "`lib/functions.def` by `xbfuncdoc` (`xbfuncdoc > docs/functions.md`); a test\n"
        "checks that it is up to date and that the list names exactly the registered\n"
        "functions.\n\n"
        "Arguments in brackets are optional (a default follows the name); `@` passes by\n"
        "reference. In the errors column, \"never\" means the function does not raise;\n"
        "\"BASE n\" is the argument error of general code 1, subsystem BASE, subcode n:\n"
        "the error carries the function's name and its arguments, and a value the\n"
        "error handler substitutes becomes the result. \"35/2001\" is the error of a\n"
        "database function called without a table in the current area.\n";
    for (const GroupTitle& g : kGroups) {
        out += "\n## ";
        out += g.title;
        out += "\n\n| Function | Arguments | Result | Errors | What it does |\n|---|---|---|---|---|\n";
        for (const FunctionEntry& e : kEntries) {
            if (std::strcmp(e.group, g.group) != 0) continue;
            out += "| `" + cell(e.name) + "` | " + cell(e.arguments) + " | " + cell(e.result) + " | " +
                   cell(e.errors) + " | " + cell(e.summary) + " |\n";
        }
    }
    return out;
}

}  // namespace xb
