// The block encoder and decoder on arbitrary texels, blocks and pictures.
// Encoding must keep what the formats can keep: ends inside the block's
// range, each texel on its nearest palette entry, a uniform block exact to
// 5:6:5; decoding must take exactly the blocks of the picture and read
// nothing beyond the bytes it was given.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/blockcomp.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Largest error of 5:6:5 quantisation with rounding and expansion with
// truncation: 5 for the 5-bit channels, 2 for green.
constexpr int kColourSlack[3] = {5, 2, 5};

uint16_t U16At(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

int Channel(uint32_t colour, int c) { return int((colour >> (8 * c)) & 255); }  // 0 red, 1 green, 2 blue, 3 alpha

uint32_t DecodedTexel(const uint8_t* block, int format, int texel) {
    const int64_t bytes = format == kBlockFormatDxt1 ? 8 : 16;
    ImagePtr image = DecodeBlockCompressed(block, bytes, 4, 4, format);
    FUZZ_CHECK(image);
    return GetPixelColour(*image, texel % 4, texel / 4);
}

// The palette entry k of a block, read by decoding it with every index set to k.
uint32_t PaletteEntry(const uint8_t colourBlock[8], int k) {
    uint8_t probe[8];
    std::copy(colourBlock, colourBlock + 4, probe);
    std::fill(probe + 4, probe + 8, uint8_t(k * 0x55));
    return DecodedTexel(probe, kBlockFormatDxt1, 0);
}

int SquaredDistance(uint32_t colour, const uint8_t* rgb) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d += (Channel(colour, c) - rgb[c]) * (Channel(colour, c) - rgb[c]);
    return d;
}

void CheckColourBlock(const uint8_t texels[48]) {
    uint8_t block[8];
    CompressColorBlock(texels, block);
    const uint16_t c0 = U16At(block), c1 = U16At(block + 2);
    FUZZ_CHECK(c0 >= c1);  // never the three-colour mode
    ImagePtr decoded = DecodeBlockCompressed(block, 8, 4, 4, kBlockFormatDxt1);
    FUZZ_CHECK(decoded && decoded->width == 4 && decoded->height == 4);

    int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 3; ++c) {
            low[c] = std::min<int>(low[c], texels[i * 3 + c]);
            high[c] = std::max<int>(high[c], texels[i * 3 + c]);
        }
    uint32_t palette[4];
    for (int k = 0; k < 4; ++k) palette[k] = PaletteEntry(block, k);
    for (int i = 0; i < 16; ++i) {
        const uint32_t got = GetPixelColour(*decoded, i % 4, i / 4);
        FUZZ_CHECK(Channel(got, 3) == 255);
        for (int c = 0; c < 3; ++c)
            FUZZ_CHECK(Channel(got, c) >= low[c] - kColourSlack[c] && Channel(got, c) <= high[c] + kColourSlack[c]);
        if (c0 == c1) {
            FUZZ_CHECK(got == palette[0]);  // equal ends: every texel on the one colour
            continue;
        }
        int best = SquaredDistance(palette[0], texels + i * 3);
        for (int k = 1; k < 4; ++k) best = std::min(best, SquaredDistance(palette[k], texels + i * 3));
        FUZZ_CHECK(SquaredDistance(got, texels + i * 3) == best);
    }

    // A uniform block is its colour to 5:6:5 precision, exactly.
    if (std::equal(texels, texels + 45, texels + 3)) {
        const uint16_t packed = PackRgbTo565(texels[0], texels[1], texels[2]);
        const uint32_t want =
            MakeColour((packed >> 11) * 255 / 31, ((packed >> 5) & 63) * 255 / 63, (packed & 31) * 255 / 31);
        for (int i = 0; i < 16; ++i) FUZZ_CHECK(GetPixelColour(*decoded, i % 4, i / 4) == want);
    }
}

void CheckChannelBlock(const uint8_t values[16]) {
    uint8_t block[8];
    EncodeSingleChannelBlock(values, block);
    const int low = *std::min_element(values, values + 16), high = *std::max_element(values, values + 16);
    FUZZ_CHECK(block[0] == high && block[1] == low);
    uint8_t decoded[16];
    DecodeSingleChannelBlock(block, decoded);

    uint8_t palette[8];
    for (int k = 0; k < 8; ++k) {
        uint8_t probe[8] = {block[0], block[1]};
        uint64_t indices = 0;
        for (int i = 0; i < 16; ++i) indices |= uint64_t(k) << (3 * i);
        for (int b = 0; b < 6; ++b) probe[2 + b] = uint8_t(indices >> (8 * b));
        uint8_t all[16];
        DecodeSingleChannelBlock(probe, all);
        palette[k] = all[0];
    }
    for (int i = 0; i < 16; ++i) {
        const int error = std::abs(decoded[i] - values[i]);
        if (low == high) FUZZ_CHECK(error == 0);
        FUZZ_CHECK(error <= (high - low) / 14 + 1);
        for (int k = 0; k < 8; ++k) FUZZ_CHECK(error <= std::abs(palette[k] - values[i]));
    }
}

// Arbitrary bytes as the blocks of a picture of any size and any format code.
void CheckDecode(const uint8_t* data, size_t size, int64_t width, int64_t height, int64_t format) {
    // An exact-size copy, so the sanitizer sees any read past the end.
    const std::vector<uint8_t> copy(data, data + size);
    ImagePtr image = DecodeBlockCompressed(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()), width, height,
                                           format);
    const bool known = format >= kBlockFormatDxt1 && format <= kBlockFormatBc5;
    const bool fits = width >= 1 && height >= 1 && int64_t(size) >= GetBlockCompressedSize(width, height, format);
    FUZZ_CHECK(!image == !(known && fits));
    if (!image) return;
    FUZZ_CHECK(image->width == width && image->height == height && image->depth == 32);
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const int a = ColourAlpha(GetPixelColour(*image, x, y));
            if (format == kBlockFormatDxt1) FUZZ_CHECK(a == 0 || a == 255);
            if (format == kBlockFormatDxt3) FUZZ_CHECK(a % 17 == 0);
            if (format == kBlockFormatBc5) FUZZ_CHECK(a == 255);
        }
}

// A whole level: the promised number of bytes appended, nothing else touched,
// and every decoded pixel within what its block's range allows.
void CheckLevel(const Image& picture, int format) {
    std::vector<uint8_t> out = {0xA5};
    const int64_t written = WriteBlockCompressedLevel(picture, format, out);
    if (format != kBlockFormatDxt1 && format != kBlockFormatDxt5 && format != kBlockFormatBc5) {
        FUZZ_CHECK(written == 0 && out.size() == 1);
        return;
    }
    const int w = picture.width, h = picture.height;
    FUZZ_CHECK(written == GetBlockCompressedSize(w, h, format));
    FUZZ_CHECK(int64_t(out.size()) == 1 + written && out[0] == 0xA5);
    const std::vector<uint8_t> blocks(out.begin() + 1, out.end());
    FUZZ_CHECK(!DecodeBlockCompressed(blocks.data(), written - 1, w, h, format));
    ImagePtr decoded = DecodeBlockCompressed(blocks.data(), written, w, h, format);
    FUZZ_CHECK(decoded && decoded->width == w && decoded->height == h);

    for (int by = 0; by < h; by += 4)
        for (int bx = 0; bx < w; bx += 4) {
            int low[4] = {255, 255, 255, 255}, high[4] = {0, 0, 0, 0};
            for (int y = by; y < std::min(by + 4, h); ++y)
                for (int x = bx; x < std::min(bx + 4, w); ++x)
                    for (int c = 0; c < 4; ++c) {
                        low[c] = std::min(low[c], Channel(GetPixelColour(picture, x, y), c));
                        high[c] = std::max(high[c], Channel(GetPixelColour(picture, x, y), c));
                    }
            for (int y = by; y < std::min(by + 4, h); ++y)
                for (int x = bx; x < std::min(bx + 4, w); ++x) {
                    const uint32_t want = GetPixelColour(picture, x, y), got = GetPixelColour(*decoded, x, y);
                    // Interpolated single channels: alpha of DXT5, red and green of BC5.
                    auto channelHolds = [&](int c) {
                        return std::abs(Channel(got, c) - Channel(want, c)) <= (high[c] - low[c]) / 14 + 1;
                    };
                    if (format == kBlockFormatBc5) {
                        FUZZ_CHECK(channelHolds(0) && channelHolds(1) && Channel(got, 3) == 255);
                        continue;
                    }
                    for (int c = 0; c < 3; ++c)
                        FUZZ_CHECK(Channel(got, c) >= low[c] - kColourSlack[c] &&
                                   Channel(got, c) <= high[c] + kColourSlack[c]);
                    FUZZ_CHECK(format == kBlockFormatDxt1 ? Channel(got, 3) == 255 : channelHolds(3));
                }
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    uint8_t texels[48], values[16];
    in.Read(texels, sizeof texels);
    in.Read(values, sizeof values);
    CheckColourBlock(texels);
    CheckChannelBlock(values);

    const int64_t width = int16_t(in.U16()), height = int16_t(in.U16());
    const int64_t format = int8_t(in.U8()) % 6;  // -5..5: the four codes and a few that are none
    const uint64_t restSize = in.Remaining();
    const uint8_t* rest = in.Take(restSize);
    CheckDecode(rest, size_t(restSize), width, height, format);

    ByteReader pictureBytes(rest, restSize);
    ImagePtr picture = MakeFuzzPicture(pictureBytes, 40, 40);
    CheckLevel(*picture, int(format));
    return 0;
}
