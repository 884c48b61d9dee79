// TGA reader and writer.
//
// Reading covers colour-mapped, true-colour and grey images (types 1, 2, 3 and
// their run-length forms 9, 10, 11) at 8 to 32 bits, decoded row by row
// straight into the picture; the footer and extension area are ignored.
// Writing makes type 2, 24 or 32 bits, rows from the top, then the footer.
#include "formats/tga.h"

#include <cstring>
#include <new>
#include <vector>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/rows.h"

namespace {

constexpr int kHeaderBytes = 18;
constexpr int kFooterBytes = 26;
constexpr int kMaxTgaSide = 65535;
constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";  // written with its zero byte
static_assert(sizeof(kFooterSignature) == 18);

constexpr uint8_t kDescriptorRightToLeft = 0x10;
constexpr uint8_t kDescriptorTopDown = 0x20;

struct TgaHeader {
    uint8_t idLength = 0;
    uint8_t colourMapType = 0;
    uint8_t imageType = 0;
    uint16_t firstIndex = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntryBits = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t depth = 0;
    uint8_t descriptor = 0;

    int AlphaBits() const { return descriptor & 0x0F; }
    int BytesPerPixel() const { return (depth + 7) / 8; }
    int MapEntryBytes() const { return (mapEntryBits + 7) / 8; }
    bool HasMap() const { return colourMapType == 1; }
    bool IsMapped() const { return imageType == 1 || imageType == 9; }
    bool IsRunLength() const { return imageType >= 9; }
};

TgaHeader ReadHeader(ByteReader& reader) {
    TgaHeader h;
    h.idLength = reader.U8();
    h.colourMapType = reader.U8();
    h.imageType = reader.U8();
    h.firstIndex = reader.U16();
    h.mapLength = reader.U16();
    h.mapEntryBits = reader.U8();
    reader.Skip(4);  // x and y origin
    h.width = reader.U16();
    h.height = reader.U16();
    h.depth = reader.U8();
    h.descriptor = reader.U8();
    return h;
}

bool IsKnownType(int type) { return type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11; }
bool IsKnownDepth(int depth) { return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32; }

uint8_t Expand5(unsigned v) { return uint8_t((v & 31) * 255 / 31); }

// How one file pixel becomes B, G, R, A; chosen once per file.
enum class Layout {
    Grey,    // first byte is the grey level (also true colour at 8 bits, which has no room for colour)
    Mapped,  // index into the colour map
    Rgb555,  // little-endian word, 5 bits a channel, bit 15 alpha when the file declares 1 alpha bit
    Bgr,     // 3 bytes
    Bgra,    // 4 bytes, alpha kept as stored and settled after the whole picture is read
};

Layout LayoutFor(const TgaHeader& h) {
    if (h.IsMapped()) return Layout::Mapped;
    if (h.imageType == 3 || h.imageType == 11) return Layout::Grey;
    switch (h.BytesPerPixel()) {
        case 1: return Layout::Grey;
        case 2: return Layout::Rgb555;
        case 3: return Layout::Bgr;
        default: return Layout::Bgra;
    }
}

// The colour map as a lookup table indexed by the pixel's raw index, so every
// index that falls outside the map, and every index of a file without a map,
// already holds opaque black. Indices are one byte for 8-bit pixels and a
// little-endian word for wider ones, so maps of more than 256 entries work.
std::vector<uint8_t> BuildPalette(const TgaHeader& h, const ByteReader& reader, uint64_t mapOffset) {
    const int indexCount = h.BytesPerPixel() == 1 ? 256 : 65536;
    std::vector<uint8_t> palette(size_t(indexCount) * 4, 0);
    for (int i = 0; i < indexCount; ++i) palette[size_t(i) * 4 + 3] = 255;
    const int entryBytes = h.MapEntryBytes();
    if (!h.HasMap() || entryBytes == 0) return palette;
    const int end = int(h.firstIndex) + int(h.mapLength) < indexCount ? int(h.firstIndex) + int(h.mapLength) : indexCount;
    for (int i = int(h.firstIndex); i < end; ++i) {
        const int entry = i - int(h.firstIndex);
        const uint8_t* e = reader.Span(mapOffset + uint64_t(entry) * uint64_t(entryBytes), uint64_t(entryBytes));
        if (!e) continue;  // a map cut short by the end of the file
        uint8_t* out = &palette[size_t(i) * 4];
        if (entryBytes == 1) {
            out[0] = out[1] = out[2] = e[0];
        } else if (entryBytes == 2) {
            const unsigned v = unsigned(e[0]) | (unsigned(e[1]) << 8);
            out[0] = Expand5(v);
            out[1] = Expand5(v >> 5);
            out[2] = Expand5(v >> 10);
        } else {
            out[0] = e[0];
            out[1] = e[1];
            out[2] = e[2];
            if (entryBytes == 4) out[3] = e[3];
        }
    }
    return palette;
}

struct RowConverter {
    Layout layout;
    int bytesPerPixel;
    bool alphaFromBit15;
    const uint8_t* palette;
    uint8_t alphaSeen = 0;  // OR of every stored fourth byte (Bgra only)

    // Converts width file pixels at src into the picture row at dst, stepping
    // +4 or -4 bytes a pixel so right-to-left files land mirrored.
    void Convert(const uint8_t* src, int width, uint8_t* dst, int step) {
        const int bpp = bytesPerPixel;
        switch (layout) {
            case Layout::Grey:
                for (int x = 0; x < width; ++x, src += bpp, dst += step) {
                    dst[0] = dst[1] = dst[2] = src[0];
                    dst[3] = 255;
                }
                break;
            case Layout::Mapped:
                for (int x = 0; x < width; ++x, src += bpp, dst += step) {
                    const unsigned index = bpp == 1 ? src[0] : unsigned(src[0]) | (unsigned(src[1]) << 8);
                    std::memcpy(dst, palette + size_t(index) * 4, 4);
                }
                break;
            case Layout::Rgb555:
                for (int x = 0; x < width; ++x, src += bpp, dst += step) {
                    const unsigned v = unsigned(src[0]) | (unsigned(src[1]) << 8);
                    dst[0] = Expand5(v);
                    dst[1] = Expand5(v >> 5);
                    dst[2] = Expand5(v >> 10);
                    dst[3] = alphaFromBit15 && (v & 0x8000) == 0 ? 0 : 255;
                }
                break;
            case Layout::Bgr:
                for (int x = 0; x < width; ++x, src += bpp, dst += step) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                    dst[3] = 255;
                }
                break;
            case Layout::Bgra: {
                uint8_t seen = alphaSeen;
                for (int x = 0; x < width; ++x, src += bpp, dst += step) {
                    std::memcpy(dst, src, 4);
                    seen |= src[3];
                }
                alphaSeen = seen;
                break;
            }
        }
    }
};

// Run-length packets may cross row ends, so their state lives across rows.
// Pixels the data no longer cover stay zero bytes.
struct RunLengthDecoder {
    const ByteReader& reader;
    uint64_t pos;
    int bytesPerPixel;
    int left = 0;       // pixels still due from the current packet
    bool isRun = false;
    const uint8_t* runValue = nullptr;  // null when the run's value lies past the end

    void FillRow(uint8_t* row, int width) {
        const int bpp = bytesPerPixel;
        std::memset(row, 0, size_t(width) * size_t(bpp));
        int x = 0;
        while (x < width) {
            if (left == 0) {
                if (pos >= reader.Size()) return;
                const uint8_t c = *reader.Span(pos, 1);
                pos += 1;
                left = (c & 0x7F) + 1;
                isRun = (c & 0x80) != 0;
                if (isRun) {
                    runValue = reader.Span(pos, uint64_t(bpp));
                    pos += uint64_t(bpp);
                }
            }
            const int n = left < width - x ? left : width - x;
            uint8_t* out = row + size_t(x) * size_t(bpp);
            if (isRun) {
                if (runValue)
                    for (int i = 0; i < n; ++i, out += bpp) std::memcpy(out, runValue, size_t(bpp));
            } else {
                // The whole pixels still present are copied; the rest of the
                // packet only moves the position on.
                const uint64_t present = pos < reader.Size() ? (reader.Size() - pos) / uint64_t(bpp) : 0;
                const int copied = present < uint64_t(n) ? int(present) : n;
                if (copied > 0) std::memcpy(out, reader.Span(pos, uint64_t(copied) * uint64_t(bpp)), size_t(copied) * size_t(bpp));
                pos += uint64_t(n) * uint64_t(bpp);
            }
            left -= n;
            x += n;
        }
    }
};

ImagePtr DecodeForToolkit(const uint8_t* data, size_t size, std::string* error);

// TGA has no magic: accept only headers whose every field makes sense, so the
// toolkit's fallback does not claim arbitrary bytes.
bool LooksLikeTga(const uint8_t* data, size_t size) {
    if (!data || size < size_t(kHeaderBytes)) return false;
    ByteReader reader(data, size);
    const TgaHeader h = ReadHeader(reader);
    if (h.colourMapType > 1 || !IsKnownType(h.imageType) || !IsKnownDepth(h.depth)) return false;
    if (h.width == 0 || h.height == 0 || (h.descriptor & 0xC0) != 0 || h.AlphaBits() > 8) return false;
    if (h.IsMapped() && (!h.HasMap() || h.mapLength == 0)) return false;
    if (h.HasMap() && h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32)
        return false;
    return true;
}

}  // namespace

ImagePtr ReadTgaFromMemory(const uint8_t* data, int64_t size, TexInfo& info) {
    if (!data || size < kHeaderBytes) return FailTexture(info, "This is not a TGA file.");
    ByteReader reader(data, uint64_t(size));
    const TgaHeader h = ReadHeader(reader);
    if (h.width < 1 || h.height < 1 || !IsKnownType(h.imageType))
        return FailTexture(info, "This TGA type is not supported (type " + std::to_string(h.imageType) + ").");
    if (!IsKnownDepth(h.depth))
        return FailTexture(info, "This TGA bit depth is not supported (" + std::to_string(h.depth) + " bits).");

    const int width = h.width;
    const int height = h.height;
    const int bpp = h.BytesPerPixel();
    const uint64_t mapOffset = uint64_t(kHeaderBytes) + h.idLength;
    const uint64_t mapBytes = h.HasMap() ? uint64_t(h.mapLength) * uint64_t(h.MapEntryBytes()) : 0;
    const uint64_t pixelOffset = mapOffset + mapBytes;
    const uint64_t rowBytes = uint64_t(width) * uint64_t(bpp);
    const int64_t pixelBytes = CheckedPixelBytes(width, height, bpp);

    if (!h.IsRunLength() && !reader.Fits(pixelOffset, uint64_t(pixelBytes)))
        return FailTexture(info, "The TGA image data is incomplete.");
    // A run-length file may end early, but one packet of 1 + bpp bytes stands
    // for at most 128 pixels: a claim beyond that cannot be the file's.
    const uint64_t packedBytes = reader.Size() > pixelOffset ? reader.Size() - pixelOffset : 0;
    if (h.IsRunLength() && !ClaimFitsBytes(uint64_t(width) * uint64_t(height), packedBytes, 128, uint64_t(1 + bpp)))
        return FailTexture(info, "The TGA image data is incomplete.");
    // A file whose colour map is cut short has no trustworthy colours at all.
    if (h.IsMapped() && h.HasMap() && !reader.Fits(mapOffset, mapBytes))
        return FailTexture(info, "The TGA image data is incomplete.");

    ImagePtr image = CreateImageUnfilled(width, height, 32);
    if (!image) return FailTexture(info, "Not enough memory for the image.");

    std::vector<uint8_t> palette;
    std::vector<uint8_t> rowBuffer;
    try {
        if (h.IsMapped()) palette = BuildPalette(h, reader, mapOffset);
        if (h.IsRunLength()) rowBuffer.resize(size_t(rowBytes));
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
        return FailTexture(info, "Not enough memory for the image.");
    }

    const Layout layout = LayoutFor(h);
    RowConverter converter{layout, bpp, h.AlphaBits() == 1, palette.data()};
    RunLengthDecoder runs{reader, pixelOffset, bpp};
    const bool topDown = (h.descriptor & kDescriptorTopDown) != 0;
    const bool rightToLeft = (h.descriptor & kDescriptorRightToLeft) != 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* src;
        if (h.IsRunLength()) {
            runs.FillRow(rowBuffer.data(), width);
            src = rowBuffer.data();
        } else {
            src = reader.Span(pixelOffset + uint64_t(r) * rowBytes, rowBytes);
        }
        uint8_t* dst = image->RowFromTop(topDown ? r : height - 1 - r);
        if (rightToLeft)
            converter.Convert(src, width, dst + size_t(width - 1) * 4, -4);
        else
            converter.Convert(src, width, dst, 4);
    }

    // Many writers leave the alpha-bit count at 0 and still store alpha; a
    // file whose fourth bytes are all 0 is the one that really has none.
    if (layout == Layout::Bgra && h.AlphaBits() == 0 && converter.alphaSeen == 0) {
        for (int y = 0; y < height; ++y) {
            uint8_t* p = image->RowFromTop(y);
            for (int x = 0; x < width; ++x, p += 4) p[3] = 255;
        }
    }

    info.formatText = "Truevision Graphics Adapter";
    info.bytesPerPixel = bpp;
    info.hasAlpha = HasTransparentPixels(image.get());
    return image;
}

int WriteTgaFile(const Image& image, const std::string& path, bool withAlpha) {
    if (!image.pixels || image.width < 1 || image.height < 1) return 0;
    if (image.width > kMaxTgaSide || image.height > kMaxTgaSide) return 0;
    if (image.depth != 24 && image.depth != 32) return 0;
    const int w = image.width;
    const int h = image.height;
    const int bpp = withAlpha ? 4 : 3;
    const int64_t pixelBytes = CheckedPixelBytes(w, h, bpp);
    if (pixelBytes < 0) return 0;

    std::vector<uint8_t> file;
    if (!ResizeWithinRoom(file, size_t(pixelBytes) + kHeaderBytes + kFooterBytes)) return 0;
    file[2] = 2;
    file[12] = uint8_t(w);
    file[13] = uint8_t(w >> 8);
    file[14] = uint8_t(h);
    file[15] = uint8_t(h >> 8);
    file[16] = uint8_t(bpp * 8);
    file[17] = withAlpha ? 0x28 : 0x20;

    const int srcBpp = image.BytesPerPixel();
    uint8_t* out = file.data() + kHeaderBytes;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = image.RowFromTop(y);
        if (srcBpp == bpp)
            std::memcpy(out, src, size_t(w) * size_t(bpp));
        else if (bpp == 3)
            CopyColourRow(src, 4, out, 3, w);  // alpha left out, colours kept as stored
        else
            AddOpaqueAlphaRow(src, out, w);
        out += size_t(w) * size_t(bpp);
    }
    // Extension and developer offsets stay 0; the signature closes the file.
    std::memcpy(file.data() + file.size() - sizeof(kFooterSignature), kFooterSignature, sizeof(kFooterSignature));
    return WriteWholeFile(path, file.data(), file.size()) ? 1 : 0;
}

namespace {

// The toolkit's contract: 24 bits when the picture has no transparency, so
// callers can tell the depth they got from the result.
ImagePtr DecodeForToolkit(const uint8_t* data, size_t size, std::string* error) {
    TexInfo info;
    ImagePtr image = ReadTgaFromMemory(data, int64_t(size), info);
    if (!image) return CodecFailure(error, info.errorText.c_str());
    if (info.hasAlpha) return image;
    ImagePtr opaque = CreateImageUnfilled(image->width, image->height, 24);
    if (!opaque) return CodecFailure(error, "Not enough memory for the image.");
    for (int y = 0; y < image->height; ++y)
        CopyColourRow(image->RowFromTop(y), 4, opaque->RowFromTop(y), 3, image->width);
    return opaque;
}

}  // namespace

void RegisterTgaImageDecoder() { RegisterImageDecoder(LooksLikeTga, DecodeForToolkit); }
