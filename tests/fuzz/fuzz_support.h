// What the fuzz targets share: a stop that names the broken promise, a
// picture built from the input's bytes, and a private folder for the code
// that only works through files.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "toolkit/bytereader.h"
#include "toolkit/files.h"
#include "toolkit/image.h"

// Stops the run when a promise of the code under test is broken; the fuzzer
// (or the replay test) then keeps the input, and the message names the check.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// Loops of the harness itself tell the fuzzer nothing about the code under
// test; left untraced they no longer dominate the run on big pictures.
#if defined(__clang__)
#define FUZZ_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_UNTRACED
#endif

// Row y of a picture as colours 0xAABBGGRR (alpha 255 for 24 bits).
FUZZ_UNTRACED inline void RowColours(const Image& image, int y, std::vector<uint32_t>& out) {
    out.resize(size_t(image.width));
    const uint8_t* p = image.RowFromTop(y);
    if (image.depth == 32) {
        for (uint32_t& c : out) {
            c = MakeColour(p[2], p[1], p[0], p[3]);
            p += 4;
        }
    } else {
        for (uint32_t& c : out) {
            c = MakeColour(p[2], p[1], p[0]);
            p += 3;
        }
    }
}

// Every pixel's colour, top row first: pixel (x, y) at y * width + x.
FUZZ_UNTRACED inline std::vector<uint32_t> PictureColours(const Image& image) {
    std::vector<uint32_t> all, row;
    all.reserve(size_t(image.width) * size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        RowColours(image, y, row);
        all.insert(all.end(), row.begin(), row.end());
    }
    return all;
}

// A picture of 1..maxWidth x 1..maxHeight pixels, 24 or 32 bits: sides and
// depth from the next five bytes, then the rest of the input repeated over the
// pixel bytes (all zero when nothing is left). It takes the whole input, so
// callers read their own choices first.
inline ImagePtr MakeFuzzPicture(ByteReader& in, int maxWidth, int maxHeight) {
    const int width = 1 + in.U16() % maxWidth;
    const int height = 1 + in.U16() % maxHeight;
    const int depth = (in.U8() & 1) ? 24 : 32;
    const uint64_t left = in.Remaining();
    const uint8_t* bytes = in.Take(left);
    ImagePtr picture = CreateImage(width, height, depth, 0);
    FUZZ_CHECK(picture);
    const size_t rowBytes = size_t(width) * size_t(depth / 8);
    size_t next = 0;
    for (int y = 0; y < height && left > 0; ++y) {
        uint8_t* row = picture->RowFromTop(y);
        for (size_t i = 0; i < rowBytes; ++i, next = (next + 1) % size_t(left)) row[i] = bytes[next];
    }
    return picture;
}

// Pictures above this many pixels are legal (64 KiB of the best deflate
// holds 1-bit PNG rows of 23000 x 23000 pixels, 2 GB once decoded) but only
// measure the allocator, and the memory limits of the runs are set for
// pictures below it; the decode paths they reach are the same.
constexpr uint64_t kMaxFuzzPngPixels = uint64_t(1) << 24;

// The largest width x height of any IHDR chunk among PNG chunks (the bytes
// after the signature), found as libpng walks them: by their lengths, up to
// the first that runs past the end.
inline uint64_t ClaimedPngPixels(const uint8_t* chunks, size_t size) {
    ByteReader in(chunks, size);
    uint64_t largest = 0;
    while (in.Remaining() >= 12) {
        const uint64_t length = in.U32BE();
        const uint32_t type = in.U32BE();
        if (type == 0x49484452u && length >= 8 && in.Remaining() >= 8) {  // "IHDR"
            const uint64_t width = in.U32BE(), height = in.U32BE();
            largest = std::max(largest, width * height);
            if (!in.Skip(length - 8 + 4)) break;
        } else if (!in.Skip(length + 4)) {
            break;
        }
    }
    return largest;
}

// While it lives, the code run leaves the fuzzer's coverage counters as they
// were: for work whose coverage depends on timing.
class CoverageNotCounted {
public:
    CoverageNotCounted();
    ~CoverageNotCounted();
    CoverageNotCounted(const CoverageNotCounted&) = delete;
    CoverageNotCounted& operator=(const CoverageNotCounted&) = delete;

private:
    std::vector<uint8_t> saved_;
};

// A folder of this process's own, removed when the process ends normally.
// Memory-backed when the system has one, since targets write many small files.
inline const std::string& FuzzTempFolder() {
    struct Folder {
        std::string path;
        Folder() {
            const char* const bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
            for (const char* base : bases) {
                if (!base) continue;
                std::string name = std::string(base) + "/orvanta-fuzz-XXXXXX";
                if (mkdtemp(name.data())) {
                    path = name + "/";
                    return;
                }
            }
            std::fprintf(stderr, "no temporary folder can be made\n");
            std::abort();
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}

// The whole file, or an empty vector when it cannot be read.
inline std::vector<uint8_t> ReadBack(const std::string& path) {
    std::vector<uint8_t> data;
    ReadWholeFile(path, data);
    return data;
}
