// The memory the program plans with: cgroup limit files (v1 and v2, the
// group's chain of parents), resource limits, and the smallest of them.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
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

TEST(ToolkitMemory, ControlGroupChainGivesItsSmallestLimit) {
    const std::string root = MakeTempFolder("cgroup");
    for (const auto& [path, text] : std::initializer_list<std::pair<std::string, std::string>>{
             {"memory.max", "max\n"},
             {"user/memory.max", "2000\n"},
             {"user/app/memory.max", "max\n"},
             {"unified/memory.max", "7000\n"},
             {"memory/memory.limit_in_bytes", "5000\n"},
             {"memory/box/memory.limit_in_bytes", "9223372036854771712\n"}}) {
        ASSERT_TRUE(CreateFolder(GetFolderPart(root + path)));
        ASSERT_TRUE(WriteWholeFile(root + path, text.data(), text.size()));
    }
    const struct {
        const char* what;
        std::string procText;
        uint64_t limit;
    } cases[] = {
        {"v2: a parent's limit holds for its children", "0::/user/app\n", 2000},
        {"v2: a group missing from this view", "0::/gone/deeper\n", 7000},
        {"v1: the memory controller's chain", "4:memory:/box\n", 5000},
        {"v1: memory among other controllers", "4:cpu,memory:/box\n", 5000},
        {"v1: other controllers only", "3:cpu,cpuacct:/box\n", 0},
        {"both hierarchies", "4:memory:/box\n0::/user/app\n", 2000},
        {"no text", "", 0},
        {"malformed lines", "garbage\n4:memory\n", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(FindControlGroupLimit(c.procText, root), c.limit) << c.what;
}

TEST(ToolkitMemory, SmallestLimitWins) {
    constexpr uint64_t G = uint64_t(1) << 30;
    EXPECT_EQ(SmallestMemoryLimit({0, 0, 0, 0}), 0u);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 2 * G, 0, 0}), 2 * G);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 0, 1 * G, 3 * G}), 1 * G);
    EXPECT_EQ(SmallestMemoryLimit({8 * G, 16 * G, 0, 4 * G}), 4 * G);
}

// A session started with a data limit (ulimit -d) plans with that limit; the
// limit is set in a process of its own.
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
        return ReadMemoryLimits().dataSegment == kLimit && GetUsableMemoryBytes() <= kLimit ? "planned within"
                                                                                             : "planned beyond";
    });
    EXPECT_EQ(text, "planned within");
}

}  // namespace
