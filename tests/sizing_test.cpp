// Power-of-two sizes, the alpha-weighted halving filter and shrink-by-halving.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "formats/sizing.h"
#include "toolkit/image.h"

namespace {

// The filter written out the plain way, one sample at a time, to check the
// row-wise implementation against.
ImagePtr ReferenceHalve(const Image& src, bool halveW, bool halveH) {
    const int w = src.width, h = src.height;
    const int nw = halveW ? std::max(w / 2, 1) : w;
    const int nh = halveH ? std::max(h / 2, 1) : h;
    const int fx = halveW ? 2 : 1, fy = halveH ? 2 : 1;
    ImagePtr dst = CreateImage(nw, nh);
    for (int y = 0; y < nh; ++y) {
        for (int x = 0; x < nw; ++x) {
            int64_t sr = 0, sg = 0, sb = 0, sa = 0, count = 0;
            for (int dy = 0; dy < fy; ++dy) {
                for (int dx = 0; dx < fx; ++dx) {
                    const uint32_t c = GetPixelColour(src, std::min(x * fx + dx, w - 1), std::min(y * fy + dy, h - 1));
                    const int a = ColourAlpha(c);
                    sr += ColourRed(c) * a;
                    sg += ColourGreen(c) * a;
                    sb += ColourBlue(c) * a;
                    sa += a;
                    ++count;
                }
            }
            uint32_t out;
            if (sa >= 1) {
                out = MakeColour(int(sr / sa), int(sg / sa), int(sb / sa), int(sa / count));
            } else {
                const uint32_t first = GetPixelColour(src, x * fx, y * fy);
                out = first & 0x00FFFFFFu;
            }
            SetPixelColour(*dst, x, y, out);
        }
    }
    return dst;
}

// Pixels mixing opaque, transparent, uniform-alpha and random-alpha runs so
// every branch of the filter is reached.
ImagePtr NoiseImage(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    ImagePtr img = CreateImage(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t v = rng();
            int a;
            switch ((x / 2 + y / 2) % 4) {
                case 0: a = 255; break;
                case 1: a = 0; break;
                case 2: a = 128; break;
                default: a = int(v >> 24); break;
            }
            SetPixelColour(*img, x, y, MakeColour(int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255), a));
        }
    }
    return img;
}

void ExpectSamePixels(const Image& a, const Image& b) {
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            ASSERT_EQ(GetPixelColour(a, x, y), GetPixelColour(b, x, y)) << "at " << x << "," << y;
}

}  // namespace

TEST(FormatsSizing, PowerOfTwoHelpers) {
    struct Case { int64_t n; bool isPow2; int64_t floor, nearest; };
    const Case cases[] = {
        {-5, false, 1, 1}, {0, false, 1, 1}, {1, true, 1, 1}, {2, true, 2, 2}, {3, false, 2, 2},
        {5, false, 4, 4},  {6, false, 4, 4}, {7, false, 4, 8}, {768, false, 512, 512},
        {769, false, 512, 1024}, {1024, true, 1024, 1024}, {INT64_MAX, false, INT64_C(1) << 62, INT64_C(1) << 62},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPowerOfTwo(c.n), c.isPow2) << c.n;
        EXPECT_EQ(GetFloorPowerOfTwo(c.n), c.floor) << c.n;
        EXPECT_EQ(GetNearestPowerOfTwo(c.n), c.nearest) << c.n;
    }
}

TEST(FormatsSizing, FitSizePowerOfTwoKeepsAspectAndLimit) {
    struct Case { int w, h, m, ow, oh; };
    const Case cases[] = {
        {2000, 1000, 1024, 1024, 512}, {1500, 700, 1024, 1024, 512}, {600, 300, 1024, 512, 256},
        {768, 768, 1024, 512, 512},    {3, 3, 1024, 2, 2},           {1000, 10, 1000, 1000, 8},
        {1000, 2000, 1024, 512, 1024}, {1, 1, 1024, 1, 1},           {4096, 3, 256, 256, 1},
    };
    for (const Case& c : cases) {
        int ow = -1, oh = -1;
        FitSizePowerOfTwo(c.w, c.h, c.m, ow, oh);
        EXPECT_EQ(ow, c.ow) << c.w << "x" << c.h << " max " << c.m;
        EXPECT_EQ(oh, c.oh) << c.w << "x" << c.h << " max " << c.m;
    }
}

TEST(FormatsSizing, HalveMatchesPlainFilter) {
    struct Size { int w, h; };
    const Size sizes[] = {{1, 1}, {2, 1}, {1, 2}, {1, 7}, {5, 3}, {8, 8}, {17, 9}, {64, 33}};
    uint32_t seed = 1;
    for (const Size& s : sizes) {
        ImagePtr src = NoiseImage(s.w, s.h, seed++);
        for (int flags = 0; flags < 4; ++flags) {
            const bool hw = flags & 1, hh = flags & 2;
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " halveW " << hw << " halveH " << hh);
            ImagePtr got = HalveImage(*src, hw, hh);
            ASSERT_NE(got, nullptr);
            ExpectSamePixels(*got, *ReferenceHalve(*src, hw, hh));
        }
    }
}

TEST(FormatsSizing, HalveWeighsColourByAlpha) {
    struct Case { uint32_t left, right, expected; };
    const Case cases[] = {
        // Transparent blue must not tint the red.
        {MakeColour(255, 0, 0, 255), MakeColour(0, 0, 255, 0), MakeColour(255, 0, 0, 127)},
        // All transparent keeps the first sample's colour.
        {MakeColour(10, 20, 30, 0), MakeColour(200, 200, 200, 0), MakeColour(10, 20, 30, 0)},
        {MakeColour(255, 255, 255, 255), MakeColour(0, 0, 0, 255), MakeColour(127, 127, 127, 255)},
        {MakeColour(200, 0, 0, 1), MakeColour(0, 200, 0, 3), MakeColour(50, 150, 0, 2)},
    };
    for (const Case& c : cases) {
        ImagePtr src = CreateImage(2, 1);
        SetPixelColour(*src, 0, 0, c.left);
        SetPixelColour(*src, 1, 0, c.right);
        ImagePtr got = HalveImage(*src, true, true);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->width, 1);
        EXPECT_EQ(got->height, 1);
        EXPECT_EQ(GetPixelColour(*got, 0, 0), c.expected);
    }
}

TEST(FormatsSizing, HalveReadsTwentyFourBitAsOpaque) {
    ImagePtr src = CreateImage(4, 2, 24, MakeColour(100, 50, 25));
    ImagePtr got = HalveImage(*src, true, true);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->depth, 32);
    EXPECT_EQ(GetPixelColour(*got, 1, 0), MakeColour(100, 50, 25, 255));
}

TEST(FormatsSizing, ShrinkHalvesThenResamples) {
    struct Case { int w, h, tw, th; };
    const Case cases[] = {{1000, 600, 300, 200}, {1000, 300, 200, 200}, {64, 64, 16, 16},
                          {16, 16, 40, 30},      {7, 5, 7, 5},          {9, 1, 1, 1}};
    for (const Case& c : cases) {
        ImagePtr src = NoiseImage(c.w, c.h, 7);
        ImagePtr got = ShrinkImageByHalving(*src, c.tw, c.th);
        ASSERT_NE(got, nullptr) << c.w << "x" << c.h;
        EXPECT_EQ(got->width, c.tw);
        EXPECT_EQ(got->height, c.th);
        EXPECT_EQ(got->depth, 32);
    }
    // Exact halvings need no resample: two passes of the filter, bit for bit.
    ImagePtr src = NoiseImage(64, 64, 3);
    ExpectSamePixels(*ShrinkImageByHalving(*src, 16, 16), *HalveImage(*HalveImage(*src, true, true), true, true));
}

TEST(FormatsSizing, ShrinkRefusesTargetsBelowOne) {
    ImagePtr src = CreateImage(8, 8);
    EXPECT_EQ(ShrinkImageByHalving(*src, 0, 4), nullptr);
    EXPECT_EQ(ShrinkImageByHalving(*src, 4, -1), nullptr);
}
