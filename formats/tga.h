// TGA files: the reader and the writer.
//
// The reader takes colour-mapped, true-colour and grey images, raw or
// run-length encoded, of 8, 15, 16, 24 or 32 bits a pixel, in any of the four
// row/column orders; the footer and extension area are never read. The writer
// always makes uncompressed true colour (24 or 32 bits), top-left origin, with
// the version-2 footer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Reads a TGA file held whole in memory. Returns a new 32-bit image, or null
// with info.errorText set. Fills formatText, bytesPerPixel (the file's, 1..4)
// and hasAlpha; width and height are left to the caller.
ImagePtr ReadTgaFromMemory(const uint8_t* data, int64_t size, TexInfo& info);

// Writes the image as an uncompressed true-colour TGA: 32 bits with alpha
// when withAlpha is set, else 24 bits (colour bytes as stored, alpha
// dropped). The file is replaced only when every byte was written: 1 on
// success, 0 otherwise (empty image, a side above 65535, a failed write).
int WriteTgaFile(const Image& image, const std::string& path, bool withAlpha);

// Lets the toolkit's content decoder read TGA too. TGA has no magic, so it is
// tried after every format that has one; calling this again has no effect.
void RegisterTgaImageDecoder();
