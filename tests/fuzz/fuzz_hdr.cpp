// Feeds arbitrary bytes to the Radiance HDR reader: it must refuse with a
// message or return an image matching the size and block it reported, never
// read outside the buffer. No claim is filtered out: the reader itself
// refuses pictures its bytes cannot hold, so the memory limit of the fuzz
// run holds for every input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/hdr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    TexInfo info;
    ImagePtr image = ReadHdrFromMemory(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), info);
    if (image) {
        if (!info.hdrData || image->width != info.width || image->height != info.height || !info.errorText.empty() ||
            info.hdrData->bytes.size() != size_t(info.width) * size_t(info.height) * 4)
            std::abort();
    } else if (info.errorText.empty() || info.hdrData) {
        std::abort();  // every refusal says why and leaves no block
    }
    return 0;
}
