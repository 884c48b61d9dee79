// ResizeImage against stb_image_resize on one core. Each benchmark runs ours
// and stb's alternately in the same iterations, so both see the same machine
// state; the reported time is ours, and the counters give both times and the
// ratio ours / stb (below 1 means ours is faster). threads:1 is the per-core
// comparison; threads:0 lets ours use every core, as the program does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "toolkit/image.h"
#include "toolkit/parallel.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb/stb_image_resize.h>
#pragma GCC diagnostic pop

namespace {

ImagePtr NoisePicture(int w, int h) {
    ImagePtr img = CreateImage(w, h, 32);
    uint32_t state = 12345;
    uint8_t* p = img->FirstStoredRow();
    for (size_t i = 0; i < img->ByteCount(); ++i) {
        state = state * 1664525u + 1013904223u;
        p[i] = uint8_t(state >> 24);
    }
    return img;
}

void CompareWithStb(benchmark::State& state, int sw, int tw, ResizeMode mode, stbir_filter filter) {
    SetThreadCountForTesting(int(state.range(0)));
    ImagePtr src = NoisePicture(sw, sw);
    ImagePtr stbOut = CreateImage(tw, tw, 32);
    using Clock = std::chrono::steady_clock;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ImagePtr dst = ResizeImage(*src, tw, tw, mode);
        benchmark::DoNotOptimize(dst.get());
        const auto t1 = Clock::now();
        // Channels independent (no alpha handling), clamped edges, linear.
        const int ok = stbir_resize_uint8_generic(src->FirstStoredRow(), sw, sw, src->pitch, stbOut->FirstStoredRow(),
                                                  tw, tw, stbOut->pitch, 4, STBIR_ALPHA_CHANNEL_NONE, 0,
                                                  STBIR_EDGE_CLAMP, filter, STBIR_COLORSPACE_LINEAR, nullptr);
        benchmark::DoNotOptimize(ok);
        const auto t2 = Clock::now();
        const double a = std::chrono::duration<double>(t1 - t0).count();
        ours += a;
        theirs += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(a);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n * 1e3;
    state.counters["stb_ms"] = theirs / n * 1e3;
    state.counters["ratio"] = ours / theirs;
    SetThreadCountForTesting(0);
}

void BM_ResizeSmooth4096To1024(benchmark::State& state) {
    CompareWithStb(state, 4096, 1024, ResizeMode::Smooth, STBIR_FILTER_MITCHELL);
}
void BM_ResizeSmooth1024To4096(benchmark::State& state) {
    CompareWithStb(state, 1024, 4096, ResizeMode::Smooth, STBIR_FILTER_MITCHELL);
}
// stb has no nearest-pixel mode; its box filter at a whole-number enlargement
// repeats pixels the same way and is its cheapest path.
void BM_ResizeRaw1024To4096(benchmark::State& state) {
    CompareWithStb(state, 1024, 4096, ResizeMode::Raw, STBIR_FILTER_BOX);
}

}  // namespace

BENCHMARK(BM_ResizeSmooth4096To1024)->ArgName("threads")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ResizeSmooth1024To4096)->ArgName("threads")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ResizeRaw1024To4096)->ArgName("threads")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
