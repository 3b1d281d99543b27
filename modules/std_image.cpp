// The order of the standard modules in the image.
#include "modules/modules.h"

namespace xb::modules {

extern const CompiledModule stdClipinit;
extern const CompiledModule stdErrorsys;
extern const CompiledModule stdRddsys;
extern const CompiledModule stdDbfntx;
extern const CompiledModule stdNtxerr;
extern const CompiledModule stdDbfonly;

const CompiledModule* const* standardModules() {
    static const CompiledModule* const order[STANDARD_MODULE_COUNT] = {
        &stdClipinit, &stdErrorsys, &stdRddsys, &stdDbfntx, &stdNtxerr, &stdDbfonly,
    };
    return order;
}

}  // namespace xb::modules
