// Resizing (raw and smooth), halving and shrinking by halving on pictures of
// odd sizes and depths from the input, and the power-of-two arithmetic on
// arbitrary numbers. Results must have the asked size and depth, a raw resize
// may only copy source pixels, a channel that is constant in the source stays
// exactly that constant, and halving must follow its rule pixel for pixel.
#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "formats/sizing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int Channel(uint32_t colour, int c) { return int((colour >> (8 * c)) & 255); }

// Per channel (red, green, blue, alpha): the value when it is the same in
// every pixel, else -1.
FUZZ_UNTRACED void ConstantChannels(const Image& image, int constant[4]) {
    const std::vector<uint32_t> pixels = PictureColours(image);
    for (int c = 0; c < 4; ++c) constant[c] = Channel(pixels[0], c);
    for (uint32_t colour : pixels)
        for (int c = 0; c < 4; ++c)
            if (constant[c] != Channel(colour, c)) constant[c] = -1;
}

void CheckConstantsKept(const Image& source, const Image& result) {
    int before[4], after[4];
    ConstantChannels(source, before);
    ConstantChannels(result, after);
    for (int c = 0; c < 4; ++c)
        if (before[c] >= 0) FUZZ_CHECK(after[c] == before[c]);
}

void CheckRawResize(const Image& source, int width, int height) {
    ImagePtr result = ResizeImage(source, width, height, ResizeMode::Raw);
    FUZZ_CHECK(result && result->width == width && result->height == height && result->depth == source.depth);
    const std::vector<uint32_t> from = PictureColours(source), to = PictureColours(*result);
    const std::unordered_set<uint32_t> colours(from.begin(), from.end());
    const bool whole = width % source.width == 0 && height % source.height == 0;
    const int fx = width / source.width, fy = height / source.height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t got = to[size_t(y) * size_t(width) + size_t(x)];
            FUZZ_CHECK(colours.count(got) == 1);
            // Whole-number enlargements (the same size included) repeat every pixel.
            if (whole) FUZZ_CHECK(got == from[size_t(y / fy) * size_t(source.width) + size_t(x / fx)]);
        }
}

void CheckSmoothResize(const Image& source, int width, int height) {
    ImagePtr result = ResizeImage(source, width, height, ResizeMode::Smooth);
    FUZZ_CHECK(result && result->width == width && result->height == height && result->depth == source.depth);
    CheckConstantsKept(source, *result);
}

// The halving rule written plainly: alpha-weighted colour, plain alpha, all
// rounding down, all-transparent samples keep the first one's colour. Sample
// columns and rows past the edge repeat the last one.
FUZZ_UNTRACED std::vector<uint32_t> HalvedByRule(const Image& source, int fx, int fy) {
    const std::vector<uint32_t> pixels = PictureColours(source);
    const int width = std::max(source.width / fx, 1), height = std::max(source.height / fy, 1);
    std::vector<uint32_t> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t sum[3] = {0, 0, 0}, sumA = 0, count = 0;
            for (int dy = 0; dy < fy; ++dy)
                for (int dx = 0; dx < fx; ++dx) {
                    const int sx = std::min(x * fx + dx, source.width - 1), sy = std::min(y * fy + dy, source.height - 1);
                    const uint32_t s = pixels[size_t(sy) * size_t(source.width) + size_t(sx)];
                    const uint32_t a = uint32_t(Channel(s, 3));
                    for (int c = 0; c < 3; ++c) sum[c] += uint32_t(Channel(s, c)) * a;
                    sumA += a;
                    ++count;
                }
            const uint32_t first = pixels[size_t(y * fy) * size_t(source.width) + size_t(x * fx)];
            out.push_back(sumA == 0 ? first & 0x00FFFFFFu
                                    : MakeColour(int(sum[0] / sumA), int(sum[1] / sumA), int(sum[2] / sumA),
                                                 int(sumA / count)));
        }
    return out;
}

void CheckHalve(const Image& source, bool halveWidth, bool halveHeight) {
    ImagePtr result = HalveImage(source, halveWidth, halveHeight);
    const int width = halveWidth ? std::max(source.width / 2, 1) : source.width;
    const int height = halveHeight ? std::max(source.height / 2, 1) : source.height;
    FUZZ_CHECK(result && result->width == width && result->height == height && result->depth == 32);
    FUZZ_CHECK(PictureColours(*result) == HalvedByRule(source, halveWidth ? 2 : 1, halveHeight ? 2 : 1));
}

void CheckShrink(const Image& source, int width, int height) {
    ImagePtr result = ShrinkImageByHalving(source, width, height);
    FUZZ_CHECK(result && result->width == width && result->height == height && result->depth == 32);
    CheckConstantsKept(source, *result);
}

void CheckPowersOfTwo(int64_t n, int width, int height, int maxSide) {
    const int64_t floor = GetFloorPowerOfTwo(n), nearest = GetNearestPowerOfTwo(n);
    FUZZ_CHECK(IsPowerOfTwo(floor) && IsPowerOfTwo(nearest));
    if (n >= 2) {
        FUZZ_CHECK(floor <= n && floor > n / 2);
        // The nearer of floor and 2 floor, a tie to the lower; 2 floor may not fit.
        const __int128 up = __int128(floor) * 2;
        const bool upIsNearer = up <= INT64_MAX && up - n < n - floor;
        FUZZ_CHECK(nearest == (upIsNearer ? int64_t(up) : floor));
    } else {
        FUZZ_CHECK(floor == 1 && nearest == 1);
    }

    int outWidth = 0, outHeight = 0;
    FitSizePowerOfTwo(width, height, maxSide, outWidth, outHeight);
    for (int side : {outWidth, outHeight}) {
        FUZZ_CHECK(side >= 1 && (side <= maxSide || side == 1));
        FUZZ_CHECK(IsPowerOfTwo(side) || side == maxSide);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const int64_t n = int64_t(uint64_t(in.U32()) | uint64_t(in.U32()) << 32);
    const int fitWidth = in.I32(), fitHeight = in.I32(), fitMax = in.I32();
    CheckPowersOfTwo(n, fitWidth, fitHeight, fitMax);

    const uint8_t flags = in.U8();
    const int width = 1 + in.U8() % 128, height = 1 + in.U8() % 128;
    const int shrinkWidth = 1 + in.U8() % 80, shrinkHeight = 1 + in.U8() % 80;
    ImagePtr picture = MakeFuzzPicture(in, 48, 48);

    FUZZ_CHECK(!ResizeImage(*picture, width - 129, height, ResizeMode::Raw));
    FUZZ_CHECK(!ResizeImage(*picture, width, kMaxImageSide + height, ResizeMode::Smooth));
    FUZZ_CHECK(!ShrinkImageByHalving(*picture, 0, shrinkHeight));
    CheckRawResize(*picture, width, height);
    CheckSmoothResize(*picture, width, height);
    CheckHalve(*picture, flags & 1, flags & 2);
    CheckShrink(*picture, shrinkWidth, shrinkHeight);
    return 0;
}
