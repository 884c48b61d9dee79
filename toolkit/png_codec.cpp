// PNG through libpng: every colour type and bit depth (16-bit samples keep
// their high byte), palettes with tRNS, interlacing; writing 24- or 32-bit.
//
// libpng reports errors by longjmp. Every setjmp lives in a small function
// whose locals are plain data, and the library structs and our buffers are
// owned by the caller, so a jump never skips a destructor and nothing leaks.
#include <png.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// Where the decoder's bytes come from: a file already in memory, or an open
// file read ahead in large pieces as the decoder asks (libpng asks a few
// kilobytes at a time), so a big file is never held whole beside its picture.
struct PngSource {
    const uint8_t* data = nullptr;  // the whole file, or null when reading fd
    int fd = -1;
    uint64_t size = 0;  // of the file, for the plausibility check
    uint64_t pos = 0;   // next byte of `data` the decoder gets
    uint8_t* ahead = nullptr;  // read-ahead buffer of fd
    size_t aheadSize = 0;
    size_t aheadPos = 0;
    size_t aheadFill = 0;
};

constexpr const char* kTruncated = "The PNG file is truncated.";
constexpr const char* kUnreadable = "The PNG file cannot be read.";
constexpr size_t kReadAheadBytes = size_t(1) << 20;

void PngReadFn(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (src->data) {
        if (length > src->size - src->pos) png_error(png, kTruncated);
        std::memcpy(out, src->data + src->pos, length);
        src->pos += length;
        return;
    }
    while (length > 0) {
        if (src->aheadPos == src->aheadFill) {
            const ssize_t n = read(src->fd, src->ahead, src->aheadSize);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) png_error(png, kUnreadable);
            if (n == 0) png_error(png, kTruncated);
            src->aheadPos = 0;
            src->aheadFill = size_t(n);
        }
        const size_t take = std::min(length, src->aheadFill - src->aheadPos);
        std::memcpy(out, src->ahead + src->aheadPos, take);
        src->aheadPos += take;
        out += take;
        length -= take;
    }
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

// Reads the header and sets the transforms that give 8-bit B, G, R[, A];
// with opaque32, a source without alpha gets alpha 255 as a fourth byte.
bool ReadPngHeader(PngReader* r, PngHeader* h, bool opaque32) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_set_read_fn(r->png, &r->source, PngReadFn);
    png_set_user_limits(r->png, kMaxImageSide, kMaxImageSide);
    // The decoder takes the compressed data in larger pieces: fewer calls
    // into zlib for a big picture.
    png_set_compression_buffer_size(r->png, 65536);
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
    if (opaque32 && !h->alpha) png_set_filler(r->png, 0xFF, PNG_FILLER_AFTER);
    if (h->interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    return png_get_rowbytes(r->png, r->info) == size_t(h->width) * (h->alpha || opaque32 ? 4 : 3);
}

bool ReadPngRows(PngReader* r, png_bytepp rows) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_read_image(r->png, rows);
    png_read_end(r->png, nullptr);
    return true;
}

ImagePtr PngFailure(const PngReader& r, std::string* error, const char* otherwise) {
    if (std::strstr(r.message.text, "truncated")) return CodecFailure(error, kTruncated);
    if (std::strstr(r.message.text, kUnreadable)) return CodecFailure(error, kUnreadable);
    return CodecFailure(error, otherwise);
}

// Decodes from the source set in r. Every pixel is written by the decoder
// (each interlace pass fills its own).
ImagePtr DecodePng(PngReader& r, std::string* error, int* sourceDepth) {
    if (error) error->clear();
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.message, PngErrorFn, PngWarningFn);
    if (r.png) r.info = png_create_info_struct(r.png);
    if (!r.png || !r.info) return CodecFailure(error, "Not enough memory to read the PNG file.");

    const bool opaque32 = sourceDepth != nullptr;
    PngHeader h{};
    if (!ReadPngHeader(&r, &h, opaque32)) {
        if (std::strstr(r.message.text, "user limit")) return CodecFailure(error, "The PNG picture is too large.");
        return PngFailure(r, error, kDamaged);
    }
    if (h.width < 1 || h.height < 1 || h.width > png_uint_32(kMaxImageSide) || h.height > png_uint_32(kMaxImageSide))
        return CodecFailure(error, "The PNG picture is too large.");
    // A file far too small for its claimed size, even at deflate's best, is
    // refused before the picture is allocated.
    if (!ClaimFitsBytes(h.rawBytes, r.source.size, kDeflateBestRatio)) return CodecFailure(error, kTruncated);

    ImagePtr image = CreateDecodedImage(int(h.width), int(h.height), h.alpha || opaque32 ? 32 : 24);
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[h.height]);
    if (!image || !rows) return CodecFailure(error, "Not enough memory to read the PNG file.");
    for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = image->RowFromTop(int(y));
    if (!ReadPngRows(&r, rows.get())) return PngFailure(r, error, kDamaged);
    if (sourceDepth) *sourceDepth = h.alpha ? 32 : 24;
    return image;
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

ImagePtr DecodePngData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth) {
    if (!IsPngData(data, size)) {
        if (error) error->clear();
        return CodecFailure(error, "The file is not a PNG image.");
    }
    PngReader r;
    r.source.data = data;
    r.source.size = size;
    return DecodePng(r, error, sourceDepth);
}

ImagePtr DecodePngFile(const ReadOnlyFile& file, std::string* error, int* sourceDepth) {
    struct stat st;
    if (!file.Ok() || fstat(file.Descriptor(), &st) != 0 || lseek(file.Descriptor(), 0, SEEK_SET) != 0)
        return CodecFailure(error, kUnreadable);
    std::unique_ptr<uint8_t[]> ahead(new (std::nothrow) uint8_t[kReadAheadBytes]);
    if (!ahead) return CodecFailure(error, "Not enough memory to read the PNG file.");
    PngReader r;
    r.source.fd = file.Descriptor();
    r.source.size = uint64_t(st.st_size);
    r.source.ahead = ahead.get();
    r.source.aheadSize = kReadAheadBytes;
    return DecodePng(r, error, sourceDepth);
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
