// Third-generation textures: the reader, its pixel decoding and the names it
// shows for formats and flags. The texture loader (formats/tex.h) recognises
// the files and calls the reader; what both meta-header generations share is
// in formats/metaheader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

// Reads a third-generation texture whose meta header ("CTSEMETA") starts at
// data[0]; size counts the bytes from there to the end of the file. Returns a
// new 32-bit image, or null with info.errorText set. An HDR texture (format
// 12) is shown under `display` and also leaves its RGBE block in
// info.hdrData. The buffer stays the caller's.
ImagePtr ReadDk3Texture(const uint8_t* data, size_t size, TexInfo& info, const HdrDisplaySettings& display = {});

// The stored pixels of a width x height texture as width x height pixels of
// 4 bytes (blue, green, red, alpha; rows from the top). The bytes per pixel b
// follow from `size`: a whole number of bytes for every pixel of the full mip
// chain, else for every pixel of the top level; b must be 1..4. Without flag
// 0x200 only interleaved 4-byte pixels are read; with it the data are b
// delta-coded planes (red, green, blue, alpha), of which only the top level is
// used. Two planes are an X/Y normal map whose blue is rebuilt; one plane is
// grey, or alpha over black for format 8. Null when the data are refused or
// memory runs out; otherwise bytesPerPixel = b. Never reads past `size`.
PictureArray<uint8_t> ConvertDk3Pixels(const uint8_t* data, int64_t size, int64_t width, int64_t height,
                                       int64_t flags, int64_t format, int64_t& bytesPerPixel);

// The name of a pixel-format code. Files of the older "Mivo" tools name some
// codes differently from the "ZO2017" ones; mivoNames picks the older names.
std::string GetDk3FormatName(int64_t code, bool mivoNames);

// The names of the set flag bits among mipmaps (0x001), constant (0x004),
// resident (0x008), normalmap (0x080), atlas (0x100) and "no streaming?"
// (0x400), joined by ", "; "none" when none is set.
std::string DescribeDk3TexFlags(int64_t flags);
