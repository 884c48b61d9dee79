// Combined skybox pictures: the strip, the cross and the equirectangular
// panorama, as 8-bit images and as RGBE blocks.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "formats/sizing.h"
#include "skybox/skybox.h"
#include "toolkit/parallel.h"

namespace {

constexpr const char* kLayoutNames[3] = {"strip", "cross", "panorama"};
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

// The face sizes a layout is addressed with, taken once (from the face table,
// or from the faces a preview halved), so the bands that build a layout never
// read the table itself.
struct FaceSizes {
    bool loaded[6] = {};
    int64_t width[6] = {}, height[6] = {};  // 0 for a face not loaded
};

FaceSizes CurrentFaceSizes() {
    FaceSizes sizes;
    for (size_t f = 0; f < 6; ++f) {
        sizes.loaded[f] = gSkyFaces[f].loaded != 0;
        sizes.width[f] = sizes.loaded[f] ? gSkyFaces[f].width : 0;
        sizes.height[f] = sizes.loaded[f] ? gSkyFaces[f].height : 0;
    }
    return sizes;
}

int64_t Clamp(int64_t value, int64_t size) {
    if (value > size - 1) value = size - 1;
    return value < 0 ? 0 : value;
}

int64_t MapStrip(int64_t x, int64_t y, int64_t fw, int64_t& face, int64_t& u, int64_t& v) {
    static constexpr int64_t kColumnFaces[4] = {3, 0, 1, 2};
    const int64_t column = x / fw;
    face = kColumnFaces[column > 3 ? 3 : column];
    u = x % fw;
    v = y;
    return 1;
}

int64_t MapPanorama(const FaceSizes& sizes, int64_t x, int64_t y, int64_t outWidth, int64_t outHeight, int64_t fw,
                    int64_t fh, int64_t& face, int64_t& u, int64_t& v) {
    const double longitude = ((x + 0.5) / double(outWidth)) * 2.0 * kPi + (-kPi);
    const double latitude = -(((y + 0.5) / double(outHeight)) * kPi) + kHalfPi;
    // Side faces wider than tall hold only the upper half of the cube.
    if (latitude < 0.0 && fh < fw) return 0;
    const double dx = std::sin(longitude) * std::cos(latitude);
    const double dy = std::sin(latitude);
    const double dz = std::cos(longitude) * std::cos(latitude);
    const double ax = std::fabs(dx), ay = std::fabs(dy), az = std::fabs(dz);
    double s = 0.0, t = 0.0, r = 0.0;
    bool cap = false;
    if (ay >= ax && ay >= az && dy < 0.0) {
        if (!sizes.loaded[5]) return 0;
        face = 5;
        s = (dx / ay + 1.0) / 2.0;
        t = (-(dz / ay) + 1.0) / 2.0;
        cap = true;
    } else if (ay >= ax && ay >= az) {
        face = 4;
        s = (dx / dy + 1.0) / 2.0;
        t = (dz / dy + 1.0) / 2.0;
        cap = true;
    } else if (ax <= az) {
        face = dz > 0.0 ? 0 : 2;
        s = ((dz > 0.0 ? dx : -dx) / az + 1.0) / 2.0;
        r = dy / az;
    } else {
        face = dx > 0.0 ? 1 : 3;
        s = ((dx > 0.0 ? -dz : dz) / ax + 1.0) / 2.0;
        r = dy / ax;
    }
    const int64_t width = sizes.width[face], height = sizes.height[face];
    if (cap) {
        u = int64_t(s * double(width));
        v = int64_t(t * double(height));
    } else {
        u = int64_t(s * double(fw));
        v = fh >= fw ? int64_t(((-r + 1.0) / 2.0) * double(fh)) : int64_t((-r + 1.0) * double(fh));
    }
    u = Clamp(u, width);
    v = Clamp(v, height);
    return 1;
}

// Where a build reads a face: its top row and the bytes from one row to
// the next (negative for an image, whose rows are stored bottom-up), so the
// build loop reads the face's own pixels at the cost of a table read; null
// `top` for a face the build leaves out.
struct FaceView {
    int64_t width = 0, height = 0;
    const uint8_t* top = nullptr;  // 8-bit: B, G, R, A bytes; HDR: R, G, B, E
    ptrdiff_t rowStep = 0;
};
using FaceViews = std::array<FaceView, 6>;

int64_t MapLayoutPixel(const FaceSizes& sizes, int64_t layout, int64_t x, int64_t y, int64_t outWidth,
                       int64_t outHeight, int64_t& face, int64_t& u, int64_t& v) {
    const int64_t fw = sizes.width[0], fh = sizes.height[0];
    // Without face N no layout has a size to address faces with.
    if (fw <= 0 || fh <= 0 || x < 0 || y < 0 || outWidth <= 0 || outHeight <= 0) return 0;
    switch (layout) {
        case 0:
            return MapStrip(x, y, fw, face, u, v);
        case 1: {
            const int64_t upHeight = sizes.height[4];
            if (y < upHeight) {
                if (x < fw || x >= 2 * fw) return 0;
                face = 4;
                u = (x - fw) * sizes.width[4] / fw;
                v = y;
                return 1;
            }
            const int64_t band = y - upHeight;
            if (band >= fh) {
                if (x < fw || x >= 2 * fw || !sizes.loaded[5]) return 0;
                face = 5;
                u = (x - fw) * sizes.width[5] / fw;
                v = band - fh;
                return 1;
            }
            return MapStrip(x, band, fw, face, u, v);
        }
        case 2:
            return MapPanorama(sizes, x, y, outWidth, outHeight, fw, fh, face, u, v);
        default:
            return 0;
    }
}

// The 4 bytes pixel (x, y) shows; null when it shows no face.
const uint8_t* LookUp(const FaceSizes& sizes, const FaceViews& faces, int64_t layout, int64_t x, int64_t y,
                      int64_t outWidth, int64_t outHeight) {
    int64_t face = 0, u = 0, v = 0;
    if (!MapLayoutPixel(sizes, layout, x, y, outWidth, outHeight, face, u, v)) return nullptr;
    const FaceView& source = faces[size_t(face)];
    if (!source.top) return nullptr;
    // A face of another size than N is read inside its own pixels.
    u = Clamp(u, source.width);
    v = Clamp(v, source.height);
    return source.top + v * source.rowStep + u * 4;
}

// Progress is shown every 64 rows, on the calling thread; the rows between
// two reports are split over the cores. `fill` (4 bytes in memory order)
// goes where the panorama shows no face.
template <typename WriteRow>
void BuildRows(const FaceSizes& sizes, const FaceViews& faces, uint32_t fill, int64_t layout, int64_t width,
               int64_t height, const std::string& title, const SkyboxProgress& progress, WriteRow&& rowStart) {
    constexpr int64_t kRowsPerReport = 64;
    // A panorama pixel costs a few sines and cosines, a strip or cross pixel
    // about a copy.
    const int64_t grain = GrainForRows(layout == 2 ? width * 16 : width);
    for (int64_t y0 = 0; y0 < height; y0 += kRowsPerReport) {
        ShowSkyboxProgress(progress, title + std::to_string(y0 * 100 / height) + "%", y0, height);
        const int64_t rows = std::min(kRowsPerReport, height - y0);
        ParallelForBands(rows, grain, [&](int64_t first, int64_t end) {
            for (int64_t y = y0 + first; y < y0 + end; ++y) {
                uint32_t* out = rowStart(y);
                for (int64_t x = 0; x < width; ++x) {
                    const uint8_t* pixel = LookUp(sizes, faces, layout, x, y, width, height);
                    if (pixel) {
                        std::memcpy(out + x, pixel, 4);
                    } else if (layout == 2) {
                        out[x] = fill;
                    }
                }
            }
        });
    }
}

void LayoutSize(const FaceSizes& sizes, int64_t layout, int64_t& width, int64_t& height) {
    const int64_t fw = sizes.width[0], fh = sizes.height[0];
    switch (layout) {
        case 0: width = 4 * fw; height = fh; break;
        case 1: width = 4 * fw; height = sizes.height[4] + fh + sizes.height[5]; break;
        case 2: width = 4 * fw; height = 2 * fw; break;
        default: break;
    }
}

// The 8-bit picture of a layout of faces of `sizes`, read from `faces`
// (null: left out); a 24-bit face is read from a 32-bit copy. Null when the
// picture cannot be made.
ImagePtr BuildLayoutImage(int64_t layout, const FaceSizes& sizes, const std::array<const Image*, 6>& faces,
                          uint32_t fillColour, const SkyboxProgress& progress) {
    int64_t width = 0, height = 0;
    LayoutSize(sizes, layout, width, height);
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    std::array<ImagePtr, 6> copies;
    FaceViews views;
    for (size_t f = 0; f < 6; ++f) {
        const Image* image = faces[f];
        if (!image) continue;
        if (image->depth != 32) {
            copies[f] = ConvertTo32Bit(DuplicateImage(*image));
            if (!copies[f]) return nullptr;
            image = copies[f].get();
        }
        views[f] = {image->width, image->height, image->RowFromTop(0), -ptrdiff_t(image->pitch)};
    }
    const uint8_t fillBytes[4] = {uint8_t(ColourBlue(fillColour)), uint8_t(ColourGreen(fillColour)),
                                  uint8_t(ColourRed(fillColour)), uint8_t(ColourAlpha(fillColour))};
    uint32_t fill = 0;
    std::memcpy(&fill, fillBytes, 4);

    ImagePtr out = CreateImage(int(width), int(height), 32, 0x00FFFFFFu);
    if (!out) return nullptr;
    Image& target = *out;
    BuildRows(sizes, views, fill, layout, width, height, std::string("Building ") + kLayoutNames[layout] + "... ",
              progress, [&](int64_t y) { return reinterpret_cast<uint32_t*>(target.RowFromTop(int(y))); });
    return out;
}

// The face pictures of the table, null for a face not loaded.
std::array<const Image*, 6> TableFaceImages() {
    std::array<const Image*, 6> images{};
    for (size_t f = 0; f < 6; ++f)
        if (gSkyFaces[f].loaded) images[f] = gSkyFaces[f].image.get();
    return images;
}

}  // namespace

void GetSkyboxLayoutSize(int64_t layout, int64_t& width, int64_t& height) {
    LayoutSize(CurrentFaceSizes(), layout, width, height);
}

int64_t MapLayoutPixelToFace(int64_t layout, int64_t x, int64_t y, int64_t outWidth, int64_t outHeight, int64_t& face,
                             int64_t& u, int64_t& v) {
    return MapLayoutPixel(CurrentFaceSizes(), layout, x, y, outWidth, outHeight, face, u, v);
}

ImagePtr BuildSkyboxImage(int64_t layout, const SkyboxProgress& progress) {
    if (layout < 0 || layout > 2) return nullptr;
    return BuildLayoutImage(layout, CurrentFaceSizes(), TableFaceImages(), AverageSideFacesBottomColor(), progress);
}

ImagePtr BuildSkyboxPreview(int width, int height, const SkyboxProgress& progress) {
    if (width < 1 || height < 1) return nullptr;
    if (ImagePtr cross = BuildSkyboxImage(1, progress))
        if (ImagePtr scaled = ResizeImage(*cross, width, height, ResizeMode::Smooth)) return scaled;
    // No room for the whole cross (or for resizing it): the same cross from
    // faces halved as often as it takes, resized the same way. Each halving
    // takes a quarter of the room and keeps the picture smooth.
    std::array<const Image*, 6> faces = TableFaceImages();
    std::array<ImagePtr, 6> halved;
    for (;;) {
        bool shrunk = false;
        for (size_t f = 0; f < 6; ++f) {
            if (!faces[f]) continue;
            ImagePtr next = HalveImage(*faces[f], true, true);
            if (!next) return nullptr;
            shrunk = shrunk || next->width < faces[f]->width || next->height < faces[f]->height;
            halved[f] = std::move(next);
            faces[f] = halved[f].get();
        }
        if (!shrunk) return nullptr;
        FaceSizes sizes;
        for (size_t f = 0; f < 6; ++f) {
            sizes.loaded[f] = faces[f] != nullptr;
            sizes.width[f] = faces[f] ? faces[f]->width : 0;
            sizes.height[f] = faces[f] ? faces[f]->height : 0;
        }
        if (ImagePtr cross = BuildLayoutImage(1, sizes, faces, 0, progress))
            if (ImagePtr scaled = ResizeImage(*cross, width, height, ResizeMode::Smooth)) return scaled;
    }
}

HdrBlockPtr BuildHdrSkyboxImage(int64_t layout, int64_t& width, int64_t& height, const SkyboxProgress& progress) {
    if (layout < 0 || layout > 2) return nullptr;
    int64_t w = 0, h = 0;
    GetSkyboxLayoutSize(layout, w, h);
    if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide) return nullptr;
    const uint32_t fill = AverageSideFacesBottomHdr();

    FaceViews views;
    for (size_t f = 0; f < 6; ++f) {
        const SkyFace& face = gSkyFaces[f];
        const size_t count = size_t(face.width) * size_t(face.height);
        // An 8-bit face has no RGBE pixels to read; it counts as missing.
        if (!face.loaded || !face.hdrData || count == 0 || face.hdrData->bytes.size() < count * 4) continue;
        views[f] = {face.width, face.height, face.hdrData->bytes.data(), ptrdiff_t(face.width) * 4};
    }
    HdrBlockPtr block = NewHdrBlock(int(w), int(h));
    if (!block) return nullptr;
    uint8_t* bytes = block->bytes.data();
    BuildRows(CurrentFaceSizes(), views, fill, layout, w, h,
              std::string("Building HDR ") + kLayoutNames[layout] + "... ", progress,
              [&](int64_t y) { return reinterpret_cast<uint32_t*>(bytes + size_t(y) * size_t(w) * 4); });
    width = w;
    height = h;
    return block;
}
