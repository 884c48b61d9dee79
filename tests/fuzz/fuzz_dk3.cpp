// Third-generation reader on arbitrary bytes, called directly so every input
// reaches it (the loader would send most of them elsewhere): it must fail
// cleanly with a reason, keep an HDR block only with a picture, and never read
// outside the buffer.
#include <cstddef>
#include <cstdint>

#include "formats/dk3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TexInfo info;
    ImagePtr image = ReadDk3Texture(data, size, info);
    if (!image != !info.errorText.empty()) __builtin_trap();  // failure must come with a reason
    if (!image && info.hdrData) __builtin_trap();              // a failed read keeps no block
    if (info.hdrData && info.hdrData->bytes.size() != size_t(info.width) * size_t(info.height) * 4) __builtin_trap();
    return 0;
}
