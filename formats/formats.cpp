#include "formats/formats.h"

#include <array>
#include <iterator>

#include "formats/dds.h"
#include "formats/pcx.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "toolkit/files.h"

namespace {

using F = ImageFormat;
using R = FormatReader;

ImagePtr ReadDds(const uint8_t* data, int64_t size, TexInfo& info, const HdrDisplaySettings&) {
    return ReadDdsFromMemory(data, size, info);
}
ImagePtr ReadTga(const uint8_t* data, int64_t size, TexInfo& info, const HdrDisplaySettings&) {
    return ReadTgaFromMemory(data, size, info);
}
ImagePtr ReadPcx(const uint8_t* data, int64_t size, TexInfo& info, const HdrDisplaySettings&) {
    return ReadPcxFromMemory(data, size, info);
}
ImagePtr ReadTiff(const uint8_t* data, int64_t size, TexInfo& info, const HdrDisplaySettings&) {
    return ReadTiffFromMemory(data, size, info);
}

constexpr char kLibTiffNote[] = "Read with libtiff's TIFF reader (semi-transparent pixels may look darker)";

// In the order of ImageFormat.
constexpr FormatInfo kFormats[] = {
    // format, extension, alias, name, reader, own reader, toolkit note,
    // drops alpha, holds HDR, lossy, saved by extension, loss name
    {F::Tex, "tex", nullptr, "Dravik 1 texture", R::Texture, nullptr, "", false, false, false, true, "Dravik 1 .tex"},
    {F::Tga, "tga", nullptr, "Truevision Graphics Adapter", R::Own, ReadTga, "", false, false, false, true, nullptr},
    {F::Png, "png", nullptr, "Portable Network Graphics", R::Toolkit, nullptr, "", false, false, false, true, nullptr},
    {F::Pcx, "pcx", nullptr, "PiCture eXchange", R::Own, ReadPcx, "", true, false, false, false, "PCX"},
    {F::Bmp, "bmp", nullptr, "Microsoft BMP", R::Toolkit, nullptr, "", true, false, false, false, nullptr},
    {F::Tiff, "tif", "tiff", "Tagged Image File Format", R::OwnThenToolkit, ReadTiff, kLibTiffNote, false, false,
     false, true, nullptr},
    {F::Jpeg, "jpg", "jpeg", "Joint Photographic Experts Group", R::Toolkit, nullptr, "", true, false, true, false,
     "JPG"},
    {F::Dds, "dds", nullptr, "DirectDraw Surface", R::Own, ReadDds, "", false, false, false, false, nullptr},
    {F::Hdr, "hdr", nullptr, "Radiance High Dynamic Range", R::Own, ReadHdrFromMemory, "", false, true, false, false,
     nullptr},
};
static_assert(std::size(kFormats) == size_t(F::Hdr) + 1);

constexpr bool RowsFollowTheEnum() {
    for (size_t i = 0; i < std::size(kFormats); ++i)
        if (kFormats[i].format != F(i)) return false;
    return true;
}
static_assert(RowsFollowTheEnum());

struct ListEntry {
    ImageFormat format;
    const char* label = nullptr;  // nullptr: the usual label
};

// Where a list offers textures to read, it names every generation.
constexpr char kAnyTextureLabel[] = "Dravik texture (*.tex)";

constexpr ListEntry kOpenList[] = {{F::Tex, kAnyTextureLabel}, {F::Tga}, {F::Png}, {F::Pcx}, {F::Bmp},
                                   {F::Tiff}, {F::Jpeg}, {F::Dds}, {F::Hdr}};
constexpr ListEntry kMaskList[] = {{F::Tex}, {F::Tga}, {F::Png}, {F::Pcx}, {F::Bmp}, {F::Tiff}, {F::Jpeg}, {F::Dds}};
constexpr ListEntry kSkyboxFacesList[] = {{F::Tex}, {F::Hdr}, {F::Tga}, {F::Png}, {F::Dds}};
constexpr ListEntry kSaveAsList[] = {{F::Tga}, {F::Png}, {F::Pcx}, {F::Bmp}, {F::Tiff},
                                     {F::Jpeg}, {F::Dds}, {F::Tex}, {F::Hdr}};
constexpr ListEntry kBatchSourceList[] = {{F::Tex, kAnyTextureLabel}, {F::Tga}, {F::Png}, {F::Pcx}, {F::Bmp},
                                          {F::Tiff}, {F::Jpeg}, {F::Dds}, {F::Hdr}};
constexpr ListEntry kBatchTargetList[] = {
    {F::Tga}, {F::Png}, {F::Pcx}, {F::Bmp}, {F::Tiff}, {F::Jpeg},
    {F::Dds, "DirectDraw Surface (*.dds), format chosen automatically"},
    {F::Tex},
    {F::Hdr, "Radiance High Dynamic Range (*.hdr), HDR sources only"},
};
constexpr ListEntry kSkyboxExportList[] = {
    {F::Tga}, {F::Png}, {F::Tiff}, {F::Hdr, "Radiance HDR, keeps brightness (*.hdr)"}, {F::Tex}};

std::span<const ListEntry> EntriesOf(FormatList list) {
    switch (list) {
    case FormatList::Open: return kOpenList;
    case FormatList::Mask: return kMaskList;
    case FormatList::SkyboxFaces: return kSkyboxFacesList;
    case FormatList::SaveAs: return kSaveAsList;
    case FormatList::BatchSource: return kBatchSourceList;
    case FormatList::BatchTarget: return kBatchTargetList;
    case FormatList::SkyboxExport: return kSkyboxExportList;
    }
    return {};
}

// The formats of each list, in list order, for callers that only need those.
template <const auto& kEntries>
constexpr auto FormatsOf() {
    std::array<ImageFormat, std::size(kEntries)> formats{};
    for (size_t i = 0; i < formats.size(); ++i) formats[i] = kEntries[i].format;
    return formats;
}
constexpr auto kOpenFormats = FormatsOf<kOpenList>();
constexpr auto kMaskFormats = FormatsOf<kMaskList>();
constexpr auto kSkyboxFacesFormats = FormatsOf<kSkyboxFacesList>();
constexpr auto kSaveAsFormats = FormatsOf<kSaveAsList>();
constexpr auto kBatchSourceFormats = FormatsOf<kBatchSourceList>();
constexpr auto kBatchTargetFormats = FormatsOf<kBatchTargetList>();
constexpr auto kSkyboxExportFormats = FormatsOf<kSkyboxExportList>();

}  // namespace

const FormatInfo& GetFormatInfo(ImageFormat format) { return kFormats[size_t(format)]; }

const FormatInfo* FindFormat(const std::string& extension) {
    const std::string ext = ToLowerAscii(extension);
    for (const FormatInfo& row : kFormats)
        if (ext == row.extension || (row.alias && ext == row.alias)) return &row;
    return nullptr;
}

const FormatInfo* FindFormatByCanonicalExtension(const std::string& extension) {
    const std::string ext = ToLowerAscii(extension);
    for (const FormatInfo& row : kFormats)
        if (ext == row.extension) return &row;
    return nullptr;
}

std::span<const ImageFormat> FormatsIn(FormatList list) {
    switch (list) {
    case FormatList::Open: return kOpenFormats;
    case FormatList::Mask: return kMaskFormats;
    case FormatList::SkyboxFaces: return kSkyboxFacesFormats;
    case FormatList::SaveAs: return kSaveAsFormats;
    case FormatList::BatchSource: return kBatchSourceFormats;
    case FormatList::BatchTarget: return kBatchTargetFormats;
    case FormatList::SkyboxExport: return kSkyboxExportFormats;
    }
    return {};
}

const FormatInfo* FormatAt(FormatList list, int64_t index) {
    const std::span<const ImageFormat> formats = FormatsIn(list);
    if (index < 0 || uint64_t(index) >= formats.size()) return nullptr;
    return &GetFormatInfo(formats[size_t(index)]);
}

std::string FormatLabel(FormatList list, ImageFormat format) {
    for (const ListEntry& entry : EntriesOf(list))
        if (entry.format == format && entry.label) return entry.label;
    const FormatInfo& row = GetFormatInfo(format);
    return std::string(row.name) + " (*." + row.extension + ")";
}

std::string FormatPattern(ImageFormat format) {
    const FormatInfo& row = GetFormatInfo(format);
    std::string pattern = std::string("*.") + row.extension;
    if (row.alias) pattern += std::string(";*.") + row.alias;
    return pattern;
}

std::string JoinedFormatPatterns(FormatList list) {
    std::string patterns;
    for (ImageFormat format : FormatsIn(list)) {
        if (!patterns.empty()) patterns += ";";
        patterns += FormatPattern(format);
    }
    return patterns;
}
