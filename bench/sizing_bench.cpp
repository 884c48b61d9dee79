// Halving speed: one 8192 -> 4096 halving, and shrinking 8192 -> 1024 by
// halving, on one thread and on every core.
#include <benchmark/benchmark.h>

#include <random>

#include "formats/sizing.h"
#include "toolkit/image.h"
#include "toolkit/parallel.h"

namespace {

// Noise, opaque (the common case) or with every 2 x 2 block holding unequal
// alphas, which forces the alpha-weighted path everywhere.
ImagePtr NoisePicture(int side, bool mixedAlpha) {
    ImagePtr img = CreateImage(side, side);
    std::mt19937 rng(11);
    for (int y = 0; y < side; ++y) {
        uint8_t* row = img->RowFromTop(y);
        for (int x = 0; x < side * 4; x += 4) {
            const uint32_t v = rng();
            row[x] = uint8_t(v);
            row[x + 1] = uint8_t(v >> 8);
            row[x + 2] = uint8_t(v >> 16);
            row[x + 3] = mixedAlpha && (x / 4 + y) % 3 == 0 ? uint8_t(v >> 24) : 255;
        }
    }
    return img;
}

const Image& Picture8192(bool mixedAlpha) {
    static ImagePtr opaque = NoisePicture(8192, false);
    static ImagePtr mixed = NoisePicture(8192, true);
    return mixedAlpha ? *mixed : *opaque;
}

// Argument 0: opaque picture; 1: mixed alpha. Argument 1: threads, 0 for all.
void PictureAndThreads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mixed", "threads"})->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_HalveImage8192(benchmark::State& state) {
    const Image& src = Picture8192(state.range(0) != 0);
    SetThreadCountForTesting(int(state.range(1)));
    for (auto _ : state) {
        ImagePtr half = HalveImage(src, true, true);
        benchmark::DoNotOptimize(half.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 8192 * 8192 * 4);
    SetThreadCountForTesting(0);
}
BENCHMARK(BM_HalveImage8192)->Apply(PictureAndThreads);

void BM_ShrinkByHalving8192To1024(benchmark::State& state) {
    const Image& src = Picture8192(state.range(0) != 0);
    SetThreadCountForTesting(int(state.range(1)));
    for (auto _ : state) {
        ImagePtr small = ShrinkImageByHalving(src, 1024, 1024);
        benchmark::DoNotOptimize(small.get());
    }
    SetThreadCountForTesting(0);
}
BENCHMARK(BM_ShrinkByHalving8192To1024)->Apply(PictureAndThreads);

}  // namespace
