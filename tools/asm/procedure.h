// Assembles the body of one procedure: instructions, labels, nested
// codeblocks, up to its end. Two drivers share it: the text assembler hands
// it one tokenized line at a time (statement()), the source compiler calls
// the typed builder entries (opPlain, opNumber, opJump, ...) directly, so both get
// the same operand checks, the same bytes and the same jump resolution.
// Every entry returns false with *fail set on the first fault; `line` is
// whatever the driver wants faults to name (a text line, an instruction
// number).
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/asm/lexer.h"
#include "tools/asm/names.h"

namespace xb::pcasm {

struct Failure {
    uint32_t line;
    std::string text;
};

struct ProcXref {
    uint32_t offset;  // within the procedure's code
    std::string name;
};

class ProcAssembler {
public:
    explicit ProcAssembler(const SymbolTable& symbols);

    // One line of the body. Sets *ended after `end`; false with *fail set on
    // the first fault.
    bool statement(uint32_t line, const std::vector<Token>& tokens, bool* ended, Failure* fail);

    // The typed builder. Each call appends one instruction of the opcode's
    // operand mode (vm/opcodes.def); a call that does not fit the mode fails.
    bool opPlain(uint32_t line, int op, Failure* fail);  // no operand
    bool opNumber(uint32_t line, int op, int64_t v, Failure* fail);       // B, N, I, and S by entry number
    bool opPair(uint32_t line, int op, int64_t v, int64_t w, Failure* fail);  // two bytes (FRAME)
    bool opSymbol(uint32_t line, int op, const std::string& upperName, Failure* fail);  // S by upper-case name
    bool opName(uint32_t line, int op, const std::string& name, Failure* fail);  // X: a global name
    bool opJump(uint32_t line, int op, const std::string& label, Failure* fail);
    bool opDistance(uint32_t line, int op, int64_t distance, Failure* fail);
    bool opString(uint32_t line, int op, const char* bytes, size_t n, Failure* fail);
    bool opDouble(uint32_t line, int op, int64_t width, int64_t decimals, const uint8_t bits[8], Failure* fail);
    // PUSHBLOCK: opens a codeblock whose instructions follow until
    // closeBlock(); givenLength -1 when no length is stated.
    bool openBlock(uint32_t line, int op, int64_t givenLength, Failure* fail);
    bool closeBlock(uint32_t line, Failure* fail);
    bool label(uint32_t line, const std::string& name, Failure* fail);
    // The procedure's end: checks the last instruction and resolves jumps.
    bool finish(uint32_t line, Failure* fail);

    // The results, complete once `end` was accepted.
    const std::vector<uint8_t>& code() const { return code_; }
    const std::vector<ProcXref>& xrefs() const { return xrefs_; }
    // Per code byte: the line of the instruction that starts there, else 0.
    const std::vector<uint32_t>& lines() const { return lines_; }
    // The results moved out (the assembler is spent afterwards).
    std::vector<uint8_t> takeCode() { return std::move(code_); }
    std::vector<ProcXref> takeXrefs() { return std::move(xrefs_); }
    std::vector<uint32_t> takeLines() { return std::move(lines_); }
    // Line of the innermost codeblock still open, 0 when none.
    uint32_t openBlockLine() const;

private:
    struct Body {
        uint32_t start;      // first code byte
        uint32_t end;        // one past the last, set when closed
        uint32_t lengthAt;   // where PUSHBLOCK's length goes (blocks only)
        int64_t givenLength; // the length the text stated, -1 when none
        uint32_t line;       // line that opened it
        int frameCount;      // params + locals of its FRAME, 0 without one
        bool frameSeen;
        bool started;        // an instruction other than LINE was seen
        int lastOp;          // last instruction's opcode, -1 before the first
    };
    struct Label {
        uint32_t offset;
        uint32_t line;
    };
    struct Jump {
        uint32_t operandAt;
        uint32_t line;
        int body;
        uint8_t mode;
        std::string label;  // empty for a stated distance
        int64_t distance;
    };

    bool instruction(uint32_t line, const std::vector<Token>& t, size_t i, Failure* fail);
    bool operands(int op, const std::string& mnemonic, uint32_t line, const std::vector<Token>& t, size_t i,
                  Failure* fail);
    // The common head and tail of every instruction.
    bool begin(uint32_t line, int op, int mode, Failure* fail);
    void done(uint32_t at, int bodyId, uint32_t line);
    bool resolveJump(const Jump& j, Failure* fail);

    void put8(uint8_t b) { code_.push_back(b); }
    void put16(uint32_t v) {
        put8(uint8_t(v));
        put8(uint8_t(v >> 8));
    }

    std::string mnemonicOf(int op) const;

    const SymbolTable& symbols_;
    const std::string* mnemonic_ = nullptr;  // the text's spelling, while statement() runs
    std::vector<uint8_t> code_;
    std::vector<int> boundary_;  // per code byte: body whose instruction starts there, or -1
    std::vector<Body> bodies_;
    std::vector<int> open_;      // open bodies, innermost last
    std::unordered_map<std::string, Label> labels_;
    std::vector<Jump> jumps_;
    std::vector<ProcXref> xrefs_;
    std::vector<uint32_t> lines_;
};

}  // namespace xb::pcasm
