#include <cstring>

#include "vm/function.h"

namespace xb {

static NativeRegistration* registrations;

NativeRegistration::NativeRegistration(const char* n, const Function* f) : name(n), function(f), next(registrations) {
    registrations = this;
}

NativeRegistration* nativeRegistrations() { return registrations; }

const Function* findNative(const char* name) {
    for (NativeRegistration* r = registrations; r; r = r->next)
        if (std::strcmp(r->name, name) == 0) return r->function;
    return nullptr;
}

}  // namespace xb
