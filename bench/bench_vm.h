// Start-up shared by the benchmarks that run pcode: assemble the benchmark's
// module, start the VM and make the module the whole image.
#pragma once
#include <cstdio>
#include <string>

#include "vm/symbols.h"
#include "platform/platform.h"
#include "tools/asm/assembler.h"
#include "vm/vm_init.h"

namespace xb::bench {

// Assembles `text` into *m and starts the runtime with it as the image;
// false (with a message naming `tool`) when the text does not assemble.
inline bool startWithModule(const std::string& text, pcasm::AsmModule* m, const char* tool) {
    pcasm::AsmError e{};
    if (!pcasm::assemble(text.data(), text.size(), m, &e)) {
        std::fprintf(stderr, "%s: %s\n", tool, e.message);
        return false;
    }
    os::heapCreate();
    vmStart();
    static ImageModule image;
    image = pcasm::moduleImage(*m);
    setImage(&image, 1);
    registerModuleSymbols();
    pcasm::bindModule(m);
    vmBindSymbols();
    return true;
}

}  // namespace xb::bench
