// PCX reading and writing: the run-length code, refusals with their texts,
// planes, palettes, raw and short data, the written layout, round trips and
// ImageMagick as an independent reader and writer.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "formats/pcx.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Header {
    int planes = 3;
    int width = 1;
    int height = 1;
    int bytesPerLine = 0;  // 0: the width
    int encoding = 1;
    int bits = 8;
};

Bytes Pcx(const Header& h, const Bytes& data) {
    Bytes b(128 + data.size(), 0);
    for (size_t i = 0; i < data.size(); ++i) b[128 + i] = data[i];
    b[0] = 10;
    b[1] = 5;
    b[2] = uint8_t(h.encoding);
    b[3] = uint8_t(h.bits);
    b[4] = 1;  // xmin 1, so the width comes from the difference
    b[8] = uint8_t(h.width);
    b[9] = uint8_t(h.width >> 8);
    b[10] = uint8_t(h.height - 1);
    b[11] = uint8_t((h.height - 1) >> 8);
    b[65] = uint8_t(h.planes);
    const int bpl = h.bytesPerLine ? h.bytesPerLine : h.width;
    b[66] = uint8_t(bpl);
    b[67] = uint8_t(bpl >> 8);
    return b;
}

Bytes WithPalette(Bytes file) {
    file.push_back(12);
    for (int i = 0; i < 256; ++i) {
        file.push_back(uint8_t(i));
        file.push_back(uint8_t(255 - i));
        file.push_back(uint8_t(i / 2));
    }
    return file;
}

ImagePtr Read(const Bytes& file, TexInfo& info) { return ReadPcxFromMemory(file.data(), int64_t(file.size()), info); }

TEST(FormatsPcx, RunLengthEncoding) {
    struct Case {
        const char* name;
        Bytes line;
        Bytes encoded;
    } cases[] = {
        {"mixed", {7, 7, 7, 200, 1}, {0xC3, 7, 0xC1, 200, 1}},
        {"100 equal bytes", Bytes(100, 9), {0xFF, 9, 0xE5, 9}},
        {"single run code", {0xC0}, {0xC1, 0xC0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.line.size() * 2 + 1, 0xEE);
        const int64_t n = EncodePcxRleLine(c.line.data(), int64_t(c.line.size()), out.data());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.encoded);
    }
}

TEST(FormatsPcx, RefusalsGiveTheirTexts) {
    Bytes notTen = Pcx({}, {1, 2, 3});
    notTen[0] = 11;
    const Bytes shortPalette = Pcx({1, 1, 1}, Bytes(896 - 128, 12));
    Bytes noMarker = WithPalette(Pcx({1, 1, 1}, {0}));
    noMarker[noMarker.size() - 769] = 11;
    const char* kType = "This PCX type is not supported (only 8-bit palette, 24-bit and 32-bit).";
    struct Case {
        const char* name;
        Bytes file;
        std::string errorText;
    } cases[] = {
        {"too short", Bytes(127, 10), "This is not a PCX file."},
        {"not ten", notTen, "This is not a PCX file."},
        {"two planes", Pcx({2}, {}), kType},
        {"one bit", Pcx({3, 1, 1, 0, 1, 1}, {}), kType},
        {"line shorter than the width", Pcx({3, 4, 1, 3}, {}), kType},
        {"896 bytes", shortPalette, "The PCX palette is missing."},
        {"no marker", noMarker, "The PCX palette is missing."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        EXPECT_FALSE(Read(c.file, info));
        EXPECT_EQ(info.errorText, c.errorText);
        EXPECT_TRUE(info.formatText.empty());
    }
}

TEST(FormatsPcx, Pictures) {
    const uint32_t black = kOpaqueBlack;
    struct Case {
        const char* name;
        Bytes file;
        std::vector<uint32_t> pixels;  // from the top left
        int width;
        const char* formatText;
        int hasAlpha;
    } cases[] = {
        {"palette", WithPalette(Pcx({1, 2, 1, 2}, {0xC2, 4})), {MakeColour(4, 251, 2), MakeColour(4, 251, 2)}, 2,
         "PiCture eXchange (8-bit)", 0},
        {"three planes with padding", Pcx({3, 1, 2, 2}, {10, 0, 20, 0, 30, 0, 40, 0, 50, 0, 60, 0}),
         {MakeColour(10, 20, 30), MakeColour(40, 50, 60)}, 1, "PiCture eXchange (24-bit)", 0},
        {"run crosses the line end", Pcx({3, 1, 2}, {0xC4, 7, 1, 2}), {MakeColour(7, 7, 7), MakeColour(7, 1, 2)}, 1,
         "PiCture eXchange (24-bit)", 0},
        {"short data fills zeros", Pcx({3, 1, 2}, {0xC2, 5}), {MakeColour(5, 5, 0), black}, 1,
         "PiCture eXchange (24-bit)", 0},
        {"raw lines", Pcx({3, 1, 2, 0, 0}, {0xC5, 2, 3, 4, 5, 6}), {MakeColour(0xC5, 2, 3), MakeColour(4, 5, 6)}, 1,
         "PiCture eXchange (24-bit)", 0},
        {"raw line not wholly present", Pcx({3, 1, 2, 0, 0}, {1, 2, 3, 4, 5}), {MakeColour(1, 2, 3), black}, 1,
         "PiCture eXchange (24-bit)", 0},
        {"four planes opaque", Pcx({4}, {1, 2, 3, 0xC1, 255}), {MakeColour(1, 2, 3)}, 1, "PiCture eXchange (32-bit)", 0},
        {"four planes alpha 254", Pcx({4}, {1, 2, 3, 0xC1, 254}), {MakeColour(1, 2, 3, 254)}, 1,
         "PiCture eXchange (32-bit)", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr image = Read(c.file, info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(PixelsOf(*image), c.pixels);
        EXPECT_EQ(info.height, image->height);
        EXPECT_EQ(info.formatText, c.formatText);
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        EXPECT_TRUE(info.errorText.empty());
    }
}

// Two bytes of run code give at most 63 bytes of scan line, every plane and
// the padding counted, and raw files are held to the same bound: a larger
// claim is refused without the picture being made.
TEST(FormatsPcx, ClaimsAreHeldToTheBytes) {
    const uint32_t grey = MakeColour(9, 9, 9);
    struct Case {
        const char* name;
        Bytes file;
        std::vector<uint32_t> pixels;  // empty: refused
    } cases[] = {
        {"63 line bytes from one run", Pcx({3, 21, 1}, {0xFF, 9}), std::vector<uint32_t>(21, grey)},
        {"66 line bytes from one run", Pcx({3, 22, 1}, {0xFF, 9}), {}},
        {"padding counts", Pcx({3, 1, 1, 22}, {0xFF, 9}), {}},
        {"raw line cut short", Pcx({3, 21, 1, 0, 0}, {1, 2}), std::vector<uint32_t>(21, kOpaqueBlack)},
        {"raw, 66 line bytes", Pcx({3, 22, 1, 0, 0}, {1, 2}), {}},
        {"130 bytes claiming 32767 x 32767", Pcx({3, 32767, 32767}, {0xFF, 9}), {}},
        {"raw, 130 bytes claiming 32767 x 32767", Pcx({4, 32767, 32767, 0, 0}, {1, 2}), {}},
        {"1 x 32767 with 65535-byte lines", Pcx({4, 1, 32767, 65535}, {0xFF, 9}), {}},
    };
    for (const Case& c : cases) {
        const std::string result = RunWithinMemory(64, [&] {
            TexInfo info;
            ImagePtr image = Read(c.file, info);
            return !image ? info.errorText : PixelsOf(*image) == c.pixels ? "loaded" : "wrong pixels";
        });
        EXPECT_EQ(result, c.pixels.empty() ? kDamagedFileText : "loaded") << c.name;
    }
}

TEST(FormatsPcx, WrittenLayoutAndRoundTrip) {
    const std::string dir = MakeTempFolder("pcx");
    ImagePtr picture = CreateImage(3, 2, 32, MakeColour(1, 2, 3, 100));
    SetPixelColour(*picture, 1, 1, MakeColour(250, 0, 9));
    const std::string path = dir + "out.pcx";
    ASSERT_EQ(WritePcxFile(*picture, path), 1);
    Bytes file;
    ASSERT_TRUE(ReadWholeFile(path, file));
    ASSERT_GE(file.size(), 128u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), Bytes({10, 5, 1, 8, 0, 0, 0, 0, 2, 0, 1, 0, 72, 0, 72, 0}));
    EXPECT_EQ(file[65], 3);
    EXPECT_EQ(file[66], 4);  // bytes per line: the width rounded up to even
    EXPECT_EQ(file[68], 1);
    // Each row: red, green, blue plane lines of 4 bytes, the fourth 0; alpha is dropped.
    const Bytes data = {0xC3, 1, 0, 0xC3, 2, 0, 0xC3, 3, 0,  //
                        1, 0xC1, 250, 1, 0, 2, 0, 2, 0, 3, 9, 3, 0};
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), data);

    TexInfo info;
    ImagePtr back = Read(file, info);
    ASSERT_TRUE(back) << info.errorText;
    EXPECT_EQ(GetPixelColour(*back, 0, 0), MakeColour(1, 2, 3));
    EXPECT_EQ(GetPixelColour(*back, 1, 1), MakeColour(250, 0, 9));
    EXPECT_EQ(info.bytesPerPixel, 3);

    // A failed write leaves the old file as it was.
    SetWriteFailureAfterBytes(5);
    EXPECT_EQ(WritePcxFile(*CreateImage(8, 8), path), 0);
    SetWriteFailureAfterBytes(-1);
    Bytes again;
    ASSERT_TRUE(ReadWholeFile(path, again));
    EXPECT_EQ(again, file);
    EXPECT_EQ(WritePcxFile(Image{}, dir + "none.pcx"), 0);
}

TEST(FormatsPcx, ImageMagickReadsAndWritesTheSamePixels) {
    if (system("command -v convert-im6.q16 >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick missing";
    const std::string dir = MakeTempFolder("pcx");
    // Long runs, lone bytes above 0xBF and an odd width.
    ImagePtr picture = CreateImage(101, 3, 32, MakeColour(200, 201, 202));
    for (int x = 0; x < 101; x += 7) SetPixelColour(*picture, x, 1, MakeColour(uint8_t(x), 0xC5, 0xFF - x));
    ASSERT_EQ(WritePcxFile(*picture, dir + "ours.pcx"), 1);
    const std::string command =
        "convert-im6.q16 '" + dir + "ours.pcx' -type TrueColor '" + dir + "theirs.pcx'";
    ASSERT_TRUE(RunPeer(command));
    Bytes file;
    ASSERT_TRUE(ReadWholeFile(dir + "theirs.pcx", file));
    TexInfo info;
    ImagePtr back = Read(file, info);
    ASSERT_TRUE(back) << info.errorText;
    EXPECT_EQ(PixelsOf(*back), PixelsOf(*picture));
}

}  // namespace
