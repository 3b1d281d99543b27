// Assembles the body of one procedure, statement by statement: instructions,
// labels, nested codeblocks between PUSHBLOCK { and }, up to `end`. Checks
// every operand as it goes and the jumps when the procedure is complete.
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

    // The results, complete once `end` was accepted.
    const std::vector<uint8_t>& code() const { return code_; }
    const std::vector<ProcXref>& xrefs() const { return xrefs_; }
    // Per code byte: the line of the instruction that starts there, else 0.
    const std::vector<uint32_t>& lines() const { return lines_; }
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
    bool closeBlock(uint32_t line, Failure* fail);
    bool finish(uint32_t line, Failure* fail);
    bool resolveJump(const Jump& j, Failure* fail);

    void put8(uint8_t b) { code_.push_back(b); }
    void put16(uint32_t v) {
        put8(uint8_t(v));
        put8(uint8_t(v >> 8));
    }

    const SymbolTable& symbols_;
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
