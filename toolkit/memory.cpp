#include "toolkit/memory.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <new>
#include <sstream>
#include <vector>

namespace {

// Kernel files report no size, so they are read until the end. Plain reads:
// the picture memory check reads several of them for every large buffer.
std::string ReadKernelText(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0) text.append(buffer, size_t(n));
    close(fd);
    return text;
}

// Limits of 0 mean "none" and never win.
void KeepSmaller(uint64_t& smallest, uint64_t value) {
    if (value > 0 && (smallest == 0 || value < smallest)) smallest = value;
}

uint64_t SoftLimit(int resource) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return uint64_t(limit.rlim_cur);
}

// The files the memory controller keeps for each group, in each hierarchy.
struct GroupFiles {
    const char* limit;
    const char* usage;
    const char* statPrefix;  // of memory.stat's counts for the group and its children
    // Version 2 counts swap apart from memory; version 1 counts memory and
    // swap together ("memsw"). Both files are missing without swap accounting.
    const char* swapLimit;
    const char* swapUsage;
    bool swapIncludesMemory;
};
constexpr GroupFiles kUnifiedFiles{"memory.max", "memory.current", "", "memory.swap.max", "memory.swap.current",
                                   false};
constexpr GroupFiles kVersion1Files{"memory.limit_in_bytes",       "memory.usage_in_bytes", "total_",
                                    "memory.memsw.limit_in_bytes", "memory.memsw.usage_in_bytes", true};

// Calls visit(folder, files) for the group at `path` below `base` and each
// of its parents. A group missing from this view (a container shows only its
// own part of the tree) has no files, and its parents still count.
template <typename Visit>
void ForEachGroupInChain(const std::string& base, std::string path, const GroupFiles& files, Visit& visit) {
    for (;;) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        visit(base + path + "/", files);
        if (path.empty()) return;
        path.erase(path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    }
}

bool NamesMemoryController(const std::string& controllers) {
    std::istringstream list(controllers);
    std::string name;
    while (std::getline(list, name, ','))
        if (name == "memory") return true;
    return false;
}

// The number after `name` at the start of a line of a kernel text ("VmRSS:"
// in /proc/self/status, "inactive_file" in memory.stat), in bytes when the
// line counts in kB; false when no line has it.
bool FindKernelCount(const std::string& text, const std::string& name, uint64_t& value) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (end - at > name.size() && text.compare(at, name.size(), name) == 0 &&
            std::isspace(static_cast<unsigned char>(text[at + name.size()]))) {
            size_t i = at + name.size();
            while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i == end || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
            value = 0;
            for (; i < end && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
                value = value * 10 + uint64_t(text[i] - '0');
            while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (text.compare(i, 2, "kB") == 0) value *= 1024;
            return true;
        }
        at = end + 1;
    }
    return false;
}

// The same, 0 when no line has it.
uint64_t ReadKernelCount(const std::string& text, const std::string& name) {
    uint64_t value = 0;
    return FindKernelCount(text, name, value) ? value : 0;
}

// Calls visit(folder, files) for every memory group of the chains named in a
// /proc/self/cgroup text.
template <typename Visit>
void ForEachMemoryGroup(const std::string& procCgroupText, const std::string& root, Visit visit) {
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::istringstream lines(procCgroupText);
    std::string line;
    while (std::getline(lines, line)) {
        // "hierarchy-id:controllers:path"
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string id = line.substr(0, first);
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (id == "0" && controllers.empty()) {
            // The unified hierarchy: mounted at the root, or beside v1 as "unified".
            ForEachGroupInChain(base, path, kUnifiedFiles, visit);
            ForEachGroupInChain(base + "/unified", path, kUnifiedFiles, visit);
        } else if (NamesMemoryController(controllers)) {
            ForEachGroupInChain(base + "/memory", path, kVersion1Files, visit);
        }
    }
}

// A group's limit; 0 for none. Version 1 writes "no limit" as the largest
// count of pages it keeps (9223372036854771712 bytes with 4 KiB pages), so
// anything from 4 EiB up is none too, and costs no further reads.
uint64_t ReadGroupLimit(const std::string& folder, const GroupFiles& files) {
    const uint64_t limit = ParseControlGroupLimit(ReadKernelText(folder + files.limit));
    return limit >= uint64_t(1) << 62 ? 0 : limit;
}

// True for the text of a count of 0 (not for an empty text).
bool IsZero(const std::string& text) {
    return text.find('0') != std::string::npos && text.find_first_not_of("0 \t\n") == std::string::npos;
}

uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
}


}  // namespace

uint64_t ParseControlGroupLimit(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    if (begin == end) return 0;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;  // "max" and anything unexpected
        const uint64_t digit = uint64_t(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

uint64_t FindControlGroupLimit(const std::string& procCgroupText, const std::string& root) {
    uint64_t smallest = 0;
    ForEachMemoryGroup(procCgroupText, root, [&](const std::string& folder, const GroupFiles& files) {
        KeepSmaller(smallest, ReadGroupLimit(folder, files));
    });
    return smallest;
}

namespace {

struct GroupRoom {
    uint64_t room = UINT64_MAX;  // the least room below a group's limit, swap included
    uint64_t swap = UINT64_MAX;  // the least swap a group of the chain lets the process use
};

// What of a group's usage the kernel takes back before it ends a process:
// the file cache, and of its own memory only the part it names reclaimable
// (version 2's slab_reclaimable: caches of names and inodes). The rest of the
// kernel's memory (pipe buffers, thread stacks, socket buffers, page tables)
// is held for as long as its owners live. Version 1, and a kernel that gives
// only "slab", tell no reclaimable part, so there all of it counts as held: a
// group full of cached names may then refuse work that would have fitted,
// which is safe, where counting it as room lets the kernel end the program.
uint64_t ReclaimableInGroup(const std::string& folder, const GroupFiles& files) {
    const std::string stat = ReadKernelText(folder + "memory.stat");
    const std::string prefix = files.statPrefix;
    return ReadKernelCount(stat, prefix + "slab_reclaimable") + ReadKernelCount(stat, prefix + "inactive_file") +
           ReadKernelCount(stat, prefix + "active_file");
}

uint64_t ReadGroupCount(const std::string& folder, const char* file) {
    return ParseControlGroupLimit(ReadKernelText(folder + file));
}

uint64_t Below(uint64_t limit, uint64_t used) { return limit > used ? limit - used : 0; }

uint64_t Sum(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// Past its memory limit a group swaps, as far as the machine's free swap and
// the swap limits of its chain let it; the kernel ends a process only when
// that is gone too.
GroupRoom ReadGroupRoom(const std::string& procCgroupText, const std::string& root, uint64_t freeSwap) {
    GroupRoom result;
    std::vector<uint64_t> memoryRooms;
    ForEachMemoryGroup(procCgroupText, root, [&](const std::string& folder, const GroupFiles& files) {
        const uint64_t limit = ReadGroupLimit(folder, files);
        // Version 1 limits swap only together with memory.
        if (limit == 0 && files.swapIncludesMemory) return;
        const uint64_t reclaimable = limit > 0 ? ReclaimableInGroup(folder, files) : 0;
        auto held = [&](const char* usage) { return Below(ReadGroupCount(folder, usage), reclaimable); };
        const uint64_t memory = limit > 0 ? Below(limit, held(files.usage)) : UINT64_MAX;
        if (limit > 0) memoryRooms.push_back(memory);
        const std::string swapText = ReadKernelText(folder + files.swapLimit);
        const uint64_t swapLimit = ParseControlGroupLimit(swapText);
        // "max", a missing file (no swap accounting) and version 1's huge
        // count set no limit.
        if (swapText.find_first_of("0123456789") != std::string::npos && swapLimit < (uint64_t(1) << 62)) {
            // Version 1 counts memory and swap under one limit: the swap is
            // what that leaves beyond the memory room.
            const uint64_t swap = files.swapIncludesMemory ? Below(Below(swapLimit, held(files.swapUsage)), memory)
                                                           : Below(swapLimit, ReadGroupCount(folder, files.swapUsage));
            result.swap = std::min(result.swap, swap);
        }
        // A version 1 group told never to swap does not.
        if (files.swapIncludesMemory && IsZero(ReadKernelText(folder + "memory.swappiness"))) result.swap = 0;
    });
    result.swap = std::min(result.swap, freeSwap);
    for (uint64_t memory : memoryRooms) result.room = std::min(result.room, Sum(memory, result.swap));
    return result;
}

}  // namespace

uint64_t FindControlGroupRoom(const std::string& procCgroupText, const std::string& root, uint64_t freeSwap) {
    return ReadGroupRoom(procCgroupText, root, freeSwap).room;
}

MemoryLimits ReadMemoryLimits() {
    MemoryLimits limits;
    limits.physical = PhysicalMemory();
    limits.controlGroup = FindControlGroupLimit(ReadKernelText("/proc/self/cgroup"), "/sys/fs/cgroup/");
    limits.addressSpace = SoftLimit(RLIMIT_AS);
    limits.dataSegment = SoftLimit(RLIMIT_DATA);
    return limits;
}

uint64_t SmallestMemoryLimit(const MemoryLimits& limits) {
    uint64_t smallest = 0;
    for (uint64_t value : {limits.physical, limits.controlGroup, limits.addressSpace, limits.dataSegment})
        KeepSmaller(smallest, value);
    return smallest;
}

uint64_t GetUsableMemoryBytes() { return SmallestMemoryLimit(ReadMemoryLimits()); }

MemoryRoom ReadMemoryRoom() {
    MemoryRoom room;
    std::string status;  // read only when a figure of it is needed
    auto roomBelow = [&status](uint64_t limit, const char* usedField) {
        if (limit == 0) return UINT64_MAX;
        if (status.empty()) status = ReadKernelText("/proc/self/status");
        const uint64_t used = ReadKernelCount(status, usedField);
        return limit > used ? limit - used : 0;
    };
    // The kernel's estimate counts what other programs hold and the cache it
    // can drop, but no swap; kernels before 3.14 give none.
    const std::string meminfo = ReadKernelText("/proc/meminfo");
    uint64_t available = 0;
    if (!FindKernelCount(meminfo, "MemAvailable:", available)) available = roomBelow(PhysicalMemory(), "VmRSS:");
    const GroupRoom group =
        ReadGroupRoom(ReadKernelText("/proc/self/cgroup"), "/sys/fs/cgroup/", ReadKernelCount(meminfo, "SwapFree:"));
    room.resident = std::min(Sum(available, group.swap), group.room);
    room.mapped = std::min(roomBelow(SoftLimit(RLIMIT_AS), "VmSize:"), roomBelow(SoftLimit(RLIMIT_DATA), "VmData:"));
    return room;
}

uint64_t GetFreeMemoryBytes() {
    const MemoryRoom room = ReadMemoryRoom();
    return std::min(room.resident, room.mapped);
}

namespace {

std::atomic<uint64_t> gFreeMemoryOverride{0};
std::atomic<uint64_t> gRefusals{0};
thread_local MemoryRefusalWatch* tRefusalWatch = nullptr;

// The C library keeps a freed block for later unless it was mapped on its
// own, and it maps on their own only blocks above a threshold that grows with
// every such block freed, up to 32 MiB; each thread's heap keeps up to twice
// that at its top. Reusing those pages spares a fault on each first touch:
// giving every block from 4 MiB up back as it was freed made batches 6 to
// 13 % slower. Where the room is small, though, what the library keeps
// decides whether the next piece of work fits: a memory group charges it, a
// data limit counts it, and the room cannot tell it from memory in use (a
// batch item found no room that it finds alone). So once the room falls
// below kGiveBackBelow (a few threads' heaps), every block from
// kFreedBlocksGoBackFrom up is mapped on its own and goes back as it is
// freed, heaps are trimmed as blocks go, and what is kept already goes back
// at once. Below 4 MiB what stays is small beside the reserve.
constexpr uint64_t kGiveBackBelow = uint64_t(1) << 30;
constexpr size_t kFreedBlocksGoBackFrom = size_t(4) << 20;
constexpr size_t kHeapTopKeptBelow = size_t(128) << 10;  // the library's own first figure
std::atomic<bool> gGivingBack{false};

// True when it starts now.
bool StartGivingFreedMemoryBack(const MemoryRoom& room) {
    if (gGivingBack.load(std::memory_order_relaxed) || std::min(room.resident, room.mapped) >= kGiveBackBelow)
        return false;
    gGivingBack.store(true, std::memory_order_relaxed);
    mallopt(M_MMAP_THRESHOLD, int(kFreedBlocksGoBackFrom));
    mallopt(M_TRIM_THRESHOLD, int(kHeapTopKeptBelow));
    malloc_trim(0);
    return true;
}

// Picture memory taken and not yet counted by the kernel in full: its pages
// appear as the buffer is written, and until then a second buffer checked
// against the same free figure would be granted the same room.
class PendingPictureMemory {
public:
    // Never destroyed: a picture held by a global may be freed at exit after
    // a function-local object would be.
    static PendingPictureMemory& Instance() {
        static PendingPictureMemory* const pending = new PendingPictureMemory;
        return *pending;
    }

    // Grants and makes `bytes` of memory under one lock, so two threads
    // cannot both be granted the same room.
    void* Take(size_t bytes) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Fits(bytes, 0)) return nullptr;
        uint8_t* memory = new (std::nothrow) uint8_t[bytes];
        if (!memory) {
            NoteMemoryRefusal();
            return nullptr;
        }
        try {
            grants_.push_back({memory, bytes});
            count_.store(grants_.size(), std::memory_order_relaxed);
        } catch (const std::bad_alloc&) {
            // Left uncounted: its pages still show once written.
        }
        return memory;
    }

    void Release(void* memory) noexcept {
        if (count_.load(std::memory_order_relaxed) != 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            std::erase_if(grants_, [memory](const Grant& g) { return g.memory == memory; });
            count_.store(grants_.size(), std::memory_order_relaxed);
        }
        delete[] static_cast<uint8_t*>(memory);
    }

    bool HasRoomFor(uint64_t bytes, uint64_t givenBackFirst) {
        std::lock_guard<std::mutex> lock(mutex_);
        return Fits(bytes, givenBackFirst);
    }

private:
    struct Grant {
        void* memory;
        size_t bytes;
    };

    // Under the mutex.
    bool Fits(uint64_t bytes, uint64_t givenBackFirst) {
        // The grants first, the kernel's figures after: a page written in
        // between is then counted twice, never not at all.
        const uint64_t unseen = Unseen();
        const uint64_t overridden = gFreeMemoryOverride.load(std::memory_order_relaxed);
        MemoryRoom room = overridden > 0 ? MemoryRoom{overridden, UINT64_MAX} : ReadMemoryRoom();
        if (overridden == 0 && StartGivingFreedMemoryBack(room)) room = ReadMemoryRoom();
        const uint64_t resident = Sum(room.resident, givenBackFirst), mapped = Sum(room.mapped, givenBackFirst);
        // Pages count against the machine and the group once written, so
        // there the grants not written yet hold their room, and the reserve
        // is kept for the rest of the program. A mapping counts against the
        // address-space and data limits at once, and past them an allocation
        // fails instead of the program being ended: there only the buffer
        // itself must fit.
        const bool fits = resident >= kMemoryReserveBytes && resident - kMemoryReserveBytes >= unseen &&
                          resident - kMemoryReserveBytes - unseen >= bytes && mapped >= bytes;
        if (!fits) NoteMemoryRefusal();
        return fits;
    }

    // The bytes of the grants whose pages are not all in memory yet; grants
    // found whole are forgotten, as the kernel counts them from now on.
    uint64_t Unseen() {
        constexpr uintptr_t kPage = 4096;
        uint64_t unseen = 0;
        std::erase_if(grants_, [&unseen](const Grant& g) {
            const uintptr_t begin = (reinterpret_cast<uintptr_t>(g.memory) + kPage - 1) & ~(kPage - 1);
            const uintptr_t end = (reinterpret_cast<uintptr_t>(g.memory) + g.bytes) & ~(kPage - 1);
            unsigned char resident[4096];
            uint64_t missing = 0;
            for (uintptr_t at = begin; at < end;) {
                const size_t pages = size_t(std::min<uintptr_t>((end - at) / kPage, sizeof resident));
                if (mincore(reinterpret_cast<void*>(at), pages * kPage, resident) != 0) return true;  // gone
                for (size_t i = 0; i < pages; ++i) missing += (resident[i] & 1) == 0;
                at += pages * kPage;
            }
            unseen += missing * kPage;
            return missing == 0;
        });
        count_.store(grants_.size(), std::memory_order_relaxed);
        return unseen;
    }

    std::mutex mutex_;
    std::vector<Grant> grants_;
    std::atomic<size_t> count_{0};  // grants_.size(), read without the lock
};

}  // namespace

bool HasRoomFor(uint64_t bytes, uint64_t givenBackFirst) {
    return PendingPictureMemory::Instance().HasRoomFor(bytes, givenBackFirst);
}

uint64_t CountMemoryRefusals() { return gRefusals.load(std::memory_order_relaxed); }

MemoryRefusalWatch::MemoryRefusalWatch() noexcept : outer_(tRefusalWatch) { tRefusalWatch = this; }

MemoryRefusalWatch::~MemoryRefusalWatch() { tRefusalWatch = outer_; }

MemoryRefusalWatch* CurrentMemoryRefusalWatch() noexcept { return tRefusalWatch; }

RefusalsCountFor::RefusalsCountFor(MemoryRefusalWatch* watch) noexcept : previous_(tRefusalWatch) {
    tRefusalWatch = watch;
}

RefusalsCountFor::~RefusalsCountFor() { tRefusalWatch = previous_; }

void NoteMemoryRefusal() noexcept {
    gRefusals.fetch_add(1, std::memory_order_relaxed);
    // Another thread may mark the same watches: only the flags change, and
    // the chain stays as it is until the work it watches is over.
    for (MemoryRefusalWatch* watch = tRefusalWatch; watch; watch = watch->outer_)
        watch->refused_.store(true, std::memory_order_relaxed);
}

void SetFreeMemoryForTesting(uint64_t bytes) { gFreeMemoryOverride.store(bytes, std::memory_order_relaxed); }

void* TakePictureMemory(size_t bytes) noexcept {
    if (bytes == 0) bytes = 1;
    if (bytes < kPictureMemoryCheckedFrom) {
        uint8_t* memory = new (std::nothrow) uint8_t[bytes];
        if (!memory) NoteMemoryRefusal();
        return memory;
    }
    return PendingPictureMemory::Instance().Take(bytes);
}

void PictureMemoryRelease::operator()(void* memory) const noexcept {
    if (memory) PendingPictureMemory::Instance().Release(memory);
}
