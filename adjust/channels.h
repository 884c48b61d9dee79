// Channel and alpha tools: one colour channel or the alpha channel shown as
// grey, alpha taken from a mask picture, removed or inverted. Each builder
// makes a new 32-bit image of the source's size and leaves the source alone;
// null means the result could not be made (no memory, bad source).
//
// Also the two pixel-access helpers the other adjustments share.
#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/image.h"

// Every pixel of `image` as colours 0xAABBGGRR, rows from the top: element
// y * width + x is pixel (x, y). A 24-bit image reads as opaque. An image
// without pixel storage leaves the array sized and zeroed; without room for
// the array (toolkit/memory.h) it is left empty.
void CopyImagePixels(const Image& image, std::vector<uint32_t>& pixels);

// Byte positions of red, green and blue inside one pixel of an image buffer.
// Every buffer of the image layer stores B, G, R(, A), so this is always
// red 2, green 1, blue 0; code addressing buffer bytes asks here rather than
// hard-coding the order.
void GetBufferChannelOffsets(int64_t& redOffset, int64_t& greenOffset, int64_t& blueOffset);

// channel 0 red, 1 green, 2 blue, 3 alpha; each pixel becomes (v, v, v, 255).
// Null for any other channel.
ImagePtr ExtractChannelAsGrayscale(const Image& image, int64_t channel);
// Same colours, alpha 255.
ImagePtr MakeOpaqueCopy(const Image& image);
// Same colours, alpha 255 - alpha.
ImagePtr InvertAlphaCopy(const Image& image);
// The image's colours with the mask's Rec. 709 luma as alpha (white opaque,
// black transparent); the mask's own alpha is ignored. A mask of another size
// is scaled to the image's size first; null when that fails.
ImagePtr ApplyMaskAsAlpha(const Image& image, const Image& mask);
// What it holds at once besides its result: the scaling of the mask.
uint64_t MaskAsAlphaWorkBytes(const Image& image, const Image& mask);

// The luma the mask gives as alpha, in whole numbers, rounded.
constexpr int MaskLuma(int r, int g, int b) { return (2126 * r + 7152 * g + 722 * b + 5000) / 10000; }
