// PCX reader and writer.
//
// Reading covers 8 bits per plane with one plane (palette at the end of the
// file), three planes (RGB) or four (RGBA), run-length encoded or raw; the
// 16-colour header palette and bit-plane formats are not read. Writing makes
// three run-length encoded planes, without alpha and without a palette.
#include "formats/pcx.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"

namespace {

constexpr int kHeaderBytes = 128;
constexpr int kPaletteBytes = 768;
constexpr int kMaxPcxSide = 65535;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kPaletteMarker = 12;

// Run-length state lives for the whole picture: a run left over at the end
// of a line carries on into the next one.
struct PcxRunDecoder {
    const ByteReader& reader;
    uint64_t pos = kHeaderBytes;
    int runCount = 0;
    uint8_t runValue = 0;

    void FillLine(uint8_t* line, int64_t length) {
        const uint64_t size = reader.Size();
        const uint8_t* data = reader.Data();
        int64_t i = 0;
        while (i < length) {
            if (runCount > 0) {
                const int64_t n = runCount < length - i ? runCount : length - i;
                std::memset(line + i, runValue, size_t(n));
                runCount -= int(n);
                i += n;
            } else if (pos < size) {
                const uint8_t c = data[pos++];
                if (c < 0xC0) {
                    line[i++] = c;
                } else {
                    runCount = c - 0xC0;
                    runValue = pos < size ? data[pos++] : 0;
                }
            } else {
                std::memset(line + i, 0, size_t(length - i));
                return;
            }
        }
    }
};

void PutU16(uint8_t* at, int value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

}  // namespace

ImagePtr ReadPcxFromMemory(const uint8_t* data, int64_t size, TexInfo& info) {
    if (!data || size < kHeaderBytes || data[0] != kManufacturer) return FailTexture(info, "This is not a PCX file.");
    ByteReader reader(data, uint64_t(size));
    reader.Seek(2);
    const uint8_t encoding = reader.U8();
    const uint8_t bitsPerPlane = reader.U8();
    const int xmin = reader.U16();
    const int ymin = reader.U16();
    const int xmax = reader.U16();
    const int ymax = reader.U16();
    reader.Seek(65);
    const int planes = reader.U8();
    const int bytesPerLine = reader.U16();
    const int width = xmax - xmin + 1;
    const int height = ymax - ymin + 1;
    if (bitsPerPlane != 8 || (planes != 1 && planes != 3 && planes != 4) || width < 1 || height < 1 ||
        bytesPerLine < width)
        return FailTexture(info, "This PCX type is not supported (only 8-bit palette, 24-bit and 32-bit).");

    const uint8_t* palette = nullptr;
    if (planes == 1) {
        const uint64_t markerAt = uint64_t(size) - kPaletteBytes - 1;
        if (size < kHeaderBytes + kPaletteBytes + 1 || *reader.Span(markerAt, 1) != kPaletteMarker)
            return FailTexture(info, "The PCX palette is missing.");
        palette = reader.Span(markerAt + 1, kPaletteBytes);
    }

    info.width = width;
    info.height = height;
    info.bytesPerPixel = planes;
    info.formatText = "PiCture eXchange (" + std::to_string(planes * 8) + "-bit)";

    // Planes of one scan line lie one after the other in this buffer.
    const int64_t lineBytes = int64_t(bytesPerLine) * planes;
    // Data that end early leave the rest blank, but two bytes of run code give
    // at most 63 bytes of scan line (padding and every plane included): a
    // picture beyond that was never in this file. Raw files are held to the
    // same bound, so one cut short keeps loading as before while a header of
    // a few bytes cannot claim gigabytes.
    if (!ClaimFitsBytes(uint64_t(lineBytes) * uint64_t(height), uint64_t(size) - kHeaderBytes, 63, 2))
        return FailTexture(info, kDamagedFileText);
    std::vector<uint8_t> line;
    try {
        line.assign(size_t(lineBytes), 0);
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
        return FailTexture(info, "Not enough memory for the image.");
    }
    ImagePtr image = CreateImageUnfilled(width, height, 32);
    if (!image) return FailTexture(info, "Not enough memory for the image.");

    PcxRunDecoder runs{reader};
    uint64_t rawPos = kHeaderBytes;
    const uint8_t* red = line.data();
    const uint8_t* green = red + bytesPerLine;
    const uint8_t* blue = green + bytesPerLine;
    const uint8_t* alpha = blue + bytesPerLine;
    for (int y = 0; y < height; ++y) {
        if (encoding == 1) {
            runs.FillLine(line.data(), lineBytes);
        } else {
            // Raw lines: a line not wholly present is blank.
            if (const uint8_t* src = reader.Span(rawPos, uint64_t(lineBytes)))
                std::memcpy(line.data(), src, size_t(lineBytes));
            else
                std::memset(line.data(), 0, size_t(lineBytes));
            rawPos += uint64_t(lineBytes);
        }

        uint8_t* dst = image->RowFromTop(y);
        if (planes == 1) {
            for (int x = 0; x < width; ++x, dst += 4) {
                const uint8_t* entry = palette + size_t(red[x]) * 3;
                dst[0] = entry[2];
                dst[1] = entry[1];
                dst[2] = entry[0];
                dst[3] = 255;
            }
        } else if (planes == 3) {
            for (int x = 0; x < width; ++x, dst += 4) {
                dst[0] = blue[x];
                dst[1] = green[x];
                dst[2] = red[x];
                dst[3] = 255;
            }
        } else {
            for (int x = 0; x < width; ++x, dst += 4) {
                dst[0] = blue[x];
                dst[1] = green[x];
                dst[2] = red[x];
                dst[3] = alpha[x];
            }
        }
    }

    info.hasAlpha = planes == 4 ? HasTransparentPixels(image.get()) : 0;
    return image;
}

int64_t EncodePcxRleLine(const uint8_t* source, int64_t length, uint8_t* destination) {
    int64_t i = 0;
    int64_t out = 0;
    while (i < length) {
        const uint8_t v = source[i];
        int64_t run = 1;
        while (i + run < length && run < 63 && source[i + run] == v) ++run;
        // A lone byte that looks like a run code must be written as a run of one.
        if (run >= 2 || v >= 0xC0) {
            destination[out++] = uint8_t(0xC0 + run);
            destination[out++] = v;
        } else {
            destination[out++] = v;
        }
        i += run;
    }
    return out;
}

int WritePcxFile(const Image& image, const std::string& path) {
    if (!image.pixels || image.width < 1 || image.height < 1) return 0;
    if (image.width > kMaxPcxSide || image.height > kMaxPcxSide) return 0;
    if (image.depth != 24 && image.depth != 32) return 0;
    const int w = image.width;
    const int h = image.height;
    const int bytesPerLine = (w + 1) & ~1;
    const int srcBpp = image.BytesPerPixel();

    std::vector<uint8_t> file;
    std::vector<uint8_t> planeLine;
    std::vector<uint8_t> encoded;
    try {
        file.assign(kHeaderBytes, 0);
        planeLine.assign(size_t(bytesPerLine), 0);  // the padding byte of an odd width stays 0
        encoded.assign(size_t(bytesPerLine) * 2, 0);
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
        return 0;
    }
    file[0] = kManufacturer;
    file[1] = 5;  // version
    file[2] = 1;  // run-length encoded
    file[3] = 8;
    PutU16(&file[8], w - 1);
    PutU16(&file[10], h - 1);
    PutU16(&file[12], 72);
    PutU16(&file[14], 72);
    file[65] = 3;
    PutU16(&file[66], bytesPerLine);
    PutU16(&file[68], 1);

    // Stored bytes are B, G, R(, A); planes go out red, green, blue. The
    // file's buffer doubles, within the room, as the coded lines fill it.
    constexpr int kChannelOfPlane[3] = {2, 1, 0};
    size_t used = kHeaderBytes;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = image.RowFromTop(y);
        for (int channel : kChannelOfPlane) {
            const uint8_t* src = row + channel;
            for (int x = 0; x < w; ++x, src += srcBpp) planeLine[size_t(x)] = *src;
            const size_t n = size_t(EncodePcxRleLine(planeLine.data(), bytesPerLine, encoded.data()));
            if (!GrowWithinRoom(file, used + n)) return 0;
            std::memcpy(file.data() + used, encoded.data(), n);
            used += n;
        }
    }
    return WriteWholeFile(path, file.data(), used) ? 1 : 0;
}
