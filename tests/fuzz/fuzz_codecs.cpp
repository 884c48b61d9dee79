// Feeds arbitrary bytes to the content-sniffing image decoder (our BMP parser,
// the libpng/libjpeg wrappers with their error jumps, and the PNG picture
// data's translation for libpng): it must fail with a message or return a
// picture of a possible size, never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "toolkit/codecs.h"

namespace {

// libtiff allocates what a TIFF header asks for when the compression has no
// known best ratio (fax and the like), which the fuzzer's memory limit cannot
// bear. Every other decoder refuses claims its bytes cannot hold, and only
// PNG's can reach more than a few hundred megabytes from 64 KiB.
bool TooBigToTry(const std::vector<uint8_t>& d) {
    return IsTiffData(d.data(), d.size()) ||
           (IsPngData(d.data(), d.size()) && ClaimedPngPixels(d.data() + 8, d.size() - 8) > kMaxFuzzPngPixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    if (TooBigToTry(copy)) return 0;
    // Inputs of odd length take the decoders' 32-bit form, which writes
    // other row layouts (and decodes TIFF in place).
    const bool to32 = size % 2 == 1;
    std::string error;
    int sourceDepth = 0;
    const uint8_t* bytes = copy.empty() ? nullptr : copy.data();
    ImagePtr image = to32 ? DecodeImageMemoryTo32Bit(bytes, copy.size(), &sourceDepth, &error)
                          : DecodeImageMemory(bytes, copy.size(), &error);
    if (image) {
        if (image->width < 1 || image->height < 1 || image->width > kMaxImageSide || image->height > kMaxImageSide ||
            (image->depth != 24 && image->depth != 32) || !error.empty())
            std::abort();
        if (to32 && (image->depth != 32 || (sourceDepth != 24 && sourceDepth != 32))) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
