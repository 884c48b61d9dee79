// Tangent-space normal maps: red, green and blue hold X, Y and Z mapped from
// -1..1 to 0..255. Each tool makes a new 32-bit image of the source's size
// (null when it cannot be made) and never edits the source.
#pragma once

#include <cstdint>

#include "toolkit/image.h"

enum NormalMapOperation : int {
    kNormalFlipGreen = 1,
    kNormalFlipRed = 2,
    kNormalRebuildZ = 3,
    kNormalNormalize = 4,
};

// One of the operations above on every pixel; alpha is kept. Null for an
// unknown operation.
ImagePtr ApplyNormalMapOperation(const Image& image, int operation);
ImagePtr FlipNormalGreen(const Image& image);
ImagePtr FlipNormalRed(const Image& image);
ImagePtr RebuildNormalZ(const Image& image);
ImagePtr NormalizeNormalMap(const Image& image);

// Colour 0xAABBGGRR from a normal's components: byte = (c + 1) * 127.5 + 0.5,
// truncated (-1 gives 0, 0 gives 128, 1 gives 255). Components outside -1..1
// are clamped and NaN counts as 0, so no input gives a byte out of range.
uint32_t PackNormalToColor(double x, double y, double z, int alpha);

// The picture taken as a height map (Rec. 709 luma, light = high) turned into
// an opaque normal map with a Sobel gradient that wraps at the edges, green
// pointing up. strength scales the slope.
ImagePtr MakeNormalMapFromHeight(const Image& image, double strength);
// What it holds at once besides its result: the heights of every pixel.
uint64_t NormalMapFromHeightWorkBytes(const Image& image);
