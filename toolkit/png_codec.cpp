// PNG: reading through libpng, every colour type and bit depth (16-bit
// samples keep their high byte), palettes with tRNS, interlacing, with the
// picture data inflated by ISA-L on the way in; writing 24- or 32-bit (8-bit
// RGB or RGBA, not interlaced) with our own writer on all cores.
//
// libpng reports errors by longjmp. Every setjmp lives in a small function
// whose locals are plain data, and the library structs and our buffers are
// owned by the caller, so a jump never skips a destructor and nothing leaks.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <png.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/parallel.h"
#include "toolkit/rows.h"
#include "toolkit/thread.h"

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
// file read ahead in large pieces as the decoder asks for a few kilobytes at
// a time, so a big file is never held whole beside its picture.
struct PngSource {
    const uint8_t* data = nullptr;  // the whole file, or null when reading fd
    int fd = -1;
    uint64_t size = 0;  // of the file, for the plausibility checks
    uint64_t pos = 0;   // bytes handed out so far: the next byte of `data`
    uint8_t* ahead = nullptr;  // read-ahead buffer of fd
    size_t aheadSize = 0;
    size_t aheadPos = 0;
    size_t aheadFill = 0;
};

constexpr const char* kTruncated = "The PNG file is truncated.";
constexpr const char* kUnreadable = "The PNG file cannot be read.";
constexpr size_t kReadAheadBytes = size_t(1) << 20;

// The next `length` bytes of the file; null, or a failure text when the
// file ends first or cannot be read.
const char* ReadSource(PngSource& src, uint8_t* out, size_t length) {
    if (src.data) {
        if (length > src.size - src.pos) return kTruncated;
        std::memcpy(out, src.data + src.pos, length);
        src.pos += length;
        return nullptr;
    }
    while (length > 0) {
        if (src.aheadPos == src.aheadFill) {
            const ssize_t n = read(src.fd, src.ahead, src.aheadSize);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return kUnreadable;
            if (n == 0) return kTruncated;
            src.aheadPos = 0;
            src.aheadFill = size_t(n);
        }
        const size_t take = std::min(length, src.aheadFill - src.aheadPos);
        std::memcpy(out, src.ahead + src.aheadPos, take);
        src.aheadPos += take;
        out += take;
        length -= take;
        src.pos += take;
    }
    return nullptr;
}

// What the file holds after the bytes handed out, by its size when opened.
uint64_t SourceLeft(const PngSource& src) {
    return src.size - std::min(src.pos, src.size);
}

uint32_t GetU32BE(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | uint32_t(at[3]);
}

void PutU32BE(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

// What libpng reads: the file with its picture data already inflated by
// ISA-L, several times faster than the zlib inflate libpng would run. The
// run of IDAT chunks becomes IDAT chunks of stored (uncompressed) deflate
// blocks, which libpng only copies; it still reads everything else, checks
// the chunks and does the filters, every pixel format and interlacing. Every
// other chunk passes through unchanged. The IDAT chunks' CRCs and the
// stream's checksum are checked here, as libpng would; the chunks made for
// libpng carry correct CRCs of their own, which it is told not to check
// again (see ReadPngHeader). A stream cut short or run on past its end
// reaches libpng as such, so it fails as before.
//
// With `ahead`, the bytes are made on a thread of their own up to kSlots
// pieces ahead of libpng, so inflating overlaps libpng's filtering. The
// bytes and the point where a failure is met are the same either way: the
// reader thread publishes pieces in order and the failure after the last.
class IdatInflater {
public:
    explicit IdatInflater(PngSource& source) : source_(source) {}
    IdatInflater(const IdatInflater&) = delete;
    IdatInflater& operator=(const IdatInflater&) = delete;
    ~IdatInflater() { StopAhead(); }

    bool Ready(bool ahead) {
        pieces_.reset(new (std::nothrow) uint8_t[kQueueBytes * (ahead ? kSlots : 1)]);
        packed_.reset(new (std::nothrow) uint8_t[kPackedBytes + kPadding]);
        state_.reset(new (std::nothrow) inflate_state);
        if (!pieces_ || !packed_ || !state_) return false;
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_ZLIB;  // checks the header and the checksum
        if (ahead) {
            try {
                worker_ = Thread([this, watch = CurrentMemoryRefusalWatch()] {
                    const RefusalsCountFor reader(watch);
                    ProduceAhead();
                });
            } catch (const std::exception&) {
                // No thread to be had: make the bytes as libpng asks.
            }
        }
        return true;
    }
    // The next `length` bytes for libpng; null, or why there are none.
    const char* Read(uint8_t* out, size_t length) {
        while (length > 0) {
            if (queuePos_ == queueFill_) {
                if (const char* failure = worker_.joinable() ? TakeNextPiece() : ProduceHere()) return failure;
            }
            const size_t take = std::min(length, queueFill_ - queuePos_);
            std::memcpy(out, piece_ + queuePos_, take);
            queuePos_ += take;
            out += take;
            length -= take;
        }
        return nullptr;
    }

private:
    static constexpr size_t kStoredMax = 65535;  // the most a stored block holds
    // A chunk made here: head, zlib header, stored block, final block,
    // checksum, CRC; passed-through bytes are queued in pieces of this size.
    static constexpr size_t kQueueBytes = 8 + 2 + 5 + kStoredMax + 5 + 4 + 4;
    static constexpr size_t kPackedBytes = size_t(256) << 10;
    static constexpr size_t kPadding = 64;  // ISA-L may load whole words near the end
    static constexpr size_t kSlots = 16;    // pieces made ahead: about 1 MiB
    static constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;  // lengths use 31 bits
    enum class Step { Signature, ChunkHead, PassThrough, Picture, After };

    const char* ProduceHere() {
        out_ = pieces_.get();
        piece_ = out_;
        queuePos_ = queueFill_ = produced_ = 0;
        const char* failure = Produce();
        queueFill_ = produced_;
        return failure;
    }

    // The reader thread: pieces into free slots, in order, until a failure
    // (the end of the file counts as one: libpng stops asking at its end)
    // or until told to stop.
    void ProduceAhead() {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slotFree_.wait(lock, [this] { return stop_ || made_ - taken_ < kSlots; });
                if (stop_) return;
            }
            out_ = pieces_.get() + (made_ % kSlots) * kQueueBytes;
            produced_ = 0;
            const char* failure = Produce();
            std::lock_guard<std::mutex> lock(mutex_);
            if (failure) {
                failure_ = failure;
                finished_ = true;
            } else {
                sizes_[made_ % kSlots] = produced_;
                ++made_;
            }
            pieceMade_.notify_one();
            if (finished_) return;
        }
    }

    // Hands the slot libpng has read back to the reader thread and waits
    // for the next piece.
    const char* TakeNextPiece() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding_) {
            ++taken_;
            holding_ = false;
            slotFree_.notify_one();
        }
        pieceMade_.wait(lock, [this] { return made_ > taken_ || finished_; });
        if (made_ == taken_) return failure_;
        holding_ = true;
        piece_ = pieces_.get() + (taken_ % kSlots) * kQueueBytes;
        queuePos_ = 0;
        queueFill_ = sizes_[taken_ % kSlots];
        return nullptr;
    }

    void StopAhead() {
        if (!worker_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        slotFree_.notify_one();
        worker_.join();
    }

    const char* Produce() {
        uint8_t* q = out_;
        switch (step_) {
            case Step::Signature:
                step_ = Step::ChunkHead;
                produced_ = 8;
                return ReadSource(source_, q, 8);
            case Step::ChunkHead: {
                if (haveHead_) {
                    std::memcpy(q, head_, 8);
                    haveHead_ = false;
                } else if (const char* failure = ReadSource(source_, q, 8)) {
                    return failure;
                }
                if (!pictureSeen_ && std::memcmp(q + 4, "IDAT", 4) == 0) {
                    pictureSeen_ = true;
                    if (const char* failure = StartIdat(q)) return failure;
                    step_ = Step::Picture;
                    return ProducePicture();
                }
                // libpng allocates and clears a chunk's whole claimed length
                // before it reads the data, and past its own limit only
                // warns: a claim the rest of the file cannot hold would cost
                // gigabytes before the file is found short, so it fails here.
                const uint32_t length = GetU32BE(q);
                if (length > kMaxChunkLength) return kDamaged;
                if (uint64_t(length) + 4 > SourceLeft(source_)) return kTruncated;
                produced_ = 8;
                passLeft_ = uint64_t(length) + 4;  // data and CRC
                step_ = Step::PassThrough;
                return nullptr;
            }
            case Step::PassThrough: {
                const size_t take = size_t(std::min<uint64_t>(passLeft_, kQueueBytes));
                passLeft_ -= take;
                if (passLeft_ == 0) step_ = Step::ChunkHead;
                produced_ = take;
                return ReadSource(source_, q, take);
            }
            case Step::Picture:
                return ProducePicture();
            case Step::After:
                step_ = Step::ChunkHead;
                return Produce();
        }
        return kDamaged;
    }

    const char* StartIdat(const uint8_t* head) {
        idatLeft_ = GetU32BE(head);
        idatCrc_ = crc32_gzip_refl(0, head + 4, 4);
        return idatLeft_ > kMaxChunkLength ? kDamaged : nullptr;
    }

    // Ends the current IDAT chunk (its CRC checked) and reads the next
    // chunk's head: another IDAT continues the run, anything else ends it
    // and is kept for the next step.
    const char* NextIdat() {
        uint8_t crc[4];
        if (const char* failure = ReadSource(source_, crc, 4)) return failure;
        if (GetU32BE(crc) != idatCrc_) return kDamaged;
        if (const char* failure = ReadSource(source_, head_, 8)) return failure;
        if (std::memcmp(head_ + 4, "IDAT", 4) == 0) return StartIdat(head_);
        haveHead_ = true;
        runOver_ = true;
        return nullptr;
    }

    // Gives the inflater the run's next compressed bytes, if any are left
    // (runOver_ once none are).
    const char* Refill() {
        while (!runOver_) {
            if (idatLeft_ == 0) {
                if (const char* failure = NextIdat()) return failure;
                continue;
            }
            const size_t take = std::min<size_t>(idatLeft_, kPackedBytes);
            if (const char* failure = ReadSource(source_, packed_.get(), take)) return failure;
            idatCrc_ = crc32_gzip_refl(idatCrc_, packed_.get(), take);
            idatLeft_ -= uint32_t(take);
            state_->next_in = packed_.get();
            state_->avail_in = uint32_t(take);
            return nullptr;
        }
        return nullptr;
    }

    // One IDAT chunk for libpng: up to one stored block of inflated data,
    // after the zlib header in the first, before the final block and the
    // checksum in the last.
    const char* ProducePicture() {
        uint8_t* q = out_;
        const size_t zlibHeader = streamStarted_ ? 0 : 2;
        uint8_t* data = q + 8 + zlibHeader + 5;
        state_->next_out = data;
        state_->avail_out = uint32_t(kStoredMax);
        bool exhausted = false;  // the run ended before the stream did
        while (state_->avail_out > 0 && state_->block_state != ISAL_BLOCK_FINISH) {
            if (state_->avail_in == 0 && !runOver_) {
                if (const char* failure = Refill()) return failure;
            }
            // With all input read, ISA-L may still hold output to hand out.
            const uint32_t in = state_->avail_in, out = state_->avail_out;
            const int result = isal_inflate(state_.get());
            if (result != ISAL_DECOMP_OK && result != ISAL_END_INPUT && result != ISAL_OUT_OVERFLOW) return kDamaged;
            if (state_->avail_in == in && state_->avail_out == out && state_->block_state != ISAL_BLOCK_FINISH) {
                if (!runOver_ || state_->avail_in != 0) return kDamaged;
                exhausted = true;  // libpng will find the data short
                break;
            }
        }
        const size_t stored = kStoredMax - state_->avail_out;
        const bool finished = state_->block_state == ISAL_BLOCK_FINISH;
        if (finished) {
            // Data after the stream's end is left out, as zlib would; the
            // rest of the run is still read and checked.
            while (!runOver_) {
                state_->avail_in = 0;
                if (const char* failure = Refill()) return failure;
            }
        }
        if (stored == 0 && exhausted && streamStarted_) {
            step_ = Step::After;
            return Produce();
        }
        uint8_t* at = q + 8;
        if (!streamStarted_) {
            *at++ = 0x78;  // deflate, 32 KiB window
            *at++ = 0x01;  // no dictionary; the two bytes are a multiple of 31
            streamStarted_ = true;
        }
        if (stored > 0) {
            *at++ = 0;  // a stored block, not the last
            at[0] = uint8_t(stored), at[1] = uint8_t(stored >> 8);
            at[2] = uint8_t(~stored), at[3] = uint8_t(~stored >> 8);
            at += 4 + stored;
        } else {
            at = data - 5;  // no data block: the header bytes above stay unused
        }
        if (finished) {
            const uint8_t last[5] = {1, 0, 0, 0xFF, 0xFF};  // an empty last block
            std::memcpy(at, last, 5);
            PutU32BE(at + 5, state_->crc);  // the checksum ISA-L checked
            at += 9;
        }
        const size_t length = size_t(at - (q + 8));
        PutU32BE(q, uint32_t(length));
        std::memcpy(q + 4, "IDAT", 4);
        PutU32BE(at, crc32_gzip_refl(0, q + 4, 4 + length));
        produced_ = 8 + length + 4;
        if (finished || exhausted) step_ = Step::After;
        return nullptr;
    }

    PngSource& source_;
    std::unique_ptr<uint8_t[]> pieces_;  // one piece, or kSlots when made ahead
    const uint8_t* piece_ = nullptr;     // the piece libpng reads from
    size_t queuePos_ = 0, queueFill_ = 0;
    uint8_t* out_ = nullptr;             // where Produce() puts the next piece
    size_t produced_ = 0;                // and how many bytes it put there
    std::unique_ptr<uint8_t[]> packed_;  // compressed bytes from IDAT chunks
    std::unique_ptr<inflate_state> state_;
    Step step_ = Step::Signature;
    uint64_t passLeft_ = 0;
    uint8_t head_[8] = {};  // a chunk head read ahead, for the next step
    bool haveHead_ = false;
    bool pictureSeen_ = false;
    bool streamStarted_ = false;
    bool runOver_ = false;
    uint32_t idatLeft_ = 0;
    uint32_t idatCrc_ = 0;

    // Shared with the reader thread, under mutex_.
    std::mutex mutex_;
    std::condition_variable slotFree_, pieceMade_;
    uint64_t made_ = 0, taken_ = 0;  // pieces published, and handed back
    size_t sizes_[kSlots] = {};
    bool holding_ = false;  // libpng reads slot taken_ % kSlots
    bool finished_ = false;
    const char* failure_ = nullptr;
    bool stop_ = false;
    Thread worker_;  // joined by the destructor before anything else goes
};

void PngReadFn(png_structp png, png_bytep out, png_size_t length) {
    auto* inflater = static_cast<IdatInflater*>(png_get_io_ptr(png));
    if (const char* failure = inflater->Read(out, length)) png_error(png, failure);
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource source{};
    IdatInflater inflater{source};
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
    png_set_read_fn(r->png, &r->inflater, PngReadFn);
    // The inflater checked the stream's own checksum already.
    png_set_option(r->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_user_limits(r->png, kMaxImageSide, kMaxImageSide);
    // libpng keeps text, suggested palettes and colour profiles, none of which
    // are used here, and unpacks compressed text 1000 times its size: a file
    // of a few hundred kilobytes held hundreds of megabytes of it. A few dozen
    // of them, each unpacking to at most a megabyte, is more than real files
    // carry; the rest are passed over as libpng's limits have it.
    png_set_chunk_cache_max(r->png, 32);
    png_set_chunk_malloc_max(r->png, png_alloc_size_t(1) << 20);
    // libpng takes the picture data a whole stored block at a time.
    png_set_compression_buffer_size(r->png, 65536);
    png_read_info(r->png, r->info);
    // The picture data's chunks are made here with CRCs of their own, and the
    // file's were checked on the way in: libpng need not check them again.
    // The chunks before them are read by now; ReadPngRows turns the checks
    // back on for those after.
    png_set_crc_action(r->png, PNG_CRC_QUIET_USE, PNG_CRC_NO_CHANGE);
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
    png_set_crc_action(r->png, PNG_CRC_DEFAULT, PNG_CRC_NO_CHANGE);
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
    // A thread of its own pays for itself on files of a megabyte or more.
    const bool readAhead = r.source.size >= (uint64_t(1) << 20) && ParallelThreadCount() > 1;
    if (!r.png || !r.info || !r.inflater.Ready(readAhead)) {
        NoteMemoryRefusal();
        return CodecFailure(error, "Not enough memory to read the PNG file.");
    }

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
    PictureArray<png_bytep> rows = NewPictureArray<png_bytep>(h.height);
    if (!image || !rows) return CodecFailure(error, "Not enough memory to read the PNG file.");
    for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = image->RowFromTop(int(y));
    const PagesAhead ahead(*image);  // ends before the picture goes
    if (!ReadPngRows(&r, rows.get())) return PngFailure(r, error, kDamaged);
    if (sourceDepth) *sourceDepth = h.alpha ? 32 : 24;
    return image;
}

// ---- writing ---------------------------------------------------------------
//
// Our own writer: the signature, IHDR, the picture as one zlib stream spread
// over IDAT chunks, IEND. The rows are cut into bands whose size depends only
// on the row length, so the file never depends on how many cores made it.
// Each band is filtered and deflated on its own, primed with the 32 KiB of
// filtered data before it as its dictionary, and, all but the last, ends on a
// byte boundary with an empty stored block (a sync flush): the bands' deflate
// data joined in order is one valid stream, and their checksums combine into
// the stream's. One IDAT chunk carries one band. Bands are made a batch at a
// time on all cores and written in order as each batch is done, so the file
// never waits whole in memory.

// Filtered bytes per band (the last band of a picture may hold fewer), and
// the bands made before their output is written, which bounds the memory
// in flight to a few dozen megabytes.
constexpr size_t kPngBandBytes = size_t(1) << 20;
constexpr int kPngBandsPerBatch = 32;
constexpr size_t kDeflateWindow = 32768;
// How much of a band both ways of deflating see before one is chosen.
constexpr size_t kPngTrialBytes = size_t(64) << 10;

// Chooses and writes the filter of one row: of its five filtered forms (none,
// sub, up, average, Paeth) the one whose bytes, read as signed, have the
// smallest sum of magnitudes, the earliest on a tie. `row` and `up` (the row
// above, zeros above the first row) are R, G, B[, A]; `out` gets the type
// byte and the row's n bytes. Filters read raw bytes only, so the loops
// carry nothing from one byte to the next.
// Kept out of line: inlined into its caller, the compiler loses the promise
// that the rows do not overlap and leaves the loops unvectorised.
template <size_t Bpp>
[[gnu::noinline]] void FilterPngRow(const uint8_t* __restrict row, const uint8_t* __restrict up, size_t n,
                                    uint8_t* const scratch[4], uint8_t* __restrict out) {
    uint8_t* __restrict sub = scratch[0];
    uint8_t* __restrict vertical = scratch[1];
    uint8_t* __restrict average = scratch[2];
    uint8_t* __restrict paeth = scratch[3];
    // The first pixel has no left neighbour, which counts as 0 (and Paeth
    // then predicts the byte above).
    for (size_t i = 0; i < Bpp; ++i) {
        sub[i] = row[i];
        vertical[i] = uint8_t(row[i] - up[i]);
        average[i] = uint8_t(row[i] - (up[i] >> 1));
        paeth[i] = uint8_t(row[i] - up[i]);
    }
    for (size_t i = Bpp; i < n; ++i) sub[i] = uint8_t(row[i] - row[i - Bpp]);
    for (size_t i = Bpp; i < n; ++i) vertical[i] = uint8_t(row[i] - up[i]);
    for (size_t i = Bpp; i < n; ++i) average[i] = uint8_t(row[i] - ((row[i - Bpp] + up[i]) >> 1));
    // Paeth in 16-bit lanes, free of branches, so the compiler vectorises it:
    // p = a + b - c, and the distances |p - a|, |p - b|, |p - c|.
    for (size_t i = Bpp; i < n; ++i) {
        const int16_t a = row[i - Bpp], b = up[i], c = up[i - Bpp];
        int16_t pa = int16_t(b - c), pb = int16_t(a - c);
        int16_t pc = int16_t(pa + pb);
        pa = pa < 0 ? int16_t(-pa) : pa;
        pb = pb < 0 ? int16_t(-pb) : pb;
        pc = pc < 0 ? int16_t(-pc) : pc;
        const int16_t bOrC = pb <= pc ? b : c;
        const int16_t predicted = ((pa <= pb) & (pa <= pc)) ? a : bOrC;
        paeth[i] = uint8_t(row[i] - predicted);
    }
    const uint8_t* forms[5] = {row, sub, vertical, average, paeth};
    int best = 0;
    uint32_t bestSum = UINT32_MAX;  // at most 128 a byte: a row's sum fits
    for (int f = 0; f < 5; ++f) {
        const uint8_t* __restrict p = forms[f];
        uint32_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += uint8_t(p[i] < 128 ? p[i] : 256 - p[i]);
        if (sum < bestSum) {
            bestSum = sum;
            best = f;
        }
    }
    out[0] = uint8_t(best);
    std::memcpy(out + 1, forms[best], n);
}

// zlib's deflate state, ended when the object dies.
class Deflater {
public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (started_) deflateEnd(&z_);
    }
    // Raw deflate (the writer adds the one header and checksum of the whole
    // stream), primed with the data before it.
    bool Start(int level, int strategy, const uint8_t* dictionary, size_t dictionaryBytes) {
        const int init = deflateInit2(&z_, level, Z_DEFLATED, -15, 8, strategy);
        if (init == Z_MEM_ERROR) NoteMemoryRefusal();
        started_ = init == Z_OK;
        return started_ &&
               (dictionaryBytes == 0 || deflateSetDictionary(&z_, dictionary, uInt(dictionaryBytes)) == Z_OK);
    }
    // Deflates all of `in` into `out`, ending the stream (finish) or leaving
    // it on a byte boundary for more. The bytes written; 0 on failure,
    // output that would not fit included.
    size_t Run(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes, bool finish) {
        z_.next_in = const_cast<uint8_t*>(in);
        z_.avail_in = uInt(inBytes);
        z_.next_out = out;
        z_.avail_out = uInt(outBytes);
        const int result = deflate(&z_, finish ? Z_FINISH : Z_SYNC_FLUSH);
        const bool done = finish ? result == Z_STREAM_END : result == Z_OK && z_.avail_out > 0;
        return done && z_.avail_in == 0 ? outBytes - z_.avail_out : 0;
    }

private:
    z_stream z_{};
    bool started_ = false;
};

// Two ways to deflate a band. Matches of the byte before only (Z_RLE, which
// ignores the level) suit photographs and noisy textures: there they give
// files as small as any level does, several times faster. Matches at any
// distance (zlib's level 6) suit flat colour, drawn pictures and smooth
// gradients with alpha, where run-length files came out up to 9% larger
// (and decode slower). Both start on the band's first bytes; the matching
// way carries on only where it saved more than 1/32 there, else the
// run-length way does.
constexpr int kRunLengthWay = 0;
constexpr int kMatchingWay = 1;
constexpr int kDeflateStrategies[2] = {Z_RLE, Z_DEFAULT_STRATEGY};
constexpr int kDeflateLevel = 6;

// One band of rows [y0, y1), made into the data of its IDAT chunk.
struct PngBand {
    int y0 = 0;
    int y1 = 0;
    bool first = false;  // its chunk starts with the zlib header
    bool last = false;   // its deflate data ends the stream
    PictureArray<uint8_t> data;
    size_t dataBytes = 0;
    uint32_t crc = 0;    // of "IDAT" and the data
    uint32_t adler = 1;  // of the band's filtered bytes
    size_t filteredBytes = 0;
    bool ok = false;
};

// Filters rows [top, end) of the picture into `out`, each row its type byte
// and bytes; the row above `top` (zeros above the first row) is read for the
// filters. `work` holds 7 rows of the picture's R, G, B[, A] bytes.
void FilterPngRows(const Image& image, bool alpha, int top, int end, uint8_t* work, uint8_t* out) {
    const size_t bpp = alpha ? 4 : 3;
    const size_t n = size_t(image.width) * bpp;
    uint8_t* lines[2] = {work, work + n};
    uint8_t* bgr = work + 2 * n;
    uint8_t* const scratch[4] = {work + 3 * n, work + 4 * n, work + 5 * n, work + 6 * n};
    auto load = [&](int y, uint8_t* rgb) {
        CopyRowForEncoding(image, y, alpha, bgr);
        SwapRedBlueRow(bgr, int(bpp), rgb, int(bpp), image.width);
    };
    if (top == 0)
        std::memset(lines[1], 0, n);
    else
        load(top - 1, lines[1]);
    for (int y = top; y < end; ++y, out += n + 1) {
        uint8_t* row = lines[(y - top) & 1];
        const uint8_t* up = lines[(y - top + 1) & 1];
        load(y, row);
        if (alpha)
            FilterPngRow<4>(row, up, n, scratch, out);
        else
            FilterPngRow<3>(row, up, n, scratch, out);
    }
}

// Deflates a band's filtered bytes into `out` (room bytes, enough for
// compressBound plus a flush) and gives the bytes written, 0 on failure.
// The run-length way writes into `out` from the start, the matching way
// beside it until it is chosen.
size_t DeflatePngBand(const uint8_t* dictionary, size_t dictionaryBytes, const uint8_t* in, size_t inBytes,
                      bool last, uint8_t* out, size_t room) {
    const size_t trialBytes = std::min(inBytes, kPngTrialBytes);
    const bool whole = trialBytes == inBytes;
    const size_t trialRoom = compressBound(uLong(trialBytes)) + 64;
    std::unique_ptr<uint8_t[]> matching(new (std::nothrow) uint8_t[trialRoom]);
    if (!matching) return 0;
    uint8_t* outs[2] = {out, matching.get()};
    const size_t rooms[2] = {room, trialRoom};
    Deflater ways[2];
    size_t written[2];
    for (const int w : {kRunLengthWay, kMatchingWay}) {
        if (!ways[w].Start(kDeflateLevel, kDeflateStrategies[w], dictionary, dictionaryBytes)) return 0;
        written[w] = ways[w].Run(in, trialBytes, outs[w], rooms[w], whole && last);
        if (written[w] == 0) return 0;
    }
    int way = kRunLengthWay;
    if (written[kMatchingWay] * 32 < written[kRunLengthWay] * 31) {
        way = kMatchingWay;
        std::memcpy(out, matching.get(), written[kMatchingWay]);
    }
    if (whole) return written[way];
    const size_t rest =
        ways[way].Run(in + trialBytes, inBytes - trialBytes, out + written[way], room - written[way], last);
    return rest == 0 ? 0 : written[way] + rest;
}

// Filters and deflates one band. Runs on any core: it reads the picture and
// writes only the band and memory of its own.
void MakePngBand(const Image& image, bool alpha, PngBand& band) noexcept {
    const size_t n = size_t(image.width) * (alpha ? 4 : 3);
    const size_t rowBytes = n + 1;  // a filtered row: type byte and bytes
    // The dictionary is the last 32 KiB of the filtered rows above the band;
    // those rows are filtered again here, exactly as their own band does.
    const int above = int(std::min<size_t>(size_t(band.y0), (kDeflateWindow + rowBytes - 1) / rowBytes));
    const size_t dictionaryBytes = std::min(kDeflateWindow, size_t(above) * rowBytes);
    const size_t inBytes = size_t(band.y1 - band.y0) * rowBytes;
    const size_t room = compressBound(uLong(inBytes)) + 64;  // a sync flush adds a few bytes

    std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[n * 7]);
    PictureArray<uint8_t> filtered = NewPictureArray<uint8_t>(size_t(above) * rowBytes + inBytes);
    band.data = NewPictureArray<uint8_t>(2 + room);
    if (!work || !filtered || !band.data) return;
    FilterPngRows(image, alpha, band.y0 - above, band.y1, work.get(), filtered.get());
    const uint8_t* in = filtered.get() + size_t(above) * rowBytes;

    uint8_t* at = band.data.get();
    if (band.first) {
        *at++ = 0x78;  // deflate, 32 KiB window
        *at++ = 0x9C;  // default level; the two bytes are a multiple of 31
    }
    const size_t written = DeflatePngBand(in - dictionaryBytes, dictionaryBytes, in, inBytes, band.last, at, room);
    if (written == 0) return;
    band.dataBytes = size_t(at - band.data.get()) + written;
    band.filteredBytes = inBytes;
    band.adler = uint32_t(adler32(1, in, uInt(inBytes)));
    band.crc = uint32_t(
        crc32(crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4), band.data.get(), uInt(band.dataBytes)));
    band.ok = true;
}

// Writes one chunk: length, type, data, then the CRC of type and data.
template <typename Sink>
bool WritePngChunk(Sink& sink, const char* type, const uint8_t* data, size_t size) {
    uint8_t head[8];
    PutU32BE(head, uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size) crc = crc32(crc, data, uInt(size));  // a null buffer would restart the CRC
    uint8_t tail[4];
    PutU32BE(tail, uint32_t(crc));
    return sink(head, 8) && (size == 0 || sink(data, size)) && sink(tail, 4);
}

// The IDAT chunk of a band; the last band's chunk ends with the checksum of
// the whole stream.
template <typename Sink>
bool WritePngBand(Sink& sink, const PngBand& band, uint32_t streamAdler) {
    uint8_t head[8], adler[4], tail[4];
    PutU32BE(head, uint32_t(band.dataBytes + (band.last ? 4 : 0)));
    std::memcpy(head + 4, "IDAT", 4);
    PutU32BE(adler, streamAdler);
    PutU32BE(tail, band.last ? uint32_t(crc32(band.crc, adler, 4)) : band.crc);
    return sink(head, 8) && sink(band.data.get(), band.dataBytes) && (!band.last || sink(adler, 4)) &&
           sink(tail, 4);
}

// sink(bytes, count) -> bool takes the file in order; false stops the write.
template <typename Sink>
bool WritePng(const Image& image, bool alpha, Sink&& sink) {
    if (!image.pixels || image.width < 1 || image.height < 1) return false;
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t header[13] = {};
    PutU32BE(header, uint32_t(image.width));
    PutU32BE(header + 4, uint32_t(image.height));
    header[8] = 8;                   // bits a sample
    header[9] = alpha ? 6 : 2;       // RGB with alpha, or RGB
    if (!sink(kSignature, 8) || !WritePngChunk(sink, "IHDR", header, sizeof header)) return false;

    const size_t rowBytes = size_t(image.width) * (alpha ? 4 : 3) + 1;
    const int rowsPerBand = int(std::max<size_t>(1, kPngBandBytes / rowBytes));
    const int bandCount = (image.height + rowsPerBand - 1) / rowsPerBand;
    std::unique_ptr<PngBand[]> batch(new (std::nothrow) PngBand[kPngBandsPerBatch]);
    if (!batch) return false;
    uint32_t adler = 1;
    for (int start = 0; start < bandCount; start += kPngBandsPerBatch) {
        const int count = std::min(kPngBandsPerBatch, bandCount - start);
        for (int i = 0; i < count; ++i) {
            PngBand& band = batch[i];
            band = PngBand{};
            band.y0 = (start + i) * rowsPerBand;
            band.y1 = std::min(image.height, band.y0 + rowsPerBand);
            band.first = start + i == 0;
            band.last = start + i == bandCount - 1;
        }
        PngBand* bands = batch.get();
        ParallelForBands(count, 1, [&image, alpha, bands](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) MakePngBand(image, alpha, bands[i]);
        });
        for (int i = 0; i < count; ++i) {
            PngBand& band = batch[i];
            if (!band.ok) return false;
            adler = uint32_t(adler32_combine(adler, band.adler, z_off_t(band.filteredBytes)));
            if (!WritePngBand(sink, band, adler)) return false;
            band.data.reset();
        }
    }
    return WritePngChunk(sink, "IEND", nullptr, 0);
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
    if (bits != 24 && bits != 32) return false;
    // The buffer doubles, within the room, as the file fills it.
    size_t used = 0;
    const bool ok = WritePng(image, bits == 32, [&out, &used](const uint8_t* data, size_t size) {
        if (!GrowWithinRoom(out, used + size)) return false;
        std::memcpy(out.data() + used, data, size);
        used += size;
        return true;
    });
    out.resize(ok ? used : 0);
    return ok;
}

bool EncodePngFile(const Image& image, const std::string& path, int bits) {
    if (bits != 24 && bits != 32) return false;
    AtomicFile file(path);
    return file.Ok() &&
           WritePng(image, bits == 32, [&file](const uint8_t* data, size_t size) { return file.Write(data, size); }) &&
           file.Commit();
}
