// The shell: a small module (written in the assembler's text) becomes the
// program's main module, so the full runtime starts and stops around the
// shell's work as around any program.
//
// -e  every expression is compiled by the macro compiler and checked first;
//     one that does not compile prints "syntax error" on standard error and
//     the run ends with exit code 2 before anything is evaluated. Each is then
//     evaluated by the macro opcode inside XBLINE and its value shown on
//     standard output (tools/shell_echo.h). A run-time error goes to the
//     default error handler as in any program (report, exit code 1).
// -i  one line at a time (tools/shell_input.h: libedit on a terminal, plain
//     lines otherwise). `help` and `quit` are the shell's own; any other line
//     goes through the preprocessor and the source compiler into a procedure
//     of its own (tools/shell_lines.h), run by XBSTMT through __XBSHELLCALL,
//     which shows the value of a bare expression. A line that does not
//     compile is shown with a caret under the column and the message on
//     standard error. Each line runs under the shell's own error block, which
//     hands the error to the block that was in force (so the report is the
//     default one, and a division by zero still gives 0), but turns the
//     default handler's quit into a BREAK to the line's recovery point: only
//     the line ends, and the error level is put back as it was before the
//     line. The shell's frames are hidden from reports and PROCNAME
//     (vm/procname.h).
#include "tools/xbrun_shell.h"

#include <cctype>
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
#include "runtime/output.h"
#include "tools/asm/assembler.h"
#include "tools/shell_echo.h"
#include "tools/shell_input.h"
#include "tools/shell_lines.h"
#include "runtime/terminal_text.h"
#include "vm/procname.h"
#include "vm/vm.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/stack.h"

namespace xb::shell {

namespace {

const char SHELL_MODULE[] = R"(module XBSHELL
symbol XBSHELL proc
symbol XBLINE proc
symbol XBSTMT proc
symbol __XBSHELLCALL
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
proc XBSTMT
    FRAME 1 0
    SEQBEGIN recover
    PUSHSYMNIL __XBSHELLCALL
    PUSHLOCAL 1
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

bool blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

const char HELP[] =
    "Type a statement, a command or an expression and press Enter; several\n"
    "statements go on one line separated by ';' (FOR i := 1 TO 3 ; ? i ; NEXT).\n"
    "The value of an expression is shown; variables assigned without a\n"
    "declaration are public and stay from line to line.\n"
    "\n"
    "Commands:   ? ??  USE  LIST  DISPLAY  APPEND BLANK  REPLACE  DELETE  RECALL\n"
    "            PACK  ZAP  GO  SKIP  LOCATE  CONTINUE  SEEK  INDEX ON  SET INDEX\n"
    "            SET ORDER  REINDEX  SELECT  CLOSE  COPY TO  APPEND FROM  STORE\n"
    "            PUBLIC  PRIVATE  IF  DO CASE  DO WHILE  FOR  BEGIN SEQUENCE  QUIT\n"
    "Functions:  text       LEN SUBSTR LEFT RIGHT UPPER LOWER TRIM ALLTRIM PADR AT\n"
    "            numbers    ABS INT ROUND STR VAL MAX MIN MOD\n"
    "            dates      DATE CTOD DTOC DTOS YEAR MONTH DAY TIME SECONDS\n"
    "            arrays     ARRAY AADD ASIZE ASCAN ASORT AEVAL ACLONE\n"
    "            tables     RECNO RECCOUNT EOF BOF FOUND DELETED FIELDNAME ALIAS\n"
    "            values     TYPE VALTYPE EMPTY IIF EVAL\n"
    "            files      FILE FERASE FRENAME MEMOREAD MEMOWRIT DIRECTORY\n"
    "Shell:      help   this text       quit   leave the shell\n";

CompiledLine current;

bool shellWord(const std::string& line, const char* word) {
    size_t a = line.find_first_not_of(" \t");
    size_t b = line.find_last_not_of(" \t");
    if (a == std::string::npos) return false;
    std::string w = line.substr(a, b - a + 1);
    if (w.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < w.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(w[i])) != word[i]) return false;
    return true;
}

// XBSTMT() from native code: runs `current` under the line's recovery point.
void runCompiledLine() {
    pushSymbol(findSymbol("XBSTMT"));
    pushNil();
    pushNil();
    callProc(1);
}

void reportCompileError(const std::string& line, const CompiledLine& c) {
    std::string text;
    if (c.column > 0) {
        text = line + "\n" + std::string(size_t(c.column - 1), ' ') + "^\n";
        text += "error at column " + std::to_string(c.column) + ": " + c.message + "\n";
    } else {
        text = "error: " + c.message + "\n";
    }
    write(os::stdError(), displayForTerminal(os::stdError(), text));
}

void runInteractive() {
    // the shell's error block, in front of the one in force
    const char blockText[] = "{|e| __XBSHELLERR(e)}";
    previousBlock = tempAlloc();
    if (const Item* b = currentErrorBlock()) *previousBlock = *b;
    pushString(blockText, sizeof blockText - 1);
    if (macroRun(false) == 0) setErrorBlock(vm.top);
    --vm.top;
    LineReader reader = openLineReader();
    std::string line;
    while (reader.next(&reader, &line)) {
        if (blank(line)) continue;
        if (shellWord(line, "quit") || shellWord(line, "exit")) break;
        if (shellWord(line, "help")) {
            standardOutput(HELP, sizeof HELP - 1);
            continue;
        }
        current = compileLine(line);
        if (!current.procedure) {
            reportCompileError(line, current);
            continue;
        }
        runCompiledLine();
    }
    reader.close(&reader);
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
    std::string out = echoText(v ? derefItem(v) : &nil);
    out += '\n';
    standardOutput(out.data(), uint32_t(out.size()));
    return 0;
}

// __XBSHELLCALL(): runs the current line's procedure with the shell's frames
// hidden from reports, and shows its value when the line is an expression.
XB_NATIVE(fnXbShellCall, "__XBSHELLCALL") {
    uint32_t savedFloor = hiddenFrameFloor, savedCaller = hiddenFrameCaller;
    hiddenFrameFloor = hiddenFrameCaller = slotOf(vm.frame);
    pushSymbol(current.procedure);
    pushNil();
    uint16_t r = callProc(0);
    hiddenFrameFloor = savedFloor;
    hiddenFrameCaller = savedCaller;
    if (r == ST_UNWIND) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    if (standardOutputLineOpen()) standardOutput("\n", 1);
    if (current.expression) {
        Item value = *returnItem();
        std::string out = echoText(derefItem(&value)) + "\n";
        standardOutput(out.data(), uint32_t(out.size()));
    }
    retNil();
    return 0;
}

XB_NATIVE(fnXbShellErr, "__XBSHELLERR") {
    Item* e = paramItem(1, M_ANY);
    GlobalSymbol* quit = findSymbol("__QUIT");
    const Function* savedQuit = quit ? quit->function : nullptr;
    int16_t savedLevel = errorLevel();
    if (quit) quit->function = &fnShellQuit;
    Item error = e ? *e : Item{};
    // this frame and the shell's block that called it stay out of reports
    uint32_t savedFloor = hiddenFrameFloor, savedCaller = hiddenFrameCaller;
    hiddenFrameFloor = slotOf(vm.frame);
    hiddenFrameCaller = 0;
    uint16_t r = (previousBlock->type & T_BLOCK) ? evalBlock1(previousBlock, &error) : ST_UNWIND;
    hiddenFrameFloor = savedFloor;
    hiddenFrameCaller = savedCaller;
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
