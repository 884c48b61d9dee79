// Third-generation textures: files built here around stored pixels, read
// through the loader, covering the pixel layouts (interleaved, planar, mip
// chains), the HDR format, the record's names and notes, and every failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "formats/blockcomp.h"
#include "formats/dk3.h"
#include "formats/hdr.h"
#include "formats/metaheader.h"
#include "formats/tex.h"
#include "tests/meta_texture_file.h"

namespace {

struct Dk3File {
    int32_t width = 4, height = 4, flags = 0, code = 3;
    Bytes pixels;
    bool wraps = true;
    int32_t wrapU = 80, wrapV = 82;
    std::string version = "$Version: Dravik 3.4 ZO2017";
    std::string kind = "CStaticTexture";
    std::string objs = "OBJS";
};

Bytes Build(const Dk3File& f) {
    return BuildMetaTexture({f.version, "cls ", f.kind, f.objs, f.width, f.height, f.flags, f.code, f.pixels, f.wraps,
                             f.wrapU, f.wrapV});
}

// Planes as stored: the deltas that make each plane's values.
Bytes DeltaCode(const Bytes& values) {
    Bytes out(values.size());
    uint8_t last = 0;
    for (size_t i = 0; i < values.size(); ++i) out[i] = uint8_t(values[i] - last), last = values[i];
    return out;
}

TEST(FormatsDk3Reader, PixelLayoutsFollowTheDataSize) {
    // A 4 x 4 picture: 16 pixels in the top level, 21 in the whole mip chain.
    const Bytes red = Ramp(21, 1), green = Ramp(21, 90), blue = Ramp(21, 170), alpha = Ramp(21, 7);
    auto planes = [&](int count) {
        Bytes b;
        const Bytes* all[] = {&red, &green, &blue, &alpha};
        for (int k = 0; k < count; ++k) Put(b, DeltaCode(*all[k]));
        return b;
    };
    auto topOnly = [](const Bytes& planesOf21, int count) {  // keep the first 16 of each plane
        Bytes b(size_t(count) * 16);
        for (size_t i = 0; i < b.size(); ++i) b[i] = planesOf21[i / 16 * 21 + i % 16];
        return b;
    };
    struct Case {
        const char* name;
        int code, flags;
        Bytes data;
        int bytesPerPixel;
        int channels;  // 0 interleaved BGRA; else planes used
    } cases[] = {
        {"interleaved, mip chain", 3, 0, Ramp(84, 3), 4, 0},
        {"interleaved, top level", 3, 0, Ramp(64, 3), 4, 0},
        {"four planes, mip chain", 3, 0x200, planes(4), 4, 4},
        {"three planes, top level", 2, 0x200, topOnly(planes(3), 3), 3, 3},
        {"two planes, mip chain", 6, 0x200, planes(2), 2, 2},
        {"one grey plane", 7, 0x200, planes(1), 1, 1},
        {"one alpha plane", 8, 0x200, planes(1), 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dk3File f;
        f.code = c.code, f.flags = c.flags, f.pixels = c.data;
        TexInfo info;
        ImagePtr img = Load(Build(f), info);
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(info.kind, 3);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(info.isHdr, 0);
        bool anyTransparent = false;
        for (int i = 0; i < 16; ++i) {
            int r, g, b, a;
            if (c.channels == 0) {
                const uint8_t* p = &c.data[size_t(i) * 4];
                r = p[2], g = p[1], b = p[0], a = p[3];
            } else if (c.channels == -1) {
                r = g = b = 0, a = red[size_t(i)];
            } else if (c.channels == 1) {
                r = g = b = red[size_t(i)], a = 255;
            } else {
                r = red[size_t(i)], g = green[size_t(i)];
                b = c.channels >= 3 ? blue[size_t(i)] : ColourBlue(GetPixelColour(*img, i % 4, i / 4));
                a = c.channels == 4 ? alpha[size_t(i)] : 255;
            }
            anyTransparent |= a < 255;
            EXPECT_EQ(GetPixelColour(*img, i % 4, i / 4), MakeColour(r, g, b, a)) << "pixel " << i;
        }
        EXPECT_EQ(info.hasAlpha, anyTransparent ? 1 : 0);
    }
}

TEST(FormatsDk3Pixels, PlanarValuesAndOddSizes) {
    struct Case {
        const char* name;
        int64_t width, height, format;
        Bytes data;
        std::vector<uint32_t> want;  // B, G, R, A little-endian per pixel; empty: refused
    } cases[] = {
        {"deltas wrap mod 256", 3, 1, 7, {10, 5, 251}, {0xFF0A0A0A, 0xFF0F0F0F, 0xFF0A0A0A}},
        {"normal at the centre", 1, 1, 6, {128, 128}, {0xFF8080FE}},
        {"five bytes a pixel", 1, 1, 3, Bytes(5, 1), {}},
        {"no pixels", 0, 4, 3, Bytes(4, 1), {}},
    };
    for (const Case& c : cases) {
        int64_t b = 0;
        auto out = ConvertDk3Pixels(c.data.data(), int64_t(c.data.size()), c.width, c.height, 0x200, c.format, b);
        ASSERT_EQ(out == nullptr, c.want.empty()) << c.name;
        for (size_t i = 0; i < c.want.size(); ++i) {
            uint32_t got;
            std::memcpy(&got, out.get() + i * 4, 4);
            EXPECT_EQ(got, c.want[i]) << c.name << " pixel " << i;
        }
    }
}

TEST(FormatsDk3Reader, BlockCodesDecodeTheirOwnFormat) {
    struct Case { int code; int format; int hasAlpha; bool zo2017; } cases[] = {
        {9, kBlockFormatDxt1, 0, true}, {10, kBlockFormatDxt5, 1, true}, {11, kBlockFormatDxt3, 1, false},
        {15, kBlockFormatBc5, 0, false},  // decoded as BC5 even where its name is unknown
        {15, kBlockFormatBc5, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Dk3File f;
        f.width = 5, f.height = 3, f.code = c.code;
        if (!c.zo2017) f.version = "Dravik 3";
        const Bytes blocks = Ramp(size_t(GetBlockCompressedSize(5, 3, c.format)), c.code);
        f.pixels = blocks;
        Put(f.pixels, Ramp(24));  // lower mip levels, ignored
        TexInfo info;
        ImagePtr img = Load(Build(f), info);
        ASSERT_NE(img, nullptr) << info.errorText;
        ImagePtr want = DecodeBlockCompressed(blocks.data(), int64_t(blocks.size()), 5, 3, c.format);
        ASSERT_NE(want, nullptr);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(GetPixelColour(*img, x, y), GetPixelColour(*want, x, y));
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        EXPECT_EQ(info.bytesPerPixel, 4);
        EXPECT_EQ(info.formatText, c.zo2017 ? GetDk3FormatName(c.code, false) : "Mivo, " + GetDk3FormatName(c.code, true));
    }
}

TEST(FormatsDk3Reader, HdrPixelsKeepTheirValuesAndShowToneMapped) {
    // Pixel 0: exponent 128 (factor 2^(1/16) / 256), channels 255, 0, 100;
    // pixel 1: a dark one, exponent 60.
    const Bytes interleaved = {100, 0, 255, 128, 7, 200, 30, 60};
    auto value = [](int byte, int e) { return (byte + 0.5) * std::pow(2.0, (e - 127.5) / 8.0) / 256.0; };
    struct Case { double exposure; int64_t tone; } cases[] = {{0.0, 0}, {1.5, 1}, {-2.0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exposure);
        const HdrTone tone = HdrToneFromCode(c.tone);
        Dk3File f;
        f.width = 2, f.height = 1, f.code = 12, f.pixels = interleaved, f.kind = "CColorTexture";
        TexInfo info;
        const Bytes file = Build(f);
        ImagePtr img = LoadTextureFromMemory(file.data(), file.size(), info, "", 0, 0, {c.exposure, tone});
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(info.isHdr, 1);
        EXPECT_EQ(info.hasAlpha, 0);
        EXPECT_EQ(info.note, "Flags: none   U: repeat   V: clamp to border   CColorTexture   " +
                                 MakeHdrExposureNote(c.exposure, tone));
        ASSERT_NE(info.hdrData, nullptr);
        ASSERT_EQ(info.hdrData->bytes.size(), 8u);
        const double factor = std::pow(2.0, c.exposure);
        for (int i = 0; i < 2; ++i) {
            const uint8_t* p = &interleaved[size_t(i) * 4];
            const double r = value(p[2], p[3]), g = value(p[1], p[3]), b = value(p[0], p[3]);
            uint8_t rgbe[4];
            EncodeRgbe(rgbe, r, g, b);
            for (int k = 0; k < 4; ++k) EXPECT_EQ(info.hdrData->bytes[size_t(i) * 4 + size_t(k)], rgbe[k]) << i;
            EXPECT_EQ(GetPixelColour(*img, i, 0),
                      MakeColour(ToneMapHdrChannel(r, factor, tone), ToneMapHdrChannel(g, factor, tone),
                                 ToneMapHdrChannel(b, factor, tone)))
                << i;
        }
    }
    // Stored as three planes the same format is an ordinary RGB picture.
    Dk3File planar;
    planar.width = 2, planar.height = 2, planar.code = 12, planar.flags = 0x200;
    planar.pixels = {10, 20, 0, 0, 30, 40, 0, 0, 50, 60, 0, 0};  // 12 bytes: not a 5-pixel chain
    TexInfo info;
    ImagePtr img = Load(Build(planar), info);
    ASSERT_NE(img, nullptr) << info.errorText;
    EXPECT_EQ(info.isHdr, 0);
    EXPECT_EQ(info.hdrData, nullptr);
    EXPECT_EQ(GetPixelColour(*img, 1, 0), MakeColour(30, 70, 110));
}

TEST(FormatsDk3Reader, RecordNamesClassVersionFlagsAndWraps) {
    struct Case {
        const char* name;
        std::string version, kind;
        int32_t flags, code;
        bool wraps;
        int32_t u;
        std::string versionText, formatText, note;
    } cases[] = {
        {"ZO2017 names", "$Version: ZO2017 b", "CStaticTexture", 0x581, 2, true, 81, "ZO2017 b", "opaque (32-bit)",
         "Flags: mipmaps, normalmap, atlas, no streaming?   U: clamp to edge   V: clamp to border"},
        {"older names", "$Version: 3.1", "CBaseTexture", 0x20C, 2, true, 255, "3.1", "Mivo, opaque (24-bit)",
         "Flags: constant, resident   U: unknown (FF)   V: clamp to border   CBaseTexture"},
        {"no version, animation, no wraps", "", "CAnimTexture", 0x200, 99, false, 0, "", "Mivo, unknown format 99",
         "Flags: none   U: unknown (0)   V: unknown (0)   Animated texture: first frame shown"},
        {"negative wrap prints 64 bits", "ZO2017", "CStaticTexture", 0, 3, true, INT32_MIN, "ZO2017",
         "translucent (32-bit)", "Flags: none   U: unknown (FFFFFFFF80000000)   V: clamp to border"},
        // The class listed first wins over one that appears earlier in the stream.
        {"class order", "ZO2017", "CBaseTexture CColorTexture", 0, 3, true, 80, "ZO2017", "translucent (32-bit)",
         "Flags: none   U: repeat   V: clamp to border   CColorTexture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dk3File f;
        f.version = c.version, f.kind = c.kind, f.flags = c.flags, f.code = c.code, f.wraps = c.wraps, f.wrapU = c.u;
        f.pixels = Ramp(64);
        TexInfo info;
        ASSERT_NE(Load(Build(f), info), nullptr) << info.errorText;
        EXPECT_EQ(info.versionText, c.versionText);
        EXPECT_EQ(info.formatText, c.formatText);
        EXPECT_EQ(info.flags, c.flags);
        EXPECT_EQ(info.frameCount, 1);
        EXPECT_EQ(info.note, c.note);
    }
}

TEST(FormatsDk3Reader, FailuresNameTheirReason) {
    auto with = [](auto change) {
        Dk3File f;
        f.pixels = Ramp(64);
        change(f);
        return Build(f);
    };
    Bytes cut = with([](Dk3File&) {});
    cut.resize(cut.size() - 9);  // drops both wraps and the last pixel byte
    Bytes starEarly;
    Put(starEarly, "CTSEMETA"), Put(starEarly, "OBJSSTAR"), Put(starEarly, 12u), Put(starEarly, "CBaseTexture");
    Put(starEarly, Bytes(40, 0));
    Bytes starAtEnd;
    Put(starAtEnd, "CTSEMETA........"), Put(starAtEnd, 4u), Put(starAtEnd, "v3.0");
    Put(starAtEnd, "CAnimTextureOBJS"), Put(starAtEnd, Bytes(16, 0)), Put(starAtEnd, "STAR123");

    struct Case { const char* name; Bytes file; std::string error; } cases[] = {
        {"no class", with([](Dk3File& f) { f.kind = "CCubeTexture"; }), "This Dravik 3 file does not contain a texture."},
        {"no OBJS", with([](Dk3File& f) { f.objs = "OBJ_"; }), "Unknown Dravik 3 layout: OBJS chunk missing."},
        {"STAR before offset 16", starEarly, "Unknown Dravik 3 layout: STAR chunk missing."},
        {"STAR without size", starAtEnd, "Unknown Dravik 3 layout: STAR chunk missing."},
        {"zero height", with([](Dk3File& f) { f.height = 0; }), "Invalid dimensions: 4 x 0"},
        {"too wide", with([](Dk3File& f) { f.width = 16385; }), "Invalid dimensions: 16385 x 4"},
        {"no data", with([](Dk3File& f) { f.pixels.clear(), f.code = 9; }),
         "This texture file contains no image data (4 x 4, compressed opaque (4-bit, DXT1))."},
        {"data past the end", cut, "The image data is incomplete."},
        {"blocks short", with([](Dk3File& f) { f.code = 10, f.width = 8, f.pixels = Ramp(31); }),
         "The compressed image data is incomplete."},
        {"odd size", with([](Dk3File& f) { f.pixels = Ramp(65); }),
         "The image data of translucent (32-bit) could not be read (65 bytes)."},
        {"planes without the flag", with([](Dk3File& f) { f.code = 2, f.pixels = Ramp(48); }),
         "The image data of opaque (32-bit) could not be read (48 bytes)."},
        {"huge claim, tiny data", with([](Dk3File& f) { f.width = f.height = 16384; }),
         "The image data of translucent (32-bit) could not be read (64 bytes)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr img = ReadDk3Texture(c.file.data(), c.file.size(), info);
        EXPECT_EQ(img, nullptr);
        EXPECT_EQ(info.errorText, c.error);
        EXPECT_EQ(info.kind, 3);
        EXPECT_EQ(info.hdrData, nullptr);
    }
}

}  // namespace
