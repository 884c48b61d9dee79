// First-generation textures: files built here byte by byte, read back through
// the loader, and the writer's files checked byte for byte and round-tripped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

#include "formats/tex.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

// Version 4 header; the caller appends the pixels (or effect chunks).
Bytes V4(int flags, int w0, int h0, int firstMip, int frames, const char* tag = "FRMS") {
    Bytes b;
    Put(b, "TVER"), Put(b, 4), Put(b, "TDAT"), Put(b, flags), Put(b, w0), Put(b, h0);
    Put(b, 7), Put(b, firstMip), Put(b, frames), Put(b, tag);
    return b;
}
Bytes V3(int flags, int w0, int h0, int firstMip, int frameSize, int frames) {
    Bytes b;
    Put(b, "TVER"), Put(b, 3), Put(b, "TDAT"), Put(b, flags), Put(b, w0), Put(b, h0);
    Put(b, 5), Put(b, 0), Put(b, firstMip), Put(b, frameSize), Put(b, frames), Put(b, "FRMS");
    return b;
}
// Effect texture: optional buffer of values, optional base name.
Bytes Effect(int ew, int eh, const std::vector<int32_t>* values, const std::string& base) {
    Bytes b = V4(0, 4, 4, 0, 1, "FXDT");
    Put(b, 99), Put(b, ew), Put(b, eh);
    Put(b, "junk");
    if (values) {
        Put(b, "FXBF");
        for (int32_t v : *values) Put(b, uint32_t(v));
    }
    if (!base.empty()) Put(b, "DFNM"), Put(b, uint32_t(base.size())), Put(b, base);
    return b;
}

ImagePtr Load(const Bytes& b, TexInfo& info, const std::string& path = "", int frame = 0) {
    return LoadTextureFromMemory(b.data(), b.size(), info, path, frame, 0);
}

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
Bytes ReadFile(const std::string& path) {
    Bytes b;
    EXPECT_TRUE(ReadWholeFile(path, b));
    return b;
}

}  // namespace

TEST(FormatsTexReader, PixelFormatsAndRecord) {
    struct Case {
        const char* name;
        Bytes file;
        int version, bpp, alpha, dataOffset, frameSize;
        uint32_t topLeft, bottomRight;
    };
    Bytes rgb = V4(2, 2, 2, 0, 1);  // bit 1 alone: still 3 bytes, no alpha
    for (int v : {10, 20, 30, 0, 0, 0, 0, 0, 0, 1, 2, 3}) rgb.push_back(uint8_t(v));
    Bytes rgba = V4(1, 2, 2, 0, 1);
    for (int v : {10, 20, 30, 40, 0, 0, 0, 0, 0, 0, 0, 0, 5, 6, 7, 0}) rgba.push_back(uint8_t(v));
    // 16-bit: top-left red 31 with bit 15 clear, bottom-right blue 1 with bit 15 set.
    auto v3 = [](int flags) {
        Bytes b = V3(flags, 2, 2, 0, 8, 1);
        for (int v : {0x00, 0x7C, 0, 0, 0, 0, 0x01, 0x80}) b.push_back(uint8_t(v));
        return b;
    };
    const Case cases[] = {
        {"rgb", rgb, 4, 3, 0, 40, 12, MakeColour(10, 20, 30), MakeColour(1, 2, 3)},
        {"rgba", rgba, 4, 4, 1, 40, 16, MakeColour(10, 20, 30, 40), MakeColour(5, 6, 7, 0)},
        {"16-bit opaque", v3(0), 3, 2, 0, 48, 8, MakeColour(255, 0, 0), MakeColour(0, 0, 8)},
        {"16-bit alpha", v3(1), 3, 2, 1, 48, 8, MakeColour(255, 0, 0, 0), MakeColour(0, 0, 8, 255)},
    };
    for (const Case& c : cases) {
        TexInfo info;
        ImagePtr img = Load(c.file, info);
        ASSERT_NE(img, nullptr) << c.name << ": " << info.errorText;
        EXPECT_EQ(info.errorText, "") << c.name;
        EXPECT_EQ(info.kind, 1) << c.name;
        EXPECT_EQ(info.texVersion, c.version) << c.name;
        EXPECT_EQ(info.bytesPerPixel, c.bpp) << c.name;
        EXPECT_EQ(info.hasAlpha, c.alpha) << c.name;
        EXPECT_EQ(info.dataOffset, c.dataOffset) << c.name;
        EXPECT_EQ(info.frameSize, c.frameSize) << c.name;
        EXPECT_EQ(info.width, 2) << c.name;
        EXPECT_EQ(info.frameCount, 1) << c.name;
        EXPECT_EQ(GetPixelColour(*img, 0, 0), c.topLeft) << c.name;
        EXPECT_EQ(GetPixelColour(*img, 1, 1), c.bottomRight) << c.name;
    }
}

TEST(FormatsTexReader, FramesAndMipLevels) {
    // Three 1 x 1 frames; out-of-range indexes show frame 0.
    Bytes v4 = V4(0, 4, 7, 2, 3);
    for (int v : {1, 1, 1, 2, 2, 2, 3, 3, 3}) v4.push_back(uint8_t(v));
    // Version 3 frames padded to 6 bytes: each frame starts at its own offset.
    Bytes v3 = V3(0, 1, 1, 0, 6, 3);
    for (int f = 0; f < 3; ++f) v3.insert(v3.end(), {uint8_t(f + 1), 0, 0xEE, 0xEE, 0xEE, 0xEE});
    struct Case { const Bytes* file; int frame; int blue; };
    const Case cases[] = {{&v4, 1, 2}, {&v4, 2, 3}, {&v4, 5, 1}, {&v4, -1, 1}, {&v3, 2, 24}, {&v3, 1, 16}};
    for (const Case& c : cases) {
        TexInfo info;
        ImagePtr img = Load(*c.file, info, "", c.frame);
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(ColourBlue(GetPixelColour(*img, 0, 0)), c.blue) << "frame " << c.frame;
        EXPECT_EQ(info.frameCount, 3);
    }
    TexInfo info;
    Load(v4, info);
    EXPECT_EQ(info.width, 1);  // 4 >> 2
    EXPECT_EQ(info.height, 1);  // 7 >> 2
    EXPECT_EQ(info.firstMip, 2);
    EXPECT_EQ(info.mipCount, 7);
}

TEST(FormatsTexReader, ErrorTexts) {
    auto tail = [](Bytes b, size_t n) {
        b.resize(b.size() + n);
        return b;
    };
    Bytes noTdat = V4(0, 1, 1, 0, 1);
    noTdat[8] = 'X';
    Bytes badV3 = V3(0, 1, 1, 0, 2, 1);
    badV3[44] = 'X';
    Bytes sig;
    Put(sig, "SIGSTRM1");
    sig.resize(40);
    Bytes oneBelow = V4(0, 1, 1, 0, 1);
    Bytes ver5 = V4(0, 1, 1, 0, 1);
    ver5[4] = 5;
    struct Case { const char* name; Bytes file; std::string error; };
    const Case cases[] = {
        {"tiny", Bytes(7, 'T'), "The file is empty or too small."},
        {"signed", sig, "Signed file without CTSEMETA data."},
        {"short", Bytes{'T', 'V', 'E', 'R', 4, 0, 0, 0, 'T', 'D', 'A', 'T'}, "This is not a Dravik texture (TVER chunk missing)."},
        {"no tdat", noTdat, "Unknown layout: TDAT chunk missing."},
        {"version", ver5, "Texture version 5 is not supported (only versions 3 and 4)."},
        {"v3 frms", badV3, "Unknown version 3 layout: FRMS chunk missing."},
        {"mip 32", tail(V4(0, 8, 8, 32, 1), 8), "Invalid firstMip value: 32"},
        {"mip 31", tail(V4(0, 8, 8, 31, 1), 8), "Invalid dimensions: 0 x 0"},
        {"shifted to 0", tail(V4(0, 3, 8, 2, 1), 8), "Invalid dimensions: 0 x 2"},
        {"too wide", tail(V4(0, 16385, 1, 0, 1), 8), "Invalid dimensions: 16385 x 1"},
        {"no frames", tail(V4(0, 1, 1, 0, 0), 8), "The file contains no frames."},
        {"v3 frame size", tail(V3(0, 2, 2, 0, 7, 1), 8), "The stored frame size is too small."},
        {"v3 negative frame size", tail(V3(0, 2, 2, 0, -8, 1), 8), "The stored frame size is too small."},
        {"v4 frms", tail(V4(0, 1, 1, 0, 1, "FRMX"), 8), "Unknown layout: FRMS chunk missing."},
        {"40 bytes", oneBelow, "The file is too short for 1 frame(s) of 1 x 1."},
        {"v3 short", tail(V3(0, 2, 2, 0, 8, 2), 15), "The file is too short for 2 frame(s) of 2 x 2."},
        // 4 x 2^30 bytes wrap to 0 in 32 bits.
        {"wrap", tail(V4(1, 16384, 16384, 0, 4), 64), "The file is too short for 4 frame(s) of 16384 x 16384."},
        {"effect dims", Effect(0, 4, nullptr, ""), "Invalid effect buffer dimensions."},
        {"effect header cut", V4(0, 4, 4, 0, 1, "FXDT"), "Invalid effect buffer dimensions."},
    };
    for (const Case& c : cases) {
        TexInfo info;
        EXPECT_EQ(Load(c.file, info), nullptr) << c.name;
        EXPECT_EQ(info.errorText, c.error) << c.name;
    }
    Bytes cut = Effect(4, 4, nullptr, "");
    Put(cut, "FXBF");
    cut.resize(cut.size() + 63);
    TexInfo info;
    EXPECT_EQ(Load(cut, info), nullptr);
    EXPECT_EQ(info.errorText, "The effect buffer is incomplete.");
}

TEST(FormatsTexReader, LaterGenerationsAreToldApart) {
    auto meta = [](size_t at, const std::string& version, int32_t length) {
        Bytes b;
        if (at > 0) Put(b, "SIGSTRM1"), b.resize(at);
        Put(b, "CTSEMETA"), Put(b, "........"), Put(b, uint32_t(length)), Put(b, version);
        return b;
    };
    Bytes atEnd;
    Put(atEnd, "SIGSTRM1");
    atEnd.resize(40);
    Put(atEnd, "CTSEMETA....");  // header cut after 12 bytes: no length to read
    const char* noTexture = "This Dravik 3 file does not contain a texture.";
    const char* notStatic = "This Dravik 2 file is not a CStaticTexture (other kinds are not supported yet).";
    struct Case { const char* name; Bytes file; const char* error; };
    const Case cases[] = {
        {"plain dk2", meta(0, "$Version: Dravik 2.1", 20), notStatic},
        {"plain dk3", meta(0, "$Version: Dravik 3.0", 20), noTexture},
        {"signed dk2", meta(300, "Dravik 2", 8), notStatic},
        {"length 0", meta(0, "Dravik 2", 0), noTexture},
        {"length 1000", meta(0, "Dravik 2", 1000), noTexture},
        {"length past end", meta(0, "Dravik 2", 9), noTexture},
        {"cut at end", atEnd, noTexture},
    };
    for (const Case& c : cases) {
        TexInfo info;
        EXPECT_EQ(Load(c.file, info), nullptr) << c.name;
        EXPECT_EQ(info.errorText, c.error) << c.name;
    }
}

TEST(FormatsTexReader, EffectBufferAsGrey) {
    struct Case { std::vector<int32_t> values; std::string base; std::vector<int> greys; std::string note; };
    const std::string plain = "Effect texture: showing the effect buffer as a grayscale image";
    const Case cases[] = {
        {{0, 10, 5, 10}, "", {0, 255, 127, 255}, plain + "."},
        {{7, 7, 7, 7}, "a\\b\\Gone.tex", {0, 0, 0, 0}, plain + " (base texture Gone.tex not found in this folder)."},
        // The full signed range needs 33 bits.
        {{INT32_MIN, INT32_MAX, 0, -1}, "", {0, 255, 127, 127}, plain + "."},
    };
    for (const Case& c : cases) {
        TexInfo info;
        Bytes file = Effect(2, 2, &c.values, c.base);
        ImagePtr img = Load(file, info, "/nonexistent-folder/fx.tex");
        ASSERT_NE(img, nullptr) << info.errorText;
        EXPECT_EQ(info.note, c.note);
        EXPECT_EQ(info.isEffect, 1);
        EXPECT_EQ(info.effectValue, 99);
        EXPECT_EQ(info.width, 2);
        EXPECT_EQ(info.bytesPerPixel, 3);
        EXPECT_EQ(info.dataOffset, 60);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(GetPixelColour(*img, i % 2, i / 2), MakeColour(c.greys[i], c.greys[i], c.greys[i])) << i;
    }
}

TEST(FormatsTexReader, EffectBaseTextureSearch) {
    const std::string dir = MakeTempFolder("textest");
    Bytes base = V4(1, 3, 2, 0, 1);
    base.resize(base.size() + 24, 0x80);
    WriteFile(dir + "bRICK.TEX", base);
    CreateFolder(dir + "walls");
    WriteFile(dir + "walls/Stone.tex", base);
    WriteFile(dir + "Broken.tex", Bytes(50, 'x'));
    WriteFile(dir + "Middle.tex", Effect(2, 2, nullptr, "Brick.tex"));
    WriteFile(dir + "Self.tex", Effect(2, 2, nullptr, "Self.tex"));
    const std::vector<int32_t> buffer = {1, 2, 3, 4};
    WriteFile(dir + "SelfBuf.tex", Effect(2, 2, &buffer, "SelfBuf.tex"));
    const std::string none = "This effect texture stores no image data. Place its base texture";

    struct Case { const char* name; Bytes file; int width; std::string shown, error, note; };
    const Case cases[] = {
        {"other case", Effect(2, 2, nullptr, "textures\\walls\\Brick.tex"), 3, "Brick.tex", "",
         "Effect texture: showing base texture Brick.tex (without the effect)."},
        {"chain", Effect(2, 2, nullptr, "middle.tex"), 3, "Brick.tex", "",
         "Effect texture: showing base texture Brick.tex (without the effect)."},
        {"subfolder ignored", Effect(2, 2, nullptr, "Stone.tex"), 0, "", none + " (Stone.tex) in the same folder to view it.", ""},
        {"no name", Effect(2, 2, nullptr, ""), 0, "", none + " in the same folder to view it.", ""},
        {"broken base", Effect(2, 2, nullptr, "broken.tex"), 0, "",
         "broken.tex: This is not a Dravik texture (TVER chunk missing).", ""},
        {"broken base, buffer", Effect(2, 2, &buffer, "broken.tex"), 2, "", "",
         "Effect texture: showing the effect buffer as a grayscale image (base texture broken.tex not found in this folder)."},
        // Loads itself at depths 1 to 4; the load at depth 4 searches no more.
        {"self", Effect(2, 2, nullptr, "Self.tex"), 0, "",
         "Self.tex: Self.tex: Self.tex: Self.tex: " + none + " (Self.tex) in the same folder to view it.", ""},
        {"self with buffer", Effect(2, 2, &buffer, "SelfBuf.tex"), 2, "SelfBuf.tex", "",
         "Effect texture: showing base texture SelfBuf.tex (without the effect)."},
    };
    for (const Case& c : cases) {
        TexInfo info;
        ImagePtr img = Load(c.file, info, dir + "fx.tex");
        EXPECT_EQ(info.errorText, c.error) << c.name;
        EXPECT_EQ(img != nullptr, c.error.empty()) << c.name;
        if (!img) continue;
        EXPECT_EQ(info.width, c.width) << c.name;
        EXPECT_EQ(info.baseTextureShown, c.shown) << c.name;
        EXPECT_EQ(info.note, c.note) << c.name;
    }
    // Without a path nothing is searched, even where the base would be found.
    TexInfo info;
    EXPECT_EQ(Load(Effect(2, 2, nullptr, "bRICK.TEX"), info, ""), nullptr);
    EXPECT_EQ(FindFileIgnoringCase(dir, "brick.tex"), dir + "bRICK.TEX");
    EXPECT_EQ(FindFileIgnoringCase(dir, "walls"), "");
}

TEST(FormatsTexReader, BaseNameIsTheLastDfnm) {
    Bytes twice = Effect(2, 2, nullptr, "First.tex");
    Put(twice, "DFNM"), Put(twice, 10), Put(twice, "Second.tex");
    Bytes zero = Effect(2, 2, nullptr, std::string("Zero\0xyz", 8));
    Bytes damaged = Effect(2, 2, nullptr, "");
    Put(damaged, "DFNM"), Put(damaged, 0x7FFFFFF0u), Put(damaged, "abc");
    Bytes cut = Effect(2, 2, nullptr, "");
    Put(cut, "DFNM"), Put(cut, "\x05");
    struct Case { const Bytes* file; const char* name; };
    const Case cases[] = {{&twice, "Second.tex"}, {&zero, "Zero"}, {&damaged, ""}, {&cut, ""}};
    for (const Case& c : cases) {
        TexInfo info;
        EXPECT_EQ(ParseTexHeader(c.file->data(), c.file->size(), info), "");
        EXPECT_EQ(info.effectBaseName, c.name);
        EXPECT_EQ(info.dataOffset, 0);
    }
}

TEST(FormatsTexReader, FilesOnDisk) {
    const std::string dir = MakeTempFolder("textest");
    WriteFile(dir + "empty.tex", {});
    ASSERT_EQ(mkfifo((dir + "pipe.tex").c_str(), 0644), 0);
    EXPECT_EQ(FindFileIgnoringCase(dir, "PIPE.tex"), "");  // never a base texture
    struct Case { std::string path; const char* error; };
    const Case cases[] = {{dir + "missing.tex", "The file cannot be opened."},
                          {dir, "The file cannot be opened."},
                          {dir + "pipe.tex", "The file cannot be opened."},  // must not wait for a writer
                          {dir + "empty.tex", "The file is empty or too large."}};
    for (const Case& c : cases) {
        TexInfo info;
        info.note = "stale";
        EXPECT_EQ(LoadTexFile(c.path, info), nullptr);
        EXPECT_EQ(info.errorText, c.error) << c.path;
        EXPECT_EQ(info.note, "");
    }
}

// A file that opens but does not fit in memory is "too large", not
// unopenable. The reading runs with an address-space limit below the size.
TEST(FormatsTexReader, FileTooLargeForMemory) {
    if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's allocator aborts instead of failing";
    const std::string path = MakeTempFolder("textest") + "huge.tex";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(1) << 32), 0);  // sparse: takes no disk space
    close(fd);
    const std::string error = RunWithinMemory(512, [&] {
        TexInfo info;
        return LoadTexFile(path, info) ? std::string("loaded") : info.errorText;
    });
    unlink(path.c_str());
    EXPECT_EQ(error, "The file is empty or too large.");
}

TEST(FormatsTexHelpers, SearchesPaletteAndMipCounts) {
    const Bytes b = {'A', 'B', 'C', 'D', 'A', 'B', 0, 'X', 'C', 'T'};
    EXPECT_TRUE(IsChunkIdAt(b.data(), b.size(), 0, "ABCD"));
    EXPECT_FALSE(IsChunkIdAt(b.data(), b.size(), -1, "ABCD"));
    EXPECT_FALSE(IsChunkIdAt(b.data(), b.size(), 7, "XCT"));  // one byte short
    EXPECT_TRUE(IsChunkIdAt(b.data(), b.size(), 4, "AB"));      // text ends at the zero
    EXPECT_EQ(FindChunk(b.data(), b.size(), 1, "ABCD"), -1);
    EXPECT_EQ(FindTextInBuffer(b.data(), b.size(), 1, "AB"), 4);
    EXPECT_EQ(FindTextInBuffer(b.data(), b.size(), 0, "CT"), 8);
    EXPECT_EQ(FindTextInBuffer(b.data(), b.size(), 9, "CT"), -1);
    EXPECT_EQ(FindTextInBuffer(b.data(), b.size(), 0, std::string("B\0", 2)), -1);

    struct Pal { uint16_t c; int64_t r, g, b; };
    for (const Pal& p : {Pal{0xFFFF, 255, 255, 255}, Pal{0x0821, 8, 4, 8}, Pal{0xF800, 255, 0, 0}}) {
        int64_t palette[6] = {};
        ExpandRgb565ToPalette(p.c, palette, 1);
        EXPECT_EQ(palette[3], p.r);
        EXPECT_EQ(palette[4], p.g);
        EXPECT_EQ(palette[5], p.b);
    }
    struct Mips { int w, h, count; };
    for (const Mips& m : {Mips{256, 64, 7}, Mips{1, 512, 1}, Mips{300, 300, 9}, Mips{0, 8, 1}})
        EXPECT_EQ(CountMipLevels(m.w, m.h), m.count) << m.w << " x " << m.h;
}

TEST(FormatsTexWriter, HeaderTrailerAndRoundTrip) {
    const std::string dir = MakeTempFolder("textest");
    ImagePtr img = CreateImage(256, 256, 32, MakeColour(1, 2, 3, 4));
    SetPixelColour(*img, 0, 0, MakeColour(10, 20, 30, 0));  // transparent pixel keeps its colour
    SetPixelColour(*img, 255, 255, MakeColour(200, 100, 50, 128));
    struct Case { int alpha, firstMip, keep; uint32_t flags; int bpp; };
    const Case cases[] = {{0, 2, 0, 0, 3}, {1, 2, 0, 3, 4}, {0, 0, 1, 2, 3}, {1, 20, 1, 3, 4}};
    for (const Case& c : cases) {
        const std::string path = dir + "out.tex";
        ASSERT_EQ(WriteTexFile(img.get(), path, c.alpha, c.firstMip, c.keep), 1);
        const Bytes f = ReadFile(path);
        const size_t pixels = size_t(256) * 256 * c.bpp;
        ASSERT_EQ(f.size(), 40 + pixels + 56);
        Bytes header = V4(int(c.flags), 256 << c.firstMip, 256 << c.firstMip, c.firstMip, 1);
        header[24] = 9;  // mip count from the stored level
        EXPECT_TRUE(std::equal(header.begin(), header.end(), f.begin()));
        Bytes trailer;
        Put(trailer, "ANIMADAT"), Put(trailer, 1), Put(trailer, "OnlyAnim");
        trailer.resize(trailer.size() + 24);
        trailer.insert(trailer.end(), {0x0A, 0xD7, 0xA3, 0x3C});
        Put(trailer, 1), Put(trailer, 0);
        EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), f.end() - 56));
        EXPECT_EQ(f[40], 10);
        EXPECT_EQ(f[42], 30);

        TexInfo info;
        ImagePtr back = LoadTexFile(path, info);
        ASSERT_NE(back, nullptr) << info.errorText;
        EXPECT_EQ(info.hasAlpha, c.alpha);
        EXPECT_EQ(info.bytesPerPixel, c.bpp);
        EXPECT_EQ(info.firstMip, c.firstMip);
        EXPECT_EQ(info.width, 256);
        const int a = c.alpha ? 0 : 255, b = c.alpha ? 128 : 255;
        EXPECT_EQ(GetPixelColour(*back, 0, 0), MakeColour(10, 20, 30, a));
        EXPECT_EQ(GetPixelColour(*back, 255, 255), MakeColour(200, 100, 50, b));
        EXPECT_EQ(GetPixelColour(*back, 7, 9), MakeColour(1, 2, 3, c.alpha ? 4 : 255));
    }
}

TEST(FormatsTexWriter, RefusalsAndFailuresKeepTheOldFile) {
    const std::string dir = MakeTempFolder("textest");
    const std::string path = dir + "keep.tex";
    const Bytes old = {'o', 'l', 'd'};
    WriteFile(path, old);
    ImagePtr small = CreateImage(4, 4);
    ImagePtr wide = CreateImage(4096, 1);  // 4096 << 20 does not fit 31 bits
    struct Case { const Image* image; int firstMip; int64_t failAfter; };
    const Case cases[] = {{nullptr, 0, -1}, {small.get(), 21, -1}, {small.get(), -1, -1},
                          {wide.get(), 20, -1}, {small.get(), 0, 0}, {small.get(), 0, 60}};
    for (const Case& c : cases) {
        SetWriteFailureAfterBytes(c.failAfter);
        EXPECT_EQ(WriteTexFile(c.image, path, 1, c.firstMip, 0), 0) << c.firstMip << " " << c.failAfter;
        SetWriteFailureAfterBytes(-1);
        EXPECT_EQ(ReadFile(path), old);
    }
    EXPECT_EQ(WriteTexFile(wide.get(), path, 1, 19, 0), 0);  // 2^31 is one too many
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(WriteTexFile(wide.get(), path, 1, 18, 0), 1);
    EXPECT_EQ(ScanFolder(dir).size(), 1u);                     // no temporary left behind
}
