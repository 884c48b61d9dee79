// TIFF through libtiff's RGBA interface, read straight from memory: whatever
// libtiff can turn into RGBA (any compression, strips or tiles, palettes,
// grey, 16-bit, CMYK). Only the first picture of the file is read. libtiff's
// messages go into our error text, never to stderr.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"

namespace {

struct TiffSource {
    const uint8_t* data;
    uint64_t size;
    uint64_t pos;
    char error[256];
    char warning[256];
};

tmsize_t TiffRead(thandle_t handle, void* out, tmsize_t length) {
    auto* src = static_cast<TiffSource*>(handle);
    if (length <= 0 || src->pos >= src->size) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(length), src->size - src->pos);
    std::memcpy(out, src->data + src->pos, size_t(n));
    src->pos += n;
    return tmsize_t(n);
}

tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* src = static_cast<TiffSource*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = src->pos;
    else if (whence == SEEK_END) base = src->size;
    else if (whence != SEEK_SET) return toff_t(-1);
    // Offsets come from the file; a seek beyond the end is allowed (reads
    // then return nothing) but must not wrap around.
    if (offset > UINT64_MAX - base) return toff_t(-1);
    src->pos = base + offset;
    return src->pos;
}

int TiffClose(thandle_t) { return 0; }

toff_t TiffSize(thandle_t handle) { return static_cast<TiffSource*>(handle)->size; }

int TiffMap(thandle_t handle, void** base, toff_t* size) {
    auto* src = static_cast<TiffSource*>(handle);
    *base = const_cast<uint8_t*>(src->data);
    *size = src->size;
    return 1;
}

void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffErrorHandler(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* src = static_cast<TiffSource*>(user);
    if (src && src->error[0] == 0) std::vsnprintf(src->error, sizeof(src->error), format, args);
    return 1;  // handled: libtiff must not print it
}

int TiffWarningHandler(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* src = static_cast<TiffSource*>(user);
    if (src) std::vsnprintf(src->warning, sizeof(src->warning), format, args);
    return 1;
}

void SilenceGlobalTiffHandlers() {
    // A few libtiff paths report through the process-wide handlers, which
    // print to stderr by default.
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffHandle {
    TIFF* tif = nullptr;
    TIFFOpenOptions* options = nullptr;
    uint32_t* raster = nullptr;
    TiffHandle() = default;
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    ~TiffHandle() {
        if (tif) TIFFClose(tif);
        if (options) TIFFOpenOptionsFree(options);
        delete[] raster;
    }
};

// A header can claim a picture far larger than its file could hold; for the
// common compressions whose best ratio is known, such a file is refused
// before the picture (and libtiff's buffers) are allocated. The allowance
// is in decoded bytes, for small pictures in large tiles and the like: an
// allowance in file bytes, multiplied by the ratio, let a file of 200 bytes
// claim hundreds of megabytes.
bool PlausibleForFileSize(TIFF* tif, uint64_t fileSize) {
    constexpr uint64_t kAllowance = uint64_t(4) << 20;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    uint64_t ratio = 0;
    switch (compression) {
        case COMPRESSION_NONE: ratio = 1; break;
        case COMPRESSION_PACKBITS: ratio = 64; break;
        case COMPRESSION_LZW: ratio = 1400; break;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: ratio = kDeflateBestRatio; break;
        // Every 8 x 8 block costs at least one bit: 512 pixels a byte, times
        // up to 8 decoded bytes a pixel (four 12-bit samples).
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG: ratio = 4096; break;
        default: return true;  // fax and the rest: no useful bound
    }
    const uint64_t decoded = TIFFIsTiled(tif) ? uint64_t(TIFFTileSize64(tif)) * TIFFNumberOfTiles(tif)
                                              : uint64_t(TIFFStripSize64(tif)) * TIFFNumberOfStrips(tif);
    if (decoded == 0) return false;
    return decoded <= kAllowance || ClaimFitsBytes(decoded - kAllowance, fileSize, ratio);
}

ImagePtr TiffFailure(std::string* error, const TiffSource& src, const char* fallback) {
    if (!error) return nullptr;
    const char* detail = src.error[0] ? src.error : src.warning;
    *error = fallback;
    if (detail[0]) {
        if (!error->empty() && error->back() == '.') error->pop_back();
        *error += ": ";
        *error += detail;
        if (error->back() != '.') *error += '.';
    }
    return nullptr;
}

}  // namespace

ImagePtr DecodeTiffData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth) {
    if (error) error->clear();
    if (!IsTiffData(data, size)) return CodecFailure(error, "The file is not a TIFF image.");
    SilenceGlobalTiffHandlers();
    TiffSource src{data, size, 0, {}, {}};
    TiffHandle h;
    h.options = TIFFOpenOptionsAlloc();
    if (!h.options) return CodecFailure(error, "Not enough memory to read the TIFF file.");
    TIFFOpenOptionsSetErrorHandlerExtR(h.options, TiffErrorHandler, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(h.options, TiffWarningHandler, &src);
    h.tif = TIFFClientOpenExt("memory", "r", &src, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                              TiffUnmap, h.options);
    if (!h.tif) return TiffFailure(error, src, "The TIFF file is damaged.");

    uint32_t width = 0, height = 0;
    if (!TIFFGetField(h.tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(h.tif, TIFFTAG_IMAGELENGTH, &height) ||
        width < 1 || height < 1)
        return TiffFailure(error, src, "The TIFF file is damaged.");
    if (width > uint32_t(kMaxImageSide) || height > uint32_t(kMaxImageSide))
        return CodecFailure(error, "The TIFF picture is too large.");
    if (!PlausibleForFileSize(h.tif, size)) return CodecFailure(error, "The TIFF file is truncated.");
    char message[1024] = {};
    if (!TIFFRGBAImageOK(h.tif, message)) {
        if (error) *error = std::string("This kind of TIFF file is not supported: ") + message;
        return nullptr;
    }

    uint16_t extraCount = 0;
    const uint16_t* extraTypes = nullptr;
    const bool hasExtra = TIFFGetField(h.tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0;
    // libtiff hands out colour alpha premultiplied (it premultiplies
    // unassociated alpha itself); our pictures hold straight alpha, so it is
    // undone below. Grey pixels it passes through as stored, so only grey
    // with associated alpha needs undoing.
    uint16_t photometric = PHOTOMETRIC_RGB;
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool premultiplied = hasExtra && extraTypes &&
                               (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA ||
                                (extraTypes[0] == EXTRASAMPLE_UNASSALPHA && !grey));

    // A 32-bit picture's rows (width * 4 bytes each: 4-byte pixels need no
    // padding) stored bottom-up are libtiff's bottom-left raster: it is
    // decoded in place and turned into our byte order row by row. A 24-bit
    // picture is made from a raster of its own.
    ImagePtr image = CreateDecodedImage(int(width), int(height), hasExtra || sourceDepth ? 32 : 24);
    if (!image) return CodecFailure(error, "Not enough memory to read the TIFF file.");
    const bool inPlace = image->depth == 32;
    uint32_t* raster = reinterpret_cast<uint32_t*>(image->FirstStoredRow());
    if (!inPlace) {
        h.raster = new (std::nothrow) uint32_t[size_t(width) * size_t(height)];
        if (!h.raster) return CodecFailure(error, "Not enough memory to read the TIFF file.");
        raster = h.raster;
    }
    if (!TIFFReadRGBAImageOriented(h.tif, width, height, raster, inPlace ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT,
                                   1))
        return TiffFailure(error, src, "The TIFF file is damaged.");

    if (!inPlace) {
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t* in = h.raster + size_t(y) * width;
            uint8_t* out = image->RowFromTop(int(y));
            for (uint32_t x = 0; x < width; ++x, out += 3) {
                out[0] = uint8_t(TIFFGetB(in[x]));
                out[1] = uint8_t(TIFFGetG(in[x]));
                out[2] = uint8_t(TIFFGetR(in[x]));
            }
        }
        return image;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* out = image->FirstStoredRow() + size_t(y) * size_t(image->pitch);
        for (uint32_t x = 0; x < width; ++x, out += 4) {
            uint32_t packed;
            std::memcpy(&packed, out, 4);
            uint32_t b = TIFFGetB(packed), g = TIFFGetG(packed), r = TIFFGetR(packed);
            const uint32_t a = hasExtra ? TIFFGetA(packed) : 255;
            if (premultiplied && a < 255) {
                if (a == 0) {
                    b = g = r = 0;
                } else {
                    b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
                    g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
                    r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
                }
            }
            out[0] = uint8_t(b);
            out[1] = uint8_t(g);
            out[2] = uint8_t(r);
            out[3] = uint8_t(a);
        }
    }
    if (sourceDepth) *sourceDepth = hasExtra ? 32 : 24;
    return image;
}
