// Stand-ins until the source compiler and the preprocessor are built: every
// compile ends in one error, so the tools around them (xbc, xbrun) can be
// built and tested with pcode assembler files meanwhile. Weak where the
// object format has weak definitions, so that the real ones take over.
#include "compiler/compiler.h"

#if defined(__ELF__)
#define XB_STANDIN __attribute__((weak))
#else
#define XB_STANDIN
#endif

namespace xb::xbc {

XB_STANDIN bool compileProgram(const std::vector<SourceFile>& files, const CompileOptions&, CompiledProgram* out,
                               std::vector<pp::Diagnostic>* diags) {
    *out = CompiledProgram{};
    pp::Diagnostic d;
    d.file = files.empty() ? std::string("xbc") : files[0].name;
    d.message = "the compiler is not built";
    diags->push_back(d);
    return false;
}

XB_STANDIN void freeProgram(CompiledProgram* p) {
    for (pcasm::AsmModule& m : p->modules) pcasm::freeModule(&m);
    *p = CompiledProgram{};
}

}  // namespace xb::xbc

namespace xb::pp {

XB_STANDIN bool preprocess(const std::string&, const std::string& fileName, const Options&, std::vector<Line>*,
                           std::vector<Diagnostic>* diags) {
    Diagnostic d;
    d.file = fileName;
    d.message = "the preprocessor is not built";
    diags->push_back(d);
    return false;
}

}  // namespace xb::pp
