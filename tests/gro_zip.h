// Test archives: ZIP files written with libarchive (stored or deflate, folder
// entries), ZIP files put together byte by byte with any sizes in their
// headers, and a ".tex" picture as bytes to put into them.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
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

// One entry of a ZIP file written byte by byte: the headers claim `size`
// whatever `packed` unpacks to; 4 GiB and more go into a ZIP64 field.
struct RawZipItem {
    std::string name, packed;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint16_t method = 8;  // 0 stored, 8 deflate
};

// Little-endian fields, each a value and its width in bytes (at most 8).
inline std::string Le(std::initializer_list<std::pair<uint64_t, int>> fields) {
    std::string out;
    for (const auto& [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 255);
    return out;
}

inline bool WriteRawZip(const std::string& path, const std::vector<RawZipItem>& items) {
    std::string body, central;
    for (const RawZipItem& item : items) {
        const bool zip64 = item.size >= 0xffffffffu || item.packed.size() >= 0xffffffffu;
        const std::string extra = zip64 ? Le({{1, 2}, {16, 2}, {item.size, 8}, {item.packed.size(), 8}}) : "";
        // From "version needed" to "extra length", the same in both headers.
        const std::string fields = Le({{zip64 ? 45 : 20, 2}, {0, 2}, {item.method, 2}, {0, 2}, {0x21, 2}, {item.crc, 4},
                                       {zip64 ? 0xffffffffu : item.packed.size(), 4},
                                       {zip64 ? 0xffffffffu : item.size, 4}, {item.name.size(), 2}, {extra.size(), 2}});
        central += "PK\x01\x02" + Le({{45, 2}}) + fields + Le({{0, 6}, {0, 4}, {body.size(), 4}}) + item.name + extra;
        body += "PK\x03\x04" + fields + item.name + extra + item.packed;
    }
    const std::string all =
        body + central + "PK\x05\x06" +
        Le({{0, 4}, {items.size(), 2}, {items.size(), 2}, {central.size(), 4}, {body.size(), 4}, {0, 2}});
    return WriteWholeFile(path, all.data(), all.size());
}

// A raw deflate stream of `bytes` zero bytes (a multiple of 64 KiB): one
// byte-aligned piece that refers back to nothing before it, repeated, so
// gigabytes of zeros cost megabytes and no time to make.
inline std::string DeflatedZeros(uint64_t bytes) {
    static const std::string zeros(65536, '\0');
    std::string piece(1024, '\0'), tail(64, '\0');
    z_stream z{};
    if (bytes % zeros.size() != 0 || deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = uInt(zeros.size());
    for (auto [out, flush] : {std::pair{&piece, Z_FULL_FLUSH}, std::pair{&tail, Z_FINISH}}) {
        z.next_out = reinterpret_cast<Bytef*>(out->data());
        z.avail_out = uInt(out->size());
        deflate(&z, flush);
        out->resize(out->size() - z.avail_out);
    }
    deflateEnd(&z);
    std::string stream;
    for (uint64_t i = 0; i < bytes / zeros.size(); ++i) stream += piece;
    return stream + tail;
}

inline uint32_t Crc32OfZeros(uint64_t bytes) {
    const std::string zeros(bytes, '\0');
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), uInt(bytes)));
}
