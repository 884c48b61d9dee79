// Feeds arbitrary bytes to the content-sniffing image decoder (our BMP parser
// and the libpng/libjpeg wrappers with their error jumps): it must fail with a
// message or return a picture of a possible size, never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/codecs.h"

namespace {

// Claimed sizes the decoders may honour but the fuzzer's memory limit cannot:
// an RLE BMP may leave most of a huge picture black, and libtiff allocates
// what a TIFF header asks for.
bool TooBigToTry(const std::vector<uint8_t>& d) {
    if (IsTiffData(d.data(), d.size())) return true;
    if (IsBmpData(d.data(), d.size()) && d.size() >= 26) {
        int32_t w, h;
        std::memcpy(&w, &d[18], 4);
        std::memcpy(&h, &d[22], 4);
        const int64_t pixels = int64_t(w) * (h < 0 ? -int64_t(h) : int64_t(h));
        return pixels > (int64_t(1) << 24);
    }
    return false;
}

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
