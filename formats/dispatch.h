// Loading and saving by format: the readers and writers chosen through the
// format table (formats/formats.h). Every loader fills a TexInfo and returns a
// 32-bit image, or null with errorText set; nothing here shows a message.
#pragma once

#include <string>

#include "formats/dds.h"
#include "formats/formats.h"
#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

// Every loader shows an HDR picture (a Radiance file, a third-generation HDR
// texture) under the display settings it is given.
//
// Every non-texture picture: the program's own readers for PCX, HDR, DDS, TGA
// and TIFF, the toolkit decoder for the rest (it goes by content, so a PNG
// named picture.xyz still loads).
ImagePtr LoadImageFileByExtension(const std::string& path, TexInfo& info, const HdrDisplaySettings& display = {});

// A file of any kind, or a texture inside a ".gro" archive
// ("archive.gro::entry/path.tex").
ImagePtr LoadImageAnySource(const std::string& path, TexInfo& info, const HdrDisplaySettings& display = {});
// Unpacks an archive entry path's entry and decodes it as an engine texture;
// when nothing could be unpacked, ExtractGroEntry's text says why ("Could
// not extract it from the archive." for a missing or damaged entry).
ImagePtr LoadArchiveEntryAsTexture(const std::string& path, TexInfo& info, const HdrDisplaySettings& display = {});

// Everything a save needs besides the picture and the path; each caller
// settles the format and the options by its own rule, then one writer
// dispatch does the writing.
struct SaveRequest {
    ImageFormat format = ImageFormat::Png;
    bool withAlpha = false;  // TGA, TIFF and ".tex" store alpha; PNG is written at 32 bits
    DdsSaveFormat ddsFormat = DdsSaveFormat::Dxt1;
    bool ddsMips = false;
    int texFirstMip = 0;            // which mip level the picture is
    bool texKeepFlagBit1 = false;   // carries the engine flag of a re-saved texture over
    // An ".hdr" file holds this RGBE block, never the 8-bit picture.
    const HdrBlock* hdrData = nullptr;
    int hdrWidth = 0, hdrHeight = 0;
};

// Writes one file: `image` in the request's format (a null image fails, except
// for ".hdr", which writes the block). PCX, BMP and JPEG keep no alpha: PCX
// and JPEG write the stored colours as they are, BMP flattens them over white.
// JPEG is written at quality 90. 1 when the file was written, else 0; a failed
// save leaves an existing file as it was.
int SaveImage(const Image* image, const std::string& path, const SaveRequest& request);

// What a ".tex" save keeps of the texture it came from: an untouched
// version-4 first-generation texture that is no effect texture keeps its
// first mip level and flag bit 1; anything else starts its mip chain afresh.
void KeepTextureMipAndFlag(const TexInfo& source, SaveRequest& request);

// Writes a picture by its extension: "tga", "tif" (not "tiff") and "tex"
// (first mip level 0, no flag) by their writers, any other name as PNG.
// Nonzero on success.
int SaveImageByExtension(const Image& image, const std::string& path, bool withAlpha);

// The batch conversion's writer: one picture in the format of `extension`
// ("tga", "png", "pcx", "bmp", "tif", "jpg", "dds", "tex", "hdr"; any case),
// the choices a run makes without asking (DDS: BC5 for a normal map, else
// DXT5 with alpha, else DXT1, always with mips). Empty on success, "not an HDR
// texture" for a ".hdr" target without RGBE data, "not enough memory" when
// the writer failed while memory was refused (toolkit/memory.h), else "could
// not write the file" (also for any other extension, "tiff" and "jpeg"
// included).
std::string SaveImageForBatch(const Image& image, const TexInfo& info, const std::string& path,
                              const std::string& extension);
