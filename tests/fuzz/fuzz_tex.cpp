// Texture loader on arbitrary bytes: every generation's detection and the
// first-generation reader must fail cleanly, never read outside the buffer.
// The empty path keeps effect textures from searching any folder.
#include <cstddef>
#include <cstdint>

#include "formats/tex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TexInfo info;
    for (int frame : {0, 1}) {
        ImagePtr image = LoadTextureFromMemory(data, size, info, "", frame, 0);
        if (!image != !info.errorText.empty()) __builtin_trap();  // failure must come with a reason
    }
    return 0;
}
