// The image model: storage order, fills, drawing and the record helpers.
#include <gtest/gtest.h>

#include "formats/texinfo.h"
#include "toolkit/image.h"

TEST(ToolkitImage, CreateRejectsBadSizesAndStoresBottomUp) {
    EXPECT_EQ(CreateImage(0, 5), nullptr);
    EXPECT_EQ(CreateImage(5, 32768), nullptr);
    EXPECT_EQ(CreateImage(5, 5, 16), nullptr);
    ImagePtr img = CreateImage(3, 2, 32, MakeColour(1, 2, 3, 4));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->pitch, 12);
    SetPixelColour(*img, 0, 1, MakeColour(10, 20, 30, 40));  // bottom-left
    const uint8_t* first = img->FirstStoredRow();
    EXPECT_EQ(first[0], 30);  // B
    EXPECT_EQ(first[1], 20);  // G
    EXPECT_EQ(first[2], 10);  // R
    EXPECT_EQ(first[3], 40);  // A
    EXPECT_EQ(GetPixelColour(*img, 1, 0), MakeColour(1, 2, 3, 4));
    ImagePtr rgb = CreateImage(3, 1, 24, MakeColour(9, 8, 7));
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->pitch, 12);  // 9 bytes padded to 4
    EXPECT_EQ(GetPixelColour(*rgb, 2, 0), MakeColour(9, 8, 7, 255));
}

TEST(ToolkitImage, DrawCopyKeepsTargetAlphaAndClips) {
    ImagePtr dst = CreateImage(4, 4, 32, MakeColour(0, 0, 0, 77));
    ImagePtr src = CreateImage(3, 3, 32, MakeColour(200, 100, 50, 0));
    DrawImage(*dst, *src, 2, -1, DrawMode::Copy);
    EXPECT_EQ(GetPixelColour(*dst, 1, 0), MakeColour(0, 0, 0, 77));
    EXPECT_EQ(GetPixelColour(*dst, 2, 0), MakeColour(200, 100, 50, 77));
    EXPECT_EQ(GetPixelColour(*dst, 3, 1), MakeColour(200, 100, 50, 77));
    EXPECT_EQ(GetPixelColour(*dst, 3, 2), MakeColour(0, 0, 0, 77));
}

TEST(ToolkitImage, AlphaBlendIsSourceOver) {
    struct Case { uint32_t src, dst, expected; };
    const Case cases[] = {
        {MakeColour(255, 0, 0, 255), MakeColour(0, 0, 255, 255), MakeColour(255, 0, 0, 255)},
        {MakeColour(255, 0, 0, 0), MakeColour(0, 0, 255, 255), MakeColour(0, 0, 255, 255)},
        {MakeColour(255, 0, 0, 128), MakeColour(0, 0, 255, 255), MakeColour(128, 0, 127, 255)},
        {MakeColour(255, 255, 255, 128), MakeColour(0, 0, 0, 0), MakeColour(255, 255, 255, 128)},
        {MakeColour(200, 0, 0, 128), MakeColour(0, 0, 100, 128), MakeColour(134, 0, 33, 192)},
    };
    for (const Case& c : cases) {
        ImagePtr dst = CreateImage(1, 1, 32, c.dst);
        ImagePtr src = CreateImage(1, 1, 32, c.src);
        DrawImage(*dst, *src, 0, 0, DrawMode::AlphaBlend);
        EXPECT_EQ(GetPixelColour(*dst, 0, 0), c.expected) << std::hex << c.src << " over " << c.dst;
    }
}

TEST(ToolkitImage, FlattenOverWhiteRule) {
    EXPECT_EQ(FlattenOverWhite(0, 0), 255);
    EXPECT_EQ(FlattenOverWhite(0, 255), 0);
    EXPECT_EQ(FlattenOverWhite(100, 255), 100);
    EXPECT_EQ(FlattenOverWhite(0, 128), 127);  // (-32640 + 65025) / 255 = 127
    EXPECT_EQ(FlattenOverWhite(255, 17), 255);
}

TEST(ToolkitImage, ConvertTo32BitAndTransparency) {
    ImagePtr rgb = CreateImage(5, 3, 24, MakeColour(1, 2, 3));
    ImagePtr rgba = ConvertTo32Bit(std::move(rgb));
    ASSERT_NE(rgba, nullptr);
    EXPECT_EQ(rgba->depth, 32);
    EXPECT_EQ(GetPixelColour(*rgba, 4, 2), MakeColour(1, 2, 3, 255));
    EXPECT_EQ(HasTransparentPixels(rgba.get()), 0);
    SetPixelColour(*rgba, 4, 2, MakeColour(1, 2, 3, 254));  // bottom-right only
    EXPECT_EQ(HasTransparentPixels(rgba.get()), 1);
    EXPECT_EQ(HasTransparentPixels(nullptr), 0);
}

// The pages of a picture made present on another core while the caller
// writes it: every byte written stays as written, however the two meet.
TEST(ToolkitImage, PagesAheadNeverChangesAByte) {
    for (const int height : {16, 1500}) {  // below and above the size worth a helper
        SCOPED_TRACE(height);
        ImagePtr image = CreateImageUnfilled(4099, height, 32);
        ASSERT_NE(image, nullptr);
        {
            const PagesAhead ahead(*image);
            for (int y = 0; y < image->height; ++y) {
                uint8_t* row = image->RowFromTop(y);
                for (int x = 0; x < image->width * 4; ++x) row[x] = uint8_t(x * 7 + y);
            }
        }
        bool same = true;
        for (int y = 0; y < image->height && same; ++y) {
            const uint8_t* row = image->RowFromTop(y);
            for (int x = 0; x < image->width * 4; ++x) same = same && row[x] == uint8_t(x * 7 + y);
        }
        EXPECT_TRUE(same);
    }
}

TEST(FormatsImageModel, FreeTexHdrDataTwiceIsHarmless) {
    TexInfo info;
    FreeTexHdrData(info);
    info.hdrData = std::make_unique<HdrBlock>();
    FreeTexHdrData(info);
    EXPECT_EQ(info.hdrData, nullptr);
    FreeTexHdrData(info);
    EXPECT_EQ(info.hdrData, nullptr);
}
