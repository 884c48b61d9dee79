// Levels: every colour value goes through an input range (black and white
// points), a gamma curve and an output range, first with its own channel's
// record and then with the master record. A setting is baked into a 3 x 256
// byte table before any pixel is touched; alpha is never changed.
#pragma once

#include <array>
#include <cstdint>

#include "toolkit/image.h"

struct LevelsRecord {
    int64_t inBlack = 0;
    int64_t inWhite = 255;
    double gamma = 1.0;
    int64_t outBlack = 0;
    int64_t outWhite = 255;
};

// 0 master ("RGB"), 1 red, 2 green, 3 blue: the order of the dialog's channel list.
using LevelsSet = std::array<LevelsRecord, 4>;
// Rows red, green, blue; column = 8-bit value.
using ChannelHistogram = std::array<std::array<int64_t, 256>, 3>;
using LevelsLut = std::array<std::array<uint8_t, 256>, 3>;
// Per channel and input value: 0 survives, 255 clipped to black, 1 clipped to white.
using LevelsClipMarks = std::array<std::array<uint8_t, 256>, 3>;

constexpr uint8_t kClipToBlack = 255;
constexpr uint8_t kClipToWhite = 1;

void ResetLevelsRecord(LevelsRecord& record);
void ResetAllLevelsRecords(LevelsSet& set);
// One stage of the mapping.
int64_t ApplyLevels(int64_t value, const LevelsRecord& record);
void BuildLevelsLut(const LevelsSet& set, LevelsLut& lut);
// A copy with red, green and blue mapped through the table; with showClipping,
// visible pixels that lose information are painted red (to white) or blue (to
// black) instead. Null when the copy cannot be made.
ImagePtr ApplyLevelsToCopy(const Image& image, const LevelsLut& lut, int showClipping, const LevelsClipMarks& marks);
bool AreLevelsNeutral(const LevelsSet& set);
// Resets the set, then stretches the master record over the range of values
// that occur in any of the three channels.
void FindUsedRange(const ChannelHistogram& histogram, LevelsSet& set);
void BuildLevelsClipMask(const LevelsSet& set, LevelsClipMarks& marks);
int64_t CountMarkedHistogramValues(const ChannelHistogram& histogram, const LevelsClipMarks& marks);
// Occurring input values that land on the same output as a lower occurring
// value of the same channel.
int64_t CountMergedTones(const ChannelHistogram& histogram, const LevelsLut& lut);
// Where the gamma handle stands, in input-value units.
double GetGammaHandlePosition(const LevelsRecord& record);
// Counts of red, green and blue over the pixels whose alpha is not 0.
void ComputeChannelHistograms(const Image& image, ChannelHistogram& histogram);
