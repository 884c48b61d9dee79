// Second-generation textures: the names the reader shows for their pixel
// formats, texture flags and wrap modes. ReadDk2Texture itself is declared in
// formats/tex.h beside the loader that calls it.
#pragma once

#include <cstdint>
#include <string>

// The name of a pixel-format code ("compressed opaque (4-bit, DXT1)", ...);
// "unknown format " + the code for a code without a name.
std::string GetDk2FormatName(int64_t code);

// The names of the set flag bits among mipmaps (0x01), constant (0x04),
// resident (0x08) and fastDXTc (0x40), joined by ", "; "none" when none is set.
std::string DescribeDk2TexFlags(int64_t flags);

// The name of a texture wrap mode (80 repeat, 81 clamp to edge, 82 clamp to
// border), else "unknown (" + the value in upper-case hexadecimal + ")". Shared
// by the second- and third-generation readers.
std::string GetWrapModeName(int64_t mode);

// The version text of a second- or third-generation file with every
// "$Version: " removed in one pass (pieces that meet after a removal stay).
std::string RemoveVersionTags(std::string text);
