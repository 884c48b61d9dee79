// The image model every part of the program shares.
//
// An image is a raster of 32-bit pixels (24-bit only straight out of a decoder)
// stored as bytes B, G, R, A. Rows are stored bottom-up: the first stored row
// is the bottom row of the picture, and the distance between stored rows is
// the pitch, which callers read from the image and never compute. Pixel
// addresses given to functions here count from the top-left corner.
//
// Colours are 32-bit values 0xAABBGGRR (red in the low byte).
//
// Images are owned through ImagePtr; a null ImagePtr means "no image".
// Creation fails (returns null) for sides outside 1..32767 or when memory runs
// out, or would run out (toolkit/memory.h): callers report "Not enough
// memory ..." rather than crash or be ended by the kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "toolkit/memory.h"

constexpr int kMaxImageSide = 32767;

struct Image {
    int width = 0;
    int height = 0;
    int depth = 32;   // bits per pixel: 32 (B, G, R, A) or 24 (B, G, R)
    int pitch = 0;    // bytes between stored rows; rows are padded to 4 bytes
    PictureArray<uint8_t> pixels;  // taken only when the process has room for it

    int BytesPerPixel() const { return depth / 8; }
    // The first stored row, which is the bottom row of the picture.
    uint8_t* FirstStoredRow() { return pixels.get(); }
    const uint8_t* FirstStoredRow() const { return pixels.get(); }
    // Row y counted from the top of the picture.
    uint8_t* RowFromTop(int y) { return pixels.get() + size_t(height - 1 - y) * size_t(pitch); }
    const uint8_t* RowFromTop(int y) const { return pixels.get() + size_t(height - 1 - y) * size_t(pitch); }
    size_t ByteCount() const { return size_t(pitch) * size_t(height); }
};

using ImagePtr = std::unique_ptr<Image>;
// A picture with several owners that nobody changes any more (the open
// picture and the steps of the edit history share one): a change makes a new
// picture instead.
using SharedImage = std::shared_ptr<const Image>;

// Colour helpers (0xAABBGGRR).
constexpr uint32_t MakeColour(int r, int g, int b, int a = 255) {
    return uint32_t(r & 255) | (uint32_t(g & 255) << 8) | (uint32_t(b & 255) << 16) | (uint32_t(a & 255) << 24);
}
constexpr int ColourRed(uint32_t c) { return int(c & 255); }
constexpr int ColourGreen(uint32_t c) { return int((c >> 8) & 255); }
constexpr int ColourBlue(uint32_t c) { return int((c >> 16) & 255); }
constexpr int ColourAlpha(uint32_t c) { return int(c >> 24); }

constexpr uint32_t kOpaqueBlack = 0xFF000000u;

// A new image filled with one colour; null for a bad size, a bad depth or no memory.
ImagePtr CreateImage(int width, int height, int depth = 32, uint32_t fill = kOpaqueBlack);
// The same layout without the fill, for code that writes every pixel itself
// (decoders, resizes); the pixel bytes start undefined.
ImagePtr CreateImageUnfilled(int width, int height, int depth = 32);
// While it lives, has the kernel make the pages of a new picture's pixels
// present on another core, from the top row down, the order in which
// decoders write. The kernel clears each page at its first touch, a good part
// of decoding a large picture on one core; this takes it off the decoder's
// path. Only page tables change, never a byte of the picture, so the caller
// writes freely meanwhile. Small pictures get no helper, nor do kernels
// without MADV_POPULATE_WRITE (Linux 5.14).
class PagesAhead {
public:
    explicit PagesAhead(Image& image);
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

private:
    struct Helper;
    std::unique_ptr<Helper> helper_;
};

// The bytes of pixels an image of this size and depth holds (its ByteCount),
// for planning memory before it is made.
uint64_t ImageByteCount(int width, int height, int depth = 32);

// The eight orientations a file may give its stored raster (TIFF and EXIF
// number them alike): 1 rows from the top, each from the left; 2 mirrored left
// to right; 3 turned half round; 4 upside down; 5 to 8 have rows and columns
// swapped: 5 transposed, 6 turned a quarter clockwise, 7 transversed, 8 turned
// a quarter anticlockwise. Any other value counts as 1.
constexpr bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
// Where stored row `storedRow` goes in `image`, which has the shown size (the
// stored sides swapped for orientations 5 to 8): the address of its first
// pixel, the bytes from one of its pixels to the next, and the bytes from
// each of its pixels to the one below it in the stored raster.
struct StoredRowPlacement {
    uint8_t* first;
    ptrdiff_t step;
    ptrdiff_t rowStep;
};
StoredRowPlacement PlaceStoredRow(Image& image, int orientation, int storedRow);
// Puts `rows` stored rows of `width` pixels from `firstRow` on in their
// places; put(out, column, row counted from firstRow) writes one pixel at
// `out`. The writes run along the picture's rows (down the stored columns of a
// raster turned a quarter), so a large picture is filled cache line by cache
// line rather than one pixel in every row.
template <typename PutPixel>
void PlaceStoredRows(Image& image, int orientation, int firstRow, int rows, int width, PutPixel&& put) {
    const StoredRowPlacement to = PlaceStoredRow(image, orientation, firstRow);
    if (OrientationSwapsSides(orientation)) {
        for (int c = 0; c < width; ++c) {
            uint8_t* column = to.first + ptrdiff_t(c) * to.step;
            for (int r = 0; r < rows; ++r) put(column + ptrdiff_t(r) * to.rowStep, c, r);
        }
    } else {
        for (int r = 0; r < rows; ++r) {
            uint8_t* row = to.first + ptrdiff_t(r) * to.rowStep;
            for (int c = 0; c < width; ++c) put(row + ptrdiff_t(c) * to.step, c, r);
        }
    }
}

// An exact copy (same depth); null when memory runs out.
ImagePtr DuplicateImage(const Image& image);

// The colour of one pixel with its alpha (255 for 24-bit images); 0 outside.
uint32_t GetPixelColour(const Image& image, int x, int y);
// Sets one pixel (test and tool convenience, not for hot loops).
void SetPixelColour(Image& image, int x, int y, uint32_t colour);

// Fills a rectangle, clipped to the image.
void FillRect(Image& image, int x, int y, int w, int h, uint32_t colour);

enum class DrawMode {
    Copy,        // colour bytes copied, the target's alpha left as it was
    AlphaBlend,  // "source over": the source's alpha blends it onto the target
};
// Draws src onto dst with src's top-left at (x, y) in dst, clipped to dst.
//
// AlphaBlend, with source alpha sa and target alpha da (0..255), per colour
// channel c (integer arithmetic, rounding to nearest):
//   oa = sa + da * (255 - sa) / 255
//   oc = (sc * sa * 255 + dc * da * (255 - sa)) / (oa * 255)     (oa > 0)
// which for an opaque target reduces to oc = (sc * sa + dc * (255 - sa)) / 255.
// A fully transparent result keeps the target's colour bytes.
void DrawImage(Image& dst, const Image& src, int x, int y, DrawMode mode);

enum class ResizeMode {
    Raw,     // each target pixel takes the nearest source pixel
    Smooth,  // separable Mitchell-Netravali (B = C = 1/3)
};
// A new 32-bit image of the given size (a 24-bit source gives a 24-bit result);
// null on a bad size or no memory. See resize.cpp for the exact sampling rules.
ImagePtr ResizeImage(const Image& src, int width, int height, ResizeMode mode);

// The image itself when it is 32-bit; otherwise a new 32-bit copy with alpha
// 255 everywhere (the source is released either way). Null when the new image
// cannot be made.
ImagePtr ConvertTo32Bit(ImagePtr image);

// 1 as soon as a pixel has alpha below 255 (rows from the top), else 0;
// 0 for a missing or 24-bit image.
int HasTransparentPixels(const Image* image);

// Flattens one colour byte c with alpha a over white, in whole numbers:
// ((c - 255) * a + 65025) / 255.
constexpr int FlattenOverWhite(int c, int a) { return ((c - 255) * a + 65025) / 255; }
