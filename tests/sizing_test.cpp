// Power-of-two sizes, the alpha-weighted halving filter and shrink-by-halving.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "formats/sizing.h"

namespace {

// The filter the plain way, one sample at a time, to check the row code against.
uint32_t ReferenceHalvedPixel(const Image& src, int x, int y, int fx, int fy) {
    int64_t sr = 0, sg = 0, sb = 0, sa = 0;
    for (int dy = 0; dy < fy; ++dy) {
        for (int dx = 0; dx < fx; ++dx) {
            const uint32_t c = GetPixelColour(src, std::min(x * fx + dx, src.width - 1),
                                              std::min(y * fy + dy, src.height - 1));
            const int a = ColourAlpha(c);
            sr += ColourRed(c) * a, sg += ColourGreen(c) * a, sb += ColourBlue(c) * a, sa += a;
        }
    }
    if (sa == 0) return GetPixelColour(src, x * fx, y * fy) & 0x00FFFFFFu;
    return MakeColour(int(sr / sa), int(sg / sa), int(sb / sa), int(sa / (fx * fy)));
}

// Runs of opaque, transparent, equal and random alpha reach every branch.
ImagePtr NoiseImage(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    ImagePtr img = CreateImage(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t v = rng();
            const int alphas[4] = {255, 0, 128, int(v >> 24)};
            SetPixelColour(*img, x, y, (v & 0x00FFFFFFu) | uint32_t(alphas[(x / 2 + y / 2) % 4]) << 24);
        }
    }
    return img;
}

}  // namespace

TEST(FormatsSizing, PowerOfTwoHelpers) {
    struct Case { int64_t n; bool isPow2; int64_t floor, nearest; };
    const Case cases[] = {
        {-5, false, 1, 1}, {0, false, 1, 1}, {1, true, 1, 1}, {3, false, 2, 2}, {5, false, 4, 4},
        {6, false, 4, 4},  {7, false, 4, 8}, {768, false, 512, 512}, {769, false, 512, 1024},
        {1024, true, 1024, 1024}, {INT64_MAX, false, INT64_C(1) << 62, INT64_C(1) << 62},
        {INT64_MIN, false, 1, 1}, {INT64_MIN + 1, false, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPowerOfTwo(c.n), c.isPow2) << c.n;
        EXPECT_EQ(GetFloorPowerOfTwo(c.n), c.floor) << c.n;
        EXPECT_EQ(GetNearestPowerOfTwo(c.n), c.nearest) << c.n;
    }
    struct Fit { int w, h, m, ow, oh; };
    const Fit fits[] = {
        {2000, 1000, 1024, 1024, 512}, {1500, 700, 1024, 1024, 512}, {768, 768, 1024, 512, 512},
        {3, 3, 1024, 2, 2}, {1000, 10, 1000, 1000, 8}, {1000, 2000, 1024, 512, 1024}, {4096, 3, 256, 256, 1},
    };
    for (const Fit& f : fits) {
        int ow = -1, oh = -1;
        FitSizePowerOfTwo(f.w, f.h, f.m, ow, oh);
        EXPECT_EQ(ow, f.ow) << f.w << "x" << f.h << " max " << f.m;
        EXPECT_EQ(oh, f.oh) << f.w << "x" << f.h << " max " << f.m;
    }
}

TEST(FormatsSizing, HalveMatchesPlainFilter) {
    const int sizes[][2] = {{1, 1}, {2, 1}, {1, 7}, {5, 3}, {17, 9}, {64, 33}};
    for (const auto& s : sizes) {
        ImagePtr src = NoiseImage(s[0], s[1], uint32_t(s[0] * 100 + s[1]));
        for (int flags = 0; flags < 4; ++flags) {
            const bool hw = flags & 1, hh = flags & 2;
            ImagePtr got = HalveImage(*src, hw, hh);
            ASSERT_NE(got, nullptr);
            ASSERT_EQ(got->width, hw ? std::max(s[0] / 2, 1) : s[0]);
            ASSERT_EQ(got->height, hh ? std::max(s[1] / 2, 1) : s[1]);
            for (int y = 0; y < got->height; ++y)
                for (int x = 0; x < got->width; ++x)
                    ASSERT_EQ(GetPixelColour(*got, x, y), ReferenceHalvedPixel(*src, x, y, hw ? 2 : 1, hh ? 2 : 1))
                        << s[0] << "x" << s[1] << " flags " << flags << " at " << x << "," << y;
        }
    }
}

TEST(FormatsSizing, HalveWeighsColourByAlpha) {
    struct Case { uint32_t left, right, expected; };
    const Case cases[] = {
        {MakeColour(255, 0, 0, 255), MakeColour(0, 0, 255, 0), MakeColour(255, 0, 0, 127)},  // no blue tint
        {MakeColour(10, 20, 30, 0), MakeColour(200, 200, 200, 0), MakeColour(10, 20, 30, 0)},
        {MakeColour(200, 0, 0, 1), MakeColour(0, 200, 0, 3), MakeColour(50, 150, 0, 2)},
    };
    for (const Case& c : cases) {
        ImagePtr src = CreateImage(2, 1);
        SetPixelColour(*src, 0, 0, c.left);
        SetPixelColour(*src, 1, 0, c.right);
        EXPECT_EQ(GetPixelColour(*HalveImage(*src, true, false), 0, 0), c.expected);
    }
}

TEST(FormatsSizing, ShrinkHalvesThenResamples) {
    const int cases[][4] = {{1000, 600, 300, 200}, {1000, 300, 200, 200}, {16, 16, 40, 30}, {9, 1, 1, 1}};
    for (const auto& c : cases) {
        ImagePtr got = ShrinkImageByHalving(*NoiseImage(c[0], c[1], 7), c[2], c[3]);
        ASSERT_NE(got, nullptr) << c[0] << "x" << c[1];
        EXPECT_EQ(got->width, c[2]);
        EXPECT_EQ(got->height, c[3]);
    }
    // Exact halvings need no resample: two passes of the filter, bit for bit.
    ImagePtr src = NoiseImage(64, 64, 3);
    ImagePtr shrunk = ShrinkImageByHalving(*src, 16, 16);
    ImagePtr twice = HalveImage(*HalveImage(*src, true, true), true, true);
    EXPECT_EQ(std::memcmp(shrunk->pixels.get(), twice->pixels.get(), twice->ByteCount()), 0);
    // A target below 1 could never be reached.
    EXPECT_EQ(ShrinkImageByHalving(*src, 0, 4), nullptr);
    EXPECT_EQ(ShrinkImageByHalving(*src, 4, -1), nullptr);
}
