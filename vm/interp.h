// The pcode interpreter: the dispatch loop, the call sequence, codeblock
// evaluation, sequences (BEGIN SEQUENCE / BREAK / RECOVER) and the entry
// points native code uses to call back into pcode.
#pragma once
#include <cstdint>

#include "vm/opcodes.h"
#include "vm/vm.h"

namespace xb {

struct Function;
struct ErrorDescriptor;

using OpHandler = uint16_t (*)();

// One contiguous dispatch array: entries 0..125 are the base table, 126..255
// the extended table (126..207, plus 209 which the class system installs).
// Undefined numbers hold the invalid-opcode handler.
extern OpHandler opTable[256];
inline OpHandler* extTable() { return opTable + 126; }
void installOpHandler(uint8_t op, OpHandler h);
// Fills every number without a handler with the invalid-opcode handler (start-up).
void initDispatch();

// Handler files attach their handlers at static-initialisation time:
//   XB_OPCODE(PUSHNIL) { pushNil(); return 0; }
struct OpRegistration {
    OpRegistration(uint8_t op, OpHandler h);
};
#define XB_OPCODE(NAME)                                               \
    static uint16_t op_##NAME();                                      \
    static ::xb::OpRegistration op_##NAME##_registration(::xb::OP_##NAME, op_##NAME); \
    static uint16_t op_##NAME()
bool hasOpHandler(uint8_t op);
uint16_t invalidOpcode();  // "_0ERR() %lX", then fatal error 999

uint16_t execute(const uint8_t* pcode, ModuleSymbol* moduleSymbols);

enum CallKind : uint8_t { CALL_DO, CALL_FUNC, CALL_SEND, CALL_EVALSEND, CALL_EVALNATIVE };
// The call sequence; the Symbol, the self and n arguments are on the stack.
uint16_t callSequence(uint16_t n, CallKind kind);
uint16_t callProc(uint16_t n);
uint16_t evalSend(uint16_t n);
uint16_t evalBlock(const Item* block);
uint16_t evalBlock1(const Item* block, const Item* arg);
uint16_t callFunction(const Function* f);

// The codeblock evaluation routine (EVALSEND, SEND of EVAL) and the routines
// for symbols without code and messages without methods.
uint16_t blockEvalRoutine();
uint16_t undefinedFunctionRoutine();
uint16_t noMethodRoutine();
extern const Function blockEvalFunction;
extern const Function undefinedFunction;
extern const Function noMethodFunction;

// SEND asks the class layer for the routine; the default knows only EVAL on
// codeblocks.
extern const Function* (*&sendResolver)(GlobalSymbol* message, Item* receiver);
// Set at start-up: the well-known symbol EVAL.
extern GlobalSymbol* evalSymbol;

// Sequences.
using SequenceHandler = void (*)(int event, void* state);
int registerSequenceHandler(SequenceHandler h);
void stackSequenceHandler(int event, void* state);
uint16_t opSeqBegin();
uint16_t opSeqEnd();
uint16_t opBreak();
// Finds the recovery point for depth e; true with *address set when one exists.
bool findRecoveryPoint(uint16_t depth, const uint8_t** address);
void resetSequences();
uint32_t sequenceDepth();
// How an unwinding that meets a finished activation ends the program (QUIT).
extern void (*&quitHook)();
// Variables layer: releases the privates of the returning frame.
extern void (*&releasePrivatesHook)();

// The operator-name table (1..60) used as the operation of handler errors.
const char* operatorName(uint32_t index);

// Reads little-endian operands in place.
inline uint16_t readU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t readI16(const uint8_t* p) { return int16_t(readU16(p)); }
inline uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
// Handlers read their operands with these: the value at pc, pc moved past it.
inline uint8_t fetchU8() { return *vm.pc++; }
inline uint16_t fetchU16() {
    uint16_t v = readU16(vm.pc);
    vm.pc += 2;
    return v;
}
inline int16_t fetchI16() { return int16_t(fetchU16()); }
inline uint32_t fetchU32() {
    uint32_t v = readU32(vm.pc);
    vm.pc += 4;
    return v;
}
// Operand bytes read in place (strings, doubles, code) are stepped over.
inline const uint8_t* fetchBytes(uint32_t n) {
    const uint8_t* p = vm.pc;
    vm.pc += n;
    return p;
}
// A jump: the distance counts from the end of its 16-bit operand.
inline void takeJump() {
    int16_t d = fetchI16();
    vm.pc += d;
}
inline void skipJump() { vm.pc += 2; }

// The error a handler status word describes (severity 2, subsystem "BASE",
// operation from the operator-name table, retry and substitution flags),
// and how many top Items are its operands. The only decoder of the word.
struct ErrorDescriptor;
ErrorDescriptor statusDescriptor(uint16_t word);
constexpr uint16_t statusOperandCount(uint16_t word) { return uint16_t((word >> 11) & 7); }

// A packed handler error word: the subcode's low eleven bits carry the
// operation (bits 0..5) and the general code (bits 6..10); bits 11..13 the
// operand count, bit 14 can-retry, bit 15 can-substitute. A type of its own,
// so that a word is neither built by hand nor taken for a method result or
// an engine code; errorWord is its one builder.
enum class OpErrorWord : uint16_t {};
constexpr OpErrorWord errorWord(uint16_t subcode, uint16_t nargs, bool subst, bool retry = false) {
    return OpErrorWord((subcode - 1000) | (nargs << 11) | (retry ? 0x4000 : 0) | (subst ? 0x8000 : 0));
}
// A handler reports the error by returning the word as its status (handler
// statuses: 0, ST_UNWIND, or an error word).
constexpr uint16_t opStatus(OpErrorWord w) { return uint16_t(w); }

}  // namespace xb
