// The band pool: every index covered exactly once whatever the thread count
// and grain, real concurrency, inline nesting, and a pool that survives fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/parallel.h"
#include "toolkit/thread.h"

namespace {

class ParallelTest : public testing::Test {
protected:
    void TearDown() override { SetThreadCountForTesting(0); }
};

// `bands` bands of one index, each waiting (30 s at most) until all have
// started: true only when that many threads really worked at once.
bool AllBandsMeet(int bands) {
    std::atomic<int> arrived{0};
    std::atomic<bool> met{true};
    ParallelForBands(bands, 1, [&](int64_t, int64_t) {
        arrived.fetch_add(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (arrived.load() < bands && met) {
            if (std::chrono::steady_clock::now() > deadline) met = false;
            std::this_thread::yield();
        }
    });
    return met.load();
}

TEST_F(ParallelTest, BandsCoverEveryIndexOnce) {
    const struct {
        int threads;
        int64_t count, grain;
    } cases[] = {
        {1, 1, 1},   {1, 4097, 1},  {3, 1, 1},      {3, 2, 1},    {3, 17, 1},   {3, 4097, 1000},    {8, 5, 1},
        {8, 64, 1},  {8, 4097, 1},  {8, 100, 1000}, {0, 4097, 1}, {0, 1 << 20, 4096}, {0, 3, 1000}, {2, 9, 4},
        {1, 0, 1},   {4, 0, 1},     {4, -5, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.count));
        SetThreadCountForTesting(c.threads);
        std::vector<std::atomic<int>> hits(size_t(std::max<int64_t>(c.count, 0)));
        std::mutex lock;
        std::vector<std::pair<int64_t, int64_t>> bands;
        ParallelForBands(c.count, c.grain, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) hits[size_t(i)].fetch_add(1);
            std::lock_guard<std::mutex> guard(lock);
            bands.emplace_back(begin, end);
        });
        for (size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), 1) << "at " << i;
        for (const auto& [begin, end] : bands) EXPECT_LT(begin, end);
        if (c.count <= 0 || c.threads == 1) {
            EXPECT_EQ(bands.size(), c.count <= 0 ? 0u : 1u);
        }
        // Testing mode cuts even tiny loops, into more bands than threads.
        if (c.threads >= 2 && c.count >= 4 * c.threads) {
            EXPECT_GT(bands.size(), size_t(c.threads));
        }
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

// Bands really run at once, before and after a fork. The fork is made in a
// fresh process, whose only other threads are the pool's workers, each past
// its start-up: a thread still starting, or one that earlier tests left (the
// window system's), may hold the allocator's lock (a sanitizer's is not
// fork-safe), and the forked child could never allocate.
TEST_F(ParallelTest, BandsRunConcurrentlyAlsoInAForkedChild) {
    const std::string text = RunInFreshProcess([] {
        for (int threads : {2, 8, 4}) {
            SetThreadCountForTesting(threads);
            if (!AllBandsMeet(threads)) return std::to_string(threads) + " threads did not meet";
        }
        const pid_t child = fork();
        if (child == 0) {
            // The parent's workers do not exist here; a pool that still
            // counted on them would hang, which the alarm turns into a failure.
            alarm(60);
            _exit(AllBandsMeet(4) ? 0 : 1);
        }
        int status = -1;
        if (child > 0) waitpid(child, &status, 0);
        return "the forked child's wait status: " + std::to_string(status);
    });
    EXPECT_EQ(text, "the forked child's wait status: 0");
}

// Workers the system refuses leave the bands to the caller, and are not
// asked for again at every loop, each refusal costing its time.
TEST_F(ParallelTest, RefusedWorkersAreNotAskedForAtEveryLoop) {
    const std::string text = RunInFreshProcess([] {
        int starts = 0;
        SetThreadStartFailureForTesting([&] { return ++starts > 0; });
        SetThreadCountForTesting(4);
        for (int loop = 0; loop < 3; ++loop) {
            std::atomic<int> covered{0};
            ParallelForBands(64, 1, [&](int64_t begin, int64_t end) { covered += int(end - begin); });
            if (covered != 64) return "loop " + std::to_string(loop) + " covered " + std::to_string(covered.load());
        }
        SetThreadStartFailureForTesting(nullptr);
        return "starts asked for: " + std::to_string(starts);
    });
    EXPECT_EQ(text, "starts asked for: 1");
}

}  // namespace
