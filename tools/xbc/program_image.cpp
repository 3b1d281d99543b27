#include "tools/xbc/program_image.h"

#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/modules.h"
#include "platform/platform.h"

namespace xb::xbc {

namespace {

std::vector<pcasm::AsmModule> program;
std::vector<ImageModule> image;

void bindProgram() {
    for (pcasm::AsmModule& m : program) pcasm::bindModule(&m);
}

}  // namespace

void runModules(const std::vector<pcasm::AsmModule>& modules, const char* commandLine) {
    program = modules;
    image.clear();
    for (const pcasm::AsmModule& m : program) image.push_back(pcasm::moduleImage(m));
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image.push_back(modules::imageModule(*standard[i]));
    setImage(image.data(), uint32_t(image.size()));
    afterSymbolRegistration = bindProgram;
    processEntry(commandLine);
}

std::string absoluteFileName(const std::string& name) {
    bool rooted = !name.empty() && (name[0] == '/' || name[0] == '\\');
    if (name.size() >= 2 && name[1] == ':') rooted = true;
    if (rooted) return name;
    char dir[4096];
    int n = os::currentDirectory(dir, int(sizeof dir));
    if (n <= 0 || n >= int(sizeof dir)) return name;
    std::string full(dir, size_t(n));
    if (full.back() != '/' && full.back() != '\\') full += '/';  // both targets take a slash
    return full + name;
}

}  // namespace xb::xbc
