// compileProgram: every file through the preprocessor and the statement
// compiler, the program-wide checks (a public procedure defined twice, the
// procedure the program starts with), then each module's instructions
// through the assembler's module builder, which also runs the verifier on
// every procedure and block. A builder complaint (a jump or a block too long
// for 16 bits) is reported at the source line that made the instruction.
#include <cstring>
#include <map>

#include "compiler/compiler.h"
#include "compiler/stmt.h"

namespace xb::xbc {

bool compileProgram(const std::vector<SourceFile>& files, const CompileOptions& options, CompiledProgram* out,
                    std::vector<pp::Diagnostic>* diags) {
    out->modules.clear();
    std::vector<ModuleGen> mods(files.size());
    bool ok = true;
    for (size_t i = 0; i < files.size(); ++i) {
        ModuleGen& m = mods[i];
        m.file = files[i].name;
        m.moduleName = nameFromFile(files[i].name);
        m.warnings = options.warnings;
        m.diags = diags;
        std::vector<pp::Line> lines;
        size_t firstDiag = diags->size();
        bool ppOk = pp::preprocess(files[i].text, files[i].name, options.pp, &lines, diags);
        for (size_t d = firstDiag; d < diags->size(); ++d)
            if (!(*diags)[d].warning) ++m.errorCount;
        if (!ppOk) {
            ok = false;
            if (!m.errorCount) m.error(0, 0, "preprocessing failed");
            continue;
        }
        if (!compileModule(lines, &m)) ok = false;
    }

    // Public procedures are one namespace across the program.
    std::map<std::string, std::pair<size_t, int>> publics;
    bool appMain = false;
    for (size_t i = 0; i < mods.size(); ++i)
        for (const SymbolEntry& s : mods[i].symbols) {
            if (!s.isProc || s.scope != SCOPE_PUBLIC) continue;
            if (s.name == "_APPMAIN") appMain = true;
            auto it = publics.find(s.name);
            if (it == publics.end()) {
                publics[s.name] = {i, s.defLine};
            } else {
                mods[i].error(s.defLine, 0, "procedure " + s.name + " is also defined in " +
                                                mods[it->second.first].file + " at line " +
                                                std::to_string(it->second.second));
                ok = false;
            }
        }
    if (ok && options.needsMain && !appMain && !mods.empty()) {
        const ModuleGen& first = mods[0];
        if (first.symbols.empty() || !first.symbols[0].isProc || first.symbols[0].scope != SCOPE_PUBLIC) {
            mods[0].error(first.symbols.empty() ? 0 : first.symbols[0].defLine, 0,
                          "the program starts with the first procedure of the first file, which must be a public "
                          "procedure");
            ok = false;
        }
    }
    if (!ok) return false;

    for (ModuleGen& m : mods) {
        pcasm::AsmModule am{};
        int line = 0, col = 0;
        std::string why;
        if (!finishModule(&m, &am, &line, &col, &why)) {
            m.error(line, col, "cannot generate code: " + why);
            ok = false;
            continue;
        }
        for (uint32_t p = 0; p < am.procCount; ++p)
            if (am.procs[p].length > 0xFFFF) {
                int line = 0;
                for (const SymbolEntry& s : m.symbols)
                    if (s.name == am.procs[p].name) line = s.defLine;
                m.error(line, 0, std::string("procedure ") + am.procs[p].name + " has more than 64 KB of code");
                ok = false;
            }
        out->modules.push_back(am);
    }
    if (!ok) {
        freeProgram(out);
        return false;
    }
    return true;
}

void freeProgram(CompiledProgram* p) {
    for (pcasm::AsmModule& m : p->modules) pcasm::freeModule(&m);
    p->modules.clear();
}

}  // namespace xb::xbc
