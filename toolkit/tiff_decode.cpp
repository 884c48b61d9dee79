// TIFF through libtiff's RGBA interface, read straight from memory: whatever
// libtiff can turn into RGBA (any compression, strips or tiles, palettes,
// grey, 16-bit, CMYK, CIE L*a*b*), shown the way the file's orientation says.
// Only the first picture of the file is read. libtiff's messages go into our
// error text, never to stderr.
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <type_traits>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"

namespace {

constexpr const char* kNoMemory = "Not enough memory to read the TIFF file.";

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
    TiffHandle() = default;
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    ~TiffHandle() {
        if (tif) TIFFClose(tif);
        if (options) TIFFOpenOptionsFree(options);
    }
};

// CIE L*a*b* to sRGB: L*a*b* relative to the file's white to XYZ, adapted to
// sRGB's D65 white by the Bradford transform, then to linear sRGB, clamped,
// and through sRGB's curve. The steps after XYZ make one matrix per file.
// (libtiff's own conversion leaves out the adaptation: white came out
// yellowish, colours up to 49 levels off.)
class LabToSrgb {
public:
    // The white as a chromaticity; false when it names no real white.
    bool SetWhite(double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y) || x <= 0 || y <= 0 || x + y >= 1) return false;
        const double white[3] = {x / y, 1, (1 - x - y) / y};
        static constexpr double kBradford[3][3] = {
            {0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}};
        static constexpr double kBradfordInverse[3][3] = {
            {0.9869929, -0.1470543, 0.1599627}, {0.4323053, 0.5183603, 0.0492912}, {-0.0085287, 0.0400428, 0.9684867}};
        static constexpr double kXyzToSrgb[3][3] = {{3.2404542, -1.5371385, -0.4985314},
                                                     {-0.9692660, 1.8760108, 0.0415560},
                                                     {0.0556434, -0.2040259, 1.0572252}};
        static constexpr double kD65[3] = {0.95047, 1, 1.08883};
        double cone[3][3];  // Bradford cone response, scaled from this white to D65's
        for (int i = 0; i < 3; ++i) {
            double from = 0, to = 0;
            for (int k = 0; k < 3; ++k) {
                from += kBradford[i][k] * white[k];
                to += kBradford[i][k] * kD65[k];
            }
            if (!(from > 0)) return false;
            for (int k = 0; k < 3; ++k) cone[i][k] = kBradford[i][k] * to / from;
        }
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double sum = 0;
                for (int k = 0; k < 3; ++k)
                    for (int l = 0; l < 3; ++l) sum += kXyzToSrgb[i][k] * kBradfordInverse[k][l] * cone[l][j];
                matrix_[i][j] = float(sum * white[j]);  // the white scales X, Y and Z
            }
        curve_ = SrgbCurve();
        return true;
    }

    // libtiff's packed form: red in the low byte, then green, blue, alpha 255.
    uint32_t ToPacked(float lightness, float a, float b) const {
        const float fy = (lightness + 16) / 116;
        const float f[3] = {fy + a / 500, fy, fy - b / 200};
        float ratio[3];
        for (int i = 0; i < 3; ++i)
            ratio[i] = f[i] > 6.0f / 29 ? f[i] * f[i] * f[i] : (f[i] - 4.0f / 29) * 108.0f / 841;
        uint32_t packed = 0xFF000000u;
        for (int i = 0; i < 3; ++i) {
            const float linear = matrix_[i][0] * ratio[0] + matrix_[i][1] * ratio[1] + matrix_[i][2] * ratio[2];
            const float index = std::clamp(linear, 0.0f, 1.0f) * kLinearSteps + 0.5f;
            packed |= uint32_t(curve_[size_t(index)]) << (8 * i);
        }
        return packed;
    }

private:
    // Fine enough that the dark end, where the curve is steepest, stays
    // within a twentieth of a level.
    static constexpr int kLinearSteps = 65535;
    static const uint8_t* SrgbCurve() {
        static const std::array<uint8_t, kLinearSteps + 1> curve = [] {
            std::array<uint8_t, kLinearSteps + 1> table{};
            for (int i = 0; i <= kLinearSteps; ++i) {
                const double v = double(i) / kLinearSteps;
                const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
                table[size_t(i)] = uint8_t(std::lround(encoded * 255));
            }
            return table;
        }();
        return curve.data();
    }

    float matrix_[3][3] = {};
    const uint8_t* curve_ = nullptr;
};

// libtiff's RGBA reader, ended whatever happens. libtiff hands its put
// routines only the reader's state, which comes first here, so the Lab put
// routine finds the converter beside it.
struct RgbaReader {
    TIFFRGBAImage img{};
    LabToSrgb lab;
    bool begun = false;
    RgbaReader() = default;
    RgbaReader(const RgbaReader&) = delete;
    RgbaReader& operator=(const RgbaReader&) = delete;
    ~RgbaReader() {
        if (begun) TIFFRGBAImageEnd(&img);
    }
};
static_assert(std::is_standard_layout_v<RgbaReader> && offsetof(RgbaReader, img) == 0);

// libtiff's put routine contract: w x h pixels of 3 samples each (8-bit L*
// over 0..255 and signed a*, b*; or 16-bit L* over 0..65535 and signed a*,
// b* in 256ths), `fromskew` pixels to skip after each source row, `toskew`
// raster entries after each written row.
template <typename Sample>
void PutLabPixels(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h, int32_t fromskew,
                  int32_t toskew, unsigned char* pp) {
    const LabToSrgb& lab = reinterpret_cast<const RgbaReader*>(img)->lab;
    using Signed = std::make_signed_t<Sample>;
    constexpr float kLightnessScale = 100.0f / float(std::numeric_limits<Sample>::max());
    constexpr float kAxisScale = sizeof(Sample) == 1 ? 1.0f : 1.0f / 256;
    for (; h > 0; --h) {
        for (uint32_t x = 0; x < w; ++x, pp += 3 * sizeof(Sample)) {
            Sample v[3];
            std::memcpy(v, pp, sizeof v);
            *cp++ = lab.ToPacked(float(v[0]) * kLightnessScale, float(Signed(v[1])) * kAxisScale,
                                 float(Signed(v[2])) * kAxisScale);
        }
        cp += toskew;
        pp += ptrdiff_t(fromskew) * 3 * ptrdiff_t(sizeof(Sample));
    }
}

// Puts libtiff's own Lab conversion aside for ours; false for Lab we cannot
// convert correctly.
bool UseOwnLabConversion(RgbaReader& reader, TIFF* tif) {
    float* white = nullptr;
    // A file that names no white is taken as D50, as the graphic arts do.
    if (!TIFFGetFieldDefaulted(tif, TIFFTAG_WHITEPOINT, &white) || !white || !reader.lab.SetWhite(white[0], white[1]))
        return false;
    if (!reader.img.isContig || reader.img.samplesperpixel != 3) return false;
    if (reader.img.bitspersample == 8) reader.img.put.contig = PutLabPixels<uint8_t>;
    else if (reader.img.bitspersample == 16) reader.img.put.contig = PutLabPixels<uint16_t>;
    else return false;
    return true;
}

// How libtiff's packed pixels become ours.
struct PixelRules {
    int bytes;           // 3 or 4 bytes a pixel in the picture
    bool keepAlpha;      // libtiff's alpha, else 255
    bool unpremultiply;  // libtiff premultiplied the colours by alpha
};

// One packed pixel to B, G, R(, A); `in` may be `out` itself.
inline void StorePixel(const uint8_t* in, uint8_t* out, const PixelRules& rules) {
    uint32_t packed;
    std::memcpy(&packed, in, 4);
    uint32_t b = TIFFGetB(packed), g = TIFFGetG(packed), r = TIFFGetR(packed);
    const uint32_t a = rules.keepAlpha ? TIFFGetA(packed) : 255;
    if (rules.unpremultiply && a < 255) {
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
    if (rules.bytes == 4) out[3] = uint8_t(a);
}

// About a megabyte of libtiff's pixels at a time.
constexpr uint64_t kBandPixels = uint64_t(1) << 18;

// Rows of the stored raster read at once: whole strips or tiles, so that
// libtiff decodes each once.
uint32_t BandRows(TIFF* tif, uint32_t width, uint32_t height) {
    uint32_t unit = 0;
    if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::clamp<uint32_t>(unit, 1, height);
    const uint64_t units = std::max<uint64_t>(1, kBandPixels / (uint64_t(width) * unit));
    return uint32_t(std::min<uint64_t>(height, units * unit));
}

// The stored raster in bands of `bandRows` rows, each put in its place in the
// picture as it arrives.
bool ReadInBands(RgbaReader& reader, Image& image, uint32_t* band, uint32_t bandRows, const PixelRules& rules) {
    const uint32_t width = reader.img.width, height = reader.img.height;
    reader.img.req_orientation = reader.img.orientation;  // libtiff then flips nothing
    const uint8_t* in = reinterpret_cast<const uint8_t*>(band);
    for (uint32_t first = 0; first < height; first += bandRows) {
        const uint32_t rows = std::min(bandRows, height - first);
        reader.img.row_offset = int(first);
        reader.img.col_offset = 0;
        if (!TIFFRGBAImageGet(&reader.img, band, width, rows)) return false;
        const int turn = reader.img.orientation;
        PlaceStoredRows(image, turn, int(first), int(rows), int(width), [&](uint8_t* out, int c, int r) {
            StorePixel(in + (size_t(r) * width + size_t(c)) * 4, out, rules);
        });
    }
    return true;
}

// libtiff decodes each strip or tile whole into a buffer of its own, for a
// picture stored as one strip a buffer as large as the picture: it is taken
// only when there is room for it beside what the decoder holds already.
bool RoomForLibraryBuffer(TIFF* tif) {
    const uint64_t bytes = TIFFIsTiled(tif) ? uint64_t(TIFFTileSize64(tif)) : uint64_t(TIFFStripSize64(tif));
    return bytes < kPictureMemoryCheckedFrom || HasRoomFor(bytes);
}

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
    if (!h.options) return CodecFailure(error, kNoMemory);
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
    RgbaReader reader;
    if (!TIFFRGBAImageBegin(&reader.img, h.tif, 1, message)) {
        if (error) *error = std::string("This kind of TIFF file is not supported: ") + message;
        return nullptr;
    }
    reader.begun = true;
    uint16_t photometric = PHOTOMETRIC_RGB;
    TIFFGetFieldDefaulted(h.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (photometric == PHOTOMETRIC_CIELAB && !UseOwnLabConversion(reader, h.tif))
        return CodecFailure(error, "This kind of TIFF file is not supported: its L*a*b* colours cannot be converted.");

    uint16_t extraCount = 0;
    const uint16_t* extraTypes = nullptr;
    const bool hasExtra = TIFFGetField(h.tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0;
    // libtiff hands out colour alpha premultiplied (it premultiplies
    // unassociated alpha itself); our pictures hold straight alpha, so it is
    // undone. Grey pixels it passes through as stored, so only grey with
    // associated alpha needs undoing.
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool premultiplied = hasExtra && extraTypes &&
                               (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA ||
                                (extraTypes[0] == EXTRASAMPLE_UNASSALPHA && !grey));

    // The picture has the shown size: the stored sides swapped for a raster
    // stored turned a quarter.
    const bool swapSides = OrientationSwapsSides(reader.img.orientation);
    const int depth = hasExtra || sourceDepth ? 32 : 24;
    ImagePtr image = CreateDecodedImage(int(swapSides ? height : width), int(swapSides ? width : height), depth);
    if (!image) return CodecFailure(error, kNoMemory);
    const PixelRules rules{depth / 8, hasExtra, premultiplied};
    if (depth == 32 && !swapSides) {
        if (!RoomForLibraryBuffer(h.tif)) return CodecFailure(error, kNoMemory);
        // 32-bit rows (width * 4 bytes each: no padding) stored bottom-up are
        // libtiff's bottom-left raster, which it flips into place itself; the
        // pixels are then turned into our byte order where they lie.
        reader.img.req_orientation = ORIENTATION_BOTLEFT;
        uint8_t* raster = image->FirstStoredRow();
        if (!TIFFRGBAImageGet(&reader.img, reinterpret_cast<uint32_t*>(raster), width, height))
            return TiffFailure(error, src, "The TIFF file is damaged.");
        const uint8_t* end = raster + image->ByteCount();
        for (; raster < end; raster += 4) StorePixel(raster, raster, rules);
    } else {
        const uint32_t bandRows = BandRows(h.tif, width, height);
        PictureArray<uint32_t> band = NewPictureArray<uint32_t>(size_t(width) * bandRows);
        if (!band || !RoomForLibraryBuffer(h.tif)) return CodecFailure(error, kNoMemory);
        if (!ReadInBands(reader, *image, band.get(), bandRows, rules))
            return TiffFailure(error, src, "The TIFF file is damaged.");
    }
    if (sourceDepth) *sourceDepth = hasExtra ? 32 : 24;
    return image;
}
