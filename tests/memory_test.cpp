// The memory the program plans with: cgroup limit files (v1 and v2, the
// group's chain of parents), resource limits, and the smallest of them.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "tests/test_support.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"

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
             {"memory/full/memory.usage_in_bytes", "300\n"}}) {
        ASSERT_TRUE(CreateFolder(GetFolderPart(root + path)));
        ASSERT_TRUE(WriteWholeFile(root + path, text.data(), text.size()));
    }
    constexpr uint64_t kNone = UINT64_MAX;
    const struct {
        const char* what;
        std::string procText;
        uint64_t limit;
        uint64_t room;
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
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindControlGroupLimit(c.procText, root), c.limit) << c.what;
        EXPECT_EQ(FindControlGroupRoom(c.procText, root), c.room) << c.what;
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

}  // namespace
