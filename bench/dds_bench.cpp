// Whole DDS saves: DXT5 with every mip level of a 4096 x 4096 picture.
//
// bench/dds_save_compare.sh passes the picture it also gives to the other
// tools, as an uncompressed DDS in ORVANTA_BENCH_DDS_INPUT; without it a
// generated picture of the same size is used.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/dds.h"
#include "toolkit/files.h"
#include "toolkit/image.h"

namespace {

ImagePtr BenchPicture() {
    if (const char* input = std::getenv("ORVANTA_BENCH_DDS_INPUT")) {
        std::vector<uint8_t> bytes;
        TexInfo info;
        if (ReadWholeFile(input, bytes)) return ReadDdsFromMemory(bytes.data(), int64_t(bytes.size()), info);
        return nullptr;
    }
    ImagePtr img = CreateImage(4096, 4096);
    for (int y = 0; y < 4096; ++y) {
        uint8_t* row = img->RowFromTop(y);
        for (int x = 0; x < 4096; ++x) {
            row[x * 4] = uint8_t((x * 7 + y * 3) >> 4);
            row[x * 4 + 1] = uint8_t((x ^ y) >> 3);
            row[x * 4 + 2] = uint8_t((x * y) >> 12);
            row[x * 4 + 3] = uint8_t(y >> 4);
        }
    }
    return img;
}

void BM_SaveDdsDxt5Mips(benchmark::State& state) {
    static ImagePtr picture = BenchPicture();
    if (!picture) {
        state.SkipWithError("cannot read the picture in ORVANTA_BENCH_DDS_INPUT");
        return;
    }
    const char* folder = std::getenv("TMPDIR");
    const std::string path = std::string(folder && *folder ? folder : "/tmp") + "/orvanta_bench_save.dds";
    for (auto _ : state) {
        if (WriteDdsFile(*picture, path, kDdsSaveDxt5, 1) != 1) {
            state.SkipWithError("save failed");
            break;
        }
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveDdsDxt5Mips)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
