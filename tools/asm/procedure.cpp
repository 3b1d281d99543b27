#include "tools/asm/procedure.h"

#include <cstring>

#include "vm/symbols.h"
#include "tools/asm/assembler.h"
#include "tools/asm/text_forms.h"
#include "vm/opcodes.h"

namespace xb::pcasm {

namespace {

bool startsNumber(const std::string& w) {
    return !w.empty() && ((w[0] >= '0' && w[0] <= '9') || w[0] == '-' || w[0] == '+');
}

bool fault(Failure* f, uint32_t line, std::string text) {
    f->line = line;
    f->text = std::move(text);
    return false;
}

// The call opcodes keep their argument count in a byte of the frame.
bool isCall(int op) { return op == OP_DO || op == OP_FUNC || op == OP_SEND || op == OP_EVALSEND; }
bool isLocal(int op) { return op == OP_PUSHLOCAL || op == OP_POPLOCAL || op == OP_PUSHLOCALREF; }
bool isOuter(int op) { return op == OP_PUSHOUTER || op == OP_POPOUTER || op == OP_PUSHOUTERREF; }

}  // namespace

ProcAssembler::ProcAssembler(const SymbolTable& symbols) : symbols_(symbols) {
    bodies_.push_back({0, 0, 0, -1, 0, 0, false, false, -1});
    open_.push_back(0);
}

uint32_t ProcAssembler::openBlockLine() const { return open_.size() > 1 ? bodies_[open_.back()].line : 0; }

bool ProcAssembler::statement(uint32_t line, const std::vector<Token>& t, bool* ended, Failure* fail) {
    *ended = false;
    size_t i = 0;
    if (t.empty()) return true;
    if (t[0].kind == TOK_WORD && t[0].text.size() > 1 && t[0].text.back() == ':') {
        if (!label(line, t[0].text.substr(0, t[0].text.size() - 1), fail)) return false;
        i = 1;
        if (i == t.size()) return true;
    }
    const Token& head = t[i];
    if (head.kind == TOK_CLOSE) {
        if (i + 1 != t.size()) return fault(fail, line, "nothing may follow }");
        return closeBlock(line, fail);
    }
    if (head.kind != TOK_WORD) return fault(fail, line, "expected a mnemonic");
    if (sameWord(head.text, "end")) {
        if (i + 1 != t.size()) return fault(fail, line, "nothing may follow end");
        if (!finish(line, fail)) return false;
        *ended = true;
        return true;
    }
    if (sameWord(head.text, "proc") || sameWord(head.text, "symbol") || sameWord(head.text, "module"))
        return fault(fail, line, head.text + " inside a procedure (missing end?)");
    return instruction(line, t, i, fail);
}

bool ProcAssembler::instruction(uint32_t line, const std::vector<Token>& t, size_t i, Failure* fail) {
    const std::string& word = t[i].text;
    int op;
    std::string mnemonic = word;
    if (sameWord(word, "ext")) {
        int64_t v;
        if (i + 1 >= t.size() || t[i + 1].kind != TOK_WORD || !parseInteger(t[i + 1].text, &v) || v < 126 || v > 255)
            return fault(fail, line, "EXT needs an opcode number 126..255");
        op = int(v);
        mnemonic = "EXT " + t[i + 1].text;
        ++i;
    } else if (startsNumber(word)) {
        int64_t v;
        if (!parseInteger(word, &v) || v < 0 || v > 255) return fault(fail, line, "bad opcode number " + word);
        op = int(v);
    } else {
        op = opcodeByName(word.c_str());
        if (op < 0) return fault(fail, line, "unknown mnemonic " + word);
    }
    mnemonic_ = &mnemonic;
    bool ok = operands(op, mnemonic, line, t, i + 1, fail);
    mnemonic_ = nullptr;
    return ok;
}

// Reads the operand words of one text instruction and hands them, typed, to
// the builder entries, which check them and emit the bytes.
bool ProcAssembler::operands(int op, const std::string& mnemonic, uint32_t line, const std::vector<Token>& t,
                             size_t i, Failure* fail) {
    const OperandMode mode = opcodeInfo(uint8_t(op)).mode;
    size_t k = i;
    // Fetches the next word operand as a number within [lo, hi].
    auto number = [&](int64_t lo, int64_t hi, const char* what, int64_t* v) {
        if (k >= t.size() || t[k].kind != TOK_WORD)
            return fault(fail, line, mnemonic + " needs " + what);
        if (!parseInteger(t[k].text, v) || *v < lo || *v > hi)
            return fault(fail, line, "bad operand " + t[k].text + " for " + mnemonic + " (" + what + " " +
                                         std::to_string(lo) + ".." + std::to_string(hi) + ")");
        ++k;
        return true;
    };
    // Operands left over once the instruction is complete.
    auto rest = [&]() {
        return k == t.size() || fault(fail, line, "too many operands for " + mnemonic);
    };
    int64_t v = 0, w = 0;
    switch (mode) {
    case OM_NONE:
        if (k != t.size()) return fault(fail, line, "too many operands for " + mnemonic);
        return opPlain(line, op, fail);
    case OM_B:
        return number(0, 255, "a byte", &v) && rest() && opNumber(line, op, v, fail);
    case OM_N:
        return number(0, 65535, "a number", &v) && rest() && opNumber(line, op, v, fail);
    case OM_I:
        return number(-32768, 32767, "a signed number", &v) && rest() && opNumber(line, op, v, fail);
    case OM_S: {
        if (k >= t.size() || t[k].kind != TOK_WORD) return fault(fail, line, mnemonic + " needs a symbol");
        const Token& s = t[k++];
        if (!rest()) return false;
        if (!startsNumber(s.text)) {
            uint16_t n = symbols_.find(upperName(s.text));
            if (n == 0) return fault(fail, line, "undeclared symbol " + s.text);
            return opNumber(line, op, n, fail);
        }
        uint32_t count = symbols_.count();
        if (!parseInteger(s.text, &v) || v < 1 || v >= int64_t(count))
            return fault(fail, line, "symbol number " + s.text + " outside the module table (1.." +
                                         std::to_string(count - 1) + ")");
        return opNumber(line, op, v, fail);
    }
    case OM_X: {
        if (k >= t.size() || t[k].kind != TOK_WORD) return fault(fail, line, mnemonic + " needs a symbol name");
        const std::string& s = t[k++].text;
        return rest() && opName(line, op, s, fail);
    }
    case OM_J:
    case OM_U: {
        if (k >= t.size() || t[k].kind != TOK_WORD) return fault(fail, line, mnemonic + " needs a label or a distance");
        if (startsNumber(t[k].text)) {
            if (mode == OM_J ? !number(-32768, 32767, "a distance", &v) : !number(0, 65535, "a distance", &v))
                return false;
            return rest() && opDistance(line, op, v, fail);
        }
        const std::string& l = t[k++].text;
        return rest() && opJump(line, op, l, fail);
    }
    case OM_BB:
        return number(0, 255, "a byte", &v) && number(0, 255, "a byte", &w) && rest() &&
               opPair(line, op, v, w, fail);
    case OM_STR: {
        if (k >= t.size() || t[k].kind != TOK_STRING) return fault(fail, line, mnemonic + " needs a quoted string");
        const std::string& s = t[k++].text;
        return rest() && opString(line, op, s.data(), s.size(), fail);
    }
    case OM_DBL: {
        if (!number(0, 255, "a width", &v) || !number(0, 255, "a decimals count", &w)) return false;
        uint8_t bits[8];
        if (k >= t.size() || t[k].kind != TOK_WORD) return fault(fail, line, mnemonic + " needs a value");
        if (!parseDouble(t[k].text, bits)) return fault(fail, line, "bad number " + t[k].text);
        ++k;
        return rest() && opDouble(line, op, v, w, bits, fail);
    }
    case OM_BLOCK: {
        int64_t given = -1;
        if (k < t.size() && t[k].kind == TOK_WORD && !number(0, 65535, "a length", &given)) return false;
        if (k >= t.size() || t[k].kind != TOK_OPEN) return fault(fail, line, mnemonic + " needs { to open its code");
        ++k;
        if (k != t.size()) return fault(fail, line, "the codeblock's code starts on the next line");
        return openBlock(line, op, given, fail);
    }
    }
    return fault(fail, line, "unknown operand form for " + mnemonic);
}

std::string ProcAssembler::mnemonicOf(int op) const {
    if (mnemonic_) return *mnemonic_;
    if (const char* n = opcodeInfo(uint8_t(op)).name) return n;
    return std::to_string(op);
}

bool ProcAssembler::begin(uint32_t line, int op, int mode, Failure* fail) {
    if (op < 0 || op > 255) return fault(fail, line, "bad opcode number " + std::to_string(op));
    if (int(opcodeInfo(uint8_t(op)).mode) != mode)
        return fault(fail, line, "wrong operand form for " + mnemonicOf(op));
    Body& body = bodies_[open_.back()];
    if (op == OP_FRAME) {
        if (body.frameSeen) return fault(fail, line, "a second FRAME in the same procedure or codeblock");
        if (body.started) return fault(fail, line, "FRAME must come first (only LINE may precede it)");
    } else if (op != OP_LINE) {
        body.started = true;
    }
    body.lastOp = op;
    put8(uint8_t(op));
    return true;
}

void ProcAssembler::done(uint32_t at, int bodyId, uint32_t line) {
    boundary_.resize(code_.size(), -1);
    boundary_[at] = bodyId;  // a PUSHBLOCK has opened its block by now
    lines_.resize(code_.size(), 0);
    lines_[at] = line;
}

bool ProcAssembler::opPlain(uint32_t line, int op, Failure* fail) {
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_NONE, fail)) return false;
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opNumber(uint32_t line, int op, int64_t v, Failure* fail) {
    if (op < 0 || op > 255) return fault(fail, line, "bad opcode number " + std::to_string(op));
    const OperandMode mode = opcodeInfo(uint8_t(op)).mode;
    const int bodyId = open_.back();
    const Body& body = bodies_[bodyId];
    auto range = [&](int64_t lo, int64_t hi, const char* what) {
        if (v >= lo && v <= hi) return true;
        return fault(fail, line, "bad operand " + std::to_string(v) + " for " + mnemonicOf(op) + " (" + what + " " +
                                     std::to_string(lo) + ".." + std::to_string(hi) + ")");
    };
    switch (mode) {
    case OM_B:
        if (!range(0, 255, "a byte")) return false;
        break;
    case OM_N:
        if (!range(0, 65535, "a number")) return false;
        if (isCall(op) && v > 255) return fault(fail, line, mnemonicOf(op) + " with more than 255 arguments");
        if (isLocal(op) && v > body.frameCount)
            return fault(fail, line, "local " + std::to_string(v) + " beyond the FRAME (" +
                                         std::to_string(body.frameCount) + " parameters and locals)");
        if (isOuter(op)) {
            if (open_.size() < 2) return fault(fail, line, mnemonicOf(op) + " outside a codeblock");
            if (v > bodies_[0].frameCount)
                return fault(fail, line, "outer local " + std::to_string(v) + " beyond the procedure's FRAME (" +
                                             std::to_string(bodies_[0].frameCount) + " parameters and locals)");
        }
        break;
    case OM_I:
        if (!range(-32768, 32767, "a signed number")) return false;
        break;
    case OM_S:
        if (v < 1 || v >= int64_t(symbols_.count()))
            return fault(fail, line, "symbol number " + std::to_string(v) + " outside the module table (1.." +
                                         std::to_string(symbols_.count() - 1) + ")");
        break;
    default:
        return fault(fail, line, "wrong operand form for " + mnemonicOf(op));
    }
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, mode, fail)) return false;
    if (mode == OM_B) put8(uint8_t(v));
    else put16(uint32_t(v));
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opSymbol(uint32_t line, int op, const std::string& upper, Failure* fail) {
    uint16_t n = symbols_.find(upper);
    if (n == 0) return fault(fail, line, "undeclared symbol " + upper);
    return opNumber(line, op, n, fail);
}

bool ProcAssembler::opPair(uint32_t line, int op, int64_t v, int64_t w, Failure* fail) {
    if (v < 0 || v > 255 || w < 0 || w > 255)
        return fault(fail, line, "bad operand for " + mnemonicOf(op) + " (a byte 0..255)");
    const int bodyId = open_.back();
    if (op == OP_FRAME && v + w > 255) return fault(fail, line, "FRAME with more than 255 parameters and locals");
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_BB, fail)) return false;
    if (op == OP_FRAME) {
        Body& body = bodies_[bodyId];
        body.frameSeen = true;
        body.frameCount = int(v + w);
    }
    put8(uint8_t(v));
    put8(uint8_t(w));
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opName(uint32_t line, int op, const std::string& s, Failure* fail) {
    if (!isName(s)) return fault(fail, line, mnemonicOf(op) + " needs a symbol name, not " + s);
    if (s.size() > SYMBOL_NAME_MAX) return fault(fail, line, "name longer than 58 characters: " + s);
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_X, fail)) return false;
    xrefs_.push_back({uint32_t(code_.size()), upperName(s)});
    put16(0);
    put16(0);
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opJump(uint32_t line, int op, const std::string& l, Failure* fail) {
    if (op < 0 || op > 255) return fault(fail, line, "bad opcode number " + std::to_string(op));
    const OperandMode mode = opcodeInfo(uint8_t(op)).mode;
    if (mode != OM_J && mode != OM_U) return fault(fail, line, "wrong operand form for " + mnemonicOf(op));
    if (!isName(l)) return fault(fail, line, "bad label name " + l);
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, mode, fail)) return false;
    jumps_.push_back(Jump{uint32_t(code_.size()), line, bodyId, uint8_t(mode), l, 0});
    put16(0);
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opDistance(uint32_t line, int op, int64_t distance, Failure* fail) {
    if (op < 0 || op > 255) return fault(fail, line, "bad opcode number " + std::to_string(op));
    const OperandMode mode = opcodeInfo(uint8_t(op)).mode;
    if (mode != OM_J && mode != OM_U) return fault(fail, line, "wrong operand form for " + mnemonicOf(op));
    if (mode == OM_J ? (distance < -32768 || distance > 32767) : (distance < 0 || distance > 65535))
        return fault(fail, line, "bad distance " + std::to_string(distance) + " for " + mnemonicOf(op));
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, mode, fail)) return false;
    jumps_.push_back(Jump{uint32_t(code_.size()), line, bodyId, uint8_t(mode), {}, distance});
    put16(0);
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opString(uint32_t line, int op, const char* bytes, size_t n, Failure* fail) {
    if (n > 255) return fault(fail, line, "string longer than 255 bytes");
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_STR, fail)) return false;
    put8(uint8_t(n));
    code_.insert(code_.end(), bytes, bytes + n);
    put8(0);
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::opDouble(uint32_t line, int op, int64_t width, int64_t decimals, const uint8_t bits[8],
                             Failure* fail) {
    if (width < 0 || width > 255 || decimals < 0 || decimals > 255)
        return fault(fail, line, "bad width or decimals for " + mnemonicOf(op) + " (0..255)");
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_DBL, fail)) return false;
    put8(uint8_t(width));
    put8(uint8_t(decimals));
    code_.insert(code_.end(), bits, bits + 8);
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::openBlock(uint32_t line, int op, int64_t given, Failure* fail) {
    if (given < -1 || given > 65535) return fault(fail, line, "bad length for " + mnemonicOf(op));
    const int bodyId = open_.back();
    uint32_t at = uint32_t(code_.size());
    if (!begin(line, op, OM_BLOCK, fail)) return false;
    uint32_t lengthAt = uint32_t(code_.size());
    put16(0);
    Body b{uint32_t(code_.size()), 0, lengthAt, given, line, 0, false, false, -1};
    bodies_.push_back(b);
    open_.push_back(int(bodies_.size() - 1));
    done(at, bodyId, line);
    return true;
}

bool ProcAssembler::label(uint32_t line, const std::string& name, Failure* fail) {
    if (!isName(name)) return fault(fail, line, "bad label name " + name);
    auto ins = labels_.emplace(name, Label{uint32_t(code_.size()), line});
    if (!ins.second)
        return fault(fail, line,
                     "duplicate label " + name + " (first at line " + std::to_string(ins.first->second.line) + ")");
    return true;
}

bool ProcAssembler::closeBlock(uint32_t line, Failure* fail) {
    if (open_.size() < 2) return fault(fail, line, "} without an open codeblock");
    Body& b = bodies_[open_.back()];
    if (b.lastOp != OP_ENDBLOCK) return fault(fail, line, "a codeblock must end with ENDBLOCK");
    size_t length = code_.size() - b.start;
    if (length > 65535) return fault(fail, line, "codeblock longer than 65535 bytes");
    if (b.givenLength >= 0 && size_t(b.givenLength) != length)
        return fault(fail, line, "codeblock length " + std::to_string(b.givenLength) + " given, " +
                                     std::to_string(length) + " assembled");
    code_[b.lengthAt] = uint8_t(length);
    code_[b.lengthAt + 1] = uint8_t(length >> 8);
    b.end = uint32_t(code_.size());
    open_.pop_back();
    // the PUSHBLOCK counts as the parent's last instruction until another follows
    return true;
}

bool ProcAssembler::finish(uint32_t line, Failure* fail) {
    if (open_.size() > 1)
        return fault(fail, line, "end inside a codeblock (missing } for the PUSHBLOCK at line " +
                                     std::to_string(bodies_[open_.back()].line) + ")");
    if (bodies_[0].lastOp != OP_ENDPROC) return fault(fail, line, "a procedure must end with ENDPROC");
    bodies_[0].end = uint32_t(code_.size());
    boundary_.resize(code_.size(), -1);
    lines_.resize(code_.size(), 0);
    for (const Jump& j : jumps_)
        if (!resolveJump(j, fail)) return false;
    return true;
}

bool ProcAssembler::resolveJump(const Jump& j, Failure* fail) {
    const int64_t base = int64_t(j.operandAt) + 2;
    int64_t target, distance;
    if (!j.label.empty()) {
        auto it = labels_.find(j.label);
        if (it == labels_.end()) return fault(fail, j.line, "undefined label " + j.label);
        target = it->second.offset;
        distance = target - base;
        if (j.mode == OM_U && distance < 0)
            return fault(fail, j.line, "label " + j.label + " lies behind; this jump only goes forward");
        if (j.mode == OM_J ? (distance < -32768 || distance > 32767) : distance > 65535)
            return fault(fail, j.line, "label " + j.label + " is too far for a 16-bit jump");
    } else {
        distance = j.distance;
        target = base + distance;
    }
    const Body& b = bodies_[j.body];
    if (target < int64_t(b.start) || target >= int64_t(b.end))
        return fault(fail, j.line, j.body == 0 ? "jump leaves the procedure" : "jump leaves its codeblock");
    int owner = boundary_[size_t(target)];
    if (owner < 0) return fault(fail, j.line, "jump lands inside an instruction");
    if (owner != j.body) return fault(fail, j.line, "jump into a nested codeblock");
    code_[j.operandAt] = uint8_t(distance);
    code_[j.operandAt + 1] = uint8_t(distance >> 8);
    return true;
}

}  // namespace xb::pcasm
