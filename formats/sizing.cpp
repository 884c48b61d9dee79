// Power-of-two sizes, the alpha-weighted 2:1 box filter and shrink-by-halving.
#include "formats/sizing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/texinfo.h"

bool IsPowerOfTwo(int64_t n) {
    return n >= 1 && (n & (n - 1)) == 0;
}

int64_t GetFloorPowerOfTwo(int64_t n) {
    int64_t p = 1;
    while (p <= n / 2) p *= 2;
    return p;
}

int64_t GetNearestPowerOfTwo(int64_t n) {
    const int64_t p = GetFloorPowerOfTwo(n);
    if (p > INT64_MAX / 2) return p;
    return (n - p > 2 * p - n) ? 2 * p : p;
}

void FitSizePowerOfTwo(int width, int height, int maxSide, int& outWidth, int& outHeight) {
    double scale = 1.0;
    if (width > maxSide || height > maxSide) {
        scale = width < height ? double(maxSide) / double(height) : double(maxSide) / double(width);
    }
    auto fit = [&](int side) {
        int64_t p = GetNearestPowerOfTwo(int64_t(double(side) * scale + 0.5));
        if (p > maxSide) p = maxSide;
        if (p < 1) p = 1;
        return int(p);
    };
    outWidth = fit(width);
    outHeight = fit(height);
}

namespace {

// One target row from FY source rows, FX samples across. The samples of an
// odd last column or row repeat it (only reachable for a 1-pixel side).
template <int FX, int FY>
void HalveRow(const uint8_t* row0, const uint8_t* row1, int srcWidth, uint8_t* out, int outWidth) {
    constexpr int kCount = FX * FY;
    constexpr int kShift = kCount == 4 ? 2 : (kCount == 2 ? 1 : 0);
    for (int x = 0; x < outWidth; ++x) {
        const int c0 = x * FX;
        const int c1 = FX == 2 ? std::min(c0 + 1, srcWidth - 1) : c0;
        const uint8_t* s[4] = {row0 + size_t(c0) * 4, row0 + size_t(c1) * 4,
                               row1 + size_t(c0) * 4, row1 + size_t(c1) * 4};
        // Sample order: the first row's columns, then the second row's.
        const uint8_t* samples[kCount];
        if constexpr (FX == 2 && FY == 2) {
            samples[0] = s[0]; samples[1] = s[1]; samples[2] = s[2]; samples[3] = s[3];
        } else if constexpr (FX == 2) {
            samples[0] = s[0]; samples[1] = s[1];
        } else if constexpr (FY == 2) {
            samples[0] = s[0]; samples[1] = s[2];
        } else {
            samples[0] = s[0];
        }
        const uint32_t a0 = samples[0][3];
        uint32_t sumA = 0, sumB = 0, sumG = 0, sumR = 0, wB = 0, wG = 0, wR = 0;
        bool uniform = true;
        for (int k = 0; k < kCount; ++k) {
            const uint8_t* p = samples[k];
            const uint32_t a = p[3];
            uniform &= a == a0;
            sumA += a;
            sumB += p[0];
            sumG += p[1];
            sumR += p[2];
            wB += p[0] * a;
            wG += p[1] * a;
            wR += p[2] * a;
        }
        uint8_t* o = out + size_t(x) * 4;
        if (sumA == 0) {
            o[0] = samples[0][0];
            o[1] = samples[0][1];
            o[2] = samples[0][2];
            o[3] = 0;
        } else if (uniform) {
            // Equal weights cancel: (a * sum) / (count * a) == sum / count, exactly.
            o[0] = uint8_t(sumB >> kShift);
            o[1] = uint8_t(sumG >> kShift);
            o[2] = uint8_t(sumR >> kShift);
            o[3] = uint8_t(a0);
        } else {
            o[0] = uint8_t(wB / sumA);
            o[1] = uint8_t(wG / sumA);
            o[2] = uint8_t(wR / sumA);
            o[3] = uint8_t(sumA >> kShift);
        }
    }
}

template <int FX, int FY>
void HalveRows(const Image& src, Image& dst) {
    for (int y = 0; y < dst.height; ++y) {
        const int r0 = y * FY;
        const int r1 = FY == 2 ? std::min(r0 + 1, src.height - 1) : r0;
        HalveRow<FX, FY>(src.RowFromTop(r0), src.RowFromTop(r1), src.width, dst.RowFromTop(y), dst.width);
    }
}

}  // namespace

ImagePtr HalveImage(const Image& image, bool halveWidth, bool halveHeight) {
    if (!image.pixels || image.width < 1 || image.height < 1) return nullptr;
    const Image* src = &image;
    ImagePtr converted;
    if (image.depth != 32) {
        // The filter weighs by alpha, so a 24-bit source is read as opaque.
        converted = ConvertTo32Bit(DuplicateImage(image));
        if (!converted) return nullptr;
        src = converted.get();
    }
    const int nw = halveWidth ? std::max(src->width / 2, 1) : src->width;
    const int nh = halveHeight ? std::max(src->height / 2, 1) : src->height;
    ImagePtr dst = CreateImage(nw, nh, 32);
    if (!dst) return nullptr;
    if (halveWidth && halveHeight) {
        HalveRows<2, 2>(*src, *dst);
    } else if (halveWidth) {
        HalveRows<2, 1>(*src, *dst);
    } else if (halveHeight) {
        HalveRows<1, 2>(*src, *dst);
    } else {
        HalveRows<1, 1>(*src, *dst);
    }
    return dst;
}

ImagePtr ShrinkImageByHalving(const Image& image, int targetWidth, int targetHeight) {
    // A target below 1 could never be reached and would halve forever.
    if (targetWidth < 1 || targetHeight < 1) return nullptr;
    if (!image.pixels || image.width < 1 || image.height < 1) return nullptr;
    const Image* current = &image;
    ImagePtr working;
    if (image.depth != 32) {
        // The result is always 32-bit, even when no halving happens.
        working = ConvertTo32Bit(DuplicateImage(image));
        if (!working) return nullptr;
        current = working.get();
    }
    while (current->width >= 2 * int64_t(targetWidth) || current->height >= 2 * int64_t(targetHeight)) {
        ImagePtr next = HalveImage(*current, current->width >= 2 * int64_t(targetWidth),
                                   current->height >= 2 * int64_t(targetHeight));
        if (!next) return nullptr;
        working = std::move(next);
        current = working.get();
    }
    if (current->width != targetWidth || current->height != targetHeight) {
        return ResizeImage(*current, targetWidth, targetHeight, ResizeMode::Smooth);
    }
    if (!working) working = DuplicateImage(image);
    return working;
}
