// PNG files opened through their path, where a file of 1 MiB or more is
// inflated on a thread of its own ahead of libpng when more than one thread
// may run. The input is the file's chunks: they follow the signature and a
// private chunk of a little over 1 MiB, which libpng passes over, so every
// input reaches the thread, cut into the thread's pieces at a point that
// depends on the input. Decoded with one thread and with two, the file must
// give the same result: the same picture, pixel for pixel, or the same
// failure text. The two-thread decode's coverage depends on timing, so the
// fuzzer sees only the one-thread decode's.
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "toolkit/codecs.h"
#include "toolkit/parallel.h"

namespace {

// What one decode gave: a picture, or a failure with its text.
struct Outcome {
    std::string error;
    int sourceDepth = 0, width = 0, height = 0, depth = 0;
    std::vector<uint32_t> colours;
    bool operator==(const Outcome&) const = default;
};

FUZZ_UNTRACED Outcome Decode(const std::string& path, bool to32, int threads) {
    SetThreadCountForTesting(threads);
    Outcome out;
    ImagePtr image = to32 ? DecodeImageFileTo32Bit(path, &out.sourceDepth, &out.error)
                          : DecodeImageFile(path, &out.error);
    SetThreadCountForTesting(0);
    if (image) out = {out.error, out.sourceDepth, image->width, image->height, image->depth, PictureColours(*image)};
    FUZZ_CHECK(image || !out.error.empty());
    return out;
}

// The file: signature, then a private ancillary chunk ("orVa") of 1 MiB of
// zeros and up to 64 KiB more (about one piece of the thread's), then the
// input; written over the last file's pages and cut to length.
class PaddedFile {
public:
    PaddedFile() : fd_(memfd_create("fuzz_png_file", 0)), zeros_(kLeastPadding + kExtra) {
        FUZZ_CHECK(fd_ >= 0);
        leastCrc_ = crc32(crc32(0, head_ + 12, 4), zeros_.data(), uInt(kLeastPadding));
    }
    // The file's path after writing it for the input.
    std::string Write(const uint8_t* data, size_t size) {
        const size_t extra = size ? crc32(0, data, uInt(size)) % kExtra : 0, padding = kLeastPadding + extra;
        uint8_t crc[4];
        PutU32(head_ + 8, uint32_t(padding));
        PutU32(crc, uint32_t(crc32_combine(leastCrc_, crc32(0, zeros_.data(), uInt(extra)), z_off_t(extra))));
        FUZZ_CHECK(pwrite(fd_, head_, 16, 0) == 16 && pwrite(fd_, zeros_.data(), padding, 16) == ssize_t(padding) &&
                   pwrite(fd_, crc, 4, off_t(16 + padding)) == 4);
        FUZZ_CHECK(size == 0 || pwrite(fd_, data, size, off_t(20 + padding)) == ssize_t(size));
        FUZZ_CHECK(ftruncate(fd_, off_t(20 + padding + size)) == 0);
        return "/proc/self/fd/" + std::to_string(fd_);
    }

private:
    static constexpr size_t kLeastPadding = size_t(1) << 20, kExtra = size_t(1) << 16;
    static void PutU32(uint8_t* at, uint32_t v) {
        for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (24 - 8 * i));
    }
    int fd_;
    std::vector<uint8_t> zeros_;
    uint8_t head_[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 0, 'o', 'r', 'V', 'a'};
    uLong leastCrc_;  // of the chunk's type and its least padding
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ClaimedPngPixels(data, size) > kMaxFuzzPngPixels) return 0;
    static PaddedFile file;
    const std::string path = file.Write(data, size);
    // Inputs of odd length take the 32-bit form, as in the codec target.
    const bool to32 = size % 2 == 1;
    const Outcome alone = Decode(path, to32, 1);
    const CoverageNotCounted timingDependent;
    FUZZ_CHECK(Decode(path, to32, 2) == alone);
    return 0;
}
