// Feeds arbitrary bytes to the archive listing and unpacking as a ".gro"
// file: every failure must be clean, and an unpacked entry must hold exactly
// the size the call reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/gro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The readers take a path; an in-memory file gives one without touching the disk.
    static const int fd = memfd_create("fuzz_gro", 0);
    if (fd < 0) std::abort();
    if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size))) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    const int count = ListGroTextures(path);
    if (count < -1 || (count >= 0 && size_t(count) != gGroEntries.size())) std::abort();
    const std::vector<GroEntry> listed = gGroEntries;
    for (size_t i = 0; i < listed.size() && i < 8; ++i) {
        int64_t unpacked = -7;
        const std::vector<uint8_t> bytes = ExtractGroEntry(path, listed[i].name, unpacked);
        if (!bytes.empty() && int64_t(bytes.size()) != unpacked) std::abort();
    }
    // A name the input does not hold cannot be unpacked (the fuzzer may well
    // write an archive that has an entry of that very name).
    static const char kAbsent[] = "no such entry";
    if (!memmem(data, size, kAbsent, sizeof kAbsent - 1)) {
        int64_t untouched = -7;
        if (!ExtractGroEntry(path, kAbsent, untouched).empty() || (untouched != -7 && untouched != 0)) std::abort();
    }
    return 0;
}
