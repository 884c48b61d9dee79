// Levels arithmetic: the two-stage mapping, the range finder, the clipping
// statistics and the pixel pass.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "adjust/levels.h"

namespace {

LevelsRecord Record(int64_t inBlack, int64_t inWhite, double gamma = 1.0, int64_t outBlack = 0,
                    int64_t outWhite = 255) {
    return LevelsRecord{inBlack, inWhite, gamma, outBlack, outWhite};
}

ChannelHistogram EmptyHistogram() {
    ChannelHistogram h;
    for (auto& c : h) c.fill(0);
    return h;
}

TEST(AdjustLevels, ApplyLevelsMapsOneStage) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        int64_t value;
        LevelsRecord record;
        int64_t expected;
    } cases[] = {
        {"neutral keeps", 77, Record(0, 255), 77},
        {"stretch midpoint rounds half up", 126, Record(12, 240), 128},
        {"below black clamps", 3, Record(12, 240), 0},
        {"above white clamps", 250, Record(12, 240), 255},
        {"gamma 2 brightens", 64, Record(0, 255, 2.0), 128},  // sqrt(0.251) * 255 = 127.75
        {"inverted output", 0, Record(0, 255, 1.0, 255, 0), 255},
        {"zero width below", 99, Record(100, 100), 0},
        {"zero width at point", 100, Record(100, 100), 255},
        {"NaN gamma taken as straight", 64, Record(0, 255, nan), 64},
        {"zero gamma taken as straight", 64, Record(0, 255, 0.0), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ApplyLevels(c.value, c.record), c.expected);
    }
}

TEST(AdjustLevels, LutRunsChannelRecordBeforeMaster) {
    LevelsSet set;
    LevelsLut lut;
    BuildLevelsLut(set, lut);
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) ASSERT_EQ(lut[size_t(c)][size_t(v)], v);

    // Red: the channel doubles first (0..127 -> 0..255), then the master
    // clips its input at 200. In the other order 150 would clip to 255 first.
    set[1] = Record(0, 127);
    set[0] = Record(0, 200, 1.0, 0, 100);
    BuildLevelsLut(set, lut);
    EXPECT_EQ(lut[0][50], 50);   // 50 -> 100 -> 50
    EXPECT_EQ(lut[0][127], 100);  // 127 -> 255 -> clipped by the master at 100
    EXPECT_EQ(lut[1][150], 75);  // green: master only
    EXPECT_TRUE(!AreLevelsNeutral(set));
    ResetAllLevelsRecords(set);
    EXPECT_TRUE(AreLevelsNeutral(set));
    set[3].gamma = 1.0000001;
    EXPECT_FALSE(AreLevelsNeutral(set));
}

TEST(AdjustLevels, FindUsedRangeSpansAllThreeChannels) {
    struct Case {
        const char* what;
        std::vector<std::array<int, 2>> values;  // channel, value
        bool neutral;
        int64_t low, high;
    } cases[] = {
        {"nothing visible", {}, true, 0, 255},
        {"one flat grey", {{0, 90}, {1, 90}, {2, 90}}, true, 0, 255},
        {"full range over channels", {{0, 0}, {0, 10}, {1, 100}, {2, 255}}, true, 0, 255},
        {"flat colour", {{0, 10}, {1, 20}, {2, 30}}, false, 10, 30},
        {"narrow range", {{0, 12}, {1, 240}, {2, 100}}, false, 12, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelHistogram h = EmptyHistogram();
        for (const auto& cv : c.values) h[size_t(cv[0])][size_t(cv[1])] += 5;
        LevelsSet set;
        set[2].gamma = 3.0;  // stale setting: must be reset
        FindUsedRange(h, set);
        EXPECT_EQ(AreLevelsNeutral(set), c.neutral);
        EXPECT_EQ(set[0].inBlack, c.low);
        EXPECT_EQ(set[0].inWhite, c.high);
        EXPECT_EQ(set[2].gamma, 1.0);
    }
}

TEST(AdjustLevels, ClipMarksAndCounts) {
    LevelsSet set;
    set[1] = Record(20, 200);       // red channel
    set[0] = Record(0, 250, 1.0);   // master clips the top 5 of what red leaves
    LevelsClipMarks marks;
    BuildLevelsClipMask(set, marks);
    struct Case {
        int channel, value;
        uint8_t mark;
    } cases[] = {
        {0, 19, kClipToBlack}, {0, 20, 0},   {0, 200, kClipToWhite},  // 200 -> 255 > 250 by the master
        {0, 201, kClipToWhite}, {0, 195, 0}, {1, 250, 0}, {1, 251, kClipToWhite}, {2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channel) + "/" + std::to_string(c.value));
        EXPECT_EQ(marks[size_t(c.channel)][size_t(c.value)], c.mark);
    }
}

TEST(AdjustLevels, CopyMapsColoursAndPaintsClipping) {
    ImagePtr image = CreateImage(4, 1);
    SetPixelColour(*image, 0, 0, MakeColour(10, 128, 128, 255));  // red clips to black
    SetPixelColour(*image, 1, 0, MakeColour(128, 250, 128, 200));  // green clips to white
    SetPixelColour(*image, 2, 0, MakeColour(10, 250, 128, 0));     // invisible: mapped, never painted
    SetPixelColour(*image, 3, 0, MakeColour(5, 250, 128, 9));      // both: white wins

    LevelsSet set;
    set[1] = Record(20, 255);
    set[2] = Record(0, 240);
    LevelsLut lut;
    LevelsClipMarks marks;
    BuildLevelsLut(set, lut);
    BuildLevelsClipMask(set, marks);

    // Without the clipping display every pixel goes through the table; alpha stays.
    ImagePtr plain = ApplyLevelsToCopy(*image, lut, 0, marks);
    ASSERT_TRUE(plain);
    EXPECT_EQ(GetPixelColour(*plain, 2, 0), MakeColour(0, 255, 128, 0));
    EXPECT_EQ(GetPixelColour(*plain, 1, 0), MakeColour(117, 255, 128, 200));

    ImagePtr shown = ApplyLevelsToCopy(*image, lut, 1, marks);
    ASSERT_TRUE(shown);
    EXPECT_EQ(GetPixelColour(*shown, 0, 0), MakeColour(0, 0, 255, 255));
    EXPECT_EQ(GetPixelColour(*shown, 1, 0), MakeColour(255, 0, 0, 200));
    EXPECT_EQ(GetPixelColour(*shown, 2, 0), MakeColour(0, 255, 128, 0));
    EXPECT_EQ(GetPixelColour(*shown, 3, 0), MakeColour(255, 0, 0, 9));
}

}  // namespace
