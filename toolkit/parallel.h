// Splitting pixel loops over the machine's cores.
//
// ParallelForBands(count, grain, fn) calls fn(begin, end) on disjoint bands
// that together cover [0, count) once, and returns only when every band is
// done (fork-join). The calling thread works on bands too. Everything else of
// the program stays on its one main thread: a band touches only the rows the
// caller gave it of buffers the caller owns, never the UI, files or globals,
// and it must not throw (the code it runs is noexcept by design; a throw
// would end the process). A loop gives identical results however it is cut,
// because every band computes its rows exactly as a one-band run would and
// anything summed across bands is an integer count.
//
// The pool is our own small std::thread pool rather than OpenMP: the fuzz
// build's clang has no libomp, libgomp's idle threads spin after every region
// and would burn the cores a user's other programs want, and owning the pool
// gives lazy start (a process that never meets a large picture starts no
// thread), a testing switch for the thread count, and a defined shutdown.
// Workers are detached and the pool is never destroyed, so exit never waits
// on or tears down a thread, and a forked child starts a fresh pool.
#pragma once

#include <cstdint>
#include <type_traits>

// Work smaller than this many pixel-sized steps is not worth waking a thread
// for; below it a loop runs inline on the caller.
constexpr int64_t kMinBandWork = int64_t(1) << 16;

// Rows per band for rows of `rowWork` steps each (at least 1).
constexpr int64_t GrainForRows(int64_t rowWork) {
    return rowWork >= kMinBandWork ? 1 : kMinBandWork / (rowWork > 0 ? rowWork : 1);
}

// Threads a loop may use: the machine's hardware threads as far as this
// process may run on them (CPU affinity and a cgroup CPU quota count), or the
// testing value. 1 means everything runs inline.
int ParallelThreadCount();

// n >= 1: use exactly n threads from now on, and (n >= 2) cut even the
// smallest loop into bands, so tests reach every band edge on tiny pictures.
// 0 restores the machine's count and the normal grains. Only for tests and
// benchmarks; call it while no loop runs.
void SetThreadCountForTesting(int n);

namespace parallel_detail {
using BandCall = void (*)(void* context, int64_t begin, int64_t end) noexcept;
void RunBands(int64_t count, int64_t grain, BandCall call, void* context);
}  // namespace parallel_detail

// `grain` is the smallest band worth its own thread (GrainForRows helps);
// count <= 0 calls nothing. A call made from inside a band runs inline.
template <typename F>
void ParallelForBands(int64_t count, int64_t grain, F&& fn) {
    using Fn = std::remove_reference_t<F>;
    parallel_detail::RunBands(
        count, grain,
        [](void* context, int64_t begin, int64_t end) noexcept { (*static_cast<Fn*>(context))(begin, end); },
        const_cast<void*>(static_cast<const void*>(&fn)));
}
