// Load and save by extension. The program's own readers take PCX, HDR, DDS,
// TGA and TIFF from a buffer read once; everything else goes to the toolkit
// decoder, which recognises the content whatever the name says. A TIFF file
// the own reader refuses goes on to the toolkit's libtiff decoder.
#include "formats/dispatch.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "formats/dds.h"
#include "formats/gro.h"
#include "formats/hdr.h"
#include "formats/pcx.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

// The program's own readers take (data, size, info); the HDR reader also
// the display settings.
using MemoryReader = ImagePtr (*)(const uint8_t*, int64_t, TexInfo&, const HdrDisplaySettings&);

MemoryReader OwnReaderFor(const std::string& ext) {
    if (ext == "dds")
        return [](const uint8_t* d, int64_t n, TexInfo& i, const HdrDisplaySettings&) { return ReadDdsFromMemory(d, n, i); };
    if (ext == "tga")
        return [](const uint8_t* d, int64_t n, TexInfo& i, const HdrDisplaySettings&) { return ReadTgaFromMemory(d, n, i); };
    if (ext == "pcx")
        return [](const uint8_t* d, int64_t n, TexInfo& i, const HdrDisplaySettings&) { return ReadPcxFromMemory(d, n, i); };
    if (ext == "hdr") return ReadHdrFromMemory;
    return nullptr;
}

struct FormatName {
    const char* ext;
    const char* formatText;
    const char* note;
};
constexpr FormatName kToolkitFormats[] = {
    {"png", "Portable Network Graphics", ""},
    {"bmp", "Microsoft BMP", ""},
    {"jpg", "Joint Photographic Experts Group", ""},
    {"jpeg", "Joint Photographic Experts Group", ""},
    {"tif", "Tagged Image File Format",
     "Read with libtiff's TIFF reader (semi-transparent pixels may look darker)"},
    {"tiff", "Tagged Image File Format",
     "Read with libtiff's TIFF reader (semi-transparent pixels may look darker)"},
};

// The toolkit decoder reads TGA by content too (a TGA under another name).
[[maybe_unused]] const bool kTgaDecoderRegistered = (RegisterTgaImageDecoder(), true);

// `data` holds the file when the caller has read it already (a TIFF file the
// own reader refused); otherwise the file is read here.
ImagePtr LoadWithToolkitDecoder(const std::string& path, const std::string& ext, std::vector<uint8_t> data,
                                TexInfo& info) {
    ReadFailure failure = ReadFailure::None;
    if (data.empty() && !ReadWholeFile(path, data, &failure) && failure == ReadFailure::NotRegularFile) {
        info.errorText = "The file cannot be opened.";
        return nullptr;
    }
    ImagePtr decoded = DecodeImageMemory(data.data(), data.size(), nullptr);
    if (!decoded) {
        info.errorText = kDamagedFileText;
        return nullptr;
    }
    info.bytesPerPixel = decoded->depth / 8;
    ImagePtr image = ConvertTo32Bit(std::move(decoded));
    if (!image) {
        info.errorText = "Not enough memory for the image.";
        return nullptr;
    }
    info.width = image->width;
    info.height = image->height;
    info.hasAlpha = HasTransparentPixels(image.get());

    info.formatText = ToUpperAscii(ext) + " image";
    for (const FormatName& name : kToolkitFormats) {
        if (ext == name.ext) {
            info.formatText = name.formatText;
            info.note = name.note;
            break;
        }
    }
    return image;
}

// JPEG keeps no alpha: the colour channels are copied as they are, without
// blending them over anything.
bool WriteJpegCopy(const Image& image, const std::string& path) {
    ImagePtr copy = CreateImage(image.width, image.height, 24, MakeColour(0, 0, 0));
    if (!copy) return false;
    DrawImage(*copy, image, 0, 0, DrawMode::Copy);
    return EncodeJpegFile(*copy, path, 90);
}

}  // namespace

ImagePtr LoadImageFileByExtension(const std::string& path, TexInfo& info, const HdrDisplaySettings& display) {
    ClearTexInfo(info);
    info.kind = 0;
    info.frameCount = 1;
    const std::string ext = GetLowerExtension(path);

    if (ext == "tif" || ext == "tiff") {
        std::vector<uint8_t> data;
        if (!ReadFileForDecoding(path, data, info.errorText)) return nullptr;
        if (ImagePtr image = ReadTiffFromMemory(data.data(), int64_t(data.size()), info)) {
            info.formatText = "Tagged Image File Format";
            info.hasAlpha = HasTransparentPixels(image.get());
            info.width = image->width;
            info.height = image->height;
            return image;
        }
        // Not the plain kind the own reader takes: libtiff reads the same bytes.
        return LoadWithToolkitDecoder(path, ext, std::move(data), info);
    }
    if (MemoryReader reader = OwnReaderFor(ext)) {
        std::vector<uint8_t> data;
        if (!ReadFileForDecoding(path, data, info.errorText)) return nullptr;
        ImagePtr image = reader(data.data(), int64_t(data.size()), info, display);
        if (!image) {
            FreeTexHdrData(info);
            if (info.errorText.empty()) info.errorText = kDamagedFileText;
            return nullptr;
        }
        info.width = image->width;
        info.height = image->height;
        return image;
    }
    return LoadWithToolkitDecoder(path, ext, {}, info);
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
    if (GetLowerExtension(path) == "tex") return LoadTexFile(path, info, 0, 0, display);
    return LoadImageFileByExtension(path, info, display);
}

int SaveImageByExtension(const Image& image, const std::string& path, int withAlpha) {
    const std::string ext = GetLowerExtension(path);
    if (ext == "tga") return WriteTgaFile(image, path, withAlpha);
    if (ext == "tif") return WriteTiffFile(&image, path, withAlpha);
    if (ext == "tex") return WriteTexFile(&image, path, withAlpha, 0, 0) ? 1 : 0;
    return EncodePngFile(image, path, withAlpha ? 32 : 24) ? 1 : 0;
}

std::string SaveImageForBatch(const Image& image, const TexInfo& info, const std::string& path,
                              const std::string& extension) {
    const std::string ext = ToLowerAscii(extension);
    const int hasAlpha = info.hasAlpha != 0 ? 1 : 0;
    bool ok = false;
    if (ext == "tga") {
        ok = WriteTgaFile(image, path, hasAlpha) != 0;
    } else if (ext == "png") {
        ok = EncodePngFile(image, path, hasAlpha ? 32 : 24);
    } else if (ext == "pcx") {
        ok = WritePcxFile(image, path) != 0;
    } else if (ext == "bmp") {
        ok = EncodeBmpFile(image, path);
    } else if (ext == "tif") {
        ok = WriteTiffFile(&image, path, hasAlpha) != 0;
    } else if (ext == "jpg") {
        ok = WriteJpegCopy(image, path);
    } else if (ext == "dds") {
        int format = hasAlpha ? kDdsSaveDxt5 : kDdsSaveDxt1;
        if (ToLowerAscii(info.formatText).find("normal") != std::string::npos) format = kDdsSaveBc5;
        ok = WriteDdsFile(image, path, format, 1) != 0;
    } else if (ext == "tex") {
        // An untouched version-4 texture keeps its first mip level and flag;
        // a shrunk one starts its mip chain afresh.
        int firstMip = 0, keepFlag = 0;
        if (info.kind == 1 && info.texVersion == 4 && info.isEffect == 0 && image.width == info.width) {
            firstMip = info.firstMip;
            keepFlag = (info.flags & 2) != 0 ? 1 : 0;
        }
        ok = WriteTexFile(&image, path, hasAlpha, firstMip, keepFlag) != 0;
    } else if (ext == "hdr") {
        if (info.isHdr == 0 || !info.hdrData) return "not an HDR texture";
        ok = WriteHdrFile(info.hdrData.get(), info.width, info.height, path) != 0;
    }
    return ok ? "" : "could not write the file";
}
