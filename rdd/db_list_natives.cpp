// __DBLIST(lOff, aBlocks, lAll, for, while, next, record, rest): LIST and
// DISPLAY to standard output. For each record of the scope one line: the
// record number right-aligned in 7 columns and a blank (left out with lOff
// .T.), then the value of each block of aBlocks as the console shows
// values, separated by one blank. With lAll .T. (LIST) and no scope every
// record is listed; with lAll .F. (DISPLAY) and no scope only the current
// record (nothing at end of file). Lines end in a line feed. NIL.
//
// Errors: no current area raises 35/2001 ("DBCMD"); the blocks' own errors
// are raised while they run.
#include <cstdio>
#include <string>

#include "vm/function.h"
#include "rdd/areas.h"
#include "rdd/db_command_support.h"
#include "rdd/db_natives.h"
#include "rdd/default_methods.h"
#include "runtime/display.h"
#include "runtime/output.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

struct ListJob {
    bool off;
    const Item* blocks;  // an array or null
};

RddResult listRecord(WorkArea* a, void* context) {
    auto* job = static_cast<ListJob*>(context);
    std::string line;
    if (!job->off) {
        Item* recno = tempAlloc();
        itemClear(recno);
        rdd::recNo(a, recno);
        char n[24];
        std::snprintf(n, sizeof n, "%7ld ", long(itemInt(recno)));
        tempRelease(recno);
        line += n;
    }
    uint32_t count = job->blocks ? arrayLength(job->blocks) : 0;
    for (uint32_t i = 0; i < count && job->blocks && i < arrayLength(job->blocks); ++i) {
        Item b = arrayItems(job->blocks)[i];
        if (i > 0) line += ' ';
        if (!(b.type & T_BLOCK)) continue;
        if (RddResult r = rdd::evalBlock(a, &b)) return r;
        DisplayText t = displayText(a->result);
        line.append(t.text, t.length);
    }
    line += '\n';
    standardOutput(line.data(), uint32_t(line.size()));
    return RDD_OK;
}

}  // namespace

XB_NATIVE(fnDBLIST, "__DBLIST") {
    retNil();
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    Item* off = commandArg(1);
    Item* blocks = commandArg(2);
    Item* all = commandArg(3);
    ListJob job{off && off->type == T_LOGICAL && off->v.l, blocks && isArray(blocks) ? blocks : nullptr};
    ScopeInfo scope = scopeArgs(4);
    RddResult r;
    bool listAll
 = all && all->type == T_LOGICAL && all->v.l;
    if (scopeIsEmpty(scope) && !listAll) {
        uint16_t eof = 0;
        r = rdd::eof(a, &eof);
        if (!r && !eof) r = listRecord(a, &job);
    } else {
        r = scopeLoop(a, &scope, listRecord, &job);
    }
    return noResult(r);
}

}  // namespace xb
