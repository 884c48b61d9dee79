// Second-generation textures: the reader of "CStaticTexture" objects and the
// names it shows for their pixel formats and texture flags. The texture
// loader (formats/tex.h) recognises the files and calls the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Reads a second-generation texture whose meta header ("CTSEMETA") starts at
// data[0]; size counts the bytes from there to the end of the file. Returns a
// new 32-bit image, or null with info.errorText set. The buffer stays the
// caller's.
ImagePtr ReadDk2Texture(const uint8_t* data, size_t size, TexInfo& info);

// The name of a pixel-format code ("compressed opaque (4-bit, DXT1)", ...);
// "unknown format " + the code for a code without a name.
std::string GetDk2FormatName(int64_t code);

// The names of the set flag bits among mipmaps (0x01), constant (0x04),
// resident (0x08) and fastDXTc (0x40), joined by ", "; "none" when none is set.
std::string DescribeDk2TexFlags(int64_t flags);
