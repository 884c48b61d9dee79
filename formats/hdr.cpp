// Radiance RGBE reader and writer, the RGBE encoder and the tone curve.
//
// Reading covers "#?" files with FORMAT=32-bit_rle_rgbe (or no FORMAT line),
// -Y/+Y h +X w resolution lines and new-style run-length or flat scanlines;
// a file that ends early still loads with the missing rows black, unless its
// bytes could not hold the picture it claims even at the best run length. Writing
// makes -Y +X files whose run-length scanlines hold literal packets only.
#include "formats/hdr.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"
#include "toolkit/parallel.h"

namespace {

constexpr int kMaxHdrSide = kMaxImageSide;  // a larger file could not be shown
constexpr int kMinRleWidth = 8;
constexpr int kMaxRleWidth = 32767;
constexpr double kGammaExponent = 0.45454545454545453;  // 1 / 2.2

// File text goes into messages; bytes above 127 are taken as Latin-1 so the
// message stays valid UTF-8.
std::string LineForMessage(const std::string& line) {
    std::string text;
    text.reserve(line.size());
    for (char ch : line) {
        const uint8_t c = uint8_t(ch);
        if (c < 0x80) {
            text += ch;
        } else {
            text += char(0xC0 | (c >> 6));
            text += char(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// The text up to the next LF (or the end), stepping past the LF. Nothing is
// trimmed: a CR before the LF stays in the line.
std::string ReadHeaderLine(ByteReader& reader) {
    const uint64_t left = reader.Remaining();
    const uint8_t* rest = reader.Span(reader.Pos(), left);
    if (!rest || left == 0) return {};
    const void* lf = std::memchr(rest, '\n', size_t(left));
    const uint64_t length = lf ? uint64_t(static_cast<const uint8_t*>(lf) - rest) : left;
    std::string line = reader.Text(length);
    if (lf) reader.Skip(1);
    return line;
}

std::vector<std::string> SplitAtSpaces(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ' ')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Leading spaces and a sign, then decimal digits up to the first other
// character; no digits give 0. Saturates instead of overflowing.
int64_t ParseDimension(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT64_C(1) << 40);
    return negative ? -value : value;
}

bool IsRleScanline(const ByteReader& reader, int width) {
    if (width < kMinRleWidth || width > kMaxRleWidth) return false;
    const uint8_t* head = reader.Span(reader.Pos(), 4);
    return head && head[0] == 2 && head[1] == 2 && head[2] < 128;
}

// Fills the four planes of one row from new-style packets. Packets that reach
// past the width are cut there; the rest of a cut literal is read as the next
// packet, which is how such rows have always been decoded.
void DecodeRleScanline(ByteReader& reader, uint8_t* row, int width) {
    reader.Skip(4);  // the width coded here is not needed: the resolution line rules
    for (int plane = 0; plane < 4; ++plane) {
        int filled = 0;
        while (filled < width && reader.Remaining() > 0) {
            const int count = reader.U8();
            if (count > 128) {
                if (reader.Remaining() == 0) break;
                const uint8_t value = reader.U8();
                const int n = std::min(count - 128, width - filled);
                uint8_t* out = row + size_t(filled) * 4 + size_t(plane);
                for (int k = 0; k < n; ++k, out += 4) *out = value;
                filled += n;
            } else {
                const uint64_t n = std::min<uint64_t>({uint64_t(count), uint64_t(width - filled), reader.Remaining()});
                const uint8_t* in = reader.Take(n);
                uint8_t* out = row + size_t(filled) * 4 + size_t(plane);
                for (uint64_t k = 0; k < n; ++k, out += 4) *out = in[k];
                filled += int(n);
            }
        }
    }
}

double ToneCurve(double t, HdrTone tone) {
    if (tone == HdrTone::Filmic) t = t * (2.51 * t + 0.03) / (t * (2.43 * t + 0.59) + 0.14);
    // The filmic curve gives NaN once t * t overflows; its limit there is
    // above white, so that counts as white like any value above 1.
    if (!(t <= 1.0)) t = 1.0;
    return t;
}

// Display bytes by exponent and mantissa, built for an exponent only when a
// pixel first uses it: pictures use few exponents, so this costs far fewer
// power functions than one per channel, with the very same results. Bands
// share the table; the first to meet an exponent builds its entry.
class ToneLookup {
public:
    ToneLookup(double exposure, HdrTone tone) : factor_(std::pow(2.0, exposure)), tone_(tone) {}

    const uint8_t* ForExponent(int e) {
        if (!ready_[e].load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lock(building_);
            if (!ready_[e].load(std::memory_order_relaxed)) {
                const double scale = std::pow(2.0, double(e - 128)) / 256.0;
                for (int m = 0; m < 256; ++m)
                    bytes_[e][m] = uint8_t(ToneMapHdrChannel((m + 0.5) * scale, factor_, tone_));
                ready_[e].store(true, std::memory_order_release);
            }
        }
        return bytes_[e];
    }

private:
    double factor_;
    HdrTone tone_;
    uint8_t bytes_[256][256];
    std::atomic<bool> ready_[256] = {};
    std::mutex building_;
};

void PutPlanesAsLiterals(std::vector<uint8_t>& out, const uint8_t* row, int width) {
    for (int plane = 0; plane < 4; ++plane) {
        for (int x = 0; x < width;) {
            const int n = std::min(128, width - x);
            out.push_back(uint8_t(n));
            const uint8_t* in = row + size_t(x) * 4 + size_t(plane);
            for (int k = 0; k < n; ++k, in += 4) out.push_back(*in);
            x += n;
        }
    }
}

}  // namespace

std::string MakeHdrExposureNote(double exposure, HdrTone tone) {
    return "HDR exposure: " + FormatFixed(exposure, 1) + " EV" +
           (tone == HdrTone::Filmic ? ", filmic" : ", editor (clip)");
}

int ToneMapHdrChannel(double value, double factor, HdrTone tone) {
    const double t = ToneCurve(value * factor, tone);
    if (!(t > 0.0)) return 0;  // only a negative value gets here; pow would give NaN
    return int(std::pow(t, kGammaExponent) * 255.0 + 0.5);
}

ImagePtr ToneMapHdrBlock(const HdrBlock& block, int width, int height, double exposure, HdrTone tone) {
    if (width < 1 || height < 1) return nullptr;
    const uint64_t rowBytes = uint64_t(width) * 4;
    if (block.bytes.size() / rowBytes < uint64_t(height)) return nullptr;
    ImagePtr image = CreateImageUnfilled(width, height, 32);
    if (!image) return nullptr;
    std::unique_ptr<ToneLookup> made(new (std::nothrow) ToneLookup(exposure, tone));
    if (!made) return nullptr;
    ToneLookup& lookup = *made;
    const uint8_t* const src = block.bytes.data();
    Image& target = *image;
    ParallelForBands(height, GrainForRows(width), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            uint8_t* dst = target.RowFromTop(y);
            const uint8_t* in = src + size_t(y) * size_t(rowBytes);
            for (int x = 0; x < width; ++x, in += 4, dst += 4) {
                if (in[3] == 0) {
                    dst[0] = dst[1] = dst[2] = 0;
                } else {
                    const uint8_t* curve = lookup.ForExponent(in[3]);
                    dst[0] = curve[in[2]];
                    dst[1] = curve[in[1]];
                    dst[2] = curve[in[0]];
                }
                dst[3] = 255;
            }
        }
    });
    return image;
}

ImagePtr ReadHdrFromMemory(const uint8_t* data, int64_t size, TexInfo& info, const HdrDisplaySettings& display) {
    ByteReader reader(data, size > 0 ? uint64_t(size) : 0);
    if (reader.Size() < 11 || !reader.TagAt(0, "#?")) return FailTexture(info, "This is not a Radiance HDR file.");

    while (reader.Remaining() > 0) {
        const std::string line = ReadHeaderLine(reader);
        if (line.compare(0, 7, "FORMAT=") == 0 && line != "FORMAT=32-bit_rle_rgbe")
            return FailTexture(info, "Only RGBE HDR files are supported (" + LineForMessage(line) + ").");
        if (line.empty()) break;
    }

    const std::string resolution = ReadHeaderLine(reader);
    const std::vector<std::string> fields = SplitAtSpaces(resolution);
    if (fields.size() < 4 || fields[2] != "+X" || (fields[0] != "-Y" && fields[0] != "+Y"))
        return FailTexture(info, "This HDR orientation is not supported (" + LineForMessage(resolution) + ").");
    const bool bottomUp = fields[0] == "+Y";
    const int64_t height = ParseDimension(fields[1]);
    const int64_t width = ParseDimension(fields[3]);
    if (width < 1 || width > kMaxHdrSide || height < 1 || height > kMaxHdrSide)
        return FailTexture(info, "Invalid HDR dimensions: " + LineForMessage(resolution));

    const int64_t blockBytes = CheckedPixelBytes(width, height, 4);
    if (blockBytes < 0) return FailTexture(info, "Invalid HDR dimensions: " + LineForMessage(resolution));
    // Rows the data do not reach stay black, but the best a scan line can do
    // is one two-byte run of 127 values in each of its four planes: a picture
    // beyond that many pixels for the bytes left was never in this file. Flat
    // scan lines are held to the same bound, so a file cut short keeps loading.
    if (!ClaimFitsBytes(uint64_t(width) * uint64_t(height), reader.Remaining(), 127, 8))
        return FailTexture(info, kDamagedFileText);
    info.hdrData = NewHdrBlock(int(width), int(height));
    if (!info.hdrData) return FailTexture(info, "Not enough memory for the image.");

    const size_t rowBytes = size_t(width) * 4;
    for (int64_t i = 0; i < height; ++i) {
        const int64_t target = bottomUp ? height - 1 - i : i;
        uint8_t* row = info.hdrData->bytes.data() + size_t(target) * rowBytes;
        if (IsRleScanline(reader, int(width))) {
            DecodeRleScanline(reader, row, int(width));
        } else {
            const uint8_t* flat = reader.Remaining() >= rowBytes ? reader.Take(rowBytes) : nullptr;
            if (!flat) break;  // a file cut short keeps the rows not read black
            std::memcpy(row, flat, rowBytes);
        }
    }

    info.width = int32_t(width);
    info.height = int32_t(height);
    info.isHdr = 1;
    info.bytesPerPixel = 4;
    info.formatText = "Radiance High Dynamic Range";

    ImagePtr image = ToneMapHdrBlock(*info.hdrData, int(width), int(height), display.exposure, display.tone);
    // The block is whole and fits the size, so only memory can be missing.
    if (!image) return FailTexture(info, "Not enough memory for the image.");
    info.note = MakeHdrExposureNote(display.exposure, display.tone);
    return image;
}

int WriteHdrFile(const HdrBlock* block, int width, int height, const std::string& path) {
    if (!block || width < 1 || height < 1) return 0;
    const uint64_t rowBytes = uint64_t(width) * 4;
    if (block->bytes.size() / rowBytes < uint64_t(height)) return 0;

    AtomicFile file(path);
    if (!file.Ok()) return 0;
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(height) + " +X " +
                               std::to_string(width) + "\n";
    file.Write(header.data(), header.size());

    const bool rle = width >= kMinRleWidth && width <= kMaxRleWidth;
    std::vector<uint8_t> coded;
    const uint8_t* row = block->bytes.data();
    for (int y = 0; y < height; ++y, row += rowBytes) {
        if (!rle) {
            file.Write(row, size_t(rowBytes));
            continue;
        }
        coded.assign({2, 2, uint8_t(width >> 8), uint8_t(width & 255)});
        PutPlanesAsLiterals(coded, row, width);
        file.Write(coded);
    }
    return file.Commit() ? 1 : 0;
}

void EncodeRgbe(uint8_t* destination, double r, double g, double b) {
    // Negative and NaN components have no RGBE form; they count as 0.
    r = r > 0.0 ? r : 0.0;
    g = g > 0.0 ? g : 0.0;
    b = b > 0.0 ? b : 0.0;
    const double m = std::max({r, g, b});
    if (m < 1e-32) {
        std::memset(destination, 0, 4);
        return;
    }
    int e = 127;  // the largest exponent byte (255) for values beyond it
    if (m < std::ldexp(1.0, 127)) {
        e = int(std::floor(std::log(m) / std::log(2.0))) + 1;
        if (std::ldexp(m, -e) >= 1.0) ++e;
        if (std::ldexp(m, -e) < 0.5) --e;
    }
    const double s = std::ldexp(256.0, -e);
    destination[0] = uint8_t(std::min(255.0, std::trunc(r * s)));
    destination[1] = uint8_t(std::min(255.0, std::trunc(g * s)));
    destination[2] = uint8_t(std::min(255.0, std::trunc(b * s)));
    destination[3] = uint8_t(e + 128);
}
