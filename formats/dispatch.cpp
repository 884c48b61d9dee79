// Load and save by format. The program's own readers take PCX, HDR, DDS, TGA
// and TIFF from a buffer read once; everything else goes to the toolkit
// decoder, which recognises the content whatever the name says. A TIFF file
// the own reader refuses goes on to the toolkit's libtiff decoder. Saving goes
// through one writer dispatch whatever chose the format.
#include "formats/dispatch.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "formats/gro.h"
#include "formats/pcx.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/rows.h"

namespace {

// The toolkit decoder reads TGA by content too (a TGA under another name).
[[maybe_unused]] const bool kTgaDecoderRegistered = (RegisterTgaImageDecoder(), true);

// `data` holds the file when the caller has read it already (a TIFF file the
// own reader refused); otherwise the decoder reads the file itself. The
// decoder writes the 32-bit picture directly and says what depth the file had.
ImagePtr LoadWithToolkitDecoder(const std::string& path, const std::string& ext, const std::vector<uint8_t>& data,
                                TexInfo& info) {
    int sourceDepth = 0;
    std::string error;
    ImagePtr image;
    if (data.empty()) {
        ReadFailure failure = ReadFailure::None;
        image = DecodeImageFileTo32Bit(path, &sourceDepth, &error, &failure);
        if (!image && failure == ReadFailure::NotRegularFile) {
            info.errorText = "The file cannot be opened.";
            return nullptr;
        }
    } else {
        image = DecodeImageMemoryTo32Bit(data.data(), data.size(), &sourceDepth, &error);
    }
    if (!image) {
        // Running out of memory is no fault of the file.
        info.errorText = error.starts_with("Not enough memory") ? "Not enough memory for the image." : kDamagedFileText;
        return nullptr;
    }
    info.bytesPerPixel = sourceDepth / 8;
    info.width = image->width;
    info.height = image->height;
    // A file without alpha gives alpha 255 everywhere: nothing to look for.
    info.hasAlpha = sourceDepth == 32 ? HasTransparentPixels(image.get()) : 0;

    // Formats the toolkit decoder reads by name keep their name; any other
    // extension is named after itself.
    const FormatInfo* row = FindFormat(ext);
    if (row && (row->reader == FormatReader::Toolkit || row->reader == FormatReader::OwnThenToolkit)) {
        info.formatText = row->name;
        info.note = row->toolkitNote;
    } else {
        info.formatText = ToUpperAscii(ext) + " image";
    }
    return image;
}

// JPEG keeps no alpha: the stored colours are written as they are, without
// blending them over anything.
bool WriteJpegWithoutAlpha(const Image& image, const std::string& path) {
    ImagePtr copy = CreateImageUnfilled(image.width, image.height, 24);
    if (!copy) return false;
    const int bpp = image.BytesPerPixel();
    for (int y = 0; y < image.height; ++y) CopyColourRow(image.RowFromTop(y), bpp, copy->RowFromTop(y), 3, image.width);
    return EncodeJpegFile(*copy, path, 90);
}

}  // namespace

ImagePtr LoadImageFileByExtension(const std::string& path, TexInfo& info, const HdrDisplaySettings& display) {
    ClearTexInfo(info);
    info.kind = 0;
    info.frameCount = 1;
    const std::string ext = GetLowerExtension(path);
    const FormatInfo* row = FindFormat(ext);
    if (!row || (row->reader != FormatReader::Own && row->reader != FormatReader::OwnThenToolkit))
        return LoadWithToolkitDecoder(path, ext, {}, info);

    std::vector<uint8_t> data;
    if (!ReadFileForDecoding(path, data, info.errorText)) return nullptr;
    ImagePtr image = row->ownReader(data.data(), int64_t(data.size()), info, display);
    if (row->reader == FormatReader::OwnThenToolkit) {
        // Not the plain kind the own reader takes: the toolkit reads the same bytes.
        if (!image) return LoadWithToolkitDecoder(path, ext, data, info);
        info.formatText = row->name;
        info.hasAlpha = HasTransparentPixels(image.get());
    } else if (!image) {
        FreeTexHdrData(info);
        if (info.errorText.empty()) info.errorText = kDamagedFileText;
        return nullptr;
    }
    info.width = image->width;
    info.height = image->height;
    return image;
}

ImagePtr LoadArchiveEntryAsTexture(const std::string& path, TexInfo& info, const HdrDisplaySettings& display) {
    // An archive entry is always an engine texture; the record is not cleared
    // first, the texture loader does that.
    int64_t size = 0;
    std::string failure;
    const std::vector<uint8_t> data =
        ExtractGroEntry(GetArchivePartOfPath(path), GetEntryPartOfPath(path), size, &failure);
    if (data.empty()) {
        info.errorText = failure;
        return nullptr;
    }
    return LoadTextureFromMemory(data.data(), data.size(), info, "", 0, 0, display);
}

ImagePtr LoadImageAnySource(const std::string& path, TexInfo& info, const HdrDisplaySettings& display) {
    if (IsArchivePath(path)) return LoadArchiveEntryAsTexture(path, info, display);
    const FormatInfo* row = FindFormatByCanonicalExtension(GetLowerExtension(path));
    if (row && row->reader == FormatReader::Texture) return LoadTexFile(path, info, 0, 0, display);
    return LoadImageFileByExtension(path, info, display);
}

int SaveImage(const Image* image, const std::string& path, const SaveRequest& request) {
    if (request.format == ImageFormat::Hdr)
        return WriteHdrFile(request.hdrData, request.hdrWidth, request.hdrHeight, path) != 0 ? 1 : 0;
    if (!image) return 0;
    bool ok = false;
    switch (request.format) {
    case ImageFormat::Tex:
        ok = WriteTexFile(image, path, request.withAlpha, request.texFirstMip, request.texKeepFlagBit1) != 0;
        break;
    case ImageFormat::Tga: ok = WriteTgaFile(*image, path, request.withAlpha) != 0; break;
    case ImageFormat::Png: ok = EncodePngFile(*image, path, request.withAlpha ? 32 : 24); break;
    case ImageFormat::Pcx: ok = WritePcxFile(*image, path) != 0; break;
    case ImageFormat::Bmp: ok = EncodeBmpFile(*image, path); break;
    case ImageFormat::Tiff: ok = WriteTiffFile(image, path, request.withAlpha) != 0; break;
    case ImageFormat::Jpeg: ok = WriteJpegWithoutAlpha(*image, path); break;
    case ImageFormat::Dds: ok = WriteDdsFile(*image, path, request.ddsFormat, request.ddsMips) != 0; break;
    case ImageFormat::Hdr: break;
    }
    return ok ? 1 : 0;
}

void KeepTextureMipAndFlag(const TexInfo& source, SaveRequest& request) {
    const bool keep = source.kind == 1 && source.texVersion == 4 && source.isEffect == 0;
    request.texFirstMip = keep ? source.firstMip : 0;
    request.texKeepFlagBit1 = keep && (source.flags & 2) != 0;
}

int SaveImageByExtension(const Image& image, const std::string& path, bool withAlpha) {
    const FormatInfo* row = FindFormatByCanonicalExtension(GetLowerExtension(path));
    SaveRequest request;
    request.format = row && row->savedByExtension ? row->format : ImageFormat::Png;
    request.withAlpha = withAlpha;
    return SaveImage(&image, path, request);
}

std::string SaveImageForBatch(const Image& image, const TexInfo& info, const std::string& path,
                              const std::string& extension) {
    const FormatInfo* row = FindFormatByCanonicalExtension(extension);
    if (!row) return "could not write the file";
    SaveRequest request;
    request.format = row->format;
    request.withAlpha = info.hasAlpha != 0;
    request.ddsFormat = SuggestDdsSaveFormat(IsNormalMapFormatText(info.formatText), info.hasAlpha != 0);
    request.ddsMips = true;
    // A shrunk texture starts its mip chain afresh.
    if (image.width == info.width) KeepTextureMipAndFlag(info, request);
    if (row->holdsHdr) {
        if (info.isHdr == 0 || !info.hdrData) return "not an HDR texture";
        request.hdrData = info.hdrData.get();
        request.hdrWidth = info.width;
        request.hdrHeight = info.height;
    }
    // A writer refused memory says so, or the user would look for a fault
    // of the disk.
    const MemoryRefusalWatch refusals;
    if (SaveImage(&image, path, request)) return "";
    return refusals.Refused() ? "not enough memory" : "could not write the file";
}
