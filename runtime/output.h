// The output channels of a process without a screen: the error output (the
// log "Error.txt" beside the executable plus a message box per piece),
// standard output, and the console layer's start and stop events.
#pragma once
#include <cstdint>

namespace xb {

constexpr uint16_t EVENT_START = 0x510B;  // told to the console and database layers at start-up
constexpr uint16_t EVENT_STOP = 0x510C;   // and at shutdown

// What the colour function and SET(15) report, whatever was asked.
inline constexpr char kColourText[] = "W/N,N/W,N/N,N/N,N/W";

// Output initialisation: the log flag on, both output handles the
// standard-output handle.
void outputStart();

// One write to the error output. Before outputStart() the text goes to the
// second output handle only. Afterwards: the first write of the run creates
// the log anew, later writes append to it; every piece but a bare CR LF is
// also shown in a message box (caption "Error", stop icon, system modal).
void errorOutput(const char* text, uint32_t n);
// The same text to the standard-output handle taken at start-up.
void standardOutput(const char* text, uint32_t n);

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
