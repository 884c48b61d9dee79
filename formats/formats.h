// The table of file formats: which extensions mean a format, the texts the
// program shows for it, how it is read and written, and the lists it appears
// in. Every place that picks a reader or writer by extension, or offers a
// list of formats, reads it here, so a format's knowledge lives in one row
// and each list's order and texts in one array.
//
// Extensions are compared lower-cased. A format has one canonical extension
// ("tif") and may have one more that means the same ("tiff"); which callers
// take the second one is part of their rule and said at each function.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

enum class ImageFormat { Tex, Tga, Png, Pcx, Bmp, Tiff, Jpeg, Dds, Hdr };

// How LoadImageFileByExtension reads a file of the format.
enum class FormatReader {
    Texture,         // an engine texture: the texture loader reads it, not the dispatch by extension
    Own,             // the program's own reader, from the file held in memory
    OwnThenToolkit,  // the own reader first; what it refuses goes to the toolkit decoder (TIFF)
    Toolkit,         // the toolkit decoder, which goes by content
};

// The program's own readers all take the file held in memory; only the HDR
// reader uses the display settings.
using MemoryReader = ImagePtr (*)(const uint8_t* data, int64_t size, TexInfo& info,
                                  const HdrDisplaySettings& display);

struct FormatInfo {
    ImageFormat format;
    const char* extension;  // canonical, lower case
    const char* alias;      // another extension meaning the same, or nullptr
    // Shown in lists as name + " (*." + extension + ")", and the format text of
    // a file the toolkit decoder reads.
    const char* name;
    FormatReader reader;
    MemoryReader ownReader;   // Own and OwnThenToolkit only
    const char* toolkitNote;  // the note of a file the toolkit decoder read, or ""
    // Saving into it loses transparency (no alpha channel): the save warns,
    // the batch asks first and counts the files that lose it.
    bool dropsAlpha;
    bool holdsHdr;   // keeps HDR brightness; offered to save only for an HDR picture
    bool lossy;      // changes the picture's detail when saved
    bool savedByExtension;  // SaveImageByExtension writes it; every other name becomes PNG
    // The name the loss warning gives the format; nullptr: the typed
    // extension in capitals.
    const char* lossName;
};

const FormatInfo& GetFormatInfo(ImageFormat format);
// The format whose canonical extension or alias is `extension` (any case);
// null for any other text.
const FormatInfo* FindFormat(const std::string& extension);
// The same, matching the canonical extension only ("tiff" finds nothing).
const FormatInfo* FindFormatByCanonicalExtension(const std::string& extension);

// The lists of formats the program shows, each in its own order.
enum class FormatList {
    Open,          // "All supported images" of the open requester; its "tex" entry is the filter before it
    Mask,          // "All supported images" of the alpha-mask requester
    SkyboxFaces,   // the skybox window's face requester
    SaveAs,        // Save As patterns (index = pattern index) and the preferred save format
    BatchSource,   // the batch window's source combo
    BatchTarget,   // the batch window's target combo
    SkyboxExport,  // the skybox window's export format combo
};
std::span<const ImageFormat> FormatsIn(FormatList list);
// The format at `index` of the list, or null outside it.
const FormatInfo* FormatAt(FormatList list, int64_t index);
// The text a list shows for a format: name + " (*." + extension + ")" unless
// that list words it otherwise (say ", format chosen automatically").
std::string FormatLabel(FormatList list, ImageFormat format);
// "*.tif;*.tiff": the canonical extension and the alias as requester patterns.
std::string FormatPattern(ImageFormat format);
// The patterns of every format of the list joined by ";".
std::string JoinedFormatPatterns(FormatList list);
