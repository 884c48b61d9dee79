// Feeds arbitrary bytes to the PCX reader: it must fail with a message or
// return an image of the size it reported, never read outside the buffer. No
// claim is filtered out: the reader itself refuses pictures its bytes cannot
// hold, so the memory limit of the fuzz run holds for every input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so the sanitizer sees any read past the end.
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
