// Linked into every fuzz target and the replay of kept inputs: the code sees
// a fixed room instead of the machine's, so the check that protects a user
// in a small memory group refuses what the run's limits cannot bear (a
// 114-byte arithmetic-coded JPEG may rightly claim 2 GB of coefficients, and
// no bytes-per-pixel bound can refuse it), and a run takes the same paths on
// every machine. Below the runs' 256 MB single-allocation limit, with the
// reserve: a granted buffer is at most 128 MiB.
#include <cstdint>

#include "toolkit/memory.h"

namespace {

constexpr uint64_t kFuzzMemoryRoom = uint64_t(192) << 20;

struct FixedRoom {
    FixedRoom() { SetFreeMemoryForTesting(kFuzzMemoryRoom); }
} const gFixedRoom;

}  // namespace
