// Third-generation textures: the top level (first frame of an animation) of a
// "CAnimTexture", "CColorTexture", "CStaticTexture" or "CBaseTexture" object.
// Pixels are stored unpacked: DXT1/DXT3/DXT5/BC5 blocks, interleaved BGRA, or
// delta-coded channel planes; format 12 holds HDR pixels with a shared
// exponent, kept as an RGBE block and shown through the tone curve. Only the
// first "STAR" record after "OBJS" is read. There is no writer.
#include "formats/dk3.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "formats/blockcomp.h"
#include "formats/dds.h"
#include "formats/hdr.h"
#include "formats/metaheader.h"
#include "formats/tex.h"
#include "toolkit/bytereader.h"
#include "toolkit/memory.h"

namespace {

constexpr int64_t kPlanarFlag = 0x200;
constexpr int32_t kHdrFormat = 12;
constexpr int32_t kAlphaOnlyFormat = 8;

int BlockFormatOfCode(int32_t code) {
    switch (code) {
        case 9: return kBlockFormatDxt1;
        case 10: return kBlockFormatDxt5;
        case 11: return kBlockFormatDxt3;
        case 15: return kBlockFormatBc5;
        default: return 0;
    }
}

// One delta-coded plane (each stored byte adds to the previous value, mod 256)
// into byte `channel` of every 4-byte output pixel.
void DecodeDeltaPlane(const uint8_t* plane, int64_t count, uint8_t* out, int channel) {
    uint8_t value = 0;
    uint8_t* dst = out + channel;
    for (int64_t i = 0; i < count; ++i, dst += 4) {
        value = uint8_t(value + plane[i]);
        *dst = value;
    }
}

// Blue of a two-channel normal map: the z of the unit normal whose x and y are
// red and green, as the BC5 decoder rebuilds it.
void RebuildNormalZ(uint8_t* out, int64_t count) {
    for (int64_t i = 0; i < count; ++i, out += 4) {
        const double x = out[2] / 127.5 - 1.0;
        const double y = out[1] / 127.5 - 1.0;
        const double t = std::max(0.0, 1.0 - x * x - y * y);
        out[0] = uint8_t((std::sqrt(t) + 1.0) * 127.5);
    }
}

void FillChannel(uint8_t* out, int64_t count, int channel, uint8_t value) {
    for (int64_t i = 0; i < count; ++i) out[i * 4 + channel] = value;
}

// Display bytes of the shared-exponent HDR pixels by exponent and mantissa,
// made for an exponent only when a pixel first uses it, so a picture costs at
// most 256 x 256 tone-curve evaluations however large it is.
class HdrToneTable {
public:
    HdrToneTable(const double* exponentFactors, double scale, HdrTone tone)
        : factors_(exponentFactors), scale_(scale), tone_(tone), bytes_(256 * 256), made_(256, false) {}

    const uint8_t* ForExponent(int e) {
        uint8_t* row = bytes_.data() + size_t(e) * 256;
        if (!made_[size_t(e)]) {
            for (int m = 0; m < 256; ++m)
                row[m] = uint8_t(std::clamp(ToneMapHdrChannel((m + 0.5) * factors_[e], scale_, tone_), 0, 255));
            made_[size_t(e)] = true;
        }
        return row;
    }

private:
    const double* factors_;
    double scale_;
    HdrTone tone_;
    std::vector<uint8_t> bytes_;
    std::vector<bool> made_;
};

}  // namespace

PictureArray<uint8_t> ConvertDk3Pixels(const uint8_t* data, int64_t size, int64_t width, int64_t height,
                                       int64_t flags, int64_t format, int64_t& bytesPerPixel) {
    if (!data || size < 1 || width < 1 || height < 1) return nullptr;
    int64_t topPixels = 0;
    if (__builtin_mul_overflow(width, height, &topPixels)) return nullptr;
    const int64_t chainPixels = CountMipChainPixels(width, height);

    int64_t b = 0, planeSize = 0;
    if (chainPixels != INT64_MAX && size % chainPixels == 0) {
        b = size / chainPixels;
        planeSize = chainPixels;
    } else if (size % topPixels == 0) {
        b = size / topPixels;
        planeSize = topPixels;
    } else {
        return nullptr;
    }
    if (b < 1 || b > 4) return nullptr;
    const bool planar = (flags & kPlanarFlag) != 0;
    if (!planar && b != 4) return nullptr;

    // size = b x planeSize >= topPixels, so this cannot overflow for any
    // buffer that exists.
    PictureArray<uint8_t> out = NewPictureArray<uint8_t>(size_t(topPixels) * 4);
    if (!out) return nullptr;
    uint8_t* px = out.get();
    std::memset(px, 0, size_t(topPixels) * 4);

    if (!planar) {
        // The stored order is already blue, green, red, alpha.
        std::memcpy(px, data, size_t(topPixels) * 4);
    } else if (b == 1) {
        if (format == kAlphaOnlyFormat) {
            DecodeDeltaPlane(data, topPixels, px, 3);  // colour stays black
        } else {
            DecodeDeltaPlane(data, topPixels, px, 2);
            for (int64_t i = 0; i < topPixels; ++i) px[i * 4] = px[i * 4 + 1] = px[i * 4 + 2];
            FillChannel(px, topPixels, 3, 255);
        }
    } else {
        static constexpr int kPlaneChannel[4] = {2, 1, 0, 3};  // red, green, blue, alpha
        for (int64_t k = 0; k < b; ++k) DecodeDeltaPlane(data + k * planeSize, topPixels, px, kPlaneChannel[k]);
        if (b == 2) RebuildNormalZ(px, topPixels);
        if (b < 4) FillChannel(px, topPixels, 3, 255);
    }
    bytesPerPixel = b;
    return out;
}

std::string GetDk3FormatName(int64_t code, bool mivoNames) {
    switch (code) {
        case 2: return mivoNames ? "opaque (24-bit)" : "opaque (32-bit)";
        case 3: return "translucent (32-bit)";
        case 4: return mivoNames ? "format 4 (24-bit)" : "unknown format 4";
        case 5: return mivoNames ? "format 5 (32-bit)" : "unknown format 5";
        case 6: return mivoNames ? "normal-map (16-bit, X/Y)" : "grayscale translucent (16-bit)";
        case 7: return mivoNames ? "grayscale (8-bit)" : "grayscale opaque (8-bit)";
        case 8: return "alpha only (8-bit)";
        case 9: return "compressed opaque (4-bit, DXT1)";
        case 10: return "compressed translucent (8-bit, DXT5)";
        case 11: return "compressed (DXT3)";
        case 12: return "HDR opaque (32-bit, RGBE)";
        case 15: return mivoNames ? "unknown format 15" : "compressed normal-map (8-bit, BC5)";
        default: return "unknown format " + std::to_string(code);
    }
}

std::string DescribeDk3TexFlags(int64_t flags) {
    static constexpr FlagWord kWords[] = {{0x001, "mipmaps"},   {0x004, "constant"}, {0x008, "resident"},
                                          {0x080, "normalmap"}, {0x100, "atlas"},    {0x400, "no streaming?"}};
    return JoinFlagWords(flags, kWords, std::size(kWords));
}

ImagePtr ReadDk3Texture(const uint8_t* data, size_t size, TexInfo& info, const HdrDisplaySettings& display) {
    info.kind = 3;
    ByteReader reader(data, size);
    info.versionText = ReadMetaVersionText(data, size);
    const bool mivoNames = info.versionText.find("ZO2017") == std::string::npos;

    // The first class in this order that occurs anywhere wins, wherever it is.
    static const char* const kClasses[] = {"CAnimTexture", "CColorTexture", "CStaticTexture", "CBaseTexture"};
    std::string className;
    for (const char* name : kClasses) {
        if (FindTextInBuffer(data, size, 0, name) >= 0) {
            className = name;
            break;
        }
    }
    if (className.empty()) return FailTexture(info, "This Dravik 3 file does not contain a texture.");
    MetaTextureHeader header;
    if (!ReadMetaTextureHeader(data, size, "3", header, info)) return nullptr;
    const auto [star, width, height, flags, code, dataSize, wrapU, wrapV] = header;
    info.formatText = mivoNames ? "Mivo, " + GetDk3FormatName(code, true) : GetDk3FormatName(code, false);

    if (std::string refused = CheckTextureDimensions(width, height); !refused.empty())
        return FailTexture(info, std::move(refused));
    if (dataSize == 0)
        return FailTexture(info, "This texture file contains no image data (" + std::to_string(width) + " x " +
                              std::to_string(height) + ", " + info.formatText + ").");
    const uint64_t pixelsAt = uint64_t(star) + 8;
    if (dataSize < 0 || !reader.Fits(pixelsAt, uint64_t(dataSize)))
        return FailTexture(info, "The image data is incomplete.");
    const uint8_t* pixels = data + pixelsAt;
    info.note = "Flags: " + DescribeDk3TexFlags(flags) + "   U: " + GetWrapModeName(wrapU) +
                "   V: " + GetWrapModeName(wrapV);
    if (className == "CAnimTexture") info.note += "   Animated texture: first frame shown";
    else if (className != "CStaticTexture") info.note += "   " + className;

    if (const int blockFormat = BlockFormatOfCode(code)) {
        info.hasAlpha = (blockFormat == kBlockFormatDxt3 || blockFormat == kBlockFormatDxt5) ? 1 : 0;
        info.bytesPerPixel = 4;
        if (dataSize < GetBlockCompressedSize(width, height, blockFormat))
            return FailTexture(info, "The compressed image data is incomplete.");
        ImagePtr image = DecodeBlockCompressed(pixels, dataSize, width, height, blockFormat);
        if (!image) return FailTexture(info, "Not enough memory for the image.");
        return image;
    }

    int64_t bytesPerPixel = 0;
    PictureArray<uint8_t> converted = ConvertDk3Pixels(pixels, dataSize, width, height, flags, code, bytesPerPixel);
    if (!converted)
        return FailTexture(info, "The image data of " + info.formatText + " could not be read (" +
                                     std::to_string(dataSize) + " bytes).");
    info.bytesPerPixel = int32_t(bytesPerPixel);
    const bool hdr = code == kHdrFormat && bytesPerPixel == 4;
    info.isHdr = hdr ? 1 : 0;
    info.hasAlpha = 0;
    const size_t pixelCount = size_t(width) * size_t(height);
    const uint8_t* px = converted.get();
    const size_t rowBytes = size_t(width) * 4;

    if (!hdr) {
        for (size_t i = 0; i < pixelCount; ++i) {
            if (px[i * 4 + 3] < 255) {
                info.hasAlpha = 1;
                break;
            }
        }
        ImagePtr image = CreateImageUnfilled(width, height, 32);
        if (!image) return FailTexture(info, "Not enough memory for the image.");
        // Without transparency every alpha byte is already 255.
        for (int y = 0; y < height; ++y) std::memcpy(image->RowFromTop(y), px + size_t(y) * rowBytes, rowBytes);
        return image;
    }

    // Channel value = (byte + 0.5) x 2^((E - 127.5) / 8) / 256.
    double factors[256];
    for (int e = 0; e < 256; ++e) factors[e] = std::pow(2.0, (e - 127.5) / 8.0) / 256.0;

    // Without room for the block the picture is still shown; only
    // re-exposure from the block is lost.
    if (HdrBlockPtr block = NewHdrBlock(int(width), int(height))) {
        uint8_t* rgbe = block->bytes.data();
        for (size_t i = 0; i < pixelCount; ++i, rgbe += 4) {
            const uint8_t* p = px + i * 4;
            const double f = factors[p[3]];
            EncodeRgbe(rgbe, (p[2] + 0.5) * f, (p[1] + 0.5) * f, (p[0] + 0.5) * f);
        }
        info.hdrData = std::move(block);
    }
    info.note += "   " + MakeHdrExposureNote(display.exposure, display.tone);

    ImagePtr image = CreateImageUnfilled(width, height, 32);
    std::unique_ptr<HdrToneTable> table;
    try {
        table = std::make_unique<HdrToneTable>(factors, std::pow(2.0, display.exposure), display.tone);
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
    }
    if (!image || !table) {
        FreeTexHdrData(info);
        return FailTexture(info, "Not enough memory for the image.");
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = px + size_t(y) * rowBytes;
        uint8_t* dst = image->RowFromTop(y);
        for (int x = 0; x < width; ++x, src += 4, dst += 4) {
            const uint8_t* tones = table->ForExponent(src[3]);
            dst[0] = tones[src[0]];
            dst[1] = tones[src[1]];
            dst[2] = tones[src[2]];
            dst[3] = 255;
        }
    }
    return image;
}
