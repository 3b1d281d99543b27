// xbrunner (and, on Windows, xbrunnerw, its windowed twin): the prebuilt
// runner that the compiler driver copies into every executable it makes.
// At start it reads the program appended to its own file (payload.h),
// assembles and verifies its modules and runs them in front of the six
// standard modules; the command line's parameters go to the program.
//
// A runner with no program attached, or with a damaged one, says so on
// standard error and ends with exit code 2 before any pcode runs. The
// console form writes console output to standard output and errors to
// standard error (and Error.txt beside the executable); the windowed form
// (built as XB_RUNNER_GUI, or a program made with --gui) uses message boxes.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/output.h"
#include "tools/xbc/inputs.h"
#include "tools/xbc/payload.h"
#include "tools/xbc/program_image.h"

namespace {

constexpr int EXIT_BAD_PROGRAM = 2;

int fail(const std::string& text) {
    std::string line = "xbrunner: " + text + "\n";
    uint32_t done = 0;
    xb::os::writeFile(xb::os::stdError(), line.data(), uint32_t(line.size()), &done);
#ifdef XB_RUNNER_GUI
    xb::os::messageBox(text.c_str(), "xbrunner", 0x10);
#endif
    return EXIT_BAD_PROGRAM;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace xb;
    char self[4096];
    int n = os::moduleFileName(self, int(sizeof self));
    if (n <= 0 || n >= int(sizeof self)) return fail("cannot find the program's own file");
    xbc::ProgramPayload payload;
    std::string why;
    switch (xbc::readPayloadFile(self, &payload, &why)) {
    case xbc::PayloadStatus::Absent:
        return fail("no program attached to " + std::string(self) + " (make one with: xbc -o PROGRAM FILE.prg)");
    case xbc::PayloadStatus::Damaged: return fail("damaged program in " + std::string(self) + ": " + why);
    case xbc::PayloadStatus::Found: break;
    }
    static std::vector<pcasm::AsmModule> modules;
    if (!xbc::assemblePayload(payload, &modules, &why)) return fail("damaged program: " + why);
    if (!xbc::checkProgramStart(modules, &why)) {
        for (pcasm::AsmModule& m : modules) pcasm::freeModule(&m);
        return fail("damaged program: " + why);
    }
#ifdef XB_RUNNER_GUI
    outputSetConsole(false);
#else
    outputSetConsole((payload.flags & xbc::PF_GUI) == 0);
#endif
    os::setCommandLine(argc, argv);  // POSIX: the line the splitter reads; Windows keeps its own
    xbc::runModules(modules, nullptr);
}
