// Linked into every fuzz target and the replay of kept inputs; in the fuzzing
// build it is compiled without coverage of its own (see CMakeLists.txt).
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "toolkit/memory.h"

// The fuzzer's coverage counters; null outside a fuzzing build. Only a file
// without coverage of its own can name them.
extern "C" uint8_t __start___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
extern "C" uint8_t __stop___sancov_cntrs[] __attribute__((weak, visibility("hidden")));

namespace {

// A fixed room instead of the machine's: the user's memory check refuses
// what the runs' limits cannot bear (a tiny arithmetic-coded JPEG may claim
// 2 GB), the same on every machine; a granted buffer is at most 128 MiB.
constexpr uint64_t kFuzzMemoryRoom = uint64_t(192) << 20;

struct FixedRoom {
    FixedRoom() { SetFreeMemoryForTesting(kFuzzMemoryRoom); }
} const gFixedRoom;

}  // namespace

CoverageNotCounted::CoverageNotCounted() {
    if (__start___sancov_cntrs) saved_.assign(__start___sancov_cntrs, __stop___sancov_cntrs);
}

CoverageNotCounted::~CoverageNotCounted() {
    if (!saved_.empty()) std::copy(saved_.begin(), saved_.end(), __start___sancov_cntrs);
}
