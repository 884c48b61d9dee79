// Power-of-two sizes and shrinking by halving.
//
// Engine textures want power-of-two sides, and pictures are shrunk by repeated
// 2:1 halving before any final resample, so large reductions stay sharp and
// cheap. HalveImage is also the filter that makes every DDS mip level.
#pragma once

#include <cstdint>

#include "toolkit/image.h"

// True when n >= 1 and n has a single bit set.
bool IsPowerOfTwo(int64_t n);
// The largest power of two p <= n; 1 for any n below 2.
int64_t GetFloorPowerOfTwo(int64_t n);
// The nearer of GetFloorPowerOfTwo(n) and twice it; a tie goes to the lower one.
int64_t GetNearestPowerOfTwo(int64_t n);

// Scales width x height to fit maxSide (aspect kept), then snaps each side to
// its nearest power of two independently; each output is limited to 1..maxSide.
void FitSizePowerOfTwo(int width, int height, int maxSide, int& outWidth, int& outHeight);

// A new 32-bit image with the width and/or height halved (each side at least 1;
// an odd side drops its last column or row). Colour is averaged weighted by
// alpha, so transparent pixels do not tint their neighbours; alpha is the plain
// average; everything rounds down. Samples that are all transparent keep the
// first sample's colour with alpha 0. A 24-bit image reads as opaque. Null
// when the image cannot be made.
ImagePtr HalveImage(const Image& image, bool halveWidth, bool halveHeight);

// A new 32-bit image of exactly targetWidth x targetHeight: halves while a side
// is at least twice its target, then one smooth resample when still not at the
// target. Null when an image cannot be made or a target side is below 1.
ImagePtr ShrinkImageByHalving(const Image& image, int targetWidth, int targetHeight);
// The most memory ShrinkImageByHalving holds at once for this target, its
// result included, so a caller can tell beforehand whether it fits.
uint64_t ShrinkByHalvingPeakBytes(const Image& image, int targetWidth, int targetHeight);
