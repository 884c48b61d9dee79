// Feeds arbitrary bytes to the content-sniffing image decoder (our BMP parser
// and the libpng/libjpeg wrappers with their error jumps): it must fail with a
// message or return a picture of a possible size, never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/codecs.h"

namespace {

// libtiff allocates what a TIFF header asks for when the compression has no
// known best ratio (fax and the like), which the fuzzer's memory limit cannot
// bear. Every other decoder refuses claims its bytes cannot hold.
bool TooBigToTry(const std::vector<uint8_t>& d) { return IsTiffData(d.data(), d.size()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    if (TooBigToTry(copy)) return 0;
    std::string error;
    ImagePtr image = DecodeImageMemory(copy.empty() ? nullptr : copy.data(), copy.size(), &error);
    if (image) {
        if (image->width < 1 || image->height < 1 || image->width > kMaxImageSide || image->height > kMaxImageSide ||
            (image->depth != 24 && image->depth != 32) || !error.empty())
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
