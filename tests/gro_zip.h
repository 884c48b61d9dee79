// Test archives: ZIP files written with libarchive (stored or deflate, folder
// entries), and a ".tex" picture as bytes to put into them.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
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
