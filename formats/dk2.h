// Second-generation textures: the names the reader shows for their pixel
// formats, texture flags and wrap modes. ReadDk2Texture itself is declared in
// formats/tex.h beside the loader that calls it.
#pragma once

#include <cstddef>
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

// The words of the set flag bits, joined by ", " in table order; "none" when
// no listed bit is set. Shared by both generations' flag descriptions.
struct FlagWord {
    int64_t bit;
    const char* word;
};
std::string JoinFlagWords(int64_t flags, const FlagWord* words, size_t count);

// The version text of a second- or third-generation file (length at byte 16,
// text at 20) with every "$Version: " removed in one pass; empty when the
// length is implausible or the text is cut off.
std::string ReadMetaVersionText(const uint8_t* data, size_t size);

// The fields before a second- or third-generation file's "STAR" chunk (found
// after its "OBJS" chunk), and the two wrap modes that some streams carry
// right after the data (0 when absent). False with "Unknown Dravik
// <generation> layout: ..." in errorText when either chunk is missing.
struct MetaTextureHeader {
    int64_t star = 0;  // offset of "STAR"; the data size sits at star + 4
    int32_t width = 0, height = 0, flags = 0, code = 0, dataSize = 0;
    int32_t wrapU = 0, wrapV = 0;
};
bool ReadMetaTextureHeader(const uint8_t* data, size_t size, const char* generation, MetaTextureHeader& header,
                           std::string& errorText);
