#include "toolkit/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <new>

#include "toolkit/memory.h"
#include "toolkit/rows.h"
#include "toolkit/thread.h"

namespace {

int64_t PitchFor(int64_t width, int depth) {
    return ((width * (depth / 8)) + 3) & ~int64_t(3);
}

void FillRow(uint8_t* row, int count, int bpp, uint32_t colour) {
    const uint8_t b = uint8_t(ColourBlue(colour)), g = uint8_t(ColourGreen(colour));
    const uint8_t r = uint8_t(ColourRed(colour)), a = uint8_t(ColourAlpha(colour));
    if (bpp == 4) {
        const uint32_t packed = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | uint32_t(a) << 24;
        for (int i = 0; i < count; ++i) std::memcpy(row + i * 4, &packed, 4);
    } else {
        for (int i = 0; i < count; ++i) {
            row[i * 3] = b;
            row[i * 3 + 1] = g;
            row[i * 3 + 2] = r;
        }
    }
}

// Pixel storage. No huge-page advice: on a virtual machine the kernel's
// compaction for huge pages made the first touch of a big picture swing
// several-fold from run to run (an 8192 x 8192 DXT1 open from 0.06 to 0.22 s,
// a steady 0.10 to 0.16 s without it), and whole-process opens, saves,
// mip-mapped conversions and batches were no faster on the median.
PictureArray<uint8_t> NewPixels(size_t bytes) { return NewPictureArray<uint8_t>(bytes); }

}  // namespace

struct PagesAhead::Helper {
    std::atomic<bool> stop{false};
    Thread thread;
};

PagesAhead::PagesAhead(Image& image) {
#ifndef ORVANTA_FUZZING  // one thread keeps a fuzzing run reproducible
    constexpr size_t kPage = 4096, kStep = size_t(4) << 20, kWorthIt = size_t(16) << 20;
    if (!image.pixels || image.ByteCount() < kWorthIt) return;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(image.pixels.get()) + kPage - 1) & ~uintptr_t(kPage - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(image.pixels.get()) + image.ByteCount()) & ~uintptr_t(kPage - 1);
    helper_.reset(new (std::nothrow) Helper);
    if (!helper_) return;
    Helper* helper = helper_.get();
    try {
        helper_->thread = Thread([helper, first, last] {
            for (uintptr_t end = last; end > first && !helper->stop.load(std::memory_order_relaxed);) {
                const uintptr_t begin = end - first > kStep ? end - kStep : first;
                if (madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0) return;
                end = begin;
            }
        });
    } catch (const std::exception&) {
        helper_.reset();  // no thread: the decoder touches the pages itself
    }
#else
    (void)image;
#endif
}

PagesAhead::~PagesAhead() {
    if (!helper_ || !helper_->thread.joinable()) return;
    helper_->stop.store(true, std::memory_order_relaxed);
    helper_->thread.join();
}

ImagePtr CreateImageUnfilled(int width, int height, int depth) {
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    if (depth != 32 && depth != 24) return nullptr;
    ImagePtr image(new (std::nothrow) Image);
    if (!image) {
        NoteMemoryRefusal();
        return nullptr;
    }
    image->width = width;
    image->height = height;
    image->depth = depth;
    image->pitch = int(PitchFor(width, depth));
    image->pixels = NewPixels(image->ByteCount());
    if (!image->pixels) return nullptr;
    return image;
}

ImagePtr CreateImage(int width, int height, int depth, uint32_t fill) {
    ImagePtr image = CreateImageUnfilled(width, height, depth);
    if (!image) return nullptr;
    uint8_t* first = image->FirstStoredRow();
    FillRow(first, width, depth / 8, fill);
    for (int y = 1; y < height; ++y) std::memcpy(first + size_t(y) * image->pitch, first, size_t(image->pitch));
    return image;
}

uint64_t ImageByteCount(int width, int height, int depth) {
    if (width < 1 || height < 1) return 0;
    return uint64_t(PitchFor(width, depth)) * uint64_t(height);
}

StoredRowPlacement PlaceStoredRow(Image& image, int orientation, int storedRow) {
    const ptrdiff_t right = image.BytesPerPixel();
    const ptrdiff_t down = -ptrdiff_t(image.pitch);  // rows are stored bottom-up
    const int lastX = image.width - 1, lastY = image.height - 1;
    auto at = [&](int x, int y) { return image.RowFromTop(y) + ptrdiff_t(x) * right; };
    switch (orientation) {
        case 2: return {at(lastX, storedRow), -right, down};
        case 3: return {at(lastX, lastY - storedRow), -right, -down};
        case 4: return {at(0, lastY - storedRow), right, -down};
        case 5: return {at(storedRow, 0), down, right};
        case 6: return {at(lastX - storedRow, 0), down, -right};
        case 7: return {at(lastX - storedRow, lastY), -down, -right};
        case 8: return {at(storedRow, lastY), -down, right};
        default: return {at(0, storedRow), right, down};
    }
}

ImagePtr DuplicateImage(const Image& image) {
    ImagePtr copy(new (std::nothrow) Image);
    if (!copy) {
        NoteMemoryRefusal();
        return nullptr;
    }
    copy->width = image.width;
    copy->height = image.height;
    copy->depth = image.depth;
    copy->pitch = image.pitch;
    copy->pixels = NewPixels(image.ByteCount());
    if (!copy->pixels) return nullptr;
    std::memcpy(copy->pixels.get(), image.pixels.get(), image.ByteCount());
    return copy;
}

uint32_t GetPixelColour(const Image& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 0;
    const uint8_t* p = image.RowFromTop(y) + size_t(x) * image.BytesPerPixel();
    const int a = image.depth == 32 ? p[3] : 255;
    return MakeColour(p[2], p[1], p[0], a);
}

void SetPixelColour(Image& image, int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    FillRow(image.RowFromTop(y) + size_t(x) * image.BytesPerPixel(), 1, image.BytesPerPixel(), colour);
}

void FillRect(Image& image, int x, int y, int w, int h, uint32_t colour) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = int(std::min<long long>((long long)x + w, image.width));
    const int y1 = int(std::min<long long>((long long)y + h, image.height));
    if (x0 >= x1 || y0 >= y1) return;
    const int bpp = image.BytesPerPixel();
    for (int row = y0; row < y1; ++row) FillRow(image.RowFromTop(row) + size_t(x0) * bpp, x1 - x0, bpp, colour);
}

namespace {

// One row of "source over". Both rows are 32-bit unless noted by the bpp values.
void BlendRow(uint8_t* d, int dbpp, const uint8_t* s, int sbpp, int count) {
    for (int i = 0; i < count; ++i, d += dbpp, s += sbpp) {
        const int sa = sbpp == 4 ? s[3] : 255;
        if (sa == 255) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            if (dbpp == 4) d[3] = 255;
            continue;
        }
        if (sa == 0) continue;
        const int da = dbpp == 4 ? d[3] : 255;
        if (da == 255) {
            const int inv = 255 - sa;
            for (int c = 0; c < 3; ++c) d[c] = uint8_t((s[c] * sa + d[c] * inv + 127) / 255);
            continue;
        }
        // General case: weights sa*255 and da*(255-sa), total oa*255 (all exact integers).
        const int ws = sa * 255;
        const int wd = da * (255 - sa);
        const int total = ws + wd;
        for (int c = 0; c < 3; ++c) d[c] = uint8_t((s[c] * ws + d[c] * wd + total / 2) / total);
        d[3] = uint8_t((total + 127) / 255);
    }
}

}  // namespace

void DrawImage(Image& dst, const Image& src, int x, int y, DrawMode mode) {
    const int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
    const int w = std::min(src.width - sx0, dst.width - std::max(x, 0));
    const int h = std::min(src.height - sy0, dst.height - std::max(y, 0));
    if (w <= 0 || h <= 0) return;
    const int sbpp = src.BytesPerPixel(), dbpp = dst.BytesPerPixel();
    for (int row = 0; row < h; ++row) {
        const uint8_t* s = src.RowFromTop(sy0 + row) + size_t(sx0) * sbpp;
        uint8_t* d = dst.RowFromTop(std::max(y, 0) + row) + size_t(std::max(x, 0)) * dbpp;
        if (mode == DrawMode::AlphaBlend) {
            BlendRow(d, dbpp, s, sbpp, w);
        } else {
            CopyColourRow(s, sbpp, d, dbpp, w);
        }
    }
}

ImagePtr ConvertTo32Bit(ImagePtr image) {
    if (!image || image->depth == 32) return image;
    ImagePtr result = CreateImage(image->width, image->height, 32, kOpaqueBlack);
    if (!result) return nullptr;
    DrawImage(*result, *image, 0, 0, DrawMode::Copy);
    return result;
}

int HasTransparentPixels(const Image* image) {
    if (!image || image->depth != 32 || !image->pixels) return 0;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = image->RowFromTop(y);
        for (int x = 0; x < image->width; ++x)
            if (row[x * 4 + 3] != 255) return 1;
    }
    return 0;
}
