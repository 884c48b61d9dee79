// Counting the histogram rows and the HDR brightness bins, and the statistics
// line built from them.
#include <gtest/gtest.h>

#include <cmath>

#include "adjust/histogram.h"

namespace {

class AdjustHistogram : public ::testing::Test {
protected:
    void SetUp() override { ResetHistogramGlobals(); }
    void TearDown() override { ResetHistogramGlobals(); }
};

// An RGBE pixel of brightness 2^stops (grey mantissa 128 + exponent).
void PutGrey(HdrBlock& block, int index, int exponent, uint8_t mantissa = 128) {
    uint8_t* p = block.bytes.data() + size_t(index) * 4;
    p[0] = p[1] = p[2] = mantissa;
    p[3] = uint8_t(exponent);
}

TEST_F(AdjustHistogram, CountsLeaveTransparentPixelsOutOfColourRows) {
    struct Case {
        uint32_t colour;
        int lum;  // -1: transparent
    } cases[] = {
        {MakeColour(255, 255, 255), 255},
        {MakeColour(255, 0, 0), 54},
        {MakeColour(0, 255, 0), 182},
        {MakeColour(0, 0, 255), 18},
        {MakeColour(10, 20, 30, 7), 18},
        {MakeColour(90, 90, 90, 0), -1},
    };
    const int n = int(std::size(cases));
    ImagePtr image = CreateImage(n, 2, 32, MakeColour(0, 0, 0, 0));
    for (int i = 0; i < n; ++i) SetPixelColour(*image, i, 1, cases[i].colour);
    TexInfo info;
    ComputeHistogram(image.get(), info);

    EXPECT_EQ(gHistogramPixelTotal, 2 * n);
    EXPECT_EQ(gHistogramTransparent, n + 1);
    EXPECT_EQ(gHistogramCounts[kHistAlpha][0], n + 1);
    EXPECT_EQ(gHistogramCounts[kHistAlpha][7], 1);
    EXPECT_EQ(gHistogramCounts[kHistAlpha][255], 4);
    for (const Case& c : cases) {
        if (c.lum >= 0) {
            EXPECT_GE(gHistogramCounts[kHistLuminance][c.lum], 1) << c.lum;
        }
    }
    EXPECT_EQ(gHistogramCounts[kHistRed][90], 0) << "a transparent pixel's colour is not counted";
    int64_t lumTotal = 0;
    for (int64_t v : gHistogramCounts[kHistLuminance]) lumTotal += v;
    EXPECT_EQ(lumTotal, n - 1);
    EXPECT_EQ(gIsHdrImage, 0);

    // A second picture starts from zero, not from the first one's counts.
    ImagePtr small = CreateImage(1, 1, 32, MakeColour(1, 2, 3));
    ComputeHistogram(small.get(), info);
    EXPECT_EQ(gHistogramTransparent, 0);
    EXPECT_EQ(gHistogramCounts[kHistAlpha][0], 0);
    EXPECT_EQ(gHistogramCounts[kHistRed][1], 1);
}

TEST_F(AdjustHistogram, StatisticsLine) {
    ImagePtr image = CreateImage(4, 1, 32, MakeColour(0, 0, 0, 0));
    SetPixelColour(*image, 0, 0, MakeColour(10, 0, 0));
    SetPixelColour(*image, 1, 0, MakeColour(21, 0, 0));
    TexInfo info;
    ComputeHistogram(image.get(), info);
    struct Case {
        int item;
        const char* line;
    } cases[] = {
        {kHistItemRed, "Mean: 15.5   Min: 10   Max: 21   Pixels: 4   (2 transparent pixels not counted)"},
        {kHistItemGreen, "Mean: 0.0   Min: 0   Max: 0   Pixels: 4   (2 transparent pixels not counted)"},
        {kHistItemRgb, "(luminance) Mean: 3.0   Min: 2   Max: 4   Pixels: 4   (2 transparent pixels not counted)"},
        {kHistItemAlpha, "Mean: 127.5   Min: 0   Max: 255   Pixels: 4"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatHistogramStats(c.item), c.line) << c.item;

    // Nothing visible: the colour items have nothing to describe.
    ImagePtr clear = CreateImage(3, 3, 32, MakeColour(50, 50, 50, 0));
    ComputeHistogram(clear.get(), info);
    EXPECT_EQ(FormatHistogramStats(kHistItemRgb), "");
    EXPECT_EQ(FormatHistogramStats(kHistItemBlue), "");
    EXPECT_EQ(FormatHistogramStats(kHistItemAlpha), "Mean: 0.0   Min: 0   Max: 0   Pixels: 9");
}

TEST_F(AdjustHistogram, HdrBinsAndRange) {
    // Grey mantissa 128 means 0.5 + 0.5/256 of 2^(E-128): stops = E - 129 + a
    // hair, so exponents pick the brightness directly.
    struct Case {
        std::vector<int> exponents;  // 0 = black
        double min, max;
        int firstBin, lastBin;
    } cases[] = {
        {{130, 131}, 1, 5, 0, 40},          // under 4 stops: widened from the floored minimum
        {{121, 129, 137}, -8, 9, 0, 150},
        {{0, 129, 0}, 0, 4, 0, 0},          // black pixels are left out
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exponents.size());
        TexInfo info;
        info.isHdr = 1;
        info.hdrData = std::make_unique<HdrBlock>();
        info.hdrData->width = int(c.exponents.size());
        info.hdrData->height = 1;
        info.hdrData->bytes.assign(c.exponents.size() * 4, 0);
        for (size_t i = 0; i < c.exponents.size(); ++i) PutGrey(*info.hdrData, int(i), c.exponents[i]);
        ImagePtr image = CreateImage(int(c.exponents.size()), 1);
        ComputeHistogram(image.get(), info);
        ASSERT_EQ(gIsHdrImage, 1);
        EXPECT_EQ(gHdrHistogramMin, c.min);
        EXPECT_EQ(gHdrHistogramMax, c.max);
        int64_t total = 0, nonBlack = 0;
        for (int64_t v : gHdrHistogramBins) total += v;
        for (int e : c.exponents) nonBlack += e != 0;
        EXPECT_EQ(total, nonBlack);
        EXPECT_GE(gHdrHistogramBins[c.firstBin], 1);
        EXPECT_GE(gHdrHistogramBins[c.lastBin], 1);
    }
}

TEST_F(AdjustHistogram, HdrStatisticsAndShortBlock) {
    TexInfo info;
    info.isHdr = 1;
    info.hdrData = std::make_unique<HdrBlock>();
    // The block claims more pixels than it holds: only the bytes present count.
    info.hdrData->width = 64;
    info.hdrData->height = 64;
    info.hdrData->bytes.assign(3 * 4, 0);
    PutGrey(*info.hdrData, 0, 130);
    PutGrey(*info.hdrData, 1, 130);
    PutGrey(*info.hdrData, 2, 133);
    ComputeHistogram(nullptr, info);
    int64_t total = 0;
    for (int64_t v : gHdrHistogramBins) total += v;
    EXPECT_EQ(total, 3);
    gHistogramWhitePoint = 1.5;
    EXPECT_EQ(FormatHistogramStats(kHistItemHdr),
              "Range: 1 to 5 stops   median: 1.0   white point: 1.5 (exposure -1.5 EV)");

    // The HDR flag without a block (or a block without the flag) is not HDR.
    TexInfo noBlock;
    noBlock.isHdr = 1;
    ComputeHistogram(nullptr, noBlock);
    EXPECT_EQ(gIsHdrImage, 0);
    info.isHdr = 0;
    ComputeHistogram(nullptr, info);
    EXPECT_EQ(gIsHdrImage, 0);
}

}  // namespace
