// TGA reading and writing: refusals with their texts, every pixel layout and
// row order, run-length packets, the written layout, round trips and
// ImageMagick as an independent reader and writer.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/tga.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Map {
    int first = 0;
    int length = 0;
    int entryBits = 0;
    Bytes entries;
};

Bytes Tga(int type, int depth, int descriptor, int w, int h, const Bytes& pixels, const Map& map = {}) {
    const bool hasMap = map.entryBits != 0;
    Bytes b = {0, uint8_t(hasMap ? 1 : 0), uint8_t(type),
               uint8_t(map.first), uint8_t(map.first >> 8), uint8_t(map.length), uint8_t(map.length >> 8),
               uint8_t(map.entryBits), 0, 0, 0, 0,
               uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(depth), uint8_t(descriptor)};
    b.insert(b.end(), map.entries.begin(), map.entries.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

ImagePtr Read(const Bytes& file, TexInfo& info) { return ReadTgaFromMemory(file.data(), int64_t(file.size()), info); }

TEST(FormatsTga, RefusalsGiveTheirTexts) {
    struct Case {
        const char* name;
        Bytes file;
        std::string errorText;
    } cases[] = {
        {"too short", Bytes(17, 0), "This is not a TGA file."},
        {"no pixel data", Tga(2, 24, 0, 2, 2, {}), "The TGA image data is incomplete."},
        {"width 0", Tga(2, 24, 0, 0, 2, Bytes(12, 1)), "This TGA type is not supported (type 2)."},
        {"type 4", Tga(4, 24, 0, 2, 2, Bytes(12, 1)), "This TGA type is not supported (type 4)."},
        {"depth 12", Tga(2, 12, 0, 2, 2, Bytes(12, 1)), "This TGA bit depth is not supported (12 bits)."},
        {"rle map cut", Tga(9, 8, 0, 1, 1, {}, {0, 4, 24, Bytes(6, 9)}), "The TGA image data is incomplete."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        EXPECT_FALSE(Read(c.file, info));
        EXPECT_EQ(info.errorText, c.errorText);
        EXPECT_TRUE(info.formatText.empty());
    }
}

// One pixel per case, through every layout the reader knows.
TEST(FormatsTga, PixelLayouts) {
    const Map bgrMap{0, 3, 24, {10, 20, 30, 40, 50, 60, 70, 80, 90}};
    Bytes bigMapEntries(300 * 3, 0);
    bigMapEntries[299 * 3 + 2] = 77;  // red of entry 299
    struct Case {
        const char* name;
        Bytes file;
        uint32_t colour;
        int bytesPerPixel;
    } cases[] = {
        {"16-bit 0x7FFF, 1 alpha bit", Tga(2, 16, 0x01, 1, 1, {0xFF, 0x7F}), MakeColour(255, 255, 255, 0), 2},
        {"16-bit 0x7FFF, no alpha bits", Tga(2, 16, 0x00, 1, 1, {0xFF, 0x7F}), MakeColour(255, 255, 255), 2},
        {"15-bit channels truncate", Tga(2, 15, 0, 1, 1, {0x21, 0x40}), MakeColour(131, 8, 8), 2},
        {"24-bit", Tga(2, 24, 0, 1, 1, {1, 2, 3}), MakeColour(3, 2, 1), 3},
        {"32-bit alpha 0, no alpha bits", Tga(2, 32, 0x20, 1, 1, {1, 2, 3, 0}), MakeColour(3, 2, 1), 4},
        {"32-bit alpha 0, 8 alpha bits", Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 0}), MakeColour(3, 2, 1, 0), 4},
        {"32-bit alpha 7, no alpha bits", Tga(2, 32, 0x20, 1, 1, {1, 2, 3, 7}), MakeColour(3, 2, 1, 7), 4},
        {"grey", Tga(3, 8, 0, 1, 1, {99}), MakeColour(99, 99, 99), 1},
        {"true colour at 8 bits reads as grey", Tga(2, 8, 0, 1, 1, {42}), MakeColour(42, 42, 42), 1},
        {"mapped 24-bit entry", Tga(1, 8, 0, 1, 1, {1}, bgrMap), MakeColour(60, 50, 40), 1},
        {"mapped below the first index", Tga(1, 8, 0, 1, 1, {5}, {10, 1, 24, {1, 2, 3}}), kOpaqueBlack, 1},
        {"mapped first index", Tga(1, 8, 0, 1, 1, {11}, {10, 2, 24, {1, 2, 3, 4, 5, 6}}), MakeColour(6, 5, 4), 1},
        {"mapped 16-bit entry", Tga(1, 8, 0, 1, 1, {0}, {0, 1, 16, {0x1F, 0x00}}), MakeColour(0, 0, 255), 1},
        {"mapped 32-bit entry keeps alpha", Tga(1, 8, 0, 1, 1, {0}, {0, 1, 32, {1, 2, 3, 4}}), MakeColour(3, 2, 1, 4),
         1},
        {"16-bit index reaches entry 299", Tga(1, 16, 0, 1, 1, {0x2B, 0x01}, {0, 300, 24, bigMapEntries}),
         MakeColour(77, 0, 0), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr image = Read(c.file, info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(GetPixelColour(*image, 0, 0), c.colour);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(info.hasAlpha, ColourAlpha(c.colour) < 255 ? 1 : 0);
        EXPECT_EQ(info.formatText, "Truevision Graphics Adapter");
        EXPECT_TRUE(info.errorText.empty());
    }
}

TEST(FormatsTga, RowAndColumnOrders) {
    // File order of the pixels: p0 p1 / p2 p3 (2 x 2, 24-bit).
    const Bytes stream = {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4};
    const uint32_t p0 = MakeColour(1, 0, 0), p1 = MakeColour(2, 0, 0), p2 = MakeColour(3, 0, 0),
                   p3 = MakeColour(4, 0, 0);
    struct Case {
        int descriptor;
        std::vector<uint32_t> fromTopLeft;
    } cases[] = {
        {0x00, {p2, p3, p0, p1}},
        {0x20, {p0, p1, p2, p3}},
        {0x10, {p3, p2, p1, p0}},
        {0x30, {p1, p0, p3, p2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.descriptor);
        for (int type : {2, 10}) {
            // The run-length form stores the same four pixels as one raw packet.
            Bytes data = stream;
            if (type == 10) data.insert(data.begin(), 0x03);
            TexInfo info;
            ImagePtr image = Read(Tga(type, 24, c.descriptor, 2, 2, data), info);
            ASSERT_TRUE(image) << info.errorText;
            EXPECT_EQ(PixelsOf(*image), c.fromTopLeft);
        }
    }
}

TEST(FormatsTga, RunLengthPackets) {
    const uint32_t a = MakeColour(3, 2, 1), b = MakeColour(6, 5, 4), c = MakeColour(9, 8, 7);
    struct Case {
        const char* name;
        int depth;
        int descriptor;
        Bytes data;
        std::vector<uint32_t> pixels;  // 3 x 2, from the top left
    } cases[] = {
        {"run then raw", 24, 0x20, {0x82, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 4, 5, 6}, {a, a, a, b, c, b}},
        {"run crosses the row end", 24, 0x20, {0x83, 1, 2, 3, 0x81, 4, 5, 6}, {a, a, a, a, b, b}},
        {"ends early", 24, 0x20, {0x81, 1, 2, 3, 0x01, 4, 5, 6}, {a, a, b, kOpaqueBlack, kOpaqueBlack, kOpaqueBlack}},
        {"run value cut off", 24, 0x20, {0x81, 1, 2, 3, 0x85, 4, 5}, {a, a, kOpaqueBlack, kOpaqueBlack, kOpaqueBlack,
                                                                       kOpaqueBlack}},
        {"ends early with alpha", 32, 0x28, {0x80, 1, 2, 3, 255}, {MakeColour(3, 2, 1), 0, 0, 0, 0, 0}},
        {"packet longer than the picture", 24, 0x20, {0xFF, 1, 2, 3}, {a, a, a, a, a, a}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        TexInfo info;
        ImagePtr image = Read(Tga(10, t.depth, t.descriptor, 3, 2, t.data), info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(PixelsOf(*image), t.pixels);
        EXPECT_TRUE(info.errorText.empty());
    }
}

// A packet of 1 + bytes-per-pixel bytes stands for at most 128 pixels. A
// claim the bytes can hold loads, one pixel more is refused, and a 22-byte
// file claiming 32767 x 32767 is refused without the picture being made.
TEST(FormatsTga, RunLengthClaimsAreHeldToTheBytes) {
    const uint32_t colour = MakeColour(3, 2, 1), grey = MakeColour(7, 7, 7);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t colour;  // of every pixel when it loads
        bool loads;
    } cases[] = {
        {"128 pixels from one run", Tga(10, 24, 0x20, 128, 1, {0xFF, 1, 2, 3}), colour, true},
        {"129 pixels from one run", Tga(10, 24, 0x20, 129, 1, {0xFF, 1, 2, 3}), 0, false},
        {"grey: 256 pixels from two runs", Tga(11, 8, 0x20, 16, 16, {0xFF, 7, 0xFF, 7}), grey, true},
        {"grey: 257 pixels from two runs", Tga(11, 8, 0x20, 257, 1, {0xFF, 7, 0xFF, 7}), 0, false},
        {"no packets at all", Tga(10, 24, 0x20, 1, 1, {}), 0, false},
        {"22 bytes claiming 32767 x 32767", Tga(10, 24, 0, 32767, 32767, {0xFF, 1, 2, 3}), 0, false},
    };
    for (const Case& c : cases) {
        const std::string result = RunWithinMemory(64, [&] {
            TexInfo info;
            ImagePtr image = Read(c.file, info);
            if (!image) return info.errorText;
            const size_t count = size_t(image->width) * size_t(image->height);
            return std::string(PixelsOf(*image) == std::vector<uint32_t>(count, c.colour) ? "loaded" : "wrong pixels");
        });
        EXPECT_EQ(result, c.loads ? "loaded" : "The TGA image data is incomplete.") << c.name;
    }
}

TEST(FormatsTga, WrittenLayoutAndRoundTrip) {
    const std::string dir = MakeTempFolder("tga");
    ImagePtr picture = CreateImage(2, 1, 32, MakeColour(10, 20, 30, 40));
    SetPixelColour(*picture, 1, 0, MakeColour(50, 60, 70, 255));
    struct Case {
        int withAlpha;
        Bytes pixels;
        uint8_t descriptor;
    } cases[] = {
        {1, {30, 20, 10, 40, 70, 60, 50, 255}, 0x28},
        {0, {30, 20, 10, 70, 60, 50}, 0x20},  // colours kept as stored, not blended
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.withAlpha);
        const std::string path = dir + "out.tga";
        ASSERT_EQ(WriteTgaFile(*picture, path, c.withAlpha), 1);
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(path, file));
        ASSERT_EQ(file.size(), 18 + c.pixels.size() + 26);
        const Bytes header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, uint8_t(c.withAlpha ? 32 : 24),
                              c.descriptor};
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), header);
        EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 18 + long(c.pixels.size())), c.pixels);
        const std::string footer(file.end() - 26, file.end());
        EXPECT_EQ(footer, std::string(8, '\0') + "TRUEVISION-XFILE." + std::string(1, '\0'));

        TexInfo info;
        ImagePtr back = Read(file, info);
        ASSERT_TRUE(back) << info.errorText;
        EXPECT_EQ(GetPixelColour(*back, 0, 0), MakeColour(10, 20, 30, c.withAlpha ? 40 : 255));
        EXPECT_EQ(GetPixelColour(*back, 1, 0), MakeColour(50, 60, 70));
    }

    // A write that fails part way leaves the old file as it was.
    const std::string path = dir + "keep.tga";
    ASSERT_TRUE(WriteWholeFile(path, "old", 3));
    SetWriteFailureAfterBytes(10);
    EXPECT_EQ(WriteTgaFile(*picture, path, 1), 0);
    SetWriteFailureAfterBytes(-1);
    EXPECT_EQ(GetFileSize(path), 3);
    EXPECT_EQ(WriteTgaFile(Image{}, dir + "none.tga", 1), 0);
}

// A TGA under another name reaches the toolkit decoder, which knows it too.
TEST(FormatsTga, ToolkitDecoderReadsTgaByContent) {
    const std::string dir = MakeTempFolder("tga");
    for (int transparent : {0, 1}) {
        SCOPED_TRACE(transparent);
        ImagePtr picture = CreateImage(3, 2, 32, MakeColour(10, 20, 30));
        SetPixelColour(*picture, 2, 1, MakeColour(200, 100, 50, transparent ? 128 : 255));
        ASSERT_EQ(WriteTgaFile(*picture, dir + "pic.tga", 1), 1);
        ASSERT_EQ(rename((dir + "pic.tga").c_str(), (dir + "pic.xyz").c_str()), 0);
        TexInfo info;
        ImagePtr image = LoadImageFileByExtension(dir + "pic.xyz", info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(info.formatText, "XYZ image");
        EXPECT_EQ(info.bytesPerPixel, transparent ? 4 : 3);
        EXPECT_EQ(info.hasAlpha, transparent);
        EXPECT_EQ(PixelsOf(*image), PixelsOf(*picture));
    }
}

TEST(FormatsTga, ImageMagickReadsAndWritesTheSamePixels) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    const std::string dir = MakeTempFolder("tga");
    ImagePtr picture = CreateImage(5, 3, 32, MakeColour(10, 20, 30, 200));
    SetPixelColour(*picture, 4, 0, MakeColour(250, 1, 2, 255));
    SetPixelColour(*picture, 0, 2, MakeColour(3, 250, 4, 0));
    ASSERT_EQ(WriteTgaFile(*picture, dir + "ours.tga", 1), 1);

    // ImageMagick decodes ours and writes it back run-length encoded, bottom-up.
    const std::string command = "convert-im6.q16 '" + dir + "ours.tga' -compress RLE '" + dir + "theirs.tga'";
    ASSERT_TRUE(RunPeer(command));
    Bytes file;
    ASSERT_TRUE(ReadWholeFile(dir + "theirs.tga", file));
    ASSERT_GE(file.size(), 18u);
    EXPECT_EQ(file[2], 10);
    TexInfo info;
    ImagePtr back = Read(file, info);
    ASSERT_TRUE(back) << info.errorText;
    EXPECT_EQ(PixelsOf(*back), PixelsOf(*picture));
}

}  // namespace
