// Feeds arbitrary bytes to the own TIFF reader: it must return an image or
// nothing, never an error text, never read outside the buffer, and never
// allocate far beyond what the input could describe.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    TexInfo info;
    ImagePtr image = ReadTiffFromMemory(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), info);
    if (!info.errorText.empty()) std::abort();
    if (image && (image->depth != 32 || (info.bytesPerPixel != 3 && info.bytesPerPixel != 4))) std::abort();
    return 0;
}
