// How much memory the program can count on, for caches and histories that
// must stay well inside it: the machine's physical memory, lowered by a
// memory limit of the process's control group (cgroup v2 "memory.max" or v1
// "memory.limit_in_bytes", on its own group and every parent) and by its
// address-space and data-segment limits. A session started with a memory
// limit is thus planned for as the smaller machine it is.
#pragma once

#include <cstdint>
#include <string>

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
// limits: each limit less what is already counted against it. For the
// machine that is the memory its kernel reports available; for a control
// group its limit less its usage, file cache it can give back not counted;
// for the address-space and data limits the process's own mappings. In a
// control group an allocation beyond this does not fail, the kernel ends the
// process, so work that would pass it must not start. UINT64_MAX when
// nothing is known.
uint64_t GetFreeMemoryBytes();

// The value of a cgroup memory limit or usage file: a decimal byte count, or
// 0 for "max", an empty or unreadable text.
uint64_t ParseControlGroupLimit(const std::string& text);
// The smallest limit of the group's chain named in a /proc/self/cgroup text,
// read below `root` (normally "/sys/fs/cgroup/"); 0 when there is none.
uint64_t FindControlGroupLimit(const std::string& procCgroupText, const std::string& root);
// The least room left below a limit in that chain: for each group with a
// limit, the limit less its usage, the file cache it can reclaim not counted.
// UINT64_MAX when no group of the chain has a limit.
uint64_t FindControlGroupRoom(const std::string& procCgroupText, const std::string& root);
