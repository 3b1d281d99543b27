// __COPYFILE(source, target): COPY FILE. Copies the bytes of source into
// target (created or replaced). .T. when every byte was copied.
//
// A source that cannot be opened raises the open error (21, subcode 2012,
// subsystem "BASE") and a target that cannot be created the create error
// (20, 2013), each with the file's name and the system's code, retry and
// default allowed; the default gives .F. Arguments that are not texts give
// .F.
#include <string>
#include <vector>

#include "vm/function.h"
#include "lib/lib_args.h"
#include "runtime/files.h"

namespace xb {

namespace {

bool textParam(uint32_t n, std::string* out) {
    Item* s = libText(n);
    if (!s) return false;
    out->assign(strData(s), strLength(s));
    return !out->empty() && out->find('\0') == std::string::npos;
}

// Opens (or creates) until it works or the handler stops retrying.
uint16_t openOrRaise(const std::string& name, bool create, os::Handle* h) {
    for (;;) {
        *h = create ? fsCreate(name.c_str(), 0) : fsOpen(name.c_str(), 0);
        if (*h != os::INVALID) return 0;
        ErrorReport spec{"BASE", uint16_t(create ? EG_CREATE : EG_OPEN), uint16_t(create ? 2013 : 2012),
                       EF_RETRY | EF_DEFAULT, "COPY FILE", name.c_str(), fsLastError()};
        uint16_t r = raiseReport(spec);
        if (r != 1) return r;
    }
}

}  // namespace

XB_NATIVE(fnCOPYFILE, "__COPYFILE") {
    std::string from, to;
    retLogical(false);
    if (!textParam(1, &from) || !textParam(2, &to)) return 0;
    os::Handle in, out;
    if (uint16_t r = openOrRaise(from, false, &in)) return r == ST_UNWIND ? r : 0;
    if (in == os::INVALID) return 0;
    if (uint16_t r = openOrRaise(to, true, &out)) {
        fsClose(in);
        return r == ST_UNWIND ? r : 0;
    }
    if (out == os::INVALID) {
        fsClose(in);
        return 0;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        int32_t n = fsReadLong(in, buffer.data(), uint32_t(buffer.size()));
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (fsWriteLong(out, buffer.data(), uint32_t(n)) != n) {
            ok = false;
            break;
        }
    }
    fsClose(in);
    ok = fsClose(out) && ok;
    retLogical(ok);
    return 0;
}

}  // namespace xb
