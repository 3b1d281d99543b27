// The serial-port test program: the application module first in the image,
// then the six standard modules.
#include "image/startup.h"
#include "vm/symbols.h"
#include "modules/app_main.h"
#include "modules/modules.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    using namespace xb;
    static ImageModule image[1 + modules::STANDARD_MODULE_COUNT];
    image[0] = modules::imageModule(modules::appMain);
    const modules::CompiledModule* const* standard = modules::standardModules();
    for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i) image[1 + i] = modules::imageModule(*standard[i]);
    setImage(image, 1 + modules::STANDARD_MODULE_COUNT);
    os::setCommandLine(argc, argv);  // POSIX: the line the splitter reads; Windows keeps its own
    processEntry();
}
