// The run-time side of the macro compiler: compile-and-run of the text on
// top of the evaluation stack, the &name text substitution, and the
// plain-identifier test behind the fast paths of the macro opcodes (a text
// that only names a variable is never compiled).
#pragma once
#include <cstdint>

#include "vm/interp.h"

namespace xb {

// Status words of the macro opcodes (operation "&"), packed as every
// handler's error word is (errorWord, vm/interp.h).
constexpr OpErrorWord MACRO_SYNTAX_ERROR = errorWord(1449, 1, true);           // 7, one operand, can substitute
constexpr OpErrorWord MACRO_SYNTAX_ERROR_NOSUBST = errorWord(1449, 1, false);  // the same without can-substitute
constexpr OpErrorWord MACRO_ARGUMENT_ERROR = errorWord(1065, 1, true);         // 1, one operand, can substitute
constexpr OpErrorWord MACRO_ARGUMENT_ERROR2 = errorWord(1065, 2, true);        // two operands
constexpr OpErrorWord MACRO_ARGUMENT_ERROR_NOSUBST = errorWord(1065, 1, false);
constexpr OpErrorWord TYPE_ARGUMENT_ERROR = errorWord(1121, 1, true);          // operation "TYPE"
static_assert(opStatus(MACRO_SYNTAX_ERROR) == 0x89C1 && opStatus(MACRO_ARGUMENT_ERROR2) == 0x9041 &&
                  opStatus(TYPE_ARGUMENT_ERROR) == 0x8879,
              "macro status words");

// Compiles the String on top, runs it and leaves its one result in the
// text's place (storeMode: the text and the value under it are consumed and
// nothing is left). Returns 0, or the status of the failed compile (the top
// Item then holds that status as an Integer) or of the run.
uint16_t macroRun(bool storeMode);

// Expands the &name references of the String on top in place (references
// inside inserted text too). 0, or MACRO_SYNTAX_ERROR when the expansion
// would pass MACRO_TEXT_MAX bytes or MACRO_SUBSTITUTIONS_MAX steps, which
// stops a text that keeps re-inserting its own reference.
constexpr uint32_t MACRO_TEXT_MAX = 65535;
constexpr uint32_t MACRO_SUBSTITUTIONS_MAX = 4096;
uint16_t substituteTop();

// A plain identifier: optional blanks or tabs, one of _ @ A-Z a-z, then
// those and digits, optional blanks or tabs. On true, *start and *length
// give the name inside text.
bool plainIdentifier(const char* text, uint32_t n, uint32_t* start, uint32_t* length);

// Set while TYPE() evaluates: an undefined plain name gives NIL.
extern bool macroUndefinedIsNil;

// For a host that carries on after a fatal error ended a run abruptly (the
// fuzz harness): frees the code of every macro run that was in progress and
// clears the TYPE flag. Never called while a run is in progress.
void macroRunsAbandoned();

}  // namespace xb
