#include "adjust/histogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "toolkit/numbers.h"
#include "toolkit/parallel.h"

int gHistogramWindow = 0;
int gHistogramChannelGadget = 0;
int gHistogramLogCheck = 0;
int gHistogramCanvas = 0;
int gHistogramStats = 0;
int64_t gHistogramLog = 0;

int64_t gHistogramCounts[5][256];
int64_t gHistogramPixelTotal = 0;
int64_t gHistogramTransparent = 0;
int64_t gIsHdrImage = 0;
int64_t gHdrHistogramBins[kHdrHistogramBinCount];
double gHdrHistogramMin = 1000.0;
double gHdrHistogramMax = -1000.0;
double gHistogramWhitePoint = 0.0;

void ResetHistogramGlobals() {
    gHistogramWindow = gHistogramChannelGadget = gHistogramLogCheck = gHistogramCanvas = gHistogramStats = 0;
    gHistogramLog = 0;
    std::memset(gHistogramCounts, 0, sizeof gHistogramCounts);
    gHistogramPixelTotal = gHistogramTransparent = gIsHdrImage = 0;
    std::memset(gHdrHistogramBins, 0, sizeof gHdrHistogramBins);
    gHdrHistogramMin = 1000.0;
    gHdrHistogramMax = -1000.0;
    gHistogramWhitePoint = 0.0;
}

namespace {

// Bands count into their own rows and the caller stores the sum; counts are
// whole numbers, so any order of summing gives the one-pass result.
struct RowCounts {
    int64_t counts[5][256] = {};
    int64_t transparent = 0;

    void Add(const RowCounts& other) {
        for (int r = 0; r < 5; ++r)
            for (int v = 0; v < 256; ++v) counts[r][v] += other.counts[r][v];
        transparent += other.transparent;
    }
};

void CountBand(const Image& image, int64_t firstRow, int64_t endRow, RowCounts& out) {
    int64_t* const red = out.counts[kHistRed];
    int64_t* const green = out.counts[kHistGreen];
    int64_t* const blue = out.counts[kHistBlue];
    int64_t* const alpha = out.counts[kHistAlpha];
    int64_t* const lum = out.counts[kHistLuminance];
    const int bpp = image.BytesPerPixel();
    int64_t transparent = 0;
    for (int y = int(firstRow); y < int(endRow); ++y) {
        const uint8_t* p = image.RowFromTop(y);
        const uint8_t* const end = p + size_t(image.width) * size_t(bpp);
        for (; p < end; p += bpp) {
            const int a = bpp == 4 ? p[3] : 255;
            ++alpha[a];
            if (a == 0) {
                ++transparent;
                continue;
            }
            const int b = p[0], g = p[1], r = p[2];
            ++red[r];
            ++green[g];
            ++blue[b];
            ++lum[(r * 2126 + g * 7152 + b * 722) / 10000];
        }
    }
    out.transparent += transparent;
}

void CountRows(const Image& image) {
    const int bpp = image.BytesPerPixel();
    if (!image.pixels || (bpp != 3 && bpp != 4)) return;
    RowCounts total;
    std::mutex merge;
    ParallelForBands(image.height, GrainForRows(image.width), [&](int64_t first, int64_t end) {
        RowCounts band;
        CountBand(image, first, end, band);
        std::lock_guard<std::mutex> lock(merge);
        total.Add(band);
    });
    std::memcpy(gHistogramCounts, total.counts, sizeof gHistogramCounts);
    gHistogramTransparent = total.transparent;
}

// Brightness in stops of one RGBE pixel; false for black (E = 0).
inline bool RgbeStops(const uint8_t* p, double& stops) {
    if (p[3] == 0) return false;
    const double y = ((p[0] + 0.5) * 0.2126 + (p[1] + 0.5) * 0.7152 + (p[2] + 0.5) * 0.0722) / 256.0 *
                     std::ldexp(1.0, int(p[3]) - 128);
    stops = std::log(y) / std::log(2.0);
    return true;
}

void CountHdr(const HdrBlock& block) {
    // The block's own size bounds the walk: a description whose size
    // disagrees with its block must not read past the bytes.
    const uint64_t pixels = std::min<uint64_t>(uint64_t(std::max(block.width, 0)) * uint64_t(std::max(block.height, 0)),
                                               block.bytes.size() / 4);
    const uint8_t* const data = block.bytes.data();
    // Two passes over the bytes instead of a per-pixel list: the range first,
    // then the bins; the brightness is recomputed identically. Minimum,
    // maximum and counts do not depend on the order the bands finish in.
    std::mutex merge;
    double lo = 1000.0, hi = -1000.0;
    ParallelForBands(int64_t(pixels), kMinBandWork, [&](int64_t first, int64_t end) {
        double bandLo = 1000.0, bandHi = -1000.0, s = 0.0;
        for (int64_t i = first; i < end; ++i) {
            if (!RgbeStops(data + i * 4, s)) continue;
            bandLo = std::min(bandLo, s);
            bandHi = std::max(bandHi, s);
        }
        std::lock_guard<std::mutex> lock(merge);
        lo = std::min(lo, bandLo);
        hi = std::max(hi, bandHi);
    });
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi - lo < 4.0) hi = lo + 4.0;
    gHdrHistogramMin = lo;
    gHdrHistogramMax = hi;
    const double scale = kHdrHistogramBinCount / (hi - lo);
    int64_t bins[kHdrHistogramBinCount] = {};
    ParallelForBands(int64_t(pixels), kMinBandWork, [&](int64_t first, int64_t end) {
        int64_t bandBins[kHdrHistogramBinCount] = {};
        double s = 0.0;
        for (int64_t i = first; i < end; ++i) {
            if (!RgbeStops(data + i * 4, s)) continue;
            const double pos = (s - lo) * scale;
            const int bin = pos <= 0.0 ? 0 : pos >= kHdrHistogramBinCount - 1 ? kHdrHistogramBinCount - 1 : int(pos);
            ++bandBins[bin];
        }
        std::lock_guard<std::mutex> lock(merge);
        for (int b = 0; b < kHdrHistogramBinCount; ++b) bins[b] += bandBins[b];
    });
    for (int b = 0; b < kHdrHistogramBinCount; ++b) gHdrHistogramBins[b] += bins[b];
}

}  // namespace

void ComputeHistogram(const Image* image, const TexInfo& info) {
    std::memset(gHistogramCounts, 0, sizeof gHistogramCounts);
    gHistogramPixelTotal = image ? int64_t(image->width) * int64_t(image->height) : 0;
    gHistogramTransparent = 0;
    if (image) CountRows(*image);

    gIsHdrImage = info.isHdr != 0 && info.hdrData ? 1 : 0;
    if (gIsHdrImage == 1) {
        std::memset(gHdrHistogramBins, 0, sizeof gHdrHistogramBins);
        CountHdr(*info.hdrData);
    }
}

int HistogramStatsRow(int item) {
    switch (item) {
        case kHistItemRed: return kHistRed;
        case kHistItemGreen: return kHistGreen;
        case kHistItemBlue: return kHistBlue;
        case kHistItemAlpha: return kHistAlpha;
        default: return kHistLuminance;
    }
}

std::string FormatHistogramStats(int item) {
    if (item == kHistItemHdr) {
        const double lo = gHdrHistogramMin, hi = gHdrHistogramMax;
        int64_t total = 0;
        for (int64_t n : gHdrHistogramBins) total += n;
        double median = lo;
        int64_t sum = 0;
        for (int i = 0; i < kHdrHistogramBinCount; ++i) {
            sum += gHdrHistogramBins[i];
            if (sum >= total / 2) {
                median = lo + (hi - lo) * (i + 0.5) / kHdrHistogramBinCount;
                break;
            }
        }
        return "Range: " + FormatFixed(lo, 0) + " to " + FormatFixed(hi, 0) + " stops   median: " +
               FormatFixed(median, 1) + "   white point: " + FormatFixed(gHistogramWhitePoint, 1) + " (exposure " +
               FormatFixed(0.0 - gHistogramWhitePoint, 1) + " EV)";
    }
    const int64_t* const row = gHistogramCounts[HistogramStatsRow(item)];
    int64_t total = 0;
    double weighted = 0.0;
    int lo = -1, hi = -1;
    for (int v = 0; v < 256; ++v) {
        if (row[v] <= 0) continue;
        total += row[v];
        weighted += double(v) * double(row[v]);
        if (lo < 0) lo = v;
        hi = v;
    }
    if (total <= 0) return "";
    std::string line = item == kHistItemRgb ? "(luminance) " : "";
    line += "Mean: " + FormatFixed(weighted / double(total), 1) + "   Min: " + std::to_string(lo) +
            "   Max: " + std::to_string(hi) + "   Pixels: " + std::to_string(gHistogramPixelTotal);
    if (gHistogramTransparent >= 1 && item != kHistItemAlpha)
        line += "   (" + std::to_string(gHistogramTransparent) + " transparent pixels not counted)";
    return line;
}
