// TIFF reader and writer for the plainest layout: little-endian, uncompressed,
// chunky 8-bit RGB or RGBA in strips, in any of the eight orientations. Only
// the first directory is read; every other kind of TIFF is left to libtiff
// through the load dispatch.
#include "formats/tiff.h"

#include <algorithm>
#include <cstring>

#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/rows.h"

namespace {

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeRational = 5;

constexpr uint16_t kTagImageWidth = 256;
constexpr uint16_t kTagImageLength = 257;
constexpr uint16_t kTagBitsPerSample = 258;
constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagOrientation = 274;
constexpr uint16_t kTagSamplesPerPixel = 277;
constexpr uint16_t kTagRowsPerStrip = 278;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagXResolution = 282;
constexpr uint16_t kTagYResolution = 283;
constexpr uint16_t kTagPlanarConfiguration = 284;
constexpr uint16_t kTagResolutionUnit = 296;
constexpr uint16_t kTagExtraSamples = 338;

// A header may claim a picture far larger than its file: a short file still
// shows the rows it holds, but one holding only a sliver of its pixels is left
// to libtiff (which refuses it) rather than allocating gigabytes of black.
constexpr uint64_t kMaxClaimFactor = 16;
constexpr uint64_t kClaimSlackBytes = uint64_t(1) << 20;

struct IfdEntry {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;  // the 4-byte value field, little-endian
};

// A single value sits in the first two bytes of the field when it is a SHORT.
uint32_t EntryNumber(const IfdEntry& entry, uint32_t fallback) {
    if (!entry.present) return fallback;
    return entry.type == kTypeShort ? (entry.value & 0xFFFFu) : entry.value;
}

bool AllSamplesAreEightBits(ByteReader& file, const IfdEntry& bits) {
    if (!bits.present) return true;
    if (bits.count == 1) return EntryNumber(bits, 8) == 8;
    if (bits.count == 2 && bits.type == kTypeShort) return bits.value == 0x00080008u;
    for (uint64_t i = 0; i < bits.count; ++i) {
        const uint64_t at = uint64_t(bits.value) + 2 * i;
        if (!file.Fits(at, 2)) return false;
        file.Seek(at);
        if (file.U16() != 8) return false;
    }
    return true;
}

// Where strip s starts, from the table in the value field or at its offset;
// false when the table entry lies outside the data.
bool FindStripOffset(ByteReader& file, const IfdEntry& strips, uint32_t s, uint64_t& offset) {
    const bool isShort = strips.type == kTypeShort;
    const bool inValueField = isShort ? strips.count <= 2 : strips.count <= 1;
    if (inValueField) {
        offset = isShort ? ((strips.value >> (16 * s)) & 0xFFFFu) : strips.value;
        return true;
    }
    const uint64_t entryBytes = isShort ? 2 : 4;
    const uint64_t at = uint64_t(strips.value) + entryBytes * s;
    if (!file.Fits(at, entryBytes)) return false;
    file.Seek(at);
    offset = isShort ? file.U16() : file.U32();
    return true;
}

void PutU16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// Appends rows [y0, y1) as R, G, B (, A) bytes from the top; a 24-bit source
// counts as opaque. False, `out` unchanged, when there is no room for them.
bool AppendTiffRows(std::vector<uint8_t>& out, const Image& image, int y0, int y1, int samples) {
    const int srcBpp = image.BytesPerPixel();
    const size_t rowBytes = size_t(image.width) * size_t(samples);
    size_t at = out.size();
    if (!ResizeWithinRoom(out, at + rowBytes * size_t(y1 - y0))) return false;
    for (int y = y0; y < y1; ++y, at += rowBytes)
        SwapRedBlueRow(image.RowFromTop(y), srcBpp, out.data() + at, samples, image.width);
    return true;
}

}  // namespace

ImagePtr ReadTiffFromMemory(const uint8_t* data, int64_t size, TexInfo& info) {
    if (!data || size < 8) return nullptr;
    ByteReader file(data, uint64_t(size));
    if (!file.TagAt(0, "II")) return nullptr;
    file.Seek(2);
    if (file.U16() != 42) return nullptr;
    const uint64_t ifd = file.U32();
    if (ifd < 8 || !file.Fits(ifd, 2)) return nullptr;
    file.Seek(ifd);
    const uint32_t entryCount = file.U16();

    IfdEntry width, height, bits, compression, photometric, strips, orientation, samples, rowsPerStrip, planar;
    for (uint32_t i = 0; i < entryCount; ++i) {
        const uint64_t at = ifd + 2 + 12 * uint64_t(i);
        if (!file.Fits(at, 12)) return nullptr;
        file.Seek(at);
        const uint16_t tag = file.U16();
        IfdEntry entry;
        entry.present = true;
        entry.type = file.U16();
        entry.count = file.U32();
        entry.value = file.U32();
        switch (tag) {
        case kTagImageWidth: width = entry; break;
        case kTagImageLength: height = entry; break;
        case kTagBitsPerSample: bits = entry; break;
        case kTagCompression: compression = entry; break;
        case kTagPhotometric: photometric = entry; break;
        case kTagStripOffsets: strips = entry; break;
        case kTagOrientation: orientation = entry; break;
        case kTagSamplesPerPixel: samples = entry; break;
        case kTagRowsPerStrip: rowsPerStrip = entry; break;
        case kTagPlanarConfiguration: planar = entry; break;
        default: break;
        }
    }

    const uint32_t w = EntryNumber(width, 0);
    const uint32_t h = EntryNumber(height, 0);
    const uint32_t spp = EntryNumber(samples, 1);
    if (w < 1 || h < 1 || EntryNumber(compression, 1) != 1 || !photometric.present ||
        EntryNumber(photometric, 0) != 2 || EntryNumber(planar, 1) != 1 || (spp != 3 && spp != 4))
        return nullptr;
    if (!strips.present || strips.count < 1) return nullptr;
    // Offsets of any other type would be read as something they are not.
    if (strips.type != kTypeShort && strips.type != kTypeLong) return nullptr;
    if (!AllSamplesAreEightBits(file, bits)) return nullptr;
    if (w > uint32_t(kMaxImageSide) || h > uint32_t(kMaxImageSide)) return nullptr;

    const uint64_t rowBytes = uint64_t(w) * spp;
    if (rowBytes * h > kMaxClaimFactor * uint64_t(size) + kClaimSlackBytes) return nullptr;
    uint32_t rps = EntryNumber(rowsPerStrip, h);
    if (rps < 1 || rps > h) rps = h;

    // Scanners, fax software and cameras store rasters turned or mirrored;
    // the picture is shown the way the file says it is meant to be seen.
    const uint32_t stated = EntryNumber(orientation, 1);
    const int turn = stated >= 1 && stated <= 8 ? int(stated) : 1;
    const bool swapSides = OrientationSwapsSides(turn);
    ImagePtr image = CreateImage(int(swapSides ? h : w), int(swapSides ? w : h), 32, kOpaqueBlack);
    if (!image) return nullptr;

    // Where stored row y lies in the file; null once the strips or the data run out.
    auto storedRow = [&](uint32_t y) -> const uint8_t* {
        const uint32_t s = y / rps;
        uint64_t stripAt = 0;
        if (s >= strips.count || !FindStripOffset(file, strips, s, stripAt)) return nullptr;
        return file.Span(stripAt + (y - uint64_t(s) * rps) * rowBytes, rowBytes);
    };
    // A few stored rows at a time, so that a raster turned a quarter is
    // written along the picture's rows.
    constexpr uint32_t kBandRows = 16;
    const uint8_t* band[kBandRows];
    for (uint32_t first = 0; first < h; first += kBandRows) {
        uint32_t rows = 0;
        while (rows < kBandRows && first + rows < h && (band[rows] = storedRow(first + rows))) ++rows;
        if (turn == 1) {
            for (uint32_t r = 0; r < rows; ++r)
                SwapRedBlueRow(band[r], int(spp), image->RowFromTop(int(first + r)), 4, int(w));
        } else {
            PlaceStoredRows(*image, turn, int(first), int(rows), int(w), [&](uint8_t* out, int c, int r) {
                const uint8_t* src = band[r] + size_t(c) * spp;
                out[0] = src[2];
                out[1] = src[1];
                out[2] = src[0];
                out[3] = spp == 4 ? src[3] : 255;
            });
        }
        if (rows < kBandRows && first + rows < h) break;
    }
    info.bytesPerPixel = int32_t(spp);
    return image;
}

void WriteTiffIfdEntry(std::vector<uint8_t>& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    PutU16(out, tag);
    PutU16(out, type);
    PutU32(out, count);
    if (type == kTypeShort && count == 1) {
        PutU16(out, value);
        PutU16(out, 0);
    } else {
        PutU32(out, value);
    }
}

int WriteTiffFile(const Image* image, const std::string& path, bool withAlpha) {
    if (!image || !image->pixels || image->width < 1 || image->height < 1) return 0;
    if (image->depth != 32 && image->depth != 24) return 0;
    const uint32_t samples = withAlpha ? 4 : 3;
    const uint32_t entries = withAlpha ? 13 : 12;
    const uint64_t rowBytes = uint64_t(image->width) * samples;
    const uint64_t pixelBytes = rowBytes * uint64_t(image->height);
    const uint64_t bitsAt = (8 + pixelBytes + 1) & ~uint64_t(1);
    const uint64_t xResAt = bitsAt + 2 * samples;
    const uint64_t yResAt = xResAt + 8;
    const uint64_t ifdAt = yResAt + 8;
    // Every offset in the file is a LONG.
    if (ifdAt + 2 + 12 * uint64_t(entries) + 4 > UINT32_MAX) return 0;

    AtomicFile file(path);
    if (!file.Ok()) return 0;
    std::vector<uint8_t> buffer;
    buffer.reserve(8);
    buffer.push_back('I');
    buffer.push_back('I');
    PutU16(buffer, 42);
    PutU32(buffer, ifdAt);
    if (!file.Write(buffer)) return 0;

    // The pixels go out in batches of rows, so a big picture never needs a
    // second whole copy in memory.
    const int rowsPerBatch = int(std::max<uint64_t>(1, (uint64_t(1) << 20) / rowBytes));
    for (int y = 0; y < image->height; y += rowsPerBatch) {
        buffer.clear();
        if (!AppendTiffRows(buffer, *image, y, std::min(image->height, y + rowsPerBatch), int(samples)) ||
            !file.Write(buffer))
            return 0;
    }

    buffer.clear();
    if ((8 + pixelBytes) % 2 != 0) buffer.push_back(0);
    for (uint32_t i = 0; i < samples; ++i) PutU16(buffer, 8);
    for (int i = 0; i < 2; ++i) {
        PutU32(buffer, 72);
        PutU32(buffer, 1);
    }
    PutU16(buffer, entries);
    WriteTiffIfdEntry(buffer, kTagImageWidth, kTypeLong, 1, uint32_t(image->width));
    WriteTiffIfdEntry(buffer, kTagImageLength, kTypeLong, 1, uint32_t(image->height));
    WriteTiffIfdEntry(buffer, kTagBitsPerSample, kTypeShort, samples, uint32_t(bitsAt));
    WriteTiffIfdEntry(buffer, kTagCompression, kTypeShort, 1, 1);
    WriteTiffIfdEntry(buffer, kTagPhotometric, kTypeShort, 1, 2);
    WriteTiffIfdEntry(buffer, kTagStripOffsets, kTypeLong, 1, 8);
    WriteTiffIfdEntry(buffer, kTagSamplesPerPixel, kTypeShort, 1, samples);
    WriteTiffIfdEntry(buffer, kTagRowsPerStrip, kTypeLong, 1, uint32_t(image->height));
    WriteTiffIfdEntry(buffer, kTagStripByteCounts, kTypeLong, 1, uint32_t(pixelBytes));
    WriteTiffIfdEntry(buffer, kTagXResolution, kTypeRational, 1, uint32_t(xResAt));
    WriteTiffIfdEntry(buffer, kTagYResolution, kTypeRational, 1, uint32_t(yResAt));
    WriteTiffIfdEntry(buffer, kTagResolutionUnit, kTypeShort, 1, 2);
    if (withAlpha) WriteTiffIfdEntry(buffer, kTagExtraSamples, kTypeShort, 1, 2);  // unassociated alpha
    PutU32(buffer, 0);
    if (!file.Write(buffer)) return 0;
    return file.Commit() ? 1 : 0;
}
