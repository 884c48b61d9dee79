// Feeds arbitrary bytes to the PCX reader: it must fail with a message or
// return an image of the size it reported, never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A header may claim up to 65535 x 65535 pixels whatever the data hold;
    // such pictures only measure the allocator, so they are left out.
    if (size >= 12) {
        const int w = (data[8] | (data[9] << 8)) - (data[4] | (data[5] << 8)) + 1;
        const int h = (data[10] | (data[11] << 8)) - (data[6] | (data[7] << 8)) + 1;
        if (int64_t(w) * int64_t(h) > (int64_t(1) << 22)) return 0;
    }
    std::vector<uint8_t> copy(data, data + size);
    TexInfo info;
    ImagePtr image = ReadPcxFromMemory(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), info);
    if (image) {
        if (image->width != info.width || image->height != info.height || !info.errorText.empty()) std::abort();
    } else if (info.errorText.empty()) {
        std::abort();
    }
    return 0;
}
