// The natives behind CLOSE ALL, LOCATE, CONTINUE, COPY TO, APPEND FROM and
// COPY STRUCTURE. Scope arguments come in the order bFor, bWhile, nNext,
// nRecord, lRest; NIL when absent; no scope argument at all means every
// record.
//
// DBCLOSEALL()                       closes every work area; NIL.
// __DBLOCATE(for, while, next, record, rest)
//                                    keeps the scope (the area's locate
//                                    scope) and moves to the first record
//                                    of the scope that satisfies for;
//                                    FOUND() tells whether one did; at the
//                                    end of the scope without one, FOUND()
//                                    is .F. (at end of file when the scope
//                                    ran to it).
// __DBCONTINUE()                     the next such record after the current
//                                    one, with the kept for and while.
// __DBCOPY(file, fields, for, while, next, record, rest, driver)
//                                    a new table of the chosen fields (all
//                                    when fields is NIL or empty) holding
//                                    the records of the scope; .T. when made.
// __DBAPP(file, fields, for, while, next, record, rest, driver)
//                                    appends the records of the scope of
//                                    table file; fields of the same name are
//                                    copied. .T. when the source opened.
// __DBCOPYSTRUCT(file, fields)       an empty table of the chosen fields.
//
// Errors: no current area raises 35/2001 ("DBCMD"); a file argument that is
// not a text raises the argument error 1001 ("DBCMD"). Failures of the
// drivers (create, open) are raised by them and end the function with .F.
#include "vm/function.h"
#include "rdd/areas.h"
#include "rdd/db_command_support.h"
#include "rdd/db_natives.h"
#include "rdd/default_methods.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

bool isBlock(const Item* it) { return it && (it->type & T_BLOCK); }
bool isTrue(const Item* it) { return it && it->type == T_LOGICAL && it->v.l; }

// Runs the locate loop from where the area stands (after the positioning
// of the scope). limit < 0: no limit.
RddResult locateFrom(WorkArea* a, const Item* forBlock, const Item* whileBlock, int32_t limit) {
    a->found = 0;
    for (;;) {
        uint16_t eof = 0;
        if (RddResult r = rdd::eof(a, &eof)) return r;
        if (eof) return RDD_OK;
        if (isBlock(whileBlock)) {
            if (RddResult r = rdd::evalBlock(a, whileBlock)) return r;
            if (!isTrue(a->result)) return RDD_OK;
        }
        bool hit = true;
        if (isBlock(forBlock)) {
            if (RddResult r = rdd::evalBlock(a, forBlock)) return r;
            hit = isTrue(a->result);
        }
        if (hit) {
            a->found = 1;
            return RDD_OK;
        }
        if (limit > 0 && --limit == 0) return RDD_OK;
        if (RddResult r = rdd::skip(a, 1)) return r;
    }
}

// The start the three table commands share: .F. as the result until they
// succeed, the current area (35/2001 without one) and the file name as the
// first argument (1001 when it is not a text). Non-zero: the status to end with.
uint16_t commandStart(WorkArea** area, Item** file) {
    retLogical(false);
    uint16_t st = 0;
    *area = areaOrError(&st);
    if (!*area) return st;
    *file = commandArg(1);
    if (!*file || !isString(*file)) return argumentError("DBCMD", 1001, EF_DEFAULT);
    return 0;
}

// The status of a layer operation as the native's own.
uint16_t finish(uint16_t r, bool ok) {
    retLogical(ok && r == 0);
    return r == ST_UNWIND ? r : 0;
}

// The field pairs that copy the fields of from named in names into the
// fields of the same name in to.
std::vector<FieldPair> pairsByName(WorkArea* from, WorkArea* to, const std::vector<uint16_t>& chosen) {
    std::vector<FieldPair> pairs;
    for (uint16_t i : chosen) {
        int32_t j = fieldIndexOf(to, fieldNameOf(from, i));
        if (j >= 0) pairs.push_back(FieldPair{i, uint16_t(j)});
    }
    return pairs;
}

RddResult transfer(WorkArea* from, WorkArea* to, const ScopeInfo& scope, const std::vector<FieldPair>& pairs) {
    TransferInfo t{};
    t.scope = scope;
    t.destination = to;
    t.pairCount = uint16_t(pairs.size());
    t.pairs = pairs.empty() ? nullptr : pairs.data();
    return rdd::trans(from, &t);
}

}  // namespace

XB_NATIVE(fnDBCLOSEALL, "DBCLOSEALL") {
    uint16_t current = currentAreaNumber();
    for (uint16_t n = 1; n <= AREA_COUNT; ++n) {
        WorkArea* a = areaAt(n);
        if (!a) continue;
        RddResult r = closeAndRelease(a);
        if (r == RDD_UNWIND) return rddStatusWord(r);
    }
    selectArea(current ? current : 1);
    retNil();
    return 0;
}

XB_NATIVE(fnDBLOCATE, "__DBLOCATE") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    ScopeInfo s = scopeArgs(1);
    // kept: while, for, next, record, rest, and two spare Items
    Item kept[LOCATE_ITEMS]{};
    if (s.whileCondition) kept[0] = *s.whileCondition;
    if (s.forCondition) kept[1] = *s.forCondition;
    if (s.next) kept[2] = *s.next;
    if (s.record) kept[3] = *s.record;
    if (s.rest) kept[4] = *s.rest;
    if (RddResult r = rdd::setLocate(a, kept)) return noResult(r);
    int32_t limit = -1;
    RddResult r = RDD_OK;
    if (s.record && isNumeric(s.record)) {
        r = rdd::goTo(a, uint32_t(itemInt(s.record)));
        limit = 1;
    } else if (s.next && isNumeric(s.next)) {
        limit = itemInt(s.next);
        if (limit <= 0) {
            a->found = 0;
            return noResult(0);
        }
    } else if (!isBlock(s.whileCondition) && !isTrue(s.rest)) {
        r = rdd::goTop(a);
    }
    if (!r) r = locateFrom(a, s.forCondition, s.whileCondition, limit);
    return noResult(r);
}

XB_NATIVE(fnDBCONTINUE, "__DBCONTINUE") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    const Item* whileBlock = a->locateScope[0];
    const Item* forBlock = a->locateScope[1];
    if (!isBlock(forBlock)) {  // nothing located yet
        a->found = 0;
        return noResult(0);
    }
    RddResult r = rdd::skip(a, 1);
    if (!r) r = locateFrom(a, forBlock, whileBlock, -1);
    return noResult(r);
}

XB_NATIVE(fnDBCOPY, "__DBCOPY") {
    WorkArea* a;
    Item* file;
    if (uint16_t st = commandStart(&a, &file)) return st;
    std::vector<uint16_t> chosen = chooseFields(a, commandArg(2));
    Item* structure = tempAlloc();
    RddResult r = chosenStructure(a, chosen, structure);
    WorkArea* target = nullptr;
    if (!r) {
        Item args[3]{*file, *structure, {}};
        Item* driver = commandArg(8);
        if (driver && isString(driver)) args[2] = *driver;
        r = rddFromStatus(callNamed("DBCREATE", args, 3));
        itemClear(returnItem());
    }
    if (!r) r = rddFromStatus(openBeside(file, commandArg(8), false, &target));
    if (!r && target) r = transfer(a, target, scopeArgs(3), pairsByName(a, target, chosen));
    uint16_t closed = closeBeside(target);
    if (!r) r = rddFromStatus(closed);
    tempRelease(structure);
    return finish(rddStatusWord(r), target != nullptr);
}

XB_NATIVE(fnDBAPP, "__DBAPP") {
    WorkArea* a;
    Item* file;
    if (uint16_t st = commandStart(&a, &file)) return st;
    WorkArea* source = nullptr;
    uint16_t r = openBeside(file, commandArg(8), true, &source);
    if (!r && source) {
        // the scope's blocks read the source's fields: run them there
        uint16_t current = currentAreaNumber();
        selectArea(source->areaNo);
        std::vector<uint16_t> chosen = chooseFields(source, commandArg(2));
        r = rddStatusWord(transfer(source, a, scopeArgs(3), pairsByName(source, a, chosen)));
        selectArea(current);
    }
    uint16_t closed = closeBeside(source);
    if (!r) r = closed;
    return finish(r, source != nullptr);
}

XB_NATIVE(fnDBCOPYSTRUCT, "__DBCOPYSTRUCT") {
    WorkArea* a;
    Item* file;
    if (uint16_t st = commandStart(&a, &file)) return st;
    Item* structure = tempAlloc();
    RddResult r = chosenStructure(a, chooseFields(a, commandArg(2)), structure);
    if (!r) {
        Item args[2]{*file, *structure};
        r = rddFromStatus(callNamed("DBCREATE", args, 2));
        itemClear(returnItem());
    }
    tempRelease(structure);
    return finish(rddStatusWord(r), true);

}

}  // namespace xb
