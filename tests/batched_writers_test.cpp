// Writers that convert and write a large picture in batches of rows (texture,
// TIFF, uncompressed DDS): pictures wide and tall enough to need several
// batches must read back pixel for pixel, so no row is lost, doubled or
// shifted where one batch ends and the next begins.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "formats/dds.h"
#include "formats/tex.h"
#include "formats/tiff.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

// Every pixel different from its neighbours in each channel, alpha included.
ImagePtr PatternPicture(int width, int height, int depth) {
    ImagePtr image = CreateImage(width, height, depth);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = image->RowFromTop(y);
        for (int x = 0; x < width; ++x, p += depth / 8) {
            p[0] = uint8_t(x * 7 + y);
            p[1] = uint8_t(x + y * 13);
            p[2] = uint8_t(x ^ y);
            if (depth == 32) p[3] = uint8_t(x * 3 + y * 5);
        }
    }
    return image;
}

// The pixels a file without alpha gives back.
std::vector<uint32_t> Opaque(std::vector<uint32_t> pixels) {
    for (uint32_t& c : pixels) c |= 0xFF000000u;
    return pixels;
}

struct BatchCase {
    const char* name;
    const char* extension;
    int width, height, depth;
    bool withAlpha;
};

// Batches are about 1 MiB of file rows for textures and TIFF, 8 MiB for DDS.
const BatchCase kCases[] = {
    {"TexWithAlpha", "tex", 16000, 20, 32, true},          // 16 rows a batch
    {"TexWithoutAlpha", "tex", 16000, 25, 24, false},      // 21 rows a batch
    {"TiffWithAlpha", "tif", 16000, 20, 32, true},         // 16 rows a batch
    {"TiffWithoutAlpha", "tif", 16000, 25, 32, false},     // 21 rows a batch
    {"DdsUncompressedMips", "dds", 16384, 130, 32, true},  // 128 rows a slice
};

void PrintTo(const BatchCase& c, std::ostream* out) { *out << c.name; }

class BatchedWriters : public testing::TestWithParam<BatchCase> {};

TEST_P(BatchedWriters, ReadBackEveryRowAcrossBatches) {
    const BatchCase& c = GetParam();
    ImagePtr picture = PatternPicture(c.width, c.height, c.depth);
    ASSERT_TRUE(picture);
    const TempFolder folder;
    const std::string path = folder.path + "picture." + c.extension;
    const std::string ext = c.extension;
    TexInfo info;
    ImagePtr back;
    if (ext == "tex") {
        ASSERT_EQ(WriteTexFile(picture.get(), path, c.withAlpha, 0, false), 1);
        back = LoadTexFile(path, info);
    } else if (ext == "tif") {
        ASSERT_EQ(WriteTiffFile(picture.get(), path, c.withAlpha), 1);
        std::vector<uint8_t> file;
        ASSERT_TRUE(ReadWholeFile(path, file));
        back = ReadTiffFromMemory(file.data(), int64_t(file.size()), info);
    } else {
        ASSERT_EQ(WriteDdsFile(*picture, path, DdsSaveFormat::Bgra32, true), 1);
        std::vector<uint8_t> file;
        ASSERT_TRUE(ReadWholeFile(path, file));
        // The top level, then 8192 x 65, 4096 x 32, ... down to 1 x 1.
        EXPECT_EQ(int64_t(file.size()), 128 + CountMipChainPixels(c.width, c.height) * 4);
        back = ReadDdsFromMemory(file.data(), int64_t(file.size()), info);
    }
    ASSERT_TRUE(back) << info.errorText;
    const std::vector<uint32_t> written = PixelsOf(*picture);
    EXPECT_TRUE(PixelsOf(*back) == (c.withAlpha ? written : Opaque(written)));
}

INSTANTIATE_TEST_SUITE_P(Formats, BatchedWriters, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

}  // namespace
