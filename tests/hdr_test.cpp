// Radiance HDR: the tone curve and RGBE encoder against known values, hand-made
// files for every header and scanline rule, refusals with their exact texts,
// write/read round trips, and files exchanged with ImageMagick.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/hdr.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(const std::string& text, const Bytes& more = {}) {
    Bytes b(text.begin(), text.end());
    b.insert(b.end(), more.begin(), more.end());
    return b;
}
Bytes File(const std::string& resolution, const Bytes& pixels) {
    return Cat("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n" + resolution + "\n", pixels);
}
Bytes Repeat(const Bytes& pixel, int times) {
    Bytes b;
    for (int i = 0; i < times; ++i) b.insert(b.end(), pixel.begin(), pixel.end());
    return b;
}

ImagePtr Read(const Bytes& file, TexInfo& info) { return ReadHdrFromMemory(file.data(), int64_t(file.size()), info); }

// The display bytes the reader must give for one block pixel.
void ExpectShownAs(const Image& image, int x, int y, const uint8_t* rgbe, double factor, HdrTone tone) {
    const uint32_t c = GetPixelColour(image, x, y);
    if (rgbe[3] == 0) {
        EXPECT_EQ(c, kOpaqueBlack) << x << "," << y;
        return;
    }
    const double scale = std::pow(2.0, rgbe[3] - 128.0) / 256.0;
    EXPECT_EQ(c, MakeColour(ToneMapHdrChannel((rgbe[0] + 0.5) * scale, factor, tone),
                            ToneMapHdrChannel((rgbe[1] + 0.5) * scale, factor, tone),
                            ToneMapHdrChannel((rgbe[2] + 0.5) * scale, factor, tone)))
        << x << "," << y;
}

TEST(FormatsHdr, ToneCurveKnownValues) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value, factor;
        int tone, expected;
    } cases[] = {
        {1.00390625, 1, 0, 255}, {1.00390625, 1, 1, 231}, {0.501953125, 1, 0, 186}, {0.501953125, 1, 1, 205},
        {0.18, 1, 0, 117},       {0.18, 1, 1, 140},       {4.0, 1, 1, 252},         {0.09, 2, 0, 117},
        {0.0, 1, 1, 0},          {7.0, 1, 1, 255},
        // Huge exposures overflow the filmic curve's t * t: still white, no NaN.
        {1e200, 1, 1, 255},      {1.0, inf, 1, 255},      {1.0, inf, 0, 255},
        // Nothing below 0 is shown darker than black.
        {-1.0, 1, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToneMapHdrChannel(c.value, c.factor, HdrToneFromCode(c.tone)), c.expected)
            << c.value << " tone " << c.tone;
}

TEST(FormatsHdr, EncodeRgbe) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double r, g, b;
        Bytes expected;
    } cases[] = {
        {1.0, 0.5, 0.25, {128, 64, 32, 129}},
        {0, 0, 0, {0, 0, 0, 0}},
        {1e-33, 5e-33, 0, {0, 0, 0, 0}},
        {0.75, 0, 0, {192, 0, 0, 128}},
        {0.999, 0.5, 0, {255, 128, 0, 128}},
        {3.0, 1.0, 2.0, {192, 64, 128, 130}},
        {-4.0, 1.0, nan, {0, 128, 0, 129}},
        {std::ldexp(1.0, 126) * 1.5, 0, 0, {192, 0, 0, 255}},
        {1e300, std::ldexp(1.0, 126), 0, {255, 128, 0, 255}},
    };
    for (const Case& c : cases) {
        uint8_t out[4] = {9, 9, 9, 9};
        EncodeRgbe(out, c.r, c.g, c.b);
        EXPECT_EQ(Bytes(out, out + 4), c.expected) << c.r << "," << c.g << "," << c.b;
    }
}

TEST(FormatsHdr, RefusedFilesGiveTheirTextAndNoBlock) {
    struct Case {
        const char* name;
        Bytes file;
        std::string error;
    } cases[] = {
        {"too short", Cat("#?RADIANCE"), "This is not a Radiance HDR file."},
        {"other magic", Cat("P6\n2 2\n255\n0123456789"), "This is not a Radiance HDR file."},
        {"xyze", Cat("#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n\1\1\1\1"),
         "Only RGBE HDR files are supported (FORMAT=32-bit_rle_xyze)."},
        {"format with CR", Cat("#?RADIANCE\r\nFORMAT=32-bit_rle_rgbe\r\n\r\n-Y 1 +X 1\r\n\1\1\1\1"),
         "Only RGBE HDR files are supported (FORMAT=32-bit_rle_rgbe\r)."},
        {"8-bit text", Cat("#?RADIANCE\nFORMAT=\xe9\n\n-Y 1 +X 1\n"), "Only RGBE HDR files are supported (FORMAT=\xc3\xa9)."},
        // Without a FORMAT line a CR LF header never ends at its blank line.
        {"CR LF, no format", Cat("#?RADIANCE\r\n\r\n-Y 1 +X 1\r\n\1\1\1\1"), "This HDR orientation is not supported ()."},
        {"two spaces", File("-Y 2  +X 3", {}), "This HDR orientation is not supported (-Y 2  +X 3)."},
        {"two spaces before width", File("-Y 2 +X  3", {}), "Invalid HDR dimensions: -Y 2 +X  3"},
        {"mirrored x", File("-Y 2 -X 3", {}), "This HDR orientation is not supported (-Y 2 -X 3)."},
        {"no resolution", Cat("#?RADIANCE\n\n"), "This HDR orientation is not supported ()."},
        {"zero height", File("-Y 0 +X 3", {}), "Invalid HDR dimensions: -Y 0 +X 3"},
        {"negative width", File("+Y 3 +X -3", {}), "Invalid HDR dimensions: +Y 3 +X -3"},
        {"beyond an image", File("-Y 32768 +X 1", {}), "Invalid HDR dimensions: -Y 32768 +X 1"},
        {"huge number", File("-Y 99999999999999999999999999 +X 1", {}),
         "Invalid HDR dimensions: -Y 99999999999999999999999999 +X 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        EXPECT_EQ(Read(c.file, info), nullptr);
        EXPECT_EQ(info.errorText, c.error);
        EXPECT_EQ(info.hdrData, nullptr);
    }
}

TEST(FormatsHdr, ScanlinesFillTheBlockTopRowFirst) {
    const Bytes flat7 = {1, 2, 3, 128, 4, 5, 6, 129, 7, 8, 9, 130, 0, 0, 0, 0, 200, 100, 50, 127, 9, 9, 9, 0, 255, 255, 255, 255};
    struct Case {
        const char* name;
        Bytes file;
        int width, height;
        Bytes block;
    } cases[] = {
        {"flat width 7", File("-Y 1 +X 7", flat7), 7, 1, flat7},
        {"magic RGBE, no format line, extra lines",
         Cat("#?RGBE\n# made by hand\nEXPOSURE=2.0\n\n-Y 1 +X 1\n", {10, 20, 30, 128}), 1, 1, {10, 20, 30, 128}},
        {"+Y puts the first scanline at the bottom", File("+Y 2 +X 1", {1, 1, 1, 128, 2, 2, 2, 128}), 1, 2,
         {2, 2, 2, 128, 1, 1, 1, 128}},
        // R: a run of 8; G: an empty literal then 8 literals; B: 3 literals and
        // a run of 5; E: a run reaching past the width, cut there.
        {"run-length width 8",
         File("-Y 1 +X 8", {2, 2, 0, 8, 136, 10, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 3, 20, 21, 22, 133, 7, 138, 128}), 8, 1,
         {10, 1, 20, 128, 10, 2, 21, 128, 10, 3, 22, 128, 10, 4, 7, 128, 10, 5, 7, 128, 10, 6, 7, 128, 10, 7, 7, 128,
          10, 8, 7, 128}},
        {"coded width differs from the resolution line",
         File("-Y 1 +X 8", {2, 2, 0, 99, 136, 1, 136, 2, 136, 3, 136, 128}), 8, 1, Repeat({1, 2, 3, 128}, 8)},
        // A literal cut at the width leaves its last bytes as the next packet.
        {"cut literal", File("-Y 1 +X 8", {2, 2, 0, 8, 10, 1, 1, 1, 1, 1, 1, 1, 1, 136, 50, 136, 60, 136, 128}), 8, 1,
         Repeat({1, 50, 60, 128}, 8)},
        {"run without its value byte", File("-Y 1 +X 8", {2, 2, 0, 8, 136, 5, 140}), 8, 1, Repeat({5, 0, 0, 0}, 8)},
        {"cut short: later rows stay black", File("-Y 3 +X 2", {1, 2, 3, 128, 4, 5, 6, 128, 7, 8, 9}), 2, 3,
         Cat("", {1, 2, 3, 128, 4, 5, 6, 128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr image = Read(c.file, info);
        ASSERT_NE(image, nullptr) << info.errorText;
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.isHdr, 1);
        EXPECT_EQ(info.bytesPerPixel, 4);
        EXPECT_EQ(info.hasAlpha, 0);
        EXPECT_EQ(info.formatText, "Radiance High Dynamic Range");
        EXPECT_EQ(info.note, "HDR exposure: 0.0 EV, editor (clip)");
        ASSERT_NE(info.hdrData, nullptr);
        EXPECT_EQ(info.hdrData->bytes, c.block);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                ExpectShownAs(*image, x, y, &c.block[size_t(y * c.width + x) * 4], 1.0, HdrTone::EditorClip);
    }
}

// A scan line's best is one two-byte run of 127 values in each of its four
// planes. A claim the bytes can hold loads (rows not reached stay black), a
// larger one is refused before the block is made: the 53-byte file claiming
// 32767 x 32767 no longer "loads" as black.
TEST(FormatsHdr, ClaimsAreHeldToTheBytes) {
    struct Case {
        const char* name;
        Bytes file;
        int firstRed;  // the first pixel's red byte when it loads, else -1
    } cases[] = {
        // R and G planes filled by one run each; B and E never reached.
        {"127 pixels from 8 bytes", File("-Y 1 +X 127", {2, 2, 0, 127, 255, 9, 255, 9}), 9},
        {"128 pixels from 8 bytes", File("-Y 1 +X 128", {2, 2, 0, 128, 255, 9, 255, 9}), -1},
        {"flat, cut short", File("-Y 4 +X 1", {1, 2, 3, 128}), 1},
        {"no scan lines at all", File("-Y 1 +X 1", {}), -1},
        {"53 bytes claiming 32767 x 32767", File("-Y 32767 +X 32767", {}), -1},
        {"+Y, 32767 x 32767 with a few runs", File("+Y 32767 +X 32767", {2, 2, 127, 255, 255, 9, 255, 9}), -1},
    };
    for (const Case& c : cases) {
        // The last pixel is never reached: black.
        const std::string result = RunWithinMemory(64, [&]() -> std::string {
            TexInfo info;
            const bool loaded = Read(c.file, info) != nullptr;
            if (!info.hdrData) return loaded ? "loaded without a block" : info.errorText;
            const Bytes& block = info.hdrData->bytes;
            if (!loaded) return "kept a block";
            return block.front() == c.firstRed && block.back() == 0 ? "loaded" : "wrong block";
        });
        EXPECT_EQ(result, c.firstRed < 0 ? kDamagedFileText : "loaded") << c.name;
    }
}

TEST(FormatsHdr, DisplayFollowsTheGivenExposureAndTone) {
    Bytes pixels;
    for (int e = 100; e < 164; ++e) pixels.insert(pixels.end(), {uint8_t(e * 3), uint8_t(255 - e), 128, uint8_t(e)});
    const Bytes file = File("-Y 4 +X 16", pixels);
    struct Case {
        double exposure;
        int64_t tone;
        const char* note;
    } cases[] = {{0.0, 0, "HDR exposure: 0.0 EV, editor (clip)"},
                 {1.0, 1, "HDR exposure: 1.0 EV, filmic"},
                 {-2.0, 0, "HDR exposure: -2.0 EV, editor (clip)"},
                 {-10.0, 1, "HDR exposure: -10.0 EV, filmic"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        const HdrTone tone = HdrToneFromCode(c.tone);
        TexInfo info;
        ImagePtr image = ReadHdrFromMemory(file.data(), int64_t(file.size()), info, {c.exposure, tone});
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(info.note, c.note);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 16; ++x)
                ExpectShownAs(*image, x, y, &pixels[size_t(y * 16 + x) * 4], std::pow(2.0, c.exposure), tone);
    }
}

TEST(FormatsHdr, WriteThenReadGivesTheSameBlock) {
    const std::string dir = MakeTempFolder("hdr");
    struct Case {
        int width, height;
        bool runLength;
    } cases[] = {{1, 1, false}, {7, 3, false}, {8, 2, true}, {200, 3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        HdrBlock block;
        block.width = c.width;
        block.height = c.height;
        for (int i = 0; i < c.width * c.height * 4; ++i) block.bytes.push_back(uint8_t((i * 37 + 11) % 251 + 1));
        const std::string path = dir + "w" + std::to_string(c.width) + ".hdr";
        ASSERT_EQ(WriteHdrFile(&block, c.width, c.height, path), 1);
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(path, file));
        const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(c.height) + " +X " +
                                   std::to_string(c.width) + "\n";
        EXPECT_EQ(std::string(file.begin(), file.begin() + header.size()), header);
        const size_t rowBytes = c.runLength ? 4 + 4 * (c.width + (c.width + 127) / 128) : size_t(c.width) * 4;
        EXPECT_EQ(file.size(), header.size() + rowBytes * c.height);
        TexInfo info;
        ASSERT_NE(Read(file, info), nullptr);
        EXPECT_EQ(info.hdrData->bytes, block.bytes);
    }

    // A constant row is still written as literals only: 128 then 72 per plane.
    HdrBlock flat;
    flat.bytes = Repeat({5, 6, 7, 130}, 200);
    ASSERT_EQ(WriteHdrFile(&flat, 200, 1, dir + "const.hdr"), 1);
    Bytes file;
    ASSERT_TRUE(ReadWholeFile(dir + "const.hdr", file));
    const size_t row = std::string("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 200\n").size();
    EXPECT_EQ(Bytes(file.begin() + row, file.begin() + row + 4), Bytes({2, 2, 0, 200}));
    for (int plane = 0; plane < 4; ++plane) {
        const size_t at = row + 4 + size_t(plane) * 202;
        EXPECT_EQ(file[at], 128);
        EXPECT_EQ(file[at + 1], Bytes({5, 6, 7, 130})[size_t(plane)]);
        EXPECT_EQ(file[at + 129], 72);
    }
}

TEST(FormatsHdr, FailedWritesReportAndKeepTheOldFile) {
    const std::string dir = MakeTempFolder("hdr");
    const std::string old = dir + "old.hdr";
    ASSERT_TRUE(WriteWholeFile(old, "keep", 4));
    HdrBlock block;
    block.bytes = Bytes(4 * 4 * 4, 7);
    struct Case {
        const char* name;
        const HdrBlock* block;
        int width, height;
        std::string path;
        int64_t failAfter;
    } cases[] = {
        {"no block", nullptr, 4, 4, old, -1},
        {"no width", &block, 0, 4, old, -1},
        {"no height", &block, 4, -1, old, -1},
        {"block smaller than the size", &block, 4, 5, old, -1},
        {"missing folder", &block, 4, 4, dir + "no/such.hdr", -1},
        {"disk full", &block, 4, 4, old, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetWriteFailureAfterBytes(c.failAfter);
        EXPECT_EQ(WriteHdrFile(c.block, c.width, c.height, c.path), 0);
        SetWriteFailureAfterBytes(-1);
        Bytes kept;
        ASSERT_TRUE(ReadWholeFile(old, kept));
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");
    }
}

TEST(FormatsHdr, DispatchReadsHdrByExtension) {
    const std::string dir = MakeTempFolder("hdr");
    HdrBlock block;
    block.bytes = Repeat({128, 64, 32, 129}, 6);
    ASSERT_EQ(WriteHdrFile(&block, 3, 2, dir + "sky.HDR"), 1);
    ASSERT_TRUE(WriteWholeFile(dir + "bad.hdr", "#?RADIANCE\n\n-X 2 +Y 2\n", 22));
    TexInfo info;
    ImagePtr image = LoadImageFileByExtension(dir + "sky.HDR", info);
    ASSERT_NE(image, nullptr) << info.errorText;
    EXPECT_EQ(info.kind, 0);
    EXPECT_EQ(info.width, 3);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(info.isHdr, 1);
    EXPECT_EQ(info.formatText, "Radiance High Dynamic Range");
    ASSERT_NE(info.hdrData, nullptr);
    EXPECT_EQ(info.hdrData->bytes, block.bytes);
    EXPECT_EQ(GetPixelColour(*image, 2, 1),
              MakeColour(255, ToneMapHdrChannel(0.50390625, 1.0, HdrTone::EditorClip),
                         ToneMapHdrChannel(0.25390625, 1.0, HdrTone::EditorClip)));

    TexInfo bad;
    EXPECT_EQ(LoadImageFileByExtension(dir + "bad.hdr", bad), nullptr);
    EXPECT_EQ(bad.errorText, "This HDR orientation is not supported (-X 2 +Y 2).");
    EXPECT_EQ(bad.hdrData, nullptr);
}

// The linear 16-bit RGB ImageMagick decodes from a file (relabelled so that it
// is not converted to sRGB on the way out).
std::vector<uint16_t> ReadLinearWithImageMagick(const std::string& path) {
    std::vector<uint8_t> bytes;
    RunPeer("convert-im6.q16 '" + path + "' -set colorspace sRGB -depth 16 -endian LSB rgb:- 2>/dev/null", &bytes);
    std::vector<uint16_t> values;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) values.push_back(uint16_t(bytes[i] | bytes[i + 1] << 8));
    return values;
}

// ImageMagick takes a channel as mantissa x 2^(E - 136), without the half step.
void ExpectSameLinearValues(const HdrBlock& block, const std::vector<uint16_t>& theirs) {
    ASSERT_EQ(theirs.size(), block.bytes.size() / 4 * 3);
    for (size_t p = 0; p < theirs.size() / 3; ++p) {
        const uint8_t* px = &block.bytes[p * 4];
        for (int ch = 0; ch < 3; ++ch) {
            const double ours = px[3] == 0 ? 0.0 : std::min(1.0, px[ch] * std::pow(2.0, px[3] - 136.0));
            EXPECT_NEAR(theirs[p * 3 + ch] / 65535.0, ours, 2.0 / 65535) << "pixel " << p << " channel " << ch;
        }
    }
}

TEST(FormatsHdr, ImageMagickReadsWhatWeWrite) {
    if (!HaveImageMagick()) GTEST_SKIP() << "convert-im6.q16 not installed";
    const std::string dir = MakeTempFolder("hdr");
    for (int width : {5, 150}) {
        SCOPED_TRACE(width);
        HdrBlock block;
        for (int i = 0; i < width * 3; ++i) {
            uint8_t px[4];
            EncodeRgbe(px, (i % 17) / 17.0, (i % 5) / 9.0, (i % 31) / 40.0);
            block.bytes.insert(block.bytes.end(), px, px + 4);
        }
        const std::string path = dir + "ours" + std::to_string(width) + ".hdr";
        ASSERT_EQ(WriteHdrFile(&block, width, 3, path), 1);
        ExpectSameLinearValues(block, ReadLinearWithImageMagick(path));
    }
}

TEST(FormatsHdr, WeReadWhatImageMagickWrites) {
    if (!HaveImageMagick()) GTEST_SKIP() << "convert-im6.q16 not installed";
    const std::string dir = MakeTempFolder("hdr");
    // Rows of one colour make ImageMagick write run packets.
    const std::string path = dir + "theirs.hdr";
    ASSERT_TRUE(RunPeer("convert-im6.q16 -size 300x6 gradient:red-blue '" + path + "' 2>/dev/null"));
    Bytes file;
    ASSERT_TRUE(ReadWholeFile(path, file));
    TexInfo info;
    ASSERT_NE(Read(file, info), nullptr) << info.errorText;
    EXPECT_EQ(info.width, 300);
    EXPECT_EQ(info.height, 6);
    ExpectSameLinearValues(*info.hdrData, ReadLinearWithImageMagick(path));
}

}  // namespace
