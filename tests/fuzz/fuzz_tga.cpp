// Feeds arbitrary bytes to the TGA reader: it must fail with a message or
// return an image with the header's size, never read outside the buffer. No
// claim is filtered out: the reader itself refuses pictures its bytes cannot
// hold, so the memory limit of the fuzz run holds for every input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/tga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    TexInfo info;
    ImagePtr image = ReadTgaFromMemory(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), info);
    if (image) {
        if (image->width != int(copy[12] | (copy[13] << 8)) || image->height != int(copy[14] | (copy[15] << 8)))
            std::abort();
        if (!info.errorText.empty() || info.bytesPerPixel < 1 || info.bytesPerPixel > 4) std::abort();
    } else if (info.errorText.empty()) {
        std::abort();
    }
    return 0;
}
