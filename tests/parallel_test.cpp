// The band pool: every index covered exactly once whatever the thread count
// and grain, real concurrency, inline nesting, and a pool that survives fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/parallel.h"

namespace {

class ParallelTest : public testing::Test {
protected:
    void TearDown() override { SetThreadCountForTesting(0); }
};

// Waits until `arrived` reaches `count`, so each caller proves another thread
// is running at the same time; false after a generous timeout.
bool MeetAll(std::atomic<int>& arrived, int count) {
    arrived.fetch_add(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (arrived.load() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// `bands` bands of one index, each waiting for all the others to start: true
// only when that many threads really worked at once.
bool AllBandsMeet(int bands) {
    std::atomic<int> arrived{0};
    std::atomic<bool> met{true};
    ParallelForBands(bands, 1, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i)
            if (!MeetAll(arrived, bands)) met = false;
    });
    return met.load();
}

TEST_F(ParallelTest, BandsCoverEveryIndexOnce) {
    struct Case {
        int threads;
        int64_t count, grain;
    };
    const Case cases[] = {
        {1, 1, 1},    {1, 4097, 1},  {3, 1, 1},     {3, 2, 1},      {3, 17, 1},    {3, 4097, 1000},
        {8, 5, 1},    {8, 64, 1},    {8, 4097, 1},  {8, 100, 1000}, {0, 4097, 1},  {0, 1 << 20, 4096},
        {0, 3, 1000}, {2, 9, 4},
    };
    for (const Case& c : cases) {
        SetThreadCountForTesting(c.threads);
        std::vector<std::atomic<int>> hits(size_t(c.count));
        std::mutex lock;
        std::vector<std::pair<int64_t, int64_t>> bands;
        ParallelForBands(c.count, c.grain, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) hits[size_t(i)].fetch_add(1);
            std::lock_guard<std::mutex> guard(lock);
            bands.emplace_back(begin, end);
        });
        const std::string label = std::to_string(c.threads) + " threads, " + std::to_string(c.count);
        for (int64_t i = 0; i < c.count; ++i) ASSERT_EQ(hits[size_t(i)].load(), 1) << label << " at " << i;
        for (const auto& [begin, end] : bands) EXPECT_LT(begin, end) << label;
        if (c.threads == 1) {
            EXPECT_EQ(bands.size(), 1u) << label;
        }
        // Testing mode cuts even tiny loops, into more bands than threads.
        if (c.threads >= 2 && c.count >= 4 * c.threads) {
            EXPECT_GT(bands.size(), size_t(c.threads)) << label;
        }
    }
}

TEST_F(ParallelTest, NothingRunsForAnEmptyRange) {
    for (int threads : {1, 4}) {
        SetThreadCountForTesting(threads);
        int calls = 0;
        ParallelForBands(0, 1, [&](int64_t, int64_t) { ++calls; });
        ParallelForBands(-5, 1, [&](int64_t, int64_t) { ++calls; });
        EXPECT_EQ(calls, 0);
    }
}

TEST_F(ParallelTest, BandsRunConcurrently) {
    for (int threads : {2, 3, 8}) {
        SetThreadCountForTesting(threads);
        EXPECT_TRUE(AllBandsMeet(threads)) << threads;
    }
}

TEST_F(ParallelTest, NestedLoopRunsInlineOnItsBand) {
    SetThreadCountForTesting(4);
    std::atomic<int> innerCalls{0}, wrongThread{0};
    std::vector<std::atomic<int>> hits(64 * 8);
    ParallelForBands(64, 1, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            const auto outer = std::this_thread::get_id();
            ParallelForBands(8, 1, [&](int64_t b, int64_t e) {
                innerCalls.fetch_add(1);
                if (std::this_thread::get_id() != outer || b != 0 || e != 8) wrongThread.fetch_add(1);
                for (int64_t k = b; k < e; ++k) hits[size_t(i * 8 + k)].fetch_add(1);
            });
        }
    });
    EXPECT_EQ(innerCalls.load(), 64);
    EXPECT_EQ(wrongThread.load(), 0);
    for (auto& h : hits) ASSERT_EQ(h.load(), 1);
}

TEST_F(ParallelTest, MachineCountIsAtLeastOne) {
    SetThreadCountForTesting(0);
    EXPECT_GE(ParallelThreadCount(), 1);
    EXPECT_LE(ParallelThreadCount(), 256);
    SetThreadCountForTesting(3);
    EXPECT_EQ(ParallelThreadCount(), 3);
}

TEST_F(ParallelTest, ForkedChildGetsAWorkingPool) {
    SetThreadCountForTesting(4);
    // Every worker must be past its start-up before the fork: a thread that
    // is still starting may hold the allocator's lock (a sanitizer's is not
    // fork-safe), and the child could then never allocate.
    ASSERT_TRUE(AllBandsMeet(4));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The parent's workers do not exist here; a pool that still counted
        // on them would hang, which the alarm turns into a failure.
        alarm(60);
        _exit(AllBandsMeet(4) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
