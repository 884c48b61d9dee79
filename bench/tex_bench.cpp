// Texture reading and writing speed against the plain byte copy and the plain
// file write of the same bytes, measured in the same run; the counters carry
// the ratios (targets: decode <= 4x memcpy, write within 2x fwrite).
//
// Two baselines each, because the plain ones leave out costs the real work
// cannot: decoding makes a new 64 MiB image, whose first touch (page faults)
// a copy into a warm buffer never pays, so `fresh_ratio` compares with a copy
// into a new allocation; the atomic save flushes the file to disk before it
// renames it, so `fsync_ratio` compares with fwrite + fsync.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "formats/tex.h"

namespace {

constexpr int kSide = 4096;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::vector<uint8_t> MakeRgbaTexFile() {
    const uint32_t header[] = {0x52455654u, 4, 0x54414454u, 1, kSide, kSide, 13, 0, 1, 0x534D5246u};  // TVER..FRMS
    std::vector<uint8_t> file(sizeof header + size_t(kSide) * kSide * 4);
    std::memcpy(file.data(), header, sizeof header);
    uint32_t seed = 12345;
    for (size_t i = sizeof header; i < file.size(); ++i) file[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    return file;
}

std::string TempFolder() {
    char templ[] = "/tmp/texbenchXXXXXX";
    return std::string(mkdtemp(templ)) + "/";
}

void BM_TexDecodeVsMemcpy(benchmark::State& state) {
    const std::vector<uint8_t> file = MakeRgbaTexFile();
    std::vector<uint8_t> copy(file.size(), 1);
    double decode = 0, memcopy = 0, freshCopy = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        TexInfo info;
        ImagePtr image = LoadTextureFromMemory(file.data(), file.size(), info, "");
        benchmark::DoNotOptimize(image.get());
        auto t1 = Clock::now();
        std::memcpy(copy.data(), file.data(), file.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        auto t2 = Clock::now();
        std::unique_ptr<uint8_t[]> fresh(new uint8_t[file.size()]);
        std::memcpy(fresh.get(), file.data(), file.size());
        benchmark::DoNotOptimize(fresh.get());
        benchmark::ClobberMemory();
        fresh.reset();
        auto t3 = Clock::now();
        if (!image) state.SkipWithError("decode failed");
        decode += Seconds(t0, t1);
        memcopy += Seconds(t1, t2);
        freshCopy += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t0, t1));
    }
    state.counters["decode_ms"] = 1000 * decode / double(state.iterations());
    state.counters["memcpy_ms"] = 1000 * memcopy / double(state.iterations());
    state.counters["ratio"] = decode / memcopy;
    state.counters["fresh_ratio"] = decode / freshCopy;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}
BENCHMARK(BM_TexDecodeVsMemcpy)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TexWriteVsFwrite(benchmark::State& state) {
    ImagePtr image = CreateImage(kSide, kSide, 32, MakeColour(10, 200, 30, 128));
    const std::string folder = TempFolder();
    const std::string texPath = folder + "bench.tex", rawPath = folder + "bench.raw";
    const std::vector<uint8_t> bytes(40 + size_t(kSide) * kSide * 4 + 56, 7);
    double write = 0, plain = 0, synced = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!WriteTexFile(image.get(), texPath, 1, 0, 0)) state.SkipWithError("write failed");
        auto t1 = Clock::now();
        FILE* f = std::fopen(rawPath.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) state.SkipWithError("fwrite failed");
        if (f) std::fclose(f);
        auto t2 = Clock::now();
        f = std::fopen(rawPath.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0 ||
            fsync(fileno(f)) != 0)
            state.SkipWithError("fwrite + fsync failed");
        if (f) std::fclose(f);
        auto t3 = Clock::now();
        write += Seconds(t0, t1);
        plain += Seconds(t1, t2);
        synced += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t0, t1));
    }
    std::remove(texPath.c_str());
    std::remove(rawPath.c_str());
    std::remove(folder.c_str());
    state.counters["write_ms"] = 1000 * write / double(state.iterations());
    state.counters["fwrite_ms"] = 1000 * plain / double(state.iterations());
    state.counters["ratio"] = write / plain;
    state.counters["fsync_ratio"] = write / synced;
}
BENCHMARK(BM_TexWriteVsFwrite)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
