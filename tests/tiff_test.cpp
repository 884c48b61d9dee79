// TIFF: which files the own reader takes (and which it leaves to libtiff), the
// writer's exact layout, round trips through the dispatch, failed writes,
// files exchanged with ImageMagick and libtiff's tools, claims past the file,
// orientations and L*a*b* colours.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "formats/dispatch.h"
#include "formats/tiff.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

std::string RunAndCapture(const std::string& command) {
    std::string out;
    RunPeer(command, &out);
    return out;
}

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
};
constexpr uint16_t kByte = 1, kShort = 3, kLong = 4;

// Entries for a w x h picture of `samples` 8-bit samples in one strip at offset 8.
std::vector<Entry> Plain(uint32_t w, uint32_t h, uint32_t samples) {
    return {{256, kLong, 1, w},      {257, kLong, 1, h},  {258, kShort, 1, 8}, {259, kShort, 1, 1},
            {262, kShort, 1, 2},     {273, kLong, 1, 8},  {277, kShort, 1, samples}, {284, kShort, 1, 1}};
}
std::vector<Entry> With(std::vector<Entry> entries, Entry changed) {
    std::erase_if(entries, [&](const Entry& e) { return e.tag == changed.tag; });
    entries.push_back(changed);
    return entries;
}
std::vector<Entry> Without(std::vector<Entry> entries, uint16_t tag) {
    std::erase_if(entries, [tag](const Entry& e) { return e.tag == tag; });
    return entries;
}

// Header, then `data` from offset 8, then the directory.
std::vector<uint8_t> Build(const std::vector<Entry>& entries, const std::vector<uint8_t>& data, const char* mark = "II") {
    auto put = [](std::vector<uint8_t>& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    std::vector<uint8_t> file = {uint8_t(mark[0]), uint8_t(mark[1]), 42, 0};
    const uint32_t ifd = uint32_t(8 + data.size() + data.size() % 2);
    put(file, ifd, 4);
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() % 2) file.push_back(0);
    put(file, uint32_t(entries.size()), 2);
    for (const Entry& e : entries) WriteTiffIfdEntry(file, e.tag, e.type, e.count, e.value);
    put(file, 0, 4);
    return file;
}

TEST(FormatsTiff, ReaderTakesOnlyThePlainLayout) {
    const std::vector<uint8_t> rgb2x2 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<uint32_t> rgb2x2Pixels = {MakeColour(1, 2, 3), MakeColour(4, 5, 6), MakeColour(7, 8, 9),
                                                MakeColour(10, 11, 12)};
    // 1 x 5: strips of rows {4}, {2,3}, {0,1} stored in that order, then the
    // table of their LONG offsets at 23.
    const std::vector<uint8_t> threeStrips = {40, 40, 40, 2, 2, 2, 3,  3, 3, 0, 0,  0, 1, 1,
                                              1,  17, 0,  0, 0, 11, 0, 0, 0, 8, 0, 0, 0};
    const std::vector<uint32_t> threeStripsPixels = {MakeColour(0, 0, 0), MakeColour(1, 1, 1), MakeColour(2, 2, 2),
                                                     MakeColour(3, 3, 3), MakeColour(40, 40, 40)};
    // The pixels after the directory (8 entries, 110 bytes with the header),
    // so the second row runs past the end of the file.
    std::vector<uint8_t> shortData = Build(With(Plain(2, 2, 3), {273, kLong, 1, 110}), {});
    shortData.insert(shortData.end(), {1, 2, 3, 4, 5, 6, 7});
    const uint32_t black = kOpaqueBlack;
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::vector<uint32_t> pixels;  // rows from the top; empty: refused
        int bytesPerPixel;
    } cases[] = {
        {"plain rgb", Build(Plain(2, 2, 3), rgb2x2), rgb2x2Pixels, 3},
        {"big-endian mark", Build(Plain(2, 2, 3), rgb2x2, "MM"), {}, 0},
        {"no photometric", Build(Without(Plain(2, 2, 3), 262), rgb2x2), {}, 0},
        {"two samples", Build(With(Plain(2, 2, 3), {277, kShort, 1, 2}), rgb2x2), {}, 0},
        {"lzw", Build(With(Plain(2, 2, 3), {259, kShort, 1, 5}), rgb2x2), {}, 0},
        {"16-bit", Build(With(Plain(2, 2, 3), {258, kShort, 1, 16}), rgb2x2), {}, 0},
        {"planar", Build(With(Plain(2, 2, 3), {284, kShort, 1, 2}), rgb2x2), {}, 0},
        {"byte strip offsets", Build(With(Plain(2, 2, 3), {273, kByte, 1, 8}), rgb2x2), {}, 0},
        {"no bits tag", Build(Without(Plain(2, 2, 3), 258), rgb2x2), rgb2x2Pixels, 3},
        {"bits array 8,8,8", Build(With(Plain(2, 2, 3), {258, kShort, 3, 8}), {8, 0, 8, 0, 8, 0, 0, 0, 0, 0, 0, 0}),
         {MakeColour(8, 0, 8), MakeColour(0, 8, 0), black, black}, 3},
        {"bits array 8,8,16", Build(With(Plain(2, 2, 3), {258, kShort, 3, 8}), {8, 0, 8, 0, 16, 0}), {}, 0},
        {"rows per strip 0", Build(With(Plain(2, 2, 3), {278, kLong, 1, 0}), rgb2x2), rgb2x2Pixels, 3},
        {"three strips", Build(With(With(Plain(1, 5, 3), {278, kShort, 1, 2}), {273, kLong, 3, 23}), threeStrips),
         threeStripsPixels, 3},
        {"two short strips inline",
         Build(With(With(Plain(1, 2, 3), {278, kLong, 1, 1}), {273, kShort, 2, (8u << 16) | 11}), {5, 6, 7, 1, 2, 3}),
         {MakeColour(1, 2, 3), MakeColour(5, 6, 7)}, 3},
        {"rgba keeps alpha", Build(With(Plain(1, 1, 4), {338, kShort, 1, 1}), {10, 20, 30, 128}),
         {MakeColour(10, 20, 30, 128)}, 4},
        {"short data", shortData, {MakeColour(1, 2, 3), MakeColour(4, 5, 6), black, black}, 3},
        {"strip table outside", Build(With(With(Plain(1, 2, 3), {278, kLong, 1, 1}), {273, kLong, 2, 5000}), {1, 2, 3}),
         {black, black}, 3},
        // Claims 30000 x 30000 pixels with 12 bytes: refused before any allocation.
        {"huge claim", Build(With(With(Plain(2, 2, 3), {256, kLong, 1, 30000}), {257, kLong, 1, 30000}), rgb2x2), {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr image = ReadTiffFromMemory(c.file.data(), int64_t(c.file.size()), info);
        EXPECT_TRUE(info.errorText.empty());
        if (c.pixels.empty()) {
            EXPECT_FALSE(image);
            continue;
        }
        ASSERT_TRUE(image);
        EXPECT_EQ(image->depth, 32);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        ASSERT_EQ(size_t(image->width) * size_t(image->height), c.pixels.size());
        for (size_t i = 0; i < c.pixels.size(); ++i)
            EXPECT_EQ(GetPixelColour(*image, int(i % image->width), int(i / image->width)), c.pixels[i]) << i;
    }
}

uint32_t Le(const std::vector<uint8_t>& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | d[at + i];
    return v;
}

TEST(FormatsTiff, WriterLayout) {
    const std::string dir = MakeTempFolder("tiff");
    struct Case {
        int w, h, alpha;
        size_t size, bitsAt, ifdAt, entries;
    } cases[] = {
        {2, 1, 0, 186, 14, 36, 12},
        {2, 1, 1, 202, 16, 40, 13},
        {1, 1, 0, 184, 12, 34, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " alpha " << c.alpha);
        ImagePtr image = CreateImage(c.w, c.h, 32, MakeColour(10, 20, 30, 40));
        ASSERT_EQ(WriteTiffFile(image.get(), dir + "l.tif", c.alpha), 1);
        std::vector<uint8_t> d;
        ASSERT_TRUE(ReadWholeFile(dir + "l.tif", d));
        ASSERT_EQ(d.size(), c.size);
        EXPECT_EQ(Le(d, 0, 4), 0x002A4949u);
        EXPECT_EQ(Le(d, 4, 4), c.ifdAt);
        EXPECT_EQ(std::vector<uint8_t>(d.begin() + 8, d.begin() + 11), (std::vector<uint8_t>{10, 20, 30}));
        if (c.alpha) {
            EXPECT_EQ(d[11], 40);
        }
        EXPECT_EQ(Le(d, c.bitsAt, 2), 8u);
        ASSERT_EQ(Le(d, c.ifdAt, 2), c.entries);
        uint32_t lastTag = 0;
        for (size_t i = 0; i < c.entries; ++i) {
            const uint32_t tag = Le(d, c.ifdAt + 2 + 12 * i, 2);
            EXPECT_GT(tag, lastTag);
            lastTag = tag;
            if (tag == 258) {
                EXPECT_EQ(Le(d, c.ifdAt + 2 + 12 * i + 8, 4), c.bitsAt);
            }
        }
        EXPECT_EQ(Le(d, c.size - 4, 4), 0u);
    }
}

TEST(FormatsTiff, RoundTripThroughTheDispatch) {
    const std::string dir = MakeTempFolder("tiff");
    ImagePtr picture = CreateImage(7, 5, 32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) SetPixelColour(*picture, x, y, MakeColour(x * 30, y * 50, x + y, 255 - x * y * 7));
    for (int alpha : {1, 0}) {
        SCOPED_TRACE(alpha);
        const std::string path = dir + (alpha ? "a.TIF" : "b.tif");
        ASSERT_EQ(SaveImageByExtension(*picture, path, alpha), 1);
        TexInfo info;
        ImagePtr back = LoadImageFileByExtension(path, info);
        ASSERT_TRUE(back) << info.errorText;
        EXPECT_EQ(info.formatText, "Tagged Image File Format");
        EXPECT_EQ(info.note, "");  // the own reader, not libtiff
        EXPECT_EQ(info.bytesPerPixel, alpha ? 4 : 3);
        EXPECT_EQ(info.hasAlpha, alpha);
        EXPECT_EQ(info.width, 7);
        EXPECT_EQ(info.height, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                EXPECT_EQ(GetPixelColour(*back, x, y), GetPixelColour(*picture, x, y) | (alpha ? 0 : 0xFF000000u));
    }
}

TEST(FormatsTiff, FailedWritesReturnZeroAndKeepTheOldFile) {
    const std::string dir = MakeTempFolder("tiff");
    ImagePtr picture = CreateImage(64, 64, 32, MakeColour(1, 2, 3));
    ASSERT_TRUE(WriteWholeFile(dir + "old.tif", "old", 3));
    EXPECT_EQ(WriteTiffFile(nullptr, dir + "none.tif", 1), 0);
    EXPECT_EQ(WriteTiffFile(picture.get(), dir + "no/such/folder.tif", 1), 0);
    for (int64_t after : {0, 10, 64 * 64 * 4 + 20}) {
        SetWriteFailureAfterBytes(after);
        EXPECT_EQ(WriteTiffFile(picture.get(), dir + "old.tif", 1), 0) << after;
        SetWriteFailureAfterBytes(-1);
        std::vector<uint8_t> d;
        ASSERT_TRUE(ReadWholeFile(dir + "old.tif", d));
        EXPECT_EQ(std::string(d.begin(), d.end()), "old");
    }
    EXPECT_EQ(GetFileKind(dir + "none.tif"), FileKind::Missing);
}

ImagePtr MakeGradient(bool transparent) {
    ImagePtr image = CreateImage(9, 7, 32);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            SetPixelColour(*image, x, y, MakeColour(x * 28, y * 36, 255 - x * y * 4, transparent ? 60 + x * 20 : 255));
    return image;
}

// ImageMagick reading our files is checked with the editor's saves.
TEST(FormatsTiff, OurFilesPassTiffinfo) {
    if (!HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo missing";
    const std::string dir = MakeTempFolder("tiff");
    for (int alpha : {1, 0}) {
        const std::string path = dir + "ours" + std::to_string(alpha) + ".tif";
        ASSERT_EQ(WriteTiffFile(MakeGradient(true).get(), path, alpha), 1);
        // -D decodes the pixel data too; any complaint lands in the output.
        EXPECT_EQ(RunAndCapture("tiffinfo -D '" + path + "' 2>&1 >/dev/null; echo rc=$?"), "rc=0\n") << alpha;
    }
}

TEST(FormatsTiff, ImageMagickFilesReadByTheOwnReader) {
    if (!HaveTool("convert-im6.q16")) GTEST_SKIP() << "ImageMagick missing";
    const std::string dir = MakeTempFolder("tiff");
    for (bool transparent : {false, true}) {
        SCOPED_TRACE(transparent);
        ImagePtr picture = MakeGradient(transparent);
        ASSERT_TRUE(EncodePngFile(*picture, dir + "src.png", transparent ? 32 : 24));
        const std::string command = "convert-im6.q16 '" + dir + "src.png' -depth 8 -compress none " +
                                    "-define tiff:endian=lsb -define tiff:rows-per-strip=2 -type " +
                                    (transparent ? "TrueColorAlpha" : "TrueColor") + " '" + dir + "im.tif'";
        ASSERT_TRUE(RunPeer(command));
        std::vector<uint8_t> d;
        ASSERT_TRUE(ReadWholeFile(dir + "im.tif", d));
        TexInfo info;
        ImagePtr image = ReadTiffFromMemory(d.data(), int64_t(d.size()), info);
        ASSERT_TRUE(image);
        EXPECT_EQ(info.bytesPerPixel, transparent ? 4 : 3);
        for (int i = 0; i < 9 * 7; ++i)
            EXPECT_EQ(GetPixelColour(*image, i % 9, i / 9), GetPixelColour(*picture, i % 9, i / 9)) << i;
    }
}

// Compressed headers claiming more pixels than their compression could make
// of 16 bytes at its best ratio are refused before libtiff allocates them
// (RunHoldingLittleMemory); 4 MiB of pixels fit any file.
TEST(FormatsTiff, ClaimsPastTheFileCostNoMemory) {
    const char* truncated = "The TIFF file is truncated.";
    const std::vector<uint8_t> strip(16);  // all zeros
    // Width, height and compression: LZW, Deflate, PackBits, and LZW whose 3 MB fit.
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*> claims[] = {
        {5000, 6000, 5, truncated}, {4500, 5000, 8, truncated}, {1500, 1300, 32773, truncated},
        {1000, 1000, 5, "The TIFF file is damaged: Using code not yet in table."}};
    for (const auto& [width, height, compression, error] : claims) {
        const Entry packed = {259, kShort, 1, compression}, stripBytes = {279, kLong, 1, 16};
        const std::vector<uint8_t> file = Build(With(With(Plain(width, height, 3), packed), stripBytes), strip);
        EXPECT_EQ(RunHoldingLittleMemory([&] {
                      std::string text;
                      DecodeImageMemory(file.data(), file.size(), &text);
                      return text;
                  }),
                  error)
            << width << " x " << height;
    }
}

// A 3 x 2 raster stored 0 1 2 / 3 4 5 is shown as viewers (and ImageMagick's
// -auto-orient) show it, by the own reader and by libtiff, with and without
// alpha. Colours of 0 or 255 survive libtiff's premultiplied alpha exactly.
TEST(FormatsTiff, EveryOrientationIsShownUpright) {
    const char* shown[] = {"012345", "210543", "543210", "345012", "031425", "304152", "524130", "251403"};
    auto colour = [](int i, bool alpha) {
        return MakeColour(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0, alpha ? 255 - 40 * i : 255);
    };
    std::vector<uint8_t> rgba, rgb;
    for (int i = 0; i < 24; ++i) {
        rgba.push_back(uint8_t(colour(i / 4, true) >> (8 * (i % 4))));
        if (i % 4 < 3) rgb.push_back(rgba.back());
    }
    for (uint32_t o = 1; o <= 8; ++o) {
        TexInfo info;
        int depth = 0;
        std::string error;
        const Entry turn = {274, kShort, 1, o}, unassociatedAlpha = {338, kShort, 1, 2};
        const std::vector<uint8_t> withAlpha = Build(With(With(Plain(3, 2, 4), turn), unassociatedAlpha), rgba),
                                   without = Build(With(Plain(3, 2, 3), turn), rgb);
        const std::pair<ImagePtr, bool> decoded[] = {
            {ReadTiffFromMemory(withAlpha.data(), int64_t(withAlpha.size()), info), true},
            {DecodeImageMemoryTo32Bit(withAlpha.data(), withAlpha.size(), &depth, &error), true},
            {DecodeImageMemory(without.data(), without.size(), &error), false}};
        for (size_t k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "orientation " << o << ", reader " << k);
            const auto& [image, alpha] = decoded[k];
            ASSERT_TRUE(image) << error;
            const int width = o <= 4 ? 3 : 2;
            ASSERT_EQ(image->width * 10 + image->height, width * 10 + 6 / width);
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(GetPixelColour(*image, i % width, i / width), colour(shown[o - 1][i] - '0', alpha)) << i;
        }
    }
}

// Pictures of many bands, in strips and in tiles (made by tiffcp): each
// orientation turned a quarter is the transpose of its partner among the
// first four, and libtiff's own flips (the 32-bit read) and the own reader
// agree with ours.
TEST(FormatsTiff, OrientedBandsJoinUp) {
    if (!HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp missing";
    const uint32_t w = 600, h = 500;
    std::vector<uint8_t> samples(size_t(w) * h * 3);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 7 + (i * i >> 9));
    TempFolder folder;
    const std::string plainPath = folder.path + "p.tif", path = folder.path + "l.tif";
    for (const std::string layout : {"-r 3", "-t -w 16 -l 16"}) {
        std::vector<uint32_t> shown[9];
        for (uint32_t o = 1; o <= 8; ++o) {
            const std::vector<uint8_t> plain = Build(With(Plain(w, h, 3), {274, kShort, 1, o}), samples);
            std::vector<uint8_t> file;
            ASSERT_TRUE(WriteWholeFile(plainPath, plain.data(), plain.size()));
            ASSERT_TRUE(RunPeer("tiffcp " + layout + " '" + plainPath + "' '" + path + "' 2>/dev/null"));
            ASSERT_TRUE(ReadWholeFile(path, file));
            TexInfo info;
            std::string error;
            int depth = 0;
            ImagePtr image = DecodeImageMemory(file.data(), file.size(), &error);
            ImagePtr flipped = DecodeImageMemoryTo32Bit(file.data(), file.size(), &depth, &error);
            ImagePtr own = ReadTiffFromMemory(plain.data(), int64_t(plain.size()), info);
            ASSERT_TRUE(image && flipped && own) << error;
            shown[o] = PixelsOf(*image);
            EXPECT_TRUE(PixelsOf(*own) == shown[o] && (o > 4 || PixelsOf(*flipped) == shown[o])) << o;
        }
        for (const auto& [turned, partner] : {std::pair{5, 1}, {6, 4}, {7, 3}, {8, 2}}) {
            size_t mismatches = 0;
            for (size_t i = 0; i < size_t(w) * h; ++i)
                mismatches += shown[turned][i] != shown[partner][i % h * w + i / h];
            EXPECT_EQ(mismatches, 0u) << turned << " " << layout;
        }
    }
}

// L*a*b* files come out as a colour-managed conversion gives them: sRGB for a
// file that names no white (D50) from Little CMS (relative colorimetric), for
// a D65 white computed by hand (nothing to adapt). Lab that libtiff cannot
// hand over whole is refused rather than shown wrong.
TEST(FormatsTiff, LabColoursAreShownInSrgb) {
    const struct {
        int l, a, b;  // L* in 255ths of 100: exact in 8 and 16 bits
        uint32_t d50, d65;
    } colours[] = {
        {255, 0, 0, MakeColour(255, 255, 255), MakeColour(255, 255, 255)},
        {0, 0, 0, MakeColour(0, 0, 0), MakeColour(0, 0, 0)},
        {128, 0, 0, MakeColour(119, 119, 119), MakeColour(119, 119, 119)},
        {138, 81, 70, MakeColour(255, 0, 0), MakeColour(255, 1, 0)},
        {224, -79, 81, MakeColour(9, 255, 0), MakeColour(73, 253, 26)},
        {75, 68, -112, MakeColour(0, 1, 254), MakeColour(0, 34, 254)},
        {153, -20, 30, MakeColour(123, 154, 90), MakeColour(128, 153, 90)},
        {100, 60, -60, MakeColour(143, 38, 193), MakeColour(132, 47, 192)},
    };
    const uint32_t n = uint32_t(std::size(colours));
    for (const uint32_t wide : {0, 1})
        for (const bool d65 : {false, true}) {
            SCOPED_TRACE(testing::Message() << (wide ? 16 : 8) << " bits, D65 " << d65);
            std::vector<uint8_t> data;
            auto put = [&](int v, uint32_t bytes) {
                for (uint32_t k = 0; k < bytes; ++k) data.push_back(uint8_t(v >> (8 * k)));
            };
            for (const auto& c : colours)
                for (const int v : {c.l * (wide ? 257 : 1), c.a * (wide ? 256 : 1), c.b * (wide ? 256 : 1)})
                    put(v, wide + 1);
            const Entry bits = {258, kShort, 1, 8 + 8 * wide}, lab = {262, kShort, 1, 8};
            std::vector<Entry> entries = With(With(Plain(n, 1, 3), bits), lab);
            if (d65) entries.push_back({318, 5, 2, uint32_t(8 + data.size())});  // WhitePoint, two RATIONALs
            for (const int v : {3127, 10000, 3290, 10000}) put(v, d65 ? 4 : 0);
            const std::vector<uint8_t> file = Build(entries, data);
            std::string error;
            ImagePtr image = DecodeImageMemory(file.data(), file.size(), &error);
            ASSERT_TRUE(image) << error;
            for (uint32_t i = 0; i < n; ++i)
                for (int shift : {0, 8, 16})
                    EXPECT_NEAR(int(GetPixelColour(*image, int(i), 0) >> shift & 255),
                                int((d65 ? colours[i].d65 : colours[i].d50) >> shift & 255), 1) << i;
        }
    // With alpha, and the ICC and ITU encodings.
    TempFolder folder;
    for (const uint32_t photometric : {8, 9, 10}) {
        const Entry lab = {262, kShort, 1, photometric};
        const std::vector<uint8_t> file = Build(With(Plain(1, 1, photometric == 8 ? 4 : 3), lab), {1, 2, 3, 4});
        ASSERT_TRUE(WriteWholeFile(folder.path + "x.tif", file.data(), file.size()));
        TexInfo info;
        EXPECT_FALSE(LoadImageFileByExtension(folder.path + "x.tif", info)) << photometric;
        EXPECT_EQ(info.errorText, kDamagedFileText) << photometric;
    }
}

}  // namespace
