// The process's entry and its only way out: the start-up sequence, the run
// of the initialisation procedures and the main procedure, and the shutdown
// sequence that every way out (the main procedure returning, __QUIT, a fatal
// error) passes through.
#pragma once
#include <cstdint>

namespace xb {

// The executable's entry: start-up, command line, run, exit. commandLine
// null means the operating system's (GetCommandLineA). Never returns.
[[noreturn]] void processEntry(const char* commandLine = nullptr);

// The start-up sequence; 0 on success, 1 when the private heap cannot be made.
int initialiseRuntime();
// Runs the initialisation procedures: every STATICS$, then every CLIPINIT$,
// then the others, each pass from the last registered to the first.
void runInitProcedures();
// Runs the initialisation procedures (three passes), the help hook, and
// _APPMAIN or the first procedure of the first module. Returns 0.
int runProgram();
// Shutdown, then the process ends: with the error level when code is 0 and
// shutdown completed, else with 1.
[[noreturn]] void exitProgram(uint16_t code);
// The shutdown sequence; returns code, or 1 when it was aborted (entered a
// fourth time).
uint16_t shutdownRuntime(uint16_t code);

// Splits a command line into parameters. Quoted parameters keep their
// quotes and end at the closing quote; others end at a blank or tab; the
// blanks and tabs after a parameter are skipped, but not those at the very
// start. With out null only counts; otherwise fills out[0..count) with
// memAlloc'd copies. Returns the count.
uint16_t splitCommandLine(const char* line, char** out);

// What follows the first parameter of line and the blanks after it (a
// runner hands the rest of its own command line to the program it runs).
const char* skipParameter(const char* line);

// The parameters of the run (element 0 the program as written).
uint16_t commandLineCount();
char** commandLineArgs();
// A runtime switch is never passed to the program: its first or second
// character is a slash.
bool isRuntimeSwitch(const char* argument);

int16_t errorLevel();
void setErrorLevel(int16_t level);

// Called between the registration of the module tables and the rest of the
// start-up (the runner binds its assembled module there). May be null.
extern void (*&afterSymbolRegistration)();

}  // namespace xb
