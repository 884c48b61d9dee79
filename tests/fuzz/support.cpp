// Linked into every fuzz target and the replay of kept inputs; in the fuzzing
// build it is compiled without coverage of its own (see CMakeLists.txt).
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "toolkit/memory.h"

// The coverage counters the fuzzer reads after each input, where the linker
// put them; null outside a fuzzing build. A file with coverage of its own
// could not name them: the compiler declares them there itself.
extern "C" uint8_t __start___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
extern "C" uint8_t __stop___sancov_cntrs[] __attribute__((weak, visibility("hidden")));

namespace {

// The code sees a fixed room instead of the machine's, so the check that
// protects a user in a small memory group refuses what the runs' limits
// cannot bear (a 114-byte arithmetic-coded JPEG may rightly claim 2 GB of
// coefficients, and no bytes-per-pixel bound can refuse it), and a run
// takes the same paths on every machine. Below the runs' 256 MB
// single-allocation limit, with the reserve: a granted buffer is at most
// 128 MiB.
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
