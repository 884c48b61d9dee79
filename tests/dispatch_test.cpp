// Loading and saving by extension: which reader a name reaches, the format
// texts it gives, and the failure texts callers show.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

ImagePtr MakePicture(bool transparent) {
    ImagePtr image = CreateImage(3, 2, 32, MakeColour(10, 20, 30));
    SetPixelColour(*image, 2, 1, MakeColour(200, 100, 50, transparent ? 128 : 255));
    return image;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size()));
}

TEST(FormatsDispatch, ToolkitPicturesAreNamedByLowerCasedExtension) {
    const std::string dir = MakeTempFolder("dispatch");
    struct Case {
        const char* name;
        bool transparent;
        const char* formatText;
        int bytesPerPixel;
    } cases[] = {
        {"Picture.PNG", false, "Portable Network Graphics", 3},
        {"picture.xyz", true, "XYZ image", 4},
        {"alpha.png", true, "Portable Network Graphics", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr picture = MakePicture(c.transparent);
        ASSERT_TRUE(EncodePngFile(*picture, dir + c.name, c.transparent ? 32 : 24));
        TexInfo info;
        ImagePtr image = LoadImageFileByExtension(dir + c.name, info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(info.formatText, c.formatText);
        EXPECT_EQ(info.kind, 0);
        EXPECT_EQ(info.frameCount, 1);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(info.hasAlpha, c.transparent ? 1 : 0);
        EXPECT_EQ(image->depth, 32);
        EXPECT_EQ(info.width, 3);
        EXPECT_EQ(info.height, 2);
        EXPECT_EQ(GetPixelColour(*image, 2, 1), MakeColour(200, 100, 50, c.transparent ? 128 : 255));
        EXPECT_TRUE(info.errorText.empty());
    }
}

TEST(FormatsDispatch, FailuresGiveTheReadersText) {
    const std::string dir = MakeTempFolder("dispatch");
    WriteBytes(dir + "empty.dds", "");
    WriteBytes(dir + "junk.png", "not a picture at all");
    WriteBytes(dir + "bad.dds", "DDS but far too short");
    WriteBytes(dir + "damaged.TGA", std::string(40, '\x01'));
    struct Case {
        std::string path;
        std::string errorText;  // empty: any non-empty text
    } cases[] = {
        {dir + "missing.dds", "The file cannot be opened."},
        {dir + "empty.dds", "The file is empty or too large."},
        {dir + "junk.png", "This image format is not supported, or the file is damaged."},
        {dir + "missing.png", "This image format is not supported, or the file is damaged."},
        {dir + "bad.dds", ""},
        {dir + "damaged.TGA", "This TGA bit depth is not supported (1 bits)."},
        {dir + "any.gro::textures/wall.tex", "Could not extract it from the archive."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TexInfo info;
        EXPECT_FALSE(LoadImageAnySource(c.path, info));
        if (c.errorText.empty())
            EXPECT_FALSE(info.errorText.empty());
        else
            EXPECT_EQ(info.errorText, c.errorText);
    }
}

TEST(FormatsDispatch, TiffGoesToTheToolkitDecoderWithItsNote) {
    const std::string dir = MakeTempFolder("dispatch");
    if (system("command -v convert-im6.q16 >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick missing";
    const std::string path = dir + "wall.tif";
    const std::string command = "convert-im6.q16 -size 4x3 xc:'rgb(10,200,30)' -compress lzw '" + path + "'";
    ASSERT_TRUE(RunPeer(command));
    TexInfo info;
    ImagePtr image = LoadImageFileByExtension(path, info);
    ASSERT_TRUE(image) << info.errorText;
    EXPECT_EQ(info.formatText, "Tagged Image File Format");
    EXPECT_EQ(info.note, "Read with libtiff's TIFF reader (semi-transparent pixels may look darker)");
    EXPECT_EQ(GetPixelColour(*image, 3, 2), MakeColour(10, 200, 30));
}

// The toolkit decoders write 32-bit pictures directly; the record keeps the
// depth the file had, and transparency is looked for only where the file
// has alpha. Each file is checked against the toolkit's own decode made
// 32-bit afterwards.
TEST(FormatsDispatch, ToolkitFilesKeepTheirDepthInTheRecord) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    const TempFolder dir;
    struct Case {
        const char* name;
        const char* options;  // ImageMagick's, making the file from a 13 x 7 picture
        int bytesPerPixel;
        int hasAlpha;
    } cases[] = {
        {"grey.png", "-colorspace Gray -define png:color-type=0", 3, 0},
        {"grey-alpha.png", "-alpha set -channel A -fx 'i==3?0.5:1' +channel -colorspace Gray -define png:color-type=4", 4, 1},
        {"rgb.png", "-define png:color-type=2", 3, 0},
        {"opaque-rgba.png", "-alpha set -define png:color-type=6", 4, 0},
        {"palette.png", "-colors 9 -define png:color-type=3", 3, 0},
        {"palette-trns.png", "-alpha set -channel A -fx 'i==5?0:1' png8:", 4, 1},
        {"rgb16.png", "-depth 16 -define png:bit-depth=16 -define png:color-type=2", 3, 0},
        {"interlaced.png", "-interlace PNG -alpha set -channel A -fx 'j==2?0:1' -define png:color-type=6", 4, 1},
        {"colour.jpg", "-quality 90", 3, 0},
        {"grey.jpg", "-colorspace Gray", 3, 0},
        {"palette.bmp", "-colors 9 -type Palette bmp3:", 3, 0},
        {"rgb.bmp", "bmp3:", 3, 0},
        {"alpha.bmp", "-alpha set -channel A -fx 'i==0?0.2:1' bmp:", 4, 1},
        {"lzw.tif", "-compress LZW", 3, 0},
        {"alpha.tif", "-alpha set -channel A -fx 'i==12?0:1' -compress LZW", 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Options ending in a coder prefix ("bmp3:") run into the path.
        const std::string options = c.options;
        const std::string path = dir.path + c.name;
        const std::string command = "convert-im6.q16 -size 13x7 gradient:'rgb(200,30,10)-rgb(10,90,250)' -depth 8 " + options +
                                    (options.back() == ':' ? "" : " ") + "'" + path + "'";
        ASSERT_TRUE(RunPeer(command)) << command;
        TexInfo info;
        ImagePtr image = LoadImageFileByExtension(path, info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(image->depth, 32);
        EXPECT_EQ(info.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        EXPECT_EQ(info.width, 13);
        EXPECT_EQ(info.height, 7);
        ImagePtr expected = ConvertTo32Bit(DecodeImageFile(path, nullptr));
        ASSERT_TRUE(expected);
        EXPECT_EQ(PixelsOf(*image), PixelsOf(*expected));
    }
}

// A picture that does not fit in memory is reported as such, not as damage.
TEST(FormatsDispatch, MemoryShortageIsNotCalledDamage) {
    if (kAddressSanitizer) GTEST_SKIP() << "no memory limit under AddressSanitizer";
    const TempFolder dir;
    const std::string path = dir.path + "big.png";
    ASSERT_TRUE(EncodePngFile(*CreateImage(4096, 4096, 24, MakeColour(1, 2, 3)), path, 24));
    const std::string text = RunWithinMemory(24, [&] {
        TexInfo info;
        return LoadImageFileByExtension(path, info) ? std::string("loaded") : info.errorText;
    });
    EXPECT_EQ(text, "Not enough memory for the image.");
}

TEST(FormatsDispatch, SaveByExtensionFallsBackToPng) {
    const std::string dir = MakeTempFolder("dispatch");
    ImagePtr picture = MakePicture(true);
    EXPECT_EQ(SaveImageByExtension(*picture, dir + "noext", 1), 1);
    ImagePtr back = DecodeImageFile(dir + "noext", nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(GetPixelColour(*back, 2, 1), MakeColour(200, 100, 50, 128));
    // TGA by its upper-cased extension, with and without alpha.
    EXPECT_EQ(SaveImageByExtension(*picture, dir + "a.TGA", 1), 1);
    EXPECT_EQ(GetFileSize(dir + "a.TGA"), 18 + 3 * 2 * 4 + 26);
    EXPECT_EQ(SaveImageByExtension(*picture, dir + "b.tga", 0), 1);
    EXPECT_EQ(GetFileSize(dir + "b.tga"), 18 + 3 * 2 * 3 + 26);
    TexInfo info;
    back = LoadImageFileByExtension(dir + "a.TGA", info);
    ASSERT_TRUE(back) << info.errorText;
    EXPECT_EQ(info.formatText, "Truevision Graphics Adapter");
    EXPECT_EQ(GetPixelColour(*back, 2, 1), MakeColour(200, 100, 50, 128));
}

// Each place that writes by name has its own rule for names it does not
// know, and every place writes JPEG from the stored colours, unblended.
TEST(FormatsDispatch, EachWriterKeepsItsRuleForNames) {
    const std::string dir = MakeTempFolder("dispatch");
    ImagePtr picture = MakePicture(true);
    TexInfo info;
    info.hasAlpha = 1;
    info.width = picture->width;
    struct Case {
        const char* name;
        bool byExtension;      // SaveImageByExtension, else SaveImageForBatch
        const char* written;   // what the file is, by its first bytes; "" when none is written
    } cases[] = {
        {"a.tiff", true, "\x89PNG"},  {"b.tif", true, "II*"},      {"c.jpeg", true, "\x89PNG"},
        {"d.tex", true, "TVER"},      {"e.tiff", false, ""},        {"f.jpeg", false, ""},
        {"g.TIF", false, "II*"},      {"h.jpg", false, "\xff\xd8\xff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + c.name;
        if (c.byExtension) {
            EXPECT_EQ(SaveImageByExtension(*picture, path, true), 1);
        } else {
            EXPECT_EQ(SaveImageForBatch(*picture, info, path, GetLowerExtension(path)),
                      c.written[0] ? "" : "could not write the file");
        }
        std::vector<uint8_t> bytes;
        ReadWholeFile(path, bytes);
        const std::string magic = c.written;
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::min(bytes.size(), magic.size())), magic);
    }
    // The stored colours of the transparent pixel, not a blend over anything.
    ImagePtr colours = CreateImage(picture->width, picture->height, 24);
    DrawImage(*colours, *picture, 0, 0, DrawMode::Copy);
    ASSERT_TRUE(EncodeJpegFile(*colours, dir + "plain.jpg", 90));
    std::vector<uint8_t> ours, plain;
    ASSERT_TRUE(ReadWholeFile(dir + "h.jpg", ours));
    ASSERT_TRUE(ReadWholeFile(dir + "plain.jpg", plain));
    EXPECT_EQ(ours, plain);
}

}  // namespace
