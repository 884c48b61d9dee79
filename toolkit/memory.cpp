#include "toolkit/memory.h"

#include <sys/resource.h>
#include <unistd.h>

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

// The smallest limit in `file` of the group at `path` and each of its
// parents, below `base`. A group missing from this view (a container shows
// only its own part of the tree) is passed over for its parents.
uint64_t ChainLimit(const std::string& base, std::string path, const std::string& file) {
    uint64_t smallest = 0;
    for (;;) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        KeepSmaller(smallest, ParseControlGroupLimit(ReadKernelText(base + path + "/" + file)));
        if (path.empty()) return smallest;
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
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    uint64_t smallest = 0;
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
            KeepSmaller(smallest, ChainLimit(base, path, "memory.max"));
            KeepSmaller(smallest, ChainLimit(base + "/unified", path, "memory.max"));
        } else if (NamesMemoryController(controllers)) {
            KeepSmaller(smallest, ChainLimit(base + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return smallest;
}

MemoryLimits ReadMemoryLimits() {
    MemoryLimits limits;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) limits.physical = uint64_t(pages) * uint64_t(pageSize);
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
