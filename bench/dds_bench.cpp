// Whole DDS work, in process, each beside libsquish where it is installed:
// saving a 4096 x 4096 RGBA picture as DXT5 with every mip level, and opening
// an 8192 x 8192 DXT1 file as the editor opens it. The peer's rows carry
// "ours/peer", the ratio of the times (below 1: ours is faster); the save rows
// carry the PSNR of the top level against the picture, colour and alpha.
//
// libsquish is not the same work: its default cluster fit searches colour
// endpoints far more thoroughly (slower, usually a little higher quality)
// than our one-pass encoder, so compare both PSNRs with the times. Its mip
// levels are made with our HalveImage, and its file is a plain write.
// Both sides may use every core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "formats/blockcomp.h"
#include "formats/dds.h"
#include "formats/sizing.h"
#include "toolkit/files.h"
#include "toolkit/image.h"

#ifdef ORVANTA_HAVE_SQUISH
#include <dlfcn.h>
#include <squish.h>
#endif

namespace {

constexpr int kSaveSide = 4096;
constexpr int kOpenSide = 8192;
constexpr size_t kDdsHeaderBytes = 128;

const Image& SavePicture() {
    static const ImagePtr picture = bench::MakePhotoLikePicture(kSaveSide, kSaveSide, 32);
    return *picture;
}

void ReportTopLevelQuality(benchmark::State& state, const Image& top) {
    state.counters["PSNR_RGB"] = bench::ImagePsnr(SavePicture(), top, {0, 1, 2});
    state.counters["PSNR_A"] = bench::ImagePsnr(SavePicture(), top, {3});
}

void BM_SaveDdsDxt5Mips_Ours(benchmark::State& state) {
    const Image& picture = SavePicture();
    bench::ScratchFile out("save.dds");
    bool ok = true;
    const double seconds =
        bench::TimeEachIteration(state,
                                 [&] { ok = ok && WriteDdsFile(picture, out.path, DdsSaveFormat::Dxt5, true) == 1; });
    TexInfo info;
    std::vector<uint8_t> bytes;
    ImagePtr top;
    if (ok && ReadWholeFile(out.path, bytes)) top = ReadDdsFromMemory(bytes.data(), int64_t(bytes.size()), info);
    if (!top) return state.SkipWithError("the save failed or does not read back");
    ReportTopLevelQuality(state, *top);
    bench::RecordOurRun("save-dxt5-mips", seconds, state);
}

#ifdef ORVANTA_HAVE_SQUISH
// Squish spreads an image over OpenMP threads; another benchmark in this
// process may have held it to one.
void LetSquishUseEveryCore() {
    using SetThreads = void (*)(int);
    if (auto set = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads")))
        set(int(std::max(1u, std::thread::hardware_concurrency())));
}

// Squish takes R, G, B, A from the top row down.
void GatherRgba(const Image& image, std::vector<uint8_t>& rgba) {
    rgba.resize(size_t(image.width) * size_t(image.height) * 4);
    uint8_t* out = rgba.data();
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* in = image.RowFromTop(y);
        for (int x = 0; x < image.width; ++x, in += 4, out += 4) out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = in[3];
    }
}

void BM_SaveDdsDxt5Mips_Squish(benchmark::State& state) {
    LetSquishUseEveryCore();
    state.SetLabel("libsquish cluster fit: a slower, more thorough search");
    const Image& picture = SavePicture();
    bench::ScratchFile out("squish.dds");
    std::vector<uint8_t> rgba, blocks;
    bool ok = true;
    const double seconds = bench::TimeEachIteration(state, [&] {
        blocks.assign(kDdsHeaderBytes, 0);
        ImagePtr level;
        const Image* current = &picture;
        while (current) {
            GatherRgba(*current, rgba);
            const size_t at = blocks.size();
            blocks.resize(at + size_t(squish::GetStorageRequirements(current->width, current->height, squish::kDxt5)));
            squish::CompressImage(rgba.data(), current->width, current->height, blocks.data() + at, squish::kDxt5);
            if (current->width == 1 && current->height == 1) break;
            level = HalveImage(*current, current->width > 1, current->height > 1);
            ok = ok && level;
            current = level.get();
        }
        FILE* file = std::fopen(out.path.c_str(), "wb");
        ok = ok && file && std::fwrite(blocks.data(), 1, blocks.size(), file) == blocks.size();
        if (file) std::fclose(file);
    });
    ImagePtr top = ok ? DecodeBlockCompressed(blocks.data() + kDdsHeaderBytes, int64_t(blocks.size() - kDdsHeaderBytes),
                                              kSaveSide, kSaveSide, kBlockFormatDxt5)
                      : nullptr;
    if (!top) return state.SkipWithError("squish's save failed");
    ReportTopLevelQuality(state, *top);
    bench::ReportRatioToOurs(state, "save-dxt5-mips", seconds);
}
#endif

// ---- opening an 8192 x 8192 DXT1 file ----------------------------------------

const bench::PictureFile& Dxt1File() {
    static const bench::PictureFile dds(kOpenSide, 24, "open8192.dds", [](const Image& picture, const std::string& path) {
        return WriteDdsFile(picture, path, DdsSaveFormat::Dxt1, false) == 1;
    });
    return dds;
}

void BM_OpenDdsDxt1_8192_Ours(benchmark::State& state) {
    const bench::PictureFile& dds = Dxt1File();
    if (!dds.written) return state.SkipWithError("cannot write the DDS file");
    ImagePtr image;
    const double seconds = bench::TimeOpening(state, dds.file.path, image);
    if (!image) return state.SkipWithError("the file does not open");
    state.counters["PSNR_RGB"] = bench::ImagePsnr(*dds.picture, *image, {0, 1, 2});
    bench::RecordOurRun("open-dxt1", seconds, state);
}

#ifdef ORVANTA_HAVE_SQUISH
void BM_OpenDdsDxt1_8192_Squish(benchmark::State& state) {
    LetSquishUseEveryCore();
    state.SetLabel("read the file, libsquish decodes the blocks");
    const bench::PictureFile& dds = Dxt1File();
    if (!dds.written) return state.SkipWithError("cannot write the DDS file");
    const size_t pixels = size_t(kOpenSide) * kOpenSide;
    std::vector<uint8_t> bytes;
    std::unique_ptr<uint8_t[]> rgba;
    bool ok = true;
    const double seconds = bench::TimeEachIteration(state, [&] {
        ok = ok && ReadWholeFile(dds.file.path, bytes) && bytes.size() > kDdsHeaderBytes;
        // A new buffer each time, as ours returns a new picture each time.
        rgba.reset(new uint8_t[pixels * 4]);
        if (ok) squish::DecompressImage(rgba.get(), kOpenSide, kOpenSide, bytes.data() + kDdsHeaderBytes, squish::kDxt1);
    });
    if (!ok) return state.SkipWithError("cannot read the DDS file");
    ImagePtr image = CreateImage(kOpenSide, kOpenSide, 32);
    for (int y = 0; y < kOpenSide; ++y) {
        uint8_t* out = image->RowFromTop(y);
        const uint8_t* in = rgba.get() + size_t(y) * kOpenSide * 4;
        for (int x = 0; x < kOpenSide; ++x, in += 4, out += 4) out[0] = in[2], out[1] = in[1], out[2] = in[0];
    }
    state.counters["PSNR_RGB"] = bench::ImagePsnr(*dds.picture, *image, {0, 1, 2});
    bench::ReportRatioToOurs(state, "open-dxt1", seconds);
}
#endif

}  // namespace

// Ours first, so the peer's row can report the ratio.
BENCHMARK(BM_SaveDdsDxt5Mips_Ours)->Unit(benchmark::kMillisecond)->UseManualTime();
#ifdef ORVANTA_HAVE_SQUISH
BENCHMARK(BM_SaveDdsDxt5Mips_Squish)->Unit(benchmark::kMillisecond)->UseManualTime();
#endif
BENCHMARK(BM_OpenDdsDxt1_8192_Ours)->Unit(benchmark::kMillisecond)->UseManualTime();
#ifdef ORVANTA_HAVE_SQUISH
BENCHMARK(BM_OpenDdsDxt1_8192_Squish)->Unit(benchmark::kMillisecond)->UseManualTime();
#endif
