// Second-generation textures: files built here around zlib-packed pixels, read
// through the loader (plain and signed), every failure text, and the names
// the reader shows for formats, flags and wrap modes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "formats/blockcomp.h"
#include "formats/dk2.h"
#include "formats/metaheader.h"
#include "formats/tex.h"
#include "tests/meta_texture_file.h"

namespace {

Bytes Pack(const Bytes& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, raw.data(), uLong(raw.size()), 6), Z_OK);
    out.resize(n);
    return out;
}

struct Dk2File {
    int32_t width = 2, height = 2, flags = 0, code = 0;
    Bytes packed;
    bool wraps = true;
    int32_t wrapU = 80, wrapV = 81;
    std::string version = "$Version: Dravik 2.0 $";
    std::string kind = "CStaticTexture";
    std::string objs = "OBJS";
};

Bytes Build(const Dk2File& f) {
    return BuildMetaTexture({f.version, "hdr ", f.kind, f.objs, f.width, f.height, f.flags, f.code, f.packed, f.wraps,
                             f.wrapU, f.wrapV});
}

TEST(FormatsDk2Reader, UncompressedCodesAreReadByUnpackedSize) {
    struct Case {
        const char* name;
        int code;
        size_t bytes;  // unpacked stream length for a 3 x 2 picture
        int bytesPerPixel;
    } cases[] = {
        {"bgra exact", 0, 24, 4},
        {"bgra with mips after the top level", 1, 24 + 4 + 4, 4},
        {"bgr exact", 2, 18, 3},
        {"between bgr and bgra", 6, 23, 3},
        {"unknown code", 10, 24, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dk2File f;
        f.width = 3, f.code = c.code;
        const Bytes raw = Ramp(c.bytes);
        f.packed = Pack(raw);
        TexInfo info;
        ImagePtr img = Load(Build(f), info);
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(info.kind, 2);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(info.hasAlpha, c.bytesPerPixel == 4 ? 1 : 0);
        EXPECT_EQ(info.formatText, GetDk2FormatName(c.code));
        EXPECT_EQ(info.width, 3);
        EXPECT_EQ(info.height, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const uint8_t* p = &raw[size_t(y * 3 + x) * size_t(c.bytesPerPixel)];
                const int alpha = c.bytesPerPixel == 4 ? p[3] : 255;
                EXPECT_EQ(GetPixelColour(*img, x, y), MakeColour(p[2], p[1], p[0], alpha)) << x << "," << y;
            }
    }
}

TEST(FormatsDk2Reader, BlockCodesDecodeTheirOwnFormat) {
    // The same 5 x 3 blocks decode differently as DXT3 and DXT5, so a swapped
    // code shows; compare with the block decoder fed the right format.
    struct Case { int code; int format; int hasAlpha; } cases[] = {
        {7, kBlockFormatDxt1, 0}, {8, kBlockFormatDxt3, 1}, {9, kBlockFormatDxt5, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Dk2File f;
        f.width = 5, f.height = 3, f.code = c.code;
        const Bytes blocks = Ramp(size_t(GetBlockCompressedSize(5, 3, c.format)), c.code);
        Bytes stream = blocks;
        Put(stream, Ramp(8));  // a lower mip level, ignored
        f.packed = Pack(stream);
        TexInfo info;
        ImagePtr img = Load(Build(f), info);
        ASSERT_NE(img, nullptr) << info.errorText;
        ImagePtr want = DecodeBlockCompressed(blocks.data(), int64_t(blocks.size()), 5, 3, c.format);
        ASSERT_NE(want, nullptr);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(GetPixelColour(*img, x, y), GetPixelColour(*want, x, y));
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        EXPECT_EQ(info.bytesPerPixel, 4);
        EXPECT_EQ(info.formatText, GetDk2FormatName(c.code));
    }
}

TEST(FormatsDk2Reader, RecordDescribesVersionFlagsAndWraps) {
    struct Case {
        const char* name;
        std::string version;
        int32_t flags;
        bool wraps;
        int32_t u, v;
        std::string versionText, note;
    } cases[] = {
        {"tag removed", "$Version: Dravik 2.1 $", 0x45, true, 80, 82, "Dravik 2.1 $",
         "Flags: mipmaps, constant, fastDXTc   U: repeat   V: clamp to border"},
        {"pieces meeting after removal stay", "$Vers$Version: ion: Dravik 2", 0x08, true, 81, 255,
         "$Version: Dravik 2", "Flags: resident   U: clamp to edge   V: unknown (FF)"},
        {"no wrap fields", std::string("Dravik 2\0junk", 13), 0x02, false, 0, 0, "Dravik 2",
         "Flags: none   U: unknown (0)   V: unknown (0)"},
        {"negative wraps print 64 bits", "Dravik 2", 0, true, -1, -2, "Dravik 2",
         "Flags: none   U: unknown (FFFFFFFFFFFFFFFF)   V: unknown (FFFFFFFFFFFFFFFE)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dk2File f;
        f.version = c.version, f.flags = c.flags, f.wraps = c.wraps, f.wrapU = c.u, f.wrapV = c.v;
        f.packed = Pack(Ramp(16));
        TexInfo info;
        ASSERT_NE(Load(Build(f), info), nullptr) << info.errorText;
        EXPECT_EQ(info.versionText, c.versionText);
        EXPECT_EQ(info.flags, c.flags);
        EXPECT_EQ(info.frameCount, 1);
        EXPECT_EQ(info.note, c.note);
    }
}

TEST(FormatsDk2Reader, SignedStreamAndVersionLengthOutOfRange) {
    Dk2File f;
    f.packed = Pack(Ramp(16));
    Bytes signedFile;
    Put(signedFile, "SIGSTRM1"), signedFile.resize(300), Put(signedFile, Build(f));
    TexInfo info;
    ASSERT_NE(Load(signedFile, info), nullptr) << info.errorText;
    EXPECT_EQ(info.versionText, "Dravik 2.0 $");

    // The reader itself goes on with an empty version text when the length is
    // out of range (the loader would hand such a file to the next generation).
    for (uint32_t length : {0u, 1000u, 0x80000000u}) {
        Bytes b = Build(f);
        std::memcpy(&b[16], &length, 4);
        TexInfo direct;
        EXPECT_NE(ReadDk2Texture(b.data(), b.size(), direct), nullptr) << length;
        EXPECT_EQ(direct.versionText, "");
    }
}

TEST(FormatsDk2Reader, FailuresNameTheirReason) {
    auto with = [](auto change) {
        Dk2File f;
        f.packed = Pack(Ramp(16));
        change(f);
        return Build(f);
    };
    Bytes cut = with([](Dk2File&) {});
    cut.resize(cut.size() - 9);  // drops both wraps and the stream's last byte
    Bytes damaged = with([](Dk2File&) {});
    damaged[damaged.size() - 12] ^= 0xFF;  // checksum no longer matches
    Bytes starEarly;
    Put(starEarly, "CTSEMETA"), Put(starEarly, "OBJSSTAR"), Put(starEarly, 14u), Put(starEarly, "CStaticTexture");
    Put(starEarly, Bytes(40, 0));
    Bytes starAtEnd;
    Put(starAtEnd, "CTSEMETA........"), Put(starAtEnd, 8u), Put(starAtEnd, "Dravik 2");
    Put(starAtEnd, "CStaticTextureOBJS"), Put(starAtEnd, Bytes(16, 0)), Put(starAtEnd, "STAR123");

    const std::string smaller = "The image data is smaller than expected for ";
    struct Case { const char* name; Bytes file; std::string error; } cases[] = {
        {"other class", with([](Dk2File& f) { f.kind = "CAnimTexture"; }),
         "This Dravik 2 file is not a CStaticTexture (other kinds are not supported yet)."},
        {"no OBJS", with([](Dk2File& f) { f.objs = "OBJ_"; }),
         "Unknown Dravik 2 layout: OBJS chunk missing."},
        {"STAR before offset 16", starEarly, "Unknown Dravik 2 layout: STAR chunk missing."},
        {"STAR without packed size", starAtEnd, "Unknown Dravik 2 layout: STAR chunk missing."},
        {"zero width", with([](Dk2File& f) { f.width = 0; }), "Invalid dimensions: 0 x 2"},
        {"too tall", with([](Dk2File& f) { f.height = 16385; }), "Invalid dimensions: 2 x 16385"},
        {"negative", with([](Dk2File& f) { f.width = -3; }), "Invalid dimensions: -3 x 2"},
        {"no packed bytes", with([](Dk2File& f) { f.packed.clear(), f.wraps = false; }),
         "The packed image data is incomplete."},
        {"packed past the end", cut, "The packed image data is incomplete."},
        {"damaged stream", damaged, "The packed image data could not be unpacked."},
        {"empty stream", with([](Dk2File& f) { f.packed = Pack({}); }), "The packed image data could not be unpacked."},
        {"stream longer than its room", with([](Dk2File& f) { f.packed = Pack(Bytes(2 * 2 * 8 + 1025, 1)); }),
         "The packed image data could not be unpacked."},
        {"stream exactly its room", with([](Dk2File& f) { f.packed = Pack(Bytes(2 * 2 * 8 + 1024, 1)); }), ""},
        {"DXT blocks short", with([](Dk2File& f) { f.width = 5, f.code = 7, f.packed = Pack(Ramp(15)); }),
         "The DXT data is incomplete."},
        {"16-bit pixels", with([](Dk2File& f) { f.code = 2, f.packed = Pack(Ramp(8)); }),
         smaller + "opaque (16-bit)."},
        {"huge claim, tiny stream", with([](Dk2File& f) { f.width = f.height = 16384, f.code = 3; }),
         smaller + "unknown format 3."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TexInfo info;
        ImagePtr img = ReadDk2Texture(c.file.data(), c.file.size(), info);
        EXPECT_EQ(img == nullptr, !c.error.empty());
        EXPECT_EQ(info.errorText, c.error);
        EXPECT_EQ(info.kind, 2);
    }
}

TEST(FormatsDk2Names, FormatsFlagsAndWrapModes) {
    EXPECT_EQ(GetDk2FormatName(11), "alpha only (8-bit)");
    EXPECT_EQ(GetDk2FormatName(3), "unknown format 3");
    EXPECT_EQ(GetDk2FormatName(-7), "unknown format -7");

    struct FlagCase { int64_t flags; const char* text; } flags[] = {
        {0, "none"}, {0x02, "none"}, {-1, "mipmaps, constant, resident, fastDXTc"}};
    for (const FlagCase& c : flags) EXPECT_EQ(DescribeDk2TexFlags(c.flags), c.text) << c.flags;

    struct WrapCase { int64_t mode; const char* text; } wraps[] = {
        {82, "clamp to border"}, {0, "unknown (0)"}, {255, "unknown (FF)"}, {0xABC0, "unknown (ABC0)"},
        {-1, "unknown (FFFFFFFFFFFFFFFF)"}, {INT32_MIN, "unknown (FFFFFFFF80000000)"}};
    for (const WrapCase& c : wraps) EXPECT_EQ(GetWrapModeName(c.mode), c.text) << c.mode;
}

}  // namespace
