#include "tools/xbc/inputs.h"

#include <cstring>
#include <map>

#include "platform/platform.h"

namespace xb::xbc {

namespace {

constexpr size_t MAX_INPUT = size_t(64) << 20;

pp::Diagnostic error(const std::string& file, int line, const std::string& message) {
    pp::Diagnostic d;
    d.file = file;
    d.line = line;
    d.message = message;
    return d;
}

bool assembleInput(const std::string& name, pcasm::AsmModule* m, std::vector<pp::Diagnostic>* diags) {
    std::string text, why;
    if (!readWholeFile(name, &text, &why)) {
        diags->push_back(error(name, 0, why));
        return false;
    }
    pcasm::AsmError e{};
    if (pcasm::assemble(text.data(), text.size(), m, &e)) return true;
    // "line N: text" -> the position goes into the diagnostic
    const char* message = e.message;
    if (std::strncmp(message, "line ", 5) == 0)
        if (const char* colon = std::strstr(message, ": ")) message = colon + 2;
    diags->push_back(error(name, int(e.line), message));
    return false;
}

bool definesProc(const pcasm::AsmModule& m, uint16_t entry) {
    for (uint32_t i = 0; i < m.procCount; ++i)
        if (m.procs[i].symbol == entry) return true;
    return false;
}

// A public procedure that two files define (the compiler checks this among
// the source files; an assembler file can clash with either kind).
void checkDuplicates(const std::vector<std::string>& files, const std::vector<pcasm::AsmModule>& modules,
                     std::vector<pp::Diagnostic>* diags) {
    std::map<std::string, size_t> seen;
    for (size_t f = 0; f < modules.size(); ++f) {
        const pcasm::AsmModule& m = modules[f];
        for (uint32_t i = 0; i < m.procCount; ++i) {
            if (m.pristine[m.procs[i].symbol].scope != SC_PUBLIC) continue;
            auto [at, fresh] = seen.emplace(m.procs[i].name, f);
            if (fresh) continue;
            if (isAssemblerFile(files[at->second]) || isAssemblerFile(files[f]))
                diags->push_back(error(files[f], 0,
                                       std::string("procedure ") + m.procs[i].name + " is also defined in " +
                                           files[at->second]));
        }
    }
}

}  // namespace

bool isAssemblerFile(const std::string& name) {
    static const char ext[] = ".xbasm";
    const size_t n = sizeof ext - 1;
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != ext[i]) return false;
    }
    return true;
}

bool readWholeFile(const std::string& name, std::string* text, std::string* why) {
    os::Handle h = os::createFile(name.c_str(), os::ACCESS_READ, os::SHARE_READ | os::SHARE_WRITE,
                                  os::OPEN_EXISTING, 0x80);
    if (h == os::INVALID) {
        *why = "cannot open (error " + std::to_string(os::lastError()) + ")";
        return false;
    }
    text->clear();
    static char buffer[65536];
    uint32_t got = 0;
    bool ok = true;
    while ((ok = os::readFile(h, buffer, sizeof buffer, &got)) && got > 0) {
        text->append(buffer, got);
        if (text->size() > MAX_INPUT) {
            *why = "larger than 64 MB";
            ok = false;
            break;
        }
    }
    if (!ok && why->empty()) *why = "cannot read (error " + std::to_string(os::lastError()) + ")";
    os::closeHandle(h);
    return ok;
}

bool readIncludeFile(const std::string& path, std::string* contents) {
    std::string why;
    return readWholeFile(path, contents, &why);
}

bool loadProgram(const std::vector<std::string>& files, const CompileOptions& options, LoadedProgram* out,
                 std::vector<pp::Diagnostic>* diags) {
    *out = LoadedProgram{};
    std::vector<SourceFile> sources;
    std::vector<size_t> sourceIndex;  // per source file: its place on the command line
    bool ok = true;
    for (size_t i = 0; i < files.size(); ++i) {
        if (isAssemblerFile(files[i])) continue;
        SourceFile s;
        s.name = files[i];
        std::string why;
        if (!readWholeFile(files[i], &s.text, &why)) {
            diags->push_back(error(files[i], 0, why));
            ok = false;
            continue;
        }
        sources.push_back(std::move(s));
        sourceIndex.push_back(i);
    }
    out->modules.assign(files.size(), pcasm::AsmModule{});
    for (size_t i = 0; i < files.size(); ++i) {
        if (!isAssemblerFile(files[i])) continue;
        pcasm::AsmModule m{};
        if (!assembleInput(files[i], &m, diags)) {
            ok = false;
            continue;
        }
        out->assembled.push_back(m);
        out->modules[i] = m;
    }
    if (!sources.empty()) {  // every file's errors are reported, not only the first failing one's
        CompileOptions o = options;
        if (!o.pp.readFile) o.pp.readFile = readIncludeFile;
        if (!compileProgram(sources, o, &out->compiled, diags) ||
            out->compiled.modules.size() != sources.size()) {
            if (out->compiled.modules.size() != sources.size() && diags->empty())
                diags->push_back(error(files[sourceIndex[0]], 0, "the compiler gave no module for every file"));
            ok = false;
        } else {
            for (size_t k = 0; k < sources.size(); ++k) out->modules[sourceIndex[k]] = out->compiled.modules[k];
        }
    }
    if (ok) {
        size_t before = diags->size();
        checkDuplicates(files, out->modules, diags);
        ok = diags->size() == before;
    }
    if (!ok) freeLoadedProgram(out);
    return ok;
}

void freeLoadedProgram(LoadedProgram* p) {
    for (pcasm::AsmModule& m : p->assembled) pcasm::freeModule(&m);
    freeProgram(&p->compiled);
    *p = LoadedProgram{};
}

bool checkProgramStart(const std::vector<pcasm::AsmModule>& modules, std::string* why) {
    for (const pcasm::AsmModule& m : modules)
        if (pcasm::findProc(m, "_APPMAIN")) return true;
    if (modules.empty()) {
        *why = "no module to run";
        return false;
    }
    const pcasm::AsmModule& first = modules[0];
    if (first.count < 2 || !definesProc(first, 1) || first.pristine[1].scope != SC_PUBLIC) {
        *why = "the first symbol must be the procedure to run (symbol NAME proc)";
        return false;
    }
    return true;
}

std::string formatDiagnostics(const std::vector<pp::Diagnostic>& diags) {
    std::string out;
    for (const pp::Diagnostic& d : diags) out += pp::formatDiagnostic(d) + "\n";
    return out;
}

}  // namespace xb::xbc
