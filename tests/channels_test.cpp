// Channel, alpha and normal-map builders: exact bytes of small pictures.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "adjust/channels.h"
#include "adjust/normalmap.h"

namespace {

ImagePtr OnePixel(uint32_t colour, int depth = 32) { return CreateImage(1, 1, depth, colour); }
uint32_t At(const ImagePtr& image, int x, int y) { return GetPixelColour(*image, x, y); }

TEST(AdjustChannels, BuildersGiveExactPixels) {
    using Build = std::function<ImagePtr(const Image&)>;
    auto channel = [](int c) -> Build { return [c](const Image& i) { return ExtractChannelAsGrayscale(i, c); }; };
    // 24-bit pictures read as opaque; the commands' own test covers 32 bits.
    const std::pair<Build, uint32_t> cases[] = {
        {channel(3), MakeColour(255, 255, 255)},
        {InvertAlphaCopy, MakeColour(200, 100, 50, 0)},
        {MakeOpaqueCopy, MakeColour(200, 100, 50)},
    };
    for (const auto& [build, expected] : cases) {
        ImagePtr result = build(*OnePixel(MakeColour(200, 100, 50, 64), 24));
        ASSERT_TRUE(result);
        EXPECT_EQ(At(result, 0, 0), expected) << std::hex << expected;
    }
    EXPECT_FALSE(ExtractChannelAsGrayscale(*OnePixel(0), 4));

    // Rows come out in picture order, and inverting twice gives the start back.
    ImagePtr image = CreateImage(3, 2);
    for (int i = 0; i < 6; ++i) SetPixelColour(*image, i % 3, i / 3, MakeColour(i, 2 * i, 3 * i, 40 * i));
    std::vector<uint32_t> pixels;
    CopyImagePixels(*image, pixels);
    ImagePtr twice = InvertAlphaCopy(*InvertAlphaCopy(*image));
    ASSERT_EQ(pixels.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(pixels[size_t(i)], At(image, i % 3, i / 3));
        EXPECT_EQ(At(twice, i % 3, i / 3), At(image, i % 3, i / 3));
    }
}

TEST(AdjustChannels, MaskLumaBecomesAlphaAtThePictureSize) {
    ImagePtr pixel = OnePixel(MakeColour(10, 20, 30, 7));
    const std::pair<uint32_t, int> lumas[] = {{MakeColour(255, 255, 255, 0), 255}, {MakeColour(128, 128, 128), 128},
                                              {MakeColour(255, 0, 0), 54},         {MakeColour(0, 255, 0), 182},
                                              {MakeColour(0, 0, 255), 18},         {MakeColour(0, 0, 0), 0}};
    for (auto [mask, alpha] : lumas)
        EXPECT_EQ(At(ApplyMaskAsAlpha(*pixel, *OnePixel(mask)), 0, 0), MakeColour(10, 20, 30, alpha));

    // Masks black on the left, white on the right, smaller and larger than the picture.
    ImagePtr image = CreateImage(4, 2, 24, MakeColour(1, 2, 3));
    for (auto [w, h] : {std::pair{4, 2}, std::pair{8, 4}, std::pair{16, 8}, std::pair{2, 1}}) {
        ImagePtr mask = CreateImage(w, h, 32, MakeColour(0, 0, 0));
        FillRect(*mask, w / 2, 0, w / 2, h, MakeColour(255, 255, 255));
        ImagePtr result = ApplyMaskAsAlpha(*image, *mask);
        ASSERT_TRUE(result);
        ASSERT_EQ(result->width * 10 + result->height, 42);
        EXPECT_LT(ColourAlpha(At(result, 0, 1)), 40) << w;
        EXPECT_GT(ColourAlpha(At(result, 3, 0)), 215) << w;
        EXPECT_EQ(At(result, 3, 0) & 0xFFFFFF, MakeColour(1, 2, 3) & 0xFFFFFF);
    }
}

TEST(AdjustNormalMap, OperationsGiveExactBytes) {
    struct Case {
        int operation;
        uint32_t in, out;
    } cases[] = {
        {kNormalFlipGreen, MakeColour(10, 20, 30, 40), MakeColour(10, 235, 30, 40)},
        {kNormalFlipRed, MakeColour(10, 20, 30, 40), MakeColour(245, 20, 30, 40)},
        {kNormalRebuildZ, MakeColour(0, 128, 7, 9), MakeColour(0, 128, 128, 9)},
        {kNormalRebuildZ, MakeColour(128, 128, 0), MakeColour(128, 128, 255)},
        {kNormalRebuildZ, MakeColour(255, 255, 0), MakeColour(255, 255, 128)},
        {kNormalNormalize, MakeColour(128, 128, 255), MakeColour(128, 128, 255)},
        {kNormalNormalize, MakeColour(255, 128, 128, 3), MakeColour(255, 128, 128, 3)},
        {kNormalNormalize, MakeColour(255, 255, 255), MakeColour(201, 201, 201)},
        {kNormalNormalize, MakeColour(128, 128, 128), MakeColour(201, 201, 201)},
        {kNormalNormalize, MakeColour(0, 0, 0, 0), MakeColour(54, 54, 54, 0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(At(ApplyNormalMapOperation(*OnePixel(c.in), c.operation), 0, 0), c.out) << c.operation;
    EXPECT_FALSE(ApplyNormalMapOperation(*OnePixel(0), 5));
    // Out-of-range and NaN components still give bytes in range.
    EXPECT_EQ(PackNormalToColor(3.0, std::numeric_limits<double>::quiet_NaN(), -7.0, 77), MakeColour(255, 128, 0, 77));
}

TEST(AdjustNormalMap, HeightMapSlopesAndWrapAround) {
    const uint32_t white = MakeColour(255, 255, 255);
    struct Case {
        int w, h, stripeX, stripeY;  // a bright column or row on a dark ground; -1 none
        int x, y;
        uint32_t expected;
    } cases[] = {
        {3, 3, -1, -1, 1, 1, MakeColour(128, 128, 255)},  // flat
        {6, 2, 3, -1, 0, 0, MakeColour(128, 128, 255)},   // far from the stripe
        {1, 4, -1, 1, 0, 0, MakeColour(128, 218, 218)},   // one pixel wide: rises downward, red stays
        {4, 1, 2, -1, 1, 0, MakeColour(37, 128, 218)},    // one pixel high: rises to the right, green stays
        {4, 1, 2, -1, 3, 0, MakeColour(218, 128, 218)},
        {5, 2, 0, -1, 4, 1, MakeColour(37, 128, 218)},    // wraps: the last column sees the first
    };
    for (const Case& c : cases) {
        ImagePtr image = CreateImage(c.w, c.h, 32, MakeColour(0, 0, 0, 5));
        if (c.stripeX >= 0) FillRect(*image, c.stripeX, 0, 1, c.h, white);
        if (c.stripeY >= 0) FillRect(*image, 0, c.stripeY, c.w, 1, white);
        ImagePtr result = MakeNormalMapFromHeight(*image, 0.25);
        ASSERT_TRUE(result);
        EXPECT_EQ(At(result, c.x, c.y), c.expected) << c.w << "x" << c.h << " at " << c.x;
    }
}

}  // namespace
