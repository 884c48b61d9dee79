// PCX files: the reader and the writer.
//
// The reader takes 8-bit palette pictures (one plane, 256-colour palette at
// the end of the file), 24-bit (three planes) and 32-bit (four planes, the
// fourth alpha), run-length encoded or raw. The writer always makes three
// run-length encoded planes of 8 bits, so alpha is not saved.
#pragma once

#include <cstdint>
#include <string>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Reads a PCX file held whole in memory. Returns a new 32-bit image, or null
// with info.errorText set. Once the header is accepted it fills width, height,
// bytesPerPixel (the plane count) and formatText; on success also hasAlpha.
ImagePtr ReadPcxFromMemory(const uint8_t* data, int64_t size, TexInfo& info);

// Writes the image as a 24-bit PCX file. The file is replaced only when every
// byte was written: 1 on success, 0 otherwise.
int WritePcxFile(const Image& image, const std::string& path);

// Run-length encodes one plane line of `length` bytes; `destination` must
// hold 2 x length bytes. Returns the number of bytes written.
int64_t EncodePcxRleLine(const uint8_t* source, int64_t length, uint8_t* destination);
