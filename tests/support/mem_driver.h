// A small in-memory table driver for tests of the database layer: "MEMTAB"
// keeps its tables in a map by file name and implements the positioning,
// value, record, lock and open/create slots over them; "MEMKID" inherits
// everything from it and overrides goTo with a parent call. Both are linked
// in through the registry like real drivers:
//
//   test::MemDriver::install();   // after load(), before opening tables
//   ... DBUSEAREA(.T., "MEMTAB", "PEOPLE", "P") ...
//   test::MemDriver::remove();    // before the VM goes down
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "rdd/areas.h"
#include "rdd/default_methods.h"
#include "rdd/registry.h"
#include "rdd/workarea.h"
#include "runtime/output.h"
#include "vm/symbols.h"
#include "vm/native.h"
#include "vm/object.h"

namespace xb::test {

struct MemField {
    std::string name;
    char type;  // C N D L M
    uint16_t length, decimals;
};
struct MemRow {
    std::vector<std::string> text;  // C and M
    std::vector<double> number;     // N, D (day number), L (0/1)
    bool deleted = false;
};
struct MemTable {
    std::vector<MemField> fields;
    std::vector<MemRow> rows;
};

struct MemArea {
    WorkArea common;
    MemTable* table;
    uint32_t recNo;
};

struct MemDriver {
    static inline std::map<std::string, MemTable> tables;
    static inline RddMethodTable memParent, kidParent;
    static inline int goToCalls = 0, kidGoToCalls = 0, flushes = 0;
    static inline std::vector<uint32_t> locked;

    static MemArea* m(WorkArea* a) { return reinterpret_cast<MemArea*>(a); }
    static uint32_t count(WorkArea* a) { return uint32_t(m(a)->table->rows.size()); }

    static RddResult sysName(WorkArea*, char* out) {
        std::strcpy(out, "MEMTAB");
        return RDD_OK;
    }
    static RddResult structSize(WorkArea*, uint16_t* size) {
        *size = uint16_t(sizeof(MemArea));
        return RDD_OK;
    }
    static RddResult goTo(WorkArea* a, uint32_t n) {
        ++goToCalls;
        MemArea* x = m(a);
        if (n >= 1 && n <= count(a)) {
            x->recNo = n;
            a->bof = a->eof = 0;
        } else {
            x->recNo = count(a) + 1;  // the phantom record
            a->eof = 1;
            a->bof = count(a) == 0;
        }
        a->found = 0;
        return RDD_OK;
    }
    static RddResult goToId(WorkArea* a, const Item* id) { return rdd::goTo(a, uint32_t(itemDouble(id))); }
    static RddResult goTop(WorkArea* a) {
        rdd::goTo(a, 1);
        a->atTop = 1;
        a->atBottom = 0;
        return rdd::skipFilter(a, 1);
    }
    static RddResult goBottom(WorkArea* a) {
        rdd::goTo(a, count(a));
        a->atBottom = 1;
        a->atTop = 0;
        return rdd::skipFilter(a, -1);
    }
    static RddResult skipRaw(WorkArea* a, int32_t n) {
        MemArea* x = m(a);
        if (n == 0) return RDD_OK;
        int64_t to = int64_t(x->recNo) + n;
        if (to < 1) {
            rdd::goTo(a, 1);
            a->bof = 1;
            return RDD_OK;
        }
        return rdd::goTo(a, uint32_t(to > count(a) ? count(a) + 1 : to));
    }
    static MemRow* row(WorkArea* a) {
        MemArea* x = m(a);
        return x->recNo >= 1 && x->recNo <= count(a) ? &x->table->rows[x->recNo - 1] : nullptr;
    }
    static RddResult getValue(WorkArea* a, uint16_t i, Item* out) {
        MemRow* r = row(a);
        const MemField& f = m(a)->table->fields[i];
        std::string t = r ? r->text[i] : std::string();
        double v = r ? r->number[i] : 0;
        switch (f.type) {
        case 'C': t.resize(f.length, ' '); [[fallthrough]];
        case 'M': makeString(out, t.data(), uint32_t(t.size())); if (f.type == 'M') out->type = T_MEMO; break;
        case 'N': out->type = T_DOUBLE; out->v.d = v; break;
        case 'D': out->type = T_DATE; out->v.l = int32_t(v); break;
        case 'L': out->type = T_LOGICAL; out->v.l = v != 0; break;
        }
        return RDD_OK;
    }
    static RddResult getVarLen(WorkArea* a, uint16_t i, uint32_t* n) {
        MemRow* r = row(a);
        *n = r ? uint32_t(r->text[i].size()) : 0;
        return RDD_OK;
    }
    static RddResult putValue(WorkArea* a, uint16_t i, const Item* v) {
        MemRow* r = row(a);
        if (!r) return RDD_OK;
        if (isString(v)) r->text[i].assign(strData(v), strLength(v));
        else if (v->type == T_LOGICAL || v->type == T_DATE || v->type == T_INTEGER) r->number[i] = v->v.l;
        else if (v->type == T_DOUBLE) r->number[i] = v->v.d;
        return RDD_OK;
    }
    static RddResult append(WorkArea* a, uint16_t) {
        MemRow r;
        r.text.resize(m(a)->table->fields.size());
        r.number.resize(m(a)->table->fields.size());
        m(a)->table->rows.push_back(r);
        return goTo(a, count(a));
    }
    static RddResult recCount(WorkArea* a, uint32_t* n) {
        *n = count(a);
        return RDD_OK;
    }
    static RddResult recNo(WorkArea* a, Item* out) {
        itemClear(out);
        out->type = T_INTEGER;
        out->v.l = int32_t(m(a)->recNo);
        return RDD_OK;
    }
    static RddResult deleted(WorkArea* a, uint16_t* f) {
        *f = row(a) && row(a)->deleted;
        return RDD_OK;
    }
    static RddResult deleteRecord(WorkArea* a) {
        if (MemRow* r = row(a)) r->deleted = true;
        return RDD_OK;
    }
    static RddResult recall(WorkArea* a) {
        if (MemRow* r = row(a)) r->deleted = false;
        return RDD_OK;
    }
    static RddResult flush(WorkArea*) {
        ++flushes;
        return RDD_OK;
    }
    static RddResult lock(WorkArea* a, LockInfo* l) {
        if (l->method == LOCK_RECORD) locked.clear();
        if (l->method != LOCK_FILE) locked.push_back(l->record ? l->record : m(a)->recNo);
        l->result = 1;
        return RDD_OK;
    }
    static RddResult unlock(WorkArea*, uint32_t n) {
        if (n == 0) locked.clear();
        return RDD_OK;
    }
    static RddResult info(WorkArea* a, uint16_t code, Item* out) {
        switch (code) {
        case DBI_TABLEEXT: makeString(out, ".mem", 4); return RDD_OK;
        case DBI_GETHEADERSIZE: itemClear(out); out->type = T_INTEGER; out->v.l = 99; return RDD_OK;
        case DBI_GETLOCKARRAY:
            makeArray(out, uint32_t(locked.size()));
            for (size_t i = 0; i < locked.size(); ++i) {
                arrayItems(out)[i].type = T_INTEGER;
                arrayItems(out)[i].v.l = int32_t(locked[i]);
            }
            return RDD_OK;
        }
        return rddCallVia<RDD_INFO>(&memParent, a, code, out);
    }
    static RddResult open(WorkArea* a, OpenInfo* info) {
        auto t = tables.find(info->fileName);
        if (t == tables.end()) {
            AreaErrorInfo e{};
            e.genCode = EG_OPEN;
            e.subCode = 1001;
            e.flags = EF_DEFAULT;
            e.fileName = info->fileName;
            RddResult r = raiseAreaError(a, e);
            return r ? r : RDD_FAILED;
        }
        m(a)->table = &t->second;
        rdd::setFieldExtent(a, uint16_t(t->second.fields.size()));
        for (const MemField& f : t->second.fields) {
            FieldDefinition d{f.name.c_str(), 0, 0, f.length, f.decimals};
            d.type = f.type == 'C' ? T_STRING : f.type == 'M' ? T_MEMO : f.type == 'N' ? T_DOUBLE
                   : f.type == 'D' ? T_DATE : T_LOGICAL;
            rdd::addField(a, &d);
        }
        if (RddResult r = rddCallVia<RDD_OPEN>(&memParent, a, info)) return r;
        return rdd::goTop(a);
    }
    static RddResult create(WorkArea* a, OpenInfo* info) {
        MemTable t;
        for (uint16_t i = 0; i < a->fieldCount; ++i) {
            const FieldDescriptor& d = a->fields[i];
            char type = d.type == T_STRING ? 'C' : d.type == T_MEMO ? 'M' : d.type == T_DOUBLE ? 'N'
                      : d.type == T_DATE ? 'D' : 'L';
            t.fields.push_back({symbolName(d.symbol), type, d.length, d.decimals});
        }
        tables[info->fileName] = t;
        m(a)->table = &tables[info->fileName];
        return rddCallVia<RDD_CREATE>(&memParent, a, info);
    }

    static void fill(RddMethodTable* t) {
        rddSetSlot<RDD_SYSNAME>(t, sysName);
        rddSetSlot<RDD_STRUCTSIZE>(t, structSize);
        rddSetSlot<RDD_GOTO>(t, goTo);
        rddSetSlot<RDD_GOTOID>(t, goToId);
        rddSetSlot<RDD_GOTOP>(t, goTop);
        rddSetSlot<RDD_GOBOTTOM>(t, goBottom);
        rddSetSlot<RDD_SKIPRAW>(t, skipRaw);
        rddSetSlot<RDD_GETVALUE>(t, getValue);
        rddSetSlot<RDD_GETVARLEN>(t, getVarLen);
        rddSetSlot<RDD_PUTVALUE>(t, putValue);
        rddSetSlot<RDD_APPEND>(t, append);
        rddSetSlot<RDD_RECCOUNT>(t, recCount);
        rddSetSlot<RDD_RECNO>(t, recNo);
        rddSetSlot<RDD_DELETED>(t, deleted);
        rddSetSlot<RDD_DELETERECORD>(t, deleteRecord);
        rddSetSlot<RDD_RECALL>(t, recall);
        rddSetSlot<RDD_FLUSH>(t, flush);
        rddSetSlot<RDD_LOCK>(t, lock);
        rddSetSlot<RDD_UNLOCK>(t, unlock);
        rddSetSlot<RDD_INFO>(t, info);
        rddSetSlot<RDD_OPEN>(t, open);
        rddSetSlot<RDD_CREATE>(t, create);
    }

    // MEMKID: its own goTo counts and calls the parent's.
    static RddResult kidGoTo(WorkArea* a, uint32_t n) {
        ++kidGoToCalls;
        return rddCallVia<RDD_GOTO>(&kidParent, a, n);
    }
    static RddResult kidSysName(WorkArea*, char* out) {
        std::strcpy(out, "MEMKID");
        return RDD_OK;
    }
    static void fillKid(RddMethodTable* t) {
        rddSetSlot<RDD_GOTO>(t, kidGoTo);
        rddSetSlot<RDD_SYSNAME>(t, kidSysName);
    }

    static uint16_t entry(uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }
    static uint16_t memTable(uint16_t* n, RddMethodTable* t) {
        return inheritDriverTable(n, t, nullptr, &memParent, fill);
    }
    static uint16_t kidTable(uint16_t* n, RddMethodTable* t) {
        return inheritDriverTable(n, t, "MEMTAB", &kidParent, fillKid);
    }
    static uint16_t kidWep(uint16_t) {
        releaseDriverNamed("MEMTAB");
        return 1;
    }
    // A driver that implements nothing at all.
    static uint16_t bareTable(uint16_t* n, RddMethodTable* t) {
        return inheritDriverTable(n, t, nullptr, nullptr, nullptr);
    }

    static inline const uint8_t kMem[] = "\x06" "MEMTAB";
    static inline const uint8_t kKid[] = "\x06" "MEMKID";
    static inline const uint8_t kBare[] = "\x04" "BARE";
    static inline const uint8_t kGet[] = "\x0C" "GETFUNCTABLE";
    static inline const uint8_t kWep[] = "\x03" "WEP";
    static inline const DriverModule modules[3] = {
        {kMem, entry, 1, {{kGet, reinterpret_cast<void (*)()>(memTable)}, {nullptr, nullptr}}},
        {kKid, entry, 2, {{kGet, reinterpret_cast<void (*)()>(kidTable)}, {kWep, reinterpret_cast<void (*)()>(kidWep)}}},
        {kBare, entry, 1, {{kGet, reinterpret_cast<void (*)()>(bareTable)}, {nullptr, nullptr}}},
    };

    static void install() {
        tables.clear();
        locked.clear();
        goToCalls = kidGoToCalls = flushes = 0;
        resetDriverRegistry();
        for (const DriverModule& d : modules) addDriverModule(&d);
        registerDriver("MEMTAB", 1);
        registerDriver("MEMKID", 1);
        registerDriver("BARE", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("MEMTAB");
    }
    static void remove() {
        databaseEvent(EVENT_STOP);
        for (const DriverModule& d : modules) removeDriverModule(&d);
        resetDriverRegistry();
        tables.clear();
    }
    // A table of fields {name, type, length, decimals} and rows of values
    // written as text (numbers, dates as day numbers, logicals as 0/1).
    static void table(const std::string& file, std::vector<MemField> fields,
                      std::vector<std::vector<std::string>> rows) {
        MemTable t;
        t.fields = fields;
        for (auto& values : rows) {
            MemRow r;
            for (size_t i = 0; i < fields.size(); ++i) {
                bool text = fields[i].type == 'C' || fields[i].type == 'M';
                r.text.push_back(text ? values[i] : "");
                r.number.push_back(text ? 0 : std::stod(values[i]));
            }
            t.rows.push_back(r);
        }
        tables[file] = t;
    }
};

}  // namespace xb::test
