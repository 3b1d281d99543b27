// The pcode verifier: decoding of the bodies, the module's statics, and the
// depth analysis of each body (see verifier.h for what it refuses and why).
#include "tools/asm/verifier.h"

#include <cstdio>
#include <string>
#include <vector>

#include "vm/opcodes.h"
#include "vm/opeffects.h"

namespace xb::pcasm {

namespace {

// Parameters and locals live in 8-bit counters of the frame, and so does a
// call's argument count.
constexpr uint32_t FRAME_MAX = 255;
constexpr uint32_t ARGS_MAX = 255;

struct Insn {
    uint32_t at;      // offset within the procedure's code
    uint32_t size;    // opcode and operands
    uint8_t op;
    uint32_t operand; // u16 operand (N, S, J, U modes), byte (B), 0 otherwise
    int64_t target;   // jump or recovery target offset, -1 when none
};

struct Body {
    uint32_t proc;
    uint32_t start, end;   // code offsets [start, end)
    int root;              // the procedure's own body (for outer locals); itself for a procedure
    bool isBlock;
    std::vector<Insn> insns;
    std::vector<size_t> targets;   // per instruction: the instruction its jump reaches (valid once checked)
    int frameIndex = -1;           // the FRAME instruction, -1 without one
    uint32_t frameCount = 0;       // its parameters plus locals
};

// What the module does with statics, over all its code.
struct Statics {
    std::vector<bool> allocated = std::vector<bool>(65536, false);  // by symbol: some STATICSALLOC reserves for it
    bool any = false;                 // some STATICSALLOC
    bool selected = false;            // some STATICSBASE
    bool countKnown = true;           // every STATICSALLOC takes a constant count
    uint32_t count = 0;               // the largest of those counts
};

bool isJump(uint8_t op) {
    const OpEffect& e = opEffect(op);
    return e.known && (e.flow == FL_JUMP || e.flow == FL_BRANCH || e.flow == FL_KEEP || e.flow == FL_SEQ);
}
bool isCall(uint8_t op) { return op == OP_DO || op == OP_FUNC || op == OP_SEND || op == OP_EVALSEND; }
bool isLocal(uint8_t op) { return op == OP_PUSHLOCAL || op == OP_POPLOCAL || op == OP_PUSHLOCALREF; }
bool isOuter(uint8_t op) { return op == OP_PUSHOUTER || op == OP_POPOUTER || op == OP_PUSHOUTERREF; }
bool isStatic(uint8_t op) { return op == OP_PUSHSTATIC || op == OP_POPSTATIC || op == OP_PUSHSTATICREF; }

std::string mnemonic(uint8_t op) {
    const char* n = opcodeInfo(op).name;
    return n ? std::string(n) : "opcode " + std::to_string(op);
}

class Verifier {
public:
    Verifier(const VerifyProc* procs, uint32_t count, VerifyFault* fault)
        : procs_(procs), count_(count), fault_(fault) {}

    bool run() {
        bodyAt_.resize(count_);
        insnAt_.resize(count_);
        for (uint32_t p = 0; p < count_; ++p)
            if (!decode(p)) return false;
        gatherStatics();
        for (size_t b = 0; b < bodies_.size(); ++b)
            if (!checkInstructions(bodies_[b]) || !followPaths(bodies_[b])) return false;
        return true;
    }

private:
    const VerifyProc* procs_;
    uint32_t count_;
    VerifyFault* fault_;
    std::vector<Body> bodies_;
    Statics statics_;
    // Per procedure and code byte: the body and the instruction that start
    // there, -1 elsewhere. One array per procedure, not per body: the bodies
    // of nested blocks lie inside their parents' bytes, thousands deep.
    std::vector<std::vector<int32_t>> bodyAt_, insnAt_;

    std::string where(uint32_t proc, uint32_t at) const {
        const VerifyProc& p = procs_[proc];
        if (p.lines && at < p.length && p.lines[at]) return "line " + std::to_string(p.lines[at]);
        return "offset " + std::to_string(at);
    }

    bool fail(uint32_t proc, uint32_t at, const std::string& text) {
        if (fault_) {
            const VerifyProc& p = procs_[proc];
            fault_->proc = proc;
            fault_->offset = at;
            fault_->line = p.lines && at < p.length ? p.lines[at] : 0;
            std::snprintf(fault_->text, sizeof fault_->text, "%s", text.c_str());
        }
        return false;
    }

    // Splits procedure proc into its bodies: the procedure's own, then every
    // codeblock (a PUSHBLOCK's code), each split into instructions. Iterative:
    // blocks may nest thousands deep.
    bool decode(uint32_t proc) {
        const uint8_t* code = procs_[proc].code;
        struct Range {
            uint32_t start, end;
            int root;  // the procedure's body, -1 for the procedure itself
        };
        std::vector<Range> pending{{0, procs_[proc].length, -1}};
        bodyAt_[proc].assign(procs_[proc].length, -1);
        insnAt_[proc].assign(procs_[proc].length, -1);
        while (!pending.empty()) {
            const Range r = pending.back();
            pending.pop_back();
            const int self = int(bodies_.size());
            const int root = r.root < 0 ? self : r.root;
            Body b{proc, r.start, r.end, root, r.root >= 0, {}, {}};
            for (uint32_t at = r.start; at < r.end;) {
                int n = operandLength(code + at, code + r.end);
                if (n < 0)
                    return fail(proc, at, "truncated instruction: " + mnemonic(code[at]) + " runs past the end of its body");
                Insn in{at, uint32_t(1 + n), code[at], 0, -1};
                const OperandMode mode = opcodeInfo(in.op).mode;
                const uint8_t* o = code + at + 1;
                if (mode == OM_B) in.operand = o[0];
                if (mode == OM_N || mode == OM_S || mode == OM_J || mode == OM_U || mode == OM_I)
                    in.operand = uint32_t(o[0] | (o[1] << 8));
                if (mode == OM_BB) in.operand = uint32_t(o[0] + o[1]);
                if (isJump(in.op)) {
                    int64_t distance = mode == OM_J ? int64_t(int16_t(in.operand)) : int64_t(in.operand);
                    in.target = int64_t(at) + 3 + distance;
                }
                if (in.op == OP_PUSHBLOCK) pending.push_back({at + 3, at + in.size, root});
                if (in.op == OP_FRAME && b.frameIndex < 0) {
                    b.frameIndex = int(b.insns.size());
                    b.frameCount = in.operand;
                }
                bodyAt_[proc][at] = self;
                insnAt_[proc][at] = int32_t(b.insns.size());
                b.insns.push_back(in);
                at += in.size;
            }
            bodies_.push_back(std::move(b));
        }
        return true;
    }

    void gatherStatics() {
        for (size_t self = 0; self < bodies_.size(); ++self) {
            const Body& b = bodies_[self];
            // instructions that some jump of this body reaches (targets elsewhere are refused later)
            std::vector<bool> targeted(b.insns.size(), false);
            for (const Insn& in : b.insns) {
                if (in.target < 0 || in.target >= int64_t(procs_[b.proc].length)) continue;
                const size_t at = size_t(in.target);
                if (bodyAt_[b.proc][at] == int32_t(self)) targeted[size_t(insnAt_[b.proc][at])] = true;
            }
            for (size_t i = 0; i < b.insns.size(); ++i) {
                const Insn& in = b.insns[i];
                if (in.op == OP_STATICSBASE) statics_.selected = true;
                if (in.op != OP_STATICSALLOC) continue;
                statics_.allocated[in.operand & 0xFFFF] = true;
                statics_.any = true;
                // the count is known when a constant push stands right before it
                // and no jump can bring another one
                int64_t n = -1;
                if (i > 0 && !targeted[i]) {
                    const Insn& c = b.insns[i - 1];
                    if (c.op == OP_ZERO) n = 0;
                    else if (c.op == OP_ONE) n = 1;
                    else if (c.op == OP_PUSHWORD) n = c.operand;
                    else if (c.op == OP_PUSHINT && int16_t(c.operand) >= 0) n = int16_t(c.operand);
                }
                if (n < 0) statics_.countKnown = false;
                else if (uint32_t(n) > statics_.count) statics_.count = uint32_t(n);
            }
        }
    }

    // The checks that need no path: operands, FRAME placement, jump targets.
    bool checkInstructions(Body& b) {
        const char* kind = b.isBlock ? "codeblock" : "procedure";
        const Body& root = bodies_[size_t(b.root)];
        b.targets.assign(b.insns.size(), 0);
        for (size_t i = 0; i < b.insns.size(); ++i) {
            const Insn& in = b.insns[i];
            const uint32_t p = b.proc;
            const std::string name = opcodeInfo(in.op).name ? opcodeInfo(in.op).name : "";
            if (in.op == OP_FRAME) {
                if (int(i) != b.frameIndex)
                    return fail(p, in.at, std::string("a second FRAME in the same ") + kind);
                for (size_t k = 0; k < i; ++k)
                    if (b.insns[k].op != OP_LINE)
                        return fail(p, in.at, "FRAME must come first (only LINE may precede it)");
                if (in.operand > FRAME_MAX) return fail(p, in.at, "FRAME with more than 255 parameters and locals");
            }
            if (isCall(in.op) && in.operand > ARGS_MAX)
                return fail(p, in.at, name + " with more than 255 arguments");
            if (isLocal(in.op) && in.operand > b.frameCount)
                return fail(p, in.at, "local " + std::to_string(in.operand) + " beyond the FRAME (" +
                                          std::to_string(b.frameCount) + " parameters and locals)");
            if (isOuter(in.op)) {
                if (!b.isBlock) return fail(p, in.at, name + " outside a codeblock");
                if (in.operand > root.frameCount)
                    return fail(p, in.at, "outer local " + std::to_string(in.operand) +
                                              " beyond the procedure's FRAME (" + std::to_string(root.frameCount) +
                                              " parameters and locals)");
            }
            if (in.op == OP_STATICSBASE && !statics_.allocated[in.operand & 0xFFFF])
                return fail(p, in.at, "STATICSBASE of symbol " + std::to_string(in.operand) +
                                          ", for which the module allocates no statics (no STATICSALLOC)");
            if (isStatic(in.op)) {
                if (!statics_.any || !statics_.selected)
                    return fail(p, in.at, name + " in a module without statics (" +
                                              (!statics_.any ? "no STATICSALLOC" : "no STATICSBASE") + ")");
                if (in.operand == 0) return fail(p, in.at, "static 0 (statics count from 1)");
                if (statics_.countKnown && in.operand > statics_.count)
                    return fail(p, in.at, "static " + std::to_string(in.operand) + " beyond the module's " +
                                              std::to_string(statics_.count) + " statics");
            }
            if (in.target >= 0) {
                if (in.target < int64_t(b.start) || in.target >= int64_t(b.end))
                    return fail(p, in.at, name + (b.isBlock ? " leaves its codeblock" : " leaves its procedure"));
                const size_t at = size_t(in.target);
                int32_t t = insnAt_[p][at];
                if (t < 0 || &bodies_[size_t(bodyAt_[p][at])] != &b)
                    return fail(p, in.at, name + " lands inside an instruction or a nested codeblock");
                b.targets[i] = size_t(t);
                if (b.frameIndex >= 0 && t <= b.frameIndex)
                    return fail(p, in.at, name + " goes back to the FRAME at " + where(p, b.insns[size_t(b.frameIndex)].at) +
                                              ", which must run once");
            }
        }
        return true;
    }

    // Per instruction: true when every path from it reaches the end of the
    // activation through instructions that neither read nor change the stack
    // (LINE, JUMP, NOP, ...). One walk per chain: each instruction is settled once.
    static std::vector<bool> endingTails(const Body& b) {
        const size_t n = b.insns.size();
        enum : uint8_t { UNKNOWN, WALKING, YES, NO };
        std::vector<uint8_t> state(n, UNKNOWN);
        std::vector<size_t> path;
        for (size_t i = 0; i < n; ++i) {
            size_t k = i;
            uint8_t result = NO;
            while (true) {
                if (k >= n || state[k] == WALKING) {  // runs off the end, or a loop
                    result = NO;
                    break;
                }
                if (state[k] != UNKNOWN) {
                    result = state[k];
                    break;
                }
                const Insn& in = b.insns[k];
                const OpEffect& e = opEffect(in.op);
                if (e.known && e.flow == FL_END) {
                    state[k] = YES;
                    result = YES;
                    break;
                }
                const bool neutral = e.known && e.rule == SR_FIXED && e.pops == 0 && e.pushes == 0 &&
                                     (e.flow == FL_NEXT || e.flow == FL_JUMP);
                if (!neutral) {
                    state[k] = NO;
                    result = NO;
                    break;
                }
                state[k] = WALKING;
                path.push_back(k);
                k = e.flow == FL_JUMP ? b.targets[k] : k + 1;
            }
            for (size_t w : path) state[w] = result;
            path.clear();
        }
        std::vector<bool> out(n);
        for (size_t i = 0; i < n; ++i) out[i] = state[i] == YES;
        return out;
    }

    // Follows every path from the head of the body with the depth above the
    // frame; each instruction must be reached with one depth only.
    bool followPaths(const Body& b) {
        const uint32_t p = b.proc;
        const size_t n = b.insns.size();
        const char* kind = b.isBlock ? "codeblock" : "procedure";
        if (n == 0) return fail(p, b.start, std::string("empty ") + kind);
        std::vector<int64_t> depth(n, -1);
        std::vector<int64_t> from(n, -1);  // the instruction that first brought the depth
        std::vector<size_t> work;
        const std::vector<bool> ending = endingTails(b);

        auto reach = [&](size_t source, size_t j, int64_t d) {
            const Insn& s = b.insns[source];
            if (j >= n) return fail(p, s.at, mnemonic(s.op) + " runs off the end of its " + kind);
            if (depth[j] < 0) {
                depth[j] = d;
                from[j] = int64_t(source);
                work.push_back(j);
                return true;
            }
            // the return cuts the stack back to the frame: a tail that only
            // ends the activation may be reached with any depth
            if (depth[j] == d || ending[j]) return true;
            std::string first = from[j] < 0 ? std::string("the entry") : where(p, b.insns[size_t(from[j])].at);
            return fail(p, s.at, "paths meet at " + where(p, b.insns[j].at) + " with different stack depths: " +
                                     std::to_string(d) + " from here, " + std::to_string(depth[j]) + " from " + first);
        };

        depth[0] = 0;
        work.push_back(0);
        while (!work.empty()) {
            size_t i = work.back();
            work.pop_back();
            const Insn& in = b.insns[i];
            const int64_t d = depth[i];
            const OpEffect& e = opEffect(in.op);
            if (!e.known) continue;  // no handler: the interpreter stops the program here
            int64_t pops = e.pops;
            if (e.rule == SR_COUNT) pops += in.operand;
            if (e.rule == SR_TEMP && in.operand == 2) pops += 1;
            if (d < pops)
                return fail(p, in.at, mnemonic(in.op) + " takes " + std::to_string(pops) + " item(s) but only " +
                                          std::to_string(d) + " lie above the frame");
            const int64_t next = d - pops + e.pushes;
            const size_t target = b.targets[i];
            bool ok = true;
            switch (e.flow) {
            case FL_NEXT: ok = reach(i, i + 1, next); break;
            case FL_JUMP: ok = reach(i, target, next); break;
            case FL_BRANCH: ok = reach(i, i + 1, next) && reach(i, target, next); break;
            case FL_KEEP: ok = reach(i, i + 1, next) && reach(i, target, next + 1); break;
            case FL_SEQ: ok = reach(i, i + 1, next) && reach(i, target, d); break;
            case FL_END:
            case FL_UNWIND: break;
            }
            if (!ok) return false;
        }
        return true;
    }
};

}  // namespace

bool verifyModule(const VerifyProc* procs, uint32_t count, VerifyFault* fault) {
    if (fault) *fault = VerifyFault{};
    return Verifier(procs, count, fault).run();
}

}  // namespace xb::pcasm
