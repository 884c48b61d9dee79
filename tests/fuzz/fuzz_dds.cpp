// Feeds arbitrary bytes to the DDS reader: it must fail with a message or
// return an image of the size it reported, never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/dds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    TexInfo info;
    ImagePtr image = ReadDdsFromMemory(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), info);
    if (image) {
        if (image->width != info.width || image->height != info.height || !info.errorText.empty()) std::abort();
    } else if (info.errorText.empty() && size >= 128) {
        // Only a failed allocation may go without a message.
        if (int64_t(info.width) * info.height < (int64_t(1) << 26)) std::abort();
    }
    return 0;
}
