// Radiance RGBE pictures (".hdr") and the tone curve that shows HDR pixels.
//
// The reader takes "#?" files with 32-bit RGBE pixels in -Y/+Y, +X order,
// scanlines new-style run-length coded or flat; the old run-length scheme and
// XYZE pixels are not handled. The writer makes -Y +X files with literal-only
// run-length scanlines. HDR pixels live only as an RGBE block (HdrBlock);
// everything on screen is an 8-bit image made from it by the tone curve.
#pragma once

#include <cstdint>
#include <string>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// How an HDR picture is shown: the tone curve (the codes are the ones the
// preferences store) and the exposure in EV, whose factor is 2^exposure.
// Readers that tone-map take them as an argument; the default, 0 EV and the
// editor's clip, is what a caller without an editor shows.
enum class HdrTone : int { EditorClip = 0, Filmic = 1 };
struct HdrDisplaySettings {
    double exposure = 0.0;
    HdrTone tone = HdrTone::EditorClip;
};
// A stored tone code: 1 is filmic, anything else the editor's clip.
constexpr HdrTone HdrToneFromCode(int64_t code) { return code == 1 ? HdrTone::Filmic : HdrTone::EditorClip; }

// Reads a whole ".hdr" file held in memory. On success fills info.width,
// height, bytesPerPixel (4), isHdr (1), hdrData, formatText and note and
// returns the picture as displayed under `display` (alpha 255). A
// refused file gives null with info.errorText set and no block. When memory
// for the display image runs out the result is null with "Not enough memory
// for the image." and the block stays in info for the caller to free.
ImagePtr ReadHdrFromMemory(const uint8_t* data, int64_t size, TexInfo& info,
                           const HdrDisplaySettings& display = {});

// Writes the block as a ".hdr" file of width x height through an atomic save.
// 1 on success; 0 for a null block, a size below 1, a block smaller than
// width x height x 4 bytes, or a failed write (the old file is left alone).
int WriteHdrFile(const HdrBlock* block, int width, int height, const std::string& path);

// Stores one RGBE pixel. Negative and NaN components count as 0; a largest
// component of 2^127 or more gets the largest exponent, bytes capped at 255.
void EncodeRgbe(uint8_t* destination, double r, double g, double b);

// The display byte of one HDR channel value; factor = 2^exposure.
int ToneMapHdrChannel(double value, double factor, HdrTone tone);

// The picture an RGBE block (rows top first) shows at this exposure and tone:
// a new 32-bit image, alpha 255, image row y = block row y; null when the
// block is smaller than width x height x 4 bytes or the image cannot be made.
ImagePtr ToneMapHdrBlock(const HdrBlock& block, int width, int height, double exposure, HdrTone tone);

// "HDR exposure: 1.0 EV, filmic" / "HDR exposure: 0.0 EV, editor (clip)".
std::string MakeHdrExposureNote(double exposure, HdrTone tone);
