// 4 x 4 block compression: decoding of DXT1, DXT3, DXT5 and BC5 (two-channel
// normal maps) into 32-bit images, and a one-pass bounding-box encoder for
// DXT1, DXT5 and BC5 levels. Lone BC4, BC6H and BC7 are not supported, and the
// encoder never emits DXT1's three-colour mode (alpha is dropped from DXT1).
//
// Blocks run row of blocks by row of blocks from the top of the picture, each
// row left to right, without gaps; texel i of a block is column i % 4, row
// i / 4, row 0 at the top. Pictures whose sides are not multiples of 4 still
// take whole blocks: the decoder skips texels outside the picture, the encoder
// repeats the last column and row into them.
#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/image.h"

// Format codes shared by the decoder, the encoder and the texture readers.
constexpr int kBlockFormatDxt1 = 1;  // BC1, 8 bytes a block
constexpr int kBlockFormatDxt3 = 2;  // BC2, 16 bytes a block (decoding only)
constexpr int kBlockFormatDxt5 = 3;  // BC3, 16 bytes a block
constexpr int kBlockFormatBc5 = 4;   // ATI2, 16 bytes a block: red then green

// Bytes of the blocks of one width x height level: 8 a block for DXT1, 16 for
// every other code. Computed in 64 bits; 0 for a negative side.
int64_t GetBlockCompressedSize(int64_t width, int64_t height, int64_t format);

// Decodes the blocks at `data` (`size` bytes available) into a new 32-bit image
// of width x height. Null when the data are shorter than the level, the format
// code is unknown, or the image cannot be created. Never reads outside `size`.
// BC5 gives red and green as stored, blue rebuilt as the z of a unit normal,
// and alpha 255. When `hasTransparentPixels` is given it is set to whether any
// pixel of the picture came out with alpha below 255 (false on failure).
ImagePtr DecodeBlockCompressed(const uint8_t* data, int64_t size, int64_t width, int64_t height,
                               int64_t format, bool* hasTransparentPixels = nullptr);

// One 8-byte interpolated single-channel block (the DXT5 alpha half, each half
// of BC5) into its 16 values, texel order.
void DecodeSingleChannelBlock(const uint8_t* block, uint8_t values[16]);

// 5:6:5 quantisation with rounding.
uint16_t PackRgbTo565(int red, int green, int blue);

// One 8-byte DXT1 colour block from 16 texels given as red, green, blue
// triplets (48 bytes); always four-colour mode.
void CompressColorBlock(const uint8_t texels[48], uint8_t* dest);

// One 8-byte interpolated single-channel block from 16 values; always the
// eight-value mode.
void EncodeSingleChannelBlock(const uint8_t values[16], uint8_t* dest);

// Encodes the whole image as one level of DXT1 (format 1), DXT5 (3) or BC5 (4)
// and appends its blocks to `out` (a 24-bit image reads as alpha 255). Returns
// the number of bytes appended (blocks x block size); 0, with `out` unchanged,
// for another format code, an image without pixels, or when the buffer cannot
// grow or has no room to (toolkit/memory.h). The image is not changed.
int64_t WriteBlockCompressedLevel(const Image& image, int format, std::vector<uint8_t>& out);
// The same for the rows of blocks [firstBlockRow, endBlockRow) only, counted
// from the top, so a level can be made and written a slice at a time: the
// slices appended in order are the level's bytes. 0 also for an empty range or
// one reaching outside the level.
int64_t WriteBlockCompressedRows(const Image& image, int format, int firstBlockRow, int endBlockRow,
                                 std::vector<uint8_t>& out);
