// Writes a picture made from the input with every writer and reads each file
// back: a writer must succeed on any picture, its reader must accept what the
// program wrote (within the reader's size limit), and the lossless formats
// must give back the very pixels (after what the format is documented to
// drop: alpha, or colour flattened over white).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/blockcomp.h"
#include "formats/dds.h"
#include "formats/hdr.h"
#include "formats/pcx.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "tests/fuzz/fuzz_support.h"
#include "toolkit/codecs.h"

namespace {

enum class Kept {
    Everything,       // colour and alpha
    Colour,           // colour bytes as stored, alpha read back as 255
    ColourOverWhite,  // colour flattened over white, alpha read back as 255
};

// What a file that keeps `kept` gives back for a row of source colours.
void KeepOnly(std::vector<uint32_t>& row, Kept kept) {
    if (kept == Kept::Everything) return;
    for (uint32_t& c : row) {
        const int a = kept == Kept::Colour ? 255 : ColourAlpha(c);
        c = MakeColour(FlattenOverWhite(ColourRed(c), a), FlattenOverWhite(ColourGreen(c), a),
                       FlattenOverWhite(ColourBlue(c), a));
    }
}

bool SamePicture(const Image* got, const Image& source, Kept kept) {
    if (!got || got->width != source.width || got->height != source.height) return false;
    std::vector<uint32_t> want, have;
    for (int y = 0; y < source.height; ++y) {
        RowColours(source, y, want);
        KeepOnly(want, kept);
        RowColours(*got, y, have);
        if (want != have) return false;
    }
    return true;
}

bool AllOpaque(const Image& image) {
    std::vector<uint32_t> row;
    for (int y = 0; y < image.height; ++y) {
        RowColours(image, y, row);
        for (uint32_t c : row)
            if (ColourAlpha(c) != 255) return false;
    }
    return true;
}

uint32_t U32At(const std::vector<uint8_t>& file, size_t at) {
    return file.size() < at + 4 ? 0 : uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | uint32_t(file[at + 3]) << 24);
}

// The texture and DDS readers refuse sides above this, which the writers
// still write (pictures go up to 32767): such a file must be refused with the
// reader's message, never half read.
constexpr int kMaxReadableSide = 16384;

bool Readable(const Image& picture) {
    return picture.width <= kMaxReadableSide && picture.height <= kMaxReadableSide;
}

void CheckTex(const Image& picture, const std::string& folder, bool withAlpha, int firstMip, bool keepBit1) {
    const std::string path = folder + "round.tex";
    FUZZ_CHECK(WriteTexFile(&picture, path, withAlpha, firstMip, keepBit1) == 1);
    const int64_t bpp = withAlpha ? 4 : 3;
    FUZZ_CHECK(GetFileSize(path) == 40 + int64_t(picture.width) * picture.height * bpp + 56);
    TexInfo info;
    ImagePtr back = LoadTexFile(path, info);
    if (!Readable(picture)) {
        FUZZ_CHECK(!back && info.errorText == "Invalid dimensions: " + std::to_string(picture.width) + " x " +
                                                  std::to_string(picture.height));
        return;
    }
    FUZZ_CHECK(back && info.errorText.empty());
    FUZZ_CHECK(info.firstMip == firstMip && info.hasAlpha == withAlpha && info.bytesPerPixel == bpp);
    FUZZ_CHECK(SamePicture(back.get(), picture, withAlpha ? Kept::Everything : Kept::Colour));
}

// Bytes of the level chain the writer promises in the header.
int64_t DdsDataBytes(int w, int h, DdsSaveFormat format, bool withMips, int& levels) {
    static constexpr int kBlockFormat[] = {kBlockFormatDxt1, kBlockFormatDxt5, kBlockFormatBc5};
    int64_t total = 0;
    levels = 0;
    for (;;) {
        total += format == DdsSaveFormat::Bgra32 ? int64_t(w) * h * 4
                                                 : GetBlockCompressedSize(w, h, kBlockFormat[int(format)]);
        ++levels;
        if (!withMips || (w == 1 && h == 1)) return total;
        w = std::max(w / 2, 1);
        h = std::max(h / 2, 1);
    }
}

void CheckDds(const Image& picture, const std::string& folder, DdsSaveFormat format, bool withMips) {
    const std::string path = folder + "round.dds";
    FUZZ_CHECK(WriteDdsFile(picture, path, format, withMips) == 1);
    const std::vector<uint8_t> file = ReadBack(path);
    int levels = 0;
    const int64_t data = DdsDataBytes(picture.width, picture.height, format, withMips, levels);
    FUZZ_CHECK(int64_t(file.size()) == 128 + data);
    FUZZ_CHECK(U32At(file, 28) == uint32_t(levels));
    TexInfo info;
    ImagePtr back = ReadDdsFromMemory(file.data(), int64_t(file.size()), info);
    if (!Readable(picture)) {
        FUZZ_CHECK(!back && info.errorText == "Invalid DDS dimensions.");
        return;
    }
    FUZZ_CHECK(back && info.errorText.empty());
    FUZZ_CHECK(back->width == picture.width && back->height == picture.height);
    if (format == DdsSaveFormat::Bgra32) FUZZ_CHECK(SamePicture(back.get(), picture, Kept::Everything));
    // Neither BC1 (never in its three-colour mode) nor BC5 stores alpha.
    if (format == DdsSaveFormat::Dxt1 || format == DdsSaveFormat::Bc5) FUZZ_CHECK(AllOpaque(*back));
}

void CheckTga(const Image& picture, const std::string& folder, bool withAlpha) {
    const std::string path = folder + "round.tga";
    FUZZ_CHECK(WriteTgaFile(picture, path, withAlpha) == 1);
    const std::vector<uint8_t> file = ReadBack(path);
    FUZZ_CHECK(int64_t(file.size()) == int64_t(picture.width) * picture.height * (withAlpha ? 4 : 3) + 44);
    TexInfo info;
    ImagePtr back = ReadTgaFromMemory(file.data(), int64_t(file.size()), info);
    FUZZ_CHECK(back && info.errorText.empty());
    FUZZ_CHECK(SamePicture(back.get(), picture, withAlpha ? Kept::Everything : Kept::Colour));
}

void CheckPcx(const Image& picture, const std::string& folder) {
    const std::string path = folder + "round.pcx";
    FUZZ_CHECK(WritePcxFile(picture, path) == 1);
    const std::vector<uint8_t> file = ReadBack(path);
    TexInfo info;
    ImagePtr back = ReadPcxFromMemory(file.data(), int64_t(file.size()), info);
    FUZZ_CHECK(back && info.errorText.empty());
    FUZZ_CHECK(SamePicture(back.get(), picture, Kept::Colour));
}

// The picture's bytes taken as RGBE pixels.
void CheckHdr(const Image& picture, const std::string& folder) {
    HdrBlock block;
    block.width = picture.width;
    block.height = picture.height;
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = picture.RowFromTop(y);
        block.bytes.insert(block.bytes.end(), row, row + size_t(picture.width) * size_t(picture.BytesPerPixel()));
    }
    block.bytes.resize(size_t(picture.width) * size_t(picture.height) * 4, 0);
    const std::string path = folder + "round.hdr";
    FUZZ_CHECK(WriteHdrFile(&block, picture.width, picture.height, path) == 1);
    const std::vector<uint8_t> file = ReadBack(path);
    TexInfo info;
    ImagePtr back = ReadHdrFromMemory(file.data(), int64_t(file.size()), info);
    FUZZ_CHECK(back && info.errorText.empty() && info.hdrData);
    FUZZ_CHECK(back->width == picture.width && back->height == picture.height);
    FUZZ_CHECK(info.hdrData->bytes == block.bytes);
}

// One RGBE pixel must hold the largest component to within its 8-bit
// mantissa: m in [mantissa, mantissa + 1) * 2^(e - 8), mantissa at least 128.
void CheckRgbe(double r, double g, double b) {
    uint8_t rgbe[4];
    EncodeRgbe(rgbe, r, g, b);
    const double m = std::max({r > 0.0 ? r : 0.0, g > 0.0 ? g : 0.0, b > 0.0 ? b : 0.0});
    if (!(m >= 1e-32)) {
        FUZZ_CHECK(rgbe[0] == 0 && rgbe[1] == 0 && rgbe[2] == 0 && rgbe[3] == 0);
        return;
    }
    const int mantissa = std::max({rgbe[0], rgbe[1], rgbe[2]});
    FUZZ_CHECK(mantissa >= 128);
    if (m < std::ldexp(1.0, 127)) {
        const int e = int(rgbe[3]) - 128;
        FUZZ_CHECK(std::ldexp(double(mantissa), e - 8) <= m && m < std::ldexp(double(mantissa) + 1, e - 8));
    } else {
        FUZZ_CHECK(rgbe[3] == 255);
    }
}

void CheckTiff(const Image& picture, const std::string& folder, bool withAlpha) {
    const std::string path = folder + "round.tif";
    FUZZ_CHECK(WriteTiffFile(&picture, path, withAlpha) == 1);
    const std::vector<uint8_t> file = ReadBack(path);
    TexInfo info;
    ImagePtr back = ReadTiffFromMemory(file.data(), int64_t(file.size()), info);
    FUZZ_CHECK(back && info.bytesPerPixel == (withAlpha ? 4 : 3));
    FUZZ_CHECK(SamePicture(back.get(), picture, withAlpha ? Kept::Everything : Kept::Colour));

    // libtiff, the reader of every other TIFF file, must read ours too. It
    // hands out colour premultiplied by alpha, so only opaque colour is exact.
    std::string error;
    ImagePtr viaLibtiff = DecodeTiffData(file.data(), file.size(), &error);
    FUZZ_CHECK(viaLibtiff && error.empty());
    FUZZ_CHECK(viaLibtiff->depth == (withAlpha ? 32 : 24));
    if (!withAlpha) {
        FUZZ_CHECK(SamePicture(viaLibtiff.get(), picture, Kept::Colour));
        return;
    }
    FUZZ_CHECK(viaLibtiff->width == picture.width && viaLibtiff->height == picture.height);
    std::vector<uint32_t> want, got;
    for (int y = 0; y < picture.height; ++y) {
        RowColours(picture, y, want);
        RowColours(*viaLibtiff, y, got);
        for (size_t x = 0; x < want.size(); ++x) {
            FUZZ_CHECK(ColourAlpha(got[x]) == ColourAlpha(want[x]));
            if (ColourAlpha(want[x]) == 255) FUZZ_CHECK(got[x] == want[x]);
        }
    }
}

void CheckToolkitCodecs(const Image& picture, int jpegQuality) {
    std::vector<uint8_t> bytes;
    std::string error;
    for (int bits : {24, 32}) {
        bytes.clear();
        FUZZ_CHECK(EncodePngMemory(picture, bits, bytes));
        ImagePtr png = DecodeImageMemory(bytes.data(), bytes.size(), &error);
        FUZZ_CHECK(png && error.empty() && png->depth == bits);
        FUZZ_CHECK(SamePicture(png.get(), picture, bits == 32 ? Kept::Everything : Kept::ColourOverWhite));
    }

    bytes.clear();
    FUZZ_CHECK(EncodeBmpMemory(picture, bytes));
    ImagePtr bmp = DecodeImageMemory(bytes.data(), bytes.size(), &error);
    FUZZ_CHECK(bmp && error.empty() && bmp->depth == 24);
    FUZZ_CHECK(SamePicture(bmp.get(), picture, Kept::ColourOverWhite));

    bytes.clear();
    FUZZ_CHECK(EncodeJpegMemory(picture, jpegQuality, bytes));
    ImagePtr jpeg = DecodeImageMemory(bytes.data(), bytes.size(), &error);
    FUZZ_CHECK(jpeg && error.empty() && jpeg->depth == 24);
    FUZZ_CHECK(jpeg->width == picture.width && jpeg->height == picture.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    // One input in 64 is a wide strip of up to 32767 x 24 pixels, wide
    // enough that the writers working in batches of rows (texture, DDS,
    // TIFF) need several; it goes to those alone, as the block and toolkit
    // encoders would take seconds on it.
    const bool wide = (in.U8() & 63) == 0;
    const uint8_t options = in.U8();
    const int firstMip = in.U8() % 21;
    const int jpegQuality = int(in.U8()) - 20;  // also outside 0..100, which the encoder clamps
    double rgb[3];
    in.Read(rgb, sizeof rgb);
    ImagePtr picture = wide ? MakeFuzzPicture(in, kMaxImageSide, 24) : MakeFuzzPicture(in, 32, 32);
    const std::string& folder = FuzzTempFolder();

    // A first mip would push a wide strip's full-size width past 31 bits.
    CheckTex(*picture, folder, options & 1, wide ? 0 : firstMip, (options >> 1) & 1);
    for (DdsSaveFormat format : {DdsSaveFormat::Dxt1, DdsSaveFormat::Dxt5, DdsSaveFormat::Bc5, DdsSaveFormat::Bgra32})
        if (!wide || format == DdsSaveFormat::Bgra32)
            CheckDds(*picture, folder, format, ((options >> (2 + int(format))) & 1) != 0);
    CheckTiff(*picture, folder, (options >> 7) & 1);
    CheckRgbe(rgb[0], rgb[1], rgb[2]);
    if (wide) return 0;
    CheckTga(*picture, folder, (options >> 6) & 1);
    CheckPcx(*picture, folder);
    CheckHdr(*picture, folder);
    CheckToolkitCodecs(*picture, jpegQuality);
    return 0;
}
