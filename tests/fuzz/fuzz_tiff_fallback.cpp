// TIFF files through the load dispatch, as the user opens them: the own
// reader first, and every file it refuses on to the libtiff decoder, which
// takes any compression, tiles, palettes and sample sizes. The load must end
// in a 32-bit picture of the size it reports or in a message, and never read
// outside the file's bytes.
#include <algorithm>
#include <cstdint>
#include <string>

#include "formats/dispatch.h"
#include "tests/fuzz/fuzz_support.h"
#include "toolkit/codecs.h"

namespace {

// Pictures above this many pixels are legal (a blank fax page of 32767 x
// 32767 pixels fits in 4 KB) but only measure the allocator; the decode paths
// they reach are the same as for small ones.
constexpr uint64_t kMaxFuzzPixels = uint64_t(1) << 22;

// The largest ImageWidth x ImageLength the first directory may give libtiff:
// every entry of either tag counts, in both byte orders, classic and BigTIFF.
// An entry whose value libtiff might read in some other way counts as huge.
uint64_t ClaimedPixels(const uint8_t* data, size_t size) {
    ByteReader file(data, size);
    const bool bigEndian = size >= 2 && data[0] == 'M';
    auto u16 = [&] { return bigEndian ? uint64_t(file.U16BE()) : uint64_t(file.U16()); };
    auto u32 = [&] { return bigEndian ? uint64_t(file.U32BE()) : uint64_t(file.U32()); };
    auto u64 = [&] {
        const uint64_t first = u32();
        const uint64_t second = u32();
        return bigEndian ? first << 32 | second : first | second << 32;
    };
    file.Seek(2);
    const bool bigTiff = u16() == 43;
    uint64_t directory = 0;
    if (bigTiff) {
        file.Seek(8);
        directory = u64();
    } else {
        directory = u32();
    }
    if (!file.Seek(directory)) return 0;  // no directory: libtiff refuses the file
    const uint64_t entries = bigTiff ? u64() : u16();
    const uint64_t entryBytes = bigTiff ? 20 : 12;
    uint64_t width = 0, height = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        if (!file.Seek(directory + (bigTiff ? 8 : 2) + i * entryBytes)) break;
        const uint64_t tag = u16(), type = u16();
        const uint64_t count = bigTiff ? u64() : u32();
        if (tag != 256 && tag != 257) continue;
        uint64_t value = UINT64_MAX;
        if (count == 1) {
            switch (type) {
                case 1: value = file.U8(); break;                   // BYTE
                case 3: value = u16(); break;                       // SHORT
                case 4: case 13: value = u32(); break;              // LONG, IFD
                case 16: case 18: value = bigTiff ? u64() : value;  // LONG8, IFD8
                    break;
                default: break;
            }
        }
        uint64_t& side = tag == 256 ? width : height;
        side = std::max(side, value);
    }
    if (width > UINT32_MAX || height > UINT32_MAX) return UINT64_MAX;
    return width * height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Other content under a ".tif" name goes to the other decoders, which
    // have fuzz targets of their own.
    if (!IsTiffData(data, size) || ClaimedPixels(data, size) > kMaxFuzzPixels) return 0;
    const std::string path = FuzzTempFolder() + "input.tif";
    FUZZ_CHECK(WriteWholeFile(path, data, size));
    TexInfo info;
    ImagePtr image = LoadImageFileByExtension(path, info);
    if (!image) {
        FUZZ_CHECK(!info.errorText.empty());
        return 0;
    }
    FUZZ_CHECK(info.errorText.empty() && image->depth == 32);
    FUZZ_CHECK(image->width == info.width && image->height == info.height);
    FUZZ_CHECK(info.bytesPerPixel == 3 || info.bytesPerPixel == 4);
    FUZZ_CHECK(info.formatText == "Tagged Image File Format");
    return 0;
}
