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

// The formats WriteDdsFile makes. The codes are the index of the format in the
// DDS window's list and the value the preferences keep for the last choice.
enum class DdsSaveFormat : int {
    Dxt1 = 0,
    Dxt5 = 1,
    Bc5 = 2,
    Bgra32 = 3,
};

// True when a picture's format text names a normal map ("normal" in any
// letter case): such a picture is saved as BC5 unless the user says otherwise.
bool IsNormalMapFormatText(const std::string& formatText);
// The format a save picks when nobody is asked, and the one the DDS window
// starts at: BC5 for a normal map, else DXT5 with transparency, else DXT1.
DdsSaveFormat SuggestDdsSaveFormat(bool isNormalMap, bool hasAlpha);

// Writes `image` as a DDS file in one of the save formats above, with the full
// mip chain down to 1 x 1 when withMips is set. The file is replaced only
// when every byte was written: 1 on success, 0 otherwise (a code outside the
// enum, an empty image, a level that could not be made, a failed write), in
// which case any file already at `path` is left as it was.
int WriteDdsFile(const Image& image, const std::string& path, DdsSaveFormat format, bool withMips);

// Appends the image's pixels as rows from the top, each pixel the bytes blue,
// green, red, alpha. Returns the number of bytes appended (width x height x 4);
// 0, with `out` unchanged, when there is no room for them.
int64_t WriteRawBgraRows(std::vector<uint8_t>& out, const Image& image);

// The first four characters packed little-endian ("DXT1" = 0x31545844).
int32_t MakeFourCc(const std::string& text);

// Sum of width x height over the full mip chain from w x h down to 1 x 1;
// INT64_MAX when the sum does not fit in 64 bits.
int64_t CountMipChainPixels(int64_t w, int64_t h);
