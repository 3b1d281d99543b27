// The inline built-in functions by name. The compilers turn a call of UPPER
// or DATE into one opcode; a call that reaches the function through its
// symbol (pcode assembled by hand, a name chosen at run time, a macro of
// another spelling) lands here and runs the very same opcode handler, so the
// two ways of calling can never disagree.
//
// The parameters are copied above the frame (references followed), the
// handler replaces them by its result in place, and the result becomes the
// return Item. A handler's error word is raised as the interpreter raises it
// (same descriptor, the same operands) and a substituted value is the result;
// retry runs the handler again on fresh copies of the parameters.
//
// Argument counts: a function with several forms (STR, SUBSTR, SELECT) takes
// the form of the count given; a missing argument is NIL (the handler then
// raises its own argument error); surplus arguments are ignored.
//
// EVAL by name evaluates its first argument with the rest as parameters.
#include <cstddef>
#include <new>
#include <utility>

#include "vm/function.h"
#include "vm/error.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/opcodes.h"
#include "vm/stack.h"

namespace xb {

namespace {

struct InlineFunction {
    const char* name;
    uint8_t ops[4];  // the opcode for 0, 1, 2, 3 arguments; 0 where that count is no form
};

constexpr InlineFunction kInline[] = {
    {"AADD", {0, 0, OP_AADD, 0}},
    {"ABS", {0, OP_ABS, 0, 0}},
    {"ASC", {0, OP_ASC, 0, 0}},
    {"AT", {0, 0, OP_AT, 0}},
    {"BOF", {OP_BOF, 0, 0, 0}},
    {"CDOW", {0, OP_CDOW, 0, 0}},
    {"CHR", {0, OP_CHR, 0, 0}},
    {"CMONTH", {0, OP_CMONTH, 0, 0}},
    {"COL", {OP_COL, 0, 0, 0}},
    {"CTOD", {0, OP_CTOD, 0, 0}},
    {"DATE", {OP_DATE, 0, 0, 0}},
    {"DAY", {0, OP_DAY, 0, 0}},
    {"DELETED", {OP_DELETED, 0, 0, 0}},
    {"DOW", {0, OP_DOW, 0, 0}},
    {"DTOC", {0, OP_DTOC, 0, 0}},
    {"DTOS", {0, OP_DTOS, 0, 0}},
    {"EMPTY", {0, OP_EMPTY, 0, 0}},
    {"EOF", {OP_EOF, 0, 0, 0}},
    {"EXP", {0, OP_EXP, 0, 0}},
    {"FCOUNT", {OP_FCOUNT, 0, 0, 0}},
    {"FIELDNAME", {0, OP_FIELDNAME, 0, 0}},
    {"FLOCK", {OP_FLOCK, 0, 0, 0}},
    {"FOUND", {OP_FOUND, 0, 0, 0}},
    {"INT", {0, OP_INT, 0, 0}},
    {"LASTREC", {OP_LASTREC, 0, 0, 0}},
    {"LEFT", {0, 0, OP_LEFT, 0}},
    {"LEN", {0, OP_LEN, 0, 0}},
    {"LOG", {0, OP_LOG, 0, 0}},
    {"LOWER", {0, OP_LOWER, 0, 0}},
    {"LTRIM", {0, OP_LTRIM, 0, 0}},
    {"MAX", {0, 0, OP_MAX, 0}},
    {"MIN", {0, 0, OP_MIN, 0}},
    {"MONTH", {0, OP_MONTH, 0, 0}},
    {"RECCOUNT", {OP_LASTREC, 0, 0, 0}},
    {"RECNO", {OP_RECNO, 0, 0, 0}},
    {"REPLICATE", {0, 0, OP_REPLICATE, 0}},
    {"RLOCK", {OP_RLOCK, 0, 0, 0}},
    {"ROUND", {0, 0, OP_ROUND, 0}},
    {"ROW", {OP_ROW, 0, 0, 0}},
    {"RTRIM", {0, OP_TRIM, 0, 0}},
    {"SECONDS", {OP_SECONDS, 0, 0, 0}},
    {"SELECT", {OP_SELECT0, OP_SELECT1, 0, 0}},
    {"SETPOS", {0, 0, OP_SETPOS, 0}},
    {"SPACE", {0, OP_SPACE, 0, 0}},
    {"SQRT", {0, OP_SQRT, 0, 0}},
    {"STR", {0, OP_STR1, OP_STR2, OP_STR3}},
    {"SUBSTR", {0, 0, OP_SUBSTR2, OP_SUBSTR3}},
    {"TIME", {OP_TIME, 0, 0, 0}},
    {"TRANSFORM", {0, 0, OP_TRANSFORM, 0}},
    {"TRIM", {0, OP_TRIM, 0, 0}},
    {"TYPE", {0, OP_TYPE, 0, 0}},
    {"UPPER", {0, OP_UPPER, 0, 0}},
    {"VAL", {0, OP_VAL, 0, 0}},
    {"VALTYPE", {0, OP_VALTYPE, 0, 0}},
    {"WORD", {0, OP_WORD, 0, 0}},
    {"YEAR", {0, OP_YEAR, 0, 0}},
};
constexpr size_t kInlineCount = sizeof kInline / sizeof kInline[0];

// The form for n arguments: that count when it is one, else the nearest
// larger count (missing arguments become NIL), else the largest (surplus
// ones are dropped).
uint16_t formFor(const InlineFunction& f, uint16_t n) {
    if (n <= 3 && f.ops[n]) return n;
    for (uint16_t k = uint16_t(n < 3 ? n + 1 : 3); k <= 3; ++k)
        if (f.ops[k]) return k;
    for (int k = 3; k >= 0; --k)
        if (f.ops[k]) return uint16_t(k);
    return 0;
}

// Inside TYPE the caller traps errors: an unwinding instead of a raise.
bool callerIsQuiet() {
    Item* caller = vm.stack + frameSlot(vm.frame)->callerFrame;
    return (savedFlagsOf(caller) & FF_QUIET) != 0;
}

uint16_t runInline(const InlineFunction& f) {
    uint16_t count = formFor(f, paramCount());
    uint8_t op = f.ops[count];
    Item* base = vm.top;
    for (;;) {
        for (uint16_t i = 1; i <= count; ++i) {
            Item* p = paramItem(i, M_ANY);
            if (p) pushDeref(p);
            else pushNil();
        }
        uint16_t r = opTable[op]();
        if (r == 0) {
            retItem(vm.top);
            vm.top = base;
            return 0;
        }
        if (r == ST_UNWIND || callerIsQuiet()) {
            vm.top = base;
            vm.callResult = ST_UNWIND;
            return ST_UNWIND;
        }
        ErrorDescriptor d = statusDescriptor(r);
        uint16_t outcome = raiseOperatorError(&d, statusOperandCount(r));
        if (outcome == 1) {
            vm.top = base;
            continue;
        }
        if (outcome == 0 && (d.flags & EF_SUBSTITUTE)) retItem(vm.top);
        else retNil();
        vm.top = base;
        return outcome == 0 ? 0 : ST_UNWIND;
    }
}

template <size_t I>
uint16_t inlineNative() {
    return runInline(kInline[I]);
}

template <size_t... I>
constexpr auto inlineFunctions(std::index_sequence<I...>) {
    struct Table {
        Function f[sizeof...(I)];
    };
    return Table{{Function{&inlineNative<I>, nullptr, nullptr}...}};
}
constexpr auto kFunctions = inlineFunctions(std::make_index_sequence<kInlineCount>{});

// One registration per name, made before main like XB_NATIVE's.
struct InlineRegistrations {
    alignas(NativeRegistration) unsigned char storage[kInlineCount][sizeof(NativeRegistration)];
    InlineRegistrations() {
        for (size_t i = 0; i < kInlineCount; ++i)
            new (storage[i]) NativeRegistration(kInline[i].name, &kFunctions.f[i], __FILE__);
    }
};
InlineRegistrations registrations;

}  // namespace

// EVAL(block, [arguments...]): the block's value. Anything but a block is
// the no-method error of EVAL, as the opcode gives.
XB_NATIVE(fnEVAL, "EVAL") {
    uint16_t n = paramCount();
    pushSymbol(evalSymbol);
    Item* b = paramItem(1, M_ANY);
    if (b) pushDeref(b);
    else pushNil();
    for (uint16_t i = 2; i <= n; ++i) pushDeref(paramItem(i, M_ANY));
    return evalSend(uint16_t(n > 0 ? n - 1 : 0));
}

}  // namespace xb
