// BMP, our own code: OS/2 1.x and Windows headers up to V5; 1, 4 and 8-bit
// palettes, RLE4 and RLE8, 16, 24 and 32-bit with default or BITFIELDS masks
// (alpha only when a mask says so); bottom-up and top-down. Embedded JPEG or
// PNG data and OS/2 Huffman/RLE24 are not read. Writing is 24-bit uncompressed.
#include <algorithm>
#include <bit>
#include <cstring>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/rows.h"

namespace {

constexpr const char* kDamaged = "The BMP file is damaged.";
constexpr const char* kTruncated = "The BMP file is truncated.";

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };

// One channel of a BITFIELDS pixel: value = (pixel & mask) >> shift, scaled
// from 0..max to 0..255 through a table built once per file.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    uint8_t* table = nullptr;  // max + 1 entries when max <= 65535, else null

    void Set(uint32_t m) {
        mask = m;
        shift = m ? std::countr_zero(m) : 0;
        max = m >> shift;
    }
    uint8_t Scale(uint32_t pixel) const {
        const uint32_t v = (pixel & mask) >> shift;
        if (table) return table[v];
        return uint8_t((uint64_t(v) * 255 + max / 2) / max);
    }
};

struct BmpInfo {
    uint32_t dataOffset = 0;
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = kBiRgb;
    uint32_t coloursUsed = 0;
    uint32_t masks[4] = {};  // red, green, blue, alpha
};

bool ReadBmpHeader(ByteReader& in, BmpInfo& info, const char** failure) {
    *failure = kDamaged;
    in.Seek(10);
    info.dataOffset = in.U32();
    info.headerSize = in.U32();
    if (in.Overrun()) {
        *failure = kTruncated;
        return false;
    }
    const uint32_t hs = info.headerSize;
    if (hs == 12) {
        info.width = in.U16();
        info.height = in.U16();
        in.U16();  // planes
        info.bits = in.U16();
    } else if (hs == 40 || hs == 52 || hs == 56 || hs == 64 || hs == 108 || hs == 124) {
        info.width = in.I32();
        const int32_t h = in.I32();
        info.topDown = h < 0;
        info.height = h < 0 ? -int64_t(h) : int64_t(h);
        in.U16();  // planes
        info.bits = in.U16();
        info.compression = in.U32();
        in.Skip(12);  // image size, resolution
        info.coloursUsed = in.U32();
        in.U32();  // important colours
        if (hs == 64 && (info.compression == 3 || info.compression == 4)) {
            *failure = "This BMP compression is not supported.";  // OS/2 Huffman or RLE24
            return false;
        }
        if (hs >= 52 && hs != 64) {
            for (int i = 0; i < (hs >= 56 ? 4 : 3); ++i) info.masks[i] = in.U32();
        } else if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) {
            // Masks of a plain 40-byte header follow it.
            in.Seek(14 + uint64_t(hs));
            for (int i = 0; i < (info.compression == kBiAlphaBitfields ? 4 : 3); ++i) info.masks[i] = in.U32();
        }
    } else {
        *failure = "This kind of BMP file is not supported.";
        return false;
    }
    if (in.Overrun()) {
        *failure = kTruncated;
        return false;
    }
    if (info.width < 1 || info.height < 1) return false;
    if (info.width > kMaxImageSide || info.height > kMaxImageSide) {
        *failure = "The BMP picture is too large.";
        return false;
    }
    if (info.compression == kBiRle8 && info.bits != 8) return false;
    if (info.compression == kBiRle4 && info.bits != 4) return false;
    const bool bitfields = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
    if (bitfields && info.bits != 16 && info.bits != 32) return false;
    if (info.compression != kBiRgb && info.compression != kBiRle8 && info.compression != kBiRle4 && !bitfields) {
        *failure = "This BMP compression is not supported.";
        return false;
    }
    switch (info.bits) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default:
            *failure = "This BMP pixel format is not supported.";
            return false;
    }
    if (!bitfields) {
        // Masks in a V3+ header only count for BITFIELDS, except alpha, which
        // writers put there for plain 32-bit files with transparency.
        const uint32_t alpha = (info.bits == 32) ? info.masks[3] : 0;
        if (info.bits == 16) {
            info.masks[0] = 0x7C00, info.masks[1] = 0x03E0, info.masks[2] = 0x001F, info.masks[3] = 0;
        } else if (info.bits == 32) {
            info.masks[0] = 0xFF0000, info.masks[1] = 0xFF00, info.masks[2] = 0xFF, info.masks[3] = alpha;
        }
    }
    if (info.bits == 16) {
        for (uint32_t& m : info.masks) m &= 0xFFFF;
    }
    return true;
}

// The palette as B, G, R, 255; entries the file does not hold stay black, so
// a bad index in the pixels can never read outside it. A 24-bit picture takes
// the first three bytes of an entry, a 32-bit one all four.
using BmpPalette = uint8_t[256][4];

bool ReadBmpPalette(ByteReader& in, const BmpInfo& info, BmpPalette& palette) {
    for (uint8_t* entry : palette) {
        entry[0] = entry[1] = entry[2] = 0;
        entry[3] = 255;
    }
    if (info.bits > 8) return true;
    const uint32_t entrySize = info.headerSize == 12 ? 3 : 4;
    uint64_t count = info.coloursUsed ? info.coloursUsed : (1u << info.bits);
    count = std::min<uint64_t>(count, 256);
    const uint64_t start = 14 + uint64_t(info.headerSize);
    // Some writers claim more colours than fit before the pixels: keep what is there.
    if (info.dataOffset > start) count = std::min<uint64_t>(count, (info.dataOffset - start) / entrySize);
    const uint8_t* p = in.Span(start, count * entrySize);
    if (!p) return false;
    for (uint64_t i = 0; i < count; ++i, p += entrySize) std::memcpy(palette[i], p, 3);
    return true;
}

void ExpandIndexedRow(const uint8_t* src, int width, uint32_t bits, const BmpPalette& palette, uint8_t* out,
                      int outBpp) {
    if (bits == 8) {
        for (int x = 0; x < width; ++x, out += outBpp) std::memcpy(out, palette[src[x]], size_t(outBpp));
        return;
    }
    const int perByte = 8 / int(bits);
    const int mask = (1 << bits) - 1;
    for (int x = 0; x < width; ++x, out += outBpp) {
        const int shift = 8 - int(bits) * (x % perByte + 1);
        std::memcpy(out, palette[(src[x / perByte] >> shift) & mask], size_t(outBpp));
    }
}

// Decodes the uncompressed pixel formats row by row, into 24 or 32-bit rows
// (alpha 255 where the file has none).
bool DecodeBmpRows(ByteReader& in, const BmpInfo& info, const BmpPalette& palette, Image& image) {
    const int w = int(info.width), h = int(info.height);
    const uint64_t stride = ((uint64_t(w) * info.bits + 31) / 32) * 4;
    const uint8_t* pixels = in.Span(info.dataOffset, stride * uint64_t(h));
    if (!pixels) return false;

    Channel ch[4];
    uint8_t tables[4][256];
    const bool masked = info.bits == 16 || info.bits == 32;
    if (masked) {
        for (int i = 0; i < 4; ++i) {
            ch[i].Set(info.masks[i]);
            if (ch[i].max > 0 && ch[i].max <= 255) {
                for (uint32_t v = 0; v <= ch[i].max; ++v) tables[i][v] = uint8_t((v * 255 + ch[i].max / 2) / ch[i].max);
                ch[i].table = tables[i];
            }
        }
    }
    const bool alpha = masked && info.masks[3] != 0;
    const int outBpp = image.BytesPerPixel();
    for (int row = 0; row < h; ++row) {
        const uint8_t* src = pixels + stride * uint64_t(row);
        uint8_t* out = image.RowFromTop(info.topDown ? row : h - 1 - row);
        if (info.bits <= 8) {
            ExpandIndexedRow(src, w, info.bits, palette, out, outBpp);
        } else if (info.bits == 24) {
            if (outBpp == 4)
                AddOpaqueAlphaRow(src, out, w);
            else
                std::memcpy(out, src, size_t(w) * 3);
        } else {
            const int bpp = int(info.bits) / 8;
            for (int x = 0; x < w; ++x, src += bpp, out += outBpp) {
                const uint32_t p = bpp == 2 ? uint32_t(src[0] | src[1] << 8)
                                            : uint32_t(src[0] | src[1] << 8 | src[2] << 16 | uint32_t(src[3]) << 24);
                out[0] = ch[2].mask ? ch[2].Scale(p) : 0;
                out[1] = ch[1].mask ? ch[1].Scale(p) : 0;
                out[2] = ch[0].mask ? ch[0].Scale(p) : 0;
                if (outBpp == 4) out[3] = alpha ? ch[3].Scale(p) : 255;
            }
        }
    }
    return true;
}

// RLE4/RLE8: runs and literal groups of palette indices, with end-of-line,
// end-of-picture and move escapes. Pixels the stream never sets stay black;
// runs past the right edge are clipped. The stream must reach the last row
// or say end-of-picture, else the file was cut short.
bool DecodeBmpRle(ByteReader& in, const BmpInfo& info, const BmpPalette& palette, Image& image) {
    const int w = int(info.width), h = int(info.height);
    const bool four = info.compression == kBiRle4;
    const int outBpp = image.BytesPerPixel();
    if (!in.Seek(info.dataOffset)) return false;
    int x = 0, row = 0;  // row counts in stored order
    auto put = [&](int index) {
        if (x < w && row < h) {
            uint8_t* out = image.RowFromTop(info.topDown ? row : h - 1 - row) + size_t(x) * size_t(outBpp);
            std::memcpy(out, palette[index], size_t(outBpp));
        }
        ++x;
    };
    while (row < h) {
        const uint8_t count = in.U8();
        const uint8_t value = in.U8();
        if (in.Overrun()) return false;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i) put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of picture
            return true;
        } else if (value == 2) {  // move right and up the picture
            const uint8_t dx = in.U8();
            const uint8_t dy = in.U8();
            if (in.Overrun()) return false;
            x += dx;
            row += dy;
        } else {  // a literal group, padded to a 16-bit boundary
            const uint64_t bytes = four ? (uint64_t(value) + 1) / 2 : value;
            const uint8_t* lit = in.Take(bytes);
            if (!lit) return false;
            for (int i = 0; i < value && x < w; ++i) put(four ? ((i & 1) ? lit[i / 2] & 15 : lit[i / 2] >> 4) : lit[i]);
            if (bytes & 1) in.Skip(1);
            if (in.Overrun()) return false;
        }
    }
    return true;
}

}  // namespace

ImagePtr DecodeBmpData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth) {
    if (error) error->clear();
    if (!IsBmpData(data, size)) return CodecFailure(error, "The file is not a BMP image.");
    ByteReader in(data, size);
    BmpInfo info;
    const char* failure = kDamaged;
    if (!ReadBmpHeader(in, info, &failure)) return CodecFailure(error, failure);
    BmpPalette palette;
    if (!ReadBmpPalette(in, info, palette)) return CodecFailure(error, kTruncated);

    const bool rle = info.compression == kBiRle8 || info.compression == kBiRle4;
    // The pixels must all be in the file before the picture is allocated.
    const uint64_t stride = ((uint64_t(info.width) * info.bits + 31) / 32) * 4;
    if (!rle && !in.Fits(info.dataOffset, stride * uint64_t(info.height))) return CodecFailure(error, kTruncated);
    // A run of two bytes paints at most 255 pixels. The escapes that skip
    // pixels (end of line, move, end of picture) could stand for any number,
    // so they are not counted: a stream too short to paint the picture it
    // claims is refused rather than a few bytes allocating gigabytes.
    const uint64_t packed = in.Size() > info.dataOffset ? in.Size() - info.dataOffset : 0;
    if (rle && !ClaimFitsBytes(uint64_t(info.width) * uint64_t(info.height), packed, 255, 2))
        return CodecFailure(error, kTruncated);

    const bool alpha = (info.bits == 16 || info.bits == 32) && info.masks[3] != 0;
    const int depth = alpha || sourceDepth ? 32 : 24;
    // Pixels a run-length stream never sets stay opaque black.
    ImagePtr image = rle ? CreateImage(int(info.width), int(info.height), depth)
                         : CreateDecodedImage(int(info.width), int(info.height), depth);
    if (!image) return CodecFailure(error, "Not enough memory to read the BMP file.");
    if (!(rle ? DecodeBmpRle(in, info, palette, *image) : DecodeBmpRows(in, info, palette, *image)))
        return CodecFailure(error, kTruncated);
    if (sourceDepth) *sourceDepth = alpha ? 32 : 24;
    return image;
}

bool EncodeBmpMemory(const Image& image, std::vector<uint8_t>& out) {
    out.clear();
    if (!image.pixels || image.width < 1 || image.height < 1) return false;
    const uint64_t stride = (uint64_t(image.width) * 3 + 3) & ~uint64_t(3);
    const uint64_t total = 54 + stride * uint64_t(image.height);
    if (total > 0xFFFFFFFFu || !ResizeWithinRoom(out, size_t(total))) return false;
    uint8_t* p = out.data();
    auto put16 = [&p](uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p += 2; };
    auto put32 = [&p](uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24), p += 4; };
    *p++ = 'B';
    *p++ = 'M';
    put32(uint32_t(total));
    put32(0);
    put32(54);
    put32(40);
    put32(uint32_t(image.width));
    put32(uint32_t(image.height));  // positive: rows stored bottom-up
    put16(1);
    put16(24);
    put32(kBiRgb);
    put32(uint32_t(stride * uint64_t(image.height)));
    put32(2835);  // 72 dots per inch, in dots per metre
    put32(2835);
    put32(0);
    put32(0);
    for (int y = image.height - 1; y >= 0; --y, p += stride) CopyRowForEncoding(image, y, false, p);
    return true;
}

bool EncodeBmpFile(const Image& image, const std::string& path) {
    std::vector<uint8_t> bytes;
    return EncodeBmpMemory(image, bytes) && WriteWholeFile(path, bytes.data(), bytes.size());
}
