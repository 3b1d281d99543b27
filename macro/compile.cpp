// The compile driver: trims the text into a private work copy, tokenizes
// it, parses it and generates the code, then frees everything but the code.
#include <cstring>

#include "macro/compiler.h"
#include "macro/lexer.h"
#include "macro/node.h"
#include "base/memory.h"
#include "vm/opcodes.h"

namespace xb {

namespace {

// One compile at a time: the compiler runs no pcode, so compiles never nest.
macro::MacroToken tokens[macro::TOKEN_ARRAY_SIZE];

}  // namespace

uint8_t* compileMacro(const char* text, uint32_t length, uint32_t* codeLength, bool storeMode) {
    *codeLength = 0;
    const void* nul = std::memchr(text, 0, length);
    if (nul) length = uint32_t(static_cast<const char*>(nul) - text);
    uint32_t from = 0;
    while (from < length && (text[from] == ' ' || text[from] == '\t')) ++from;
    while (length > from && (text[length - 1] == ' ' || text[length - 1] == '\t')) --length;
    uint32_t n = length - from;
    // the work copy: a static buffer for the usual short texts
    static char shortWork[1024];
    char* work = n < sizeof shortWork ? shortWork : static_cast<char*>(memAlloc(n + 1));
    std::memcpy(work, text + from, n);
    work[n] = 0;

    uint8_t* code = nullptr;
    if (macro::tokenize(work, tokens)) {
        if (macro::Node* root = macro::parseMacro(tokens)) {
            macro::CodeBuffer out{};
            bool ok = macro::generateRoot(&out, root, storeMode);
            macro::releaseTree(root);
            macro::emitByte(&out, OP_ENDPROC);
            if (ok && !out.tooLong) {
                code = out.data;
                *codeLength = out.length;
            } else if (out.data) {
                memFree(out.data);
            }
        }
    }
    if (work != shortWork) memFree(work);
    return code;
}

}  // namespace xb
