// Choosing a reader or writer by file-name extension. Every loader fills a
// TexInfo and returns a 32-bit image, or null with errorText set; nothing
// here shows a message.
#pragma once

#include <string>

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

// Writes a picture by its extension (TGA, TIFF, first-generation ".tex",
// otherwise PNG). Nonzero on success.
int SaveImageByExtension(const Image& image, const std::string& path, int withAlpha);

// The batch conversion's writer: one picture in the format of `extension`
// ("tga", "png", "pcx", "bmp", "tif", "jpg", "dds", "tex", "hdr"; any case),
// the choices a run makes without asking (DDS: BC5 for a normal map, else
// DXT5 with alpha, else DXT1, always with mips). Empty on success, "not an HDR
// texture" for a ".hdr" target without RGBE data, else "could not write the
// file".
std::string SaveImageForBatch(const Image& image, const TexInfo& info, const std::string& path,
                              const std::string& extension);
