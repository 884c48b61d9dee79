// Engine textures: the entry for every texture the program opens, and the
// first-generation ".tex" reader and writer.
//
// The loader tells the three generations apart by their first bytes. First-
// generation files (versions 3 and 4, animated, and effect textures that are
// shown through their base texture) are decoded here; the second and third
// generation go to ReadDk2Texture / ReadDk3Texture (formats/dk2.h, dk3.h). Only the first frame asked
// for is decoded; mip levels other than the stored one and the animation
// trailer are not kept. The writer writes version 4 only: one frame, one
// stored level, the fixed one-animation trailer.
//
// Readers take untrusted bytes: every size and offset is checked in 64 bits
// against the buffer before a pixel is read. Failure is a value: a null image
// and `info.errorText` set; an empty errorText means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

// The largest side, in pixels, that any texture generation's reader takes.
constexpr int kMaxTextureSide = 16384;
// Every generation's refusal of a side outside 1..kMaxTextureSide
// ("Invalid dimensions: " + width + " x " + height); empty for a good size.
std::string CheckTextureDimensions(int64_t width, int64_t height);

// Reads the file whole and decodes it with LoadTextureFromMemory. Callers
// outside the loader pass frame 0 and depth 0; depth counts how far down a
// chain of effect textures this load is. An HDR texture is shown under
// `display`.
ImagePtr LoadTexFile(const std::string& path, TexInfo& info, int frame = 0, int depth = 0,
                     const HdrDisplaySettings& display = {});

// Decodes a texture of any generation from memory (the buffer stays the
// caller's). `path` names where the data came from; an effect texture looks
// for its base texture in that path's folder. An empty path searches nowhere.
ImagePtr LoadTextureFromMemory(const uint8_t* data, size_t size, TexInfo& info, const std::string& path,
                               int frame = 0, int depth = 0, const HdrDisplaySettings& display = {});

// Reads and checks a first-generation header into `info`; empty text when the
// frames (or an effect texture's buffer) lie wholly inside the buffer.
std::string ParseTexHeader(const uint8_t* data, size_t size, TexInfo& info);
// Sets info.width/height to the stored level (width0 >> firstMip, ...) and
// checks them and the frame count; needs info.firstMip and info.frameCount.
std::string ValidateTexDimensions(TexInfo& info, int32_t width0, int32_t height0);
// Reads the effect fields of an effect texture (buffer size, buffer start,
// base-texture name).
std::string ParseTexEffectChunks(const uint8_t* data, size_t size, TexInfo& info);

// One frame of a parsed first-generation file as a new 32-bit image; null when
// the image cannot be made or the frame does not lie inside the buffer.
ImagePtr DecodeTexFrame(const uint8_t* data, size_t size, const TexInfo& info, int frame);
// The effect buffer of a parsed effect texture stretched to greys 0..255.
ImagePtr ConvertEffectBufferToGray(const uint8_t* data, size_t size, const TexInfo& info);

// Buffer searches. A tag or text matches only bytes that lie wholly inside
// the buffer; offsets are 64-bit and may be negative (never a match).
bool IsChunkIdAt(const uint8_t* data, size_t size, int64_t offset, const char* tag);
// First offset >= start holding the four-character tag, or -1.
int64_t FindChunk(const uint8_t* data, size_t size, int64_t start, const char* tag);
// First offset >= start holding the text, or -1.
int64_t FindTextInBuffer(const uint8_t* data, size_t size, int64_t start, const std::string& text);

// folder + the on-disk name of the first plain file in `folder` whose name
// equals `name` ignoring ASCII letter case; empty when there is none. An empty
// folder means the current folder (the result is then the bare name).
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// Writes palette entry i (three values: red, green, blue, 0..255) from a 5:6:5
// colour, scaling each field to 0..255 with integer division.
void ExpandRgb565ToPalette(uint16_t colour, int64_t* palette, int index);

// Writes `image` as a version-4 ".tex" file of one frame. `firstMip` (0..20)
// says which mip level the picture is; `keepFlagBit1` carries the engine flag
// of a re-saved texture over. 1 when the whole file was written, else 0; a
// failed save leaves an existing file untouched.
int WriteTexFile(const Image* image, const std::string& path, bool withAlpha, int firstMip, bool keepFlagBit1);
// 1 + the number of times the smaller side halves before it reaches 1.
int CountMipLevels(int width, int height);
