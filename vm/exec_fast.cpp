// The fast engine: one function runs an activation with pc, top and frame in
// registers and threaded dispatch (a label per opcode). The common opcodes
// run inline; a few common sequences run fused; everything else, and every
// case an inline body does not cover (references, other types, overflowing
// sums, errors), goes to the opcode's handler with the `vm` record brought
// up to date first, so handlers, natives, the error system and the collector
// see exactly what the classic loop shows them.
//
// An inline body decides before it changes anything: when it hands over to
// the handler, pc still points just past the opcode byte and the stack is
// untouched, so the handler runs the instruction as the classic loop would.
// A fused sequence runs only when every one of its instructions would take
// its plain path (no error, no fatal check, no allocation); otherwise its
// first instruction runs alone and the rest follow one by one.
//
// Fusions come from opcode-pair counts over compiled code (tools/pairs):
// a local with an operand and PLUS/MINUS POPLOCAL or a relation and a
// conditional jump, a local's INC/DEC POPLOCAL; after a store to a local or
// a jump the next LINE is recorded without a dispatch (POPLOCAL LINE, JUMP
// LINE, JUMPFALSE LINE), a store's following JUMP is taken at once
// (POPLOCAL JUMP), and a jump that lands on a loop's IDLE counts it down
// (the IDLE that brings the countdown to its end still dispatches, so the
// idle services run after the same number of IDLEs as before).
#include <cstring>

#include "base/memory.h"
#include "vm/engine.h"
#include "base/hooks.h"
#include "vm/interp.h"
#include "vm/operators.h"
#include "vm/stack.h"

namespace xb {

namespace {

// The countdown of IDLE: the first IDLE of the run services at once.
uint32_t idleCountdown = 1;

uint32_t checkedGeneration = ~0u;
bool inlineAllowed;

// The opcodes this file runs inline (or fused). While a test or a layer has
// put another handler on one of them, the classic loop runs instead.
constexpr uint8_t INLINE_OPS[] = {
    OP_NOP,      0x6F,      OP_LINE,      OP_IDLE,      OP_PUSHNIL,   OP_TRUE,    OP_FALSE,     OP_ZERO,
    OP_ONE,      OP_PUSHINT, OP_PUSHWORD, OP_PUSHDOUBLE, OP_PUSHLOCAL, OP_POPLOCAL, OP_POP,      OP_JUMP,
    OP_JUMPFALSE, OP_JUMPTRUE, OP_PLUS,   OP_MINUS,     OP_INC,       OP_DEC,     OP_EXACTEQUAL, OP_EQUAL,
    OP_NOTEQUAL, OP_LESS,   OP_LESSEQUAL, OP_GREATER,   OP_GREATEREQUAL, OP_NOT,  OP_ENDPROC,   OP_ENDBLOCK};

void checkDispatch() {
    inlineAllowed = true;
    for (uint8_t op : INLINE_OPS)
        if (opTable[op] != registeredOpHandler(op)) inlineAllowed = false;
    checkedGeneration = dispatchGeneration;
}

inline void putInteger(Item* t, int32_t v) {
    t->type = T_INTEGER;
    t->width = 10;
    t->decimals = 0;
    t->pad6 = 0;
    t->v.raw[0] = uint32_t(v);
    t->v.raw[1] = 0;
}

inline void putLogical(Item* t, bool b) { setLogical(t, b); }

inline uint32_t decimalsOf(const Item* it) { return it->type == T_DOUBLE ? it->decimals : 0; }

// a + b (minus: a - b) when PLUS (MINUS) takes its plain path: two Integers
// whose result stays an Integer, or Integers and Doubles. False otherwise.
template <bool minus>
inline bool plainSum(const Item* a, const Item* b, Item* out) {
    const uint16_t ta = a->type, tb = b->type;
    if (ta == T_INTEGER && tb == T_INTEGER) {
        int32_t s;
        if (minus) {
            if (__builtin_sub_overflow(a->v.l, b->v.l, &s) || s == INT32_MIN) return false;
        } else {
            if (__builtin_add_overflow(a->v.l, b->v.l, &s) || s == INT32_MAX) return false;
        }
        if (out != a) *out = *a;
        out->v.l = s;
        return true;
    }
    if (!isIntOrDouble(ta) || !isIntOrDouble(tb)) return false;
    const uint32_t da = decimalsOf(a), db = decimalsOf(b);
    const double x = numberOf(a), y = numberOf(b);
    setDouble(out, minus ? x - y : x + y, 0, capDecimals(da > db ? da : db));
    return true;
}

inline bool isRelation(uint8_t op) {
    return op == OP_LESSEQUAL || op == OP_LESS || op == OP_GREATER || op == OP_GREATEREQUAL || op == OP_EQUAL ||
           op == OP_EXACTEQUAL || op == OP_NOTEQUAL;
}

// a R b for the relation opcode op on its plain path (Integers, or Integers
// and Doubles); false when the handler must decide.
inline bool plainRelation(uint8_t op, const Item* a, const Item* b, bool* result) {
    if (!isRelation(op)) return false;
    if (a->type == T_INTEGER && b->type == T_INTEGER) {
        int32_t x = a->v.l, y = b->v.l;
        switch (op) {
        case OP_EXACTEQUAL:
        case OP_EQUAL: *result = x == y; return true;
        case OP_NOTEQUAL: *result = x != y; return true;
        case OP_LESS: *result = x < y; return true;
        case OP_LESSEQUAL: *result = x <= y; return true;
        case OP_GREATER: *result = x > y; return true;
        case OP_GREATEREQUAL: *result = x >= y; return true;
        default: return false;
        }
    }
    if (!isIntOrDouble(a->type) || !isIntOrDouble(b->type)) return false;
    double x = numberOf(a), y = numberOf(b);
    switch (op) {
    case OP_EXACTEQUAL:
    case OP_EQUAL: *result = x == y; return true;
    case OP_NOTEQUAL: *result = x != y; return true;
    case OP_LESS: *result = x < y; return true;
    case OP_LESSEQUAL: *result = x <= y; return true;
    case OP_GREATER: *result = x > y; return true;
    case OP_GREATEREQUAL: *result = x >= y; return true;
    default: return false;
    }
}

// The second operand of a fused sequence (a constant or a local pushed
// after the first local), read without pushing it.
struct Operand {
    uint16_t type;      // T_INTEGER or T_DOUBLE
    uint16_t decimals;  // of a Double
    int32_t i;
    double d;
};

// Reads the operand the instruction at p pushes: its length, or 0 when the
// opcode is none of these or the value is off the plain path (a reference,
// another type, a local at or above the slot the first push would fill).
[[gnu::always_inline]] inline uint32_t readOperand(const uint8_t* p, const Item* frame, const Item* top, Operand* o) {
    switch (*p) {
    case OP_PUSHINT: o->type = T_INTEGER; o->i = readI16(p + 1); return 3;
    case OP_PUSHWORD: o->type = T_INTEGER; o->i = readU16(p + 1); return 3;
    case OP_ZERO: o->type = T_INTEGER; o->i = 0; return 1;
    case OP_ONE: o->type = T_INTEGER; o->i = 1; return 1;
    case OP_PUSHDOUBLE:
        o->type = T_DOUBLE;
        o->decimals = p[2];
        std::memcpy(&o->d, p + 3, sizeof(double));
        return 11;
    case OP_PUSHLOCAL: {
        const Item* l = frame + 1 + readU16(p + 1);
        if (l > top) return 0;
        if (l->type == T_INTEGER) {
            o->type = T_INTEGER;
            o->i = l->v.l;
        } else if (l->type == T_DOUBLE) {
            o->type = T_DOUBLE;
            o->decimals = l->decimals;
            o->d = l->v.d;
        } else {
            return 0;
        }
        return 3;
    }
    default: return 0;
    }
}

inline double operandNumber(const Operand& o) { return o.type == T_DOUBLE ? o.d : double(o.i); }

// a + b (minus: a - b) into *out (which may be a) on PLUS's (MINUS's) plain
// path; false when the handler must decide.
template <bool minus>
[[gnu::always_inline]] inline bool operandSum(const Item* a, const Operand& b, Item* out) {
    if (a->type == T_INTEGER && b.type == T_INTEGER) {
        int32_t s;
        if (minus) {
            if (__builtin_sub_overflow(a->v.l, b.i, &s) || s == INT32_MIN) return false;
        } else {
            if (__builtin_add_overflow(a->v.l, b.i, &s) || s == INT32_MAX) return false;
        }
        if (out != a) *out = *a;
        out->v.l = s;
        return true;
    }
    if (!isIntOrDouble(a->type)) return false;
    const uint32_t da = decimalsOf(a), db = b.type == T_DOUBLE ? b.decimals : 0;
    const double x = numberOf(a), y = operandNumber(b);
    setDouble(out, minus ? x - y : x + y, 0, capDecimals(da > db ? da : db));
    return true;
}

// The outcomes a relation holds for: less, equal, greater, unordered (a NaN
// on either side: only NOTEQUAL holds).
constexpr uint8_t REL_LT = 1, REL_EQ = 2, REL_GT = 4, REL_UN = 8;

struct RelationMasks {
    uint8_t mask[256];
    constexpr RelationMasks() : mask() {
        mask[OP_EXACTEQUAL] = REL_EQ;
        mask[OP_EQUAL] = REL_EQ;
        mask[OP_NOTEQUAL] = REL_LT | REL_GT | REL_UN;
        mask[OP_LESS] = REL_LT;
        mask[OP_LESSEQUAL] = REL_LT | REL_EQ;
        mask[OP_GREATER] = REL_GT;
        mask[OP_GREATEREQUAL] = REL_GT | REL_EQ;
    }
};
constexpr RelationMasks relationMasks;

template <typename T>
[[gnu::always_inline]] inline uint8_t outcomeOf(T x, T y) {
    return x < y ? REL_LT : x == y ? REL_EQ : x > y ? REL_GT : REL_UN;
}

// a R b for the relation opcode op on its plain path: 1 or 0, or -1 when op
// is no relation or the handler must decide.
[[gnu::always_inline]] inline int operandRelation(uint8_t op, const Item* a, const Operand& b) {
    const uint8_t mask = relationMasks.mask[op];
    if (!mask) return -1;
    if (a->type == T_INTEGER && b.type == T_INTEGER) return (outcomeOf<int32_t>(a->v.l, b.i) & mask) != 0;
    if (!isIntOrDouble(a->type)) return -1;
    return (outcomeOf<double>(numberOf(a), operandNumber(b)) & mask) != 0;
}

}  // namespace

// The dispatch loop's speed depends on where its labels fall in the cache
// lines and decode windows; starting the function on a 64-byte boundary keeps
// that layout the same whatever the linker puts before it.
[[gnu::aligned(64)]] uint16_t runFast() {
    static void* table[256];
    static bool built;
    if (!built) [[unlikely]] {
        for (auto& t : table) t = &&slow;
        table[OP_NOP] = &&op_nop;
        table[0x6F] = &&op_nop;
        table[OP_LINE] = &&op_line;
        table[OP_IDLE] = &&op_idle;
        table[OP_PUSHNIL] = &&op_pushnil;
        table[OP_TRUE] = &&op_true;
        table[OP_FALSE] = &&op_false;
        table[OP_ZERO] = &&op_zero;
        table[OP_ONE] = &&op_one;
        table[OP_PUSHINT] = &&op_pushint;
        table[OP_PUSHWORD] = &&op_pushword;
        table[OP_PUSHDOUBLE] = &&op_pushdouble;
        table[OP_PUSHLOCAL] = &&op_pushlocal;
        table[OP_POPLOCAL] = &&op_poplocal;
        table[OP_POP] = &&op_pop;
        table[OP_JUMP] = &&op_jump;
        table[OP_JUMPFALSE] = &&op_jumpfalse;
        table[OP_JUMPTRUE] = &&op_jumptrue;
        table[OP_PLUS] = &&op_plus;
        table[OP_MINUS] = &&op_minus;
        table[OP_INC] = &&op_inc;
        table[OP_DEC] = &&op_dec;
        table[OP_EXACTEQUAL] = &&op_relation;
        table[OP_EQUAL] = &&op_relation;
        table[OP_NOTEQUAL] = &&op_relation;
        table[OP_LESS] = &&op_relation;
        table[OP_LESSEQUAL] = &&op_relation;
        table[OP_GREATER] = &&op_relation;
        table[OP_GREATEREQUAL] = &&op_relation;
        table[OP_NOT] = &&op_not;
        table[OP_ENDPROC] = &&op_end;
        table[OP_ENDBLOCK] = &&op_end;
        built = true;
    }
    if (checkedGeneration != dispatchGeneration) [[unlikely]] checkDispatch();
    if (!inlineAllowed) [[unlikely]] return runClassic();

    const uint8_t* pc = vm.pc;
    const uint8_t* ins;
    Item* top = vm.top;
    Item* frame = vm.frame;
    Item* stackEnd = vm.stackEnd;
    uint16_t result = 0;

#define XB_SYNC() (vm.pc = pc, vm.top = top)
#define XB_RELOAD() (pc = vm.pc, top = vm.top, frame = vm.frame, stackEnd = vm.stackEnd)
    // Taking more Items than the frame holds ends the run before the next
    // instruction reads what lies below it (as in the classic loop).
#define XB_NEXT()                                \
    do {                                         \
        if (top <= frame) [[unlikely]] goto lowTop; \
        goto* table[*pc++];                      \
    } while (0)
    // After an instruction that left top where it was or pushed, the check
    // made before it still holds.
#define XB_NEXT_SAME()        \
    do {                      \
        goto* table[*pc++];   \
    } while (0)
    // After a store to a local or a jump, the next statement's LINE (the
    // pairs POPLOCAL LINE, JUMP LINE and JUMPFALSE LINE are among the most
    // frequent in compiled code) is recorded here rather than dispatched.
#define XB_TAKE_LINE()                              \
    do {                                            \
        if (*pc == OP_LINE) {                       \
            vm.lineNumber = readU16(pc + 1);        \
            pc += 3;                                \
        }                                           \
    } while (0)
    // A loop's head, LINE IDLE, reached by a jump: the LINE is recorded and
    // the IDLE counted here unless it is the one that runs the idle services.
#define XB_LOOP_HEAD()                                  \
    do {                                                \
        XB_TAKE_LINE();                                 \
        if (*pc == OP_IDLE && idleCountdown > 1) {      \
            --idleCountdown;                            \
            ++pc;                                       \
        }                                               \
    } while (0)
    // After a store to a local: a JUMP that follows (POPLOCAL JUMP ends
    // most loop bodies) is taken at once, else the next LINE is recorded.
#define XB_AFTER_STORE()                                \
    do {                                                \
        if (*pc == OP_JUMP) {                           \
            pc += 3 + readI16(pc + 1);                  \
            XB_LOOP_HEAD();                             \
        } else {                                        \
            XB_TAKE_LINE();                             \
        }                                               \
    } while (0)
    // The same after an instruction that took Items: the frame check comes
    // first, so a fatal error reports the line of the instruction that
    // went too far.
#define XB_NEXT_LINE()                              \
    do {                                            \
        if (top <= frame) [[unlikely]] goto lowTop; \
        XB_TAKE_LINE();                             \
        goto* table[*pc++];                         \
    } while (0)
#define XB_ROOM(n) \
    if (stackEnd - top < (n)) [[unlikely]] goto slow

    XB_NEXT();

lowTop:
    XB_SYNC();
    checkFrameItems();
    goto* table[*pc++];

slow: {
    // pc is just past the opcode byte, as the handler expects (an inline
    // body hands over before it moves pc)
    ins = pc - 1;
    vm.pc = pc;
    vm.top = top;
    uint16_t r = opTable[*ins]();
    if (r) [[unlikely]] {
        if (vm.top <= vm.frame) checkFrameItems();
        r = handleOpResult(r, ins);
        if (r) {
            result = r;
            return result;
        }
    }
    if (!vm.running) [[unlikely]] return result;
    XB_RELOAD();
    XB_NEXT();
}

op_nop:
    XB_NEXT_SAME();

op_line:
    vm.lineNumber = readU16(pc);
    pc += 2;
    XB_NEXT_SAME();

op_idle:
    if (--idleCountdown == 0) [[unlikely]] {
        idleCountdown = IDLE_INTERVAL;
        XB_SYNC();
        if (idleServices) idleServices();
        dispatchIdleTasks(0x2000);
        if (!vm.running) [[unlikely]] return result;
        XB_RELOAD();
        XB_NEXT();
    }
    XB_NEXT_SAME();

op_pushnil:
    XB_ROOM(1);
    ++top;
    itemClear(top);
    XB_NEXT_SAME();

op_true:
    XB_ROOM(1);
    putLogical(++top, true);
    XB_NEXT_SAME();

op_false:
    XB_ROOM(1);
    putLogical(++top, false);
    XB_NEXT_SAME();

op_zero:
    XB_ROOM(1);
    putInteger(++top, 0);
    XB_NEXT_SAME();

op_one:
    XB_ROOM(1);
    putInteger(++top, 1);
    XB_NEXT_SAME();

op_pushint:
    XB_ROOM(1);
    putInteger(++top, readI16(pc));
    pc += 2;
    XB_NEXT_SAME();

op_pushword:
    XB_ROOM(1);
    putInteger(++top, readU16(pc));
    pc += 2;
    XB_NEXT_SAME();

op_pushdouble:
    XB_ROOM(1);
    ++top;
    top->type = T_DOUBLE;
    top->width = pc[0];
    top->decimals = pc[1];
    top->pad6 = 0;
    std::memcpy(&top->v.d, pc + 2, sizeof(double));
    pc += 10;
    XB_NEXT_SAME();

op_pushlocal: {
    // Fused forms, each of the local and what follows it:
    //   INC|DEC POPLOCAL                          local := local +- 1
    //   operand PLUS|MINUS POPLOCAL               local := local +- operand
    //   operand relation JUMPFALSE|JUMPTRUE       IF / WHILE local R operand
    // (operand: a small constant, a Double constant or a local). Each runs
    // only when all of its instructions would take their plain paths.
    const Item* l = frame + 1 + readU16(pc);
    if (l > top || (l->type & M_REF)) [[unlikely]] goto slow;
    const uint8_t next = pc[2];
    if (next == OP_INC || next == OP_DEC) {
        if (pc[3] == OP_POPLOCAL) {
            Item* d = frame + 1 + readU16(pc + 4);
            if (d <= top && !(d->type & M_REF)) {
                const bool up = next == OP_INC;
                if (l->type == T_INTEGER && l->v.l != (up ? INT32_MAX : INT32_MIN)) {
                    const int32_t v = l->v.l + (up ? 1 : -1);
                    if (d != l) *d = *l;
                    d->v.l = v;
                    pc += 6;
                    XB_AFTER_STORE();
                    XB_NEXT_SAME();
                }
                if (l->type == T_DOUBLE) {
                    const double v = l->v.d + (up ? 1.0 : -1.0);
                    if (d != l) *d = *l;
                    d->v.d = v;
                    pc += 6;
                    XB_AFTER_STORE();
                    XB_NEXT_SAME();
                }
            }
        }
    } else {
        Operand b{};
        const uint32_t size = readOperand(pc + 2, frame, top, &b);
        if (size) {
            const uint8_t* p = pc + 2 + size;
            const uint8_t op = p[0];
            if (op == OP_PLUS || op == OP_MINUS) {
                if (p[1] == OP_POPLOCAL) {
                    Item* d = frame + 1 + readU16(p + 2);
                    if (d <= top && !(d->type & M_REF) &&
                        (op == OP_PLUS ? operandSum<false>(l, b, d) : operandSum<true>(l, b, d))) {
                        pc = p + 4;
                        XB_AFTER_STORE();
                        XB_NEXT_SAME();
                    }
                }
            } else if (p[1] == OP_JUMPFALSE || p[1] == OP_JUMPTRUE) {
                const int truth = operandRelation(op, l, b);
                if (truth >= 0) {
                    pc = (truth != 0) == (p[1] == OP_JUMPTRUE) ? p + 4 + readI16(p + 2) : p + 4;
                    XB_TAKE_LINE();
                    XB_NEXT_SAME();
                }
            }
        }
    }
    XB_ROOM(1);
    *++top = *l;
    pc += 2;
    XB_NEXT_SAME();
}

op_poplocal: {
    Item* l = frame + 1 + readU16(pc);
    if (l > top || (l->type & M_REF)) [[unlikely]] goto slow;
    if ((top->type & T_MEMO) == T_MEMO) top->type = T_STRING;
    *l = *top;
    --top;
    pc += 2;
    if (top <= frame) [[unlikely]] goto lowTop;
    XB_AFTER_STORE();
    XB_NEXT_SAME();
}

op_pop:
    --top;
    XB_NEXT();

op_jump:
    pc += 2 + readI16(pc);
    XB_LOOP_HEAD();
    XB_NEXT_SAME();

op_jumpfalse:
    if (top->type != T_LOGICAL) [[unlikely]] goto slow;
    pc += top->v.l ? 2 : 2 + readI16(pc);
    --top;
    XB_NEXT_LINE();

op_jumptrue:
    if (top->type != T_LOGICAL) [[unlikely]] goto slow;
    pc += top->v.l ? 2 + readI16(pc) : 2;
    --top;
    XB_NEXT_LINE();

op_plus: {
    Item r;
    if (!plainSum<false>(top - 1, top, &r)) goto slow;
    *--top = r;
    XB_NEXT();
}

op_minus: {
    Item r;
    if (!plainSum<true>(top - 1, top, &r)) goto slow;
    *--top = r;
    XB_NEXT();
}

op_inc:
    if (top->type == T_INTEGER && top->v.l != INT32_MAX) ++top->v.l;
    else if (top->type == T_DOUBLE) top->v.d += 1.0;
    else goto slow;
    XB_NEXT_SAME();

op_dec:
    if (top->type == T_INTEGER && top->v.l != INT32_MIN) --top->v.l;
    else if (top->type == T_DOUBLE) top->v.d -= 1.0;
    else goto slow;
    XB_NEXT_SAME();

op_relation: {
    bool truth;
    if (!plainRelation(pc[-1], top - 1, top, &truth)) goto slow;
    --top;
    putLogical(top, truth);
    XB_NEXT();
}

op_not:
    if (top->type != T_LOGICAL) [[unlikely]] goto slow;
    putLogical(top, top->v.l == 0);
    XB_NEXT_SAME();

op_end:
    vm.running = 0;
    XB_SYNC();
    return result;

#undef XB_SYNC
#undef XB_RELOAD
#undef XB_NEXT
#undef XB_NEXT_SAME
#undef XB_ROOM
#undef XB_TAKE_LINE
#undef XB_NEXT_LINE
#undef XB_LOOP_HEAD
#undef XB_AFTER_STORE
}

}  // namespace xb
