// DDS reader and writer.
//
// Reading covers the top level of DXT1/DXT3/DXT5/BC5 and uncompressed 32-bit
// BGRA files; pixel data always start right after the 128-byte header, so DX10
// files are refused by their FourCC. Writing makes DXT1, DXT5, BC5 or BGRA32
// files, optionally with every mip level down to 1 x 1, through an atomic save.
#include "formats/dds.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "formats/blockcomp.h"
#include "formats/sizing.h"
#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/rows.h"

namespace {

constexpr int kHeaderBytes = 128;  // magic + 124-byte header
constexpr int kMaxDdsSide = 16384;

constexpr uint32_t kPixelFormatAlpha = 0x1;
constexpr uint32_t kPixelFormatFourCc = 0x4;
constexpr uint32_t kPixelFormatRgb = 0x40;

constexpr uint32_t kHeaderFlagsRequired = 0x1007;  // caps, height, width, pixel format
constexpr uint32_t kHeaderFlagPitch = 0x8;
constexpr uint32_t kHeaderFlagMipCount = 0x20000;
constexpr uint32_t kHeaderFlagLinearSize = 0x80000;

constexpr uint32_t kCapsTexture = 0x1000;
constexpr uint32_t kCapsMipChain = 0x401008;  // texture, mip map, complex

struct FourCcFormat {
    const char* fourCc;
    int blockFormat;
};
constexpr FourCcFormat kReadableFourCcs[] = {
    {"DXT1", kBlockFormatDxt1}, {"DXT3", kBlockFormatDxt3}, {"DXT5", kBlockFormatDxt5},
    {"ATI2", kBlockFormatBc5},  {"BC5U", kBlockFormatBc5},
};

// The FourCC as text: four 8-bit characters, ending early at a zero byte. Bytes
// above 127 are taken as Latin-1 so the text stays valid UTF-8 in messages.
std::string FourCcText(const uint8_t bytes[4]) {
    std::string text;
    for (int i = 0; i < 4 && bytes[i] != 0; ++i) {
        const uint8_t c = bytes[i];
        if (c < 0x80) {
            text += char(c);
        } else {
            text += char(0xC0 | (c >> 6));
            text += char(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// Appends rows [y0, y1) of the image as B, G, R, A bytes, top row first: a
// 32-bit image already stores that byte order, so each row is one copy; a
// 24-bit one reads as opaque. False, `out` unchanged, when there is no room.
bool AppendBgraRows(std::vector<uint8_t>& out, const Image& image, int y0, int y1) {
    const size_t rowBytes = size_t(image.width) * 4;
    size_t at = out.size();
    if (!ResizeWithinRoom(out, at + rowBytes * size_t(y1 - y0))) return false;
    for (int y = y0; y < y1; ++y, at += rowBytes) {
        if (image.depth == 32)
            std::memcpy(out.data() + at, image.RowFromTop(y), rowBytes);
        else
            AddOpaqueAlphaRow(image.RowFromTop(y), out.data() + at, image.width);
    }
    return true;
}

// A level goes out in slices of about this many bytes, each made on all
// cores, so the writer never holds a level's output whole.
constexpr size_t kSliceBytes = size_t(4) << 20;

// Writes `units` pieces of a level (rows of pixels or of blocks) of
// `unitBytes` each, a slice at a time: append(first, end, out) appends pieces
// [first, end) to `out`, false when it cannot.
template <typename Append>
bool WriteInSlices(AtomicFile& file, std::vector<uint8_t>& slice, int units, size_t unitBytes, Append&& append) {
    const int perSlice = int(std::clamp<size_t>(kSliceBytes / unitBytes, 1, size_t(units)));
    for (int first = 0; first < units; first += perSlice) {
        slice.clear();
        if (!append(first, std::min(units, first + perSlice), slice) || !file.Write(slice)) return false;
    }
    return true;
}

void PutU32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
}

int LevelCount(int w, int h, bool withMips) {
    int count = 1;
    if (!withMips) return count;
    while (w > 1 || h > 1) {
        w = std::max(w / 2, 1);
        h = std::max(h / 2, 1);
        ++count;
    }
    return count;
}

}  // namespace

ImagePtr ReadDdsFromMemory(const uint8_t* data, int64_t size, TexInfo& info) {
    info.errorText.clear();
    ByteReader reader(data, size > 0 ? uint64_t(size) : 0);
    if (reader.Size() < uint64_t(kHeaderBytes) || !reader.TagAt(0, "DDS ")) {
        return FailTexture(info, "This is not a DDS file.");
    }
    reader.Seek(4);
    if (reader.U32() != 124) return FailTexture(info, "This is not a DDS file.");

    reader.Seek(12);
    const int32_t height = reader.I32();
    const int32_t width = reader.I32();
    reader.Seek(80);
    const uint32_t pixelFlags = reader.U32();
    uint8_t fourCc[4];
    reader.Read(fourCc, 4);
    const uint32_t bitCount = reader.U32();
    const uint32_t redMask = reader.U32();
    const uint32_t greenMask = reader.U32();
    const uint32_t blueMask = reader.U32();

    if (width < 1 || height < 1 || width > kMaxDdsSide || height > kMaxDdsSide) {
        return FailTexture(info, "Invalid DDS dimensions.");
    }
    info.width = width;
    info.height = height;

    ImagePtr image;
    if (pixelFlags & kPixelFormatFourCc) {
        const std::string name = FourCcText(fourCc);
        int blockFormat = 0;
        for (const FourCcFormat& f : kReadableFourCcs) {
            if (name == f.fourCc) blockFormat = f.blockFormat;
        }
        if (blockFormat == 0) {
            info.errorText = "DDS format " + name +
                             " is not supported (only DXT1, DXT3, DXT5, ATI2/BC5 and 32-bit).";
            return nullptr;
        }
        const int64_t needed = GetBlockCompressedSize(width, height, blockFormat);
        const uint8_t* blocks = reader.Span(kHeaderBytes, uint64_t(needed));
        bool transparent = false;
        if (blocks) image = DecodeBlockCompressed(blocks, needed, width, height, blockFormat, &transparent);
        if (!image) return FailTexture(info, "The DDS image data is incomplete.");
        info.formatText = "DirectDraw Surface (" + name + ")";
        info.hasAlpha = blockFormat != kBlockFormatBc5 && transparent ? 1 : 0;
    } else {
        if (bitCount != 32 || redMask != 0x00FF0000u || greenMask != 0x0000FF00u || blueMask != 0x000000FFu) {
            return FailTexture(info, "This DDS pixel format is not supported.");
        }
        const int64_t needed = CheckedPixelBytes(width, height, 4);
        const uint8_t* pixels = reader.Span(kHeaderBytes, uint64_t(needed));
        if (!pixels) return FailTexture(info, "The DDS image data is incomplete.");
        image = CreateImage(width, height, 32, kOpaqueBlack);
        if (!image) return nullptr;  // no message: the caller reports the memory shortage
        const size_t rowBytes = size_t(width) * 4;
        const bool keepAlpha = (pixelFlags & kPixelFormatAlpha) != 0;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = image->RowFromTop(y);
            std::memcpy(row, pixels + size_t(y) * rowBytes, rowBytes);
            if (!keepAlpha) {
                for (int x = 0; x < width; ++x) row[x * 4 + 3] = 255;
            }
        }
        info.formatText = "DirectDraw Surface (BGRA 32-bit)";
        info.hasAlpha = HasTransparentPixels(image.get());
    }
    info.bytesPerPixel = 4;
    return image;
}

int64_t WriteRawBgraRows(std::vector<uint8_t>& out, const Image& image) {
    if (!image.pixels || image.width < 1 || image.height < 1) return 0;
    if (image.depth != 32 && image.depth != 24) return 0;
    return AppendBgraRows(out, image, 0, image.height) ? int64_t(image.width) * image.height * 4 : 0;
}

int32_t MakeFourCc(const std::string& text) {
    uint32_t code = 0;
    for (size_t i = 0; i < 4 && i < text.size(); ++i) code |= uint32_t(uint8_t(text[i])) << (8 * i);
    return int32_t(code);
}

int64_t CountMipChainPixels(int64_t w, int64_t h) {
    // Sides come from file headers: a sum past 64 bits saturates, so a caller
    // comparing it with the bytes it has refuses the file instead of wrapping.
    int64_t total = 0;
    for (;;) {
        int64_t level = 0;
        if (__builtin_mul_overflow(w, h, &level) || __builtin_add_overflow(total, level, &total)) return INT64_MAX;
        if (w == 1 && h == 1) break;
        w = std::max<int64_t>(w / 2, 1);
        h = std::max<int64_t>(h / 2, 1);
    }
    return total;
}

bool IsNormalMapFormatText(const std::string& formatText) {
    return ToLowerAscii(formatText).find("normal") != std::string::npos;
}

DdsSaveFormat SuggestDdsSaveFormat(bool isNormalMap, bool hasAlpha) {
    if (isNormalMap) return DdsSaveFormat::Bc5;
    return hasAlpha ? DdsSaveFormat::Dxt5 : DdsSaveFormat::Dxt1;
}

int WriteDdsFile(const Image& image, const std::string& path, DdsSaveFormat format, bool withMips) {
    // A code outside the table would give a header that promises data the
    // writer cannot make; refuse it before anything is touched.
    static constexpr struct {
        const char* fourCc;
        int blockFormat;
    } kSaveFormats[] = {{"DXT1", kBlockFormatDxt1}, {"DXT5", kBlockFormatDxt5}, {"ATI2", kBlockFormatBc5}, {nullptr, 0}};
    const int code = int(format);
    if (code < int(DdsSaveFormat::Dxt1) || code > int(DdsSaveFormat::Bgra32)) return 0;
    if (!image.pixels || image.width < 1 || image.height < 1) return 0;
    if (image.depth != 32 && image.depth != 24) return 0;

    const bool compressed = format != DdsSaveFormat::Bgra32;
    const int blockFormat = kSaveFormats[code].blockFormat;
    const int w = image.width, h = image.height;
    const int levels = LevelCount(w, h, withMips);
    const int64_t topSize = compressed ? GetBlockCompressedSize(w, h, blockFormat) : int64_t(w) * 4;
    if (topSize <= 0 || topSize > int64_t(UINT32_MAX)) return 0;

    std::array<uint8_t, kHeaderBytes> header{};
    std::memcpy(header.data(), "DDS ", 4);
    uint32_t flags = kHeaderFlagsRequired | (compressed ? kHeaderFlagLinearSize : kHeaderFlagPitch);
    if (levels > 1) flags |= kHeaderFlagMipCount;
    PutU32(&header[4], 124);
    PutU32(&header[8], flags);
    PutU32(&header[12], uint32_t(h));
    PutU32(&header[16], uint32_t(w));
    PutU32(&header[20], uint32_t(topSize));
    PutU32(&header[28], uint32_t(levels));
    PutU32(&header[76], 32);
    if (compressed) {
        PutU32(&header[80], kPixelFormatFourCc);
        PutU32(&header[84], uint32_t(MakeFourCc(kSaveFormats[code].fourCc)));
    } else {
        PutU32(&header[80], kPixelFormatRgb | kPixelFormatAlpha);
        PutU32(&header[88], 32);
        PutU32(&header[92], 0x00FF0000u);
        PutU32(&header[96], 0x0000FF00u);
        PutU32(&header[100], 0x000000FFu);
        PutU32(&header[104], 0xFF000000u);
    }
    PutU32(&header[108], levels > 1 ? kCapsMipChain : kCapsTexture);

    // The picture itself, whatever its depth, is the top level, and each
    // further level is halved from the one before: besides the picture the
    // writer holds at most two levels and one slice.
    AtomicFile file(path);
    if (!file.Ok() || !file.Write(header.data(), header.size())) return 0;
    const Image* current = &image;
    ImagePtr owned;
    std::vector<uint8_t> slice;
    for (int level = 1; level <= levels; ++level) {
        const Image& l = *current;
        const bool written =
            compressed ? WriteInSlices(file, slice, (l.height + 3) / 4,
                                       size_t(GetBlockCompressedSize(l.width, 4, blockFormat)),
                                       [&](int first, int end, std::vector<uint8_t>& out) {
                                           return WriteBlockCompressedRows(l, blockFormat, first, end, out) > 0;
                                       })
                       : WriteInSlices(file, slice, l.height, size_t(l.width) * 4,
                                       [&](int first, int end, std::vector<uint8_t>& out) {
                                           return AppendBgraRows(out, l, first, end);
                                       });
        if (!written) return 0;
        if (level < levels) {
            ImagePtr next = HalveImage(l, l.width > 1, l.height > 1);
            if (!next) return 0;
            owned = std::move(next);
            current = owned.get();
        }
    }
    return file.Commit() ? 1 : 0;
}
