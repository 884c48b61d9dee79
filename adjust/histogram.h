// The value distribution of the current picture, as the histogram window
// shows it: five 256-value count rows over the 8-bit picture and, for an HDR
// picture, its brightness in photographic stops taken from the RGBE data.
#pragma once

#include <cstdint>
#include <string>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Count rows.
enum HistogramRow : int { kHistRed = 0, kHistGreen = 1, kHistBlue = 2, kHistAlpha = 3, kHistLuminance = 4 };
// Items of the channel list (their item data).
enum HistogramItem : int {
    kHistItemRgb = 0,
    kHistItemRed,
    kHistItemGreen,
    kHistItemBlue,
    kHistItemLuminance,
    kHistItemAlpha,
    kHistItemHdr,
};
constexpr int kHdrHistogramBinCount = 160;

// The window and its gadgets (0 while closed).
extern int gHistogramWindow;
extern int gHistogramChannelGadget;
extern int gHistogramLogCheck;
extern int gHistogramCanvas;
extern int gHistogramStats;
// The log-scale box's state; kept for the whole run, not in the preferences.
extern int64_t gHistogramLog;

extern int64_t gHistogramCounts[5][256];
extern int64_t gHistogramPixelTotal;
extern int64_t gHistogramTransparent;
extern int64_t gIsHdrImage;
extern int64_t gHdrHistogramBins[kHdrHistogramBinCount];
extern double gHdrHistogramMin;
extern double gHdrHistogramMax;
extern double gHistogramWhitePoint;

// Clears all of the above (the window handles included).
void ResetHistogramGlobals();

// Fills every count, total and HDR value from the picture and its description.
// A null image leaves the 8-bit counts at zero.
void ComputeHistogram(const Image* image, const TexInfo& info);

// The statistics line for one channel item (empty when there is nothing to
// describe).
std::string FormatHistogramStats(int item);
// The count row whose statistics an 8-bit item shows.
int HistogramStatsRow(int item);
