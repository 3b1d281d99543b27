// COPY TO and APPEND FROM text files: delimited text (CSV) and SDF (fixed
// width).
//
// __DBDELIM(lCopyTo, file, delimiter, fields, for, while, next, record, rest)
// __DBSDF(lCopyTo, file, fields, for, while, next, record, rest)
//
// Delimited text, one record a line ending in CR LF, fields separated by
// commas: character and memo fields in double quotes (a quote inside
// doubled, trailing blanks dropped), numbers as their text without blanks,
// dates as YYYYMMDD (nothing for an empty date), logicals as T or F. With a
// delimiter text its first character quotes instead of the double quote;
// with "BLANK" the fields are separated by one blank and nothing is quoted.
// Reading takes the same, and what spreadsheet programs write: quoted and
// unquoted fields, commas, line ends and doubled quotes inside quotes,
// lines ending in CR LF, LF or CR, no header line. The fields of a line go
// to the chosen fields in order (surplus ones are ignored, missing ones stay
// empty); numbers are read as VAL reads them, dates from YYYYMMDD (or in
// YYYY-MM-DD, or in the SET DATE format), logicals true for T, t, Y or y.
//
// SDF: every chosen field in its own width (texts padded, numbers right
// aligned as STR(value, length, decimals) shows them, dates YYYYMMDD,
// logicals T/F; memo fields are left out), one record a line ending in
// CR LF. Reading cuts each line at the same widths.
//
// A file name without an extension gets ".txt". The scope selects the
// records written; when reading, NEXT n reads at most n lines and RECORD n
// only line n, and FOR and WHILE are evaluated on the record just filled: a
// record FOR rejects is marked deleted, and the first one WHILE rejects is
// marked deleted and ends the import.
//
// Result .T. when the file was written or read. Errors: no current area
// 35/2001; a file argument that is not a text, argument error 1001
// ("DBCMD"); a file that cannot be created or opened raises the create
// (20/1006) or open (21/1005) error of subsystem "DBCMD" with the file's
// name and the system's code, retry allowed.
#include <cstring>
#include <string>
#include <vector>

#include "vm/function.h"
#include "base/dates.h"
#include "base/numfmt.h"
#include "rdd/areas.h"
#include "rdd/db_command_support.h"
#include "rdd/db_natives.h"
#include "rdd/default_methods.h"
#include "vm/error.h"
#include "runtime/files.h"
#include "vm/settings.h"
#include "vm/interp.h"
#include "vm/native.h"
#include "vm/object.h"
#include "vm/opcodes.h"
#include "vm/stack.h"

namespace xb {

namespace {

enum class Format { Delimited, Blank, Sdf };

struct TextJob {
    Format format;
    char quote;
    std::vector<uint16_t> fields;
    std::string out;  // pending output
    os::Handle handle;
    bool failed;
};

constexpr size_t kFlushAt = 1 << 16;
// The most an import reads: a larger file is refused rather than held whole.
constexpr uint32_t kImportMax = 0x40000000;

bool isBlock(const Item* it) { return it && (it->type & T_BLOCK); }
bool isTrue(const Item* it) { return it && it->type == T_LOGICAL && it->v.l; }

void flush(TextJob* j) {
    if (j->out.empty() || j->failed) return;
    int32_t n = fsWriteLong(j->handle, j->out.data(), uint32_t(j->out.size()));
    if (n != int32_t(j->out.size())) j->failed = true;
    j->out.clear();
}

// The number as STR(value, width, decimals) shows it.
std::string numberText(const Item* v, uint16_t width, uint16_t decimals) {
    char buf[80];
    if (width == 0 || width >= sizeof buf) width = 20;
    double x = v->type == T_DOUBLE ? v->v.d : double(v->v.l);
    formatNumber(x, width, decimals, buf);
    return std::string(buf, width);
}

std::string trimmed(std::string s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

void appendField(TextJob* j, const FieldDescriptor& f, const Item* v) {
    bool text = isString(v);
    std::string s;
    if (text) s.assign(strData(v), strLength(v));
    if (j->format == Format::Sdf) {
        if (f.type == T_MEMO) return;
        if (text) s.resize(f.length, ' ');
        else if (isNumeric(v)) s = numberText(v, f.length, f.decimals);
        else if (v->type == T_DATE) {
            char d[8];
            dateToCompact(v->v.l, d);
            s.assign(d, 8);
        } else if (v->type == T_LOGICAL) s = v->v.l ? "T" : "F";
        if (s.size() != f.length && f.length) s.resize(f.length, ' ');
        j->out += s;
        return;
    }
    if (text) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
        if (j->format == Format::Blank) {
            j->out += s;
            return;
        }
        j->out += j->quote;
        for (char c : s) {
            if (c == j->quote) j->out += j->quote;
            j->out += c;
        }
        j->out += j->quote;
    } else if (isNumeric(v)) {
        j->out += trimmed(numberText(v, f.length, f.decimals));
    } else if (v->type == T_DATE) {
        if (v->v.l) {
            char d[8];
            dateToCompact(v->v.l, d);
            j->out.append(d, 8);
        }
    } else if (v->type == T_LOGICAL) {
        j->out += v->v.l ? 'T' : 'F';
    }
}

RddResult writeRecord(WorkArea* a, void* context) {
    auto* j = static_cast<TextJob*>(context);
    bool first = true;
    for (uint16_t i : j->fields) {
        const FieldDescriptor& f = a->fields[i];
        if (j->format == Format::Sdf && f.type == T_MEMO) continue;
        if (RddResult r = rddFromStatus(pushField(&f))) return r;
        if (!first && j->format != Format::Sdf) j->out += j->format == Format::Blank ? ' ' : ',';
        first = false;
        appendField(j, f, vm.top);
        pop();
    }
    j->out += "\r\n";
    if (j->out.size() >= kFlushAt) flush(j);
    return j->failed ? RDD_FAILED : RDD_OK;
}

// ---- reading

// The fields of one line (delimited). pos moves past the line's end.
bool nextDelimitedLine(const std::string& s, size_t* pos, char quote, bool blank, std::vector<std::string>* out) {
    out->clear();
    size_t i = *pos, n = s.size();
    if (i >= n) return false;
    std::string field;
    bool quoted = false, any = false;
    for (;;) {
        if (i >= n) break;
        char c = s[i];
        if (quoted) {
            if (c == quote) {
                if (i + 1 < n && s[i + 1] == quote) {
                    field += quote;
                    i += 2;
                    continue;
                }
                quoted = false;
                ++i;
                continue;
            }
            field += c;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            if (c == '\r' && i < n && s[i] == '\n') ++i;
            break;
        }
        if (c == quote && !blank) {
            quoted = true;
            any = true;
            ++i;
            continue;
        }
        if ((!blank && c == ',') || (blank && c == ' ')) {
            out->push_back(field);
            field.clear();
            ++i;
            if (blank)
                while (i < n && s[i] == ' ') ++i;
            any = true;
            continue;
        }
        field += c;
        any = true;
        ++i;
    }
    *pos = i;
    if (any || !field.empty()) out->push_back(field);
    return true;
}

bool nextPlainLine(const std::string& s, size_t* pos, std::string* line) {
    size_t i = *pos, n = s.size();
    if (i >= n) return false;
    size_t e = i;
    while (e < n && s[e] != '\r' && s[e] != '\n') ++e;
    line->assign(s, i, e - i);
    if (e < n && s[e] == '\r') ++e;
    if (e < n && s[e] == '\n' && (e == i || s[e - 1] != '\n')) ++e;
    *pos = e;
    return true;
}

// Stores the text t into field f of a, converted to the field's type.
RddResult putText(WorkArea* a, uint16_t index, const std::string& t) {
    const FieldDescriptor& f = a->fields[index];
    Item* v = tempAlloc();
    itemClear(v);
    std::string s = t;
    switch (f.type) {
    case T_STRING:
    case T_MEMO: makeString(v, s.data(), uint32_t(s.size())); break;
    case T_INTEGER:
    case T_DOUBLE: {
        std::string n = trimmed(s);
        v->type = T_DOUBLE;
        v->v.d = textToNumber(n.data(), uint32_t(n.size()));
        v->width = f.length;
        v->decimals = f.decimals;
        break;
    }
    case T_DATE: {
        std::string d = trimmed(s);
        v->type = T_DATE;
        // YYYY-MM-DD, as spreadsheets write dates, is YYYYMMDD with dashes
        if (d.size() == 10 && d[4] == '-' && d[7] == '-') d = d.substr(0, 4) + d.substr(5, 2) + d.substr(8, 2);
        bool digits = d.size() == 8 && d.find_first_not_of("0123456789") == std::string::npos;
        if (digits) v->v.l = dateFromCompact(d.data(), d.size(), settingEpoch());
        else if (!d.empty()) v->v.l = dateParse(d.data(), d.size(), settingDateFormat(), settingEpoch());
        break;
    }
    case T_LOGICAL: {
        std::string l = trimmed(s);
        if (!l.empty() && l[0] == '.') l.erase(0, 1);
        v->type = T_LOGICAL;
        v->v.l = !l.empty() && (l[0] == 'T' || l[0] == 't' || l[0] == 'Y' || l[0] == 'y');
        break;
    }
    default: tempRelease(v); return RDD_OK;
    }
    RddResult r = rdd::putValue(a, index, v);
    tempRelease(v);
    return r;
}

uint16_t readAll(const std::string& name, std::string* data, bool* opened) {
    *opened = false;
    for (;;) {
        os::Handle h = fsOpen(name.c_str(), 0);
        if (h != os::INVALID) {
            uint32_t size = fsSeek(h, 0, 2);
            fsSeek(h, 0, 0);
            bool ok = size != 0xFFFFFFFFu && size <= kImportMax;
            if (ok) {
                data->resize(size);
                ok = fsReadLong(h, data->data(), size) == int32_t(size);
            }
            fsClose(h);
            *opened = ok;
            if (ok) {
                // an end-of-file mark closes the text
                size_t eof = data->find('\x1A');
                if (eof != std::string::npos) data->resize(eof);
            }
            return 0;
        }
        uint16_t r = raiseReport({"DBCMD", EG_OPEN, 1005, EF_RETRY | EF_DEFAULT, nullptr, name.c_str(), fsLastError()});
        if (r != 1) return r;
    }
}

RddResult importText(WorkArea* a, Format format, char quote, const std::string& name,
                    const std::vector<uint16_t>& fields, const ScopeInfo& scope, bool* done) {
    std::string data;
    if (uint16_t r = readAll(name, &data, done)) return rddFromStatus(r);
    if (!*done) return RDD_OK;
    int32_t limit = -1, only = -1;
    if (scope.record && isNumeric(scope.record)) only = itemInt(scope.record);
    else if (scope.next && isNumeric(scope.next)) limit = itemInt(scope.next);
    size_t pos = 0;
    std::vector<std::string> cells;
    std::string line;
    for (int32_t number = 1; limit != 0; ++number) {
        if (format == Format::Sdf) {
            if (!nextPlainLine(data, &pos, &line)) break;
            if (line.empty()) continue;
            cells.clear();
            size_t at = 0;
            for (uint16_t i : fields) {
                const FieldDescriptor& f = a->fields[i];
                if (f.type == T_MEMO) {
                    cells.emplace_back();
                    continue;
                }
                cells.push_back(at < line.size() ? line.substr(at, f.length) : std::string());
                at += f.length;
            }
        } else {
            if (!nextDelimitedLine(data, &pos, quote, format == Format::Blank, &cells)) break;
            if (cells.empty()) continue;  // a blank line
        }
        if (only >= 0 && number != only) continue;
        if (RddResult r = rdd::append(a, 1)) return r;
        for (size_t k = 0; k < fields.size() && k < cells.size(); ++k)
            if (RddResult r = putText(a, fields[k], cells[k])) return r;
        bool stop = false, keep = true;
        if (isBlock(scope.whileCondition)) {
            if (RddResult r = rdd::evalBlock(a, scope.whileCondition)) return r;
            if (!isTrue(a->result)) keep = false, stop = true;
        }
        if (keep && isBlock(scope.forCondition)) {
            if (RddResult r = rdd::evalBlock(a, scope.forCondition)) return r;
            keep = isTrue(a->result);
        }
        if (!keep)
            if (RddResult r = rdd::deleteRecord(a)) return r;
        if (stop || (only >= 0 && number == only)) break;
        if (limit > 0) --limit;
    }
    return RDD_OK;
}

RddResult exportText(WorkArea* a, TextJob* job, const std::string& name, const ScopeInfo& scope, bool* done) {
    *done = false;
    for (;;) {
        job->handle = fsCreate(name.c_str(), 0);
        if (job->handle != os::INVALID) break;
        uint16_t r =
            raiseReport({"DBCMD", EG_CREATE, 1006, EF_RETRY | EF_DEFAULT, nullptr, name.c_str(), fsLastError()});
        if (r != 1) return rddFromStatus(r);
    }
    ScopeInfo s = scope;
    RddResult r = scopeLoop(a, &s, writeRecord, job);
    flush(job);
    bool closed = fsClose(job->handle);
    *done = !r && !job->failed && closed;
    return r == RDD_FAILED && job->failed ? RDD_OK : r;
}

uint16_t run(Format format, char quote, uint32_t fileArg, uint32_t fieldsArg, uint32_t scopeArg) {
    retLogical(false);
    uint16_t st;
    WorkArea* a = areaOrError(&st);
    if (!a) return st;
    Item* copyTo = commandArg(1);
    Item* file = commandArg(fileArg);
    if (!file || !isString(file)) return argumentError("DBCMD", 1001, EF_DEFAULT);
    std::string name = withDefaultExtension(file, ".txt");
    TextJob job{format, quote, chooseFields(a, commandArg(fieldsArg)), {}, os::INVALID, false};
    ScopeInfo scope = scopeArgs(scopeArg);
    bool done = false;
    RddResult r = isTrue(copyTo) ? exportText(a, &job, name, scope, &done)
                                 : importText(a, format, quote, name, job.fields, scope, &done);
    retLogical(done && !r);
    return nativeStatus(r);

}

}  // namespace

XB_NATIVE(fnDBDELIM, "__DBDELIM") {
    Item* d = commandArg(3);
    Format format = Format::Delimited;
    char quote = '"';
    if (d && isString(d) && strLength(d) > 0) {
        std::string w(strData(d), strLength(d));
        std::string upper;
        for (char c : w) upper += char(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (trimmed(upper) == "BLANK") format = Format::Blank;
        else quote = w[0];
    }
    return run(format, quote, 2, 4, 5);
}

XB_NATIVE(fnDBSDF, "__DBSDF") { return run(Format::Sdf, '"', 2, 3, 4); }

}  // namespace xb
