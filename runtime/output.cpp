#include "runtime/output.h"

#include <cstring>

#include "platform/line_end.h"
#include "platform/platform.h"
#include "runtime/files.h"
#include "runtime/setkey.h"
#include "runtime/settings_block.h"
#include "runtime/terminal_text.h"

namespace xb {

namespace {

constexpr uint32_t LOG_NAME_MAX = 260;

// The output channels' state. outputReset puts it back as before start-up,
// all but what the program configured: console or window, and the
// executable whose folder holds the error log.
struct OutputState {
    bool logToFile = false;
    bool consoleProgram = false;
    bool firstWrite = true;
    bool logUsable = false;
    char logName[LOG_NAME_MAX + 1]{};
    os::Handle standardHandle = 1;
    os::Handle plainHandle = 2;  // where the error output goes before start-up
    const char* logOwner = nullptr;  // null: the running executable
    bool lineOpen = false;           // the last text written to standard output did not end a line

    // The box text needs its terminating zero; the channel may be the one
    // that reports memory exhaustion, so it never allocates.
    char boxText[8192]{};
};
OutputState output;
// Writes with the 16-bit file write, a piece at a time. An empty text writes
// nothing (a zero-length write would truncate the file).
void writeRaw(os::Handle h, const char* text, uint32_t n) {
    while (n > 0) {
        uint16_t piece = n > 0xFFF0u ? uint16_t(0xFFF0u) : uint16_t(n);
        uint16_t done = fsWrite(h, text, piece);
        if (done == 65535 || done == 0) return;
        text += done;
        n -= done;
    }
}

// Standard output and error reach a UTF-8 terminal converted (a piece at a
// time through a buffer on the stack: no allocation here either).
void writeAll(os::Handle h, const char* text, uint32_t n) {
    if (!convertsForDisplay(h)) {
        writeRaw(h, text, n);
        return;
    }
    char piece[3 * 512];
    while (n > 0) {
        uint32_t take = n > 512 ? 512 : n;
        writeRaw(h, piece, cp1252ToUtf8(text, take, piece));
        text += take;
        n -= take;
    }
}

void appendToLog(const char* text, uint32_t n) {
    os::Handle h = os::INVALID;
    if (output.firstWrite) {
        output.firstWrite = false;
        char path[LOG_NAME_MAX + 1];
        int length = output.logOwner ? int(std::strlen(output.logOwner)) : os::moduleFileName(path, int(sizeof path));
        const char* owner = output.logOwner ? output.logOwner : path;
        output.logUsable = length > 0 && length < int(sizeof path) - 1 && errorLogName(owner, output.logName, sizeof output.logName);
        if (output.logUsable) h = fsCreate(output.logName, 0);
    } else if (output.logUsable) {
        h = fsOpen(output.logName, FO_READWRITE);
    }
    if (h == os::INVALID) return;
    fsSeek(h, 0, os::FROM_END);
    writeRaw(h, text, n);
    fsClose(h);
}

}  // namespace

MessageBoxFunction outputMessageBox = os::messageBox;

void showBox(const char* text, uint32_t n, const char* caption, uint32_t style) {
    if (n >= sizeof output.boxText) n = sizeof output.boxText - 1;
    std::memcpy(output.boxText, text, n);
    output.boxText[n] = 0;
    outputMessageBox(output.boxText, caption, style);
}

bool errorLogName(const char* executablePath, char* out, uint32_t size) {
    static const char fileName[] = "Error.txt";
    while (*executablePath == ' ') ++executablePath;
    size_t n = std::strlen(executablePath);
    size_t prefix = 0;
    for (size_t i = n; i > 0; --i)
        if (executablePath[i - 1] == '\\' || executablePath[i - 1] == '/') {
            prefix = i;
            break;
        }
    if (prefix == 0 && n >= 2 && executablePath[1] == ':') prefix = 2;
    if (prefix + sizeof fileName > size) return false;
    std::memcpy(out, executablePath, prefix);
    std::memcpy(out + prefix, fileName, sizeof fileName);
    return true;
}

void outputStart() {
    output.logToFile = true;
    output.standardHandle = output.plainHandle = os::stdOutput();
    if (output.consoleProgram) output.plainHandle = os::stdError();
}

bool standardOutputLineOpen() { return output.lineOpen; }

void outputSetConsole(bool console) { output.consoleProgram = console; }
bool outputIsConsole() { return output.consoleProgram; }

void consoleOutput(const char* text, uint32_t n) {
    if (!output.consoleProgram) {
        showBox(text, n, "QOUT", 0);
        return;
    }
    standardOutput(text, n);
}

void consoleNewLine() {
    if (output.consoleProgram) standardOutput(os::LINE_END, uint32_t(sizeof os::LINE_END - 1));
}

void outputSetLogOwner(const char* executablePath) { output.logOwner = executablePath; }

void outputReset() {
    bool console = output.consoleProgram;
    const char* owner = output.logOwner;
    output = OutputState{};
    output.consoleProgram = console;
    output.logOwner = owner;
}

void errorOutput(const char* text, uint32_t n) {
    // The channel must not disturb the file error of the operation that is
    // being reported.
    FileErrorState saved = fileErrorState();
    if (!output.logToFile) {
        writeAll(output.plainHandle, text, n);
        fileErrorState() = saved;
        return;
    }
    appendToLog(text, n);
    if (output.consoleProgram) {
        writeAll(output.plainHandle, text, n);
        fileErrorState() = saved;
        return;
    }
    fileErrorState() = saved;
    if (!(n == 2 && text[0] == '\r' && text[1] == '\n')) showBox(text, n, "Error", 0x1010);
}

void standardOutput(const char* text, uint32_t n) {
    FileErrorState saved = fileErrorState();
    if (n) output.lineOpen = text[n - 1] != '\n';
    writeAll(output.standardHandle, text, n);
    fileErrorState() = saved;
}

void consoleEvent(uint16_t code) {
    if (code == EVENT_START) {
        settingsConsoleStart();
    } else if (code == EVENT_STOP) {
        releaseKeyBlocks();
        settingsConsoleStop();
    }
}

}  // namespace xb
