// Power-of-two sizes, the alpha-weighted 2:1 box filter and shrink-by-halving.
#include "formats/sizing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/texinfo.h"
#include "toolkit/parallel.h"

bool IsPowerOfTwo(int64_t n) {
    return n >= 1 && (n & (n - 1)) == 0;
}

int64_t GetFloorPowerOfTwo(int64_t n) {
    int64_t p = 1;
    while (p <= n / 2) p *= 2;
    return p;
}

int64_t GetNearestPowerOfTwo(int64_t n) {
    // Below 2 the nearer of 1 and 2 is always 1, and for very negative n the
    // distances compared below would not fit in 64 bits.
    if (n < 2) return 1;
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
        // Nonsense sizes (zero, negative) must not reach an undefined conversion.
        double scaled = double(side) * scale + 0.5;
        if (!(scaled >= 0.0)) scaled = 0.0;
        if (scaled > 1e18) scaled = 1e18;
        int64_t p = GetNearestPowerOfTwo(int64_t(scaled));
        if (p > maxSide) p = maxSide;
        if (p < 1) p = 1;
        return int(p);
    };
    outWidth = fit(width);
    outHeight = fit(height);
}

namespace {

// Reciprocals that turn the per-pixel divisions by the alpha sum (1..1020)
// into multiplications: for n * d < 2^32, (n * ceil(2^32 / d)) >> 32 equals
// n / d rounded down, and n is at most 255 * 1020 here.
struct AlphaReciprocals {
    uint64_t value[4 * 255 + 1];
    AlphaReciprocals() {
        value[0] = 0;
        for (uint32_t d = 1; d <= 4 * 255; ++d) value[d] = ((uint64_t(1) << 32) + d - 1) / d;
    }
};
const AlphaReciprocals& Reciprocals() {
    static const AlphaReciprocals table;
    return table;
}

inline uint8_t DivideBySum(uint32_t n, uint64_t reciprocal) {
    return uint8_t((n * reciprocal) >> 32);
}

// A source pixel of Bpp bytes as the 32-bit word B | G << 8 | R << 16 | A << 24;
// a 24-bit pixel is opaque.
template <int Bpp>
inline uint32_t LoadPixel(const uint8_t* at) {
    if constexpr (Bpp == 3) return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | 0xFF000000u;
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// One target row from FY source rows, FX samples across. The samples of an
// odd last column or row repeat it (only reachable for a 1-pixel side).
// Pixels are handled as 32-bit words B | G << 8 | R << 16 | A << 24.
template <int Bpp, int FX, int FY>
void HalveRow(const uint8_t* row0, const uint8_t* row1, int srcWidth, uint8_t* out, int outWidth) {
    constexpr int kCount = FX * FY;
    constexpr int kShift = (FX == 2) + (FY == 2);
    const uint64_t* inverse = Reciprocals().value;
    const size_t nextColumn = FX == 2 && srcWidth > 1 ? Bpp : 0;
    for (int x = 0; x < outWidth; ++x, out += 4) {
        const uint8_t* p = row0 + size_t(x) * (FX * Bpp);
        const uint8_t* q = row1 + size_t(x) * (FX * Bpp);
        // Sample order: the first row's columns, then the second row's.
        uint32_t s[kCount];
        s[0] = LoadPixel<Bpp>(p);
        if constexpr (FX == 2) s[1] = LoadPixel<Bpp>(p + nextColumn);
        if constexpr (FY == 2) {
            s[FX] = LoadPixel<Bpp>(q);
            if constexpr (FX == 2) s[3] = LoadPixel<Bpp>(q + nextColumn);
        }
        uint32_t differ = 0;
        for (int k = 1; k < kCount; ++k) differ |= s[0] ^ s[k];
        uint32_t pixel;
        if ((differ >> 24) == 0) {
            // Equal alphas cancel from the weighted mean, leaving the plain
            // mean of each channel; two channels at a time in 16-bit lanes.
            if ((s[0] >> 24) == 0) {
                pixel = s[0] & 0x00FFFFFFu;
            } else {
                uint32_t even = 0, odd = 0;
                for (int k = 0; k < kCount; ++k) {
                    even += s[k] & 0x00FF00FFu;
                    odd += (s[k] >> 8) & 0x00FF00FFu;
                }
                pixel = ((even >> kShift) & 0x00FF00FFu) | (((odd >> kShift) & 0x00FF00FFu) << 8);
            }
        } else {
            uint32_t sumA = 0, wB = 0, wG = 0, wR = 0;
            for (int k = 0; k < kCount; ++k) {
                const uint32_t a = s[k] >> 24;
                sumA += a;
                wB += (s[k] & 255) * a;
                wG += ((s[k] >> 8) & 255) * a;
                wR += ((s[k] >> 16) & 255) * a;
            }
            if (sumA == 0) {
                pixel = s[0] & 0x00FFFFFFu;
            } else {
                const uint64_t r = inverse[sumA];
                pixel = uint32_t(DivideBySum(wB, r)) | uint32_t(DivideBySum(wG, r)) << 8 |
                        uint32_t(DivideBySum(wR, r)) << 16 | (sumA >> kShift) << 24;
            }
        }
        std::memcpy(out, &pixel, 4);
    }
}

template <int Bpp, int FX, int FY>
void HalveRows(const Image& src, Image& dst) {
    Reciprocals();  // built once here rather than raced for by the bands
    ParallelForBands(dst.height, GrainForRows(int64_t(src.width) * FY), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            const int r0 = y * FY;
            const int r1 = FY == 2 ? std::min(r0 + 1, src.height - 1) : r0;
            HalveRow<Bpp, FX, FY>(src.RowFromTop(r0), src.RowFromTop(r1), src.width, dst.RowFromTop(y), dst.width);
        }
    });
}

template <int Bpp>
void HalveInto(const Image& src, Image& dst, bool halveWidth, bool halveHeight) {
    if (halveWidth && halveHeight) {
        HalveRows<Bpp, 2, 2>(src, dst);
    } else if (halveWidth) {
        HalveRows<Bpp, 2, 1>(src, dst);
    } else if (halveHeight) {
        HalveRows<Bpp, 1, 2>(src, dst);
    } else {
        HalveRows<Bpp, 1, 1>(src, dst);
    }
}

}  // namespace

ImagePtr HalveImage(const Image& image, bool halveWidth, bool halveHeight) {
    if (!image.pixels || image.width < 1 || image.height < 1) return nullptr;
    if (image.depth != 32 && image.depth != 24) return nullptr;
    const int nw = halveWidth ? std::max(image.width / 2, 1) : image.width;
    const int nh = halveHeight ? std::max(image.height / 2, 1) : image.height;
    // Every target pixel is written below, so the picture needs no fill. A
    // 24-bit source is read as it is, opaque, rather than copied to 32 bits.
    ImagePtr dst = CreateImageUnfilled(nw, nh, 32);
    if (!dst) return nullptr;
    if (image.depth == 32)
        HalveInto<4>(image, *dst, halveWidth, halveHeight);
    else
        HalveInto<3>(image, *dst, halveWidth, halveHeight);
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

uint64_t ShrinkByHalvingPeakBytes(const Image& image, int targetWidth, int targetHeight) {
    const uint64_t source = ImageByteCount(image.width, image.height);
    uint64_t peak = ImageByteCount(targetWidth, targetHeight);
    if (image.depth != 32) peak += source;  // the 32-bit copy it starts from
    // Two halvings overlap at a time, each at most half the one before: the
    // first two hold at most three quarters of the source together, and the
    // last one, at most half, overlaps the result.
    if (image.width >= 2 * int64_t(targetWidth) || image.height >= 2 * int64_t(targetHeight)) peak += source / 4 * 3;
    return peak;
}
