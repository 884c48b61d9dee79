// TIFF files: the program's own reader and writer for the plainest layout.
//
// The reader takes little-endian ("II"), uncompressed, chunky RGB or RGBA files
// with 8 bits a sample in strips, and keeps alpha exactly as stored; a file
// whose Orientation tag says its raster is turned or mirrored is shown
// upright. Anything else it refuses without a message, so the load dispatch
// hands the file to libtiff instead. The writer always makes one such file: one strip, RGB or
// RGBA with straight alpha, 72 dots per inch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Decodes a TIFF file held whole in memory into a new 32-bit image and sets
// info.bytesPerPixel to the samples per pixel (3 or 4). Null means "not a
// file of this reader's kind": info.errorText is never set. Stored rows
// missing at the end of a short file stay opaque black.
ImagePtr ReadTiffFromMemory(const uint8_t* data, int64_t size, TexInfo& info);

// Writes the image as an uncompressed TIFF file, RGBA when withAlpha is set,
// else RGB. The file is replaced only when every byte was written:
// 1 on success, 0 otherwise (no image, a failed write), in which case any
// file already at `path` is left as it was.
int WriteTiffFile(const Image* image, const std::string& path, bool withAlpha);

// Appends one 12-byte IFD entry: tag, type, count, then the value, as a SHORT
// padded with a zero SHORT when the type is SHORT (3) and the count 1, else as
// a LONG.
void WriteTiffIfdEntry(std::vector<uint8_t>& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value);
