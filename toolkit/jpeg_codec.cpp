// JPEG through libjpeg: baseline and progressive, grey, colour, and CMYK/YCCK
// (Adobe files store CMYK inverted); writing 24-bit colour at a chosen quality.
//
// libjpeg reports errors through its error manager. Ours keeps the message
// and longjmps back into a small function whose locals are plain data; the
// library structs are owned by the caller and destroyed afterwards. A file
// that ends early is an error here, not a picture padded with grey. Memory
// libjpeg holds for a whole picture (a progressive file's coefficients, the
// encoder's output) is taken only within the room toolkit/memory.h grants.
#include <stdio.h>  // libjpeg's header needs FILE and size_t first

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

#include "toolkit/bytereader.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    bool truncated;
    char text[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->text);
    std::longjmp(err->jump, 1);
}

// Warnings are ignored except the one for data that ends early: libjpeg would
// go on and fill the rest of the picture with grey.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
        err->truncated = true;
        std::longjmp(err->jump, 1);
    }
    cinfo->err->num_warnings++;
}

void InitErrorManager(JpegErrorManager* err) {
    std::memset(err, 0, sizeof(*err));
    jpeg_std_error(&err->pub);
    err->pub.error_exit = JpegErrorExit;
    err->pub.emit_message = JpegEmitMessage;
}

constexpr const char* kNoMemoryToRead = "Not enough memory to read the JPEG file.";

// Running out of memory, whether libjpeg or we found it out.
bool RanOutOfMemory(const JpegErrorManager& err) {
    return err.pub.msg_code == JERR_OUT_OF_MEMORY || err.pub.msg_code == JERR_NO_BACKING_STORE;
}

// ---- reading ---------------------------------------------------------------

struct JpegReader {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    bool created = false;
    JpegReader() {
        std::memset(&cinfo, 0, sizeof(cinfo));
        InitErrorManager(&err);
        cinfo.err = &err.pub;
    }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
    ~JpegReader() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// The bytes libjpeg keeps while it reads a file of several scans
// (progressive, or components scanned one at a time): every coefficient block
// of every component until the last scan is in; 0 for a file of one scan.
// Known once the header is read.
uint64_t WholeImageCoefficientBytes(jpeg_decompress_struct* c) {
    if (!jpeg_has_multiple_scans(c)) return 0;
    auto roundUp = [](uint64_t n, uint64_t step) { return (n + step - 1) / step * step; };
    uint64_t bytes = 0;
    for (int i = 0; i < c->num_components; ++i) {
        const jpeg_component_info& comp = c->comp_info[i];
        bytes += roundUp(comp.width_in_blocks, uint64_t(comp.h_samp_factor)) *
                 roundUp(comp.height_in_blocks, uint64_t(comp.v_samp_factor)) * sizeof(JBLOCK);
    }
    return bytes;
}

// With opaque32 the rows come out as B, G, R, 255 (libjpeg-turbo fills the
// fourth byte), straight into a 32-bit picture.
bool StartJpegDecode(JpegReader* r, const uint8_t* data, size_t size, bool opaque32, bool* tooLarge) {
    if (setjmp(r->err.jump)) return false;
    jpeg_create_decompress(&r->cinfo);
    r->created = true;
    jpeg_mem_src(&r->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&r->cinfo, TRUE);
    const J_COLOR_SPACE space = r->cinfo.jpeg_color_space;
    r->cinfo.out_color_space =
        (space == JCS_CMYK || space == JCS_YCCK) ? JCS_CMYK : (opaque32 ? JCS_EXT_BGRX : JCS_EXT_BGR);
    // Huffman coding spends at least one bit on each 8x8 block, so a file
    // claiming more than 512 pixels a byte is damaged; refusing it here keeps
    // a tiny file from allocating a huge picture. 128 bytes of slack let any
    // picture up to 256 x 256 through.
    const uint64_t pixels = uint64_t(r->cinfo.image_width) * r->cinfo.image_height;
    if (r->cinfo.image_width > unsigned(kMaxImageSide) || r->cinfo.image_height > unsigned(kMaxImageSide) ||
        (!r->cinfo.arith_code && !ClaimFitsBytes(pixels, uint64_t(size) + 128, 512))) {
        *tooLarge = true;
        return false;
    }
    // libjpeg takes the coefficients of a file of several scans as it starts
    // and reads the whole file into them there: they and the picture must fit
    // first. It may then take no more than was granted, its working memory
    // left to the reserve; past that it stops with an error instead.
    if (const uint64_t coefficients = WholeImageCoefficientBytes(&r->cinfo)) {
        const uint64_t picture =
            ImageByteCount(int(r->cinfo.image_width), int(r->cinfo.image_height), opaque32 ? 32 : 24);
        if (!HasRoomFor(coefficients + picture)) ERREXIT(&r->cinfo, JERR_OUT_OF_MEMORY);
        r->cinfo.mem->max_memory_to_use = long(coefficients + kMemoryReserveBytes);
    }
    jpeg_start_decompress(&r->cinfo);
    return true;
}

bool ReadJpegRows(JpegReader* r, Image* image, uint8_t* cmykRow) {
    if (setjmp(r->err.jump)) return false;
    jpeg_decompress_struct* c = &r->cinfo;
    while (c->output_scanline < c->output_height) {
        const int y = int(c->output_scanline);
        uint8_t* target = image->RowFromTop(y);
        JSAMPROW row = cmykRow ? cmykRow : target;
        if (jpeg_read_scanlines(c, &row, 1) != 1) {
            r->err.truncated = true;
            return false;
        }
        if (!cmykRow) continue;
        // Adobe's files hold every ink inverted (255 = no ink); after undoing
        // that, each colour is what the ink and black leave of white.
        const bool inverted = c->saw_Adobe_marker;
        const int bpp = image->BytesPerPixel();
        const uint8_t* s = cmykRow;
        for (unsigned x = 0; x < c->output_width; ++x, s += 4, target += bpp) {
            int cc = s[0], mm = s[1], yy = s[2], kk = s[3];
            if (!inverted) {
                cc = 255 - cc;
                mm = 255 - mm;
                yy = 255 - yy;
                kk = 255 - kk;
            }
            target[0] = uint8_t((yy * kk + 127) / 255);
            target[1] = uint8_t((mm * kk + 127) / 255);
            target[2] = uint8_t((cc * kk + 127) / 255);
            if (bpp == 4) target[3] = 255;
        }
    }
    jpeg_finish_decompress(c);
    return true;
}

// ---- writing ---------------------------------------------------------------

// The encoder writes straight into the caller's vector, which grows within
// the room: at the highest quality a file is about as large as its picture.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* out;
};

VectorDestination* DestinationOf(j_compress_ptr c) { return reinterpret_cast<VectorDestination*>(c->dest); }

// Makes the vector at least `bytes` long and hands libjpeg what lies past `used`.
void GiveOutputRoom(j_compress_ptr c, size_t used, size_t bytes) {
    VectorDestination* d = DestinationOf(c);
    if (!GrowWithinRoom(*d->out, bytes)) ERREXIT(c, JERR_OUT_OF_MEMORY);
    d->pub.next_output_byte = d->out->data() + used;
    d->pub.free_in_buffer = d->out->size() - used;
}

void StartOutput(j_compress_ptr c) { GiveOutputRoom(c, 0, size_t(64) << 10); }

// libjpeg asks for more only once all it was given is full.
boolean GrowOutput(j_compress_ptr c) {
    const size_t full = DestinationOf(c)->out->size();
    GiveOutputRoom(c, full, full + 1);
    return TRUE;
}

void EndOutput(j_compress_ptr c) {
    VectorDestination* d = DestinationOf(c);
    d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

struct JpegWriter {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    VectorDestination dest;
    bool created = false;
    explicit JpegWriter(std::vector<uint8_t>& out) {
        std::memset(&cinfo, 0, sizeof(cinfo));
        InitErrorManager(&err);
        cinfo.err = &err.pub;
        dest.pub = {nullptr, 0, StartOutput, GrowOutput, EndOutput};
        dest.out = &out;
    }
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;
    ~JpegWriter() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

bool WriteJpeg(JpegWriter* w, const Image* image, int quality, uint8_t* rowBuffer) {
    if (setjmp(w->err.jump)) return false;
    jpeg_create_compress(&w->cinfo);
    w->created = true;
    w->cinfo.dest = &w->dest.pub;
    w->cinfo.image_width = JDIMENSION(image->width);
    w->cinfo.image_height = JDIMENSION(image->height);
    w->cinfo.input_components = 3;
    w->cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&w->cinfo);
    jpeg_set_quality(&w->cinfo, quality, TRUE);
    jpeg_start_compress(&w->cinfo, TRUE);
    while (w->cinfo.next_scanline < w->cinfo.image_height) {
        CopyRowForEncoding(*image, int(w->cinfo.next_scanline), false, rowBuffer);
        JSAMPROW row = rowBuffer;
        jpeg_write_scanlines(&w->cinfo, &row, 1);
    }
    jpeg_finish_compress(&w->cinfo);
    return true;
}

}  // namespace

ImagePtr DecodeJpegData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth) {
    if (error) error->clear();
    if (!IsJpegData(data, size)) return CodecFailure(error, "The file is not a JPEG image.");
    const bool opaque32 = sourceDepth != nullptr;
    JpegReader r;
    bool tooLarge = false;
    if (!StartJpegDecode(&r, data, size, opaque32, &tooLarge)) {
        if (tooLarge) return CodecFailure(error, "The JPEG picture is too large for its file.");
        if (RanOutOfMemory(r.err)) {
            NoteMemoryRefusal();  // libjpeg's own allocations, or our check
            return CodecFailure(error, kNoMemoryToRead);
        }
        if (r.err.truncated) return CodecFailure(error, "The JPEG file is truncated.");
        return CodecFailure(error, "The JPEG file is damaged.");
    }
    const jpeg_decompress_struct& c = r.cinfo;
    const bool cmyk = c.out_color_space == JCS_CMYK;
    if (c.output_width < 1 || c.output_height < 1 || c.output_components != (cmyk || opaque32 ? 4 : 3))
        return CodecFailure(error, "The JPEG file is damaged.");
    ImagePtr image = CreateDecodedImage(int(c.output_width), int(c.output_height), opaque32 ? 32 : 24);
    std::unique_ptr<uint8_t[]> cmykRow;
    if (cmyk) cmykRow.reset(new (std::nothrow) uint8_t[size_t(c.output_width) * 4]);
    if (!image || (cmyk && !cmykRow)) return CodecFailure(error, kNoMemoryToRead);
    const PagesAhead ahead(*image);  // ends before the picture goes
    if (!ReadJpegRows(&r, image.get(), cmykRow.get())) {
        if (r.err.truncated) return CodecFailure(error, "The JPEG file is truncated.");
        return CodecFailure(error, "The JPEG file is damaged.");
    }
    if (sourceDepth) *sourceDepth = 24;
    return image;
}

bool EncodeJpegMemory(const Image& image, int quality, std::vector<uint8_t>& out) {
    out.clear();
    if (!image.pixels || image.width < 1 || image.height < 1) return false;
    quality = std::clamp(quality, 0, 100);
    JpegWriter w(out);
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[size_t(image.width) * 3]);
    if (!row || !WriteJpeg(&w, &image, quality, row.get())) {
        out.clear();
        return false;
    }
    return true;
}

bool EncodeJpegFile(const Image& image, const std::string& path, int quality) {
    std::vector<uint8_t> bytes;
    return EncodeJpegMemory(image, quality, bytes) && WriteWholeFile(path, bytes.data(), bytes.size());
}
