// The expression shell: a small module (written in the assembler's text)
// becomes the program's main module, so the full runtime starts and stops
// around the expressions as around any program. Each expression is compiled
// and evaluated by the macro opcode inside XBLINE and its value shown in the
// form QOUT uses, on standard output.
//
// -e  every expression is checked first; one that does not compile prints
//     "syntax error" on standard error and the run ends with exit code 2
//     before anything is evaluated. A run-time error goes to the default
//     error handler as in any program (report, exit code 1).
// -i  one expression per line of standard input (a prompt when it is a
//     terminal), memory variables kept between lines. A line that does not
//     compile prints "syntax error" on standard error. Each line runs under
//     the shell's own error block, which hands the error to the block that
//     was in force (so the report is the default one, and a division by
//     zero still gives 0), but turns the default handler's quit into a
//     BREAK to the line's recovery point: only the line ends, and the error
//     level is put back as it was before the line.
#include "tools/xbrun_shell.h"

#include <cstring>
#include <string>
#include <vector>

#include "vm/function.h"
#include "image/startup.h"
#include "vm/symbols.h"
#include "macro/compiler.h"
#include "macro/run.h"
#include "modules/modules.h"
#include "platform/platform.h"
#include "runtime/display.h"
#include "runtime/errorsys.h"
#include "base/memory.h"
#include "tools/asm/assembler.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb::shell {

namespace {

const char SHELL_MODULE[] = R"(module XBSHELL
symbol XBSHELL proc
symbol XBLINE proc
symbol __XBSHELLRUN
symbol __XBSHELLSHOW
proc XBSHELL
    PUSHSYMNIL __XBSHELLRUN
    DO 0
    ENDPROC
end
proc XBLINE
    FRAME 1 0
    SEQBEGIN recover
    PUSHSYMNIL __XBSHELLSHOW
    PUSHLOCAL 1
    MACROEVAL
    DO 1
    SEQEND
    JUMP out
recover:
    NOP
out:
    ENDPROC
end
)";

bool interactive = false;
std::vector<std::string> expressions;
pcasm::AsmModule module;
ImageModule image[1 + modules::STANDARD_MODULE_COUNT];
Item* previousBlock = nullptr;  // the error block the shell's own one hands errors to

void write(os::Handle h, const char* text, uint32_t n) {
    uint32_t done;
    os::writeFile(h, text, n, &done);
}
void write(os::Handle h, const std::string& s) { write(h, s.data(), uint32_t(s.size())); }

bool compiles(const std::string& text) {
    uint32_t start, length;
    if (plainIdentifier(text.data(), uint32_t(text.size()), &start, &length)) return true;
    uint32_t n;
    uint8_t* code = compileMacro(text.data(), uint32_t(text.size()), &n, false);
    if (!code) return false;
    memFree(code);
    return true;
}

// XBLINE(text) from native code.
void evaluateLine(const std::string& text) {
    pushSymbol(findSymbol("XBLINE"));
    pushNil();
    pushString(text.data(), uint32_t(text.size()));
    callProc(1);
}

// Reads standard input up to the next line end; false at the end of input
// with nothing read.
bool readLine(std::string* line) {
    static std::string pending;
    static bool ended = false;
    line->clear();
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            *line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            break;
        }
        if (ended) {
            if (pending.empty()) return false;
            *line = pending;
            pending.clear();
            break;
        }
        char buf[4096];
        uint32_t got = 0;
        if (!os::readFile(os::stdInput(), buf, sizeof buf, &got) || got == 0) ended = true;
        else pending.append(buf, got);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

bool blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

void runInteractive() {
    // the shell's error block, in front of the one in force
    const char blockText[] = "{|e| __XBSHELLERR(e)}";
    previousBlock = tempAlloc();
    if (const Item* b = currentErrorBlock()) *previousBlock = *b;
    pushString(blockText, sizeof blockText - 1);
    if (macroRun(false) == 0) setErrorBlock(vm.top);
    --vm.top;
    bool prompt = os::isTerminal(os::stdInput());
    std::string line;
    for (;;) {
        if (prompt) write(os::stdOutput(), "> ", 2);
        if (!readLine(&line)) break;
        if (blank(line)) continue;
        if (!compiles(line)) {
            write(os::stdError(), "syntax error\n");
            continue;
        }
        evaluateLine(line);
    }
    if (prompt) write(os::stdOutput(), "\n", 1);
}

void runExpressions() {
    for (const std::string& e : expressions) {
        if (!compiles(e)) {
            write(os::stdError(), "syntax error\n");
            setErrorLevel(2);
            return;
        }
    }
    for (const std::string& e : expressions) evaluateLine(e);
}

void bindShellModule() { pcasm::bindModule(&module); }

// The default handler's quit, while the shell's block hands an error on:
// an unwinding that ends at the line's recovery point.
XB_NATIVE(fnShellQuit, "__XBSHELLQUIT") {
    vm.callResult = ST_UNWIND;
    return ST_UNWIND;
}

}  // namespace

XB_NATIVE(fnXbShellRun, "__XBSHELLRUN") {
    if (interactive) runInteractive();
    else runExpressions();
    return 0;
}

// __XBSHELLSHOW(value): the value in the display form of QOUT, one line.
XB_NATIVE(fnXbShellShow, "__XBSHELLSHOW") {
    Item* v = paramItem(1, M_ANY);
    Item nil{};
    DisplayText t = displayText(v ? derefItem(v) : &nil);
    std::string out(t.text, t.length);
    out += '\n';
    write(os::stdOutput(), out);
    return 0;
}

XB_NATIVE(fnXbShellErr, "__XBSHELLERR") {
    Item* e = paramItem(1, M_ANY);
    GlobalSymbol* quit = findSymbol("__QUIT");
    const Function* savedQuit = quit ? quit->function : nullptr;
    int16_t savedLevel = errorLevel();
    if (quit) quit->function = &fnShellQuit;
    Item error = e ? *e : Item{};
    uint16_t r = (previousBlock->type & T_BLOCK) ? evalBlock1(previousBlock, &error) : ST_UNWIND;
    if (quit) quit->function = savedQuit;
    if (r == ST_UNWIND) {
        setErrorLevel(savedLevel);
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    return 0;  // the handed-on block's answer is in the return Item
}

void run(int argc, char** argv) {
    interactive = std::strcmp(argv[1], "-i") == 0;
    if (interactive ? argc != 2 : argc < 3) {
        write(os::stdError(), "xbrun: usage: xbrun -e EXPRESSION [EXPRESSION...] | xbrun -i\n");
        os::exitProcess(2);
    }
    for (int i = 2; i < argc; ++i) expressions.emplace_back(argv[i]);
    pcasm::AsmError error{};
    if (!pcasm::assemble(SHELL_MODULE, sizeof SHELL_MODULE - 1, &module, &error)) {
        write(os::stdError(), std::string("xbrun: shell module: ") + error.message + "\n");
        os::exitProcess(2);
    }
    image[0] = pcasm::moduleImage(module);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image[1 + i] = modules::imageModule(*standard[i]);
    setImage(image, 1 + modules::STANDARD_MODULE_COUNT);
    afterSymbolRegistration = bindShellModule;
    processEntry("xbrun");
}

}  // namespace xb::shell
