// The band pool: detached workers that sleep on a condition variable between
// loops (no spinning), started the first time a loop is large enough to split.
#include "toolkit/parallel.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <thread>

#include "toolkit/memory.h"
#include "toolkit/thread.h"

namespace {

constexpr int kMaxThreads = 256;
// Spare bands let the other threads take over the rest of a thread that the
// system has paused, instead of everyone waiting for it.
constexpr int64_t kBandsPerThread = 4;

// Set on workers for good and on a caller while it works on bands: a loop
// started from inside a band runs inline instead of waiting on the pool.
thread_local bool tInsideBand = false;

struct Job {
    parallel_detail::BandCall call = nullptr;
    void* context = nullptr;
    int64_t count = 0, bandSize = 0, bands = 0;
    std::atomic<int64_t> next{0};
    int helpers = 0;  // workers inside this job; guarded by Pool::mutex
    MemoryRefusalWatch* watch = nullptr;  // the caller's: the bands are its work
};

void WorkOn(Job& job) {
    for (;;) {
        const int64_t band = job.next.fetch_add(1, std::memory_order_relaxed);
        if (band >= job.bands) return;
        const int64_t begin = band * job.bandSize;
        job.call(job.context, begin, std::min(job.count, begin + job.bandSize));
    }
}

struct Pool {
    std::mutex caller;  // one loop at a time; a second caller runs inline
    std::mutex mutex;
    std::condition_variable wake;  // workers wait here for a job with open slots
    std::condition_variable idle;  // the caller waits here for its helpers to leave
    Job* job = nullptr;
    int openSlots = 0;
    int workers = 0;  // guarded by `caller`
    // When the system last refused a worker; guarded by `caller`.
    std::chrono::steady_clock::time_point refused{};
};

void WorkerLoop(Pool* pool) {
    tInsideBand = true;
    std::unique_lock<std::mutex> lock(pool->mutex);
    for (;;) {
        pool->wake.wait(lock, [pool] { return pool->job && pool->openSlots > 0; });
        --pool->openSlots;
        Job* job = pool->job;
        ++job->helpers;
        lock.unlock();
        {
            const RefusalsCountFor caller(job->watch);
            WorkOn(*job);
        }
        lock.lock();
        if (--job->helpers == 0) pool->idle.notify_one();
    }
}

// Starts workers until there are `wanted`; a thread the system refuses
// leaves the pool smaller, never broken, and no start is tried again for a
// while: a limit on processes or memory that refused one does not lift
// between two loops, and every loop would pay for the refusal. Workers block
// every signal, so handlers keep running on the main thread as they always
// have.
void EnsureWorkers(Pool& pool, int wanted) {
    constexpr auto kAfterRefusal = std::chrono::seconds(1);
    if (pool.workers >= wanted) return;
    const auto now = std::chrono::steady_clock::now();
    if (pool.refused != std::chrono::steady_clock::time_point{} && now - pool.refused < kAfterRefusal) return;
    const AllSignalsBlocked blocked;
    try {
        while (pool.workers < wanted) {
            Thread([&pool] { WorkerLoop(&pool); }).detach();
            ++pool.workers;
        }
    } catch (const std::exception&) {
        pool.refused = now;
    }
}

// Never destroyed: workers may still sleep on its condition variable while
// the process exits. A forked child has none of the parent's workers (and
// perhaps a mutex some worker held), so it forgets the pool and makes its own.
std::atomic<Pool*> gPool{nullptr};

void ForgetPoolInChild() { gPool.store(nullptr, std::memory_order_relaxed); }

Pool* GetPool() {
    Pool* pool = gPool.load(std::memory_order_acquire);
    if (pool) return pool;
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, ForgetPoolInChild); });
    Pool* made = new (std::nothrow) Pool;
    if (!made) return nullptr;
    if (gPool.compare_exchange_strong(pool, made, std::memory_order_acq_rel)) return made;
    delete made;
    return pool;
}

// ceil(quota / period) of a cgroup CPU limit, or 0 when there is none.
int CgroupCpuLimit() {
    long long quota = 0, period = 0;
    if (std::FILE* f = std::fopen("/sys/fs/cgroup/cpu.max", "r")) {  // cgroup v2: "max 100000" or "200000 100000"
        if (std::fscanf(f, "%lld %lld", &quota, &period) != 2) quota = 0;
        std::fclose(f);
    } else {
        if (std::FILE* q = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "r")) {
            if (std::fscanf(q, "%lld", &quota) != 1) quota = 0;
            std::fclose(q);
        }
        if (std::FILE* p = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_period_us", "r")) {
            if (std::fscanf(p, "%lld", &period) != 1) period = 0;
            std::fclose(p);
        }
    }
    if (quota <= 0 || period <= 0) return 0;
    return int(std::min<long long>((quota + period - 1) / period, kMaxThreads));
}

int DetectMachineThreads() {
#ifdef ORVANTA_FUZZING
    return 1;  // the fuzzing build runs every loop inline (see CMakeLists.txt)
#endif
    int count = int(std::thread::hardware_concurrency());
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int allowed = CPU_COUNT(&set);
        if (allowed > 0) count = allowed;
    }
    const int limit = CgroupCpuLimit();
    if (limit > 0) count = std::min(count, limit);
#ifdef ORVANTA_THREAD_SANITIZER
    count = std::max(count, 4);  // the race-checking build (see CMakeLists.txt)
#endif
    return std::clamp(count, 1, kMaxThreads);
}

std::atomic<int> gTestingThreads{0};

}  // namespace

int ParallelThreadCount() {
    const int testing = gTestingThreads.load(std::memory_order_relaxed);
    if (testing > 0) return testing;
    static const int machine = DetectMachineThreads();
    return machine;
}

void SetThreadCountForTesting(int n) {
    gTestingThreads.store(std::clamp(n, 0, kMaxThreads), std::memory_order_relaxed);
}

namespace parallel_detail {

void RunBands(int64_t count, int64_t grain, BandCall call, void* context) {
    if (count <= 0) return;
    const int threads = tInsideBand ? 1 : ParallelThreadCount();
    if (threads <= 1) {
        call(context, 0, count);
        return;
    }
    const bool testing = gTestingThreads.load(std::memory_order_relaxed) > 0;
    const int64_t g = testing ? 1 : std::max<int64_t>(grain, 1);
    const int64_t pieces = count / g + (count % g != 0);
    const int64_t wanted = std::min<int64_t>(pieces, int64_t(threads) * kBandsPerThread);
    Pool* pool = wanted > 1 ? GetPool() : nullptr;
    std::unique_lock<std::mutex> caller;
    if (pool) caller = std::unique_lock<std::mutex>(pool->caller, std::try_to_lock);
    if (!caller.owns_lock()) {
        call(context, 0, count);
        return;
    }

    Job job;
    job.call = call;
    job.context = context;
    job.count = count;
    job.watch = CurrentMemoryRefusalWatch();
    job.bandSize = count / wanted + (count % wanted != 0);
    job.bands = count / job.bandSize + (count % job.bandSize != 0);
    const int helpers = int(std::min<int64_t>(threads - 1, job.bands - 1));
    EnsureWorkers(*pool, helpers);
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->job = &job;
        pool->openSlots = helpers;
    }
    for (int i = 0; i < helpers; ++i) pool->wake.notify_one();

    tInsideBand = true;
    WorkOn(job);
    tInsideBand = false;

    std::unique_lock<std::mutex> lock(pool->mutex);
    pool->job = nullptr;
    pool->openSlots = 0;
    pool->idle.wait(lock, [&job] { return job.helpers == 0; });
}

}  // namespace parallel_detail
