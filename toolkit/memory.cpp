#include "toolkit/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace {

// Kernel files report no size, so they are read as streams, not whole files.
std::string ReadKernelText(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
};
constexpr GroupFiles kUnifiedFiles{"memory.max", "memory.current", ""};
constexpr GroupFiles kVersion1Files{"memory.limit_in_bytes", "memory.usage_in_bytes", "total_"};

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
// line counts in kB; 0 when no line has it.
uint64_t ReadKernelCount(const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 ||
            !std::isspace(static_cast<unsigned char>(line[name.size()])))
            continue;
        std::istringstream fields(line.substr(name.size()));
        uint64_t value = 0;
        std::string unit;
        if (!(fields >> value)) return 0;
        fields >> unit;
        return unit == "kB" ? value * 1024 : value;
    }
    return 0;
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
        KeepSmaller(smallest, ParseControlGroupLimit(ReadKernelText(folder + files.limit)));
    });
    return smallest;
}

uint64_t FindControlGroupRoom(const std::string& procCgroupText, const std::string& root) {
    uint64_t room = UINT64_MAX;
    ForEachMemoryGroup(procCgroupText, root, [&](const std::string& folder, const GroupFiles& files) {
        const uint64_t limit = ParseControlGroupLimit(ReadKernelText(folder + files.limit));
        if (limit == 0) return;
        // The group's usage counts the file cache too, which the kernel takes
        // back before it ends anything.
        const std::string stat = ReadKernelText(folder + "memory.stat");
        const std::string prefix = files.statPrefix;
        const uint64_t cache =
            ReadKernelCount(stat, prefix + "inactive_file") + ReadKernelCount(stat, prefix + "active_file");
        const uint64_t usage = ParseControlGroupLimit(ReadKernelText(folder + files.usage));
        const uint64_t held = usage > cache ? usage - cache : 0;
        room = std::min(room, limit > held ? limit - held : 0);
    });
    return room;
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

uint64_t GetFreeMemoryBytes() {
    uint64_t room = UINT64_MAX;
    auto keepRoom = [&room](uint64_t limit, uint64_t used) {
        if (limit > 0) room = std::min(room, limit > used ? limit - used : 0);
    };
    const std::string status = ReadKernelText("/proc/self/status");
    // The kernel's estimate counts what other programs hold and the cache it
    // can drop; kernels before 3.14 give none.
    const uint64_t available = ReadKernelCount(ReadKernelText("/proc/meminfo"), "MemAvailable:");
    if (available > 0)
        room = available;
    else
        keepRoom(PhysicalMemory(), ReadKernelCount(status, "VmRSS:"));
    room = std::min(room, FindControlGroupRoom(ReadKernelText("/proc/self/cgroup"), "/sys/fs/cgroup/"));
    keepRoom(SoftLimit(RLIMIT_AS), ReadKernelCount(status, "VmSize:"));
    keepRoom(SoftLimit(RLIMIT_DATA), ReadKernelCount(status, "VmData:"));
    return room;
}
