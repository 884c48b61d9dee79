// The batch conversion without its window: every case runs once with each
// item finished before the next and once with the items overlapped, and both
// runs must leave the same files, byte for byte, and the same summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "formats/batch_convert.h"
#include "formats/hdr.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "tests/test_support.h"
#include "toolkit/parallel.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

// A picture whose pixels depend on the seed, so two outputs of different
// sources never agree by chance.
ImagePtr Picture(int w, int h, int seed, bool transparent = false) {
    ImagePtr image = CreateImage(w, h, 32, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixelColour(*image, x, y,
                           MakeColour((x * 7 + seed * 40) & 255, (y * 5 + seed * 90) & 255, (x + y + seed) & 255,
                                      transparent ? (x * 16) & 255 : 255));
    return image;
}

void Png(const std::string& path, int seed, int w = 16, int h = 12, bool transparent = false) {
    ASSERT_TRUE(EncodePngFile(*Picture(w, h, seed, transparent), path, 32)) << path;
}

void Tga(const std::string& path, int seed) { ASSERT_EQ(WriteTgaFile(*Picture(8, 8, seed), path, 0), 1) << path; }

void Hdr(const std::string& path) {
    HdrBlock block;
    block.width = 4;
    block.height = 2;
    block.bytes.assign(4 * 2 * 4, 0);
    for (size_t i = 0; i < block.bytes.size(); i += 4) {
        block.bytes[i] = 200;
        block.bytes[i + 3] = 129;
    }
    ASSERT_EQ(WriteHdrFile(&block, 4, 2, path), 1) << path;
}

// Every file below `folder` (relative name, then bytes), temporaries included.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& folder, const std::string& prefix = "") {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const FolderEntry& e : ScanFolder(folder + prefix)) {
        const std::string name = prefix + e.name;
        if (e.isFolder) {
            for (auto& [sub, bytes] : FilesBelow(folder, name + "/")) files[sub] = std::move(bytes);
        } else {
            ReadWholeFile(folder + name, files[name]);
        }
    }
    return files;
}

// One case: makes its sources in an empty folder and says how to run them.
struct Case {
    std::string title;
    std::function<void(const std::string& root)> make;
    std::vector<std::string> sources;  // relative to the root
    BatchSettings settings;            // outputFolder relative to the root
    std::string summary;               // as one-by-one runs write it
    int64_t stopAtItem = 0;            // Stop pressed while this item is shown
    int64_t failAfterBytes = -1;       // disk full after this many bytes
};

struct RunResult {
    std::string summary;
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<int64_t> shown;
};

RunResult RunCase(const Case& c, bool overlap) {
    TempFolder folder;
    const std::string root = folder.path;
    c.make(root);
    std::vector<std::string> sources;
    for (const std::string& s : c.sources) sources.push_back(root + s);
    BatchSettings settings = c.settings;
    if (!settings.useSourceFolder) settings.outputFolder = root + settings.outputFolder;
    bool collisions = false;
    const std::vector<std::string> outputs = PlanBatchOutputs(sources, settings, collisions);
    EXPECT_EQ(collisions, settings.sameNames != BatchSameNames::None) << c.title;

    RunResult run;
    bool stop = false;
    const std::thread::id caller = std::this_thread::get_id();
    BatchCallbacks callbacks;
    callbacks.stopRequested = [&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        return stop;
    };
    callbacks.itemStarts = [&](int64_t item, int64_t count, const std::string&) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_EQ(count, int64_t(sources.size()));
        run.shown.push_back(item);
        if (item == c.stopAtItem) stop = true;
    };
    callbacks.waiting = [&] { EXPECT_EQ(std::this_thread::get_id(), caller); };
    SetBatchOverlapForTesting(overlap);
    SetWriteFailureAfterBytes(c.failAfterBytes);
    const BatchOutcome outcome = ConvertBatchItems(sources, outputs, settings, callbacks);
    SetWriteFailureAfterBytes(-1);
    SetBatchOverlapForTesting(true);
    run.summary = ComposeBatchSummary(outcome, settings.extension);
    run.files = FilesBelow(root);
    return run;
}

BatchSettings Into(const std::string& extension, const std::string& folder = "out/") {
    BatchSettings settings;
    settings.extension = extension;
    settings.useSourceFolder = false;
    settings.outputFolder = folder;
    return settings;
}

BatchSettings Beside(const std::string& extension) {
    BatchSettings settings;
    settings.extension = extension;
    return settings;
}

template <typename F>
BatchSettings With(BatchSettings settings, F&& change) {
    change(settings);
    return settings;
}

TEST(BatchConvert, OverlappedRunsMatchOneByOneRuns) {
    const auto mkdirs = [](const std::string& root, std::initializer_list<const char*> names) {
        for (const char* n : names) ASSERT_TRUE(CreateFolder(root + n));
    };
    const auto fourPngs = [&](const std::string& r) {
        mkdirs(r, {"src", "out"});
        for (int i = 1; i <= 4; ++i) Png(r + "src/" + std::to_string(i) + ".png", i);
    };
    const std::vector<std::string> fourSources = {"src/1.png", "src/2.png", "src/3.png", "src/4.png"};
    std::vector<std::string> many;
    for (int i = 0; i < 14; ++i) many.push_back("src/p" + std::to_string(i) + ".png");

    const std::vector<Case> cases = {
        {"many pictures to DDS, with and without transparency",
         [&](const std::string& r) {
             mkdirs(r, {"src", "out"});
             for (int i = 0; i < 14; ++i) Png(r + many[size_t(i)], i, 40 + i * 9, 24 + i * 5, i % 3 == 0);
         },
         many, Into("dds"), "Converted: 14   Skipped: 0   Failed: 0\n\n"},
        {"same names numbered; a numbered name meets a real one",
         [&](const std::string& r) {
             mkdirs(r, {"a", "b", "out"});
             Png(r + "a/x.png", 1);
             Png(r + "b/x.png", 2);
             Png(r + "a/x_2.png", 3);
         },
         {"a/x.png", "b/x.png", "a/x_2.png"},
         With(Into("tga"),
              [](BatchSettings& s) {
                  s.sameNames = BatchSameNames::Number;
                  s.force = true;
              }),
         "Converted: 2   Skipped: 1   Failed: 0\n\nx_2.tga: skipped (already exists)\n"},
        {"same names: only the first",
         [&](const std::string& r) {
             mkdirs(r, {"a", "b", "out"});
             Png(r + "a/x.png", 1);
             Png(r + "b/x.png", 2);
         },
         {"a/x.png", "b/x.png"}, With(Into("tga"), [](BatchSettings& s) { s.sameNames = BatchSameNames::FirstOnly; }),
         "Converted: 1   Skipped: 1   Failed: 0\n\nx.png: skipped (same name as an earlier file)\n"},
        {"existing outputs are kept, the source is never the output",
         [&](const std::string& r) {
             mkdirs(r, {"src"});
             Png(r + "src/a.png", 1);
             Png(r + "src/b.png", 2);
             Tga(r + "src/a.tga", 9);
             Tga(r + "src/c.tga", 3);
         },
         {"src/a.png", "src/b.png", "src/c.tga"}, Beside("tga"),
         "Converted: 1   Skipped: 2   Failed: 0\n\na.tga: skipped (already exists)\n"
         "c.tga: skipped (output would overwrite the source file)\n"},
        {"a file that does not load, and an output that cannot be written",
         [&](const std::string& r) {
             mkdirs(r, {"src", "out", "out/b.dds"});
             Png(r + "src/a.png", 1);
             Png(r + "src/b.png", 2);
             Png(r + "src/d.png", 4);
             const uint8_t junk[] = {1, 2, 3, 4, 5};
             ASSERT_TRUE(WriteWholeFile(r + "src/c.png", junk, sizeof junk));
         },
         {"src/a.png", "src/b.png", "src/c.png", "src/d.png"}, Into("dds"),
         "Converted: 2   Skipped: 0   Failed: 2\n\nb.png: could not write the file\n"
         "c.png: This image format is not supported, or the file is damaged.\n"},
        {"a full disk fails every write and leaves nothing behind",
         fourPngs, fourSources, Into("dds"),
         "Converted: 0   Skipped: 0   Failed: 4\n\n1.png: could not write the file\n2.png: could not write the "
         "file\n3.png: could not write the file\n4.png: could not write the file\n",
         0, 0},
        // The flag is seen as an item is shown (the window's poll), so that
        // item is still converted.
        {"Stop seen as the first item is shown converts one",
         fourPngs, fourSources, Into("tga"),
         "Stopped by the user.\nConverted: 1   Skipped: 0   Failed: 0\n\n", 1},
        {"Stop seen as the second item is shown converts two",
         fourPngs, fourSources, Into("tga"),
         "Stopped by the user.\nConverted: 2   Skipped: 0   Failed: 0\n\n", 2},
        {"HDR target: only HDR sources are written",
         [&](const std::string& r) {
             mkdirs(r, {"src", "out"});
             Png(r + "src/a.png", 1);
             Hdr(r + "src/b.hdr");
             Tga(r + "src/c.tga", 3);
         },
         {"src/a.png", "src/b.hdr", "src/c.tga"}, Into("hdr"),
         "Converted: 1   Skipped: 2   Failed: 0\n\na.png: skipped (not an HDR texture, cannot be saved as .hdr)\n"
         "c.tga: skipped (not an HDR texture, cannot be saved as .hdr)\n"},
        {"first-generation textures are fitted to 1024",
         [&](const std::string& r) {
             mkdirs(r, {"src", "out"});
             Png(r + "src/big.png", 1, 2048, 1024);
             Png(r + "src/edge.png", 2, 1024, 1024);
         },
         {"src/big.png", "src/edge.png"}, Into("tex"),
         "Converted: 2   Skipped: 0   Failed: 0\n\n1 file(s) were resized to fit 1024 pixels for Dravik 1.\n"},
        {"without fitting a large texture fails",
         [&](const std::string& r) {
             mkdirs(r, {"src", "out"});
             Png(r + "src/big.png", 1, 1030, 8);
             Png(r + "src/small.png", 2);
         },
         {"src/big.png", "src/small.png"}, With(Into("tex"), [](BatchSettings& s) { s.fit1024 = false; }),
         "Converted: 1   Skipped: 0   Failed: 1\n\nbig.png: larger than 1024 pixels (not allowed for Dravik 1)\n"},
        {"a later item reads what an earlier one wrote",
         [&](const std::string& r) {
             mkdirs(r, {"a", "out"});
             Tga(r + "a/b.tga", 1);
             Tga(r + "out/b.tga", 2);
         },
         {"a/b.tga", "out/b.tga"},
         With(Into("tga"),
              [](BatchSettings& s) {
                  s.force = true;
                  s.sameNames = BatchSameNames::Number;
              }),
         "Converted: 2   Skipped: 0   Failed: 0\n\n"},
        {"a folder reached through a link is the same folder",
         [&](const std::string& r) {
             mkdirs(r, {"real"});
             ASSERT_EQ(symlink((r + "real").c_str(), (r + "link").c_str()), 0);
             Png(r + "real/p.png", 1, 300, 200);
             Png(r + "real/q.png", 2);
         },
         {"real/p.png", "link/p.png", "real/q.png"}, Beside("jpg"),
         "Converted: 2   Skipped: 1   Failed: 0\n\np.jpg: skipped (already exists)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const RunResult one = RunCase(c, false);
        EXPECT_EQ(one.summary, c.summary);
        for (int round = 0; round < 3; ++round) {
            const RunResult overlapped = RunCase(c, true);
            EXPECT_EQ(overlapped.summary, one.summary);
            EXPECT_EQ(overlapped.shown, one.shown);
            ASSERT_EQ(overlapped.files.size(), one.files.size());
            for (const auto& [name, bytes] : one.files) {
                ASSERT_EQ(overlapped.files.count(name), 1u) << name;
                EXPECT_TRUE(overlapped.files.at(name) == bytes) << name << " differs";
            }
        }
    }
}

// While items convert in the background the caller is called back, so a
// window stays alive; a Stop given then ends the run before the next item,
// and the items already started are finished and counted.
TEST(BatchConvert, WaitingForLongItemsCallsBackAndStopEndsBeforeTheNextItem) {
    TempFolder folder;
    const std::string src = folder.path + "src/", out = folder.path + "out/";
    ASSERT_TRUE(CreateFolder(src) && CreateFolder(out));
    std::vector<std::string> sources;
    for (int i = 1; i <= 5; ++i) {
        sources.push_back(src + std::to_string(i) + ".tga");
        // One thread for everything makes the first three long for sure.
        const int side = i <= 3 ? 2048 : 8;
        ASSERT_EQ(WriteTgaFile(*Picture(side * 2, side, i), sources.back(), 0), 1);
    }
    const BatchSettings settings = Into("dds", out);
    bool collisions = false;
    const std::vector<std::string> outputs = PlanBatchOutputs(sources, settings, collisions);
    std::vector<int64_t> shown;
    int waits = 0;
    BatchCallbacks callbacks;
    callbacks.stopRequested = [&] { return waits > 0; };
    callbacks.itemStarts = [&](int64_t item, int64_t, const std::string&) { shown.push_back(item); };
    callbacks.waiting = [&] { ++waits; };
    SetThreadCountForTesting(1);
    const BatchOutcome outcome = ConvertBatchItems(sources, outputs, settings, callbacks);
    SetThreadCountForTesting(0);
    EXPECT_GE(waits, 1);
    EXPECT_EQ(shown, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(ComposeBatchSummary(outcome, "dds"), "Stopped by the user.\nConverted: 3   Skipped: 0   Failed: 0\n\n");
    std::vector<std::string> names;
    for (const FolderEntry& e : ScanFolder(out)) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"1.dds", "2.dds", "3.dds"}));
}

}  // namespace
