// Every loop that runs on several cores gives the very bytes of a one-thread
// run. Each routine runs on odd sizes and mixed content with 1, 3 and 8
// threads; the testing switch also cuts tiny pictures into bands, so band
// edges fall on every row and block row a picture has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
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

enum class Content { Noise, Gradient, Patches };

// Noise with every alpha; a smooth opaque gradient; flat patches where whole
// areas are transparent or share one alpha (the halving's shortcuts).
ImagePtr MakePicture(int w, int h, int depth, Content content) {
    ImagePtr img = CreateImage(w, h, depth);
    uint32_t state = uint32_t(w * 7919 + h * 104729 + int(content));
    const int bpp = img->BytesPerPixel();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img->RowFromTop(y);
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            uint8_t* p = row + size_t(x) * size_t(bpp);
            uint8_t px[4];
            switch (content) {
                case Content::Noise:
                    std::memcpy(px, &state, 4);
                    break;
                case Content::Gradient:
                    px[0] = uint8_t(x * 3 + y);
                    px[1] = uint8_t(x ^ y);
                    px[2] = uint8_t((x * y) >> 2);
                    px[3] = 255;
                    break;
                case Content::Patches: {
                    const int patch = (x / 3 + y / 2) % 4;
                    px[0] = uint8_t(patch * 60);
                    px[1] = uint8_t(state >> 24);
                    px[2] = uint8_t(200 - patch * 40);
                    px[3] = patch == 0 ? 0 : patch == 1 ? 128 : patch == 2 ? 255 : uint8_t(state >> 16);
                    break;
                }
            }
            std::memcpy(p, px, size_t(bpp));
        }
    }
    return img;
}

void AppendBytes(Bytes& out, const void* data, size_t count) {
    const size_t at = out.size();
    out.resize(at + count);
    if (count) std::memcpy(out.data() + at, data, count);
}

template <typename T>
void AppendRaw(Bytes& out, const T& value) {
    AppendBytes(out, &value, sizeof value);
}

// Size and the pixel bytes of each row (never the row padding).
void AppendImage(Bytes& out, const Image* img) {
    if (!img) {
        out.push_back(0xEE);
        return;
    }
    const int dims[3] = {img->width, img->height, img->depth};
    AppendRaw(out, dims);
    for (int y = 0; y < img->height; ++y)
        AppendBytes(out, img->RowFromTop(y), size_t(img->width) * size_t(img->BytesPerPixel()));
}

Bytes ImageBytes(const ImagePtr& img) {
    Bytes out;
    AppendImage(out, img.get());
    return out;
}

// The picture's bytes repeated to `count`: block data with every kind of
// palette mode and index, DXT1's transparent black included.
Bytes BlockData(const Image& img, int64_t count) {
    const uint8_t* src = img.FirstStoredRow();
    const size_t have = img.ByteCount();
    Bytes out(static_cast<size_t>(count));
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(src[i % have] ^ (i * 37));
    return out;
}

// The picture as RGBE: its B, G, R, A bytes taken as R, G, B, E.
HdrBlock HdrOf(const Image& img) {
    HdrBlock block;
    block.width = img.width;
    block.height = img.height;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* row = img.RowFromTop(y);
        for (int x = 0; x < img.width; ++x) {
            const uint8_t* p = row + size_t(x) * size_t(img.BytesPerPixel());
            const uint8_t rgbe[4] = {p[0], p[1], p[2], uint8_t(img.depth == 32 ? p[3] : 130)};
            AppendBytes(block.bytes, rgbe, 4);
        }
    }
    return block;
}

struct Routine {
    std::string name;
    std::function<Bytes(const Image&)> run;
};

std::vector<Routine> Routines() {
    std::vector<Routine> list;
    for (int format : {kBlockFormatDxt1, kBlockFormatDxt5, kBlockFormatBc5}) {
        list.push_back({"encode " + std::to_string(format), [format](const Image& img) {
                            Bytes out;
                            WriteBlockCompressedLevel(img, format, out);
                            return out;
                        }});
    }
    for (int format = kBlockFormatDxt1; format <= kBlockFormatBc5; ++format) {
        list.push_back({"decode " + std::to_string(format), [format](const Image& img) {
                            const Bytes data = BlockData(img, GetBlockCompressedSize(img.width, img.height, format));
                            bool transparent = false;
                            ImagePtr out = DecodeBlockCompressed(data.data(), int64_t(data.size()), img.width,
                                                                 img.height, format, &transparent);
                            Bytes bytes = ImageBytes(out);
                            bytes.push_back(transparent ? 1 : 0);
                            return bytes;
                        }});
    }
    for (int mode = 1; mode <= 3; ++mode) {
        list.push_back({"halve " + std::to_string(mode), [mode](const Image& img) {
                            return ImageBytes(HalveImage(img, (mode & 1) != 0, (mode & 2) != 0));
                        }});
    }
    list.push_back({"shrink by halving", [](const Image& img) {
                        const int w = std::max(1, img.width / 3), h = std::max(1, img.height / 5);
                        return ImageBytes(ShrinkImageByHalving(img, w, h));
                    }});
    // Shrinking, enlarging, one side each way (both pass orders) and a
    // fixed small size: the target side is side * mul / div, or `fixed`.
    struct Target {
        int mulW, divW, mulH, divH, fixedW, fixedH;
    };
    const Target targets[] = {
        {1, 3, 1, 3, 0, 0}, {2, 1, 3, 1, 0, 0}, {1, 2, 2, 1, 0, 0}, {3, 1, 1, 4, 0, 0}, {0, 1, 0, 1, 7, 5},
    };
    for (const Target& t : targets) {
        for (ResizeMode mode : {ResizeMode::Smooth, ResizeMode::Raw}) {
            const std::string name = std::string(mode == ResizeMode::Smooth ? "smooth" : "raw") + " resize " +
                                     std::to_string(t.mulW) + "/" + std::to_string(t.divW) + " x " +
                                     std::to_string(t.mulH) + "/" + std::to_string(t.divH);
            list.push_back({name, [t, mode](const Image& img) {
                                const int w = t.fixedW ? t.fixedW : std::max(1, img.width * t.mulW / t.divW);
                                const int h = t.fixedH ? t.fixedH : std::max(1, img.height * t.mulH / t.divH);
                                return ImageBytes(ResizeImage(img, w, h, mode));
                            }});
        }
    }
    for (int clipping = 0; clipping <= 1; ++clipping) {
        list.push_back({"levels " + std::to_string(clipping), [clipping](const Image& img) {
                            LevelsSet set;
                            ResetAllLevelsRecords(set);
                            set[0].inBlack = 20;
                            set[0].inWhite = 230;
                            set[0].gamma = 1.3;
                            set[2].outBlack = 10;
                            set[3].gamma = 0.7;
                            LevelsLut lut;
                            LevelsClipMarks marks;
                            BuildLevelsLut(set, lut);
                            BuildLevelsClipMask(set, marks);
                            return ImageBytes(ApplyLevelsToCopy(img, lut, clipping, marks));
                        }});
    }
    list.push_back({"channel histograms", [](const Image& img) {
                        ChannelHistogram histogram;
                        ComputeChannelHistograms(img, histogram);
                        Bytes out;
                        AppendRaw(out, histogram);
                        return out;
                    }});
    list.push_back({"histogram window counts", [](const Image& img) {
                        TexInfo info;
                        info.isHdr = 1;
                        info.hdrData = std::make_unique<HdrBlock>(HdrOf(img));
                        ComputeHistogram(&img, info);
                        Bytes out;
                        AppendRaw(out, gHistogramCounts);
                        AppendRaw(out, gHistogramTransparent);
                        AppendRaw(out, gHdrHistogramBins);
                        AppendRaw(out, gHdrHistogramMin);
                        AppendRaw(out, gHdrHistogramMax);
                        return out;
                    }});
    for (int tone = 0; tone <= 1; ++tone) {
        list.push_back({"tone curve " + std::to_string(tone), [tone](const Image& img) {
                            const double exposure = tone ? 0.7 : -1.0;
                            return ImageBytes(
                                ToneMapHdrBlock(HdrOf(img), img.width, img.height, exposure, HdrToneFromCode(tone)));
                        }});
    }
    for (int op : {kNormalFlipGreen, kNormalRebuildZ, kNormalNormalize}) {
        list.push_back({"normal map " + std::to_string(op),
                        [op](const Image& img) { return ImageBytes(ApplyNormalMapOperation(img, op)); }});
    }
    list.push_back({"normal map from height",
                    [](const Image& img) { return ImageBytes(MakeNormalMapFromHeight(img, 2.5)); }});
    for (int bpp : {2, 3, 4}) {
        list.push_back({"texture frame " + std::to_string(bpp), [bpp](const Image& img) {
                            TexInfo info;
                            info.width = img.width;
                            info.height = img.height;
                            info.bytesPerPixel = bpp;
                            info.flags = 1;
                            info.frameSize = img.width * img.height * bpp;
                            const Bytes data = BlockData(img, info.frameSize);
                            return ImageBytes(DecodeTexFrame(data.data(), data.size(), info, 0));
                        }});
    }
    return list;
}

class ParallelResults : public testing::Test {
protected:
    void TearDown() override {
        SetThreadCountForTesting(0);
        ResetSkyboxGlobals();
    }
};

TEST_F(ParallelResults, EveryLoopGivesTheOneThreadBytes) {
    struct Picture {
        int w, h, depth;
        Content content;
    };
    const Picture pictures[] = {
        {1, 1, 32, Content::Noise},      {5, 3, 32, Content::Noise},     {5, 3, 32, Content::Patches},
        {4097, 3, 32, Content::Noise},   {4097, 3, 32, Content::Gradient}, {3, 4097, 32, Content::Patches},
        {3, 4097, 32, Content::Noise},   {17, 9, 32, Content::Gradient},  {17, 9, 32, Content::Patches},
        {66, 35, 32, Content::Noise},    {17, 9, 24, Content::Noise},     {4097, 3, 24, Content::Gradient},
    };
    const std::vector<Routine> routines = Routines();
    for (const Picture& p : pictures) {
        ImagePtr img = MakePicture(p.w, p.h, p.depth, p.content);
        ASSERT_NE(img, nullptr);
        for (const Routine& routine : routines) {
            SetThreadCountForTesting(1);
            const Bytes want = routine.run(*img);
            for (int threads : {3, 8}) {
                SetThreadCountForTesting(threads);
                EXPECT_TRUE(routine.run(*img) == want) << routine.name << " on " << p.w << " x " << p.h << " x "
                                                      << p.depth << " content " << int(p.content) << " with "
                                                      << threads << " threads";
            }
        }
    }
}

// The layouts read every face through one table of sizes; faces of other
// sizes than N, a missing bottom and a cap of another height all take paths
// of their own. Progress must be reported at the same rows as before.
TEST_F(ParallelResults, SkyboxLayoutsGiveTheOneThreadBytes) {
    struct Set {
        int side, upHeight;
        bool hdr, withBottom;
    };
    const Set sets[] = {
        {1, 1, false, true}, {5, 3, true, true}, {17, 17, false, false}, {33, 20, true, true}, {70, 70, true, true},
    };
    for (const Set& set : sets) {
        auto load = [&] {
            ResetSkyboxGlobals();
            for (size_t f = 0; f < 6; ++f) {
                if (f == 5 && !set.withBottom) continue;
                SkyFace& face = gSkyFaces[f];
                const int h = f == 4 ? set.upHeight : set.side;
                face.image = MakePicture(set.side, h, 32, Content(f % 3));
                face.loaded = 1;
                face.width = set.side;
                face.height = h;
                if (set.hdr) {
                    face.isHdr = 1;
                    face.hdrData = std::make_unique<HdrBlock>(HdrOf(*face.image));
                }
            }
        };
        auto run = [&] {
            load();
            Bytes out;
            for (int64_t layout = 0; layout <= 2; ++layout) {
                std::vector<int64_t> reports;
                ImagePtr img = BuildSkyboxImage(layout, [&](const std::string&, int64_t done, int64_t total) {
                    reports.push_back(done);
                    reports.push_back(total);
                });
                AppendImage(out, img.get());
                for (int64_t r : reports) AppendRaw(out, r);
                int64_t w = 0, h = 0;
                HdrBlockPtr block = BuildHdrSkyboxImage(layout, w, h);
                if (block) AppendBytes(out, block->bytes.data(), block->bytes.size());
            }
            RotateFaceQuarterTurn(4);
            AppendImage(out, gSkyFaces[4].image.get());
            if (const HdrBlock* turned = gSkyFaces[4].hdrData.get())
                AppendBytes(out, turned->bytes.data(), turned->bytes.size());
            return out;
        };
        SetThreadCountForTesting(1);
        const Bytes want = run();
        for (int threads : {3, 8}) {
            SetThreadCountForTesting(threads);
            EXPECT_TRUE(run() == want) << "faces of " << set.side << " with " << threads << " threads";
        }
    }
}

}  // namespace
