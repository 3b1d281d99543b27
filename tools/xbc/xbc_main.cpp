// xbc: the compiler driver.
//
//   xbc [-I DIR] [-o OUT] [--emit xbasm | --emit cpp | --emit pp]
//       [--target linux | --target win32] [--gui] [-w] FILE...
//
// FILEs are source files (.prg) compiled together as one program, or pcode
// assembler files (.xbasm); one module each, in command-line order.
//   --emit xbasm  the modules as assembler text (to OUT, or standard output)
//   --emit cpp    the modules as C++ source embedding them (modules/*.cpp form)
//   --emit pp     the preprocessed source, one logical line per line
//   otherwise     an executable OUT (default: the first file's name without
//                 its extension): a copy of the prebuilt runner found beside
//                 xbc (xbrunner; for win32 xbrunner.exe, or xbrunnerw.exe with
//                 --gui) carrying the modules. No C++ toolchain is needed.
// Diagnostics go to standard error as "file.prg:LINE:COL: error: message";
// any error ends with exit code 2 and nothing written.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/executable.h"
#include "platform/platform.h"
#include "tools/asm/disassembler.h"
#include "tools/asm/module_emitter.h"
#include "tools/xbc/inputs.h"
#include "tools/xbc/payload.h"

namespace {

using namespace xb;

constexpr int EXIT_ERRORS = 2;

const char USAGE[] =
    "usage: xbc [-I DIR] [-o OUT] [--emit xbasm | --emit cpp | --emit pp]\n"
    "           [--target linux | --target win32] [--gui] [-w] FILE.prg...\n"
    "\n"
    "Compiles the source files (and pcode assembler files, .xbasm) as one program.\n"
    "  -I DIR        also look for #include files in DIR\n"
    "  -o OUT        where to write (default: an executable named after the first file;\n"
    "                with --emit: standard output)\n"
    "  --emit xbasm  write the modules as pcode assembler text\n"
    "  --emit cpp    write the modules as C++ source\n"
    "  --emit pp     write the preprocessed source\n"
    "  --target T    the executable's system: linux or win32 (default: this one)\n"
    "  --gui         a windowed program: output and errors in message boxes\n"
    "  -w            report warnings too\n"
    "  --help        this text\n"
    "Errors are reported as FILE:LINE:COL: error: MESSAGE, with exit code 2.\n";

struct Options {
    std::vector<std::string> includeDirs, files;
    std::string out, emit, target;
    bool gui = false, warnings = false;
};

void writeTo(os::Handle h, const std::string& text) {
    uint32_t done = 0;
    os::writeFile(h, text.data(), uint32_t(text.size()), &done);
}

int fail(const std::string& text) {
    writeTo(os::stdError(), "xbc: " + text + "\n");
    return EXIT_ERRORS;
}

int usageError(const std::string& text) { return fail(text + "\n" + USAGE); }

// False (with a message written) when the command line is not understood.
bool parseArguments(int argc, char** argv, Options* o, int* status) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) {
                *status = usageError(a + " needs a value");
                return false;
            }
            *into = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            writeTo(os::stdOutput(), USAGE);
            *status = 0;
            return false;
        } else if (a == "-I") {
            std::string dir;
            if (!value(&dir)) return false;
            o->includeDirs.push_back(dir);
        } else if (a.rfind("-I", 0) == 0 && a.size() > 2) {
            o->includeDirs.push_back(a.substr(2));
        } else if (a == "-o") {
            if (!value(&o->out)) return false;
        } else if (a == "--emit") {
            if (!value(&o->emit)) return false;
            if (o->emit != "xbasm" && o->emit != "cpp" && o->emit != "pp") {
                *status = usageError("--emit takes xbasm, cpp or pp, not " + o->emit);
                return false;
            }
        } else if (a == "--target") {
            if (!value(&o->target)) return false;
            if (o->target != "win32" && o->target != "linux") {
                *status = usageError("--target takes linux or win32, not " + o->target);
                return false;
            }
        } else if (a == "--gui") {
            o->gui = true;
        } else if (a == "-w") {
            o->warnings = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *status = usageError("unknown option " + a);
            return false;
        } else {
            o->files.push_back(a);
        }
    }
    if (o->files.empty()) {
        *status = usageError("no input files");
        return false;
    }
    return true;
}

// The text (or executable) goes to OUT, or standard output when none was named.
int writeResult(const Options& o, const std::string& bytes, bool executable) {
    if (o.out.empty() || o.out == "-") {
        writeTo(os::stdOutput(), bytes);
        return 0;
    }
    os::Handle h = os::createFile(o.out.c_str(), os::ACCESS_WRITE, 0, os::CREATE_ALWAYS, 0x80);
    if (h == os::INVALID) return fail("cannot create " + o.out + " (error " + std::to_string(os::lastError()) + ")");
    uint32_t done = 0;
    bool ok = os::writeFile(h, bytes.data(), uint32_t(bytes.size()), &done) && done == bytes.size();
    ok = os::closeHandle(h) && ok;
    if (ok && executable) ok = os::makeExecutable(o.out.c_str());
    if (!ok) {
        uint32_t e = os::lastError();
        os::deleteFile(o.out.c_str());
        return fail("cannot write " + o.out + " (error " + std::to_string(e) + ")");
    }
    return 0;
}

int emitPreprocessed(const Options& o, const pp::Options& ppOptions) {
    std::vector<pp::Diagnostic> diags;
    std::string out;
    bool ok = true;
    for (const std::string& file : o.files) {
        std::string text, why;
        if (!xbc::readWholeFile(file, &text, &why)) {
            diags.push_back({file, 0, 0, false, why});
            ok = false;
            continue;
        }
        std::vector<pp::Line> lines;
        ok = pp::preprocess(text, file, ppOptions, &lines, &diags) && ok;
        std::string lastFile;
        int next = 0;
        for (const pp::Line& l : lines) {
            // A marker wherever the lines stop following each other.
            if (l.file != lastFile || l.line != next) out += "#line " + std::to_string(l.line) + " \"" + l.file + "\"\n";
            out += l.text + "\n";
            lastFile = l.file;
            next = l.line + 1;
        }
    }
    writeTo(os::stdError(), xbc::formatDiagnostics(diags));
    if (!ok) return EXIT_ERRORS;
    return writeResult(o, out, false);
}

// A C++ identifier for the module of file number index.
std::string moduleIdentifier(const std::string& file, size_t index) {
    size_t slash = file.find_last_of("/\\");
    std::string stem = file.substr(slash == std::string::npos ? 0 : slash + 1);
    if (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    std::string id = "xbc" + std::to_string(index + 1) + "_";
    for (char c : stem) id += (std::isalnum(uint8_t(c)) && uint8_t(c) < 0x80) ? c : '_';
    return id;
}

std::string fileStem(const std::string& file) {
    size_t slash = file.find_last_of("/\\");
    size_t dot = file.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) return file.substr(0, dot);
    return file + ".out";
}

std::string runnerPath(const Options& o, bool win32, std::string* why) {
    char self[4096];
    int n = os::moduleFileName(self, int(sizeof self));
    if (n <= 0 || n >= int(sizeof self)) {
        *why = "cannot find xbc's own folder";
        return "";
    }
    std::string dir(self, size_t(n));
    size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    std::string name = win32 ? (o.gui ? "xbrunnerw.exe" : "xbrunner.exe") : "xbrunner";
    return dir + name;
}

int buildExecutable(Options o, const std::vector<pcasm::AsmModule>& modules) {
#ifdef _WIN32
    const bool hostWin32 = true;
#else
    const bool hostWin32 = false;
#endif
    const bool win32 = o.target.empty() ? hostWin32 : o.target == "win32";
    std::string why;
    if (!xbc::checkProgramStart(modules, &why)) {
        writeTo(os::stdError(), xbc::formatDiagnostics({{o.files[0], 0, 0, false, why}}));
        return EXIT_ERRORS;
    }
    std::string payload;
    if (!xbc::encodePayload(modules, o.gui ? xbc::PF_GUI : 0, &payload, &why)) return fail(why);
    std::string runner = runnerPath(o, win32, &why);
    if (runner.empty()) return fail(why);
    std::string bytes;
    if (!xbc::readWholeFile(runner, &bytes, &why)) return fail("the runner " + runner + ": " + why);
    xbc::ProgramPayload already;
    if (xbc::decodePayload(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &already, &why) !=
        xbc::PayloadStatus::Absent)
        return fail("the runner " + runner + " already carries a program");
    if (o.out.empty()) o.out = fileStem(o.files[0]) + (win32 ? ".exe" : "");
    return writeResult(o, bytes + payload, true);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int status = 0;
    if (!parseArguments(argc, argv, &o, &status)) return status;

    xbc::CompileOptions compile;
    compile.pp.includeDirs = o.includeDirs;
    compile.pp.readFile = xbc::readIncludeFile;
    compile.warnings = o.warnings;
    if (o.emit == "pp") return emitPreprocessed(o, compile.pp);

    std::vector<pp::Diagnostic> diags;
    xbc::LoadedProgram program;
    bool ok = xbc::loadProgram(o.files, compile, &program, &diags);
    writeTo(os::stdError(), xbc::formatDiagnostics(diags));
    if (!ok) return EXIT_ERRORS;

    int result = 0;
    if (o.emit == "xbasm") {
        std::string text;
        for (size_t i = 0; i < program.modules.size(); ++i)
            text += (i ? "\n" : "") + pcasm::disassembleModule(program.modules[i]);
        result = writeResult(o, text, false);
    } else if (o.emit == "cpp") {
        std::string text, why;
        for (size_t i = 0; i < program.modules.size() && result == 0; ++i) {
            std::string one;
            if (!pcasm::emitModuleSource(program.modules[i], moduleIdentifier(o.files[i], i).c_str(),
                                         o.files[i].c_str(), pcasm::EmitForm::Source, &one, &why))
                result = fail(o.files[i] + ": " + why);
            // The emitter speaks of the image's own modules; say who made this one.
            const std::string made =
                "by `xbrun --emit-module`: edit the source and\n// run tools/genmodules.sh, do not edit this file.";
            if (size_t at = one.find(made); at != std::string::npos)
                one.replace(at, made.size(), "by `xbc --emit cpp`: edit the source and compile it again.");
            text += (i ? "\n" : "") + one;
        }
        if (result == 0) result = writeResult(o, text, false);
    } else {
        result = buildExecutable(o, program.modules);
    }
    xbc::freeLoadedProgram(&program);
    return result;
}
