// The image codecs against ImageMagick: every variant is made on the fly from
// one small picture, decoded by us and by ImageMagick, and compared pixel by
// pixel; damaged copies must fail with a reason; our encoders' files must read
// back in ImageMagick as expected.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/parallel.h"

namespace {

constexpr int kW = 37;  // odd, so BMP rows need padding and 4-bit rows end mid-byte
constexpr int kH = 23;

bool RunCommand(const std::string& command, std::vector<uint8_t>* output = nullptr) {
    return RunPeer(command + " 2>/dev/null", output);
}

// The source picture as R, G, B, A from the top row: smooth ramps, hard edges,
// pure colours and every kind of alpha (0, 255 and partial).
std::vector<uint8_t> SourceRgba() {
    std::vector<uint8_t> px(size_t(kW) * kH * 4);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = &px[(size_t(y) * kW + x) * 4];
            p[0] = uint8_t(x * 255 / (kW - 1));
            p[1] = uint8_t(y * 255 / (kH - 1));
            p[2] = uint8_t((x * 7 + y * 13) & 255);
            p[3] = uint8_t(x < 4 ? 255 : (y * 11 + x * 3) & 255);
            if (x == 5) p[3] = 0;
            if (y == 3) p[0] = p[1] = p[2] = 255;
        }
    }
    return px;
}

ImagePtr ImageFromRgba(const std::vector<uint8_t>& rgba, int depth) {
    ImagePtr image = CreateImage(kW, kH, depth);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * kW + x) * 4];
            SetPixelColour(*image, x, y, MakeColour(p[0], p[1], p[2], depth == 32 ? p[3] : 255));
        }
    return image;
}

class ToolkitCodecsMagick : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveImageMagick()) GTEST_SKIP() << "convert-im6.q16 is not installed";
        folder_ = MakeTempFolder("orvanta_codecs_");
        ASSERT_FALSE(folder_.empty());
        source_ = folder_ + "source.rgba";
        const std::vector<uint8_t> px = SourceRgba();
        ASSERT_TRUE(WriteWholeFile(source_, px.data(), px.size()));
    }
    // Makes a file from the source picture with ImageMagick; target may carry
    // a coder prefix such as "bmp3:".
    std::vector<uint8_t> Make(const std::string& options, const std::string& target) {
        const std::string name = target.substr(target.find(':') + 1);
        const std::string prefix = target.find(':') == std::string::npos ? "" : target.substr(0, target.find(':') + 1);
        const std::string path = folder_ + name;
        std::vector<uint8_t> data;
        if (!RunCommand("convert-im6.q16 -size " + std::to_string(kW) + "x" + std::to_string(kH) + " -depth 8 rgba:'" +
                        source_ + "' " + options + " " + prefix + "'" + path + "'") ||
            !ReadWholeFile(path, data))
            ADD_FAILURE() << "ImageMagick could not make " << target << " with " << options;
        return data;
    }
    // ImageMagick's own decode of a file as R, G, B, A bytes (high bytes of
    // its 16-bit values when sixteen is set).
    std::vector<uint8_t> Reference(const std::string& path, bool sixteen = false) {
        std::vector<uint8_t> out;
        const std::string command = "convert-im6.q16 '" + path + "' -depth " + (sixteen ? "16" : "8") + " -endian MSB rgba:-";
        EXPECT_TRUE(RunCommand(command, &out)) << command;
        if (sixteen) {
            std::vector<uint8_t> high(out.size() / 2);
            for (size_t i = 0; i < high.size(); ++i) high[i] = out[i * 2];  // big-endian samples
            return high;
        }
        return out;
    }
    std::string folder_;
    std::string source_;
};

// Largest difference of a colour channel, and of alpha, between our image
// and reference RGBA bytes.
struct Diff {
    int colour = 0;
    int alpha = 0;
};
Diff Compare(const Image& image, const std::vector<uint8_t>& ref, int alphaScaledTolerance = 0) {
    Diff d;
    if (ref.size() != size_t(image.width) * image.height * 4) {
        d.colour = d.alpha = 999;
        return d;
    }
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const uint32_t c = GetPixelColour(image, x, y);
            const uint8_t* r = &ref[(size_t(y) * image.width + x) * 4];
            d.alpha = std::max(d.alpha, std::abs(ColourAlpha(c) - r[3]));
            if (r[3] == 0 && alphaScaledTolerance) continue;
            int diff = std::max({std::abs(ColourRed(c) - r[0]), std::abs(ColourGreen(c) - r[1]),
                                 std::abs(ColourBlue(c) - r[2])});
            // Colours that went through premultiplied alpha are only as exact as alpha allows.
            if (alphaScaledTolerance) diff = std::max(0, diff - (255 + r[3]) / (2 * r[3]) - 1);
            d.colour = std::max(d.colour, diff);
        }
    return d;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

bool SamePicture(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) return false;
    for (int y = 0; y < a.height; ++y)
        if (std::memcmp(a.RowFromTop(y), b.RowFromTop(y), size_t(a.width) * a.BytesPerPixel()) != 0) return false;
    return true;
}

struct DecodeCase {
    const char* name;
    const char* options;
    const char* target;
    int depth;          // what our decoder must give: 24 or 32
    int tolerance;      // largest colour difference allowed
    bool sixteen;       // compare against the high bytes of ImageMagick's 16-bit decode
    bool premultiplied; // colours went through premultiplied alpha in the decoder
};

const DecodeCase kDecodeCases[] = {
    {"png rgba", "-define png:color-type=6", "a.png", 32, 0, false, false},
    {"png rgb", "-alpha off -define png:color-type=2", "b.png", 24, 0, false, false},
    {"png palette", "-alpha off -colors 40 -define png:color-type=3", "c.png", 24, 0, false, false},
    {"png palette trns", "-colors 40", "png8:d.png", 32, 0, false, false},
    {"png grey", "-alpha off -colorspace Gray -define png:color-type=0", "e.png", 24, 0, false, false},
    {"png grey 1-bit", "-alpha off -colorspace Gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", "f.png", 24, 0, false, false},
    {"png grey 4-bit", "-alpha off -colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4", "g.png", 24, 0, false, false},
    {"png grey trns", "-alpha off -colorspace Gray -transparent white -define png:color-type=0", "m.png", 32, 0, false, false},
    {"png rgb trns", "-alpha off -transparent white -define png:color-type=2", "n.png", 32, 0, false, false},
    {"png grey alpha", "-colorspace Gray -define png:color-type=4", "h.png", 32, 0, false, false},
    {"png 16-bit rgba", "-depth 16 -define png:color-type=6", "i.png", 32, 0, true, false},
    {"png 16-bit grey", "-colorspace Gray -alpha off -depth 16 -define png:color-type=0", "j.png", 24, 0, true, false},
    {"png interlaced", "-interlace PNG -define png:color-type=6", "k.png", 32, 0, false, false},
    {"png interlaced palette", "-alpha off -interlace PNG -colors 20 -define png:color-type=3", "l.png", 24, 0, false, false},
    {"jpeg baseline", "-quality 90", "a.jpg", 24, 2, false, false},
    {"jpeg progressive", "-quality 80 -interlace Plane", "b.jpg", 24, 2, false, false},
    {"jpeg grey", "-type Grayscale -quality 90", "c.jpg", 24, 2, false, false},
    {"jpeg cmyk", "-colorspace CMYK -quality 95", "d.jpg", 24, 3, false, false},
    {"jpeg 4:4:4", "-sampling-factor 1x1 -quality 70", "e.jpg", 24, 2, false, false},
    {"bmp 24-bit", "-alpha off", "bmp3:a.bmp", 24, 0, false, false},
    {"bmp os2 24-bit", "-alpha off", "bmp2:b.bmp", 24, 0, false, false},
    {"bmp 8-bit", "-alpha off -colors 60 -type Palette", "bmp3:c.bmp", 24, 0, false, false},
    {"bmp 4-bit", "-alpha off -colors 12 -type Palette", "bmp3:d.bmp", 24, 0, false, false},
    {"bmp 1-bit", "-alpha off -type Bilevel", "bmp3:e.bmp", 24, 0, false, false},
    {"bmp os2 8-bit", "-alpha off -colors 60 -type Palette", "bmp2:f.bmp", 24, 0, false, false},
    {"bmp rle8", "-alpha off -colors 60 -type Palette -compress RLE", "bmp3:g.bmp", 24, 0, false, false},
    {"bmp 32-bit alpha v5", "", "bmp:h.bmp", 32, 0, false, false},
    {"bmp 32-bit alpha v4", "-define bmp:format=bmp4", "i.bmp", 32, 0, false, false},
    // ImageMagick widens 5- and 6-bit fields by repeating bits, we by rounding.
    {"bmp rgb565", "-alpha off -define bmp:subtype=RGB565", "j.bmp", 24, 1, false, false},
    {"bmp rgb555", "-alpha off -define bmp:subtype=RGB555", "k.bmp", 24, 1, false, false},
    {"tiff plain", "-alpha off -compress None", "a.tif", 24, 0, false, false},
    {"tiff lzw alpha", "-compress LZW", "b.tif", 32, 0, false, true},
    {"tiff zip", "-alpha off -compress Zip", "c.tif", 24, 0, false, false},
    {"tiff grey", "-alpha off -colorspace Gray -compress None", "d.tif", 24, 0, false, false},
    // libtiff takes the high byte of 16-bit colour-map entries; ImageMagick rounds.
    {"tiff palette", "-alpha off -colors 30 -type Palette -compress None", "e.tif", 24, 1, false, false},
    {"tiff 16-bit", "-alpha off -depth 16 -compress None", "f.tif", 24, 1, false, false},
    {"tiff tiled", "-alpha off -define tiff:tile-geometry=16x16 -compress LZW", "g.tif", 24, 0, false, false},
    {"tiff big-endian", "-alpha off -define tiff:endian=msb -compress None", "h.tif", 24, 0, false, false},
    // Grey with straight alpha comes out of libtiff unpremultiplied, unlike RGB.
    {"tiff grey alpha", "-colorspace Gray -compress None", "i.tif", 32, 0, false, false},
};

TEST_F(ToolkitCodecsMagick, DecodeMatchesImageMagick) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = Make(c.options, c.target);
        if (file.empty()) continue;
        const std::string path = folder_ + std::string(c.target).substr(std::string(c.target).find(':') + 1);
        std::string error = "stale";
        ImagePtr image = DecodeImageMemory(file.data(), file.size(), &error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(error, "");
        EXPECT_EQ(image->width, kW);
        EXPECT_EQ(image->height, kH);
        EXPECT_EQ(image->depth, c.depth);
        const std::vector<uint8_t> reference = Reference(path, c.sixteen);
        const Diff d = Compare(*image, reference, c.premultiplied);
        EXPECT_LE(d.colour, c.tolerance);
        EXPECT_EQ(d.alpha, 0);

        // Straight into 32 bits, from memory and from the file (which a PNG
        // decodes as it is read): the picture the 24-bit decode gives once
        // made 32-bit, byte for byte, and the depth the source had.
        ImagePtr widened = ConvertTo32Bit(DuplicateImage(*image));
        ASSERT_NE(widened, nullptr);
        for (const bool fromFile : {false, true}) {
            SCOPED_TRACE(fromFile ? "from the file" : "from memory");
            int sourceDepth = 0;
            error = "stale";
            ImagePtr direct = fromFile ? DecodeImageFileTo32Bit(path, &sourceDepth, &error)
                                       : DecodeImageMemoryTo32Bit(file.data(), file.size(), &sourceDepth, &error);
            ASSERT_NE(direct, nullptr) << error;
            EXPECT_EQ(error, "");
            EXPECT_EQ(direct->depth, 32);
            EXPECT_EQ(sourceDepth, c.depth);
            EXPECT_TRUE(SamePicture(*direct, *widened));
            EXPECT_EQ(Compare(*direct, reference, c.premultiplied).alpha, 0);
        }
    }
}

TEST_F(ToolkitCodecsMagick, DecodeTopDownBmp) {
    // ImageMagick writes bottom-up only: turn its file into a top-down one by
    // reversing the rows and negating the height.
    std::vector<uint8_t> file = Make("-alpha off", "bmp3:up.bmp");
    ASSERT_GT(file.size(), 54u);
    const size_t stride = (size_t(kW) * 3 + 3) & ~size_t(3);
    const uint32_t offset = uint32_t(file[10] | file[11] << 8 | file[12] << 16 | file[13] << 24);
    ASSERT_EQ(offset + stride * kH, file.size());
    std::vector<uint8_t> flipped = file;
    for (int row = 0; row < kH; ++row)
        std::memcpy(&flipped[offset + stride * row], &file[offset + stride * (kH - 1 - row)], stride);
    const int32_t negative = -kH;
    std::memcpy(&flipped[22], &negative, 4);
    std::string error;
    ImagePtr down = DecodeImageMemory(flipped.data(), flipped.size(), &error);
    ImagePtr up = DecodeImageMemory(file.data(), file.size(), &error);
    ASSERT_NE(down, nullptr) << error;
    ASSERT_NE(up, nullptr) << error;
    EXPECT_EQ(Compare(*down, Reference(folder_ + "up.bmp")).colour, 0);
    EXPECT_EQ(Compare(*up, Reference(folder_ + "up.bmp")).colour, 0);
}

// Cut short, a file must fail with a reason unless the cut only took bytes
// the picture does not need (then the picture must be intact). With bytes
// flipped it must fail with a reason or give a picture of a sane size.
TEST_F(ToolkitCodecsMagick, DamagedFilesFailCleanly) {
    const char* targets[][2] = {
        {"-define png:color-type=6", "t.png"},
        {"-interlace PNG -colors 20 -define png:color-type=3", "t2.png"},
        {"-quality 85", "t.jpg"},
        {"-interlace Plane", "t2.jpg"},
        {"-alpha off", "bmp3:t.bmp"},
        {"", "bmp:t2.bmp"},
        {"-alpha off -colors 60 -type Palette -compress RLE", "bmp3:t3.bmp"},
        {"-compress LZW", "t.tif"},
        {"-alpha off -compress None", "t2.tif"},
    };
    for (const auto& t : targets) {
        SCOPED_TRACE(t[1]);
        const std::vector<uint8_t> file = Make(t[0], t[1]);
        ASSERT_GT(file.size(), 64u);
        std::string error;
        ImagePtr whole = DecodeImageMemory(file.data(), file.size(), &error);
        ASSERT_NE(whole, nullptr) << error;
        const size_t cuts[] = {2, 9, 30, 60, file.size() / 3, file.size() / 2, file.size() - 9, file.size() - 1};
        ImagePtr whole32 = ConvertTo32Bit(DuplicateImage(*whole));
        const std::string cutPath = folder_ + "cut";
        for (size_t cut : cuts) {
            std::vector<uint8_t> part(file.begin(), file.begin() + long(cut));  // exact size for ASan
            ImagePtr image = DecodeImageMemory(part.data(), part.size(), &error);
            if (image) {
                EXPECT_TRUE(SamePicture(*image, *whole)) << "cut at " << cut;
            } else {
                EXPECT_FALSE(error.empty()) << "cut at " << cut;
            }
            // The same cut file read from disk (a PNG as it decodes).
            ASSERT_TRUE(WriteWholeFile(cutPath, part.data(), part.size()));
            image = DecodeImageFileTo32Bit(cutPath, nullptr, &error);
            if (image) {
                EXPECT_TRUE(SamePicture(*image, *whole32)) << "file cut at " << cut;
            } else {
                EXPECT_FALSE(error.empty()) << "file cut at " << cut;
            }
        }
        // The pixel data proper cut in half always fails.
        std::vector<uint8_t> half(file.begin(), file.begin() + long(file.size() / 2));
        EXPECT_EQ(DecodeImageMemory(half.data(), half.size(), &error), nullptr);
        for (size_t pos = 0; pos < file.size(); pos += 1 + pos / 3) {
            std::vector<uint8_t> bad = file;
            bad[pos] ^= 0x5A;
            std::string error;
            ImagePtr image = DecodeImageMemory(bad.data(), bad.size(), &error);
            if (image) {
                EXPECT_TRUE(image->width >= 1 && image->width <= kMaxImageSide);
                EXPECT_TRUE(image->height >= 1 && image->height <= kMaxImageSide);
            } else {
                EXPECT_FALSE(error.empty()) << "flip at " << pos;
            }
        }
    }
}

// Repeatable noise bytes for pictures that compress badly.
struct Noise {
    uint32_t state;
    uint8_t Next() {
        state = state * 1664525u + 1013904223u;
        return uint8_t(state >> 24);
    }
};

// A PNG file is read in pieces as it decodes: a picture of several pieces
// comes out as from memory, and a file cut short or damaged anywhere fails
// with its reason.
TEST(ToolkitCodecs, PngFilesDecodeAsTheyAreRead) {
    const TempFolder folder;
    for (const int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        // Noise does not compress: the file is some 2 to 3 MiB.
        ImagePtr picture = CreateImage(1031, 701, 32);
        Noise noise{12345};
        for (int y = 0; y < picture->height; ++y) {
            uint8_t* row = picture->RowFromTop(y);
            for (int x = 0; x < picture->width * 4; ++x) {
                row[x] = noise.Next();
                if (bits == 24 && x % 4 == 3) row[x] = 255;
            }
        }
        std::vector<uint8_t> file;
        ASSERT_TRUE(EncodePngMemory(*picture, bits, file));
        ASSERT_GT(file.size(), size_t(2) << 20);
        const std::string path = folder.path + "noise.png";
        ASSERT_TRUE(WriteWholeFile(path, file.data(), file.size()));

        std::string error;
        int sourceDepth = 0;
        ImagePtr fromFile = DecodeImageFileTo32Bit(path, &sourceDepth, &error);
        ASSERT_NE(fromFile, nullptr) << error;
        EXPECT_EQ(sourceDepth, bits);
        EXPECT_TRUE(SamePicture(*fromFile, *picture));
        ImagePtr fromFile24 = DecodeImageFile(path, &error);
        ASSERT_NE(fromFile24, nullptr) << error;
        EXPECT_EQ(fromFile24->depth, bits);
        EXPECT_TRUE(SamePicture(*ConvertTo32Bit(std::move(fromFile24)), *picture));

        struct Damage {
            const char* name;
            size_t keep;   // bytes of the file kept
            size_t flip;   // a byte flipped, or SIZE_MAX
            const char* error;
        } damages[] = {
            {"cut inside the first piece read", 100000, SIZE_MAX, "The PNG file is truncated."},
            {"cut just after it", (size_t(1) << 20) + 1, SIZE_MAX, "The PNG file is truncated."},
            {"cut in the last piece", file.size() - 20, SIZE_MAX, "The PNG file is truncated."},
            {"a byte of the pixel data flipped", file.size(), file.size() / 2, "The PNG file is damaged."},
            // The chunks around the picture data keep their CRC checks.
            {"the header's CRC wrong", file.size(), 8 + 8 + 13 + 3, "The PNG file is damaged."},
            {"the end's CRC wrong", file.size(), file.size() - 1, "The PNG file is damaged."},
        };
        for (const Damage& d : damages) {
            SCOPED_TRACE(d.name);
            std::vector<uint8_t> bad(file.begin(), file.begin() + long(d.keep));
            if (d.flip != SIZE_MAX) bad[d.flip] ^= 0x10;
            ASSERT_TRUE(WriteWholeFile(path, bad.data(), bad.size()));
            EXPECT_EQ(DecodeImageFileTo32Bit(path, nullptr, &error), nullptr);
            EXPECT_EQ(error, d.error);
        }
    }
}

// The chunks of a PNG file, each CRC checked, and its IDAT data joined and
// inflated by zlib (which checks the stream's own checksum): the filtered
// rows, or an empty vector when anything is wrong.
std::vector<uint8_t> InflatePngChunks(const std::vector<uint8_t>& file, size_t expectedBytes, std::string* header) {
    auto u32 = [&file](size_t at) {
        return uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 | file[at + 3];
    };
    std::vector<uint8_t> idat;
    std::string types;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = u32(at);
        if (length > file.size() - at - 12) return {};
        const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        if (uint32_t(crc32(0, &file[at + 4], length + 4)) != u32(at + 8 + length)) return {};
        if (type == "IHDR") *header = std::string(reinterpret_cast<const char*>(&file[at + 8]), length);
        if (type == "IDAT") idat.insert(idat.end(), file.begin() + long(at) + 8, file.begin() + long(at + 8 + length));
        if (types.empty() || types.substr(types.size() - 4) != type) types += type;
        at += 12 + length;
    }
    if (at != file.size() || types != "IHDRIDATIEND") return {};
    std::vector<uint8_t> rows(expectedBytes + 1);
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, idat.data(), uLong(idat.size())) != Z_OK || size != expectedBytes) return {};
    rows.resize(size);
    return rows;
}

// Written on several cores in bands, a PNG file is still one valid file:
// every chunk checks, the IDAT data is one zlib stream, and an independent
// decoder (Pillow) reads the picture back exactly, on odd sizes, across
// band and batch edges, with and without alpha, from 24 and 32-bit pictures.
TEST(ToolkitCodecs, PngWriterFilesAreValidAndExact) {
    const bool pillow = HaveTool("/usr/bin/python3") && system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
    const TempFolder folder;
    struct Case {
        const char* name;
        int width, height, depth, bits;
    } cases[] = {
        {"one pixel", 1, 1, 32, 32},
        {"one pixel, flattened", 1, 1, 32, 24},
        {"odd, alpha", 37, 23, 32, 32},
        {"odd, opaque from 24", 37, 23, 24, 24},
        {"odd, alpha from 24", 37, 23, 24, 32},
        {"one column", 1, 301, 32, 24},
        {"a few bands, alpha", 1501, 800, 32, 32},
        // Rows of 12 KiB: 85 rows a band, 35 bands, past the first batch.
        {"many bands", 4097, 2950, 32, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Noise on the left, flat colour and steps on the right, so bands
        // meet both kinds of content.
        ImagePtr picture = CreateImage(c.width, c.height, c.depth);
        const int bpp = c.depth / 8;
        Noise noise{uint32_t(c.width * 7919 + c.height)};
        for (int y = 0; y < c.height; ++y) {
            uint8_t* p = picture->RowFromTop(y);
            for (int x = 0; x < c.width; ++x, p += bpp) {
                const int v = x < c.width / 2 ? noise.Next() : (x / 16 + y / 8) * 40;
                p[0] = uint8_t((x + y) & 255), p[1] = uint8_t(255 - v), p[2] = uint8_t(v);
                if (bpp == 4) p[3] = uint8_t((v + y) & 255);
            }
        }
        const std::string path = folder.path + "out.png";
        ASSERT_TRUE(EncodePngFile(*picture, path, c.bits));
        std::vector<uint8_t> file;
        ASSERT_TRUE(ReadWholeFile(path, file));
        if (c.height < 1000) {
            std::vector<uint8_t> inMemory;
            ASSERT_TRUE(EncodePngMemory(*picture, c.bits, inMemory));
            EXPECT_TRUE(file == inMemory);
        }

        // What the file must hold: R, G, B[, A] from the top, 24 bits
        // flattened over white.
        const int channels = c.bits / 8;
        auto rgbaOf = [&](const Image& image) {
            std::vector<uint8_t> bytes;
            bytes.reserve(size_t(c.width) * c.height * channels);
            const int from = image.BytesPerPixel();
            for (int y = 0; y < c.height; ++y) {
                const uint8_t* p = image.RowFromTop(y);
                for (int x = 0; x < c.width; ++x, p += from) {
                    const int a = from == 4 ? p[3] : 255;
                    for (const int v : {p[2], p[1], p[0]})
                        bytes.push_back(uint8_t(c.bits == 24 ? FlattenOverWhite(v, a) : v));
                    if (channels == 4) bytes.push_back(uint8_t(a));
                }
            }
            return bytes;
        };
        const std::vector<uint8_t> expected = rgbaOf(*picture);
        std::string header;
        const std::vector<uint8_t> rows =
            InflatePngChunks(file, size_t(c.height) * (size_t(c.width) * channels + 1), &header);
        ASSERT_FALSE(rows.empty()) << "chunks, CRCs or the zlib stream are broken";
        ASSERT_EQ(header.size(), 13u);
        EXPECT_EQ(uint8_t(header[8]), 8);
        EXPECT_EQ(uint8_t(header[9]), c.bits == 32 ? 6 : 2);
        EXPECT_EQ(header.substr(10), std::string(3, '\0'));

        ImagePtr back = DecodeImageMemory(file.data(), file.size(), nullptr);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->depth, c.bits);
        const std::vector<uint8_t> ours = rgbaOf(*back);
        EXPECT_TRUE(ours == expected);
        if (!pillow) continue;
        std::vector<uint8_t> theirs;
        ASSERT_TRUE(RunCommand("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                               "sys.stdout.buffer.write(Image.open(sys.argv[1]).tobytes())' '" + path + "'",
                               &theirs));
        EXPECT_TRUE(theirs == expected);
    }
}

// Bands are cut by the row length alone and made on any core: the file is
// the same whatever the number of threads.
TEST(ToolkitCodecs, PngBytesDoNotDependOnTheThreadCount) {
    ImagePtr picture = CreateImage(1500, 900, 32);
    Noise noise{99};
    for (int y = 0; y < picture->height; ++y) {
        uint8_t* p = picture->RowFromTop(y);
        for (int x = 0; x < picture->width * 4; ++x) {
            p[x] = uint8_t(x < 2000 ? noise.Next() >> 4 : (x / 64 + y / 32) * 16);
        }
    }
    struct ThreadCount {
        ~ThreadCount() { SetThreadCountForTesting(0); }
    } restore;
    for (const int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        SetThreadCountForTesting(1);
        std::vector<uint8_t> one;
        ASSERT_TRUE(EncodePngMemory(*picture, bits, one));
        for (const int threads : {3, 8}) {
            SetThreadCountForTesting(threads);
            std::vector<uint8_t> many;
            ASSERT_TRUE(EncodePngMemory(*picture, bits, many));
            EXPECT_TRUE(many == one) << threads << " threads";
        }
    }
}

// A PNG save that fails anywhere, in the header, between bands or at the
// very end, leaves the old file as it was and no temporary file.
TEST(ToolkitCodecs, FailedPngSaveKeepsTheOldFile) {
    const TempFolder folder;
    const std::string path = folder.path + "picture.png";
    const std::string old = "the old file";
    ASSERT_TRUE(WriteWholeFile(path, old.data(), old.size()));
    ImagePtr picture = CreateImage(2000, 1500, 32);
    for (int y = 0; y < picture->height; ++y)
        for (int x = 0; x < picture->width; ++x) SetPixelColour(*picture, x, y, MakeColour(x * 31, y * 17, x ^ y));
    std::vector<uint8_t> whole;
    ASSERT_TRUE(EncodePngMemory(*picture, 24, whole));
    for (const int64_t after : {int64_t(0), int64_t(20), int64_t(whole.size() / 3), int64_t(whole.size()) - 5}) {
        SCOPED_TRACE(after);
        SetWriteFailureAfterBytes(after);
        const bool saved = EncodePngFile(*picture, path, 24);
        SetWriteFailureAfterBytes(-1);
        EXPECT_FALSE(saved);
        std::vector<uint8_t> now;
        ASSERT_TRUE(ReadWholeFile(path, now));
        EXPECT_EQ(std::string(now.begin(), now.end()), old);
        const std::vector<FolderEntry> entries = ScanFolder(folder.path);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "picture.png");
    }
}

void AppendPngChunk(std::vector<uint8_t>& file, const char* type, const uint8_t* data, size_t size) {
    const size_t at = file.size();
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(size >> shift));
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data, data + size);
    const uLong crc = crc32(0, &file[at + 4], uInt(size + 4));
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(crc >> shift));
}

constexpr size_t kPngHeadBytes = 8 + 12 + 13;  // the signature and IHDR

// A PNG file written here with zlib: rows of R, G, B[, A] bytes with filter
// `filter`, deflated at `level` (or the stream given), split into IDAT chunks
// of `chunkBytes`, after the bytes `before` (more chunks); every CRC correct.
std::vector<uint8_t> ZlibPng(int width, int height, int channels, const std::vector<uint8_t>& stream,
                             size_t chunkBytes, const std::vector<uint8_t>& before = {}) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) header[i] = uint8_t(width >> (24 - 8 * i)), header[4 + i] = uint8_t(height >> (24 - 8 * i));
    header[8] = 8;
    header[9] = channels == 4 ? 6 : 2;
    AppendPngChunk(file, "IHDR", header, 13);
    file.insert(file.end(), before.begin(), before.end());
    for (size_t at = 0; at < stream.size(); at += chunkBytes)
        AppendPngChunk(file, "IDAT", stream.data() + at, std::min(chunkBytes, stream.size() - at));
    AppendPngChunk(file, "IEND", nullptr, 0);
    return file;
}

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& raw, int level) {
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), level) != Z_OK) return {};
    out.resize(size);
    return out;
}

// The picture data of any PNG file is inflated apart from libpng: streams of
// every deflate level split into IDAT chunks of every size come out exact,
// from memory and from the file; a stream whose checksum or length is wrong
// fails although every chunk's CRC is right, and data after the stream's end
// is left out.
TEST(ToolkitCodecs, PngPictureDataInflatesExactly) {
    const TempFolder folder;
    struct Size {
        int width, height, channels;
    } sizes[] = {{1, 1, 3}, {37, 23, 4}, {640, 480, 3}, {901, 603, 4}};
    for (const Size& size : sizes) {
        // Rows filtered with None and Sub in turn; smooth with some noise.
        const size_t n = size_t(size.width) * size.channels;
        std::vector<uint8_t> raw, pixels;
        Noise noise{7};
        for (int y = 0; y < size.height; ++y) {
            raw.push_back(uint8_t(y & 1));
            for (size_t i = 0; i < n; ++i) {
                const uint8_t v = uint8_t(i / 7 + y / 3 + (noise.Next() >> 6));
                pixels.push_back(v);
                raw.push_back(y & 1 && i >= size_t(size.channels) ? uint8_t(v - pixels[pixels.size() - 1 - size.channels]) : v);
            }
        }
        for (const int level : {0, 1, 6, 9}) {
            const std::vector<uint8_t> stream = Deflated(raw, level);
            for (const size_t chunkBytes : {size_t(1), size_t(8191), size_t(65536), stream.size()}) {
                if (chunkBytes == 1 && stream.size() > 100000) continue;  // a million chunks prove nothing more
                SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height) + ", level " +
                             std::to_string(level) + ", chunks of " + std::to_string(chunkBytes));
                const std::vector<uint8_t> file = ZlibPng(size.width, size.height, size.channels, stream, chunkBytes);
                const std::string path = folder.path + "z.png";
                ASSERT_TRUE(WriteWholeFile(path, file.data(), file.size()));
                std::string error;
                for (const bool fromFile : {false, true}) {
                    ImagePtr image = fromFile ? DecodeImageFileTo32Bit(path, nullptr, &error)
                                              : DecodeImageMemoryTo32Bit(file.data(), file.size(), nullptr, &error);
                    ASSERT_NE(image, nullptr) << error;
                    bool same = true;
                    for (int y = 0; y < size.height && same; ++y) {
                        const uint8_t* p = image->RowFromTop(y);
                        const uint8_t* want = &pixels[size_t(y) * n];
                        for (int x = 0; x < size.width; ++x, p += 4, want += size.channels)
                            same = same && p[0] == want[2] && p[1] == want[1] && p[2] == want[0] &&
                                   p[3] == (size.channels == 4 ? want[3] : 255);
                    }
                    EXPECT_TRUE(same);
                }
            }
        }
        std::vector<uint8_t> stream = Deflated(raw, 6);
        std::vector<uint8_t> badSum = stream;
        badSum.back() ^= 1;
        std::vector<uint8_t> shortStream(stream.begin(), stream.begin() + long(stream.size() * 3 / 4));
        std::vector<uint8_t> extra = stream;
        extra.insert(extra.end(), {1, 2, 3, 4, 5});
        std::string error;
        for (const auto& [name, bad] : {std::pair<const char*, const std::vector<uint8_t>&>{"wrong checksum", badSum},
                                        {"stream cut short", shortStream}}) {
            SCOPED_TRACE(name);
            const std::vector<uint8_t> file = ZlibPng(size.width, size.height, size.channels, bad, 8192);
            EXPECT_EQ(DecodeImageMemory(file.data(), file.size(), &error), nullptr);
            EXPECT_EQ(error, "The PNG file is damaged.");
        }
        const std::vector<uint8_t> file = ZlibPng(size.width, size.height, size.channels, extra, 8192);
        EXPECT_NE(DecodeImageMemory(file.data(), file.size(), &error), nullptr) << error;
    }
}

TEST(ToolkitCodecs, HostileHeadersAreRefused) {
    // A BMP claiming 30000 x 30000 pixels in a 60-byte file, one with a
    // palette index past its two colours, and a PNG with nothing after its magic.
    std::vector<uint8_t> bmp(62, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
    bmp[0] = 'B', bmp[1] = 'M';
    put32(10, 62), put32(14, 40), put32(18, 30000), put32(22, 30000);
    bmp[26] = 1, bmp[28] = 24;
    std::string error;
    EXPECT_EQ(DecodeImageMemory(bmp.data(), bmp.size(), &error), nullptr);
    EXPECT_EQ(error, "The BMP file is truncated.");

    // 2 x 1, 8-bit, two palette entries, pixel indices 1 and 200.
    std::vector<uint8_t> pal(14 + 40 + 8 + 4, 0);
    auto p32 = [&](size_t at, uint32_t v) { std::memcpy(&pal[at], &v, 4); };
    pal[0] = 'B', pal[1] = 'M';
    p32(10, 62), p32(14, 40), p32(18, 2), p32(22, 1), p32(46, 2);
    pal[26] = 1, pal[28] = 8;
    pal[58] = 10, pal[59] = 20, pal[60] = 30;  // entry 1: B, G, R
    pal[62] = 1, pal[63] = 200;
    ImagePtr image = DecodeImageMemory(pal.data(), pal.size(), &error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_EQ(GetPixelColour(*image, 0, 0), MakeColour(30, 20, 10));
    EXPECT_EQ(GetPixelColour(*image, 1, 0), MakeColour(0, 0, 0));

    // A grey TIFF claiming 30000 x 30000 pixels in one strip, in 130 bytes,
    // uncompressed and JPEG-compressed (libtiff would pad the missing JPEG
    // data for many seconds and gigabytes).
    for (const uint32_t compression : {1u, 7u}) {
        std::vector<uint8_t> tif = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
        auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
            const uint32_t count = 1;
            tif.insert(tif.end(), {uint8_t(tag), uint8_t(tag >> 8), uint8_t(type), uint8_t(type >> 8)});
            for (uint32_t v : {count, value}) tif.insert(tif.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
        };
        entry(256, 4, 30000), entry(257, 4, 30000), entry(258, 3, 8), entry(259, 3, compression), entry(262, 3, 1);
        entry(273, 4, 8), entry(277, 3, 1), entry(278, 4, 30000), entry(279, 4, 900000000);
        tif.insert(tif.end(), 4, 0);
        EXPECT_EQ(DecodeImageMemory(tif.data(), tif.size(), &error), nullptr) << compression;
        EXPECT_EQ(error, "The TIFF file is truncated.") << compression;
    }

    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_EQ(DecodeImageMemory(png, sizeof(png), &error), nullptr);
    EXPECT_FALSE(error.empty());
    const uint8_t junk[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(DecodeImageMemory(junk, sizeof(junk), &error), nullptr);
    EXPECT_EQ(error, "The image format is not recognised.");
    EXPECT_EQ(DecodeImageMemory(nullptr, 0, &error), nullptr);
    EXPECT_EQ(DecodeImageFile("/nonexistent/orvanta/none.png", &error), nullptr);
    EXPECT_EQ(error, "The file cannot be opened.");
}

// A chunk that claims more than the rest of its file holds is refused before
// anything is allocated for it (libpng would clear up to 2 GiB first, and
// over its own limit it only warns): from memory, from a file, and from a
// file of a megabyte or more inflated on a thread ahead. A chunk that fits
// loads as before, and the 40 notes after it, unpacking to 7 MB each
// (libpng's own limit is 8), are not kept.
TEST(ToolkitCodecs, PngClaimsPastTheFileCostNoMemory) {
    const TempFolder folder;
    const std::string path = folder.path + "claim.png";
    const char* truncated = "The PNG file is truncated.";
    const std::pair<const char*, std::string> types[] = {  // and what a chunk of the type that fits holds
        {"tEXt", std::string("Title\0x", 7)},
        {"zTXt", std::string("Title\0\0\x78\x9c\x03\0\0\0\0\x01", 14)},
        {"iTXt", std::string("Title\0\0\0\0\0x", 11)},
        {"sPLT", std::string("pal\0\x08\x01\x02\x03\x04\0\x05", 11)}};
    const std::pair<uint32_t, const char*> claims[] = {  // 0: the chunk's own length
        {0, "loaded"}, {256u << 20, truncated}, {0x7FFFFFFFu, truncated}, {0x80000000u, "The PNG file is damaged."}};
    const std::vector<uint8_t> stream = Deflated({0, 1, 2, 3}, 6), packed = Deflated(std::vector<uint8_t>(7000000, 'x'), 9);
    std::vector<uint8_t> note = {'N', 'o', 't', 'e', 0, 0}, notes;
    note.insert(note.end(), packed.begin(), packed.end());
    for (int i = 0; i < 40; ++i) AppendPngChunk(notes, "zTXt", note.data(), note.size());
    for (const int source : {0, 1, 2}) {  // memory, a file, a file of 1 MiB more on two threads
        std::vector<uint8_t> padding;
        if (source == 2) AppendPngChunk(padding, "orVa", std::vector<uint8_t>(1u << 20).data(), 1u << 20);
        for (const auto& [type, data] : types) {
            for (const auto& [length, error] : claims) {
                SCOPED_TRACE(testing::Message() << "source " << source << ", " << type << " claiming " << length);
                std::vector<uint8_t> before = padding;
                AppendPngChunk(before, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
                const size_t claimEnd = kPngHeadBytes + before.size() - data.size() - 4;  // after the chunk's head
                before.insert(before.end(), notes.begin(), notes.end());
                std::vector<uint8_t> file = ZlibPng(1, 1, 3, stream, 4096, before);
                if (length) {
                    file.resize(claimEnd);
                    for (int i = 0; i < 4; ++i) file[claimEnd - 8 + i] = uint8_t(length >> (24 - 8 * i));
                }
                ASSERT_TRUE(WriteWholeFile(path, file.data(), file.size()));
                EXPECT_EQ(RunHoldingLittleMemory([&] {
                              SetThreadCountForTesting(source == 2 ? 2 : 1);
                              std::string text;
                              const ImagePtr image = source ? DecodeImageFileTo32Bit(path, nullptr, &text)
                                                            : DecodeImageMemory(file.data(), file.size(), &text);
                              return image ? "loaded" : text;
                          }),
                          error);
            }
        }
    }
}

// 16- and 32-bit BMPs with masks of every width: each field is scaled from
// its own range to 0..255, so the largest value of any field is 255.
TEST(ToolkitCodecs, BmpBitfieldsScaleEveryFieldWidth) {
    struct Case {
        const char* name;
        int bits;
        uint32_t masks[4];  // red, green, blue, alpha
        uint32_t pixel;
        uint32_t expected;  // colour 0xAABBGGRR
        int depth;
    };
    const Case cases[] = {
        {"argb4444 full", 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 0xFFFF, MakeColour(255, 255, 255, 255), 32},
        {"argb4444 mid", 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 0x8421, MakeColour(68, 34, 17, 136), 32},
        {"argb1555 opaque", 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, 0xFC00, MakeColour(255, 0, 0, 255), 32},
        {"argb1555 clear", 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, 0x001F, MakeColour(0, 0, 255, 0), 32},
        {"rgb565", 16, {0xF800, 0x07E0, 0x001F, 0}, 0x07E0 | (16 << 11), MakeColour(132, 255, 0), 24},
        {"10-bit fields", 32, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}, (1023u << 20) | (512u << 10), MakeColour(255, 128, 0), 24},
        {"alpha in the low byte", 32, {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}, 0x11223344, MakeColour(0x11, 0x22, 0x33, 0x44), 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // V5 header (124 bytes) with the masks in it; one pixel, padded row.
        std::vector<uint8_t> f(14 + 124 + 4, 0);
        auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
        f[0] = 'B', f[1] = 'M';
        put32(2, uint32_t(f.size())), put32(10, 138), put32(14, 124), put32(18, 1), put32(22, 1);
        f[26] = 1, f[28] = uint8_t(c.bits);
        put32(30, 3);  // BITFIELDS
        for (int i = 0; i < 4; ++i) put32(54 + 4 * size_t(i), c.masks[i]);
        put32(138, c.pixel);
        std::string error;
        ImagePtr image = DecodeImageMemory(f.data(), f.size(), &error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(image->depth, c.depth);
        EXPECT_EQ(GetPixelColour(*image, 0, 0), c.expected);
    }
}

// RLE4 with every escape: a run, an odd literal group with its pad byte,
// end of line, a move, end of picture; untouched pixels stay black.
TEST(ToolkitCodecs, BmpRle4Escapes) {
    std::vector<uint8_t> f(66, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
    f[0] = 'B', f[1] = 'M';
    put32(10, 66), put32(14, 40), put32(18, 8), put32(22, 2), put32(30, 2), put32(46, 3);
    f[26] = 1, f[28] = 4;
    f[60] = 255;  // entry 1 red (B, G, R, 0)
    f[63] = 255;  // entry 2 green
    const uint8_t stream[] = {3, 0x12, 0, 5, 0x21, 0x21, 0x20, 0, 0, 0, 0, 2, 2, 0, 2, 0x22, 0, 1};
    f.insert(f.end(), stream, stream + sizeof(stream));
    std::string error;
    ImagePtr image = DecodeImageMemory(f.data(), f.size(), &error);
    ASSERT_NE(image, nullptr) << error;
    const uint32_t k = MakeColour(0, 0, 0), r = MakeColour(255, 0, 0), g = MakeColour(0, 255, 0);
    const uint32_t expected[2][8] = {{k, k, g, g, k, k, k, k}, {r, g, r, g, r, g, r, g}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(GetPixelColour(*image, x, y), expected[y][x]) << x << "," << y;
    // Without its end the stream no longer reaches the top row: the file was cut.
    f.erase(f.end() - 4, f.end());  // resize() trips a false overflow warning in the sanitizer build
    EXPECT_EQ(DecodeImageMemory(f.data(), f.size(), &error), nullptr);
    EXPECT_EQ(error, "The BMP file is truncated.");
}

// A run of two bytes paints at most 255 pixels; skipping escapes are not
// counted. A claim the stream can paint loads, a larger one is refused
// without the picture being made: a 1 KB RLE8 or RLE4 file claiming
// 32767 x 32767 among them.
TEST(ToolkitCodecs, BmpRunLengthClaimsAreHeldToTheBytes) {
    auto rleBmp = [](int bits, int32_t width, int32_t height, const std::vector<uint8_t>& stream) {
        std::vector<uint8_t> f(62 + stream.size(), 0);
        for (size_t i = 0; i < stream.size(); ++i) f[62 + i] = stream[i];
        auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
        f[0] = 'B', f[1] = 'M';
        put32(10, 62), put32(14, 40), put32(18, uint32_t(width)), put32(22, uint32_t(height));
        f[26] = 1, f[28] = uint8_t(bits);
        put32(30, bits == 8 ? 1 : 2), put32(46, 2);
        f[60] = 255;  // entry 1 red
        return f;
    };
    std::vector<uint8_t> kilobyte;
    while (kilobyte.size() < 1024) kilobyte.insert(kilobyte.end(), {255, 1});
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool loads;
    } cases[] = {
        {"510 pixels from 4 bytes", rleBmp(8, 255, 2, {255, 1, 0, 1}), true},
        {"511 pixels from 4 bytes", rleBmp(8, 511, 1, {255, 1, 0, 1}), false},
        {"RLE4, 510 pixels from 4 bytes", rleBmp(4, 255, 2, {255, 0x11, 0, 1}), true},
        {"RLE4, 511 pixels from 4 bytes", rleBmp(4, 511, 1, {255, 0x11, 0, 1}), false},
        {"1 KB claiming 32767 x 32767", rleBmp(8, 32767, 32767, kilobyte), false},
        {"RLE4, 1 KB claiming 32767 x 32767", rleBmp(4, 32767, -32767, kilobyte), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string result = RunWithinMemory(64, [&] {
            std::string error;
            ImagePtr image = DecodeImageMemory(c.file.data(), c.file.size(), &error);
            if (!image) return error;
            // The run paints the stored first row red, the rest stays black.
            const int row = image->height - 1;
            return GetPixelColour(*image, 0, row) == MakeColour(255, 0, 0) &&
                           GetPixelColour(*image, image->width - 1, row) == MakeColour(255, 0, 0) &&
                           (image->height == 1 || GetPixelColour(*image, 0, 0) == MakeColour(0, 0, 0))
                       ? std::string("loaded")
                       : std::string("wrong pixels");
        });
        EXPECT_EQ(result, c.loads ? "loaded" : "The BMP file is truncated.");
    }
}

TEST(ToolkitCodecs, RegisteredDecodersComeAfterBuiltIns) {
    static const auto sniff = [](const uint8_t* d, size_t n) { return n >= 4 && std::memcmp(d, "ZZ", 2) == 0; };
    static const auto greedy = [](const uint8_t*, size_t) { return true; };
    static const auto decode = [](const uint8_t*, size_t, std::string*) { return CreateImage(2, 3, 24); };
    RegisterImageDecoder(sniff, decode);
    RegisterImageDecoder(greedy, decode);
    // The greedy decoder would take every unknown file in later tests.
    struct Unregister {
        ~Unregister() {
            UnregisterImageDecoder(sniff, decode);
            UnregisterImageDecoder(greedy, decode);
        }
    } unregister;
    const uint8_t mine[] = {'Z', 'Z', 1, 2};
    std::string error;
    ImagePtr image = DecodeImageMemory(mine, sizeof(mine), &error);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->height, 3);
    // A real BMP still goes to the BMP decoder although the greedy one would take it.
    ImagePtr small = CreateImage(4, 4, 24, MakeColour(1, 2, 3));
    std::vector<uint8_t> bmp;
    ASSERT_TRUE(EncodeBmpMemory(*small, bmp));
    image = DecodeImageMemory(bmp.data(), bmp.size(), &error);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 4);
}

TEST_F(ToolkitCodecsMagick, EncodersReadBackInImageMagick) {
    const std::vector<uint8_t> rgba = SourceRgba();
    ImagePtr withAlpha = ImageFromRgba(rgba, 32);
    ImagePtr opaque = ImageFromRgba(rgba, 24);
    std::vector<uint8_t> flattened = rgba, opaqueRgba = rgba;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        for (int c = 0; c < 3; ++c) flattened[i + c] = uint8_t(FlattenOverWhite(rgba[i + c], rgba[i + 3]));
        flattened[i + 3] = opaqueRgba[i + 3] = 255;
    }
    struct Case {
        const char* name;
        const Image* image;
        const char* file;
        int kind;  // 0 PNG 32, 1 PNG 24, 2 BMP, 3 JPEG
        const std::vector<uint8_t>* expected;
        int tolerance;
    };
    const Case cases[] = {
        {"png 32 from 32", withAlpha.get(), "o1.png", 0, &rgba, 0},
        {"png 24 flattens", withAlpha.get(), "o2.png", 1, &flattened, 0},
        {"png 32 from 24", opaque.get(), "o3.png", 0, &opaqueRgba, 0},
        {"png 24 from 24", opaque.get(), "o4.png", 1, &opaqueRgba, 0},
        {"bmp flattens", withAlpha.get(), "o5.bmp", 2, &flattened, 0},
        {"bmp from 24", opaque.get(), "o6.bmp", 2, &opaqueRgba, 0},
        {"jpeg flattens", withAlpha.get(), "o7.jpg", 3, &flattened, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder_ + c.file;
        bool ok = false;
        if (c.kind <= 1) ok = EncodePngFile(*c.image, path, c.kind == 0 ? 32 : 24);
        if (c.kind == 2) ok = EncodeBmpFile(*c.image, path);
        if (c.kind == 3) ok = EncodeJpegFile(*c.image, path, 100);
        ASSERT_TRUE(ok);
        const std::vector<uint8_t> back = Reference(path);
        ASSERT_EQ(back.size(), c.expected->size());
        int worst = 0;
        for (size_t i = 0; i < back.size(); ++i) worst = std::max(worst, std::abs(back[i] - (*c.expected)[i]));
        EXPECT_LE(worst, c.tolerance);
        // Our own decoder reads the same file by content, whatever its name.
        if (c.kind == 3) {
            // As close to the picture as ImageMagick's own encoder at the same
            // quality and subsampling.
            const std::string flat = folder_ + "flat.rgba", peer = folder_ + "peer.jpg";
            ASSERT_TRUE(WriteWholeFile(flat, c.expected->data(), c.expected->size()));
            ASSERT_TRUE(RunCommand("convert-im6.q16 -size " + std::to_string(kW) + "x" + std::to_string(kH) +
                                   " -depth 8 rgba:'" + flat + "' -quality 100 -sampling-factor 2x2 '" + peer + "'"));
            EXPECT_GE(Psnr(back, *c.expected), Psnr(Reference(peer), *c.expected) - 0.5);
        }
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadWholeFile(path, bytes));
        const std::string renamed = folder_ + "renamed.xyz";
        ASSERT_TRUE(WriteWholeFile(renamed, bytes.data(), bytes.size()));
        std::string error;
        ImagePtr again = DecodeImageFile(renamed, &error);
        ASSERT_NE(again, nullptr) << error;
        EXPECT_EQ(again->depth, c.kind == 0 ? 32 : 24);
        if (c.kind != 3) {
            EXPECT_EQ(Compare(*again, back).colour, 0);
        }
    }
    // 24 and 32 are the only PNG depths; a folder that does not exist fails.
    EXPECT_FALSE(EncodePngFile(*withAlpha, folder_ + "bad.png", 16));
    EXPECT_FALSE(EncodePngFile(*withAlpha, folder_ + "missing/x.png", 32));
    EXPECT_FALSE(EncodeJpegFile(*withAlpha, folder_ + "missing/x.jpg", 50));
    EXPECT_FALSE(EncodeBmpFile(*withAlpha, folder_ + "missing/x.bmp"));
}

TEST_F(ToolkitCodecsMagick, JpegQualityIsHonoured) {
    ImagePtr image = ImageFromRgba(SourceRgba(), 24);
    size_t previous = 0;
    for (int quality : {10, 50, 90, 100}) {
        SCOPED_TRACE(quality);
        const std::string path = folder_ + "q" + std::to_string(quality) + ".jpg";
        ASSERT_TRUE(EncodeJpegFile(*image, path, quality));
        std::vector<uint8_t> out;
        ASSERT_TRUE(RunCommand("identify-im6.q16 -format %Q '" + path + "'", &out));
        EXPECT_EQ(std::string(out.begin(), out.end()), std::to_string(quality));
        const size_t size = size_t(GetFileSize(path));
        EXPECT_GT(size, previous);
        previous = size;
    }
}

}  // namespace
