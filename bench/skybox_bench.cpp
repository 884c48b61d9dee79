// Building the combined skybox pictures from six 1024 x 1024 noise faces:
// strip, cross and panorama, 8-bit and RGBE, on one thread and on every core.
#include <benchmark/benchmark.h>

#include <random>

#include "skybox/skybox.h"
#include "toolkit/parallel.h"

namespace {

void LoadNoiseFaces() {
    if (gSkyFaces[0].loaded) return;
    constexpr int kSide = 1024;
    std::mt19937 rng(5);
    for (SkyFace& face : gSkyFaces) {
        face.image = CreateImage(kSide, kSide);
        face.hdrData = NewHdrBlock(kSide, kSide);
        if (!face.image || !face.hdrData) return;
        for (int y = 0; y < kSide; ++y) {
            uint8_t* row = face.image->RowFromTop(y);
            for (int x = 0; x < kSide * 4; ++x) row[x] = uint8_t(rng());
        }
        for (uint8_t& byte : face.hdrData->bytes) byte = uint8_t(rng());
        face.width = face.height = kSide;
        face.loaded = face.isHdr = 1;
    }
}

// Argument 0: layout (0 strip, 1 cross, 2 panorama). Argument 1: threads, 0 for all.
void LayoutAndThreads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"layout", "threads"})->ArgsProduct({{0, 1, 2}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_BuildSkyboxImage(benchmark::State& state) {
    LoadNoiseFaces();
    SetThreadCountForTesting(int(state.range(1)));
    for (auto _ : state) {
        ImagePtr picture = BuildSkyboxImage(state.range(0));
        benchmark::DoNotOptimize(picture.get());
    }
    SetThreadCountForTesting(0);
}
BENCHMARK(BM_BuildSkyboxImage)->Apply(LayoutAndThreads);

void BM_BuildHdrSkyboxImage(benchmark::State& state) {
    LoadNoiseFaces();
    SetThreadCountForTesting(int(state.range(1)));
    for (auto _ : state) {
        int64_t width = 0, height = 0;
        HdrBlockPtr block = BuildHdrSkyboxImage(state.range(0), width, height);
        benchmark::DoNotOptimize(block.get());
    }
    SetThreadCountForTesting(0);
}
BENCHMARK(BM_BuildHdrSkyboxImage)->Apply(LayoutAndThreads);

}  // namespace
