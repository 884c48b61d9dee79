// Running out of memory on purpose. This program replaces the global operator
// new so that allocations from a chosen size upwards fail on request, and
// checks that the places where a big buffer is made then tell the user it
// was memory, not a damaged file. It is an executable of its own so that no
// other test runs under the replaced allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/hdr.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"

namespace {

size_t gFailFrom = 0;  // 0: nothing fails
int gLetThrough = 0;   // allocations of gFailFrom bytes or more that still succeed

void* Allocate(size_t size) noexcept {
    if (gFailFrom != 0 && size >= gFailFrom) {
        if (gLetThrough == 0) return nullptr;
        --gLetThrough;
    }
    return std::malloc(size ? size : 1);
}

// Allocations of `bytes` or more fail once `letThrough` of them have been
// made; destroying it switches failures off.
class LargeAllocationsFail {
public:
    LargeAllocationsFail(size_t bytes, int letThrough) {
        gFailFrom = bytes;
        gLetThrough = letThrough;
    }
    ~LargeAllocationsFail() { gFailFrom = 0; }
    LargeAllocationsFail(const LargeAllocationsFail&) = delete;
    LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;
};

constexpr size_t kMiB = size_t(1) << 20;

}  // namespace

void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// An 8 MiB entry: with allocations of 4 MiB and more failing, unpacking it
// runs out of memory; without, it unpacks.
TEST(OutOfMemory, ArchiveEntrySaysSo) {
    const std::string dir = MakeTempFolder("oom");
    const std::string archive = dir + "pack.gro";
    ASSERT_TRUE(WriteRawZip(archive, {{"big.tex", DeflatedZeros(8 * kMiB), 8 * kMiB, Crc32OfZeros(8 * kMiB)}}));
    const std::string text = "Not enough memory for this operation.";
    {
        LargeAllocationsFail fail(4 * kMiB, 0);
        int64_t size = 0;
        std::string failure;
        EXPECT_TRUE(ExtractGroEntry(archive, "big.tex", size, &failure).empty());
        EXPECT_EQ(failure, text);
        EXPECT_EQ(size, int64_t(8 * kMiB));
        TexInfo info;
        EXPECT_FALSE(LoadImageAnySource(archive + "::big.tex", info));
        EXPECT_EQ(info.errorText, text);
    }
    int64_t size = 0;
    EXPECT_EQ(ExtractGroEntry(archive, "big.tex", size).size(), 8 * kMiB);
}

// A 2048 x 1024 ".hdr" file of a few hundred kilobytes (run-length rows)
// whose RGBE block and display image take 8 MiB each.
std::string RunLengthHdrFile(int width, int height) {
    std::string file = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(height) + " +X " +
                       std::to_string(width) + "\n";
    const char plane[4] = {char(200), char(100), char(50), char(130)};
    for (int y = 0; y < height; ++y) {
        file += {2, 2, char(width >> 8), char(width & 255)};
        for (char value : plane) {
            for (int left = width; left > 0; left -= 127) file += {char(128 + std::min(left, 127)), value};
        }
    }
    return file;
}

TEST(OutOfMemory, HdrDisplaySaysSo) {
    const std::string dir = MakeTempFolder("oom");
    const std::string path = dir + "sky.hdr";
    const std::string bytes = RunLengthHdrFile(2048, 1024);
    ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size()));
    struct Case {
        const char* what;
        int letThrough;  // -1: nothing fails
        std::string text;
    } cases[] = {
        {"no room for the RGBE block", 0, "Not enough memory for the image."},
        {"no room for the display image", 1, "Not enough memory for the image."},
        {"room for both", -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TexInfo info;
        ImagePtr image;
        {
            LargeAllocationsFail fail(c.letThrough < 0 ? 0 : 4 * kMiB, c.letThrough);
            image = LoadImageFileByExtension(path, info);
        }
        EXPECT_EQ(bool(image), c.text.empty());
        EXPECT_EQ(info.errorText, c.text);
        if (image) {
            EXPECT_EQ(image->width, 2048);
            EXPECT_EQ(GetPixelColour(*image, 5, 7), GetPixelColour(*image, 2047, 1023));
        }
    }
    // The reader itself hands the block back to its caller when only the
    // display image failed.
    TexInfo info;
    {
        LargeAllocationsFail fail(4 * kMiB, 1);
        EXPECT_FALSE(ReadHdrFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()), info));
    }
    EXPECT_EQ(info.errorText, "Not enough memory for the image.");
    ASSERT_TRUE(info.hdrData);
    EXPECT_EQ(info.hdrData->bytes.size(), 8 * kMiB);
}

}  // namespace
