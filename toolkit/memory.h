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

// The value of a cgroup memory limit file: a decimal byte count, or 0 for
// "max", an empty or unreadable text.
uint64_t ParseControlGroupLimit(const std::string& text);
// The smallest limit of the group's chain named in a /proc/self/cgroup text,
// read below `root` (normally "/sys/fs/cgroup/"); 0 when there is none.
uint64_t FindControlGroupLimit(const std::string& procCgroupText, const std::string& root);
