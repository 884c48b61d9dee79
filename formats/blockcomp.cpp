// Block compression: DXT1/DXT3/DXT5/BC5 decoding and the one-pass
// bounding-box DXT1/DXT5/BC5 encoder. Palettes use truncating integer
// arithmetic throughout, so the decoder's colours are reproducible exactly.
// Pixels are read and written through row pointers (images are B, G, R, A
// bytes, rows stored bottom-up); nothing per pixel goes through the image API.
#include "formats/blockcomp.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "toolkit/parallel.h"

namespace {

// Our pixels as a little-endian 32-bit word: bytes B, G, R, A.
inline uint32_t PackBgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return b | (g << 8) | (r << 16) | (a << 24);
}

inline uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
// Bytes 2..7 of a single-channel block: the 48-bit index field.
inline uint64_t ReadIndices48(const uint8_t* block) {
    uint64_t v = 0;
    for (int i = 7; i >= 2; --i) v = (v << 8) | block[i];
    return v;
}

struct Rgb {
    int r, g, b;
};

inline Rgb Expand565(uint32_t c) {
    return {int(((c >> 11) & 31) * 255 / 31), int(((c >> 5) & 63) * 255 / 63), int((c & 31) * 255 / 31)};
}

// The four palette colours of a colour block as packed B, G, R, A words with
// alpha 255, except entry 3 of DXT1's three-colour mode: transparent black.
inline void ColourPalette(const uint8_t* block, bool allowThreeColour, uint32_t pal[4]) {
    const uint32_t c0 = ReadU16(block), c1 = ReadU16(block + 2);
    const Rgb e0 = Expand565(c0), e1 = Expand565(c1);
    pal[0] = PackBgra(e0.r, e0.g, e0.b, 255);
    pal[1] = PackBgra(e1.r, e1.g, e1.b, 255);
    if (c0 > c1 || !allowThreeColour) {
        pal[2] = PackBgra((2 * e0.r + e1.r) / 3, (2 * e0.g + e1.g) / 3, (2 * e0.b + e1.b) / 3, 255);
        pal[3] = PackBgra((e0.r + 2 * e1.r) / 3, (e0.g + 2 * e1.g) / 3, (e0.b + 2 * e1.b) / 3, 255);
    } else {
        pal[2] = PackBgra((e0.r + e1.r) / 2, (e0.g + e1.g) / 2, (e0.b + e1.b) / 2, 255);
        pal[3] = 0;
    }
}

inline void SingleChannelPalette(const uint8_t* block, uint8_t pal[8]) {
    const int a0 = block[0], a1 = block[1];
    pal[0] = uint8_t(a0);
    pal[1] = uint8_t(a1);
    if (a0 > a1) {
        for (int k = 1; k <= 6; ++k) pal[k + 1] = uint8_t(((7 - k) * a0 + k * a1) / 7);
    } else {
        for (int k = 1; k <= 4; ++k) pal[k + 1] = uint8_t(((5 - k) * a0 + k * a1) / 5);
        pal[6] = 0;
        pal[7] = 255;
    }
}

// Blue of a BC5 texel, rebuilt as the z of the unit normal whose x and y are
// red and green mapped to -1..1, back in 0..255. It depends only on the pair,
// so one table of all 65536 pairs replaces a square root per texel.
struct NormalZTable {
    uint8_t z[256 * 256];
    NormalZTable() {
        for (int r = 0; r < 256; ++r) {
            for (int g = 0; g < 256; ++g) {
                const double nx = r / 127.5 - 1.0, ny = g / 127.5 - 1.0;
                double t = 1.0 - nx * nx - ny * ny;
                if (t < 0.0) t = 0.0;
                z[r * 256 + g] = uint8_t(int((std::sqrt(t) + 1.0) * 127.5));
            }
        }
    }
};

const uint8_t* NormalZ() {
    static const NormalZTable table;
    return table.z;
}

// The 16 decoded pixels of one block, texel order, for the edge blocks that
// are copied texel by texel.
void DecodeBlockToTexels(const uint8_t* p, int format, const uint8_t* normalZ, uint32_t out[16]) {
    if (format == kBlockFormatBc5) {
        uint8_t red[16], green[16];
        DecodeSingleChannelBlock(p, red);
        DecodeSingleChannelBlock(p + 8, green);
        for (int i = 0; i < 16; ++i) out[i] = PackBgra(red[i], green[i], normalZ[red[i] * 256 + green[i]], 255);
        return;
    }
    uint32_t pal[4];
    const uint8_t* colour = format == kBlockFormatDxt1 ? p : p + 8;
    ColourPalette(colour, format == kBlockFormatDxt1, pal);
    const uint32_t indices = ReadU32(colour + 4);
    for (int i = 0; i < 16; ++i) out[i] = pal[(indices >> (2 * i)) & 3];
    if (format == kBlockFormatDxt3) {
        for (int i = 0; i < 16; ++i) {
            const uint32_t a = ((p[i / 2] >> ((i & 1) * 4)) & 15) * 17;
            out[i] = (out[i] & 0x00FFFFFFu) | (a << 24);
        }
    } else if (format == kBlockFormatDxt5) {
        uint8_t alpha[16];
        DecodeSingleChannelBlock(p, alpha);
        for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0x00FFFFFFu) | (uint32_t(alpha[i]) << 24);
    }
}

// The AND of every pixel a band writes: its alpha byte stays 255 only while
// every pixel is opaque, which tells the readers about transparency without
// a second pass over the picture.
struct OpaqueCheck {
#if defined(__SSE2__)
    __m128i vec = _mm_set1_epi32(-1);
#endif
    uint32_t word = 0xFFFFFFFFu;

    bool AllOpaque() const {
        uint32_t w = word;
#if defined(__SSE2__)
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), vec);
        w &= lanes[0] & lanes[1] & lanes[2] & lanes[3];
#endif
        return (w >> 24) == 255;
    }
};

#if defined(__SSE2__)

// 5:6:5 fields already expanded to 8 bits and moved to their byte in a
// B, G, R, A word, so an end colour is three loads and two ors.
struct ExpandTables {
    uint32_t r[32], g[64], b[32];
    constexpr ExpandTables() : r(), g(), b() {
        for (uint32_t i = 0; i < 32; ++i) {
            r[i] = (i * 255 / 31) << 16;
            b[i] = i * 255 / 31;
        }
        for (uint32_t i = 0; i < 64; ++i) g[i] = (i * 255 / 63) << 8;
    }
};
constexpr ExpandTables kExpand;

// For row r of a block: the mask of each texel's 2-bit index inside the
// 32-bit index word, and the four index values at that position.
struct IndexSelectors {
    alignas(16) uint32_t mask[4][4];
    alignas(16) uint32_t value[4][4][4];  // row, entry, texel
    constexpr IndexSelectors() : mask(), value() {
        for (uint32_t r = 0; r < 4; ++r)
            for (uint32_t c = 0; c < 4; ++c) {
                const uint32_t shift = 8 * r + 2 * c;
                mask[r][c] = 3u << shift;
                for (uint32_t k = 0; k < 4; ++k) value[r][k][c] = k << shift;
            }
    }
};
constexpr IndexSelectors kSelect;

inline uint32_t ExpandedEnd(uint32_t c) {
    return kExpand.r[c >> 11] | kExpand.g[(c >> 5) & 63] | kExpand.b[c & 31] | 0xFF000000u;
}

// The 16 texels of a colour block as four rows of four B, G, R, A pixels.
// Thirds are taken as (n * 21846) >> 16, which equals n / 3 for n <= 765.
inline void DecodeColourRows(const uint8_t* block, bool allowThreeColour, __m128i rows[4]) {
    const uint32_t c0 = ReadU16(block), c1 = ReadU16(block + 2);
    const __m128i zero = _mm_setzero_si128();
    const __m128i ends = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(ExpandedEnd(c0))),
                                            _mm_cvtsi32_si128(int(ExpandedEnd(c1))));
    const __m128i e = _mm_unpacklo_epi8(ends, zero);                 // e0 | e1, 16-bit lanes
    const __m128i f = _mm_shuffle_epi32(e, _MM_SHUFFLE(1, 0, 3, 2));  // e1 | e0
    __m128i mid;
    if (c0 > c1 || !allowThreeColour) {
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(e, e), f);  // 2e0 + e1 | 2e1 + e0
        mid = _mm_packus_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(21846)), zero);  // entry 2, entry 3
    } else {
        mid = _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(e, f), 1), zero);
        mid = _mm_cvtsi32_si128(_mm_cvtsi128_si32(mid));  // entry 3: transparent black
    }
    const __m128i pal = _mm_unpacklo_epi64(ends, mid);
    const __m128i p0 = _mm_shuffle_epi32(pal, 0x00), p1 = _mm_shuffle_epi32(pal, 0x55);
    const __m128i p2 = _mm_shuffle_epi32(pal, 0xAA), p3 = _mm_shuffle_epi32(pal, 0xFF);
    const __m128i word = _mm_set1_epi32(int(ReadU32(block + 4)));
    for (int r = 0; r < 4; ++r) {
        const __m128i idx =
            _mm_and_si128(word, _mm_load_si128(reinterpret_cast<const __m128i*>(kSelect.mask[r])));
        const auto& v = kSelect.value[r];
        const __m128i s0 = _mm_cmpeq_epi32(idx, zero);
        const __m128i s1 = _mm_cmpeq_epi32(idx, _mm_load_si128(reinterpret_cast<const __m128i*>(v[1])));
        const __m128i s2 = _mm_cmpeq_epi32(idx, _mm_load_si128(reinterpret_cast<const __m128i*>(v[2])));
        const __m128i s3 = _mm_cmpeq_epi32(idx, _mm_load_si128(reinterpret_cast<const __m128i*>(v[3])));
        rows[r] = _mm_or_si128(_mm_or_si128(_mm_and_si128(s0, p0), _mm_and_si128(s1, p1)),
                               _mm_or_si128(_mm_and_si128(s2, p2), _mm_and_si128(s3, p3)));
    }
}

// A whole block inside the picture, written straight into four rows.
inline void DecodeFullDxt1(const uint8_t* p, uint8_t* const rows[4], size_t xOffset, OpaqueCheck& opaque) {
    __m128i px[4];
    DecodeColourRows(p, true, px);
    for (int r = 0; r < 4; ++r) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[r] + xOffset), px[r]);
        opaque.vec = _mm_and_si128(opaque.vec, px[r]);
    }
}

inline void DecodeFullDxt5(const uint8_t* p, uint8_t* const rows[4], size_t xOffset, OpaqueCheck& opaque) {
    __m128i px[4];
    DecodeColourRows(p + 8, false, px);
    uint8_t a8[8];
    SingleChannelPalette(p, a8);
    const uint64_t aidx = ReadIndices48(p);
    alignas(16) uint32_t alpha[16];
    for (int i = 0; i < 16; ++i) alpha[i] = uint32_t(a8[(aidx >> (3 * i)) & 7]) << 24;
    const __m128i colourOnly = _mm_set1_epi32(0x00FFFFFF);
    for (int r = 0; r < 4; ++r) {
        const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(alpha + 4 * r));
        const __m128i pixels = _mm_or_si128(_mm_and_si128(px[r], colourOnly), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[r] + xOffset), pixels);
        opaque.vec = _mm_and_si128(opaque.vec, pixels);
    }
}

#else

inline void Store4(uint8_t* row, uint32_t a, uint32_t b, uint32_t c, uint32_t d, OpaqueCheck& opaque) {
    const uint32_t px[4] = {a, b, c, d};
    std::memcpy(row, px, 16);
    opaque.word &= a & b & c & d;
}

// A whole block inside the picture, written straight into four rows.
inline void DecodeFullDxt1(const uint8_t* p, uint8_t* const rows[4], size_t xOffset, OpaqueCheck& opaque) {
    uint32_t pal[4];
    ColourPalette(p, true, pal);
    const uint32_t idx = ReadU32(p + 4);
    for (int r = 0; r < 4; ++r) {
        const uint32_t bits = idx >> (8 * r);
        Store4(rows[r] + xOffset, pal[bits & 3], pal[(bits >> 2) & 3], pal[(bits >> 4) & 3], pal[(bits >> 6) & 3],
               opaque);
    }
}

inline void DecodeFullDxt5(const uint8_t* p, uint8_t* const rows[4], size_t xOffset, OpaqueCheck& opaque) {
    uint32_t pal[4];
    ColourPalette(p + 8, false, pal);
    const uint32_t idx = ReadU32(p + 12);
    uint32_t apal[8];
    {
        uint8_t a8[8];
        SingleChannelPalette(p, a8);
        for (int k = 0; k < 8; ++k) apal[k] = uint32_t(a8[k]) << 24;
    }
    for (int k = 0; k < 4; ++k) pal[k] &= 0x00FFFFFFu;
    const uint64_t aidx = ReadIndices48(p);
    for (int r = 0; r < 4; ++r) {
        const uint32_t bits = idx >> (8 * r);
        const uint32_t abits = uint32_t(aidx >> (12 * r));
        Store4(rows[r] + xOffset, pal[bits & 3] | apal[abits & 7], pal[(bits >> 2) & 3] | apal[(abits >> 3) & 7],
               pal[(bits >> 4) & 3] | apal[(abits >> 6) & 7], pal[(bits >> 6) & 3] | apal[(abits >> 9) & 7], opaque);
    }
}

#endif  // __SSE2__

inline void DecodeFullBc5(const uint8_t* p, uint8_t* const rows[4], size_t xOffset, const uint8_t* normalZ) {
    uint8_t rp[8], gp[8];
    SingleChannelPalette(p, rp);
    SingleChannelPalette(p + 8, gp);
    const uint64_t ri = ReadIndices48(p), gi = ReadIndices48(p + 8);
    for (int r = 0; r < 4; ++r) {
        uint32_t px[4];
        for (int c = 0; c < 4; ++c) {
            const int shift = 12 * r + 3 * c;
            const uint32_t red = rp[(ri >> shift) & 7], green = gp[(gi >> shift) & 7];
            px[c] = PackBgra(red, green, normalZ[red * 256 + green], 255);
        }
        std::memcpy(rows[r] + xOffset, px, 16);
    }
}

}  // namespace

int64_t GetBlockCompressedSize(int64_t width, int64_t height, int64_t format) {
    if (width < 0 || height < 0) return 0;
    // Sides beyond 2^31 cannot describe a real level; refusing them keeps the
    // product inside 64 bits.
    if (width > INT64_C(0x7FFFFFFF) || height > INT64_C(0x7FFFFFFF)) return 0;
    const int64_t blocks = ((width + 3) / 4) * ((height + 3) / 4);
    return blocks * (format == kBlockFormatDxt1 ? 8 : 16);
}

void DecodeSingleChannelBlock(const uint8_t* block, uint8_t values[16]) {
    uint8_t pal[8];
    SingleChannelPalette(block, pal);
    const uint64_t bits = ReadIndices48(block);
    for (int i = 0; i < 16; ++i) values[i] = pal[(bits >> (3 * i)) & 7];
}

ImagePtr DecodeBlockCompressed(const uint8_t* data, int64_t size, int64_t width, int64_t height,
                               int64_t format, bool* hasTransparentPixels) {
    if (hasTransparentPixels) *hasTransparentPixels = false;
    if (format < kBlockFormatDxt1 || format > kBlockFormatBc5) return nullptr;
    if (!data || width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    const int64_t needed = GetBlockCompressedSize(width, height, format);
    if (size < needed) return nullptr;
    ImagePtr image = CreateImageUnfilled(int(width), int(height));
    if (!image) return nullptr;

    const int fmt = int(format);
    const int w = image->width, h = image->height;
    const size_t blockBytes = fmt == kBlockFormatDxt1 ? 8 : 16;
    const int blocksWide = (w + 3) / 4, blocksHigh = (h + 3) / 4;
    const int fullBlocksWide = w / 4;
    const uint8_t* normalZ = fmt == kBlockFormatBc5 ? NormalZ() : nullptr;
    const size_t blockRowBytes = size_t(blocksWide) * blockBytes;
    Image& target = *image;
    std::atomic<bool> transparent{false};

    ParallelForBands(blocksHigh, GrainForRows(int64_t(w) * 4), [&](int64_t firstRow, int64_t endRow) {
        const uint8_t* p = data + size_t(firstRow) * blockRowBytes;
        OpaqueCheck opaque;
        for (int by = int(firstRow); by < int(endRow); ++by) {
            const int rowsInBlock = h - 4 * by < 4 ? h - 4 * by : 4;
            uint8_t* rows[4];
            for (int r = 0; r < rowsInBlock; ++r) rows[r] = target.RowFromTop(4 * by + r);
            int bx = 0;
            if (rowsInBlock == 4) {
                switch (fmt) {
                    case kBlockFormatDxt1:
                        for (; bx < fullBlocksWide; ++bx, p += blockBytes)
                            DecodeFullDxt1(p, rows, size_t(bx) * 16, opaque);
                        break;
                    case kBlockFormatDxt5:
                        for (; bx < fullBlocksWide; ++bx, p += blockBytes)
                            DecodeFullDxt5(p, rows, size_t(bx) * 16, opaque);
                        break;
                    case kBlockFormatBc5:
                        for (; bx < fullBlocksWide; ++bx, p += blockBytes)
                            DecodeFullBc5(p, rows, size_t(bx) * 16, normalZ);
                        break;
                    default:
                        break;  // DXT3 is rare enough to take the texel path
                }
            }
            for (; bx < blocksWide; ++bx, p += blockBytes) {
                uint32_t texels[16];
                DecodeBlockToTexels(p, fmt, normalZ, texels);
                const int cols = w - 4 * bx < 4 ? w - 4 * bx : 4;
                for (int r = 0; r < rowsInBlock; ++r) {
                    std::memcpy(rows[r] + size_t(bx) * 16, texels + 4 * r, size_t(cols) * 4);
                    for (int c = 0; c < cols; ++c) opaque.word &= texels[4 * r + c];
                }
            }
        }
        if (!opaque.AllOpaque()) transparent.store(true, std::memory_order_relaxed);
    });
    if (hasTransparentPixels) *hasTransparentPixels = transparent.load(std::memory_order_relaxed);
    return image;
}

// ---------------------------------------------------------------------------
// Encoder

uint16_t PackRgbTo565(int red, int green, int blue) {
    return uint16_t((((red * 31 + 127) / 255) << 11) | (((green * 63 + 127) / 255) << 5) |
                    ((blue * 31 + 127) / 255));
}

namespace {

// 16 texels split into channels, so each pass over a block is a plain loop
// the compiler can vectorise.
struct BlockTexels {
    int32_t r[16], g[16], b[16], a[16];
};

void CompressColorTexels(const BlockTexels& t, uint8_t* dest) {
    int32_t minR = 255, minG = 255, minB = 255, maxR = 0, maxG = 0, maxB = 0;
    int32_t sumR = 0, sumG = 0, sumB = 0;
    for (int i = 0; i < 16; ++i) {
        minR = t.r[i] < minR ? t.r[i] : minR;
        minG = t.g[i] < minG ? t.g[i] : minG;
        minB = t.b[i] < minB ? t.b[i] : minB;
        maxR = t.r[i] > maxR ? t.r[i] : maxR;
        maxG = t.g[i] > maxG ? t.g[i] : maxG;
        maxB = t.b[i] > maxB ? t.b[i] : maxB;
        sumR += t.r[i];
        sumG += t.g[i];
        sumB += t.b[i];
    }
    // The covariance about the means only decides a sign. Scaled by 256 it is
    // 16 * sum(x * y) - sum(x) * sum(y), exact in integers and with the same
    // sign as the double-precision sum over (x - mean) * (y - mean), which is
    // exact too for 8-bit inputs.
    int32_t sumRG = 0, sumBG = 0;
    for (int i = 0; i < 16; ++i) {
        sumRG += t.r[i] * t.g[i];
        sumBG += t.b[i] * t.g[i];
    }
    const bool swapR = 16 * sumRG < sumR * sumG;
    const bool swapB = 16 * sumBG < sumB * sumG;

    // Pull the ends in by a sixteenth of the range: the extremes are usually
    // outliers, and the palette covers the bulk of the block better.
    const int32_t dR = (maxR - minR) / 16, dG = (maxG - minG) / 16, dB = (maxB - minB) / 16;
    minR += dR;
    maxR -= dR;
    minG += dG;
    maxG -= dG;
    minB += dB;
    maxB -= dB;
    if (swapR) std::swap(minR, maxR);
    if (swapB) std::swap(minB, maxB);

    const uint16_t e0 = PackRgbTo565(maxR, maxG, maxB);
    const uint16_t e1 = PackRgbTo565(minR, minG, minB);
    const uint16_t c0 = e0 > e1 ? e0 : e1;
    const uint16_t c1 = e0 > e1 ? e1 : e0;
    dest[0] = uint8_t(c0);
    dest[1] = uint8_t(c0 >> 8);
    dest[2] = uint8_t(c1);
    dest[3] = uint8_t(c1 >> 8);
    if (c0 == c1) {
        std::memset(dest + 4, 0, 4);
        return;
    }

    const Rgb p0 = Expand565(c0), p1 = Expand565(c1);
    const int32_t pr[4] = {p0.r, p1.r, (2 * p0.r + p1.r) / 3, (p0.r + 2 * p1.r) / 3};
    const int32_t pg[4] = {p0.g, p1.g, (2 * p0.g + p1.g) / 3, (p0.g + 2 * p1.g) / 3};
    const int32_t pb[4] = {p0.b, p1.b, (2 * p0.b + p1.b) / 3, (p0.b + 2 * p1.b) / 3};
    uint32_t idx[16];
    for (int i = 0; i < 16; ++i) {
        int32_t best = 2147483647;
        uint32_t bestK = 0;
        for (int k = 0; k < 4; ++k) {
            const int32_t dr = t.r[i] - pr[k], dg = t.g[i] - pg[k], db = t.b[i] - pb[k];
            const int32_t d = dr * dr + dg * dg + db * db;
            // Strictly smaller only: of two equal distances the lower entry wins.
            const bool better = d < best;
            best = better ? d : best;
            bestK = better ? uint32_t(k) : bestK;
        }
        idx[i] = bestK;
    }
    uint32_t word = 0;
    for (int i = 0; i < 16; ++i) word |= idx[i] << (2 * i);
    dest[4] = uint8_t(word);
    dest[5] = uint8_t(word >> 8);
    dest[6] = uint8_t(word >> 16);
    dest[7] = uint8_t(word >> 24);
}

#if defined(__SSE2__)

// All 16 values at once as bytes: the nearest-entry search is eight rounds of
// absolute differences with a running minimum, and a strictly smaller
// distance is the only thing that replaces an entry, so ties keep the lower
// entry number exactly as the sequential search would.
void EncodeSingleChannelValues(const int32_t v[16], uint8_t* dest) {
    const __m128i* in = reinterpret_cast<const __m128i*>(v);
    const __m128i values = _mm_packus_epi16(_mm_packs_epi32(_mm_loadu_si128(in), _mm_loadu_si128(in + 1)),
                                            _mm_packs_epi32(_mm_loadu_si128(in + 2), _mm_loadu_si128(in + 3)));
    __m128i lo = _mm_min_epu8(values, _mm_srli_si128(values, 8));
    __m128i hi = _mm_max_epu8(values, _mm_srli_si128(values, 8));
    lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 4));
    hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 4));
    lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 2));
    hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 2));
    lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 1));
    hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 1));
    const int32_t minimum = _mm_cvtsi128_si32(lo) & 255, maximum = _mm_cvtsi128_si32(hi) & 255;
    dest[0] = uint8_t(maximum);
    dest[1] = uint8_t(minimum);
    if (maximum == minimum) {
        std::memset(dest + 2, 0, 6);
        return;
    }
    __m128i best = _mm_set1_epi8(-1);
    __m128i index = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        const int32_t entry = k == 0 ? maximum : k == 1 ? minimum : ((8 - k) * maximum + (k - 1) * minimum) / 7;
        const __m128i e = _mm_set1_epi8(char(entry));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(values, e), _mm_subs_epu8(e, values));
        const __m128i notBetter = _mm_cmpeq_epi8(_mm_min_epu8(d, best), best);
        best = _mm_min_epu8(d, best);
        index = _mm_or_si128(_mm_and_si128(notBetter, index), _mm_andnot_si128(notBetter, _mm_set1_epi8(char(k))));
    }
    // Pack the 16 three-bit indices: pairs into 6 bits, 12, 24, then 48.
    __m128i x = _mm_or_si128(_mm_and_si128(index, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(index, 5));
    x = _mm_or_si128(_mm_and_si128(x, _mm_set1_epi32(0x0000FFFF)), _mm_srli_epi32(x, 10));
    x = _mm_or_si128(_mm_and_si128(x, _mm_set_epi32(0, -1, 0, -1)), _mm_srli_epi64(x, 20));
    const uint64_t low = uint64_t(_mm_cvtsi128_si64(x)), high = uint64_t(_mm_cvtsi128_si64(_mm_srli_si128(x, 8)));
    const uint64_t bits = low | (high << 24);
    for (int i = 0; i < 6; ++i) dest[2 + i] = uint8_t(bits >> (8 * i));
}

#else

void EncodeSingleChannelValues(const int32_t v[16], uint8_t* dest) {
    int32_t lo = 255, hi = 0;
    for (int i = 0; i < 16; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
    }
    dest[0] = uint8_t(hi);
    dest[1] = uint8_t(lo);
    if (hi == lo) {
        std::memset(dest + 2, 0, 6);
        return;
    }
    int32_t pal[8];
    pal[0] = hi;
    pal[1] = lo;
    for (int k = 2; k < 8; ++k) pal[k] = ((8 - k) * hi + (k - 1) * lo) / 7;
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        int32_t best = 1000;
        uint64_t bestK = 0;
        for (int k = 0; k < 8; ++k) {
            const int32_t diff = v[i] - pal[k];
            const int32_t d = diff < 0 ? -diff : diff;
            const bool better = d < best;
            best = better ? d : best;
            bestK = better ? uint64_t(k) : bestK;
        }
        bits |= bestK << (3 * i);
    }
    for (int i = 0; i < 6; ++i) dest[2 + i] = uint8_t(bits >> (8 * i));
}

#endif  // __SSE2__

// Gathers one block's texels from the picture, repeating the last column and
// row where the block reaches past the edge.
inline void GatherBlock(const Image& image, int bx, int by, BlockTexels& t) {
    const int bpp = image.BytesPerPixel();
    const int w = image.width, h = image.height;
    for (int r = 0; r < 4; ++r) {
        const int y = 4 * by + r < h ? 4 * by + r : h - 1;
        const uint8_t* row = image.RowFromTop(y);
        for (int c = 0; c < 4; ++c) {
            const int x = 4 * bx + c < w ? 4 * bx + c : w - 1;
            const uint8_t* px = row + size_t(x) * bpp;
            const int i = 4 * r + c;
            t.b[i] = px[0];
            t.g[i] = px[1];
            t.r[i] = px[2];
            t.a[i] = bpp == 4 ? px[3] : 255;
        }
    }
}

// The same for a block wholly inside the picture: straight rows of four
// pixels of Bpp bytes.
template <int Bpp>
inline void GatherFullBlock(const uint8_t* const rows[4], size_t xOffset, BlockTexels& t) {
    for (int r = 0; r < 4; ++r) {
        const uint8_t* px = rows[r] + xOffset;
        for (int c = 0; c < 4; ++c) {
            const int i = 4 * r + c;
            t.b[i] = px[Bpp * c];
            t.g[i] = px[Bpp * c + 1];
            t.r[i] = px[Bpp * c + 2];
            t.a[i] = Bpp == 4 ? px[4 * c + 3] : 255;
        }
    }
}

inline void EncodeBlock(const BlockTexels& t, int format, uint8_t* dest) {
    switch (format) {
        case kBlockFormatDxt1:
            CompressColorTexels(t, dest);
            break;
        case kBlockFormatDxt5:
            EncodeSingleChannelValues(t.a, dest);
            CompressColorTexels(t, dest + 8);
            break;
        default:
            EncodeSingleChannelValues(t.r, dest);
            EncodeSingleChannelValues(t.g, dest + 8);
            break;
    }
}

// The first `count` blocks of block row `by`, which lies wholly inside the
// picture; returns where the next block goes.
template <int Bpp>
uint8_t* EncodeFullBlocks(const Image& image, int by, int count, int format, size_t blockBytes, uint8_t* dest) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r) rows[r] = image.RowFromTop(4 * by + r);
    BlockTexels t;
    for (int bx = 0; bx < count; ++bx, dest += blockBytes) {
        GatherFullBlock<Bpp>(rows, size_t(bx) * 4 * Bpp, t);
        EncodeBlock(t, format, dest);
    }
    return dest;
}

}  // namespace

void CompressColorBlock(const uint8_t texels[48], uint8_t* dest) {
    BlockTexels t;
    for (int i = 0; i < 16; ++i) {
        t.r[i] = texels[3 * i];
        t.g[i] = texels[3 * i + 1];
        t.b[i] = texels[3 * i + 2];
        t.a[i] = 255;
    }
    CompressColorTexels(t, dest);
}

void EncodeSingleChannelBlock(const uint8_t values[16], uint8_t* dest) {
    int32_t v[16];
    for (int i = 0; i < 16; ++i) v[i] = values[i];
    EncodeSingleChannelValues(v, dest);
}

int64_t WriteBlockCompressedLevel(const Image& image, int format, std::vector<uint8_t>& out) {
    return WriteBlockCompressedRows(image, format, 0, (image.height + 3) / 4, out);
}

int64_t WriteBlockCompressedRows(const Image& image, int format, int firstBlockRow, int endBlockRow,
                                 std::vector<uint8_t>& out) {
    if (format != kBlockFormatDxt1 && format != kBlockFormatDxt5 && format != kBlockFormatBc5) return 0;
    if (!image.pixels || image.width < 1 || image.height < 1) return 0;
    if (image.depth != 32 && image.depth != 24) return 0;
    const int blocksWide = (image.width + 3) / 4, blocksHigh = (image.height + 3) / 4;
    if (firstBlockRow < 0 || firstBlockRow >= endBlockRow || endBlockRow > blocksHigh) return 0;
    const size_t blockBytes = format == kBlockFormatDxt1 ? 8 : 16;
    const size_t blockRowBytes = size_t(blocksWide) * blockBytes;
    const size_t bytes = blockRowBytes * size_t(endBlockRow - firstBlockRow);
    const size_t start = out.size();
    if (!ResizeWithinRoom(out, start + bytes)) return 0;

    const int fullBlocksWide = image.width / 4;
    uint8_t* const blocks = out.data() + start;
    const int64_t grain = GrainForRows(int64_t(image.width) * 4);
    ParallelForBands(endBlockRow - firstBlockRow, grain, [&](int64_t first, int64_t end) {
        uint8_t* dest = blocks + size_t(first) * blockRowBytes;
        BlockTexels t;
        for (int by = firstBlockRow + int(first); by < firstBlockRow + int(end); ++by) {
            int bx = 0;
            if (4 * by + 4 <= image.height) {
                bx = fullBlocksWide;
                dest = image.depth == 32 ? EncodeFullBlocks<4>(image, by, bx, format, blockBytes, dest)
                                         : EncodeFullBlocks<3>(image, by, bx, format, blockBytes, dest);
            }
            for (; bx < blocksWide; ++bx, dest += blockBytes) {
                GatherBlock(image, bx, by, t);
                EncodeBlock(t, format, dest);
            }
        }
    });
    return int64_t(bytes);
}
