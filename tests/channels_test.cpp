// Channel, alpha and normal-map builders: exact bytes of small pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "adjust/channels.h"
#include "adjust/normalmap.h"

namespace {

ImagePtr OnePixel(uint32_t colour, int depth = 32) { return CreateImage(1, 1, depth, colour); }

// A picture that differs in every row and column, so flipped rows show.
ImagePtr Gradient(int w, int h) {
    ImagePtr image = CreateImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetPixelColour(*image, x, y, MakeColour(x * 10, y * 20, x + y, 100 + x));
    return image;
}

TEST(AdjustChannels, BuildersGiveExactPixels) {
    const uint32_t src = MakeColour(200, 100, 50, 64);
    struct Case {
        const char* name;
        int depth;
        std::function<ImagePtr(const Image&)> build;
        uint32_t expected;
    } cases[] = {
        {"red", 32, [](const Image& i) { return ExtractChannelAsGrayscale(i, 0); }, MakeColour(200, 200, 200)},
        {"green", 32, [](const Image& i) { return ExtractChannelAsGrayscale(i, 1); }, MakeColour(100, 100, 100)},
        {"blue", 32, [](const Image& i) { return ExtractChannelAsGrayscale(i, 2); }, MakeColour(50, 50, 50)},
        {"alpha", 32, [](const Image& i) { return ExtractChannelAsGrayscale(i, 3); }, MakeColour(64, 64, 64)},
        {"alpha of 24-bit", 24, [](const Image& i) { return ExtractChannelAsGrayscale(i, 3); }, MakeColour(255, 255, 255)},
        {"opaque", 32, MakeOpaqueCopy, MakeColour(200, 100, 50, 255)},
        {"invert", 32, InvertAlphaCopy, MakeColour(200, 100, 50, 191)},
        {"invert 24-bit", 24, InvertAlphaCopy, MakeColour(200, 100, 50, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr source = OnePixel(src, c.depth);
        ImagePtr result = c.build(*source);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->depth, 32);
        EXPECT_EQ(GetPixelColour(*result, 0, 0), c.expected);
        EXPECT_EQ(GetPixelColour(*source, 0, 0), c.depth == 32 ? src : (src | 0xFF000000u));
    }
    EXPECT_FALSE(ExtractChannelAsGrayscale(*OnePixel(src), 4));
    EXPECT_FALSE(ExtractChannelAsGrayscale(*OnePixel(src), -1));
}

TEST(AdjustChannels, RowsKeepTheirPlace) {
    ImagePtr image = Gradient(5, 3);
    std::vector<uint32_t> pixels;
    CopyImagePixels(*image, pixels);
    ASSERT_EQ(pixels.size(), 15u);
    ImagePtr twice = InvertAlphaCopy(*InvertAlphaCopy(*image));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(pixels[size_t(y * 5 + x)], GetPixelColour(*image, x, y));
            EXPECT_EQ(GetPixelColour(*twice, x, y), GetPixelColour(*image, x, y));
        }
    Image empty;  // no storage: sized and zeroed, nothing read
    empty.width = 2;
    empty.height = 2;
    CopyImagePixels(empty, pixels);
    EXPECT_EQ(pixels, std::vector<uint32_t>(4, 0));
    EXPECT_FALSE(MakeOpaqueCopy(empty));
}

TEST(AdjustChannels, MaskLumaBecomesAlpha) {
    struct Case {
        uint32_t mask;
        int alpha;
    } cases[] = {
        {MakeColour(255, 255, 255, 0), 255}, {MakeColour(0, 0, 0), 0},   {MakeColour(128, 128, 128), 128},
        {MakeColour(255, 0, 0), 54},         {MakeColour(0, 255, 0), 182}, {MakeColour(0, 0, 255), 18},
    };
    ImagePtr image = OnePixel(MakeColour(10, 20, 30, 7));
    for (const Case& c : cases) {
        ImagePtr result = ApplyMaskAsAlpha(*image, *OnePixel(c.mask));
        ASSERT_TRUE(result);
        EXPECT_EQ(GetPixelColour(*result, 0, 0), MakeColour(10, 20, 30, c.alpha)) << std::hex << c.mask;
    }
}

TEST(AdjustChannels, MaskOfAnotherSizeIsScaled) {
    ImagePtr image = CreateImage(4, 2, 24, MakeColour(1, 2, 3));
    // Left half black, right half white, at several sizes.
    auto split = [](int w, int h) {
        ImagePtr m = CreateImage(w, h, 32, MakeColour(0, 0, 0));
        FillRect(*m, w / 2, 0, w - w / 2, h, MakeColour(255, 255, 255));
        return m;
    };
    for (auto [w, h] : {std::pair{4, 2}, std::pair{8, 4}, std::pair{16, 8}, std::pair{2, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ImagePtr result = ApplyMaskAsAlpha(*image, *split(w, h));
        ASSERT_TRUE(result);
        ASSERT_EQ(result->width, 4);
        ASSERT_EQ(result->height, 2);
        EXPECT_LT(ColourAlpha(GetPixelColour(*result, 0, 1)), 40);
        EXPECT_GT(ColourAlpha(GetPixelColour(*result, 3, 0)), 215);
        EXPECT_EQ(GetPixelColour(*result, 3, 0) & 0xFFFFFF, MakeColour(1, 2, 3) & 0xFFFFFF);
    }
    // Halving keeps exact bytes when the mask is exactly twice as large.
    ImagePtr halved = ApplyMaskAsAlpha(*image, *split(8, 4));
    EXPECT_EQ(ColourAlpha(GetPixelColour(*halved, 0, 0)), 0);
    EXPECT_EQ(ColourAlpha(GetPixelColour(*halved, 3, 1)), 255);
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
        {kNormalRebuildZ, MakeColour(255, 255, 0), MakeColour(255, 255, 128)},  // no room for Z
        {kNormalNormalize, MakeColour(128, 128, 255), MakeColour(128, 128, 255)},
        {kNormalNormalize, MakeColour(255, 128, 128, 3), MakeColour(255, 128, 128, 3)},
        {kNormalNormalize, MakeColour(255, 255, 255), MakeColour(201, 201, 201)},
        {kNormalNormalize, MakeColour(128, 128, 128), MakeColour(201, 201, 201)},
        {kNormalNormalize, MakeColour(0, 0, 0, 0), MakeColour(54, 54, 54, 0)},
    };
    for (const Case& c : cases) {
        ImagePtr result = ApplyNormalMapOperation(*OnePixel(c.in), c.operation);
        ASSERT_TRUE(result);
        EXPECT_EQ(GetPixelColour(*result, 0, 0), c.out) << c.operation << " " << std::hex << c.in;
    }
    EXPECT_FALSE(ApplyNormalMapOperation(*OnePixel(0), 5));

    ImagePtr image = Gradient(4, 3);
    for (auto flip : {FlipNormalGreen, FlipNormalRed}) {
        ImagePtr twice = flip(*flip(*image));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(GetPixelColour(*twice, x, y), GetPixelColour(*image, x, y));
    }
}

TEST(AdjustNormalMap, PackedBytesStayInRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double c;
        int byte;
    } cases[] = {{-1.0, 0}, {0.0, 128}, {1.0, 255}, {nan, 128}, {3.0, 255}, {-HUGE_VAL, 0}};
    for (const Case& c : cases) EXPECT_EQ(ColourRed(PackNormalToColor(c.c, 0, 0, 255)), c.byte) << c.c;
    EXPECT_EQ(PackNormalToColor(1.0, -1.0, 0.0, 77), MakeColour(255, 0, 128, 77));
}

TEST(AdjustNormalMap, HeightMapSlopesAndWrapAround) {
    const uint32_t flat = MakeColour(128, 128, 255);
    struct Case {
        const char* name;
        int w, h;
        std::function<void(Image&)> paint;
        std::function<void(const Image&)> check;
    } cases[] = {
        {"uniform", 3, 3, [](Image&) {},
         [&](const Image& r) {
             for (int i = 0; i < 9; ++i) EXPECT_EQ(GetPixelColour(r, i % 3, i / 3), flat);
         }},
        {"one pixel wide", 1, 4, [](Image& i) { SetPixelColour(i, 0, 1, MakeColour(255, 255, 255)); },
         [](const Image& r) {
             for (int y = 0; y < 4; ++y) EXPECT_EQ(ColourRed(GetPixelColour(r, 0, y)), 128);
             EXPECT_GT(ColourGreen(GetPixelColour(r, 0, 0)), 128);  // rises downward
             EXPECT_LT(ColourGreen(GetPixelColour(r, 0, 2)), 128);
         }},
        {"one pixel high", 4, 1, [](Image& i) { SetPixelColour(i, 2, 0, MakeColour(255, 255, 255)); },
         [](const Image& r) {
             for (int x = 0; x < 4; ++x) EXPECT_EQ(ColourGreen(GetPixelColour(r, x, 0)), 128);
         }},
        {"stripe", 6, 2, [](Image& i) { FillRect(i, 3, 0, 1, 2, MakeColour(255, 255, 255)); },
         [](const Image& r) {
             EXPECT_LT(ColourRed(GetPixelColour(r, 2, 0)), 128);
             EXPECT_GT(ColourRed(GetPixelColour(r, 4, 1)), 128);
             EXPECT_EQ(ColourRed(GetPixelColour(r, 0, 0)), 128);
         }},
        {"stripe in the first column", 5, 2, [](Image& i) { FillRect(i, 0, 0, 1, 2, MakeColour(255, 255, 255)); },
         [](const Image& r) {
             EXPECT_LT(ColourRed(GetPixelColour(r, 4, 0)), 128);
             EXPECT_GT(ColourRed(GetPixelColour(r, 1, 1)), 128);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr image = CreateImage(c.w, c.h, 32, MakeColour(20, 20, 20, 5));
        c.paint(*image);
        ImagePtr result = MakeNormalMapFromHeight(*image, 2.0);
        ASSERT_TRUE(result);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) EXPECT_EQ(ColourAlpha(GetPixelColour(*result, x, y)), 255);
        c.check(*result);
    }
    // A steep slope points the normal almost flat, not into garbage.
    ImagePtr stripe = CreateImage(4, 1, 32, MakeColour(0, 0, 0));
    SetPixelColour(*stripe, 2, 0, MakeColour(255, 255, 255));
    ImagePtr steep = MakeNormalMapFromHeight(*stripe, 1e6);
    EXPECT_EQ(GetPixelColour(*steep, 1, 0), MakeColour(0, 128, 128));
    EXPECT_EQ(GetPixelColour(*steep, 3, 0), MakeColour(255, 128, 128));
}

}  // namespace
