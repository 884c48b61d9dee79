// Engine textures: generation detection, the first-generation ".tex" reader
// (versions 3 and 4, animation frames, effect textures) and the version-4
// writer. Mip levels other than the stored one and the animation trailer are
// never read; the writer always writes one frame and the fixed trailer.
#include "formats/tex.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "formats/dk2.h"
#include "formats/dk3.h"
#include "formats/metaheader.h"
#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/parallel.h"
#include "toolkit/rows.h"

namespace {

constexpr int kMaxEffectSide = 4096;
// A chain of effect textures is followed at most this many levels down.
constexpr int kMaxEffectDepth = 4;

int32_t I32At(ByteReader& reader, uint64_t offset) {
    reader.Seek(offset);
    return reader.I32();  // 0 past the end; callers have checked the size
}

// Bytes read as 8-bit text, ending early at a zero byte.
std::string TextUpToZero(const uint8_t* bytes, size_t count) {
    const void* zero = std::memchr(bytes, 0, count);
    const size_t n = zero ? size_t(static_cast<const uint8_t*>(zero) - bytes) : count;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

struct Expand5To8 {
    uint8_t value[32];
    constexpr Expand5To8() : value() {
        for (int i = 0; i < 32; ++i) value[i] = uint8_t(i * 255 / 31);
    }
};
constexpr Expand5To8 kExpand5;

// Rows of the file are top-down; rows of the image bottom-up with a pitch.
void Decode16BitRow(const uint8_t* src, uint8_t* out, int width, bool oneBitAlpha) {
    for (int x = 0; x < width; ++x, src += 2, out += 4) {
        const unsigned v = unsigned(src[0]) | (unsigned(src[1]) << 8);
        out[0] = kExpand5.value[v & 31];
        out[1] = kExpand5.value[(v >> 5) & 31];
        out[2] = kExpand5.value[(v >> 10) & 31];
        out[3] = (oneBitAlpha && !(v & 0x8000)) ? 0 : 255;
    }
}

// A stored frame of `bpp` bytes a pixel (16-bit, or R, G, B(, A)) into the
// picture, rows split over the cores.
void DecodeFrameRows(const uint8_t* src, int bpp, bool oneBitAlpha, Image& image) {
    const int w = image.width;
    const size_t srcRowBytes = size_t(w) * size_t(bpp);
    ParallelForBands(image.height, GrainForRows(w), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            const uint8_t* in = src + size_t(y) * srcRowBytes;
            uint8_t* out = image.RowFromTop(y);
            if (bpp == 2)
                Decode16BitRow(in, out, w, oneBitAlpha);
            else
                SwapRedBlueRow(in, bpp, out, 4, w);
        }
    });
}

void PutU32(uint8_t*& p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
    p += 4;
}

void PutTag(uint8_t*& p, const char* tag) {
    std::memcpy(p, tag, 4);
    p += 4;
}

}  // namespace

ImagePtr LoadTexFile(const std::string& path, TexInfo& info, int frame, int depth,
                     const HdrDisplaySettings& display) {
    ClearTexInfo(info);
    std::vector<uint8_t> data;
    if (!ReadFileForDecoding(path, data, info.errorText)) return nullptr;
    return LoadTextureFromMemory(data.data(), data.size(), info, path, frame, depth, display);
}

ImagePtr LoadTextureFromMemory(const uint8_t* data, size_t size, TexInfo& info, const std::string& path,
                               int frame, int depth, const HdrDisplaySettings& display) {
    ClearTexInfo(info);
    if (!data || size < 8) {
        info.errorText = "The file is empty or too small.";
        return nullptr;
    }

    int64_t meta = -1;
    if (size >= 24 && std::memcmp(data, "CTSEMETA", 8) == 0) {
        meta = 0;
    } else if (size >= 24 && std::memcmp(data, "SIGSTRM1", 8) == 0) {
        meta = FindTextInBuffer(data, size, 8, "CTSEMETA");
        if (meta < 0) {
            info.errorText = "Signed file without CTSEMETA data.";
            return nullptr;
        }
    }
    if (meta >= 0) {
        const uint8_t* rest = data + meta;
        const size_t restSize = size - size_t(meta);
        if (IsDk2MetaHeader(rest, restSize)) return ReadDk2Texture(rest, restSize, info);
        return ReadDk3Texture(rest, restSize, info, display);
    }

    info.kind = 1;
    info.errorText = ParseTexHeader(data, size, info);
    if (!info.errorText.empty()) return nullptr;

    if (!info.isEffect) {
        if (frame < 0 || frame >= info.frameCount) frame = 0;
        ImagePtr image = DecodeTexFrame(data, size, info, frame);
        if (!image) info.errorText = "Not enough memory for the image.";
        return image;
    }

    // An effect texture holds no picture of its own: show its base texture
    // when it lies beside the file, else the effect buffer as greys.
    const std::string baseName = GetTextAfterLastSeparator(info.effectBaseName);
    bool baseFound = false;
    TexInfo baseInfo;
    ImagePtr baseImage;
    if (depth < kMaxEffectDepth && !baseName.empty() && !path.empty()) {
        const std::string found = FindFileIgnoringCase(GetFolderPart(path), baseName);
        if (!found.empty()) {
            baseFound = true;
            baseImage = LoadTexFile(found, baseInfo, 0, depth + 1, display);
        }
    }
    if (baseFound && !baseImage && info.dataOffset == 0) {
        info.errorText = baseName + ": " + baseInfo.errorText;
        return nullptr;
    }
    if (baseImage) {
        info.width = baseInfo.width;
        info.height = baseInfo.height;
        info.bytesPerPixel = baseInfo.bytesPerPixel;
        info.hasAlpha = baseInfo.hasAlpha;
        info.baseTextureShown = baseInfo.baseTextureShown.empty() ? baseName : baseInfo.baseTextureShown;
        info.note = "Effect texture: showing base texture " + info.baseTextureShown + " (without the effect).";
        return baseImage;
    }
    if (info.dataOffset == 0) {
        info.errorText = "This effect texture stores no image data. Place its base texture";
        if (!baseName.empty()) info.errorText += " (" + baseName + ")";
        info.errorText += " in the same folder to view it.";
        return nullptr;
    }
    ImagePtr grey = ConvertEffectBufferToGray(data, size, info);
    if (!grey) {
        info.errorText = "Not enough memory for the image.";
        return nullptr;
    }
    info.width = info.effectWidth;
    info.height = info.effectHeight;
    info.bytesPerPixel = 3;
    info.hasAlpha = 0;
    info.note = "Effect texture: showing the effect buffer as a grayscale image";
    if (!baseName.empty()) info.note += " (base texture " + baseName + " not found in this folder)";
    info.note += ".";
    return grey;
}

std::string ParseTexHeader(const uint8_t* data, size_t size, TexInfo& info) {
    ByteReader reader(data, size);
    if (size < 40 || !IsChunkIdAt(data, size, 0, "TVER")) return "This is not a Dravik texture (TVER chunk missing).";
    info.texVersion = I32At(reader, 4);
    if (!IsChunkIdAt(data, size, 8, "TDAT")) return "Unknown layout: TDAT chunk missing.";
    info.flags = I32At(reader, 12);
    const int32_t width0 = I32At(reader, 16);
    const int32_t height0 = I32At(reader, 20);
    if (info.texVersion != 3 && info.texVersion != 4)
        return "Texture version " + std::to_string(info.texVersion) + " is not supported (only versions 3 and 4).";

    std::string error;
    if (info.texVersion == 3) {
        if (size < 48 || !IsChunkIdAt(data, size, 44, "FRMS")) return "Unknown version 3 layout: FRMS chunk missing.";
        info.mipCount = I32At(reader, 24);
        info.firstMip = I32At(reader, 32);
        info.frameSize = I32At(reader, 36);
        info.frameCount = I32At(reader, 40);
        info.dataOffset = 48;
        info.bytesPerPixel = 2;
        error = ValidateTexDimensions(info, width0, height0);
        if (!error.empty()) return error;
        if (int64_t(info.frameSize) < int64_t(info.width) * info.height * 2) return "The stored frame size is too small.";
    } else {
        info.mipCount = I32At(reader, 24);
        info.firstMip = I32At(reader, 28);
        info.frameCount = I32At(reader, 32);
        error = ValidateTexDimensions(info, width0, height0);
        if (!error.empty()) return error;
        if (IsChunkIdAt(data, size, 36, "FXDT")) return ParseTexEffectChunks(data, size, info);
        if (!IsChunkIdAt(data, size, 36, "FRMS")) return "Unknown layout: FRMS chunk missing.";
        info.bytesPerPixel = (info.flags & 1) ? 4 : 3;
        info.dataOffset = 40;
        // At most 16384 x 16384 x 4 = 2^30: fits the record's 32 bits.
        info.frameSize = int32_t(int64_t(info.width) * info.height * info.bytesPerPixel);
    }
    info.hasAlpha = (info.flags & 1) ? 1 : 0;

    // Up to 2^31 frames of up to 2^31 bytes: 64 bits hold the end exactly.
    const int64_t end = int64_t(info.dataOffset) + int64_t(info.frameSize) * int64_t(info.frameCount);
    if (end > int64_t(size))
        return "The file is too short for " + std::to_string(info.frameCount) + " frame(s) of " +
               std::to_string(info.width) + " x " + std::to_string(info.height) + ".";
    return "";
}

std::string CheckTextureDimensions(int64_t width, int64_t height) {
    if (width >= 1 && width <= kMaxTextureSide && height >= 1 && height <= kMaxTextureSide) return "";
    return "Invalid dimensions: " + std::to_string(width) + " x " + std::to_string(height);
}

std::string ValidateTexDimensions(TexInfo& info, int32_t width0, int32_t height0) {
    if (info.firstMip < 0 || info.firstMip > 31) return "Invalid firstMip value: " + std::to_string(info.firstMip);
    info.width = width0 >> info.firstMip;
    info.height = height0 >> info.firstMip;
    if (std::string refused = CheckTextureDimensions(info.width, info.height); !refused.empty()) return refused;
    if (info.frameCount < 1) return "The file contains no frames.";
    return "";
}

std::string ParseTexEffectChunks(const uint8_t* data, size_t size, TexInfo& info) {
    ByteReader reader(data, size);
    info.isEffect = 1;
    // Fields past the end read as 0, which the size check below refuses.
    info.effectValue = I32At(reader, 40);
    info.effectWidth = I32At(reader, 44);
    info.effectHeight = I32At(reader, 48);
    if (info.effectWidth < 1 || info.effectWidth > kMaxEffectSide || info.effectHeight < 1 ||
        info.effectHeight > kMaxEffectSide)
        return "Invalid effect buffer dimensions.";

    const int64_t buffer = FindChunk(data, size, 52, "FXBF");
    if (buffer >= 0) {
        const int64_t start = buffer + 4;
        const int64_t bytes = int64_t(info.effectWidth) * info.effectHeight * 4;
        // The record holds a 32-bit offset; a buffer beyond that cannot be shown.
        if (start > INT32_MAX || !reader.Fits(uint64_t(start), uint64_t(bytes))) return "The effect buffer is incomplete.";
        info.dataOffset = int32_t(start);
    }

    // The base-texture name is the last "DFNM" in the file; a damaged one is no error.
    for (int64_t q = int64_t(size) - 4; q >= 52; --q) {
        if (!IsChunkIdAt(data, size, q, "DFNM")) continue;
        if (reader.Fits(uint64_t(q), 8)) {
            const int64_t n = I32At(reader, uint64_t(q) + 4);
            if (n > 0) {
                if (const uint8_t* text = reader.Span(uint64_t(q) + 8, uint64_t(n)))
                    info.effectBaseName = TextUpToZero(text, size_t(n));
            }
        }
        break;
    }
    return "";
}

ImagePtr DecodeTexFrame(const uint8_t* data, size_t size, const TexInfo& info, int frame) {
    const int bpp = info.bytesPerPixel;
    if (frame < 0 || (bpp != 2 && bpp != 3 && bpp != 4)) return nullptr;
    const int64_t bytes = CheckedPixelBytes(info.width, info.height, bpp);
    const int64_t start = int64_t(info.dataOffset) + int64_t(frame) * int64_t(info.frameSize);
    ByteReader reader(data, size);
    const uint8_t* src = bytes > 0 && start >= 0 ? reader.Span(uint64_t(start), uint64_t(bytes)) : nullptr;
    if (!src) return nullptr;

    ImagePtr image = CreateImageUnfilled(info.width, info.height, 32);  // every pixel is decoded
    if (!image) return nullptr;
    DecodeFrameRows(src, bpp, (info.flags & 1) != 0, *image);
    return image;
}

ImagePtr ConvertEffectBufferToGray(const uint8_t* data, size_t size, const TexInfo& info) {
    const int w = info.effectWidth, h = info.effectHeight;
    if (w < 1 || w > kMaxEffectSide || h < 1 || h > kMaxEffectSide || info.dataOffset < 0) return nullptr;
    const size_t count = size_t(w) * size_t(h);
    ByteReader reader(data, size);
    const uint8_t* src = reader.Span(uint64_t(info.dataOffset), uint64_t(count) * 4);
    if (!src) return nullptr;

    auto value = [src](size_t i) {
        int32_t v;
        std::memcpy(&v, src + i * 4, 4);  // little-endian host
        return int64_t(v);
    };
    int64_t lo = value(0), hi = lo;
    for (size_t i = 1; i < count; ++i) {
        const int64_t v = value(i);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    // The range of two signed 32-bit values needs 33 bits.
    const int64_t range = hi == lo ? 1 : hi - lo;

    ImagePtr image = CreateImage(w, h, 32, kOpaqueBlack);
    if (!image) return nullptr;
    const uint8_t* in = src;
    for (int y = 0; y < h; ++y) {
        uint8_t* out = image->RowFromTop(y);
        for (int x = 0; x < w; ++x, in += 4, out += 4) {
            int32_t v;
            std::memcpy(&v, in, 4);
            const uint8_t grey = uint8_t((int64_t(v) - lo) * 255 / range);
            out[0] = out[1] = out[2] = grey;
            out[3] = 255;
        }
    }
    return image;
}

bool IsChunkIdAt(const uint8_t* data, size_t size, int64_t offset, const char* tag) {
    if (!data || offset < 0 || uint64_t(offset) > size || size - uint64_t(offset) < 4) return false;
    // The four bytes read as text end at a zero byte, so a shorter tag matches
    // only when a zero follows it, and a zero never matches a letter.
    const size_t n = std::strlen(tag);
    if (n > 4) return false;
    const uint8_t* p = data + offset;
    return std::memcmp(p, tag, n) == 0 && (n == 4 || p[n] == 0);
}

int64_t FindChunk(const uint8_t* data, size_t size, int64_t start, const char* tag) {
    if (!data || size < 4) return -1;
    for (int64_t p = start < 0 ? 0 : start; p <= int64_t(size) - 4; ++p)
        if (IsChunkIdAt(data, size, p, tag)) return p;
    return -1;
}

int64_t FindTextInBuffer(const uint8_t* data, size_t size, int64_t start, const std::string& text) {
    const size_t n = text.size();
    // Buffer text ends at a zero byte, so a text holding one can never match.
    if (!data || n > size || text.find('\0') != std::string::npos) return -1;
    if (start < 0) start = 0;
    if (n == 0) return uint64_t(start) <= size ? start : -1;
    const uint8_t first = uint8_t(text[0]);
    const uint8_t* end = data + (size - n) + 1;  // one past the last possible start
    for (const uint8_t* p = data + (uint64_t(start) <= size ? start : int64_t(size)); p < end; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, first, size_t(end - p)));
        if (!p) return -1;
        if (std::memcmp(p, text.data(), n) == 0) return p - data;
    }
    return -1;
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
    if (name.empty()) return "";
    const std::string wanted = ToLowerAscii(name);
    for (const FolderEntry& entry : ScanFolder(folder)) {
        if (entry.isFolder || ToLowerAscii(entry.name) != wanted) continue;
        // Plain files only: a named pipe or device of that name is no texture.
        const std::string found = folder + entry.name;
        if (IsRegularFile(found)) return found;
    }
    return "";
}

void ExpandRgb565ToPalette(uint16_t colour, int64_t* palette, int index) {
    int64_t* entry = palette + int64_t(index) * 3;
    entry[0] = ((colour >> 11) & 31) * 255 / 31;
    entry[1] = ((colour >> 5) & 63) * 255 / 63;
    entry[2] = (colour & 31) * 255 / 31;
}

int CountMipLevels(int width, int height) {
    int m = width < height ? width : height;
    int count = 1;
    while (m > 1) {
        m >>= 1;
        ++count;
    }
    return count;
}

int WriteTexFile(const Image* image, const std::string& path, bool withAlpha, int firstMip, bool keepFlagBit1) {
    if (!image || !image->pixels || firstMip < 0 || firstMip > 20) return 0;
    if (image->depth != 32 && image->depth != 24) return 0;
    const int w = image->width, h = image->height;
    if (w < 1 || h < 1) return 0;
    // The header stores the full-size level; a size that does not fit its
    // 32-bit fields would be written wrong, so it is refused.
    const int64_t width0 = int64_t(w) << firstMip, height0 = int64_t(h) << firstMip;
    if (width0 > INT32_MAX || height0 > INT32_MAX) return 0;

    const int bpp = withAlpha ? 4 : 3;
    uint32_t flags = withAlpha ? 3 : 0;
    if (keepFlagBit1) flags |= 2;
    constexpr size_t kHeaderBytes = 40, kTrailerBytes = 56;
    const size_t rowBytes = size_t(w) * size_t(bpp);
    // Rows are converted in batches of about 1 MiB. The batch buffer is made
    // before the target is touched, and the atomic save keeps the old file
    // until every byte is written, so no failure leaves a half-written file.
    const size_t rowsPerBatch = std::max<size_t>(1, std::min<size_t>(size_t(h), (size_t(1) << 20) / rowBytes));
    const size_t batchBytes = std::max(rowsPerBatch * rowBytes, kHeaderBytes + kTrailerBytes);
    PictureArray<uint8_t> batch = NewPictureArray<uint8_t>(batchBytes);
    if (!batch) return 0;

    AtomicFile out(path);
    uint8_t* p = batch.get();
    PutTag(p, "TVER");
    PutU32(p, 4);
    PutTag(p, "TDAT");
    PutU32(p, flags);
    PutU32(p, uint32_t(width0));
    PutU32(p, uint32_t(height0));
    PutU32(p, uint32_t(CountMipLevels(w, h)));
    PutU32(p, uint32_t(firstMip));
    PutU32(p, 1);
    PutTag(p, "FRMS");
    out.Write(batch.get(), kHeaderBytes);

    const int srcBpp = image->BytesPerPixel();
    for (int y0 = 0; y0 < h && out.Ok(); y0 += int(rowsPerBatch)) {
        const int y1 = std::min(h, y0 + int(rowsPerBatch));
        ParallelForBands(y1 - y0, GrainForRows(w), [&](int64_t first, int64_t end) {
            for (int y = y0 + int(first); y < y0 + int(end); ++y) {
                // A 24-bit picture is opaque.
                SwapRedBlueRow(image->RowFromTop(y), srcBpp, batch.get() + size_t(y - y0) * rowBytes, bpp, w);
            }
        });
        out.Write(batch.get(), size_t(y1 - y0) * rowBytes);
    }

    p = batch.get();
    PutTag(p, "ANIM");
    PutTag(p, "ADAT");
    PutU32(p, 1);
    std::memset(p, 0, 32);
    std::memcpy(p, "OnlyAnim", 8);
    p += 32;
    static const uint8_t kFrameTime[4] = {0x0A, 0xD7, 0xA3, 0x3C};  // 0.02f
    std::memcpy(p, kFrameTime, 4);
    p += 4;
    PutU32(p, 1);
    PutU32(p, 0);
    out.Write(batch.get(), kTrailerBytes);
    return out.Ok() && out.Commit() ? 1 : 0;
}
