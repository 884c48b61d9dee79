// DDS files: the reader and the writer.
//
// The reader takes the top mip level of DXT1, DXT3, DXT5 and BC5 ("ATI2" or
// "BC5U") files and of uncompressed 32-bit BGRA files; further mips, cube
// faces, volumes and the DX10 extended header are not read. The writer makes
// DXT1, DXT5, BC5 or 32-bit BGRA files, with or without a full mip chain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Reads a DDS file held whole in memory. Returns a new 32-bit image, or null
// with info.errorText set (empty only when the picture could not be created).
// Fills info.width, info.height, formatText, hasAlpha and bytesPerPixel.
ImagePtr ReadDdsFromMemory(const uint8_t* data, int64_t size, TexInfo& info);

// Save format codes for WriteDdsFile.
enum DdsSaveFormat : int {
    kDdsSaveDxt1 = 0,
    kDdsSaveDxt5 = 1,
    kDdsSaveBc5 = 2,
    kDdsSaveBgra32 = 3,
};

// Writes `image` as a DDS file in one of the save formats above, with the full
// mip chain down to 1 x 1 when withMips is nonzero. The file is replaced only
// when every byte was written: 1 on success, 0 otherwise (an unknown format
// code, an empty image, a level that could not be made, a failed write), in
// which case any file already at `path` is left as it was.
int WriteDdsFile(const Image& image, const std::string& path, int format, int withMips);

// Appends the image's pixels as rows from the top, each pixel the bytes blue,
// green, red, alpha. Returns the number of bytes appended (width x height x 4).
int64_t WriteRawBgraRows(std::vector<uint8_t>& out, const Image& image);

// The first four characters packed little-endian ("DXT1" = 0x31545844).
int32_t MakeFourCc(const std::string& text);

// Sum of width x height over the full mip chain from w x h down to 1 x 1;
// INT64_MAX when the sum does not fit in 64 bits.
int64_t CountMipChainPixels(int64_t w, int64_t h);
