// The output channels of a process without a screen: the error output (the
// log "Error.txt" beside the executable plus a message box per piece),
// standard output, the console output of QOUT and QQOUT, and the console
// layer's start and stop events.
//
// Two forms of process: the windowed product (the default) shows console
// output and every piece of error output in message boxes; a console
// program (the runner, the table tool, executables made by the compiler
// driver without --gui) writes console output to standard output and error
// output to standard error instead of the boxes. The log is written the same
// way in both.
#pragma once
#include <cstdint>

namespace xb {

constexpr uint16_t EVENT_START = 0x510B;  // told to the console and database layers at start-up
constexpr uint16_t EVENT_STOP = 0x510C;   // and at shutdown

// What the colour function and SET(15) report, whatever was asked.
inline constexpr char kColourText[] = "W/N,N/W,N/N,N/N,N/W";

// Output initialisation: the log flag on, both output handles the
// standard-output handle (a console program: the error output's handle is
// standard error).
void outputStart();

// Chooses the form of the process; set before start-up. Off by default.
void outputSetConsole(bool console);
bool outputIsConsole();

// Console output (QOUT, QQOUT): a console program writes the text to
// standard output; the windowed product shows it in a box captioned "QOUT"
// (up to the text's first zero byte).
void consoleOutput(const char* text, uint32_t n);
// The new-line step of QOUT: a console program starts a new line on
// standard output (the target's line end); the windowed product has nothing
// to move.
void consoleNewLine();

// One write to the error output. Before outputStart() the text goes to the
// second output handle only. Afterwards: the first write of the run creates
// the log anew, later writes append to it; every piece but a bare CR LF is
// also shown in a message box (caption "Error", stop icon, system modal),
// or, in a console program, every piece is written to standard error.
void errorOutput(const char* text, uint32_t n);
// The same text to the standard-output handle taken at start-up.
void standardOutput(const char* text, uint32_t n);
// True when the last text standard output got did not end with a line end
// (a host that writes its own lines, the shell, ends the line first).
bool standardOutputLineOpen();

// The log's full name for an executable path: its drive and directory plus
// "Error.txt". False when the name would not fit in size bytes.
bool errorLogName(const char* executablePath, char* out, uint32_t size);

// How boxes are shown; tests replace it to see them.
using MessageBoxFunction = void (*)(const char* text, const char* caption, uint32_t style);
extern MessageBoxFunction outputMessageBox;
// Shows n bytes of text (up to a zero byte) in a box.
void showBox(const char* text, uint32_t n, const char* caption, uint32_t style);

// The console layer's events (EVENT_START, EVENT_STOP).
void consoleEvent(uint16_t code);

// Back to the state before start-up (tests): log flag clear, next write first.
void outputReset();
// Names the log after this path instead of the running executable's, so
// that test processes running side by side each have their own Error.txt;
// null goes back to the executable. The text must outlive the setting.
void outputSetLogOwner(const char* executablePath);

}  // namespace xb
