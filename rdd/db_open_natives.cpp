// Opening and closing tables, the selection of areas and the names around
// them: DBUSEAREA, DBCLOSEAREA, RDDNAME, DBTABLEEXT, USED, ALIAS,
// DBSELECTAREA, NETNAME and NETUSER.
#include <cstring>

#include "vm/function.h"
#include "rdd/areas.h"
#include "rdd/db_natives.h"
#include "rdd/default_methods.h"
#include "rdd/registry.h"
#include "runtime/errorsys.h"
#include "runtime/files.h"
#include "base/memory.h"
#include "vm/settings.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/stack.h"

namespace xb {

namespace {

bool logicalArgument(uint32_t n, bool* value) {
    Item* p = argumentItem(n);
    if (!p || p->type != T_LOGICAL) return false;
    *value = p->v.l != 0;
    return true;
}

// The driver named by the argument (a name of two characters or more), or
// the default driver; null when it cannot be had.
RddMethodTable* chosenDriver(const Item* name) {
    char buffer[DRIVER_NAME_MAX + 2];
    if (name && isString(name) && strLength(name) >= 2) {
        uint32_t n = strLength(name);
        if (n > DRIVER_NAME_MAX + 1) n = DRIVER_NAME_MAX + 1;
        std::memcpy(buffer, strData(name), n);
        buffer[n] = 0;
        return acquireDriver(buffer);
    }
    char fallback[60];
    defaultDriverName(fallback);
    return acquireDriver(fallback);
}

}  // namespace

WorkArea* areaOrError(uint16_t* status) {
    *status = 0;
    if (WorkArea* a = currentArea()) return a;
    *status = noAreaError("DBCMD", 2001);
    retNil();  // the handler's answer is no result of the function
    return nullptr;
}

void retText(const char* text) { retString(text, uint32_t(std::strlen(text))); }

uint16_t noResult(uint16_t r) {
    retNil();
    return nativeStatus(r);
}

WorkArea* newAreaRecord(RddMethodTable* methods) {
    WorkArea probe{};
    probe.methods = methods;
    uint16_t size = 0;
    rdd::structSize(&probe, &size);
    if (size < sizeof(WorkArea)) size = uint16_t(sizeof(WorkArea));
    auto* a = static_cast<WorkArea*>(memAllocZero(size));
    a->methods = methods;
    return a;
}

WorkArea* scratchArea(RddMethodTable* methods) { return newAreaRecord(methods); }
void freeScratchArea(WorkArea* a) { memFree(a); }

// DBUSEAREA([new], [driver], file, [alias], [shared], [readOnly]) opens a
// table in the current area (with new true, in the lowest free area).
XB_NATIVE(fnDBUSEAREA, "DBUSEAREA") {
    setNetErr(false);
    bool newArea = false;
    if (logicalArgument(1, &newArea) && newArea) {
        // With every area in use the open fails; it never takes the
        // current area's place.
        if (lowestFreeArea() == 0) {
            uint16_t r = areaSelectionError(true);
            retNil();
            return r == ST_UNWIND ? r : 0;
        }
        selectArea(0);
    }
    if (WorkArea* open = currentArea())
        if (RddResult r = closeAndRelease(open)) return noResult(r);
    RddMethodTable* methods = chosenDriver(argumentItem(2));
    if (!methods) {
        uint16_t r = argumentError("DBCMD", 1015, EF_DEFAULT);
        retNil();
        return r;
    }
    Item* file = argumentItem(3);
    if (!file || !isString(file)) {
        releaseDriver(methods);
        uint16_t r = argumentError("DBCMD", 1005, EF_DEFAULT);
        retNil();
        return r;
    }
    OpenInfo info{};
    info.areaNo = currentAreaNumber();
    info.fileName = itemTextCopy(file);
    Item* alias = argumentItem(4);
    info.alias = alias && isString(alias) ? itemTextCopy(alias) : nullptr;
    bool flag = false;
    info.shared = logicalArgument(5, &flag) ? flag : !settingExclusiveOpen();
    info.readOnly = logicalArgument(6, &flag) ? flag : false;

    WorkArea* a = newAreaRecord(methods);
    RddResult r = rdd::newArea(a);
    if (r) {
        memFree(a);
        releaseDriver(methods);
        storeArea(currentAreaNumber(), nullptr);
    } else if ((r = rdd::open(a, &info))) {
        rdd::release(a);
    }
    memFree(const_cast<char*>(info.fileName));
    memFree(const_cast<char*>(info.alias));
    return noResult(r);
}

// DBCLOSEAREA(): closes the current area; nothing without one.
XB_NATIVE(fnDBCLOSEAREA, "DBCLOSEAREA") {
    WorkArea* a = currentArea();
    return a ? noResult(closeAndRelease(a)) : 0;
}

// RDDNAME(): the driver of the current area.
XB_NATIVE(fnRDDNAME, "RDDNAME") {
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    char name[RDD_NAME_BUFFER] = "";
    if (a) rdd::sysName(a, name);
    name[RDD_NAME_BUFFER - 1] = 0;
    retText(name);
    return st;
}

// DBTABLEEXT(): the default extension of table files, of the current
// area's driver or, without an area, of the default driver.
XB_NATIVE(fnDBTABLEEXT, "DBTABLEEXT") {
    Item* out = tempAlloc();
    itemClear(out);
    if (WorkArea* a = currentArea()) {
        rdd::info(a, DBI_TABLEEXT, out);
    } else {
        char name[60];
        defaultDriverName(name);
        RddMethodTable* methods = acquireDriver(name);
        if (!methods) fatalError(9005);
        WorkArea* scratch = scratchArea(methods);
        rdd::info(scratch, DBI_TABLEEXT, out);
        freeScratchArea(scratch);
        releaseDriver(methods);
    }
    if (isString(out)) retItem(out);
    else retText("");
    tempRelease(out);
    return 0;
}

// USED(): is the current area in use?
XB_NATIVE(fnUSED, "USED") {
    retLogical(currentArea() != nullptr);
    return 0;
}

// ALIAS([area]): the alias of that area (default the current one), "" when
// the area is empty or has none.
XB_NATIVE(fnALIAS, "ALIAS") {
    Item* n = paramItem(1, M_NUMERIC);
    uint32_t number = n ? uint32_t(itemInt(n)) : currentAreaNumber();
    if (n && n->type == T_INTEGER && itemInt(n) <= 0) number = 0;
    char name[RDD_NAME_BUFFER] = "";
    if (WorkArea* a = areaAt(number)) rdd::alias(a, name);
    name[RDD_NAME_BUFFER - 1] = 0;
    retText(name);
    return 0;
}

// DBSELECTAREA(area | alias): selects it; 0 the lowest free area.
XB_NATIVE(fnDBSELECTAREA, "DBSELECTAREA") {
    Item* v = argumentItem(1);
    Item nil{};
    uint16_t n = 0;
    uint16_t r = areaOfValue(v ? v : &nil, &n);
    if (r) return noResult(r);
    retNil();
    selectArea(n);
    return 0;
}

// NETNAME(): the computer's name, padded to 15 characters.
XB_NATIVE(fnNETNAME, "NETNAME") {
    char name[40] = "";
    fsComputerName(name);
    name[32] = 0;
    retText(name);
    return 0;
}

// NETUSER(): the user's name, "" when the system cannot say it.
XB_NATIVE(fnNETUSER, "NETUSER") {
    char name[64] = "";
    if (!os::userName(name, sizeof name)) name[0] = 0;
    name[63] = 0;
    retText(name);
    return 0;
}

}  // namespace xb
