// xbfuncdoc: writes the function reference (docs/functions.md) to standard
// output from the list of native functions.
#include <cstdio>

#include "lib/function_list.h"

int main() {
    std::string page = xb::functionsMarkdown();
    std::fwrite(page.data(), 1, page.size(), stdout);
    return 0;
}
