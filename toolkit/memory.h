// How much memory the program can count on, for caches and histories that
// must stay well inside it: the machine's physical memory, lowered by a
// memory limit of the process's control group (cgroup v2 "memory.max" or v1
// "memory.limit_in_bytes", on its own group and every parent) and by its
// address-space and data-segment limits. A session started with a memory
// limit is thus planned for as the smaller machine it is.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// Every limit found, in bytes; 0 where there is none or it cannot be read.
struct MemoryLimits {
    uint64_t physical = 0;
    uint64_t controlGroup = 0;
    uint64_t addressSpace = 0;
    uint64_t dataSegment = 0;
};

MemoryLimits ReadMemoryLimits();
// The smallest limit above 0; 0 when none is known.
uint64_t SmallestMemoryLimit(const MemoryLimits& limits);
// SmallestMemoryLimit(ReadMemoryLimits()).
uint64_t GetUsableMemoryBytes();

// How much more the process can take now before it meets one of those
// limits, in two kinds:
// - `resident`: below the machine's memory and a control group's limit,
//   each with the swap the process may still use. The machine's is the
//   memory its kernel reports available; a group's is its limit less its
//   usage, the file cache and kernel caches it can give back not counted.
//   Pages count here once they are written, and an allocation past this does
//   not fail: the kernel ends the process, so work that would pass it must
//   not start.
// - `mapped`: below the address-space and data-segment limits, less the
//   process's own mappings. A buffer counts here as soon as it is made, and
//   one past this simply fails to be made.
// UINT64_MAX where nothing is known.
struct MemoryRoom {
    uint64_t resident = UINT64_MAX;
    uint64_t mapped = UINT64_MAX;
};
MemoryRoom ReadMemoryRoom();
// The smaller of the two.
uint64_t GetFreeMemoryBytes();

// The value of a cgroup memory limit or usage file: a decimal byte count, or
// 0 for "max", an empty or unreadable text.
uint64_t ParseControlGroupLimit(const std::string& text);
// The smallest limit of the group's chain named in a /proc/self/cgroup text,
// read below `root` (normally "/sys/fs/cgroup/"); 0 when there is none.
uint64_t FindControlGroupLimit(const std::string& procCgroupText, const std::string& root);
// The least room left below a limit in that chain: for each group with a
// limit, the limit less its usage (the file cache and the kernel's
// reclaimable caches it can give back not counted), and the swap it may
// still use, at most `freeSwap`, the machine's. UINT64_MAX when no group of
// the chain has a limit.
uint64_t FindControlGroupRoom(const std::string& procCgroupText, const std::string& root, uint64_t freeSwap = 0);

// Room for picture-sized buffers.
//
// In a memory-limited session an allocation past the limit does not fail:
// the kernel ends the program, and the user's unsaved work with it. So every
// buffer the size of a picture (a decoder's output, a preview, a mip level,
// a mask, a file read whole) asks here first, and a refusal becomes the
// allocation failure its caller already reports.

// What such a buffer must leave free for the rest of the program: the
// window's redraw, row buffers, a library's own working memory.
constexpr uint64_t kMemoryReserveBytes = uint64_t(64) << 20;

// True when `bytes` more fit now, counting `givenBackFirst` bytes that the
// caller frees before it takes them: within the resident room they leave
// kMemoryReserveBytes beside the picture memory already taken whose pages
// the kernel has not counted yet (a buffer counts there once it is written,
// not when it is made), and within the mapped room they fit.
bool HasRoomFor(uint64_t bytes, uint64_t givenBackFirst = 0);

// How many times the process has been refused memory so far: HasRoomFor
// answering false, or picture memory not taken.
uint64_t CountMemoryRefusals();

// Whether the work done while it lives was refused memory: on the thread that
// made it, and on the threads that do part of that work for it (the band
// pool's helpers, a decoder's reading thread; see RefusalsCountFor). Work of
// other threads running at the same time does not count, so a piece of work
// that failed while its watch saw a refusal may have failed for want of
// memory alone. Watches on one thread nest: a refusal counts for each.
class MemoryRefusalWatch {
public:
    MemoryRefusalWatch() noexcept;
    ~MemoryRefusalWatch();
    MemoryRefusalWatch(const MemoryRefusalWatch&) = delete;
    MemoryRefusalWatch& operator=(const MemoryRefusalWatch&) = delete;

    bool Refused() const { return refused_.load(std::memory_order_relaxed); }

private:
    friend void NoteMemoryRefusal() noexcept;
    MemoryRefusalWatch* const outer_;
    std::atomic<bool> refused_{false};
};

// The calling thread's innermost watch (null when none), for a thread that
// works on its behalf.
MemoryRefusalWatch* CurrentMemoryRefusalWatch() noexcept;

// While it lives, refusals on the calling thread count for `watch` (and the
// watches around it) instead of the thread's own: made by a thread doing a
// part of the work that `watch` watches, and gone before that work ends.
class RefusalsCountFor {
public:
    explicit RefusalsCountFor(MemoryRefusalWatch* watch) noexcept;
    ~RefusalsCountFor();
    RefusalsCountFor(const RefusalsCountFor&) = delete;
    RefusalsCountFor& operator=(const RefusalsCountFor&) = delete;

private:
    MemoryRefusalWatch* const previous_;
};

// Counts a refusal for the calling thread's watches and the process: for
// memory its work was refused outside HasRoomFor (a std::bad_alloc caught).
void NoteMemoryRefusal() noexcept;

// Test hook: the resident room, in bytes, instead of the machine's figures,
// with no mapped limit (0 restores them).
void SetFreeMemoryForTesting(uint64_t bytes);

// Picture memory: taken only when HasRoomFor grants it, and counted as taken
// until its pages are in memory. Buffers below kPictureMemoryCheckedFrom
// are left to the reserve and never wait for the check. Once the room is
// small, every block of 4 MiB or more, picture memory or not, goes back to
// the system as it is freed (see memory.cpp), so the room one piece of work
// leaves is there for the next.
constexpr size_t kPictureMemoryCheckedFrom = size_t(1) << 20;
struct PictureMemoryRelease {
    void operator()(void* memory) const noexcept;
};
template <typename T>
using PictureArray = std::unique_ptr<T[], PictureMemoryRelease>;
// `bytes` of uninitialised memory, aligned for any scalar; null when there is
// no room or no memory. Free it with PictureMemoryRelease.
void* TakePictureMemory(size_t bytes) noexcept;
// An array of `count` plain values (left uninitialised); null when it does not fit.
template <typename T>
PictureArray<T> NewPictureArray(size_t count) noexcept {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return PictureArray<T>(static_cast<T*>(TakePictureMemory(count * sizeof(T))));
}

// Resizes `v` to `count` elements (new ones value-initialised) when a new
// buffer of that size fits (HasRoomFor, from kPictureMemoryCheckedFrom up);
// false, with `v` unchanged, when it does not or memory runs out.
template <typename T>
bool ResizeWithinRoom(std::vector<T>& v, size_t count) noexcept {
    if (count > v.capacity()) {
        if (count > SIZE_MAX / sizeof(T)) return false;
        const uint64_t bytes = uint64_t(count) * sizeof(T);
        if (bytes >= kPictureMemoryCheckedFrom && !HasRoomFor(bytes)) return false;
    }
    try {
        v.resize(count);
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

// Makes `v` at least `needed` elements long for a buffer that fills bit by
// bit: its size doubles (but never past `most`, nor short of `needed`), so
// it is copied a few times only, and grows within the room as
// ResizeWithinRoom does. False, `v` unchanged, when it cannot.
template <typename T>
bool GrowWithinRoom(std::vector<T>& v, size_t needed, size_t most = SIZE_MAX) noexcept {
    if (needed <= v.size()) return true;
    const size_t doubled = v.size() > SIZE_MAX / 2 ? SIZE_MAX : 2 * v.size();
    return ResizeWithinRoom(v, doubled < most ? (doubled > needed ? doubled : needed) : (most > needed ? most : needed));
}
