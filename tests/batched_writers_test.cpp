// Writers that convert and write a large picture in batches of rows (texture,
// TIFF, uncompressed DDS): pictures that need several batches must read back
// pixel for pixel, so no row is lost, doubled or shifted at a batch's edge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/dds.h"
#include "formats/tex.h"
#include "formats/tiff.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

TEST(BatchedWriters, ReadBackEveryRowAcrossBatches) {
    // Batches are about 1 MiB of file rows for textures and TIFF, 4 MiB for DDS.
    const struct {
        const char* extension;
        int width, height, depth;
        bool withAlpha;
    } cases[] = {
        {"tex", 16000, 20, 32, true},   // 16 rows a batch
        {"tex", 16000, 25, 24, false},  // 21 rows a batch
        {"tif", 16000, 20, 32, true},   // 16 rows a batch
        {"tif", 16000, 25, 32, false},  // 21 rows a batch
        {"dds", 16384, 130, 32, true},  // 64 rows a slice; mipmaps 8192 x 65, 4096 x 32, ... 1 x 1
    };
    const TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.extension) + ", " + std::to_string(c.height) + " rows");
        // Every pixel different from its neighbours in each channel, alpha included.
        ImagePtr picture = CreateImage(c.width, c.height, c.depth);
        for (int y = 0; y < c.height; ++y) {
            uint8_t* p = picture->RowFromTop(y);
            for (int x = 0; x < c.width; ++x, p += c.depth / 8) {
                p[0] = uint8_t(x * 7 + y), p[1] = uint8_t(x + y * 13), p[2] = uint8_t(x ^ y);
                if (c.depth == 32) p[3] = uint8_t(x * 3 + y * 5);
            }
        }
        const std::string path = folder.path + "picture." + c.extension, ext = c.extension;
        std::vector<uint8_t> file;
        TexInfo info;
        ImagePtr back;
        if (ext == "tex") {
            ASSERT_EQ(WriteTexFile(picture.get(), path, c.withAlpha, 0, false), 1);
            back = LoadTexFile(path, info);
        } else if (ext == "tif") {
            ASSERT_EQ(WriteTiffFile(picture.get(), path, c.withAlpha), 1);
            ASSERT_TRUE(ReadWholeFile(path, file));
            back = ReadTiffFromMemory(file.data(), int64_t(file.size()), info);
        } else {
            ASSERT_EQ(WriteDdsFile(*picture, path, DdsSaveFormat::Bgra32, true), 1);
            ASSERT_TRUE(ReadWholeFile(path, file));
            EXPECT_EQ(int64_t(file.size()), 128 + CountMipChainPixels(c.width, c.height) * 4);
            back = ReadDdsFromMemory(file.data(), int64_t(file.size()), info);
        }
        ASSERT_TRUE(back) << info.errorText;
        std::vector<uint32_t> written = PixelsOf(*picture);
        if (!c.withAlpha)
            for (uint32_t& colour : written) colour |= 0xFF000000u;  // a file without alpha gives opaque pixels
        EXPECT_TRUE(PixelsOf(*back) == written);
    }
}

}  // namespace
