#include <cstring>

#include "vm/function.h"

namespace xb {

static NativeRegistration* registrations;

NativeRegistration::NativeRegistration(const char* n, const Function* f, const char* sourceFile)
    : name(n), function(f), next(registrations), file(sourceFile) {
    registrations = this;
}

NativeRegistration* nativeRegistrations() { return registrations; }

const Function* findNative(const char* name) {
    for (NativeRegistration* r = registrations; r; r = r->next)
        if (std::strcmp(r->name, name) == 0) return r->function;
    return nullptr;
}

}  // namespace xb
