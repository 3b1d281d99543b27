// The table of built-in functions shared by the macro and source compilers.
#include "macro/builtins.h"

#include <cstring>

#include "vm/opcodes.h"

namespace xb::macro {

namespace {

// Rows with opcode 0 follow a rule of their own (argument-dependent opcodes).
enum : uint8_t { R_EVAL = 1, R_INKEY, R_SELECT, R_STR, R_SUBSTR };
constexpr Builtin BUILTINS[] = {
    {"AADD", 2, 155}, {"ABS", 1, 86}, {"ASC", 1, 156}, {"AT", 2, 157}, {"BOF", 0, 128},
    {"BREAK", 1, 90}, {"CDOW", 1, 158}, {"CHR", 1, 159}, {"CMON", 1, 160}, {"CMONT", 1, 160},
    {"CMONTH", 1, 160}, {"COL", 0, 199}, {"CTOD", 1, 161}, {"DATE", 0, 162}, {"DAY", 1, 163},
    {"DELE", 0, 129}, {"DELET", 0, 129}, {"DELETE", 0, 129}, {"DELETED", 0, 129}, {"DEVP", 2, 200},
    {"DEVPO", 2, 200}, {"DEVPOS", 2, 200}, {"DOW", 1, 164}, {"DTOC", 1, 165}, {"DTOS", 1, 166},
    {"EMPT", 1, 167}, {"EMPTY", 1, 167}, {"EOF", 0, 130}, {"EVAL", R_EVAL, 0}, {"EXP", 1, 168},
    {"FCOU", 0, 131}, {"FCOUN", 0, 131}, {"FCOUNT", 0, 131}, {"FIEL", 1, 132}, {"FIELD", 1, 132},
    {"FIELDN", 1, 132}, {"FIELDNA", 1, 132}, {"FIELDNAM", 1, 132}, {"FIELDNAME", 1, 132},
    {"FLOC", 0, 133}, {"FLOCK", 0, 133}, {"FOUN", 0, 134}, {"FOUND", 0, 134}, {"INKE", R_INKEY, 0},
    {"INKEY", R_INKEY, 0}, {"INT", 1, 171}, {"LAST", 0, 137}, {"LASTR", 0, 137}, {"LASTRE", 0, 137},
    {"LASTREC", 0, 137}, {"LEFT", 2, 172}, {"LEN", 1, 173}, {"LOG", 1, 174}, {"LOWE", 1, 175},
    {"LOWER", 1, 175}, {"LTRI", 1, 176}, {"LTRIM", 1, 176}, {"MAX", 2, 177}, {"MIN", 2, 178},
    {"MONT", 1, 180}, {"MONTH", 1, 180}, {"PCOL", 0, 203}, {"PCOU", 0, 116}, {"PCOUN", 0, 116},
    {"PCOUNT", 0, 116}, {"PROW", 0, 204}, {"QSEL", 0, 120}, {"QSELF", 0, 120}, {"QSUPER", 0, 207},
    {"RECC", 0, 137}, {"RECCO", 0, 137}, {"RECCOU", 0, 137}, {"RECCOUN", 0, 137}, {"RECCOUNT", 0, 137},
    {"RECN", 0, 139}, {"RECNO", 0, 139}, {"REPL", 2, 181}, {"REPLI", 2, 181}, {"REPLIC", 2, 181},
    {"REPLICA", 2, 181}, {"REPLICAT", 2, 181}, {"REPLICATE", 2, 181}, {"RLOC", 0, 138},
    {"RLOCK", 0, 138}, {"ROUN", 2, 182}, {"ROUND", 2, 182}, {"ROW", 0, 205}, {"RTRI", 1, 192},
    {"RTRIM", 1, 192}, {"SECO", 0, 183}, {"SECON", 0, 183}, {"SECOND", 0, 183}, {"SECONDS", 0, 183},
    {"SELE", R_SELECT, 0}, {"SELEC", R_SELECT, 0}, {"SELECT", R_SELECT, 0}, {"SETP", 2, 206},
    {"SETPO", 2, 206}, {"SETPOS", 2, 206}, {"SPAC", 1, 184}, {"SPACE", 1, 184}, {"SQRT", 1, 185},
    {"STR", R_STR, 0}, {"SUBS", R_SUBSTR, 0}, {"SUBST", R_SUBSTR, 0}, {"SUBSTR", R_SUBSTR, 0},
    {"TIME", 0, 191}, {"TRAN", 2, 198}, {"TRANS", 2, 198}, {"TRANSF", 2, 198}, {"TRANSFO", 2, 198},
    {"TRANSFOR", 2, 198}, {"TRANSFORM", 2, 198}, {"TRIM", 1, 192}, {"TYPE", 1, 144}, {"UPPE", 1, 193},
    {"UPPER", 1, 193}, {"VAL", 1, 194}, {"VALT", 1, 195}, {"VALTY", 1, 195}, {"VALTYP", 1, 195},
    {"VALTYPE", 1, 195}, {"WORD", 1, 196}, {"YEAR", 1, 197},
};

}  // namespace

const Builtin* findBuiltin(const char* name) {
    for (const Builtin& b : BUILTINS)
        if (std::strcmp(b.name, name) == 0) return &b;
    return nullptr;
}

uint8_t builtinOpcode(const Builtin& b, uint32_t n) {
    if (b.opcode) return n == b.args ? b.opcode : 0;
    switch (b.args) {
    case R_EVAL: return n >= 1 ? OP_EVALSEND : 0;
    case R_INKEY: return n == 0 ? 201 : n == 1 ? 202 : 0;
    case R_SELECT: return n == 0 ? 135 : n == 1 ? 136 : 0;
    case R_STR: return n >= 1 && n <= 3 ? uint8_t(185 + n) : 0;
    case R_SUBSTR: return n == 2 ? 189 : n == 3 ? 190 : 0;
    default: return 0;
    }
}

}  // namespace xb::macro
