// Second-generation reader on arbitrary bytes, called directly so every input
// reaches it (the loader would send most of them elsewhere): it must fail
// cleanly with a reason and never read outside the buffer.
#include <cstddef>
#include <cstdint>

#include "formats/dk2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TexInfo info;
    ImagePtr image = ReadDk2Texture(data, size, info);
    if (!image != !info.errorText.empty()) __builtin_trap();  // failure must come with a reason
    return 0;
}
