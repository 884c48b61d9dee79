#include "adjust/channels.h"

#include <cstring>

#include "formats/sizing.h"
#include "toolkit/rows.h"

namespace {

bool HasReadablePixels(const Image& image) {
    return image.pixels && image.width >= 1 && image.height >= 1 && (image.depth == 32 || image.depth == 24);
}

// One row (from the top) of `image` as B, G, R, A bytes; 24-bit rows get alpha 255.
void ReadRowBgra(const Image& image, int y, uint8_t* out) {
    const uint8_t* src = image.RowFromTop(y);
    if (image.depth == 32) {
        std::memcpy(out, src, size_t(image.width) * 4);
        return;
    }
    AddOpaqueAlphaRow(src, out, image.width);
}

// A new 32-bit image of the source's size; `rowOp(src, dst, width)` turns each
// source row (B, G, R, A bytes) into the result row.
template <typename RowOp>
ImagePtr TransformRows(const Image& image, RowOp rowOp) {
    if (!HasReadablePixels(image)) return nullptr;
    ImagePtr result = CreateImageUnfilled(image.width, image.height, 32);
    if (!result) return nullptr;
    std::vector<uint8_t> row(size_t(image.width) * 4);
    for (int y = 0; y < image.height; ++y) {
        ReadRowBgra(image, y, row.data());
        rowOp(row.data(), result->RowFromTop(y), image.width);
    }
    return result;
}

}  // namespace

void CopyImagePixels(const Image& image, std::vector<uint32_t>& pixels) {
    const size_t w = image.width > 0 ? size_t(image.width) : 0;
    const size_t h = image.height > 0 ? size_t(image.height) : 0;
    pixels.clear();
    if (!ResizeWithinRoom(pixels, w * h) || !HasReadablePixels(image)) return;
    std::vector<uint8_t> row(w * 4);
    for (size_t y = 0; y < h; ++y) {
        ReadRowBgra(image, int(y), row.data());
        uint32_t* out = pixels.data() + y * w;
        const uint8_t* p = row.data();
        for (size_t x = 0; x < w; ++x, p += 4) out[x] = MakeColour(p[2], p[1], p[0], p[3]);
    }
}

void GetBufferChannelOffsets(int64_t& redOffset, int64_t& greenOffset, int64_t& blueOffset) {
    redOffset = 2;
    greenOffset = 1;
    blueOffset = 0;
}

ImagePtr ExtractChannelAsGrayscale(const Image& image, int64_t channel) {
    // Byte index of the channel inside a B, G, R, A pixel.
    static constexpr int kByteOf[4] = {2, 1, 0, 3};
    if (channel < 0 || channel > 3) return nullptr;
    const int at = kByteOf[channel];
    return TransformRows(image, [at](const uint8_t* src, uint8_t* dst, int width) {
        for (int x = 0; x < width; ++x, src += 4, dst += 4) {
            const uint8_t v = src[at];
            dst[0] = v;
            dst[1] = v;
            dst[2] = v;
            dst[3] = 255;
        }
    });
}

ImagePtr MakeOpaqueCopy(const Image& image) {
    return TransformRows(image, [](const uint8_t* src, uint8_t* dst, int width) {
        std::memcpy(dst, src, size_t(width) * 4);
        for (int x = 0; x < width; ++x) dst[x * 4 + 3] = 255;
    });
}

ImagePtr InvertAlphaCopy(const Image& image) {
    return TransformRows(image, [](const uint8_t* src, uint8_t* dst, int width) {
        std::memcpy(dst, src, size_t(width) * 4);
        for (int x = 0; x < width; ++x) dst[x * 4 + 3] = uint8_t(255 - src[x * 4 + 3]);
    });
}

uint64_t MaskAsAlphaWorkBytes(const Image& image, const Image& mask) {
    if (mask.width == image.width && mask.height == image.height) return 0;
    return ShrinkByHalvingPeakBytes(mask, image.width, image.height);
}

ImagePtr ApplyMaskAsAlpha(const Image& image, const Image& mask) {
    if (!HasReadablePixels(image) || !HasReadablePixels(mask)) return nullptr;
    ImagePtr scaled;
    const Image* m = &mask;
    if (mask.width != image.width || mask.height != image.height) {
        scaled = ShrinkImageByHalving(mask, image.width, image.height);
        if (!scaled) return nullptr;
        m = scaled.get();
    }
    ImagePtr result = CreateImageUnfilled(image.width, image.height, 32);
    if (!result) return nullptr;
    const size_t rowBytes = size_t(image.width) * 4;
    std::vector<uint8_t> maskRow(rowBytes);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* dst = result->RowFromTop(y);
        ReadRowBgra(image, y, dst);
        ReadRowBgra(*m, y, maskRow.data());
        const uint8_t* p = maskRow.data();
        for (int x = 0; x < image.width; ++x, p += 4) dst[x * 4 + 3] = uint8_t(MaskLuma(p[2], p[1], p[0]));
    }
    return result;
}
