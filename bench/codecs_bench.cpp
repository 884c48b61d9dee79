// PNG and JPEG encode and decode of a 4096 x 4096 photo-like picture, from
// and to memory, beside stb_image / stb_image_write on the same bytes as the
// peer. Counters: Mpixel/s, and the compressed size.
//
// Then the whole open of an 8192 x 8192 PNG file as the editor opens it
// (read, decode, the 32-bit picture and its description) beside stb_image
// loading the same file; the peer's row carries "ours/peer", the ratio of
// the times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
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

const Image& Picture(int depth) {
    static ImagePtr pictures[2];
    ImagePtr& slot = pictures[depth == 32 ? 1 : 0];
    if (!slot) slot = bench::MakePhotoLikePicture(kSide, kSide, depth);
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

// ---- opening an 8192 x 8192 PNG file ----------------------------------------

constexpr int kOpenSide = 8192;

const bench::PictureFile& Png8192() {
    static const bench::PictureFile png(kOpenSide, 24, "open8192.png", [](const Image& picture, const std::string& path) {
        return EncodePngFile(picture, path, 24);
    });
    return png;
}

void BM_OpenPng8192_Ours(benchmark::State& state) {
    const bench::PictureFile& png = Png8192();
    if (!png.written) return state.SkipWithError("cannot write the PNG file");
    ImagePtr image;
    const double seconds = bench::TimeOpening(state, png.file.path, image);
    // A fast open that loses pixels must not look good.
    if (!image || bench::ImagePsnr(*png.picture, *image, {0, 1, 2}) < 99)
        return state.SkipWithError("the opened picture differs from the one written");
    bench::RecordOurRun("open-png", seconds, state);
}

void BM_OpenPng8192_Stb(benchmark::State& state) {
    const bench::PictureFile& png = Png8192();
    if (!png.written) return state.SkipWithError("cannot write the PNG file");
    bool ok = true;
    const double seconds = bench::TimeEachIteration(state, [&] {
        int w, h, n;
        stbi_uc* pixels = stbi_load(png.file.path.c_str(), &w, &h, &n, 0);
        ok = ok && pixels && w == kOpenSide && h == kOpenSide;
        stbi_image_free(pixels);
    });
    if (!ok) return state.SkipWithError("stb could not load the file");
    bench::ReportRatioToOurs(state, "open-png", seconds);
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
// Ours first, so the peer's row can report the ratio.
BENCHMARK(BM_OpenPng8192_Ours)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_OpenPng8192_Stb)->Unit(benchmark::kMillisecond)->UseManualTime();
