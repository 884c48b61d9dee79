// Every loop that runs on several cores gives the very bytes of a one-thread
// run, on odd sizes and mixed content with 3 and 8 threads; the testing switch
// also cuts tiny pictures into bands, so band edges fall on every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "adjust/histogram.h"
#include "adjust/levels.h"
#include "adjust/normalmap.h"
#include "formats/blockcomp.h"
#include "formats/hdr.h"
#include "formats/sizing.h"
#include "formats/tex.h"
#include "skybox/skybox.h"
#include "toolkit/parallel.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A result's bytes: the raw bytes of each value in turn.
template <typename... T>
std::string RawOf(const T&... values) {
    return (std::string(reinterpret_cast<const char*>(&values), sizeof values) + ...);
}

std::string Raw(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Size and the pixel bytes of each row (never the row padding).
std::string ImageBytes(const ImagePtr& img) {
    if (!img) return "none";
    std::string out = RawOf(img->width, img->height, img->depth);
    for (int y = 0; y < img->height; ++y)
        out.append(reinterpret_cast<const char*>(img->RowFromTop(y)), size_t(img->width) * img->BytesPerPixel());
    return out;
}

// Noise with every alpha, or flat patches where whole areas are transparent
// or share one alpha (the halving's shortcuts).
ImagePtr MakePicture(int w, int h, int depth, bool patches) {
    ImagePtr img = CreateImage(w, h, depth);
    const size_t bpp = size_t(img->BytesPerPixel());
    uint32_t state = uint32_t(w * 7919 + h * 104729 + patches);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int patch = (x / 3 + y / 2) % 4;
            const uint8_t alpha[4] = {0, 128, 255, uint8_t(state >> 16)};
            const uint8_t flat[4] = {uint8_t(patch * 60), uint8_t(state >> 24), uint8_t(200 - patch * 40),
                                     alpha[patch]};
            std::memcpy(img->RowFromTop(y) + x * bpp, patches ? flat : reinterpret_cast<uint8_t*>(&state), bpp);
        }
    return img;
}

// The picture's bytes repeated to `count`: block data with every kind of
// palette mode and index, DXT1's transparent black included.
Bytes BlockData(const Image& img, int64_t count) {
    Bytes out(static_cast<size_t>(count));
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(img.FirstStoredRow()[i % img.ByteCount()] ^ (i * 37));
    return out;
}

// The picture as RGBE: its B, G, R, A bytes taken as R, G, B, E.
HdrBlock HdrOf(const Image& img) {
    HdrBlock block;
    block.width = img.width;
    block.height = img.height;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const uint8_t* p = img.RowFromTop(y) + size_t(x) * size_t(img.BytesPerPixel());
            const uint8_t rgbe[4] = {p[0], p[1], p[2], uint8_t(img.depth == 32 ? p[3] : 130)};
            block.bytes.insert(block.bytes.end(), rgbe, rgbe + 4);
        }
    return block;
}

std::string Resize(const Image& img, int target, ResizeMode mode) {
    // Shrinking, enlarging, one side each way (both pass orders), a fixed small size.
    const int sizes[][4] = {{1, 3, 1, 3}, {2, 1, 3, 1}, {1, 2, 2, 1}, {3, 1, 1, 4}, {0, 7, 0, 5}};
    const int* t = sizes[target];
    const int w = t[0] ? std::max(1, img.width * t[0] / t[1]) : t[1];
    const int h = t[2] ? std::max(1, img.height * t[2] / t[3]) : t[3];
    return ImageBytes(ResizeImage(img, w, h, mode));
}

// Each routine runs once for each of its variants (a format, a mode, ...).
const struct Routine {
    const char* name;
    std::vector<int> variants;
    std::string (*run)(const Image& img, int variant);
} kRoutines[] = {
    {"encode", {kBlockFormatDxt1, kBlockFormatDxt5, kBlockFormatBc5},
     [](const Image& img, int format) {
         Bytes out;
         WriteBlockCompressedLevel(img, format, out);
         return Raw(out);
     }},
    {"decode", {kBlockFormatDxt1, kBlockFormatDxt3, kBlockFormatDxt5, kBlockFormatBc5},
     [](const Image& img, int format) {
         const Bytes data = BlockData(img, GetBlockCompressedSize(img.width, img.height, format));
         bool transparent = false;
         return ImageBytes(DecodeBlockCompressed(data.data(), int64_t(data.size()), img.width, img.height, format,
                                                 &transparent)) +
                RawOf(transparent);
     }},
    {"halve", {1, 2, 3}, [](const Image& img, int mode) { return ImageBytes(HalveImage(img, mode & 1, mode & 2)); }},
    {"shrink by halving", {0},
     [](const Image& img, int) {
         return ImageBytes(ShrinkImageByHalving(img, std::max(1, img.width / 3), std::max(1, img.height / 5)));
     }},
    {"smooth resize", {0, 1, 2, 3, 4}, [](const Image& img, int t) { return Resize(img, t, ResizeMode::Smooth); }},
    {"raw resize", {0, 1, 2, 3, 4}, [](const Image& img, int t) { return Resize(img, t, ResizeMode::Raw); }},
    {"levels", {0, 1},
     [](const Image& img, int clipping) {
         LevelsSet set;
         ResetAllLevelsRecords(set);
         set[0].inBlack = 20, set[0].inWhite = 230, set[0].gamma = 1.3, set[2].outBlack = 10, set[3].gamma = 0.7;
         LevelsLut lut;
         LevelsClipMarks marks;
         BuildLevelsLut(set, lut);
         BuildLevelsClipMask(set, marks);
         return ImageBytes(ApplyLevelsToCopy(img, lut, clipping, marks));
     }},
    {"channel histograms", {0},
     [](const Image& img, int) {
         ChannelHistogram histogram;
         ComputeChannelHistograms(img, histogram);
         return RawOf(histogram);
     }},
    {"histogram window counts", {0},
     [](const Image& img, int) {
         TexInfo info;
         info.isHdr = 1;
         info.hdrData = std::make_unique<HdrBlock>(HdrOf(img));
         ComputeHistogram(&img, info);
         return RawOf(gHistogramCounts, gHistogramTransparent, gHdrHistogramBins, gHdrHistogramMin, gHdrHistogramMax);
     }},
    {"tone curve", {0, 1},
     [](const Image& img, int tone) {
         const double exposure = tone ? 0.7 : -1.0;
         return ImageBytes(ToneMapHdrBlock(HdrOf(img), img.width, img.height, exposure, HdrToneFromCode(tone)));
     }},
    {"normal map", {kNormalFlipGreen, kNormalRebuildZ, kNormalNormalize},
     [](const Image& img, int op) { return ImageBytes(ApplyNormalMapOperation(img, op)); }},
    {"normal map from height", {0},
     [](const Image& img, int) { return ImageBytes(MakeNormalMapFromHeight(img, 2.5)); }},
    {"texture frame", {2, 3, 4},
     [](const Image& img, int bytesPerPixel) {
         TexInfo info;
         info.width = img.width, info.height = img.height, info.bytesPerPixel = bytesPerPixel, info.flags = 1;
         info.frameSize = img.width * img.height * bytesPerPixel;
         const Bytes data = BlockData(img, info.frameSize);
         return ImageBytes(DecodeTexFrame(data.data(), data.size(), info, 0));
     }},
};

// `run` with one thread, then with 3 and 8: the bytes must agree.
void ExpectOneThreadBytes(const std::string& what, const std::function<std::string()>& run) {
    SetThreadCountForTesting(1);
    const std::string want = run();
    for (int threads : {3, 8}) {
        SetThreadCountForTesting(threads);
        EXPECT_TRUE(run() == want) << what << " with " << threads << " threads";
    }
}

class ParallelResults : public testing::Test {
protected:
    void TearDown() override {
        SetThreadCountForTesting(0);
        ResetSkyboxGlobals();
    }
};

TEST_F(ParallelResults, EveryLoopGivesTheOneThreadBytes) {
    const struct {
        int w, h, depth;
        bool patches;
    } pictures[] = {{1, 1, 32, false},   {5, 3, 32, false},   {5, 3, 32, true}, {4097, 3, 32, false},
                    {4097, 3, 24, true}, {3, 4097, 32, true}, {17, 9, 32, true}, {66, 35, 24, false}};
    for (const auto& p : pictures) {
        ImagePtr img = MakePicture(p.w, p.h, p.depth, p.patches);
        for (const Routine& routine : kRoutines)
            for (int variant : routine.variants)
                ExpectOneThreadBytes(std::string(routine.name) + " " + std::to_string(variant) + " on " +
                                         std::to_string(p.w) + " x " + std::to_string(p.h) + " x " +
                                         std::to_string(p.depth) + (p.patches ? " patches" : " noise"),
                                     [&] { return routine.run(*img, variant); });
    }
}

// The layouts read every face through one table of sizes; faces of other sizes
// than N, a missing bottom and a cap of another height take paths of their
// own. Progress must be reported at the same rows as with one thread.
TEST_F(ParallelResults, SkyboxLayoutsGiveTheOneThreadBytes) {
    const struct {
        int side, upHeight;
        bool hdr, withBottom;
    } sets[] = {{1, 1, false, true}, {5, 3, true, true}, {17, 17, false, false}, {33, 20, true, true}};
    for (const auto& set : sets) {
        ExpectOneThreadBytes("faces of " + std::to_string(set.side), [&] {
            ResetSkyboxGlobals();
            for (size_t f = 0; f < (set.withBottom ? 6u : 5u); ++f) {
                SkyFace& face = gSkyFaces[f];
                face.width = set.side;
                face.height = f == 4 ? set.upHeight : set.side;
                face.image = MakePicture(face.width, face.height, 32, f % 2);
                face.loaded = 1;
                face.isHdr = set.hdr;
                if (set.hdr) face.hdrData = std::make_unique<HdrBlock>(HdrOf(*face.image));
            }
            std::string out;
            for (int64_t layout = 0; layout <= 2; ++layout) {
                std::string reports;
                out += ImageBytes(BuildSkyboxImage(layout, [&](const std::string&, int64_t done, int64_t total) {
                    reports += RawOf(done, total);
                }));
                out += reports;
                int64_t w = 0, h = 0;
                if (HdrBlockPtr block = BuildHdrSkyboxImage(layout, w, h)) out += Raw(block->bytes);
            }
            RotateFaceQuarterTurn(4);
            out += ImageBytes(gSkyFaces[4].image);
            if (const HdrBlock* turned = gSkyFaces[4].hdrData.get()) out += Raw(turned->bytes);
            return out;
        });
    }
}

}  // namespace
