// Feeds arbitrary bytes to the Radiance HDR reader: it must refuse with a
// message or return an image matching the size and block it reported, never
// read outside the buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/hdr.h"

namespace {

// Pictures above this many pixels are legal but take seconds and gigabytes;
// the parse paths they reach are the same as for small ones.
constexpr int64_t kMaxFuzzPixels = int64_t(1) << 22;

// Any line starting "-Y" or "+Y" whose two largest numbers multiply past the
// limit (the reader takes its fields by position, junk between them included,
// and header lines may look like resolution lines too).
bool ClaimsHugePicture(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 3 <= size; ++i) {
        if ((i > 0 && data[i - 1] != '\n') || (data[i] != '-' && data[i] != '+') || data[i + 1] != 'Y') continue;
        int64_t largest = 0, second = 0;
        for (size_t j = i + 2; j < size && data[j] != '\n'; ++j) {
            if (data[j] < '0' || data[j] > '9') continue;
            int64_t v = 0;
            while (j < size && data[j] >= '0' && data[j] <= '9') {
                v = std::min<int64_t>(v * 10 + (data[j] - '0'), int64_t(1) << 31);  // product stays in 64 bits
                ++j;
            }
            if (v > largest) {
                second = largest;
                largest = v;
            } else if (v > second) {
                second = v;
            }
        }
        if (largest * second > kMaxFuzzPixels) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ClaimsHugePicture(data, size)) return 0;
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
