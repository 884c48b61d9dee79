#include "adjust/normalmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "adjust/channels.h"
#include "toolkit/parallel.h"

namespace {

constexpr double ComponentFromByte(int b) { return b / 127.5 - 1.0; }

uint8_t ByteFromComponent(double c) {
    if (!(c >= -1.0)) c = std::isnan(c) ? 0.0 : -1.0;
    if (c > 1.0) c = 1.0;
    return uint8_t(int((c + 1.0) * 127.5 + 0.5));
}

// Writes x, y, z into a B, G, R pixel.
void StoreNormal(uint8_t* px, double x, double y, double z) {
    px[2] = ByteFromComponent(x);
    px[1] = ByteFromComponent(y);
    px[0] = ByteFromComponent(z);
}

void FlipGreenRow(uint8_t* row, int width) {
    for (int x = 0; x < width; ++x) row[x * 4 + 1] = uint8_t(255 - row[x * 4 + 1]);
}
void FlipRedRow(uint8_t* row, int width) {
    for (int x = 0; x < width; ++x) row[x * 4 + 2] = uint8_t(255 - row[x * 4 + 2]);
}
void RebuildZRow(uint8_t* row, int width) {
    for (int i = 0; i < width; ++i) {
        uint8_t* p = row + i * 4;
        const double x = ComponentFromByte(p[2]), y = ComponentFromByte(p[1]);
        double z = 1.0 - x * x - y * y;
        if (z < 0.0) z = 0.0;
        StoreNormal(p, x, y, std::sqrt(z));
    }
}
void NormalizeRow(uint8_t* row, int width) {
    for (int i = 0; i < width; ++i) {
        uint8_t* p = row + i * 4;
        double x = ComponentFromByte(p[2]), y = ComponentFromByte(p[1]), z = ComponentFromByte(p[0]);
        const double length = std::sqrt(x * x + y * y + z * z);
        if (length <= 0.0001) {
            x = 0.0;
            y = 0.0;
            z = 1.0;
        } else {
            x /= length;
            y /= length;
            z /= length;
        }
        StoreNormal(p, x, y, z);
    }
}

}  // namespace

ImagePtr ApplyNormalMapOperation(const Image& image, int operation) {
    void (*rowOp)(uint8_t*, int) = nullptr;
    switch (operation) {
        case kNormalFlipGreen: rowOp = FlipGreenRow; break;
        case kNormalFlipRed: rowOp = FlipRedRow; break;
        case kNormalRebuildZ: rowOp = RebuildZRow; break;
        case kNormalNormalize: rowOp = NormalizeRow; break;
        default: return nullptr;
    }
    // The opaque copy reads any depth into B, G, R, A rows; alpha is put back
    // from the source afterwards.
    ImagePtr result = MakeOpaqueCopy(image);
    if (!result) return nullptr;
    const size_t w = size_t(image.width);
    Image& target = *result;
    ParallelForBands(image.height, GrainForRows(image.width), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            uint8_t* row = target.RowFromTop(y);
            if (image.depth == 32) {
                const uint8_t* src = image.RowFromTop(y);
                for (size_t x = 0; x < w; ++x) row[x * 4 + 3] = src[x * 4 + 3];
            }
            rowOp(row, image.width);
        }
    });
    return result;
}

ImagePtr FlipNormalGreen(const Image& image) { return ApplyNormalMapOperation(image, kNormalFlipGreen); }
ImagePtr FlipNormalRed(const Image& image) { return ApplyNormalMapOperation(image, kNormalFlipRed); }
ImagePtr RebuildNormalZ(const Image& image) { return ApplyNormalMapOperation(image, kNormalRebuildZ); }
ImagePtr NormalizeNormalMap(const Image& image) { return ApplyNormalMapOperation(image, kNormalNormalize); }

uint32_t PackNormalToColor(double x, double y, double z, int alpha) {
    return MakeColour(ByteFromComponent(x), ByteFromComponent(y), ByteFromComponent(z), alpha);
}

uint64_t NormalMapFromHeightWorkBytes(const Image& image) {
    // The pixel copy the heights are read from (4 bytes a pixel) goes before
    // the result (4 bytes) is made, so at most one of them is held with them.
    return uint64_t(std::max(image.width, 0)) * uint64_t(std::max(image.height, 0)) * sizeof(double);
}

ImagePtr MakeNormalMapFromHeight(const Image& image, double strength) {
    std::vector<uint32_t> pixels;
    CopyImagePixels(image, pixels);
    if (pixels.empty()) return nullptr;
    const int w = image.width, h = image.height;
    std::vector<double> heights;
    if (!ResizeWithinRoom(heights, pixels.size())) return nullptr;
    ParallelForBands(int64_t(pixels.size()), kMinBandWork, [&](int64_t first, int64_t end) {
        for (int64_t i = first; i < end; ++i) {
            const uint32_t c = pixels[size_t(i)];
            heights[size_t(i)] = (0.2126 * ColourRed(c) + 0.7152 * ColourGreen(c) + 0.0722 * ColourBlue(c)) / 255.0;
        }
    });
    pixels = {};
    ImagePtr result = CreateImageUnfilled(w, h, 32);
    if (!result) return nullptr;
    Image& target = *result;
    ParallelForBands(h, GrainForRows(w), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            const double* up = heights.data() + size_t(y == 0 ? h - 1 : y - 1) * size_t(w);
            const double* mid = heights.data() + size_t(y) * size_t(w);
            const double* down = heights.data() + size_t(y == h - 1 ? 0 : y + 1) * size_t(w);
            uint8_t* dst = target.RowFromTop(y);
            for (int x = 0; x < w; ++x, dst += 4) {
                const int l = x == 0 ? w - 1 : x - 1;
                const int r = x == w - 1 ? 0 : x + 1;
                const double dx = (2 * mid[r] + up[r] + down[r]) - (2 * mid[l] + up[l] + down[l]);
                const double dy = (2 * down[x] + down[l] + down[r]) - (2 * up[x] + up[l] + up[r]);
                const double nx = -dx * strength, ny = dy * strength;
                const double length = std::sqrt(nx * nx + ny * ny + 1.0);
                StoreNormal(dst, nx / length, ny / length, 1.0 / length);
                dst[3] = 255;
            }
        }
    });
    return result;
}
