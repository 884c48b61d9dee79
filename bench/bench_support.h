// What the in-process benchmarks share: a photo-like test picture, PSNR of
// one picture against another, scratch files that go away at exit, timing,
// and our side's time and counters, kept so that a peer's benchmark
// registered after ours can report the ratio ours / peer and both PSNRs.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

#include "formats/dispatch.h"
#include "toolkit/image.h"

namespace bench {

// Smooth shading, a few soft shapes and a little seeded grain, so coders see
// something like a photograph rather than flat colour or pure noise. Depth 32
// adds a soft, grainy alpha from about 50 up to solid.
inline ImagePtr MakePhotoLikePicture(int width, int height, int depth) {
    ImagePtr picture = CreateImage(width, height, depth);
    if (!picture) return nullptr;
    uint32_t seed = 12345;
    const int bpp = depth / 8;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->RowFromTop(y);
        for (int x = 0; x < width; ++x, row += bpp) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 29) - 4;
            const double fx = x / double(width), fy = y / double(height);
            const double wave = std::sin(fx * 9.0 + std::cos(fy * 5.0) * 2.0) * 0.5 + 0.5;
            const double blob = std::exp(-((fx - 0.6) * (fx - 0.6) + (fy - 0.4) * (fy - 0.4)) * 12.0);
            row[0] = uint8_t(std::clamp(int(60 + 120 * fy + 50 * wave) + grain, 0, 255));
            row[1] = uint8_t(std::clamp(int(40 + 100 * wave + 90 * blob) + grain, 0, 255));
            row[2] = uint8_t(std::clamp(int(30 + 160 * fx * blob + 60 * fy) + grain, 0, 255));
            if (bpp == 4) row[3] = uint8_t(std::clamp(int(255 - 200 * blob) + grain, 0, 255));
        }
    }
    return picture;
}

// PSNR in dB of `b` against `a` over the chosen bytes of each pixel (0 blue,
// 1 green, 2 red, 3 alpha; a 24-bit image reads alpha as 255); 99 when equal,
// 0 when the sizes differ.
inline double ImagePsnr(const Image& a, const Image& b, std::initializer_list<int> bytes) {
    if (a.width != b.width || a.height != b.height) return 0;
    const int bppA = a.BytesPerPixel(), bppB = b.BytesPerPixel();
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        const uint8_t* ra = a.RowFromTop(y);
        const uint8_t* rb = b.RowFromTop(y);
        for (int x = 0; x < a.width; ++x, ra += bppA, rb += bppB)
            for (int i : bytes) {
                const int va = i < bppA ? ra[i] : 255, vb = i < bppB ? rb[i] : 255;
                sum += double(va - vb) * double(va - vb);
            }
    }
    const double n = double(a.width) * a.height * double(bytes.size());
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

// A file in TMPDIR (or /tmp) removed when the object goes.
struct ScratchFile {
    std::string path;
    explicit ScratchFile(const std::string& name) {
        const char* folder = std::getenv("TMPDIR");
        path = std::string(folder && *folder ? folder : "/tmp") + "/orvanta_bench_" + std::to_string(getpid()) + "_" +
               name;
    }
    ~ScratchFile() { std::remove(path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
};

// A photo-like side x side picture and the file `write` made of it, made
// once for the benchmarks that open it.
struct PictureFile {
    ImagePtr picture;
    ScratchFile file;
    bool written;
    template <typename Write>
    PictureFile(int side, int depth, const std::string& name, Write&& write)
        : picture(MakePhotoLikePicture(side, side, depth)), file(name), written(picture && write(*picture, file.path)) {}
};

// Our side of a comparison: its mean time and its counters (PSNRs).
struct OurRun {
    double seconds = 0;
    benchmark::UserCounters counters;
};

inline std::map<std::string, OurRun>& OurRuns() {
    static std::map<std::string, OurRun> runs;
    return runs;
}

// Times `body` once per iteration with the wall clock and hands the time to
// Google Benchmark (register with UseManualTime()); returns the mean seconds
// of one iteration. Work outside `body` (checks, clean-up) is not counted.
template <typename Body>
double TimeEachIteration(benchmark::State& state, Body&& body) {
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    return state.iterations() > 0 ? total / double(state.iterations()) : 0;
}

// Opens `path` as the editor does, once per iteration; the last picture
// opened stays in `image` for checks. Returns the mean seconds of one open.
inline double TimeOpening(benchmark::State& state, const std::string& path, ImagePtr& image) {
    TexInfo info;
    return TimeEachIteration(state, [&] {
        image.reset();  // the previous picture's memory is not held twice
        image = LoadImageAnySource(path, info);
    });
}

// Our side: remembers its time and the counters set so far under `key`.
inline void RecordOurRun(const std::string& key, double seconds, const benchmark::State& state) {
    OurRuns()[key] = {seconds, state.counters};
}

// The peer's side, registered after ours: the counter "ours/peer" is our time
// over the peer's (below 1 when ours is faster), and each of our counters
// comes along as "ours_<name>", so the peer's PSNR stands beside ours.
// Nothing is added when our benchmark did not run first.
inline void ReportRatioToOurs(benchmark::State& state, const std::string& key, double peerSeconds) {
    const auto ours = OurRuns().find(key);
    if (ours == OurRuns().end() || peerSeconds <= 0) return;
    state.counters["ours/peer"] = ours->second.seconds / peerSeconds;
    for (const auto& [name, value] : ours->second.counters) state.counters["ours_" + name] = value;
}

}  // namespace bench
