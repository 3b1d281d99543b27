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
    if (a->type == T_INTEGER && b->type == T_INTEGER) {
        int32_t s;
        if (minus) {
            if (__builtin_sub_overflow(a->v.l, b->v.l, &s) || s == INT32_MIN) return false;
        } else {
            if (__builtin_add_overflow(a->v.l, b->v.l, &s) || s == INT32_MAX) return false;
        }
        *out = *a;
        out->v.l = s;
        return true;
    }
    if (isIntOrDouble(a->type) && isIntOrDouble(b->type)) {
        uint32_t da = decimalsOf(a), db = decimalsOf(b);
        double x = numberOf(a), y = numberOf(b);
        setDouble(out, minus ? x - y : x + y, 0, capDecimals(da > db ? da : db));
        return true;
    }
    return false;
}

// a R b for the relation opcode op on its plain path (Integers, or Integers
// and Doubles); false when the handler must decide.
inline bool plainRelation(uint8_t op, const Item* a, const Item* b, bool* result) {
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

inline bool isRelation(uint8_t op) {
    return op == OP_LESSEQUAL || op == OP_LESS || op == OP_GREATER || op == OP_GREATEREQUAL || op == OP_EQUAL ||
           op == OP_EXACTEQUAL || op == OP_NOTEQUAL;
}

// The constant or local a compare-and-branch sequence pushes second, read
// without pushing it: the instruction's length in *size, or false when the
// opcode at p is none of these (or the local is out of the plain path).
inline bool secondOperand(const uint8_t* p, Item* frame, Item* top, Item* out, uint32_t* size) {
    switch (*p) {
    case OP_PUSHINT: putInteger(out, readI16(p + 1)); *size = 3; return true;
    case OP_PUSHWORD: putInteger(out, readU16(p + 1)); *size = 3; return true;
    case OP_ZERO: putInteger(out, 0); *size = 1; return true;
    case OP_ONE: putInteger(out, 1); *size = 1; return true;
    case OP_PUSHDOUBLE:
        out->type = T_DOUBLE;
        out->width = p[1];
        out->decimals = p[2];
        out->pad6 = 0;
        std::memcpy(&out->v.d, p + 3, sizeof(double));
        *size = 11;
        return true;
    case OP_PUSHLOCAL: {
        const Item* l = frame + 1 + readU16(p + 1);
        // the local must lie below the Item the first push adds
        if (l > top || (l->type & M_REF)) return false;
        *out = *l;
        *size = 3;
        return true;
    }
    default: return false;
    }
}

}  // namespace

uint16_t runFast() {
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
    const uint8_t* ins = pc;
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
        ins = pc;                                \
        goto* table[*pc++];                      \
    } while (0)
    // After an instruction that left top where it was or pushed, the check
    // made before it still holds.
#define XB_NEXT_SAME()        \
    do {                      \
        ins = pc;             \
        goto* table[*pc++];   \
    } while (0)
#define XB_ROOM(n) \
    if (stackEnd - top < (n)) [[unlikely]] goto slow

    XB_NEXT();

lowTop:
    XB_SYNC();
    checkFrameItems();
    ins = pc;
    goto* table[*pc++];

slow: {
    // pc is just past the opcode byte, as the handler expects
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
    const Item* l = frame + 1 + readU16(pc);
    if (l > top || (l->type & M_REF)) [[unlikely]] goto slow;
    XB_ROOM(1);
    uint8_t next = pc[2];
    if (next == OP_PUSHLOCAL) {
        // local := local + local (or -): four instructions, no stack traffic
        uint8_t op = pc[5];
        if ((op == OP_PLUS || op == OP_MINUS) && pc[6] == OP_POPLOCAL && stackEnd - top >= 2) {
            const Item* m = frame + 1 + readU16(pc + 3);
            Item* d = frame + 1 + readU16(pc + 7);
            if (m <= top && d <= top && !(m->type & M_REF) && !(d->type & M_REF)) {
                Item r;
                if (op == OP_PLUS ? plainSum<false>(l, m, &r) : plainSum<true>(l, m, &r)) {
                    *d = r;
                    pc += 9;
                    XB_NEXT_SAME();
                }
            }
        }
    }
    if (next == OP_INC || next == OP_DEC) {
        // local := local + 1 (or - 1)
        if (pc[3] == OP_POPLOCAL) {
            Item* d = frame + 1 + readU16(pc + 4);
            if (d <= top && !(d->type & M_REF)) {
                if (l->type == T_INTEGER && l->v.l != (next == OP_INC ? INT32_MAX : INT32_MIN)) {
                    int32_t v = l->v.l + (next == OP_INC ? 1 : -1);
                    Item r = *l;
                    r.v.l = v;
                    *d = r;
                    pc += 6;
                    XB_NEXT_SAME();
                }
                if (l->type == T_DOUBLE) {
                    Item r = *l;
                    r.v.d += next == OP_INC ? 1.0 : -1.0;
                    *d = r;
                    pc += 6;
                    XB_NEXT_SAME();
                }
            }
        }
    } else {
        // IF / WHILE local R operand: compare and branch without pushing
        Item b;
        uint32_t size;
        if (stackEnd - top >= 2 && secondOperand(pc + 2, frame, top, &b, &size)) {
            const uint8_t* p = pc + 2 + size;
            uint8_t rel = p[0];
            uint8_t jump = p[1];
            bool truth;
            if (isRelation(rel) && (jump == OP_JUMPFALSE || jump == OP_JUMPTRUE) && plainRelation(rel, l, &b, &truth)) {
                p += 2;
                if (truth == (jump == OP_JUMPTRUE)) pc = p + 2 + readI16(p);
                else pc = p + 2;
                XB_NEXT_SAME();
            }
        }
    }
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
    XB_NEXT();
}

op_pop:
    --top;
    XB_NEXT();

op_jump:
    pc += 2 + readI16(pc);
    XB_NEXT_SAME();

op_jumpfalse:
    if (top->type != T_LOGICAL) [[unlikely]] goto slow;
    pc += top->v.l ? 2 : 2 + readI16(pc);
    --top;
    XB_NEXT();

op_jumptrue:
    if (top->type != T_LOGICAL) [[unlikely]] goto slow;
    pc += top->v.l ? 2 + readI16(pc) : 2;
    --top;
    XB_NEXT();

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
    if (!plainRelation(*ins, top - 1, top, &truth)) goto slow;
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
}

}  // namespace xb
