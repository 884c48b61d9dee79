// PNG through libpng: every colour type and bit depth (16-bit samples keep
// their high byte), palettes with tRNS, interlacing; writing 24- or 32-bit.
//
// libpng reports errors by longjmp. Every setjmp lives in a small function
// whose locals are plain data, and the library structs and our buffers are
// owned by the caller, so a jump never skips a destructor and nothing leaks.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

constexpr const char* kDamaged = "The PNG file is damaged.";

struct PngMessage {
    char text[200] = {};
};

void PngErrorFn(png_structp png, png_const_charp message) {
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    if (out && message) std::snprintf(out->text, sizeof(out->text), "%s", message);
    png_longjmp(png, 1);
}

void PngWarningFn(png_structp, png_const_charp) {}

// ---- reading ---------------------------------------------------------------

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void PngReadFn(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > src->size - src->pos) png_error(png, "The PNG file is truncated.");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource source{};
    PngMessage message;
    PngReader() = default;
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int interlace;
    bool alpha;
    uint64_t rawBytes;  // decompressed size of the image data, for the plausibility check
};

// Reads the header and sets the transforms that give 8-bit B, G, R[, A].
bool ReadPngHeader(PngReader* r, PngHeader* h) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_set_read_fn(r->png, &r->source, PngReadFn);
    png_set_user_limits(r->png, kMaxImageSide, kMaxImageSide);
    png_read_info(r->png, r->info);
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(r->png, r->info, &h->width, &h->height, &bitDepth, &colourType, &h->interlace, nullptr, nullptr);
    const int channels = png_get_channels(r->png, r->info);
    h->rawBytes = uint64_t(h->height) * (1 + (uint64_t(h->width) * uint64_t(channels) * uint64_t(bitDepth) + 7) / 8);
    h->alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(r->png, r->info, PNG_INFO_tRNS);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r->png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(r->png);
    if (png_get_valid(r->png, r->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r->png);
    if (bitDepth == 16) png_set_strip_16(r->png);
    if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(r->png);
    png_set_bgr(r->png);
    if (h->interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    return png_get_rowbytes(r->png, r->info) == size_t(h->width) * (h->alpha ? 4 : 3);
}

bool ReadPngRows(PngReader* r, png_bytepp rows) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_read_image(r->png, rows);
    png_read_end(r->png, nullptr);
    return true;
}

// ---- writing ---------------------------------------------------------------

// Output grows by malloc/realloc: a C++ container could throw through libpng.
struct PngSink {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    ~PngSink() { std::free(data); }
};

void PngWriteFn(png_structp png, png_bytep in, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (length > sink->capacity - sink->size) {
        size_t wanted = std::max<size_t>(sink->capacity * 2, 65536);
        while (wanted - sink->size < length) wanted *= 2;
        void* grown = std::realloc(sink->data, wanted);
        if (!grown) png_error(png, "Not enough memory for the PNG file.");
        sink->data = static_cast<uint8_t*>(grown);
        sink->capacity = wanted;
    }
    std::memcpy(sink->data + sink->size, in, length);
    sink->size += length;
}

void PngFlushFn(png_structp) {}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSink sink;
    PngMessage message;
    PngWriter() = default;
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

bool WritePng(PngWriter* w, const Image* image, bool alpha, uint8_t* rowBuffer) {
    if (setjmp(png_jmpbuf(w->png))) return false;
    png_set_write_fn(w->png, &w->sink, PngWriteFn, PngFlushFn);
    png_set_IHDR(w->png, w->info, png_uint_32(image->width), png_uint_32(image->height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Level 3 saves a 4096 x 4096 photo about three times faster than zlib's
    // default 6 for files about 4% larger; big textures are saved often.
    png_set_compression_level(w->png, 3);
    png_write_info(w->png, w->info);
    png_set_bgr(w->png);
    for (int y = 0; y < image->height; ++y) {
        CopyRowForEncoding(*image, y, alpha, rowBuffer);
        png_write_row(w->png, rowBuffer);
    }
    png_write_end(w->png, nullptr);
    return true;
}

}  // namespace

ImagePtr DecodePngData(const uint8_t* data, size_t size, std::string* error) {
    if (error) error->clear();
    if (!IsPngData(data, size)) return CodecFailure(error, "The file is not a PNG image.");
    PngReader r;
    r.source = {data, size, 0};
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.message, PngErrorFn, PngWarningFn);
    if (r.png) r.info = png_create_info_struct(r.png);
    if (!r.png || !r.info) return CodecFailure(error, "Not enough memory to read the PNG file.");

    PngHeader h{};
    if (!ReadPngHeader(&r, &h)) {
        if (std::strstr(r.message.text, "truncated")) return CodecFailure(error, "The PNG file is truncated.");
        if (std::strstr(r.message.text, "user limit")) return CodecFailure(error, "The PNG picture is too large.");
        return CodecFailure(error, kDamaged);
    }
    if (h.width < 1 || h.height < 1 || h.width > png_uint_32(kMaxImageSide) || h.height > png_uint_32(kMaxImageSide))
        return CodecFailure(error, "The PNG picture is too large.");
    // A file far too small for its claimed size, even at deflate's best, is
    // refused before the picture is allocated.
    if (!ClaimFitsBytes(h.rawBytes, size, kDeflateBestRatio)) return CodecFailure(error, "The PNG file is truncated.");

    ImagePtr image = CreateImage(int(h.width), int(h.height), h.alpha ? 32 : 24);
    png_bytepp rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * h.height));
    if (!image || !rows) {
        std::free(rows);
        return CodecFailure(error, "Not enough memory to read the PNG file.");
    }
    for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = image->RowFromTop(int(y));
    const bool ok = ReadPngRows(&r, rows);
    std::free(rows);
    if (!ok) {
        if (std::strstr(r.message.text, "truncated")) return CodecFailure(error, "The PNG file is truncated.");
        return CodecFailure(error, kDamaged);
    }
    return image;
}

bool EncodePngMemory(const Image& image, int bits, std::vector<uint8_t>& out) {
    out.clear();
    if ((bits != 24 && bits != 32) || !image.pixels || image.width < 1 || image.height < 1) return false;
    const bool alpha = bits == 32;
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w.message, PngErrorFn, PngWarningFn);
    if (w.png) w.info = png_create_info_struct(w.png);
    if (!w.png || !w.info) return false;
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[size_t(image.width) * 4]);
    if (!row || !WritePng(&w, &image, alpha, row.get())) return false;
    try {
        out.assign(w.sink.data, w.sink.data + w.sink.size);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

bool EncodePngFile(const Image& image, const std::string& path, int bits) {
    std::vector<uint8_t> bytes;
    return EncodePngMemory(image, bits, bytes) && WriteWholeFile(path, bytes.data(), bytes.size());
}
