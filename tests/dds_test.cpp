// DDS reader and writer: hand-made headers, round trips, failure safety, and
// files exchanged with ImageMagick, NVIDIA Texture Tools and Pillow.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/blockcomp.h"
#include "formats/dds.h"
#include "formats/sizing.h"
#include "formats/texinfo.h"
#include "toolkit/files.h"
#include "toolkit/image.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint32_t U32At(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A 128-byte header as other programs write it; fourCc null means uncompressed.
Bytes Header(int w, int h, const char* fourCc, uint32_t pixelFlags = 0) {
    Bytes b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    PutU32(b, 4, 124);
    PutU32(b, 8, 0x1007);
    PutU32(b, 12, uint32_t(h));
    PutU32(b, 16, uint32_t(w));
    PutU32(b, 76, 32);
    if (fourCc) {
        PutU32(b, 80, 0x4 | pixelFlags);
        std::memcpy(&b[84], fourCc, 4);
    } else {
        PutU32(b, 80, 0x40 | pixelFlags);
        PutU32(b, 88, 32);
        PutU32(b, 92, 0x00FF0000);
        PutU32(b, 96, 0x0000FF00);
        PutU32(b, 100, 0x000000FF);
        PutU32(b, 104, 0xFF000000);
    }
    return b;
}

Bytes Append(Bytes b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

ImagePtr Read(const Bytes& b, TexInfo& info) {
    return ReadDdsFromMemory(b.data(), int64_t(b.size()), info);
}

// Smooth colour ramps with an alpha ramp in the right half: compresses well,
// and has transparent, partial and opaque pixels.
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

struct TempFolder {
    std::string path;
    TempFolder() {
        std::string pattern = testing::TempDir() + "orvanta_dds_XXXXXX";
        if (mkdtemp(pattern.data())) path = pattern + "/";
    }
    ~TempFolder() {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
};

Bytes FileBytes(const std::string& path) {
    Bytes b;
    ReadWholeFile(path, b);
    return b;
}

bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}
bool HavePillow() {
    return std::system("/usr/bin/python3 -c 'import PIL.Image' >/dev/null 2>&1") == 0;
}
// Runs a shell command with its output discarded unless the command sends it somewhere.
bool Shell(const std::string& command, bool quiet = true) {
    return std::system((command + (quiet ? " >/dev/null 2>&1" : " 2>/dev/null")).c_str()) == 0;
}

// Pixels as an independent decoder (Pillow) sees them: RGBA, rows from the top.
struct PeerPixels {
    int width = 0, height = 0;
    Bytes rgba;
    uint32_t At(int x, int y) const {
        const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
        return MakeColour(p[0], p[1], p[2], p[3]);
    }
};

bool PillowDecode(const std::string& file, const std::string& folder, PeerPixels& out) {
    const std::string dump = folder + "pixels.bin";
    const std::string script =
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\nim.load()\n"
        "w, h = im.size\nopen(sys.argv[2], 'wb').write(w.to_bytes(4, 'little') + h.to_bytes(4, 'little') + "
        "im.convert('RGBA').tobytes())\n";
    std::ofstream(folder + "dump.py") << script;
    if (!Shell("/usr/bin/python3 " + folder + "dump.py " + file + " " + dump)) return false;
    Bytes b = FileBytes(dump);
    if (b.size() < 8) return false;
    out.width = int(U32At(b, 0));
    out.height = int(U32At(b, 4));
    out.rgba.assign(b.begin() + 8, b.end());
    return out.rgba.size() == size_t(out.width) * out.height * 4;
}

// Largest difference of the chosen channels (bit 0 red .. bit 3 alpha).
int MaxDifference(const Image& ours, const PeerPixels& peer, int channels = 15) {
    int worst = 0;
    for (int y = 0; y < ours.height; ++y) {
        for (int x = 0; x < ours.width; ++x) {
            const uint32_t a = GetPixelColour(ours, x, y), b = peer.At(x, y);
            for (int c = 0; c < 4; ++c) {
                if (!(channels & (1 << c))) continue;
                worst = std::max(worst, std::abs(int((a >> (8 * c)) & 255) - int((b >> (8 * c)) & 255)));
            }
        }
    }
    return worst;
}

// PSNR over the chosen channels, for judging lossy encodings.
double Psnr(const Image& a, const Image& b, int channels) {
    double sum = 0;
    int64_t n = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const uint32_t p = GetPixelColour(a, x, y), q = GetPixelColour(b, x, y);
            for (int c = 0; c < 4; ++c) {
                if (!(channels & (1 << c))) continue;
                const double d = double((p >> (8 * c)) & 255) - double((q >> (8 * c)) & 255);
                sum += d * d;
                ++n;
            }
        }
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace

TEST(FormatsDdsReader, RefusesMalformedFilesWithTheirMessage) {
    const std::string notDds = "This is not a DDS file.";
    const std::string badSize = "Invalid DDS dimensions.";
    const std::string badPixels = "This DDS pixel format is not supported.";
    const std::string incomplete = "The DDS image data is incomplete.";
    auto unsupported = [](const std::string& f) {
        return "DDS format " + f + " is not supported (only DXT1, DXT3, DXT5, ATI2/BC5 and 32-bit).";
    };
    auto with = [](Bytes b, size_t at, uint32_t v) { PutU32(b, at, v); return b; };
    const Bytes dxt1 = Append(Header(1, 1, "DXT1"), Bytes(8, 0));
    const Bytes bgra = Append(Header(2, 2, nullptr, 0x1), Bytes(16, 0));
    struct Case { const char* name; Bytes file; std::string error; };
    const Case cases[] = {
        {"empty", {}, notDds},
        {"127 bytes", Bytes(dxt1.begin(), dxt1.begin() + 127), notDds},
        {"lower-case magic", with(dxt1, 0, 0x20736444), notDds},
        {"header size 123", with(dxt1, 4, 123), notDds},
        {"width 0", with(dxt1, 16, 0), badSize},
        {"width 16385", with(dxt1, 16, 16385), badSize},
        {"negative height", with(dxt1, 12, 0xFFFFFFFF), badSize},
        {"lower-case FourCC", with(dxt1, 84, 0x35747864), unsupported("dxt5")},
        {"extended header", with(dxt1, 84, 0x30315844), unsupported("DX10")},
        {"FourCC ends at a zero byte", with(dxt1, 84, 0x43004241), unsupported("AB")},
        {"RGBA mask order", with(bgra, 92, 0x000000FF), badPixels},
        {"24 bits", with(bgra, 88, 24), badPixels},
        {"DXT1 without data", Header(1, 1, "DXT1"), incomplete},
        {"DXT5 5x3 one byte short", Append(Header(5, 3, "DXT5"), Bytes(31, 0)), incomplete},
        {"BGRA one byte short", Bytes(bgra.begin(), bgra.end() - 1), incomplete},
    };
    for (const Case& c : cases) {
        TexInfo info;
        EXPECT_EQ(Read(c.file, info), nullptr) << c.name;
        EXPECT_EQ(info.errorText, c.error) << c.name;
    }
}

TEST(FormatsDdsReader, DecodesEveryFourCc) {
    const Bytes red565 = {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0};
    const Bytes green565 = {0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0};
    const Bytes blue565 = {0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0};
    const Bytes flat128 = {128, 128, 0, 0, 0, 0, 0, 0};
    struct Case { const char* fourCc; Bytes blocks; uint32_t pixel; int hasAlpha; };
    const Case cases[] = {
        {"DXT1", red565, MakeColour(255, 0, 0, 255), 0},
        // c0 == c1 with index 3 everywhere: transparent black.
        {"DXT1", {0x00, 0xF8, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF}, MakeColour(0, 0, 0, 0), 1},
        {"DXT3", Append(Bytes(8, 0x77), green565), MakeColour(0, 255, 0, 119), 1},
        {"DXT5", Append({200, 200, 0, 0, 0, 0, 0, 0}, blue565), MakeColour(0, 0, 255, 200), 1},
        {"ATI2", Append(flat128, flat128), MakeColour(128, 128, 254, 255), 0},
        {"BC5U", Append(flat128, flat128), MakeColour(128, 128, 254, 255), 0},
    };
    for (const Case& c : cases) {
        TexInfo info;
        // Trailing bytes stand for further mips and must be ignored.
        ImagePtr img = Read(Append(Append(Header(4, 4, c.fourCc), c.blocks), Bytes(40, 0x55)), info);
        ASSERT_NE(img, nullptr) << c.fourCc << ": " << info.errorText;
        EXPECT_EQ(info.formatText, std::string("DirectDraw Surface (") + c.fourCc + ")");
        EXPECT_EQ(info.hasAlpha, c.hasAlpha) << c.fourCc;
        EXPECT_EQ(info.width, 4);
        EXPECT_EQ(info.height, 4);
        EXPECT_EQ(info.bytesPerPixel, 4);
        EXPECT_TRUE(info.errorText.empty());
        EXPECT_EQ(GetPixelColour(*img, 3, 3), c.pixel) << c.fourCc;
    }
}

TEST(FormatsDdsReader, ReadsBgra32RowsFromTheTop) {
    // 2 x 2: top row (10,20,30,40) (50,60,70,80), bottom row opaque.
    const Bytes pixels = {30, 20, 10, 40, 70, 60, 50, 80, 1, 2, 3, 255, 4, 5, 6, 255};
    struct Case { uint32_t flags; uint32_t topLeft, topRight, bottomLeft; int hasAlpha; };
    const Case cases[] = {
        {0x41, MakeColour(10, 20, 30, 40), MakeColour(50, 60, 70, 80), MakeColour(3, 2, 1, 255), 1},
        // Without the alpha flag the fourth bytes are not alpha.
        {0x40, MakeColour(10, 20, 30, 255), MakeColour(50, 60, 70, 255), MakeColour(3, 2, 1, 255), 0},
    };
    for (const Case& c : cases) {
        Bytes file = Append(Header(2, 2, nullptr), pixels);
        PutU32(file, 80, c.flags);
        TexInfo info;
        ImagePtr img = Read(file, info);
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(info.formatText, "DirectDraw Surface (BGRA 32-bit)");
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        EXPECT_EQ(GetPixelColour(*img, 0, 0), c.topLeft);
        EXPECT_EQ(GetPixelColour(*img, 1, 0), c.topRight);
        EXPECT_EQ(GetPixelColour(*img, 0, 1), c.bottomLeft);
    }
    TexInfo info;
    EXPECT_NE(Read(Append(Header(16384, 1, nullptr, 0x1), Bytes(16384 * 4, 9)), info), nullptr) << info.errorText;
}

TEST(FormatsDdsReader, EveryTruncationFailsCleanly) {
    const Bytes files[] = {
        Append(Header(8, 8, "DXT1"), Bytes(32, 0xA5)),
        Append(Header(5, 3, "DXT5"), Bytes(32, 0x3C)),
        Append(Header(4, 4, "ATI2"), Bytes(16, 0x81)),
        Append(Header(3, 2, nullptr, 0x1), Bytes(24, 0x7E)),
    };
    for (const Bytes& full : files) {
        for (size_t n = 0; n < full.size(); ++n) {
            // An exact-size copy, so a read past the end is caught by the sanitizer.
            const Bytes prefix(full.begin(), full.begin() + n);
            TexInfo info;
            EXPECT_EQ(ReadDdsFromMemory(prefix.empty() ? nullptr : prefix.data(), int64_t(n), info), nullptr);
            EXPECT_FALSE(info.errorText.empty()) << n;
        }
        TexInfo info;
        EXPECT_NE(Read(full, info), nullptr) << info.errorText;
    }
}

TEST(FormatsDdsWriter, HeaderFieldsAndSizes) {
    struct Case {
        int w, h, format, mips;
        uint32_t flags, pitch, levels, caps;
        size_t fileSize;
    };
    const Case cases[] = {
        {256, 256, kDdsSaveDxt1, 1, 0xA1007, 32768, 9, 0x401008, 43832},
        {5, 3, kDdsSaveDxt5, 0, 0x81007, 32, 1, 0x1000, 160},
        {3, 1, kDdsSaveBgra32, 1, 0x2100F, 12, 2, 0x401008, 144},
        {1, 1, kDdsSaveBgra32, 1, 0x100F, 4, 1, 0x1000, 132},
        {1, 1, kDdsSaveDxt1, 1, 0x81007, 8, 1, 0x1000, 136},
        {256, 64, kDdsSaveBc5, 1, 0xA1007, 16384, 9, 0x401008, 22032},
        {6, 6, kDdsSaveDxt5, 1, 0xA1007, 64, 3, 0x401008, 128 + 64 + 16 + 16},
    };
    TempFolder tmp;
    ASSERT_FALSE(tmp.path.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format << " mips " << c.mips);
        const std::string path = tmp.path + "h.dds";
        ASSERT_EQ(WriteDdsFile(*RampImage(c.w, c.h), path, c.format, c.mips), 1);
        const Bytes b = FileBytes(path);
        ASSERT_EQ(b.size(), c.fileSize);
        EXPECT_EQ(std::memcmp(b.data(), "DDS ", 4), 0);
        EXPECT_EQ(U32At(b, 4), 124u);
        EXPECT_EQ(U32At(b, 8), c.flags);
        EXPECT_EQ(U32At(b, 12), uint32_t(c.h));
        EXPECT_EQ(U32At(b, 16), uint32_t(c.w));
        EXPECT_EQ(U32At(b, 20), c.pitch);
        EXPECT_EQ(U32At(b, 28), c.levels);
        EXPECT_EQ(U32At(b, 76), 32u);
        EXPECT_EQ(U32At(b, 108), c.caps);
        const bool raw = c.format == kDdsSaveBgra32;
        const char* fourCc[] = {"DXT1", "DXT5", "ATI2"};
        EXPECT_EQ(U32At(b, 80), raw ? 0x41u : 0x4u);
        EXPECT_EQ(U32At(b, 84), raw ? 0u : uint32_t(MakeFourCc(fourCc[c.format])));
        EXPECT_EQ(U32At(b, 88), raw ? 32u : 0u);
        EXPECT_EQ(U32At(b, 92), raw ? 0x00FF0000u : 0u);
        EXPECT_EQ(U32At(b, 104), raw ? 0xFF000000u : 0u);
        for (size_t at : {24, 32, 72, 112, 124}) EXPECT_EQ(U32At(b, at), 0u) << at;
    }
}

TEST(FormatsDdsWriter, FourCcAndMipChainPixels) {
    EXPECT_EQ(uint32_t(MakeFourCc("DXT1")), 0x31545844u);
    EXPECT_EQ(uint32_t(MakeFourCc("DXT5")), 0x35545844u);
    EXPECT_EQ(uint32_t(MakeFourCc("ATI2")), 0x32495441u);
    struct Case { int64_t w, h, pixels; };
    const Case cases[] = {{4, 4, 21}, {256, 256, 87381}, {5, 3, 18}, {1, 1, 1}, {8, 2, 23}, {1, 4, 7}};
    for (const Case& c : cases) EXPECT_EQ(CountMipChainPixels(c.w, c.h), c.pixels) << c.w << "x" << c.h;
}

TEST(FormatsDdsWriter, Bgra32RoundTripKeepsPixelsAndHalvesEachLevel) {
    TempFolder tmp;
    ImagePtr img = RampImage(7, 5);
    const std::string path = tmp.path + "raw.dds";
    ASSERT_EQ(WriteDdsFile(*img, path, kDdsSaveBgra32, 1), 1);
    const Bytes b = FileBytes(path);
    TexInfo info;
    ImagePtr back = Read(b, info);
    ASSERT_NE(back, nullptr) << info.errorText;
    EXPECT_EQ(info.hasAlpha, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(GetPixelColour(*back, x, y), GetPixelColour(*img, x, y));
    // Each further level is the halving of the one before, as BGRA rows.
    ImagePtr level = DuplicateImage(*img);
    size_t at = 128;
    while (true) {
        for (int y = 0; y < level->height; ++y)
            for (int x = 0; x < level->width; ++x, at += 4) {
                const uint32_t c = GetPixelColour(*level, x, y);
                ASSERT_EQ(MakeColour(b[at + 2], b[at + 1], b[at], b[at + 3]), c) << level->width << "x" << level->height;
            }
        if (level->width == 1 && level->height == 1) break;
        level = HalveImage(*level, level->width > 1, level->height > 1);
    }
    EXPECT_EQ(at, b.size());
}

TEST(FormatsDdsWriter, CompressedRoundTripQualityAndAlpha) {
    struct Case { int format; int channels; int expectHasAlpha; };
    const Case cases[] = {
        {kDdsSaveDxt1, 7, 0},   // alpha dropped
        {kDdsSaveDxt5, 15, 1},  // alpha kept
        {kDdsSaveBc5, 3, 0},    // red and green only
    };
    TempFolder tmp;
    ImagePtr img = RampImage(37, 21);
    for (const Case& c : cases) {
        const std::string path = tmp.path + "c.dds";
        ASSERT_EQ(WriteDdsFile(*img, path, c.format, 0), 1);
        TexInfo info;
        ImagePtr back = Read(FileBytes(path), info);
        ASSERT_NE(back, nullptr) << info.errorText;
        EXPECT_EQ(info.hasAlpha, c.expectHasAlpha) << c.format;
        EXPECT_GT(Psnr(*img, *back, c.channels), 32.0) << c.format;
    }
}

TEST(FormatsDdsWriter, FailuresLeaveTheOldFile) {
    TempFolder tmp;
    const std::string path = tmp.path + "keep.dds";
    const Bytes old = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteWholeFile(path, old.data(), old.size()));
    ImagePtr img = RampImage(64, 64);
    for (int format : {-1, 4, 99}) {
        EXPECT_EQ(WriteDdsFile(*img, path, format, 1), 0) << format;
        EXPECT_EQ(WriteDdsFile(*img, tmp.path + "new.dds", format, 0), 0) << format;
    }
    EXPECT_EQ(WriteDdsFile(Image{}, path, kDdsSaveDxt1, 0), 0);
    EXPECT_EQ(WriteDdsFile(*img, tmp.path + "missing/x.dds", kDdsSaveDxt1, 0), 0);
    // A disk that fills during the header, the top level or a later level.
    for (int format : {kDdsSaveDxt1, kDdsSaveBgra32}) {
        for (int64_t after : {0, 100, 128 + 10, 128 + 64 * 64 * 4 + 3}) {
            if (format == kDdsSaveDxt1 && after > 128 + 2048) after = 128 + 2048 + 3;
            SetWriteFailureAfterBytes(after);
            EXPECT_EQ(WriteDdsFile(*img, path, format, 1), 0) << format << " after " << after;
            SetWriteFailureAfterBytes(-1);
        }
    }
    EXPECT_EQ(FileBytes(path), old);
    EXPECT_EQ(GetFileKind(tmp.path + "new.dds"), FileKind::Missing);
    EXPECT_EQ(ScanFolder(tmp.path).size(), 1u);  // no temporary left behind
}

namespace {

// A 64 x 48 PNG with colour ramps and an alpha ramp, made by Pillow so the
// peers read a file none of our code wrote.
bool MakePeerInput(const std::string& png) {
    return Shell("/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nim = Image.new(\"RGBA\", (64, 48))\n"
               "im.putdata([(x * 4, y * 5, (x + y) * 2, 255 if x < 32 else 255 - (x - 32) * 8) "
               "for y in range(48) for x in range(64)])\nim.save(sys.argv[1])' " + png);
}

ImagePtr ReadOurs(const std::string& path, TexInfo& info) {
    const Bytes b = FileBytes(path);
    return ReadDdsFromMemory(b.data(), int64_t(b.size()), info);
}

}  // namespace

// Files written by other programs decode to the pixels their own decoders see.
// Palette rounding differs a little between decoders, hence the tolerance for
// block formats; uncompressed pixels must match exactly.
TEST(FormatsDdsPeers, ReadsFilesOtherProgramsWrite) {
    const bool haveMagick = HaveTool("convert-im6.q16"), haveNvtt = HaveTool("nvcompress");
    if (!HavePillow() || (!haveMagick && !haveNvtt)) GTEST_SKIP() << "Pillow and ImageMagick or NVTT needed";
    TempFolder tmp;
    const std::string png = tmp.path + "in.png";
    ASSERT_TRUE(MakePeerInput(png));
    struct Case { bool magick; std::string options; int channels; int tolerance; };
    const Case cases[] = {
        {true, "-define dds:compression=dxt1", 15, 2},
        {true, "-define dds:compression=dxt5", 15, 2},
        {true, "-define dds:compression=none", 15, 0},
        {true, "-define dds:compression=dxt5 -define dds:mipmaps=4", 15, 2},
        {false, "-bc1", 15, 2},
        {false, "-bc2", 15, 2},
        {false, "-bc3", 15, 2},
        {false, "-bc5", 3, 0},  // Pillow leaves blue at 0; we rebuild it
        {false, "-rgb", 15, 0},
    };
    for (const Case& c : cases) {
        if ((c.magick && !haveMagick) || (!c.magick && !haveNvtt)) continue;
        SCOPED_TRACE(c.options);
        const std::string dds = tmp.path + "peer.dds";
        std::remove(dds.c_str());
        ASSERT_TRUE(Shell(c.magick ? "convert-im6.q16 " + png + " " + c.options + " " + dds
                                 : "nvcompress -nocuda " + c.options + " " + png + " " + dds));
        TexInfo info;
        ImagePtr ours = ReadOurs(dds, info);
        ASSERT_NE(ours, nullptr) << info.errorText;
        PeerPixels peer;
        ASSERT_TRUE(PillowDecode(dds, tmp.path, peer));
        ASSERT_EQ(ours->width, peer.width);
        ASSERT_EQ(ours->height, peer.height);
        EXPECT_LE(MaxDifference(*ours, peer, c.channels), c.tolerance);
    }
}

// Files we write open in Pillow and NVTT with the sizes and pixels we decode.
TEST(FormatsDdsPeers, FilesWeWriteOpenInOtherPrograms) {
    const bool havePillow = HavePillow(), haveNvtt = HaveTool("nvdecompress") && HaveTool("nvddsinfo");
    if (!havePillow && !haveNvtt) GTEST_SKIP() << "Pillow or NVTT needed";
    TempFolder tmp;
    ImagePtr img = RampImage(36, 20);
    struct Case { int format; int channels; int tolerance; };
    const Case cases[] = {{kDdsSaveDxt1, 15, 2}, {kDdsSaveDxt5, 15, 2}, {kDdsSaveBc5, 3, 0}, {kDdsSaveBgra32, 15, 0}};
    for (const Case& c : cases) {
        for (int mips : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "format " << c.format << " mips " << mips);
            const std::string dds = tmp.path + "ours.dds";
            ASSERT_EQ(WriteDdsFile(*img, dds, c.format, mips), 1);
            TexInfo info;
            ImagePtr ours = ReadOurs(dds, info);
            ASSERT_NE(ours, nullptr) << info.errorText;
            if (havePillow) {
                PeerPixels peer;
                ASSERT_TRUE(PillowDecode(dds, tmp.path, peer));
                ASSERT_EQ(peer.width, 36);
                ASSERT_EQ(peer.height, 20);
                EXPECT_LE(MaxDifference(*ours, peer, c.channels), c.tolerance) << "Pillow";
            }
            if (haveNvtt) {
                const std::string report = tmp.path + "info.txt";
                ASSERT_TRUE(Shell("nvddsinfo " + dds + " > " + report, false));
                const Bytes text = FileBytes(report);
                const std::string s(text.begin(), text.end());
                EXPECT_NE(s.find("Width: 36"), std::string::npos) << s;
                EXPECT_NE(s.find("Height: 20"), std::string::npos) << s;
                EXPECT_NE(s.find(mips ? "Mipmap count: 6" : "Mipmap count: 1"), std::string::npos) << s;
                if (havePillow) {
                    const std::string tga = tmp.path + "ours.tga";
                    std::remove(tga.c_str());
                    ASSERT_TRUE(Shell("nvdecompress " + dds));
                    PeerPixels peer;
                    ASSERT_TRUE(PillowDecode(tga, tmp.path, peer));
                    ASSERT_EQ(peer.width, 36);
                    ASSERT_EQ(peer.height, 20);
                    // NVTT's TGA of a two-channel file carries no alpha.
                    EXPECT_LE(MaxDifference(*ours, peer, c.channels), c.tolerance) << "nvdecompress";
                }
            }
        }
    }
}
