// Second-generation textures: the top level of a "CStaticTexture" object, whose
// pixels are one zlib stream of DXT1/DXT3/DXT5 blocks or of uncompressed BGRA
// or BGR rows. Other object classes and the further mip levels are not read;
// the 16- and 8-bit pixel codes load only when their stream happens to hold
// enough bytes to read as BGR(A). There is no writer.
#include "formats/dk2.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "formats/blockcomp.h"
#include "formats/metaheader.h"
#include "formats/tex.h"
#include "toolkit/bytereader.h"
#include "toolkit/memory.h"
#include "toolkit/rows.h"

namespace {

constexpr int64_t kUnpackSlack = 1024;  // room beyond width x height x 8 the stream may use

int BlockFormatOfCode(int32_t code) {
    switch (code) {
        case 7: return kBlockFormatDxt1;
        case 8: return kBlockFormatDxt3;
        case 9: return kBlockFormatDxt5;
        default: return 0;
    }
}

enum class UnpackResult { Ok, Damaged, NoMemory };

struct InflateGuard {
    z_stream* stream;
    ~InflateGuard() { inflateEnd(stream); }
};

// Unpacks a zlib stream, keeping its first `keep` bytes in `out` and counting
// all of them in `total`. A stream that is damaged, cut short, empty or longer
// than `limit` fails. The kept bytes grow with what the stream really holds,
// so a small file that claims a huge picture never makes a huge allocation.
UnpackResult UnpackPixelStream(const uint8_t* packed, uint32_t packedSize, uint64_t keep, uint64_t limit,
                               std::vector<uint8_t>& out, uint64_t& total) {
    out.clear();
    total = 0;
    z_stream zs{};
    zs.next_in = const_cast<Bytef*>(packed);
    zs.avail_in = packedSize;
    const int init = inflateInit(&zs);
    if (init == Z_MEM_ERROR) return UnpackResult::NoMemory;
    if (init != Z_OK) return UnpackResult::Damaged;
    InflateGuard guard{&zs};
    try {
        std::vector<uint8_t> scratch(size_t(1) << 16);
        uint64_t kept = 0;
        for (;;) {
            uint8_t* dest = scratch.data();
            uint64_t room = scratch.size();
            if (kept < keep) {
                const uint64_t needed = std::min<uint64_t>(keep, std::max<uint64_t>(kept + 1, scratch.size()));
                if (!GrowWithinRoom(out, size_t(needed), size_t(keep))) return UnpackResult::NoMemory;
                dest = out.data() + kept;
                room = std::min<uint64_t>(out.size() - kept, uint64_t(1) << 30);
            }
            zs.next_out = dest;
            zs.avail_out = uInt(room);
            const int rc = inflate(&zs, Z_NO_FLUSH);
            const uint64_t produced = room - zs.avail_out;
            if (kept < keep) kept += produced;
            total += produced;
            if (total > limit) return UnpackResult::Damaged;
            if (rc == Z_STREAM_END) break;
            if (rc == Z_MEM_ERROR) return UnpackResult::NoMemory;
            // Z_BUF_ERROR with fresh output room means the input ran out mid-stream.
            if (rc != Z_OK) return UnpackResult::Damaged;
        }
        out.resize(size_t(kept));
    } catch (const std::bad_alloc&) {
        return UnpackResult::NoMemory;
    }
    return total >= 1 ? UnpackResult::Ok : UnpackResult::Damaged;
}

// BGRA or BGR rows from the top, without padding, into a new 32-bit image.
ImagePtr DecodeBgrRows(const uint8_t* pixels, int width, int height, int bytesPerPixel) {
    ImagePtr image = CreateImageUnfilled(width, height, 32);
    if (!image) return nullptr;
    const size_t rowBytes = size_t(width) * size_t(bytesPerPixel);
    if (bytesPerPixel == 4) {
        // The stored byte order is already the image's B, G, R, A.
        for (int y = 0; y < height; ++y) std::memcpy(image->RowFromTop(y), pixels + size_t(y) * rowBytes, rowBytes);
        return image;
    }
    for (int y = 0; y < height; ++y) AddOpaqueAlphaRow(pixels + size_t(y) * rowBytes, image->RowFromTop(y), width);
    return image;
}

}  // namespace

std::string GetDk2FormatName(int64_t code) {
    switch (code) {
        case 0: return "opaque (32-bit)";
        case 1: return "translucent (32-bit)";
        case 2: return "opaque (16-bit)";
        case 4: return "translucent (16-bit)";
        case 5: return "grayscale translucent (16-bit)";
        case 6: return "grayscale opaque (8-bit)";
        case 7: return "compressed opaque (4-bit, DXT1)";
        case 8: return "compressed translucent (8-bit, DXT3)";
        case 9: return "compressed alpha (8-bit, DXT5)";
        case 11: return "alpha only (8-bit)";
        default: return "unknown format " + std::to_string(code);
    }
}

std::string DescribeDk2TexFlags(int64_t flags) {
    static constexpr FlagWord kWords[] = {{0x01, "mipmaps"}, {0x04, "constant"}, {0x08, "resident"}, {0x40, "fastDXTc"}};
    return JoinFlagWords(flags, kWords, std::size(kWords));
}

ImagePtr ReadDk2Texture(const uint8_t* data, size_t size, TexInfo& info) {
    info.kind = 2;
    ByteReader reader(data, size);
    info.versionText = ReadMetaVersionText(data, size);

    if (FindTextInBuffer(data, size, 0, "CStaticTexture") < 0)
        return FailTexture(info, "This Dravik 2 file is not a CStaticTexture (other kinds are not supported yet).");
    MetaTextureHeader header;
    if (!ReadMetaTextureHeader(data, size, "2", header, info)) return nullptr;
    const auto [star, width, height, flags, code, packedSize, wrapU, wrapV] = header;
    info.formatText = GetDk2FormatName(code);

    if (std::string refused = CheckTextureDimensions(width, height); !refused.empty())
        return FailTexture(info, std::move(refused));
    const uint64_t packedAt = uint64_t(star) + 8;
    if (packedSize < 1 || !reader.Fits(packedAt, uint64_t(packedSize)))
        return FailTexture(info, "The packed image data is incomplete.");
    info.note = "Flags: " + DescribeDk2TexFlags(flags) + "   U: " + GetWrapModeName(wrapU) +
                "   V: " + GetWrapModeName(wrapV);

    const int blockFormat = BlockFormatOfCode(code);
    const uint64_t pixelCount = uint64_t(width) * uint64_t(height);
    const uint64_t limit = pixelCount * 8 + kUnpackSlack;
    const uint64_t keep = blockFormat ? uint64_t(GetBlockCompressedSize(width, height, blockFormat)) : pixelCount * 4;
    const std::string tooSmall = blockFormat ? std::string("The DXT data is incomplete.")
                                             : "The image data is smaller than expected for " + info.formatText + ".";
    if (blockFormat) {
        info.hasAlpha = blockFormat == kBlockFormatDxt1 ? 0 : 1;
        info.bytesPerPixel = 4;
    }
    // Not even deflate's best case fits the picture into the packed bytes:
    // refused before any unpacking.
    if (!ClaimFitsBytes(blockFormat ? keep : pixelCount * 3, uint64_t(packedSize), kDeflateBestRatio))
        return FailTexture(info, tooSmall);
    std::vector<uint8_t> unpacked;
    uint64_t total = 0;
    switch (UnpackPixelStream(data + packedAt, uint32_t(packedSize), keep, limit, unpacked, total)) {
        case UnpackResult::Ok: break;
        case UnpackResult::NoMemory:  // zlib's or ours
            NoteMemoryRefusal();
            return FailTexture(info, "Not enough memory for the image.");
        case UnpackResult::Damaged: return FailTexture(info, "The packed image data could not be unpacked.");
    }

    if (blockFormat) {
        if (unpacked.size() < keep) return FailTexture(info, tooSmall);
        ImagePtr image = DecodeBlockCompressed(unpacked.data(), int64_t(unpacked.size()), width, height, blockFormat);
        if (!image) return FailTexture(info, "Not enough memory for the image.");
        return image;
    }

    // Uncompressed codes are read by how much the stream holds; the alpha
    // bytes are taken as stored, not inspected.
    int bytesPerPixel = 0;
    if (total >= pixelCount * 4) bytesPerPixel = 4;
    else if (total >= pixelCount * 3) bytesPerPixel = 3;
    else return FailTexture(info, tooSmall);
    info.bytesPerPixel = bytesPerPixel;
    info.hasAlpha = bytesPerPixel == 4 ? 1 : 0;
    ImagePtr image = DecodeBgrRows(unpacked.data(), width, height, bytesPerPixel);
    if (!image) return FailTexture(info, "Not enough memory for the image.");
    return image;
}
