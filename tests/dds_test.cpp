// DDS reader and writer: hand-made headers, round trips, failed saves, and
// files exchanged with ImageMagick, NVIDIA Texture Tools and Pillow.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "formats/blockcomp.h"
#include "formats/dds.h"
#include "formats/sizing.h"
#include "tests/test_support.h"
#include "toolkit/files.h"
#include "toolkit/parallel.h"
#include "toolkit/rows.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint32_t U32At(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
Bytes Append(Bytes b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

// A 128-byte header as other programs write it; no FourCC means 32-bit BGRA.
Bytes Header(int w, int h, const char* fourCc, uint32_t pixelFlags = 0) {
    Bytes b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    PutU32(b, 4, 124);
    PutU32(b, 12, uint32_t(h));
    PutU32(b, 16, uint32_t(w));
    PutU32(b, 80, (fourCc ? 0x4 : 0x40) | pixelFlags);
    if (fourCc) {
        std::memcpy(&b[84], fourCc, 4);
    } else {
        PutU32(b, 88, 32);
        PutU32(b, 92, 0x00FF0000);
        PutU32(b, 96, 0x0000FF00);
        PutU32(b, 100, 0x000000FF);
    }
    return b;
}

ImagePtr Read(const Bytes& b, TexInfo& info) { return ReadDdsFromMemory(b.data(), int64_t(b.size()), info); }
Bytes FileBytes(const std::string& path) {
    Bytes b;
    ReadWholeFile(path, b);
    return b;
}

// Smooth ramps with an alpha ramp in the right half.
ImagePtr RampImage(int w, int h) {
    ImagePtr img = CreateImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixelColour(*img, x, y,
                           MakeColour(x * 255 / std::max(w - 1, 1), y * 255 / std::max(h - 1, 1),
                                      (x + y) * 127 / std::max(w + h - 2, 1),
                                      x < w / 2 ? 255 : (w - 1 - x) * 255 / std::max(w / 2, 1)));
    return img;
}

// Runs a peer tool; its output is discarded unless it redirects it itself.
bool Shell(const std::string& command, bool quiet = true) {
    return RunPeer(command + (quiet ? " >/dev/null 2>&1" : " 2>/dev/null"));
}
bool HavePillow() { return Shell("/usr/bin/python3 -c 'import PIL.Image'"); }

// Pixels as Pillow decodes a file: width, height, then RGBA rows from the top.
ImagePtr PillowDecode(const std::string& file, const std::string& folder) {
    std::ofstream(folder + "dump.py")
        << "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\nim.load()\n"
           "open(sys.argv[2], 'wb').write(im.size[0].to_bytes(4, 'little') + im.size[1].to_bytes(4, 'little')"
           " + im.convert('RGBA').tobytes())\n";
    if (!Shell("/usr/bin/python3 '" + folder + "dump.py' '" + file + "' '" + folder + "pixels.bin'")) return nullptr;
    const Bytes b = FileBytes(folder + "pixels.bin");
    if (b.size() < 8) return nullptr;
    ImagePtr img = CreateImage(int(U32At(b, 0)), int(U32At(b, 4)));
    if (!img || b.size() != 8 + size_t(img->width) * img->height * 4) return nullptr;
    for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width; ++x) {
            const uint8_t* p = &b[8 + (size_t(y) * img->width + x) * 4];
            SetPixelColour(*img, x, y, MakeColour(p[0], p[1], p[2], p[3]));
        }
    return img;
}

// Largest difference over the chosen channels (bit 0 red .. bit 3 alpha).
int MaxDifference(const Image& a, const Image& b, int channels = 15) {
    if (a.width != b.width || a.height != b.height) return 256;
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < 4; ++c)
                if (channels & (1 << c))
                    worst = std::max(worst, std::abs(int((GetPixelColour(a, x, y) >> (8 * c)) & 255) -
                                                     int((GetPixelColour(b, x, y) >> (8 * c)) & 255)));
    return worst;
}

}  // namespace

TEST(FormatsDdsReader, RefusesMalformedFilesWithTheirMessage) {
    const std::string notDds = "This is not a DDS file.", badSize = "Invalid DDS dimensions.";
    const std::string badPixels = "This DDS pixel format is not supported.";
    const std::string incomplete = "The DDS image data is incomplete.";
    auto unsupported = [](const std::string& f) {
        return "DDS format " + f + " is not supported (only DXT1, DXT3, DXT5, ATI2/BC5 and 32-bit).";
    };
    auto with = [](Bytes b, size_t at, uint32_t v) { PutU32(b, at, v); return b; };
    const Bytes dxt1 = Append(Header(1, 1, "DXT1"), Bytes(8, 0));
    const Bytes bgra = Append(Header(2, 2, nullptr, 0x1), Bytes(16, 0));
    const std::pair<Bytes, std::string> cases[] = {
        {{}, notDds},
        {Bytes(dxt1.begin(), dxt1.begin() + 127), notDds},
        {with(dxt1, 0, 0x20736444), notDds},  // "DDs "
        {with(dxt1, 4, 123), notDds},
        {with(dxt1, 16, 0), badSize},
        {with(dxt1, 16, 16385), badSize},
        {with(dxt1, 12, 0xFFFFFFFF), badSize},
        {with(dxt1, 84, 0x35747864), unsupported("dxt5")},
        {with(dxt1, 84, 0x30315844), unsupported("DX10")},
        {with(dxt1, 84, 0x43004241), unsupported("AB")},  // the text ends at a zero byte
        {with(bgra, 92, 0x000000FF), badPixels},         // RGBA order
        {with(bgra, 88, 24), badPixels},
        {Header(1, 1, "DXT1"), incomplete},
        {Append(Header(5, 3, "DXT5"), Bytes(31, 0)), incomplete},
        {Bytes(bgra.begin(), bgra.end() - 1), incomplete},
    };
    for (const auto& [file, error] : cases) {
        TexInfo info;
        EXPECT_EQ(Read(file, info), nullptr) << error;
        EXPECT_EQ(info.errorText, error);
    }
}

TEST(FormatsDdsReader, DecodesEveryFourCcAndBgra32) {
    const Bytes flat128 = {128, 128, 0, 0, 0, 0, 0, 0};
    struct Case { const char* fourCc; uint32_t flags; Bytes data; uint32_t pixel; int hasAlpha; std::string format; };
    const Case cases[] = {
        {"DXT1", 0, {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0}, MakeColour(255, 0, 0), 0, "DXT1"},
        {"DXT1", 0, {0x00, 0xF8, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 1, "DXT1"},  // transparent black
        {"DXT3", 0, Append(Bytes(8, 0x77), {0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0}), MakeColour(0, 255, 0, 119), 1, "DXT3"},
        {"DXT5", 0, {200, 200, 0, 0, 0, 0, 0, 0, 0x1F, 0, 0x1F, 0, 0, 0, 0, 0}, MakeColour(0, 0, 255, 200), 1, "DXT5"},
        {"ATI2", 0, Append(flat128, flat128), MakeColour(128, 128, 254), 0, "ATI2"},
        {"BC5U", 0, Append(flat128, flat128), MakeColour(128, 128, 254), 0, "BC5U"},
        {nullptr, 0x1, Bytes(64, 0x40), MakeColour(64, 64, 64, 64), 1, "BGRA 32-bit"},
        {nullptr, 0, Bytes(64, 0x40), MakeColour(64, 64, 64), 0, "BGRA 32-bit"},  // no alpha flag: opaque
    };
    for (const Case& c : cases) {
        TexInfo info;
        // Trailing bytes stand for further mips and are ignored.
        ImagePtr img = Read(Append(Append(Header(4, 4, c.fourCc, c.flags), c.data), Bytes(40, 0x55)), info);
        ASSERT_NE(img, nullptr) << c.format << ": " << info.errorText;
        EXPECT_EQ(info.formatText, "DirectDraw Surface (" + c.format + ")");
        EXPECT_EQ(info.hasAlpha, c.hasAlpha) << c.format;
        EXPECT_EQ(info.width * 100 + info.height * 10 + info.bytesPerPixel, 444);
        EXPECT_EQ(GetPixelColour(*img, 3, 3), c.pixel) << c.format;
    }
    // Rows run from the top; the byte order is B, G, R, A.
    const Bytes rows = {30, 20, 10, 40, 0, 0, 0, 0, 1, 2, 3, 255, 0, 0, 0, 0};
    TexInfo info;
    ImagePtr img = Read(Append(Header(2, 2, nullptr, 0x1), rows), info);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(GetPixelColour(*img, 0, 0), MakeColour(10, 20, 30, 40));
    EXPECT_EQ(GetPixelColour(*img, 0, 1), MakeColour(3, 2, 1, 255));
    EXPECT_NE(Read(Append(Header(16384, 1, nullptr), Bytes(16384 * 4, 9)), info), nullptr) << info.errorText;
}

// The alpha flag of a block-compressed file comes from the decoder while it
// decodes. A 5 x 11 picture is 2 x 3 blocks whose right column shows only its
// first texel column and whose bottom row only three texel rows: a
// transparent texel counts only inside the picture, in whichever band of
// block rows it lies.
TEST(FormatsDdsReader, AlphaFlagCountsOnlyPixelsInsideThePicture) {
    auto colour = [](uint16_t c0, uint16_t c1, uint32_t indices) {
        return Bytes{uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8),
                     uint8_t(indices), uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
    };
    const Bytes opaque = colour(0xF800, 0x001F, 0xE4E4E4E4);  // four-colour mode
    // Three-colour mode with index 3, transparent black, at the given texels (row * 4 + column).
    auto clearAt = [&](std::initializer_list<int> texels) {
        uint32_t indices = 0;
        for (int t : texels) indices |= 3u << (2 * t);
        return colour(0x001F, 0xF800, indices);
    };
    // DXT5 alpha 255 everywhere, or 254 at one texel (index 1 in eight-value mode).
    auto alpha5 = [&](int texel) {
        Bytes b = {255, uint8_t(texel < 0 ? 255 : 254), 0, 0, 0, 0, 0, 0};
        for (int i = 0; texel >= 0 && i < 6; ++i) b[size_t(2 + i)] = uint8_t((uint64_t(1) << (3 * texel)) >> (8 * i));
        return Append(b, opaque);
    };
    // DXT3 alpha: every nibble 15 except at the texel given, which gets 14.
    auto alpha3 = [&](int texel) {
        Bytes b(8, 0xFF);
        if (texel >= 0) b[size_t(texel / 2)] = uint8_t(texel % 2 ? 0xEF : 0xFE);
        return Append(b, opaque);
    };
    const struct {
        const char* name;
        int format;
        int block;  // which of the 6 blocks differs (bx + 2 * by)
        Bytes special;
        int hasAlpha;
    } cases[] = {
        {"DXT1 opaque", kBlockFormatDxt1, 0, opaque, 0},
        {"DXT1 three colours without index 3", kBlockFormatDxt1, 3, colour(0x001F, 0xF800, 0x55555555), 0},
        {"DXT1 clear texel, first block", kBlockFormatDxt1, 0, clearAt({0}), 1},
        {"DXT1 clear texel, right edge inside", kBlockFormatDxt1, 3, clearAt({4}), 1},
        {"DXT1 clear texels right of the edge", kBlockFormatDxt1, 3, clearAt({1, 2, 3, 5, 15}), 0},
        {"DXT1 clear texel on the last row", kBlockFormatDxt1, 4, clearAt({9}), 1},
        {"DXT1 clear texels below the edge", kBlockFormatDxt1, 4, clearAt({12, 13, 14, 15}), 0},
        {"DXT1 corner block, outside only", kBlockFormatDxt1, 5, clearAt({1, 5, 9, 12, 13, 15}), 0},
        {"DXT1 corner block, inside", kBlockFormatDxt1, 5, clearAt({8}), 1},
        {"DXT5 opaque", kBlockFormatDxt5, 2, alpha5(-1), 0},
        {"DXT5 alpha 254 in the middle", kBlockFormatDxt5, 2, alpha5(6), 1},
        {"DXT5 alpha 254 below the edge", kBlockFormatDxt5, 4, alpha5(12), 0},
        {"DXT3 alpha 238 right of the edge", kBlockFormatDxt3, 1, alpha3(7), 0},
        {"DXT3 alpha 238 inside", kBlockFormatDxt3, 1, alpha3(8), 1},
        {"BC5 is opaque", kBlockFormatBc5, 0, Bytes(16, 0), 0},
    };
    const char* kFourCc[] = {"", "DXT1", "DXT3", "DXT5", "ATI2"};
    const Bytes fillers[] = {{}, opaque, alpha3(-1), alpha5(-1), Bytes(16, 0x80)};
    for (const auto& c : cases) {
        Bytes blocks;
        for (int b = 0; b < 6; ++b) blocks = Append(blocks, b == c.block ? c.special : fillers[c.format]);
        for (int threads : {1, 8}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
            SetThreadCountForTesting(threads);
            bool transparent = !c.hasAlpha;
            ImagePtr img = DecodeBlockCompressed(blocks.data(), int64_t(blocks.size()), 5, 11, c.format, &transparent);
            ASSERT_NE(img, nullptr);
            EXPECT_EQ(transparent, c.hasAlpha != 0);
            EXPECT_EQ(HasTransparentPixels(img.get()), c.hasAlpha);
            TexInfo info;
            ASSERT_NE(Read(Append(Header(5, 11, kFourCc[c.format]), blocks), info), nullptr);
            EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        }
    }
    SetThreadCountForTesting(0);
}

TEST(FormatsDdsReader, EveryTruncationFailsCleanly) {
    const Bytes files[] = {Append(Header(8, 8, "DXT1"), Bytes(32, 0xA5)), Append(Header(5, 3, "DXT5"), Bytes(32, 0x3C)),
                           Append(Header(4, 4, "ATI2"), Bytes(16, 0x81)), Append(Header(3, 2, nullptr), Bytes(24, 7))};
    for (const Bytes& full : files) {
        for (size_t n = 0; n < full.size(); ++n) {
            const Bytes prefix(full.begin(), full.begin() + n);  // exact size, for the sanitizer
            TexInfo info;
            EXPECT_EQ(ReadDdsFromMemory(n ? prefix.data() : nullptr, int64_t(n), info), nullptr);
            EXPECT_FALSE(info.errorText.empty()) << n;
        }
    }
}

TEST(FormatsDdsWriter, HeaderFieldsSizesAndCounts) {
    struct Case { int w, h; DdsSaveFormat format; bool mips; uint32_t flags, pitch, levels, caps; size_t fileSize; };
    const Case cases[] = {
        {256, 256, DdsSaveFormat::Dxt1, 1, 0xA1007, 32768, 9, 0x401008, 43832},
        {5, 3, DdsSaveFormat::Dxt5, 0, 0x81007, 32, 1, 0x1000, 160},
        {3, 1, DdsSaveFormat::Bgra32, 1, 0x2100F, 12, 2, 0x401008, 144},
        {1, 1, DdsSaveFormat::Bgra32, 1, 0x100F, 4, 1, 0x1000, 132},
        {256, 64, DdsSaveFormat::Bc5, 1, 0xA1007, 16384, 9, 0x401008, 22032},
    };
    TempFolder tmp;
    const char* fourCc[] = {"DXT1", "DXT5", "ATI2"};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << int(c.format));
        ASSERT_EQ(WriteDdsFile(*RampImage(c.w, c.h), tmp.path + "h.dds", c.format, c.mips), 1);
        const Bytes b = FileBytes(tmp.path + "h.dds");
        ASSERT_EQ(b.size(), c.fileSize);
        const bool raw = c.format == DdsSaveFormat::Bgra32;
        const uint32_t expected[][2] = {
            {0, 0x20534444}, {4, 124}, {8, c.flags}, {12, uint32_t(c.h)}, {16, uint32_t(c.w)}, {20, c.pitch},
            {24, 0}, {28, c.levels}, {32, 0}, {72, 0}, {76, 32}, {80, raw ? 0x41u : 0x4u},
            {84, raw ? 0u : uint32_t(MakeFourCc(fourCc[int(c.format)]))}, {88, raw ? 32u : 0u},
            {92, raw ? 0x00FF0000u : 0u}, {100, raw ? 0xFFu : 0u}, {104, raw ? 0xFF000000u : 0u},
            {108, c.caps}, {112, 0}, {124, 0}};
        for (const auto& [at, value] : expected) EXPECT_EQ(U32At(b, at), value) << "offset " << at;
    }
    EXPECT_EQ(uint32_t(MakeFourCc("DXT5")), 0x35545844u);
    const int64_t chains[][3] = {{4, 4, 21}, {256, 256, 87381}, {5, 3, 18}, {1, 1, 1}, {8, 2, 23},
                                  {INT64_C(1) << 32, INT64_C(1) << 32, INT64_MAX},
                                  {3037000499, 3037000499, INT64_MAX}};  // top level fits, the chain does not
    for (const auto& c : chains) EXPECT_EQ(CountMipChainPixels(c[0], c[1]), c[2]) << c[0] << "x" << c[1];
}

TEST(FormatsDdsWriter, RoundTripsKeepWhatEachFormatCanHold) {
    TempFolder tmp;
    ImagePtr img = RampImage(37, 21);
    struct Case { DdsSaveFormat format; int channels, tolerance, hasAlpha; };
    const Case cases[] = {{DdsSaveFormat::Dxt1, 7, 24, 0}, {DdsSaveFormat::Dxt5, 7, 24, 1},
                          {DdsSaveFormat::Dxt5, 8, 8, 1},  {DdsSaveFormat::Bc5, 3, 4, 0},
                          {DdsSaveFormat::Bgra32, 15, 0, 1}};
    for (const Case& c : cases) {
        ASSERT_EQ(WriteDdsFile(*img, tmp.path + "r.dds", c.format, 1), 1);
        TexInfo info;
        ImagePtr back = Read(FileBytes(tmp.path + "r.dds"), info);
        ASSERT_NE(back, nullptr) << info.errorText;
        EXPECT_EQ(info.hasAlpha, c.hasAlpha) << int(c.format);
        EXPECT_LE(MaxDifference(*img, *back, c.channels), c.tolerance) << int(c.format);
    }
    // Every further level is the halving of the one before, stored as BGRA rows.
    const Bytes b = FileBytes(tmp.path + "r.dds");
    size_t at = 128 + 37 * 21 * 4;
    for (ImagePtr level = HalveImage(*img, true, true);; level = HalveImage(*level, level->width > 1, level->height > 1)) {
        for (int y = 0; y < level->height; ++y, at += size_t(level->width) * 4)
            ASSERT_EQ(std::memcmp(&b[at], level->RowFromTop(y), size_t(level->width) * 4), 0) << level->width;
        if (level->width == 1 && level->height == 1) break;
    }
    EXPECT_EQ(at, b.size());
}

// Levels are made and written a few MiB of blocks at a time, and a 24-bit
// picture is read as it is: the file must still hold, byte for byte, each
// level of its 32-bit copy encoded whole. 4094 x 1102 in DXT5 is 276 rows of
// 16 KiB of blocks, two slices, with edge blocks at the right and bottom.
TEST(FormatsDdsWriter, LevelsWrittenInSlicesAreTheWholeLevels) {
    TempFolder tmp;
    ImagePtr rgba = RampImage(4094, 1102);
    ImagePtr rgb = CreateImageUnfilled(rgba->width, rgba->height, 24);
    for (int y = 0; y < rgb->height; ++y) CopyColourRow(rgba->RowFromTop(y), 4, rgb->RowFromTop(y), 3, rgb->width);
    for (const Image* picture : {rgba.get(), rgb.get()}) {
        SCOPED_TRACE(picture->depth);
        ASSERT_EQ(WriteDdsFile(*picture, tmp.path + "s.dds", DdsSaveFormat::Dxt5, true), 1);
        Bytes whole(128);
        ImagePtr level = ConvertTo32Bit(DuplicateImage(*picture));
        for (;; level = HalveImage(*level, level->width > 1, level->height > 1)) {
            WriteBlockCompressedLevel(*level, kBlockFormatDxt5, whole);
            if (level->width == 1 && level->height == 1) break;
        }
        const Bytes file = FileBytes(tmp.path + "s.dds");
        ASSERT_EQ(file.size(), whole.size());
        EXPECT_TRUE(std::equal(file.begin() + 128, file.end(), whole.begin() + 128));
    }
}

TEST(FormatsDdsWriter, FailuresLeaveTheOldFile) {
    TempFolder tmp;
    const std::string path = tmp.path + "keep.dds";
    const Bytes old = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteWholeFile(path, old.data(), old.size()));
    ImagePtr img = RampImage(64, 64);
    for (int format : {-1, 4, 99}) {
        EXPECT_EQ(WriteDdsFile(*img, path, DdsSaveFormat(format), true), 0) << format;
        EXPECT_EQ(WriteDdsFile(*img, tmp.path + "new.dds", DdsSaveFormat(format), false), 0) << format;
    }
    EXPECT_EQ(WriteDdsFile(Image{}, path, DdsSaveFormat::Dxt1, 0), 0);
    EXPECT_EQ(WriteDdsFile(*img, tmp.path + "missing/x.dds", DdsSaveFormat::Dxt1, 0), 0);
    // The disk fills during the header, the top level or a later level.
    const int64_t dxt1[] = {0, 100, 138, 128 + 2048 + 3}, raw[] = {0, 138, 128 + 16384 + 3};
    for (DdsSaveFormat format : {DdsSaveFormat::Dxt1, DdsSaveFormat::Bgra32}) {
        for (int64_t after : format == DdsSaveFormat::Dxt1 ? std::vector<int64_t>(std::begin(dxt1), std::end(dxt1))
                                                    : std::vector<int64_t>(std::begin(raw), std::end(raw))) {
            SetWriteFailureAfterBytes(after);
            EXPECT_EQ(WriteDdsFile(*img, path, format, true), 0) << int(format) << " after " << after;
            SetWriteFailureAfterBytes(-1);
        }
    }
    EXPECT_EQ(FileBytes(path), old);
    EXPECT_EQ(ScanFolder(tmp.path).size(), 1u);  // no new file, no temporary left behind
}

// Files other programs write decode to the pixels Pillow sees (block palettes
// may round one step apart); files we write open in Pillow and NVTT.
TEST(FormatsDdsPeers, ExchangesFilesWithOtherPrograms) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow needed";
    TempFolder tmp;
    const std::string png = tmp.path + "in.png", dds = tmp.path + "x.dds";
    ASSERT_TRUE(Shell("/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nim = Image.new(\"RGBA\", (64, 48))\n"
                      "im.putdata([(x * 4, y * 5, (x + y) * 2, 255 if x < 32 else 255 - (x - 32) * 8) "
                      "for y in range(48) for x in range(64)])\nim.save(sys.argv[1])' '" + png + "'"));
    struct Peer { const char* tool; std::string command; int channels, tolerance; };
    const std::string in = "'" + png + "' ", out = "'" + dds + "'";
    const std::string im = "convert-im6.q16 " + in + "-define dds:compression=", nv = "nvcompress -nocuda ";
    const Peer written[] = {
        {"convert-im6.q16", im + "dxt1 " + out, 15, 2},  {"convert-im6.q16", im + "dxt5 " + out, 15, 2},
        {"convert-im6.q16", im + "none " + out, 15, 0},
        {"convert-im6.q16", im + "dxt5 -define dds:mipmaps=4 " + out, 15, 2},
        {"nvcompress", nv + "-bc1 " + in + out, 15, 2}, {"nvcompress", nv + "-bc2 " + in + out, 15, 2},
        {"nvcompress", nv + "-bc3 " + in + out, 15, 2},
        {"nvcompress", nv + "-bc5 " + in + out, 3, 0},  // Pillow leaves blue 0; we rebuild it
        {"nvcompress", nv + "-rgb " + in + out, 15, 0},
    };
    for (const Peer& p : written) {
        if (!HaveTool(p.tool)) continue;
        std::filesystem::remove(dds);
        ASSERT_TRUE(Shell(p.command)) << p.command;
        TexInfo info;
        ImagePtr ours = Read(FileBytes(dds), info);
        ASSERT_NE(ours, nullptr) << p.command << ": " << info.errorText;
        ImagePtr peer = PillowDecode(dds, tmp.path);
        ASSERT_NE(peer, nullptr) << p.command;
        EXPECT_LE(MaxDifference(*ours, *peer, p.channels), p.tolerance) << p.command;
    }
    const bool haveNvtt = HaveTool("nvdecompress") && HaveTool("nvddsinfo");
    ImagePtr img = RampImage(36, 20);
    for (DdsSaveFormat format : {DdsSaveFormat::Dxt1, DdsSaveFormat::Dxt5, DdsSaveFormat::Bc5, DdsSaveFormat::Bgra32}) {
        for (bool mips : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << int(format) << " mips " << mips);
            const int channels = format == DdsSaveFormat::Bc5 ? 3 : 15;
            const int tolerance = format == DdsSaveFormat::Bgra32 ? 0 : 2;
            ASSERT_EQ(WriteDdsFile(*img, dds, format, mips), 1);
            TexInfo info;
            ImagePtr ours = Read(FileBytes(dds), info);
            ASSERT_NE(ours, nullptr);
            ImagePtr peer = PillowDecode(dds, tmp.path);
            ASSERT_NE(peer, nullptr);
            EXPECT_LE(MaxDifference(*ours, *peer, channels), tolerance) << "Pillow";
            if (!haveNvtt) continue;
            ASSERT_TRUE(Shell("nvddsinfo '" + dds + "' > '" + tmp.path + "info.txt'", false));
            const Bytes text = FileBytes(tmp.path + "info.txt");
            const std::string s(text.begin(), text.end());
            EXPECT_NE(s.find("Width: 36"), std::string::npos) << s;
            EXPECT_NE(s.find("Height: 20"), std::string::npos) << s;
            EXPECT_NE(s.find(mips ? "Mipmap count: 6" : "Mipmap count: 1"), std::string::npos) << s;
            std::filesystem::remove(tmp.path + "x.tga");
            ASSERT_TRUE(Shell("nvdecompress '" + dds + "'"));
            peer = PillowDecode(tmp.path + "x.tga", tmp.path);
            ASSERT_NE(peer, nullptr);
            EXPECT_LE(MaxDifference(*ours, *peer, channels), tolerance) << "nvdecompress";
        }
    }
}
