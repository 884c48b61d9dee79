// Raw and smooth resizing, checked against a slow double-precision resample
// written out plainly here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/image.h"

namespace {

enum class Pattern { Noise, Step };

ImagePtr MakePicture(int w, int h, int depth, Pattern pattern, uint32_t seed = 1) {
    ImagePtr img = CreateImage(w, h, depth);
    if (!img) return nullptr;
    uint32_t state = seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t colour;
            if (pattern == Pattern::Noise) {
                state = state * 1664525u + 1013904223u;
                colour = state;
            } else {
                // Hard 0/255 edges in every channel, differing per channel.
                const bool a = (x / 2 + y) % 2 == 0, b = x < w / 2, c = y < h / 2;
                colour = MakeColour(a ? 255 : 0, b ? 255 : 0, c ? 255 : 0, a != b ? 255 : 0);
            }
            SetPixelColour(*img, x, y, colour);
        }
    return img;
}

// Mitchell-Netravali with B = C = 1/3, in its expanded form.
double Kernel(double x) {
    x = std::abs(x);
    if (x < 1) return (7 * x * x * x - 12 * x * x + 16.0 / 3) / 6;
    if (x < 2) return (-7.0 / 3 * x * x * x + 12 * x * x - 20 * x + 32.0 / 3) / 6;
    return 0;
}

// Normalised weights of target index t, one per source index.
std::vector<double> ReferenceWeights(int source, int target, int t) {
    std::vector<double> w(size_t(source), 0.0);
    const double scale = std::min(1.0, double(target) / source);
    const double centre = (t + 0.5) * source / target - 0.5;
    const double radius = 2 / scale;
    double sum = 0;
    for (int i = int(std::floor(centre - radius)); i <= int(std::ceil(centre + radius)); ++i) {
        const double k = Kernel((i - centre) * scale);
        w[size_t(std::clamp(i, 0, source - 1))] += k;
        sum += k;
    }
    for (double& v : w) v /= sum;
    return w;
}

// One channel value (0 = B .. 3 = A as stored) of the smooth result at (tx, ty).
int ReferencePixel(const Image& src, int tw, int th, int tx, int ty, int channel) {
    const std::vector<double> wx = ReferenceWeights(src.width, tw, tx);
    const std::vector<double> wy = ReferenceWeights(src.height, th, ty);
    double v = 0;
    for (int y = 0; y < src.height; ++y) {
        if (wy[size_t(y)] == 0) continue;
        const uint8_t* row = src.RowFromTop(y);
        for (int x = 0; x < src.width; ++x) v += wy[size_t(y)] * wx[size_t(x)] * row[x * src.BytesPerPixel() + channel];
    }
    return int(std::floor(std::clamp(v, 0.0, 255.0) + 0.5));
}

int StoredChannel(const Image& img, int x, int y, int channel) {
    return img.RowFromTop(y)[x * img.BytesPerPixel() + channel];
}

}  // namespace

TEST(ToolkitResize, SmoothMatchesReferenceWithinOneUnit) {
    struct Case { const char* name; int sw, sh, tw, th, depth; Pattern pattern; };
    const Case cases[] = {
        {"shrink x4 and x3", 64, 48, 16, 16, 32, Pattern::Noise},
        {"enlarge", 7, 5, 29, 23, 32, Pattern::Noise},
        {"enlarge hard edges", 8, 6, 24, 20, 32, Pattern::Step},
        {"shrink hard edges", 40, 30, 13, 7, 32, Pattern::Step},
        {"width only", 40, 10, 13, 10, 32, Pattern::Noise},
        {"height only", 10, 40, 10, 97, 32, Pattern::Noise},
        {"same size", 9, 7, 9, 7, 32, Pattern::Step},
        {"one pixel source", 1, 1, 9, 4, 32, Pattern::Noise},
        {"one pixel target", 5, 5, 1, 1, 32, Pattern::Noise},
        {"one row", 17, 1, 5, 3, 32, Pattern::Noise},
        {"odd factors up", 9, 9, 27, 45, 32, Pattern::Noise},
        {"huge shrink", 300, 3, 2, 3, 32, Pattern::Noise},
        {"huge enlarge", 2, 2, 500, 3, 32, Pattern::Step},
        {"24-bit", 19, 13, 8, 27, 24, Pattern::Noise},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr src = MakePicture(c.sw, c.sh, c.depth, c.pattern);
        ASSERT_NE(src, nullptr);
        ImagePtr dst = ResizeImage(*src, c.tw, c.th, ResizeMode::Smooth);
        ASSERT_NE(dst, nullptr);
        ASSERT_TRUE(dst->width == c.tw && dst->height == c.th && dst->depth == c.depth);
        int worst = 0;
        for (int y = 0; y < c.th; ++y)
            for (int x = 0; x < c.tw; ++x)
                for (int ch = 0; ch < dst->BytesPerPixel(); ++ch) {
                    const int diff = std::abs(StoredChannel(*dst, x, y, ch) - ReferencePixel(*src, c.tw, c.th, x, y, ch));
                    worst = std::max(worst, diff);
                }
        EXPECT_LE(worst, 1);
    }
}

// A tall squash needs more source rows per target row than are kept at once;
// the result must not change because of it.
TEST(ToolkitResize, SmoothTallSquashMatchesReference) {
    ImagePtr src = MakePicture(4096, 2048, 32, Pattern::Noise, 7);
    ASSERT_NE(src, nullptr);
    ImagePtr dst = ResizeImage(*src, 4096, 1, ResizeMode::Smooth);
    ASSERT_NE(dst, nullptr);
    for (int x : {0, 1, 2000, 4095})
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR(StoredChannel(*dst, x, 0, ch), ReferencePixel(*src, 4096, 1, x, 0, ch), 1) << x;
}

TEST(ToolkitResize, ConstantPictureStaysConstant) {
    struct Case { int sw, sh, tw, th, depth; uint32_t colour; };
    const Case cases[] = {
        {10, 10, 3, 7, 32, MakeColour(0, 128, 255, 1)},
        {3, 5, 31, 17, 32, MakeColour(255, 255, 255, 255)},
        {64, 1, 5, 9, 24, MakeColour(7, 254, 0)},
        {1000, 2, 1, 1, 32, MakeColour(1, 2, 3, 4)},
    };
    for (const Case& c : cases)
        for (ResizeMode mode : {ResizeMode::Smooth, ResizeMode::Raw}) {
            ImagePtr src = CreateImage(c.sw, c.sh, c.depth, c.colour);
            ImagePtr dst = ResizeImage(*src, c.tw, c.th, mode);
            ASSERT_NE(dst, nullptr);
            for (int y = 0; y < c.th; ++y)
                for (int x = 0; x < c.tw; ++x) ASSERT_EQ(GetPixelColour(*dst, x, y), GetPixelColour(*src, 0, 0));
        }
}

TEST(ToolkitResize, RawRepeatsOrPicksNearestPixel) {
    struct Case { int sw, tw; std::vector<int> expected; };  // source column (and row) per target index
    const Case cases[] = {
        {2, 6, {0, 0, 0, 1, 1, 1}},
        {3, 7, {0, 0, 1, 1, 1, 2, 2}},
        {5, 3, {0, 2, 4}},  // the source pixel under each target pixel's centre
        {4, 2, {1, 3}},
        {1, 3, {0, 0, 0}},
        {7, 1, {3}},
    };
    for (int depth : {32, 24})
        for (const Case& c : cases) {
            ImagePtr src = MakePicture(c.sw, c.sw, depth, Pattern::Noise);
            const int tw = int(c.expected.size());
            ImagePtr dst = ResizeImage(*src, tw, tw, ResizeMode::Raw);
            ASSERT_NE(dst, nullptr);
            EXPECT_EQ(dst->depth, depth);
            for (int y = 0; y < tw; ++y)
                for (int x = 0; x < tw; ++x)
                    ASSERT_EQ(GetPixelColour(*dst, x, y), GetPixelColour(*src, c.expected[x], c.expected[y]))
                        << c.sw << " -> " << tw << " at " << x << "," << y;
        }
}

TEST(ToolkitResize, BadSizesGiveNoImage) {
    ImagePtr src = MakePicture(4, 4, 32, Pattern::Noise);
    const int sizes[][2] = {{0, 5}, {5, 0}, {-3, 5}, {5, -1}, {32768, 1}, {1, 32768}};
    for (ResizeMode mode : {ResizeMode::Smooth, ResizeMode::Raw}) {
        for (const auto& s : sizes) EXPECT_EQ(ResizeImage(*src, s[0], s[1], mode), nullptr) << s[0] << "x" << s[1];
        ImagePtr widest = ResizeImage(*src, 32767, 1, mode);
        ASSERT_NE(widest, nullptr);
        EXPECT_EQ(widest->width, 32767);
    }
    Image empty;
    EXPECT_EQ(ResizeImage(empty, 4, 4, ResizeMode::Smooth), nullptr);
}
