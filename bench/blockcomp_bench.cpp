// Block compression speed and quality against stb_dxt and libsquish, all on
// the same 2048 x 2048 photographic-like picture, one thread. Every benchmark
// reports Mpix/s and the PSNR of its output against the source; the peers'
// benchmarks also report "ours_x", our speed divided by theirs (per core).
// Ours also runs on every core (threads:0), as the program does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "formats/blockcomp.h"
#include "toolkit/image.h"
#include "toolkit/parallel.h"

#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

#ifdef ORVANTA_HAVE_SQUISH
#include <dlfcn.h>
#include <squish.h>
#endif

namespace {

constexpr int kSide = 2048;
constexpr double kPixels = double(kSide) * kSide;

struct TestData {
    ImagePtr image;                   // our layout: B, G, R, A, bottom-up
    std::vector<uint8_t> rgba;        // the peers' layout: R, G, B, A, top-down
    std::vector<uint8_t> rgbaOpaque;  // the same with alpha 255, for squish's DXT1
};

// libsquish spreads an image over OpenMP threads; the comparison is per core.
void KeepSquishOnOneThread() {
#ifdef ORVANTA_HAVE_SQUISH
    using SetThreads = void (*)(int);
    if (auto set = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"))) set(1);
#endif
}

const TestData& Data() {
    static const TestData data = [] {
        KeepSquishOnOneThread();
        TestData d;
        d.image = CreateImage(kSide, kSide, 32);
        d.rgba.resize(size_t(kPixels) * 4);
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> noise(-6, 6);
        for (int y = 0; y < kSide; ++y) {
            uint8_t* row = d.image->RowFromTop(y);
            for (int x = 0; x < kSide; ++x) {
                const double fx = x / double(kSide), fy = y / double(kSide);
                int r = int(128 + 100 * std::sin(23.0 * fx + 7.0 * fy)) + noise(rng);
                int g = int(120 + 90 * std::cos(17.0 * fy - 11.0 * fx)) + noise(rng);
                int b = int(110 + 80 * std::sin(40.0 * fx * fy + 1.0)) + noise(rng);
                int a = int(255 * fx * 0.7 + 60 * fy) + noise(rng);
                if (((x / 97) + (y / 131)) % 5 == 0) r = 255 - r, b = 40;
                const uint8_t px[4] = {uint8_t(std::clamp(r, 0, 255)), uint8_t(std::clamp(g, 0, 255)),
                                       uint8_t(std::clamp(b, 0, 255)), uint8_t(std::clamp(a, 0, 255))};
                uint8_t* ours = row + 4 * x;
                ours[0] = px[2], ours[1] = px[1], ours[2] = px[0], ours[3] = px[3];
                std::copy(px, px + 4, d.rgba.begin() + (size_t(y) * kSide + x) * 4);
            }
        }
        d.rgbaOpaque = d.rgba;
        for (size_t i = 3; i < d.rgbaOpaque.size(); i += 4) d.rgbaOpaque[i] = 255;
        return d;
    }();
    return data;
}

// PSNR of decoded blocks against the source over the RGBA channels chosen.
double BlockPsnr(const std::vector<uint8_t>& blocks, int format, std::initializer_list<int> rgbaChannels) {
    ImagePtr back = DecodeBlockCompressed(blocks.data(), int64_t(blocks.size()), kSide, kSide, format);
    if (!back) return 0;
    static const int kByteOf[4] = {2, 1, 0, 3};  // RGBA channel -> our byte
    const auto& src = Data().rgba;
    double sum = 0;
    for (int y = 0; y < kSide; ++y) {
        const uint8_t* row = back->RowFromTop(y);
        for (int x = 0; x < kSide; ++x)
            for (int c : rgbaChannels) {
                const double d = double(row[4 * x + kByteOf[c]]) - src[(size_t(y) * kSide + x) * 4 + c];
                sum += d * d;
            }
    }
    const double n = kPixels * double(rgbaChannels.size());
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

std::map<std::string, double>& Rates() {
    static std::map<std::string, double> rates;
    return rates;
}

// Runs `body` once per iteration, reports Mpix/s, and remembers the rate
// under `key`; a peer's run names ours in `oursKey` to report the ratio.
template <typename Body>
void Measure(benchmark::State& state, const std::string& key, const std::string& oursKey, Body&& body) {
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    const double rate = kPixels * double(state.iterations()) / seconds / 1e6;
    state.counters["Mpix/s"] = rate;
    Rates()[key] = rate;
    if (!oursKey.empty() && Rates().count(oursKey)) state.counters["ours_x"] = Rates()[oursKey] / rate;
}

// stb and squish take RGBA blocks; gathering them is part of their cost.
void GatherRgba(const uint8_t* rgba, int bx, int by, uint8_t block[64]) {
    for (int r = 0; r < 4; ++r)
        std::copy_n(rgba + ((size_t(4 * by + r) * kSide) + size_t(4 * bx)) * 4, 16, block + 16 * r);
}

template <typename BlockFn>
void StbLevel(std::vector<uint8_t>& out, size_t blockBytes, BlockFn&& fn) {
    const uint8_t* rgba = Data().rgba.data();
    uint8_t* dest = out.data();
    uint8_t block[64];
    for (int by = 0; by < kSide / 4; ++by)
        for (int bx = 0; bx < kSide / 4; ++bx, dest += blockBytes) {
            GatherRgba(rgba, bx, by, block);
            fn(dest, block);
        }
}

// --- Encoders ---------------------------------------------------------------

// state.range(0): threads, 0 for all; the one-thread rate is the one the
// peers are compared with.
std::string ThreadKey(benchmark::State& state, const char* key) {
    SetThreadCountForTesting(int(state.range(0)));
    return state.range(0) == 1 ? key : std::string(key) + "_all";
}

void EncodeOurs(benchmark::State& state, int format, const char* key, std::initializer_list<int> channels) {
    const Image& image = *Data().image;
    const std::string rateKey = ThreadKey(state, key);
    std::vector<uint8_t> out;
    out.reserve(size_t(GetBlockCompressedSize(kSide, kSide, format)));
    Measure(state, rateKey, "", [&] {
        out.clear();
        WriteBlockCompressedLevel(image, format, out);
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["PSNR"] = BlockPsnr(out, format, channels);
    SetThreadCountForTesting(0);
}

void BM_EncodeBc1_Ours(benchmark::State& s) { EncodeOurs(s, kBlockFormatDxt1, "enc1", {0, 1, 2}); }
void BM_EncodeBc3_Ours(benchmark::State& s) { EncodeOurs(s, kBlockFormatDxt5, "enc3", {0, 1, 2, 3}); }
void BM_EncodeBc5_Ours(benchmark::State& s) { EncodeOurs(s, kBlockFormatBc5, "enc5", {0, 1}); }

void BM_EncodeBc1_Stb(benchmark::State& state) {
    std::vector<uint8_t> out(size_t(GetBlockCompressedSize(kSide, kSide, kBlockFormatDxt1)));
    Measure(state, "stb1", "enc1", [&] {
        StbLevel(out, 8, [](uint8_t* d, const uint8_t* b) { stb_compress_dxt_block(d, b, 0, STB_DXT_NORMAL); });
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["PSNR"] = BlockPsnr(out, kBlockFormatDxt1, {0, 1, 2});
}

void BM_EncodeBc3_Stb(benchmark::State& state) {
    std::vector<uint8_t> out(size_t(GetBlockCompressedSize(kSide, kSide, kBlockFormatDxt5)));
    Measure(state, "stb3", "enc3", [&] {
        StbLevel(out, 16, [](uint8_t* d, const uint8_t* b) { stb_compress_dxt_block(d, b, 1, STB_DXT_NORMAL); });
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["PSNR"] = BlockPsnr(out, kBlockFormatDxt5, {0, 1, 2, 3});
}

void BM_EncodeBc5_Stb(benchmark::State& state) {
    std::vector<uint8_t> out(size_t(GetBlockCompressedSize(kSide, kSide, kBlockFormatBc5)));
    Measure(state, "stb5", "enc5", [&] {
        StbLevel(out, 16, [](uint8_t* d, const uint8_t* b) {
            uint8_t rg[32];
            for (int i = 0; i < 16; ++i) rg[2 * i] = b[4 * i], rg[2 * i + 1] = b[4 * i + 1];
            stb_compress_bc5_block(d, rg);
        });
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["PSNR"] = BlockPsnr(out, kBlockFormatBc5, {0, 1});
}

#ifdef ORVANTA_HAVE_SQUISH
void EncodeSquish(benchmark::State& state, int format, int flags, const char* key, const char* oursKey,
                  std::initializer_list<int> channels) {
    std::vector<uint8_t> out(size_t(GetBlockCompressedSize(kSide, kSide, format)));
    // Squish's DXT1 turns texels of alpha below 128 transparent; ours drops alpha.
    const uint8_t* rgba = format == kBlockFormatDxt1 ? Data().rgbaOpaque.data() : Data().rgba.data();
    Measure(state, key, oursKey, [&] {
        squish::CompressImage(rgba, kSide, kSide, out.data(), flags | squish::kColourRangeFit);
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["PSNR"] = BlockPsnr(out, format, channels);
}
void BM_EncodeBc1_SquishRangeFit(benchmark::State& s) {
    EncodeSquish(s, kBlockFormatDxt1, squish::kDxt1, "sq1", "enc1", {0, 1, 2});
}
void BM_EncodeBc3_SquishRangeFit(benchmark::State& s) {
    EncodeSquish(s, kBlockFormatDxt5, squish::kDxt5, "sq3", "enc3", {0, 1, 2, 3});
}
#endif

// --- Decoders ---------------------------------------------------------------

const std::vector<uint8_t>& EncodedLevel(int format) {
    static std::map<int, std::vector<uint8_t>> levels;
    auto& level = levels[format];
    if (level.empty()) WriteBlockCompressedLevel(*Data().image, format, level);
    return level;
}

void DecodeOurs(benchmark::State& state, int format, const char* key) {
    const auto& blocks = EncodedLevel(format);
    const std::string rateKey = ThreadKey(state, key);
    Measure(state, rateKey, "", [&] {
        ImagePtr img = DecodeBlockCompressed(blocks.data(), int64_t(blocks.size()), kSide, kSide, format);
        benchmark::DoNotOptimize(img.get());
    });
    SetThreadCountForTesting(0);
}
void BM_DecodeDxt1_Ours(benchmark::State& s) { DecodeOurs(s, kBlockFormatDxt1, "dec1"); }
void BM_DecodeDxt5_Ours(benchmark::State& s) { DecodeOurs(s, kBlockFormatDxt5, "dec5"); }
void BM_DecodeBc5_Ours(benchmark::State& s) { DecodeOurs(s, kBlockFormatBc5, "decbc5"); }

#ifdef ORVANTA_HAVE_SQUISH
// Squish writes into a buffer the caller owns; allocating it each time keeps
// the comparison with our decoder, which returns a new image, fair.
void DecodeSquish(benchmark::State& state, int format, int flags, const char* key, const char* oursKey) {
    const auto& blocks = EncodedLevel(format);
    Measure(state, key, oursKey, [&] {
        std::unique_ptr<uint8_t[]> rgba(new uint8_t[size_t(kPixels) * 4]);
        squish::DecompressImage(rgba.get(), kSide, kSide, blocks.data(), flags);
        benchmark::DoNotOptimize(rgba.get());
    });
}
void BM_DecodeDxt1_Squish(benchmark::State& s) { DecodeSquish(s, kBlockFormatDxt1, squish::kDxt1, "sqd1", "dec1"); }
void BM_DecodeDxt5_Squish(benchmark::State& s) { DecodeSquish(s, kBlockFormatDxt5, squish::kDxt5, "sqd5", "dec5"); }
#endif

}  // namespace

// Ours first, so the peers that follow can report the ratio.
BENCHMARK(BM_EncodeBc1_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc1_Stb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc3_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc3_Stb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc5_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc5_Stb)->Unit(benchmark::kMillisecond);
#ifdef ORVANTA_HAVE_SQUISH
BENCHMARK(BM_EncodeBc1_SquishRangeFit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBc3_SquishRangeFit)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_DecodeDxt1_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDxt5_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBc5_Ours)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
#ifdef ORVANTA_HAVE_SQUISH
BENCHMARK(BM_DecodeDxt1_Squish)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDxt5_Squish)->Unit(benchmark::kMillisecond);
#endif
