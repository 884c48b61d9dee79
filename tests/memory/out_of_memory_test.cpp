// Running out of memory on purpose: with the global operator new replaced,
// allocations from a chosen size upwards fail, and the places that make big
// buffers must then say it was memory, not a damaged file. A program of its
// own, so that no other test runs under the replaced allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/hdr.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/memory.h"

namespace {

constexpr size_t kMiB = size_t(1) << 20;
size_t gFailFrom = 0;  // 0: nothing fails
int gLetThrough = 0;   // allocations of gFailFrom bytes or more that still succeed

void* Allocate(size_t size) noexcept {
    if (gFailFrom != 0 && size >= gFailFrom && gLetThrough-- <= 0) return nullptr;
    return std::malloc(size ? size : 1);
}

// While it lives, allocations of `bytes` or more fail once `letThrough` of
// them have been made.
struct LargeAllocationsFail {
    LargeAllocationsFail(size_t bytes, int letThrough) { gFailFrom = bytes, gLetThrough = letThrough; }
    ~LargeAllocationsFail() { gFailFrom = 0; }
};

}  // namespace

void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
// GCC cannot see that every new above is malloc underneath.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

const std::string kNoMemory = "Not enough memory for this operation.";
const std::string kNoMemoryForImage = "Not enough memory for the image.";

// An 8 MiB entry: with allocations of 4 MiB and more failing, unpacking it
// runs out of memory, noted as a refusal; without, it unpacks.
TEST(OutOfMemory, ArchiveEntrySaysSo) {
    const std::string archive = MakeTempFolder("oom") + "pack.gro";
    ASSERT_TRUE(WriteRawZip(archive, {{"big.tex", DeflatedZeros(8 * kMiB), 8 * kMiB, Crc32OfZeros(8 * kMiB)}}));
    int64_t size = 0;
    {
        const MemoryRefusalWatch watch;
        LargeAllocationsFail fail(4 * kMiB, 0);
        std::string failure;
        EXPECT_TRUE(ExtractGroEntry(archive, "big.tex", size, &failure).empty());
        EXPECT_EQ(failure, kNoMemory);
        EXPECT_TRUE(watch.Refused());
        EXPECT_EQ(size, int64_t(8 * kMiB));
        TexInfo info;
        EXPECT_FALSE(LoadImageAnySource(archive + "::big.tex", info));
        EXPECT_EQ(info.errorText, kNoMemory);
    }
    EXPECT_EQ(ExtractGroEntry(archive, "big.tex", size).size(), 8 * kMiB);
}

// Memory refused while a writer's file grows counts for the work that met
// it, as a refused check does, so a batch item that failed for it goes again
// alone. Noise makes files of several MiB.
TEST(OutOfMemory, RefusalsInGrowingFilesCountForTheirWork) {
    ImagePtr noise = CreateImageUnfilled(2048, 1024, 32);
    uint32_t seed = 7;
    for (size_t i = 0; i < noise->ByteCount(); ++i) noise->pixels[i] = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    std::vector<uint8_t> out;
    for (bool png : {true, false}) {
        const MemoryRefusalWatch watch;
        LargeAllocationsFail fail(4 * kMiB, 0);
        EXPECT_FALSE(png ? EncodePngMemory(*noise, 32, out) : EncodeJpegMemory(*noise, 100, out)) << png;
        EXPECT_TRUE(watch.Refused()) << png;
    }
}

// A 2048 x 1024 ".hdr" file of a few hundred kilobytes (run-length rows) whose
// RGBE block and display image take 8 MiB each.
TEST(OutOfMemory, HdrDisplaySaysSo) {
    constexpr int kWidth = 2048, kHeight = 1024;
    std::string bytes = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1024 +X 2048\n";
    for (int y = 0; y < kHeight; ++y) {
        bytes += {2, 2, char(kWidth >> 8), char(kWidth & 255)};
        for (char value : {char(200), char(100), char(50), char(130)})
            for (int left = kWidth; left > 0; left -= 127) bytes += {char(128 + std::min(left, 127)), value};
    }
    const std::string path = MakeTempFolder("oom") + "sky.hdr";
    ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size()));
    // Allocations let through before the failures start: none (the RGBE
    // block fails), one (the display image fails), or no failure at all.
    for (int letThrough : {0, 1, -1}) {
        SCOPED_TRACE(letThrough);
        TexInfo info;
        ImagePtr image;
        {
            LargeAllocationsFail fail(letThrough < 0 ? 0 : 4 * kMiB, letThrough);
            image = LoadImageFileByExtension(path, info);
        }
        EXPECT_EQ(info.errorText, letThrough < 0 ? "" : kNoMemoryForImage);
        ASSERT_EQ(bool(image), letThrough < 0);
        EXPECT_TRUE(!image || GetPixelColour(*image, 5, 7) == GetPixelColour(*image, kWidth - 1, kHeight - 1));
    }
    // The reader itself hands the block back when only the display image failed.
    TexInfo info;
    {
        LargeAllocationsFail fail(4 * kMiB, 1);
        EXPECT_FALSE(ReadHdrFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()), info));
    }
    EXPECT_EQ(info.errorText, kNoMemoryForImage);
    ASSERT_TRUE(info.hdrData);
    EXPECT_EQ(info.hdrData->bytes.size(), 8 * kMiB);
}

}  // namespace
