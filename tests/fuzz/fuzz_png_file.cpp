// PNG files opened through their path, where a file of 1 MiB or more is
// inflated on a thread of its own ahead of libpng when more than one thread
// may run. The input is the file's chunks: they follow the signature and a
// private chunk of a little over 1 MiB, which libpng passes over, so every
// input reaches the thread, cut into the thread's pieces at a point that
// depends on the input. Decoded with one thread and with two, the file must give the same
// result: the same picture, pixel for pixel, or the same failure text. The
// thread runs as the system schedules it, so the coverage of a run, and with
// it the inputs of a fixed run, may differ a little from one run to the next;
// a difference found is a fault either way.
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "toolkit/codecs.h"
#include "toolkit/parallel.h"

namespace {

// What one decode gave.
struct Outcome {
    bool loaded = false;
    std::string error;
    int sourceDepth = 0;
    int width = 0, height = 0, depth = 0;
    std::vector<uint32_t> colours;
};

FUZZ_UNTRACED Outcome Decode(const std::string& path, bool to32, int threads) {
    SetThreadCountForTesting(threads);
    Outcome out;
    ImagePtr image = to32 ? DecodeImageFileTo32Bit(path, &out.sourceDepth, &out.error)
                          : DecodeImageFile(path, &out.error);
    SetThreadCountForTesting(0);
    if (!image) return out;
    out.loaded = true;
    out.width = image->width;
    out.height = image->height;
    out.depth = image->depth;
    out.colours = PictureColours(*image);
    return out;
}

// The file: signature, then a private ancillary chunk ("orVa") of 1 MiB and
// up to 64 KiB more (about one piece of the thread's), then the input. The
// padding and its CRCs are made once; each input costs a copy into memory.
class PaddedFile {
public:
    PaddedFile() : fd_(memfd_create("fuzz_png_file", 0)), bytes_(kHead + kMostPadding + 4) {
        FUZZ_CHECK(fd_ >= 0);
        const uint8_t head[kHead] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 0, 'o', 'r', 'V', 'a'};
        std::memcpy(bytes_.data(), head, kHead);
        uLong crc = crc32(0, head + 12, 4);
        crc = crc32(crc, bytes_.data() + kHead, uInt(kLeastPadding));
        for (size_t extra = 0; extra < kExtra; ++extra) {
            crcs_[extra] = uint32_t(crc);
            crc = crc32(crc, bytes_.data() + kHead, 1);  // one zero byte more
        }
    }
    // The file's path after writing it for the input.
    std::string Write(const uint8_t* data, size_t size) {
        const size_t extra = size ? crc32(0, data, uInt(size)) % kExtra : 0;
        const size_t padding = kLeastPadding + extra;
        PutU32(bytes_.data() + 8, uint32_t(padding));
        uint8_t* after = bytes_.data() + kHead + padding;
        std::memset(after, 0, kMostPadding - padding);  // zeros where the last input may have been
        PutU32(after, crcs_[extra]);
        const size_t total = kHead + padding + 4;
        // Written over the last file's pages, then cut to length.
        FUZZ_CHECK(pwrite(fd_, bytes_.data(), total, 0) == ssize_t(total));
        FUZZ_CHECK(size == 0 || pwrite(fd_, data, size, off_t(total)) == ssize_t(size));
        FUZZ_CHECK(ftruncate(fd_, off_t(total + size)) == 0);
        return "/proc/self/fd/" + std::to_string(fd_);
    }

private:
    static constexpr size_t kHead = 16;  // signature, then the chunk's length and type
    static constexpr size_t kLeastPadding = size_t(1) << 20;
    static constexpr size_t kExtra = size_t(1) << 16;
    static constexpr size_t kMostPadding = kLeastPadding + kExtra - 1;
    static void PutU32(uint8_t* at, uint32_t v) {
        for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (24 - 8 * i));
    }
    int fd_;
    std::vector<uint8_t> bytes_;
    uint32_t crcs_[kExtra];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ClaimedPngPixels(data, size) > kMaxFuzzPngPixels) return 0;
    static PaddedFile file;
    const std::string path = file.Write(data, size);
    // Inputs of odd length take the 32-bit form, as in the codec target.
    const bool to32 = size % 2 == 1;
    const Outcome one = Decode(path, to32, 1);
    const Outcome two = Decode(path, to32, 2);
    FUZZ_CHECK(one.loaded == two.loaded);
    FUZZ_CHECK(one.error == two.error);
    FUZZ_CHECK(one.loaded || !one.error.empty());
    FUZZ_CHECK(one.sourceDepth == two.sourceDepth);
    FUZZ_CHECK(one.width == two.width && one.height == two.height && one.depth == two.depth);
    FUZZ_CHECK(one.colours == two.colours);
    return 0;
}
