#include "adjust/levels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "toolkit/parallel.h"

namespace {

// Pixels are stored B, G, R, A.
constexpr int kBlue = 0, kGreen = 1, kRed = 2, kAlpha = 3;

bool IsNeutral(const LevelsRecord& r) {
    return r.inBlack == 0 && r.inWhite == 255 && r.gamma == 1.0 && r.outBlack == 0 && r.outWhite == 255;
}

}  // namespace

void ResetLevelsRecord(LevelsRecord& record) { record = LevelsRecord{}; }

void ResetAllLevelsRecords(LevelsSet& set) {
    for (LevelsRecord& r : set) ResetLevelsRecord(r);
}

int64_t ApplyLevels(int64_t value, const LevelsRecord& record) {
    double t;
    const int64_t width = record.inWhite - record.inBlack;
    // A record without width would divide by zero: it becomes a hard step at
    // its white point.
    if (width <= 0)
        t = value >= record.inWhite ? 1.0 : 0.0;
    else
        t = double(value - record.inBlack) / double(width);
    if (t < 0.0) t = 0.0;
    if (t > 1.0) t = 1.0;
    // A gamma that is not a positive number would turn every value into NaN
    // or infinity; such a curve is taken as straight.
    if (record.gamma != 1.0 && record.gamma > 0.0) t = std::pow(t, 1.0 / record.gamma);
    double result = double(record.outBlack) + t * double(record.outWhite - record.outBlack) + 0.5;
    // Keep the conversion defined whatever output points a caller hands in.
    result = std::clamp(result, -9.0e18, 9.0e18);
    return int64_t(result);
}

void BuildLevelsLut(const LevelsSet& set, LevelsLut& lut) {
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            const int64_t out = ApplyLevels(ApplyLevels(v, set[size_t(c) + 1]), set[0]);
            lut[size_t(c)][size_t(v)] = uint8_t(std::clamp<int64_t>(out, 0, 255));
        }
    }
}

ImagePtr ApplyLevelsToCopy(const Image& image, const LevelsLut& lut, int showClipping, const LevelsClipMarks& marks) {
    if (!image.pixels) return nullptr;
    // Each band copies its rows (padding included, as a whole copy would)
    // and maps them while they are still in the cache.
    ImagePtr copy = CreateImageUnfilled(image.width, image.height, image.depth);
    if (!copy) return nullptr;
    const int bpp = copy->BytesPerPixel();
    const bool hasAlpha = bpp == 4;
    const bool clipping = showClipping != 0;
    const uint8_t* lr = lut[0].data();
    const uint8_t* lg = lut[1].data();
    const uint8_t* lb = lut[2].data();
    const uint8_t* mr = marks[0].data();
    const uint8_t* mg = marks[1].data();
    const uint8_t* mb = marks[2].data();
    const size_t pitch = size_t(copy->pitch);
    uint8_t* const first = copy->FirstStoredRow();
    const uint8_t* const source = image.FirstStoredRow();
    const int width = copy->width;
    ParallelForBands(copy->height, GrainForRows(width), [&](int64_t begin, int64_t end) {
        std::memcpy(first + size_t(begin) * pitch, source + size_t(begin) * pitch, size_t(end - begin) * pitch);
        uint8_t* row = first + size_t(begin) * pitch;
        for (int64_t y = begin; y < end; ++y, row += pitch) {
            uint8_t* p = row;
            for (int x = 0; x < width; ++x, p += bpp) {
                const uint8_t r = p[kRed], g = p[kGreen], b = p[kBlue];
                if (clipping && (!hasAlpha || p[kAlpha] >= 1)) {
                    const uint8_t a = mr[r], bm = mg[g], c = mb[b];
                    if (a | bm | c) {
                        const bool toWhite = a == kClipToWhite || bm == kClipToWhite || c == kClipToWhite;
                        p[kRed] = toWhite ? 255 : 0;
                        p[kGreen] = 0;
                        p[kBlue] = toWhite ? 0 : 255;
                        continue;
                    }
                }
                p[kRed] = lr[r];
                p[kGreen] = lg[g];
                p[kBlue] = lb[b];
            }
        }
    });
    return copy;
}

bool AreLevelsNeutral(const LevelsSet& set) {
    return std::all_of(set.begin(), set.end(), IsNeutral);
}

void FindUsedRange(const ChannelHistogram& histogram, LevelsSet& set) {
    int low = 255, high = 0;
    for (const auto& channel : histogram) {
        for (int v = 0; v < 256; ++v) {
            if (channel[size_t(v)] > 0) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
    }
    ResetAllLevelsRecords(set);
    if (high > low) {
        set[0].inBlack = low;
        set[0].inWhite = high;
    }
}

void BuildLevelsClipMask(const LevelsSet& set, LevelsClipMarks& marks) {
    const LevelsRecord& m = set[0];
    for (int c = 0; c < 3; ++c) {
        const LevelsRecord& ch = set[size_t(c) + 1];
        for (int v = 0; v < 256; ++v) {
            uint8_t mark = 0;
            if (v < ch.inBlack) {
                mark = kClipToBlack;
            } else if (v > ch.inWhite) {
                mark = kClipToWhite;
            } else {
                const int64_t o = ApplyLevels(v, ch);
                if (o < m.inBlack) mark = kClipToBlack;
                else if (o > m.inWhite) mark = kClipToWhite;
            }
            marks[size_t(c)][size_t(v)] = mark;
        }
    }
}

int64_t CountMarkedHistogramValues(const ChannelHistogram& histogram, const LevelsClipMarks& marks) {
    int64_t count = 0;
    for (size_t c = 0; c < 3; ++c)
        for (size_t v = 0; v < 256; ++v)
            if (marks[c][v] != 0) count += histogram[c][v];
    return count;
}

int64_t CountMergedTones(const ChannelHistogram& histogram, const LevelsLut& lut) {
    int64_t merged = 0;
    for (size_t c = 0; c < 3; ++c) {
        std::array<bool, 256> used{};
        for (size_t v = 0; v < 256; ++v) {
            if (histogram[c][v] <= 0) continue;
            const uint8_t out = lut[c][v];
            if (used[out]) ++merged;
            used[out] = true;
        }
    }
    return merged;
}

double GetGammaHandlePosition(const LevelsRecord& record) {
    return double(record.inBlack) + double(record.inWhite - record.inBlack) * std::pow(0.5, record.gamma);
}

void ComputeChannelHistograms(const Image& image, ChannelHistogram& histogram) {
    for (auto& channel : histogram) channel.fill(0);
    if (!image.pixels) return;
    const int bpp = image.BytesPerPixel();
    const bool hasAlpha = bpp == 4;
    // Each band counts on its own; counts are whole numbers, so summing the
    // bands in any order gives the one-pass result.
    std::mutex merge;
    ParallelForBands(image.height, GrainForRows(image.width), [&](int64_t begin, int64_t end) {
        ChannelHistogram local{};
        int64_t* hr = local[0].data();
        int64_t* hg = local[1].data();
        int64_t* hb = local[2].data();
        const uint8_t* row = image.FirstStoredRow() + size_t(begin) * size_t(image.pitch);
        for (int64_t y = begin; y < end; ++y, row += image.pitch) {
            const uint8_t* p = row;
            for (int x = 0; x < image.width; ++x, p += bpp) {
                if (hasAlpha && p[kAlpha] == 0) continue;
                ++hr[p[kRed]];
                ++hg[p[kGreen]];
                ++hb[p[kBlue]];
            }
        }
        std::lock_guard<std::mutex> lock(merge);
        for (size_t c = 0; c < 3; ++c)
            for (size_t v = 0; v < 256; ++v) histogram[c][v] += local[c][v];
    });
}
