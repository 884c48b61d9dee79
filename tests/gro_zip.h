// Test archives: ZIP files written with libarchive (stored or deflate, folder
// entries), ZIP files put together byte by byte with any sizes in their
// headers, and a ".tex" picture as bytes to put into them.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/tex.h"
#include "toolkit/files.h"
#include "toolkit/image.h"

struct ZipItem {
    std::string name;
    std::string data;
    bool store = false;   // else deflate
    bool folder = false;  // a directory entry (name ends in "/")
};

inline bool WriteTestZip(const std::string& path, const std::vector<ZipItem>& items) {
    archive* a = archive_write_new();
    bool ok = archive_write_set_format_zip(a) == ARCHIVE_OK && archive_write_open_filename(a, path.c_str()) == ARCHIVE_OK;
    for (const ZipItem& item : items) {
        if (!ok) break;
        ok = (item.store ? archive_write_zip_set_compression_store(a) : archive_write_zip_set_compression_deflate(a)) ==
             ARCHIVE_OK;
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, item.name.c_str());
        archive_entry_set_filetype(e, item.folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e, item.folder ? 0755 : 0644);
        archive_entry_set_size(e, item.folder ? 0 : int64_t(item.data.size()));
        ok = ok && archive_write_header(a, e) == ARCHIVE_OK;
        if (ok && !item.folder && !item.data.empty())
            ok = archive_write_data(a, item.data.data(), item.data.size()) == la_ssize_t(item.data.size());
        archive_entry_free(e);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

// A version-4 ".tex" of one colour, as the bytes of its file.
inline std::string MakeTexBytes(const std::string& folder, int width, int height, uint32_t colour) {
    ImagePtr image = CreateImage(width, height, 32, colour);
    const std::string path = folder + "made.tex";
    std::vector<uint8_t> bytes;
    if (!image || WriteTexFile(image.get(), path, 0, 0, 0) != 1 || !ReadWholeFile(path, bytes)) return {};
    RemoveFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// One entry of a ZIP file written byte by byte: the headers state `size`
// whatever `packed` really unpacks to. Sizes of 4 GiB and more go into a
// ZIP64 field, as real archivers write them.
struct RawZipItem {
    std::string name;
    std::string packed;  // the entry's data as stored
    uint64_t size = 0;   // the unpacked size the headers claim
    uint32_t crc = 0;
    uint16_t method = 8;  // 0 stored, 8 deflate
};

inline void PutLe(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 255);
}

inline bool WriteRawZip(const std::string& path, const std::vector<RawZipItem>& items) {
    std::string body, central;
    for (const RawZipItem& item : items) {
        const bool zip64 = item.size >= 0xffffffffu || item.packed.size() >= 0xffffffffu;
        std::string extra;
        if (zip64) {
            PutLe(extra, 1, 2);
            PutLe(extra, 16, 2);
            PutLe(extra, item.size, 8);
            PutLe(extra, item.packed.size(), 8);
        }
        std::string fields;  // from "version needed" to "extra length", shared by both headers
        PutLe(fields, zip64 ? 45 : 20, 2);
        PutLe(fields, 0, 2);
        PutLe(fields, item.method, 2);
        PutLe(fields, 0, 2);
        PutLe(fields, 0x21, 2);
        PutLe(fields, item.crc, 4);
        PutLe(fields, zip64 ? 0xffffffffu : item.packed.size(), 4);
        PutLe(fields, zip64 ? 0xffffffffu : item.size, 4);
        PutLe(fields, item.name.size(), 2);
        PutLe(fields, extra.size(), 2);
        central += "PK\x01\x02";
        PutLe(central, 45, 2);
        central += fields;
        PutLe(central, 0, 6);  // comment length, disk, internal attributes
        PutLe(central, 0, 4);  // external attributes
        PutLe(central, body.size(), 4);
        central += item.name + extra;
        body += "PK\x03\x04" + fields + item.name + extra + item.packed;
    }
    std::string end = "PK\x05\x06";
    PutLe(end, 0, 4);
    PutLe(end, items.size(), 2);
    PutLe(end, items.size(), 2);
    PutLe(end, central.size(), 4);
    PutLe(end, body.size(), 4);
    PutLe(end, 0, 2);
    const std::string all = body + central + end;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(all.data(), 1, all.size(), f) == all.size();
    return std::fclose(f) == 0 && ok;
}

// A raw deflate stream of `bytes` zero bytes (a multiple of 64 KiB), made of
// one self-contained compressed piece repeated, so a stream of hundreds of
// megabytes costs a few hundred kilobytes and no time to make.
inline std::string DeflatedZeros(uint64_t bytes) {
    constexpr uInt kPiece = 64 * 1024;
    const std::string zeros(kPiece, '\0');
    std::string piece(1024, '\0'), tail(64, '\0');
    z_stream z{};
    if (bytes % kPiece != 0 || deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = kPiece;
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = uInt(piece.size());
    deflate(&z, Z_FULL_FLUSH);  // byte-aligned, and nothing after it refers back into it
    piece.resize(piece.size() - z.avail_out);
    z.next_out = reinterpret_cast<Bytef*>(tail.data());
    z.avail_out = uInt(tail.size());
    deflate(&z, Z_FINISH);
    tail.resize(tail.size() - z.avail_out);
    deflateEnd(&z);
    std::string stream;
    stream.reserve(size_t(bytes / kPiece) * piece.size() + tail.size());
    for (uint64_t i = 0; i < bytes / kPiece; ++i) stream += piece;
    return stream + tail;
}

inline uint32_t Crc32OfZeros(uint64_t bytes) {
    const std::string zeros(64 * 1024, '\0');
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t left = bytes; left > 0;) {
        const uInt n = uInt(std::min<uint64_t>(left, zeros.size()));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), n);
        left -= n;
    }
    return uint32_t(crc);
}
