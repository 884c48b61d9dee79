// The memory the program plans with: cgroup limit files (v1 and v2, the
// group's chain of parents), resource limits, and the smallest of them; the
// room picture buffers are granted, and the readers and writers that ask it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "adjust/normalmap.h"
#include "formats/dds.h"
#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/hdr.h"
#include "formats/pcx.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/parallel.h"

namespace {

TEST(ToolkitMemory, ControlGroupLimitTexts) {
    const std::pair<const char*, uint64_t> cases[] = {{"1073741824\n", 1073741824u}, {" 42 ", 42}, {"max\n", 0},
                                                      {"", 0}, {"12ab", 0}, {"-5", 0},
                                                      {"99999999999999999999999", UINT64_MAX}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseControlGroupLimit(text), value) << '"' << text << '"';
}

// The limit of a group and each parent counts, and so does the room left
// below it: the usage less the file cache the group can give back.
TEST(ToolkitMemory, ControlGroupChainGivesItsSmallestLimit) {
    const std::string root = MakeTempFolder("cgroup");
    for (const auto& [path, text] : std::initializer_list<std::pair<std::string, std::string>>{
             {"memory.max", "max\n"},
             {"user/memory.max", "2000\n"},
             {"user/memory.current", "1500\n"},
             {"user/memory.stat", "anon 900\ninactive_file 300\nactive_file 100\n"},
             {"user/app/memory.max", "max\n"},
             {"unified/memory.max", "7000\n"},
             {"unified/memory.current", "6500\n"},
             {"memory/memory.limit_in_bytes", "5000\n"},
             {"memory/memory.usage_in_bytes", "4800\n"},
             {"memory/memory.stat", "inactive_file 4000\ntotal_inactive_file 100\ntotal_active_file 50\n"},
             {"memory/box/memory.limit_in_bytes", "9223372036854771712\n"},
             {"memory/box/memory.usage_in_bytes", "10\n"},
             {"memory/full/memory.limit_in_bytes", "100\n"},
             {"memory/full/memory.usage_in_bytes", "300\n"},
             // Kernel memory, reclaimable or held, and swap beyond the memory limit.
             {"slab/memory.max", "1000\n"},
             {"slab/memory.current", "900\n"},
             {"slab/memory.stat", "inactive_file 60\nactive_file 40\nslab_reclaimable 300\nslab 500\n"},
             {"slab/memory.swap.max", "150\n"},
             {"slab/memory.swap.current", "100\n"},
             {"slab/none/memory.max", "max\n"},
             {"slab/none/memory.swap.max", "0\n"},
             {"nosplit/memory.max", "400\n"},
             {"nosplit/memory.current", "350\n"},
             {"nosplit/memory.stat", "slab 200\n"},
             {"nosplit/memory.swap.max", "max\n"},
             {"memory/kmem/memory.limit_in_bytes", "300\n"},
             {"memory/kmem/memory.usage_in_bytes", "280\n"},
             {"memory/kmem/memory.kmem.usage_in_bytes", "200\n"},
             {"memory/kmem/memory.memsw.limit_in_bytes", "350\n"},
             {"memory/kmem/memory.memsw.usage_in_bytes", "280\n"},
             {"memory/kmem/noswap/memory.limit_in_bytes", "300\n"},
             {"memory/kmem/noswap/memory.usage_in_bytes", "250\n"},
             {"memory/kmem/noswap/memory.kmem.usage_in_bytes", "200\n"},
             {"memory/kmem/noswap/memory.swappiness", "0\n"}}) {
        ASSERT_TRUE(CreateFolder(GetFolderPart(root + path)));
        ASSERT_TRUE(WriteWholeFile(root + path, text.data(), text.size()));
    }
    constexpr uint64_t kNone = UINT64_MAX;
    const struct {
        const char* what;
        std::string procText;
        uint64_t limit;
        uint64_t room;
        uint64_t freeSwap = 0;  // the machine's
    } cases[] = {
        {"v2: a parent's limit holds for its children", "0::/user/app\n", 2000, 500},
        {"v2: a group missing from this view", "0::/gone/deeper\n", 7000, 500},
        {"v1: the memory controller's chain", "4:memory:/box\n", 5000, 350},
        {"v1: memory among other controllers", "4:cpu,memory:/box\n", 5000, 350},
        {"v1: a group over its limit", "4:memory:/full\n", 100, 0},
        {"v1: other controllers only", "3:cpu,cpuacct:/box\n", 0, kNone},
        {"both hierarchies", "4:memory:/box\n0::/user/app\n", 2000, 350},
        {"no text", "", 0, kNone},
        {"malformed lines", "garbage\n4:memory\n", 0, kNone},
        {"v2: reclaimable slab given back; no swap on the machine", "0::/slab\n", 1000, 500},
        {"v2: swap up to the machine's free swap", "0::/slab\n", 1000, 530, 30},
        {"v2: swap up to the group's swap limit", "0::/slab\n", 1000, 550, 5000},
        {"v2: a child group that may not swap", "0::/slab/none\n", 1000, 500, 5000},
        {"v2: slab without a split counts as held", "0::/nosplit\n", 400, 5050, 5000},
        {"v1: kernel memory counts as held, swap within memory and swap", "4:memory:/kmem\n", 300, 70, 5000},
        {"v1: no swap on the machine", "4:memory:/kmem\n", 300, 20, 0},
        {"v1: a group that never swaps", "4:memory:/kmem/noswap\n", 300, 20, 5000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindControlGroupLimit(c.procText, root), c.limit) << c.what;
        EXPECT_EQ(FindControlGroupRoom(c.procText, root, c.freeSwap), c.room) << c.what;
    }
}

TEST(ToolkitMemory, SmallestLimitWins) {
    constexpr uint64_t G = uint64_t(1) << 30;
    EXPECT_EQ(SmallestMemoryLimit({0, 0, 0, 0}), 0u);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 2 * G, 0, 0}), 2 * G);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 0, 1 * G, 3 * G}), 1 * G);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 16 * G, 0, 4 * G}), 4 * G);
}

// A session started with a data limit (ulimit -d) plans with that limit, and
// what it already holds counts against it; the limit is set in a process of
// its own.
TEST(ToolkitMemory, ResourceLimitLowersUsableMemory) {
    EXPECT_GT(ReadMemoryLimits().physical, 0u);
    if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's allocator aborts instead of failing";
    const std::string text = RunInFreshProcess([] {
        constexpr rlim_t kLimit = rlim_t(3) << 30;
        rlimit lim{};
        if (getrlimit(RLIMIT_DATA, &lim) != 0) return "no limit to read";
        if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < kLimit) return "planned within";  // already lower
        lim.rlim_cur = kLimit;
        if (setrlimit(RLIMIT_DATA, &lim) != 0) return "the limit was refused";
        return ReadMemoryLimits().dataSegment == kLimit && GetUsableMemoryBytes() <= kLimit &&
                       GetFreeMemoryBytes() < kLimit
                   ? "planned within"
                   : "planned beyond";
    });
    EXPECT_EQ(text, "planned within");
}

// Once the room is small, what a piece of work frees goes back to the system
// at once, so the next finds the room it left: a block the C library kept
// would still count against a memory group or, here, a data limit.
TEST(ToolkitMemory, FreedBlocksGoBackOnceTheRoomIsSmall) {
    if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's allocator keeps freed blocks itself";
    const std::string text = RunInFreshProcess([] {
        const auto dataMiB = [] { return ProcessStatusKiB("VmData:") >> 10; };
        rlimit lim{};
        if (getrlimit(RLIMIT_DATA, &lim) != 0) return std::string("no limit to read");
        const rlim_t wanted = rlim_t(dataMiB() + 512) << 20;
        if (lim.rlim_max == RLIM_INFINITY || lim.rlim_max >= wanted) lim.rlim_cur = wanted;
        if (setrlimit(RLIMIT_DATA, &lim) != 0) return std::string("the limit was refused");
        if (!HasRoomFor(kPictureMemoryCheckedFrom)) return std::string("no room at all");
        const long long before = dataMiB();
        // The library keeps the second block of a size it has seen freed.
        for (int i = 0; i < 2; ++i) {
            std::vector<uint8_t> block(size_t(16) << 20, 1);
            asm volatile("" : : "r"(block.data()) : "memory");
        }
        const long long kept = dataMiB() - before;
        return kept <= 1 ? std::string("given back") : "kept " + std::to_string(kept) + " MiB";
    });
    EXPECT_EQ(text, "given back");
}

// A picture buffer is granted against the memory left, less the reserve and
// less what earlier buffers will take once written: the kernel counts a
// buffer's pages only as they are written, so a second buffer checked
// against the same figure must not be granted the same room.
TEST(ToolkitMemory, PictureMemoryCountsBuffersNotWrittenYet) {
    constexpr uint64_t kMiB = uint64_t(1) << 20;
    struct Reset {
        ~Reset() { SetFreeMemoryForTesting(0); }
    } reset;
    SetFreeMemoryForTesting(kMemoryReserveBytes + 100 * kMiB);
    EXPECT_TRUE(HasRoomFor(100 * kMiB));
    EXPECT_FALSE(HasRoomFor(100 * kMiB + 1));
    EXPECT_TRUE(HasRoomFor(100 * kMiB + 1, 1));
    EXPECT_FALSE(NewPictureArray<uint8_t>(100 * kMiB + 1));

    PictureArray<uint8_t> first = NewPictureArray<uint8_t>(64 * kMiB);
    ASSERT_TRUE(first);
    EXPECT_FALSE(HasRoomFor(64 * kMiB)) << "a buffer not written yet holds its room";
    EXPECT_FALSE(NewPictureArray<uint32_t>(16 * kMiB));
    std::memset(first.get(), 1, 64 * kMiB);
    EXPECT_TRUE(HasRoomFor(64 * kMiB)) << "once written, the figure from the kernel counts it";

    PictureArray<uint8_t> second = NewPictureArray<uint8_t>(64 * kMiB);
    ASSERT_TRUE(second);
    second.reset();
    EXPECT_TRUE(HasRoomFor(100 * kMiB)) << "a buffer freed unwritten gives its room back";

    SetFreeMemoryForTesting(1);
    EXPECT_TRUE(NewPictureArray<uint8_t>(kPictureMemoryCheckedFrom - 1)) << "small buffers live on the reserve";
}

// A refusal counts for the watches of the work that met it: on the watching
// thread, on a band pool helper working for it, or noted for a bad_alloc;
// never for a refusal of another thread's work at the same time, nor for an
// inner watch that ended before it.
TEST(ToolkitMemory, RefusalsCountForTheWorkThatMetThem) {
    SetFreeMemoryForTesting(kMemoryReserveBytes + 1);
    const auto refuse = [] { EXPECT_FALSE(HasRoomFor(2)); };
    // Bands off the caller's thread are refused; the caller's band waits for one.
    const auto onHelpers = [] {
        SetThreadCountForTesting(4);
        const std::thread::id caller = std::this_thread::get_id();
        std::atomic<bool> helped{false};
        ParallelForBands(16, 1, [&](int64_t, int64_t) {
            if (std::this_thread::get_id() != caller) helped = !HasRoomFor(2);
            for (int i = 0; i < 2000 && !helped; ++i) usleep(1000);
        });
        SetThreadCountForTesting(0);
    };
    const auto elsewhere = [&] { std::thread(refuse).join(); };
    const struct {
        const char* what;
        std::function<void()> insideInner, afterInner;
        bool inner, outer;
    } cases[] = {
        {"on the watching thread", refuse, [] {}, true, true},
        {"on band pool helpers", onHelpers, [] {}, true, true},
        {"a bad_alloc noted", [] { NoteMemoryRefusal(); }, [] {}, true, true},
        {"on another thread", elsewhere, elsewhere, false, false},
        {"after the inner watch", [] {}, refuse, false, true},
    };
    for (const auto& c : cases) {
        const MemoryRefusalWatch outer;
        bool inner = false;
        {
            const MemoryRefusalWatch watch;
            c.insideInner();
            inner = watch.Refused();
        }
        c.afterInner();
        EXPECT_EQ(inner, c.inner) << c.what;
        EXPECT_EQ(outer.Refused(), c.outer) << c.what;
    }
    SetFreeMemoryForTesting(0);
}

// Readers and writers ask for room before each buffer of picture or file
// size. Given a room (beyond the reserve) that lets the picture or its file
// through but not that buffer, each fails as it does when memory runs out, a
// writer leaving the old file and no temporary; with room it works.
TEST(ToolkitMemory, PictureSizedBuffersAskForRoomFirst) {
    constexpr uint64_t kMiB = uint64_t(1) << 20, kTight = kMiB / 2;  // nothing of 1 MiB or more fits
    struct Reset {
        ~Reset() { SetFreeMemoryForTesting(0); }
    } reset;
    const TempFolder folder;
    const std::string dir = folder.path;
    // 1024 x 1024 of noise, alpha too: 4 MiB of pixels, and files no smaller.
    ImagePtr picture = CreateImageUnfilled(1024, 1024);
    uint8_t* const pixels = picture->pixels.get();
    uint32_t seed = 1;
    for (size_t i = 0; i < picture->ByteCount(); ++i) pixels[i] = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    const HdrBlock block{1024, 1024, std::vector<uint8_t>(pixels, pixels + picture->ByteCount())};
    std::vector<uint8_t> hdr;
    ASSERT_EQ(WriteTgaFile(*picture, dir + "in.tga", true), 1);
    ASSERT_TRUE(EncodeBmpFile(*picture, dir + "in.bmp"));
    ASSERT_TRUE(WriteHdrFile(&block, 1024, 1024, dir + "in.hdr") && ReadWholeFile(dir + "in.hdr", hdr));
    ASSERT_TRUE(WriteRawZip(dir + "in.gro", {{"big.tex", DeflatedZeros(8 * kMiB), 8 * kMiB, Crc32OfZeros(8 * kMiB)}}));
    // Files no writer of ours makes: a progressive JPEG, and TIFF files of
    // one deflated strip, which libtiff unpacks whole (a 24-bit picture reads
    // it in one band; 16-bit samples make it twice the picture's size).
    const bool magick = HaveImageMagick();
    for (const char* made : {"1024x1024 gradient: -interlace Plane prog.jpg",
                             "1024x1024 gradient: -compress zip -define tiff:rows-per-strip=1024 strip.tif",
                             "1024x1024 gradient: -depth 16 -type TrueColorAlpha -compress zip -define "
                             "tiff:rows-per-strip=1024 big.tif"})
        ASSERT_TRUE(!magick || RunPeer("cd '" + dir + "' && convert-im6.q16 -size " + made)) << made;

    using Run = std::function<std::string(const std::string& target)>;  // "" when it worked, else what it said
    struct Row {
        const char* what;
        uint64_t room;
        Run run;
        std::string refusal;
        std::string target = {};  // a writer's file, "old" before
    };
    auto decodes = [&](const char* name, bool to32 = false) -> Run {
        return [&, name, to32](auto&) {
            std::string e;
            int depth = 0;
            const std::string path = dir + name;
            return !magick || (to32 ? DecodeImageFileTo32Bit(path, &depth, &e) : DecodeImageFile(path, &e)) ? "" : e;
        };
    };
    auto writer = [&](const char* what, const char* file, std::function<bool(const std::string&)> write) {
        return Row{what, kTight, [write](auto& t) { return write(t) ? "" : "not written"; }, "not written", dir + file};
    };
    const Row rows[] = {
        {"file read whole", kTight, [&](auto&) {
             std::vector<uint8_t> data;
             std::string e;
             return ReadFileForDecoding(dir + "in.tga", data, e) ? "" : e;
         }, "The file is empty or too large."},
        {"file read whole for a library's decoder", kTight, [&](auto&) {
             TexInfo info;
             return LoadImageFileByExtension(dir + "in.bmp", info) ? "" : info.errorText;
         }, "Not enough memory for the image."},
        {"JPEG coefficients beside the picture (2 + 3 MiB)", 4 * kMiB, decodes("prog.jpg"),
         magick ? "Not enough memory to read the JPEG file." : ""},
        {"TIFF band beside the picture (4 + 3 MiB)", 7 * kMiB / 2, decodes("strip.tif"),
         magick ? "Not enough memory to read the TIFF file." : ""},
        {"libtiff's strip (8 MiB, the picture 4)", 6 * kMiB, decodes("big.tif", true),
         magick ? "Not enough memory to read the TIFF file." : ""},
        {"HDR block", kTight, [&](auto&) {
             TexInfo info;
             if (ReadHdrFromMemory(hdr.data(), int64_t(hdr.size()), info)) return std::string();
             return info.errorText + (info.hdrData ? " The block was kept." : "");
         }, "Not enough memory for the image."},
        {"archive entry", kTight, [&](auto&) {
             std::string e;
             int64_t size = 0;
             return ExtractGroEntry(dir + "in.gro", "big.tex", size, &e).empty() ? e : "";
         }, "Not enough memory for this operation."},
        {"normal map heights (8 + 4 MiB)", 6 * kMiB,
         [&](auto&) { return MakeNormalMapFromHeight(*picture, 1) ? "" : "not made"; }, "not made"},
        writer("PNG bands", "o.png", [&](auto& p) { return EncodePngFile(*picture, p, 32); }),
        writer("JPEG output", "o.jpg", [&](auto& p) { return EncodeJpegFile(*picture, p, 90); }),
        writer("BMP file", "o.bmp", [&](auto& p) { return EncodeBmpFile(*picture, p); }),
        writer("TGA file", "o.tga", [&](auto& p) { return WriteTgaFile(*picture, p, true) == 1; }),
        writer("PCX file", "o.pcx", [&](auto& p) { return WritePcxFile(*picture, p) == 1; }),
        writer("TIFF batch", "o.tif", [&](auto& p) { return WriteTiffFile(picture.get(), p, true) == 1; }),
        writer("texture batch", "o.tex", [&](auto& p) { return WriteTexFile(picture.get(), p, true, 0, false) == 1; }),
        writer("DDS slice", "o.dds", [&](auto& p) { return WriteDdsFile(*picture, p, DdsSaveFormat::Dxt5, true) == 1; }),
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.target.empty()) {
            ASSERT_TRUE(WriteWholeFile(row.target, "old", 3));
        }
        SetFreeMemoryForTesting(kMemoryReserveBytes + row.room);
        EXPECT_EQ(row.run(row.target), row.refusal);
        if (!row.target.empty()) {
            std::vector<uint8_t> kept;
            ReadWholeFile(row.target, kept);
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
            for (const FolderEntry& entry : ScanFolder(dir)) EXPECT_EQ(entry.name.find(".orvanta-"), std::string::npos);
        }
        SetFreeMemoryForTesting(kMemoryReserveBytes + 256 * kMiB);
        EXPECT_EQ(row.run(row.target), "");
    }
}

}  // namespace
