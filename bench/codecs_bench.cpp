// PNG and JPEG encode and decode of a 4096 x 4096 photo-like picture, from
// and to memory, beside stb_image / stb_image_write on the same bytes as the
// peer. Counters: Mpixel/s, and the compressed size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/codecs.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kSide = 4096;

// Smooth shading, a few soft shapes and a little grain, so the compressors
// see something like a photograph rather than flat colour or pure noise.
const Image& Picture(int depth) {
    static ImagePtr pictures[2];
    ImagePtr& slot = pictures[depth == 32 ? 1 : 0];
    if (slot) return *slot;
    slot = CreateImage(kSide, kSide, depth);
    uint32_t seed = 12345;
    const int bpp = depth / 8;
    for (int y = 0; y < kSide; ++y) {
        uint8_t* row = slot->RowFromTop(y);
        for (int x = 0; x < kSide; ++x, row += bpp) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 29) - 4;
            const double fx = x / double(kSide), fy = y / double(kSide);
            const double wave = std::sin(fx * 9.0 + std::cos(fy * 5.0) * 2.0) * 0.5 + 0.5;
            const double blob = std::exp(-((fx - 0.6) * (fx - 0.6) + (fy - 0.4) * (fy - 0.4)) * 12.0);
            row[0] = uint8_t(std::clamp(int(60 + 120 * fy + 50 * wave) + grain, 0, 255));
            row[1] = uint8_t(std::clamp(int(40 + 100 * wave + 90 * blob) + grain, 0, 255));
            row[2] = uint8_t(std::clamp(int(30 + 160 * fx * blob + 60 * fy) + grain, 0, 255));
            if (bpp == 4) row[3] = uint8_t(std::clamp(int(255 - 200 * blob), 0, 255));
        }
    }
    return *slot;
}

// The picture as top-down R, G, B(, A) for stb.
std::vector<uint8_t> TopDownRgb(const Image& image) {
    const int bpp = image.BytesPerPixel();
    std::vector<uint8_t> out(size_t(kSide) * kSide * bpp);
    for (int y = 0; y < kSide; ++y) {
        const uint8_t* in = image.RowFromTop(y);
        uint8_t* o = &out[size_t(y) * kSide * bpp];
        for (int x = 0; x < kSide; ++x, in += bpp, o += bpp) {
            o[0] = in[2], o[1] = in[1], o[2] = in[0];
            if (bpp == 4) o[3] = in[3];
        }
    }
    return out;
}

void SetPixelRate(benchmark::State& state, size_t compressedBytes) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(state.iterations()) * kSide * kSide / 1e6, benchmark::Counter::kIsRate);
    state.counters["file_MB"] = double(compressedBytes) / 1e6;
}

const std::vector<uint8_t>& EncodedPng(int bits) {
    static std::vector<uint8_t> files[2];
    std::vector<uint8_t>& f = files[bits == 32 ? 1 : 0];
    if (f.empty()) EncodePngMemory(Picture(bits), bits, f);
    return f;
}

const std::vector<uint8_t>& EncodedJpeg() {
    static std::vector<uint8_t> f;
    if (f.empty()) EncodeJpegMemory(Picture(24), 90, f);
    return f;
}

void BM_PngEncode(benchmark::State& state) {
    const int bits = int(state.range(0));
    const Image& image = Picture(bits);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!EncodePngMemory(image, bits, out)) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    SetPixelRate(state, out.size());
}

void BM_PngDecode(benchmark::State& state) {
    const std::vector<uint8_t>& file = EncodedPng(int(state.range(0)));
    std::string error;
    for (auto _ : state) {
        ImagePtr image = DecodeImageMemory(file.data(), file.size(), &error);
        if (!image) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(image.get());
    }
    SetPixelRate(state, file.size());
}

void BM_JpegEncode(benchmark::State& state) {
    const Image& image = Picture(24);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!EncodeJpegMemory(image, int(state.range(0)), out)) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    SetPixelRate(state, out.size());
}

void BM_JpegDecode(benchmark::State& state) {
    const std::vector<uint8_t>& file = EncodedJpeg();
    std::string error;
    for (auto _ : state) {
        ImagePtr image = DecodeImageMemory(file.data(), file.size(), &error);
        if (!image) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(image.get());
    }
    SetPixelRate(state, file.size());
}

// ---- the peer --------------------------------------------------------------

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

void BM_StbPngEncode(benchmark::State& state) {
    const std::vector<uint8_t> rgb = TopDownRgb(Picture(24));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        stbi_write_png_to_func(AppendBytes, &out, kSide, kSide, 3, rgb.data(), kSide * 3);
        benchmark::DoNotOptimize(out.data());
    }
    SetPixelRate(state, out.size());
}

void BM_StbPngDecode(benchmark::State& state) {
    const std::vector<uint8_t>& file = EncodedPng(24);
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 3);
        if (!pixels) state.SkipWithError("stb decode failed");
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    SetPixelRate(state, file.size());
}

void BM_StbJpegEncode(benchmark::State& state) {
    const std::vector<uint8_t> rgb = TopDownRgb(Picture(24));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        stbi_write_jpg_to_func(AppendBytes, &out, kSide, kSide, 3, rgb.data(), int(state.range(0)));
        benchmark::DoNotOptimize(out.data());
    }
    SetPixelRate(state, out.size());
}

void BM_StbJpegDecode(benchmark::State& state) {
    const std::vector<uint8_t>& file = EncodedJpeg();
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 3);
        if (!pixels) state.SkipWithError("stb decode failed");
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    SetPixelRate(state, file.size());
}

}  // namespace

BENCHMARK(BM_PngEncode)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecode)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEncode)->Arg(90)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbPngEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbPngDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbJpegEncode)->Arg(90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbJpegDecode)->Unit(benchmark::kMillisecond);
