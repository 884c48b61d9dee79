// The batch conversion without its window: every case runs once with each
// item finished before the next and then with the items overlapped, and the
// runs must leave the same files, byte for byte, and the same summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "formats/batch_convert.h"
#include "formats/hdr.h"
#include "formats/tga.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/thread.h"

namespace {

// Pixels depend on the seed, so outputs of different sources never agree by chance.
ImagePtr Picture(int w, int h, int seed) {
    ImagePtr image = CreateImage(w, h, 32, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixelColour(*image, x, y, MakeColour((x * 7 + seed * 40) & 255, (y * 5 + seed * 90) & 255,
                                                    (x + y + seed) & 255, seed % 3 ? 255 : (x * 16) & 255));
    return image;
}

// A file a case makes: a picture by its extension (".png", ".tga" or ".hdr")
// seeded by its place in the list, five bytes of junk, a folder (the name
// ends in "/"), a symbolic link or a hard link.
struct Source {
    std::string name;
    int w = 16, h = 12;       // 0 x 0: junk
    std::string linkTo = "";  // relative to the root
    bool hard = false;        // linkTo as a hard link
};

void Make(const std::string& root, const std::vector<Source>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        const Source& f = files[i];
        const std::string path = root + f.name, ext = GetLowerExtension(path);
        ASSERT_TRUE(CreateFolder(GetFolderPart(path)));
        if (!f.linkTo.empty()) {
            ASSERT_EQ((f.hard ? link : symlink)((root + f.linkTo).c_str(), path.c_str()), 0);
        } else if (f.w == 0) {
            ASSERT_TRUE(WriteWholeFile(path, "\1\2\3\4\5", 5));
        } else if (ext == "hdr") {
            HdrBlock block;
            block.width = f.w, block.height = f.h;
            for (int p = 0; p < f.w * f.h; ++p) block.bytes.insert(block.bytes.end(), {200, 0, 0, 129});
            ASSERT_EQ(WriteHdrFile(&block, f.w, f.h, path), 1);
        } else if (ext == "tga") {
            ASSERT_EQ(WriteTgaFile(*Picture(f.w, f.h, int(i) + 1), path, 0), 1);
        } else if (ext == "png") {
            ASSERT_TRUE(EncodePngFile(*Picture(f.w, f.h, int(i) + 1), path, 32));
        }
    }
}

// Every file below `folder` (relative name, then bytes), temporaries included.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& folder, const std::string& prefix = "") {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const FolderEntry& e : ScanFolder(folder + prefix)) {
        if (e.isFolder) files.merge(FilesBelow(folder, prefix + e.name + "/"));
        else ReadWholeFile(folder + prefix + e.name, files[prefix + e.name]);
    }
    return files;
}

std::vector<std::string> NamesBelow(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& file : FilesBelow(folder))
        if (GetFilePart(file.first).rfind(".orvanta-", 0) != 0) names.push_back(file.first);
    return names;
}

struct Case {
    const char* title;
    std::vector<Source> files;
    const char* extension;
    std::string summary;                    // as one-by-one runs write it
    std::vector<std::string> sources = {};  // empty: every picture and junk file made, in order
    bool beside = false;                    // outputs beside their sources, else in "out/"
    bool force = false, fit1024 = true;
    BatchSameNames sameNames = BatchSameNames::None;
    int64_t stopAtItem = 0;      // Stop seen as this item is shown
    // Stop pressed while this item is in hand: in overlapped runs as a click
    // taken in a wait, with the item held after its load and the last item
    // already written ahead to its temporary; in one-by-one runs as its load
    // ends.
    int64_t stopInHand = 0;
    int64_t failAfterBytes = -1;  // disk full after this many bytes
    std::vector<std::string> kept = {};  // files the run must leave as they were
    std::vector<Source> appear = {};     // made once item 1 is in its temporary, long before it is put in place
    NoReplaceWay way = NoReplaceWay::Rename;
    uint64_t room = 0;  // picture memory the run may take (beyond the reserve); 0: what the machine has
    // In overlapped runs, no picture memory beside this item's picture, once
    // it is loaded, until an item started beside it has been refused.
    int64_t crowdedBy = 0;
    // In overlapped runs this item starts to load only once an item beside
    // it has been refused; in every run it is loaded once.
    int64_t loadsOnceAfterRefusal = 0;
    // In overlapped runs this item's thread fails to start once item 1 is
    // through, while the item before it waits to go again alone.
    int64_t launchFails = 0;
};

struct RunResult {
    std::string summary;
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<int64_t> shown;
    // The names of the files below the root other than temporaries as each
    // item is shown: those of the earlier items, never one of a later item.
    std::vector<std::vector<std::string>> filesWhenShown;
};

RunResult RunCase(const Case& c, bool overlap) {
    const TempFolder folder;
    const std::string& root = folder.path;
    Make(root, c.files);
    std::map<std::string, std::vector<uint8_t>> made = FilesBelow(root);
    std::vector<std::string> sources;
    for (const Source& f : c.files)
        if (f.linkTo.empty() && f.name.back() != '/') sources.push_back(root + f.name);
    if (!c.sources.empty()) sources.clear();
    for (const std::string& s : c.sources) sources.push_back(root + s);
    BatchSettings settings;
    settings.extension = c.extension;
    settings.useSourceFolder = c.beside;
    if (!c.beside) {
        settings.outputFolder = root + "out/";
        EXPECT_TRUE(CreateFolder(settings.outputFolder));
    }
    settings.force = c.force, settings.fit1024 = c.fit1024, settings.sameNames = c.sameNames;
    bool collisions = false;
    const std::vector<std::string> outputs = PlanBatchOutputs(sources, settings, collisions);
    EXPECT_EQ(collisions, settings.sameNames != BatchSameNames::None);

    // Every call back comes on the caller's thread.
    RunResult run;
    std::atomic<bool> stop{false}, lastWritten{false};
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    bool pressed = false;
    int waits = 0;
    const int64_t count = int64_t(sources.size());
    const std::thread::id caller = std::this_thread::get_id();
    BatchCallbacks callbacks;
    callbacks.stopRequested = [&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        return stop.load();
    };
    callbacks.itemInHand = [&](int64_t item, int64_t n, const std::string& name) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_EQ(n, count);
        EXPECT_EQ(name, GetDisplayName(sources[size_t(item - 1)]));
        run.shown.push_back(item);
        run.filesWhenShown.push_back(NamesBelow(root));
        if (item == c.stopAtItem) stop = true;
    };
    callbacks.waiting = [&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        ++waits;
        const bool ready = run.shown.back() == c.stopInHand && (c.stopInHand == count || lastWritten);
        // Ten seconds of waiting mean the held item would never be let go.
        if (pressed || c.stopInHand == 0 || (!ready && waits < 250)) return;
        pressed = true;
        stop = true;
        release.set_value();
    };
    const auto setRoom = [](uint64_t room) { SetFreeMemoryForTesting(room ? kMemoryReserveBytes + room : 0); };
    const auto awaitRefusal = [](uint64_t since) {
        for (int i = 0; i < 500 && CountMemoryRefusals() == since; ++i) usleep(10000);
    };
    const uint64_t refusalsBefore = CountMemoryRefusals();
    std::atomic<int> loads{0};
    std::atomic<bool> launchTried{false}, firstWritten{false};
    int launches = 0;
    if (overlap && c.launchFails)
        SetThreadStartFailureForTesting([&] {
            if (std::this_thread::get_id() != caller || ++launches != c.launchFails) return false;
            launchTried = true;
            awaitRefusal(refusalsBefore);
            for (int i = 0; i < 500 && !firstWritten; ++i) usleep(10000);
            usleep(100000);
            return true;
        });
    SetBatchItemStepHookForTesting([&](int64_t item, BatchItemStep step) {
        if (overlap && item == c.launchFails - 1 && step == BatchItemStep::Loading)
            for (int i = 0; i < 500 && !launchTried; ++i) usleep(10000);
        if (overlap && item == c.crowdedBy && step == BatchItemStep::Loaded) {
            const uint64_t since = CountMemoryRefusals();
            setRoom(1);
            awaitRefusal(since);
            setRoom(c.room);
        }
        if (item == c.loadsOnceAfterRefusal && step == BatchItemStep::Loading) {
            ++loads;
            if (overlap) awaitRefusal(refusalsBefore);
        }
        if (item == c.stopInHand && step == BatchItemStep::Loaded) {
            if (overlap) released.wait();
            else stop = true;
        }
        if (item == count && step == BatchItemStep::Written) lastWritten = true;
        if (item == 1 && step == BatchItemStep::Written) {
            firstWritten = true;
            DeferredCommits notTheRuns;  // the run holds the saves of this thread
            Make(root, c.appear);
            notTheRuns.Finish();
            for (const Source& f : c.appear) ReadWholeFile(root + f.name, made[f.name]);
        }
    });
    SetBatchOverlapForTesting(overlap);
    SetWriteFailureAfterBytes(c.failAfterBytes);
    SetNoReplaceWayForTesting(c.way);
    setRoom(c.room);
    const BatchOutcome outcome = ConvertBatchItems(sources, outputs, settings, callbacks);
    setRoom(0);
    SetNoReplaceWayForTesting(NoReplaceWay::Rename);
    SetWriteFailureAfterBytes(-1);
    SetBatchOverlapForTesting(true);
    SetBatchItemStepHookForTesting(nullptr);
    SetThreadStartFailureForTesting(nullptr);
    EXPECT_EQ(launchTried.load(), overlap && c.launchFails);
    EXPECT_EQ(loads.load(), c.loadsOnceAfterRefusal ? 1 : 0) << "overlapped: " << overlap;
    run.summary = ComposeBatchSummary(outcome, settings.extension);
    run.files = FilesBelow(root);
    for (const std::string& name : c.kept) EXPECT_EQ(run.files[name], made[name]) << name;
    for (const auto& file : run.files) EXPECT_NE(GetFilePart(file.first).rfind(".orvanta-", 0), 0u) << file.first;
    return run;
}

TEST(BatchConvert, OverlappedRunsMatchOneByOneRuns) {
    std::vector<Source> many;
    for (int i = 0; i < 14; ++i) many.push_back({"src/p" + std::to_string(i) + ".png", 40 + i * 9, 24 + i * 5});
    const std::vector<Source> four = {{"src/1.png"}, {"src/2.png"}, {"src/3.png"}, {"src/4.png"}};
    // The outputs of a and b are a link and a hard link to their sources, of c
    // a link to another file, of d a link to nothing yet.
    const std::vector<Source> links = {{"src/a.png"}, {"src/b.png"}, {"src/c.png"}, {"src/d.png"}, {"other.png"},
                                       {"out/a.png", 0, 0, "src/a.png"}, {"out/b.png", 0, 0, "src/b.png", true},
                                       {"out/c.png", 0, 0, "other.png"}, {"out/d.png", 0, 0, "gone.png"}};
    const std::vector<std::string> linkSources = {"src/a.png", "src/b.png", "src/c.png", "src/d.png"};
    const std::string intoSources = "a.png: skipped (output would overwrite the source file)\n"
                                    "b.png: skipped (output would overwrite the source file)\n";
    // Another run's file takes p's name while p waits to be put in place; q's stays free.
    const auto race = [](const char* title, NoReplaceWay way) {
        return Case{.title = title, .files = {{"src/p.png"}, {"src/q.png"}}, .extension = "png",
                    .summary = "Converted: 1   Skipped: 1   Failed: 0\n\np.png: skipped (already exists)\n",
                    .kept = {"src/p.png", "out/p.png"}, .appear = {{"out/p.png", 0, 0}}, .way = way};
    };
    const Case cases[] = {
        {"many pictures to DDS, with and without transparency", many, "dds",
         "Converted: 14   Skipped: 0   Failed: 0\n\n"},
        {.title = "same names numbered; a numbered name meets a real one",
         .files = {{"a/x.png"}, {"b/x.png"}, {"a/x_2.png"}}, .extension = "tga",
         .summary = "Converted: 2   Skipped: 1   Failed: 0\n\nx_2.tga: skipped (already exists)\n",
         .force = true, .sameNames = BatchSameNames::Number},
        {.title = "same names: only the first", .files = {{"a/x.png"}, {"b/x.png"}}, .extension = "tga",
         .summary = "Converted: 1   Skipped: 1   Failed: 0\n\nx.png: skipped (same name as an earlier file)\n",
         .sameNames = BatchSameNames::FirstOnly},
        {.title = "existing outputs are kept, the source is never the output",
         .files = {{"src/a.png"}, {"src/b.png"}, {"src/a.tga"}, {"src/c.tga"}}, .extension = "tga",
         .summary = "Converted: 1   Skipped: 2   Failed: 0\n\na.tga: skipped (already exists)\n"
                    "c.tga: skipped (output would overwrite the source file)\n",
         .sources = {"src/a.png", "src/b.png", "src/c.tga"}, .beside = true},
        {"a file that does not load, and an output that cannot be written",
         {{"out/b.dds/"}, {"src/a.png"}, {"src/b.png"}, {"src/c.png", 0, 0}, {"src/d.png"}}, "dds",
         "Converted: 2   Skipped: 0   Failed: 2\n\nb.png: could not write the file\n"
         "c.png: This image format is not supported, or the file is damaged.\n"},
        {.title = "a full disk fails every write and leaves nothing behind", .files = four, .extension = "dds",
         .summary = "Converted: 0   Skipped: 0   Failed: 4\n\n1.png: could not write the file\n"
                    "2.png: could not write the file\n3.png: could not write the file\n"
                    "4.png: could not write the file\n",
         .failAfterBytes = 0},
        // The flag is seen as an item is shown (the window's poll), so that
        // item is still converted.
        {.title = "Stop seen as the second item is shown converts two", .files = four, .extension = "tga",
         .summary = "Stopped by the user.\nConverted: 2   Skipped: 0   Failed: 0\n\n", .stopAtItem = 2},
        {.title = "Stop while the first of three is in hand converts two, drops the third",
         .files = {{"src/1.png"}, {"src/2.png"}, {"src/3.png"}}, .extension = "tga",
         .summary = "Stopped by the user.\nConverted: 2   Skipped: 0   Failed: 0\n\n", .stopInHand = 1},
        {.title = "Stop while the second is in hand: a skip ahead is dropped, not logged",
         .files = {{"out/4.tga"}, {"src/1.png"}, {"src/2.png"}, {"src/3.png"}, {"src/4.png"}, {"src/5.png"}},
         .extension = "tga",
         .summary = "Stopped by the user.\nConverted: 3   Skipped: 0   Failed: 0\n\n",
         .sources = {"src/1.png", "src/2.png", "src/3.png", "src/4.png", "src/5.png"}, .stopInHand = 2},
        {.title = "Stop during the last item still says so", .files = {{"src/1.png"}, {"src/2.png"}, {"src/3.png"}},
         .extension = "tga",
         .summary = "Stopped by the user.\nConverted: 3   Skipped: 0   Failed: 0\n\n", .stopInHand = 3},
        {"HDR target: only HDR sources are written", {{"src/a.png"}, {"src/b.hdr", 4, 2}, {"src/c.tga"}}, "hdr",
         "Converted: 1   Skipped: 2   Failed: 0\n\na.png: skipped (not an HDR texture, cannot be saved as .hdr)\n"
         "c.tga: skipped (not an HDR texture, cannot be saved as .hdr)\n"},
        {"first-generation textures are fitted to 1024", {{"src/big.png", 2048, 1024}, {"src/edge.png", 1024, 1024}},
         "tex", "Converted: 2   Skipped: 0   Failed: 0\n\n1 file(s) were resized to fit 1024 pixels for Dravik 1.\n"},
        {.title = "without fitting a large texture fails", .files = {{"src/big.png", 1030, 8}, {"src/small.png"}},
         .extension = "tex",
         .summary =
             "Converted: 1   Skipped: 0   Failed: 1\n\nbig.png: larger than 1024 pixels (not allowed for Dravik 1)\n",
         .fit1024 = false},
        {.title = "a later item reads what an earlier one wrote", .files = {{"a/b.tga"}, {"out/b.tga"}},
         .extension = "tga", .summary = "Converted: 2   Skipped: 0   Failed: 0\n\n", .force = true,
         .sameNames = BatchSameNames::Number},
        {.title = "a folder reached through a link is the same folder",
         .files = {{"real/p.png", 300, 200}, {"real/q.png"}, {"link", 0, 0, "real"}}, .extension = "jpg",
         .summary = "Converted: 2   Skipped: 1   Failed: 0\n\np.jpg: skipped (already exists)\n",
         .sources = {"real/p.png", "link/p.png", "real/q.png"}, .beside = true},
        {.title = "links into the source are never written through; others are", .files = links,
         .extension = "png", .summary = "Converted: 2   Skipped: 2   Failed: 0\n\n" + intoSources,
         .sources = linkSources, .force = true, .kept = linkSources},
        {.title = "links without overwriting", .files = links, .extension = "png",
         .summary = "Converted: 1   Skipped: 3   Failed: 0\n\n" + intoSources + "c.png: skipped (already exists)\n",
         .sources = linkSources, .kept = {"src/a.png", "src/b.png", "src/c.png", "src/d.png", "other.png"}},
        {.title = "a link to the source appears while the item is written", .files = {{"src/p.png"}},
         .extension = "png",
         .summary =
             "Converted: 0   Skipped: 1   Failed: 0\n\np.png: skipped (output would overwrite the source file)\n",
         .force = true, .kept = {"src/p.png", "out/p.png"}, .appear = {{"out/p.png", 0, 0, "src/p.png"}}},
        race("a file appears: the rename refuses to replace it", NoReplaceWay::Rename),
        race("a file appears: a hard link cannot take its name", NoReplaceWay::Link),
        race("a file appears: a placeholder cannot be created", NoReplaceWay::Placeholder),
        // Pictures of 1.2 MB, each checked for room.
        {.title = "items refused memory beside another go again alone",
         .files = {{"src/1.png", 640, 480}, {"src/2.png", 640, 480}, {"src/3.png", 640, 480}, {"src/4.png", 640, 480}},
         .extension = "dds", .summary = "Converted: 4   Skipped: 0   Failed: 0\n\n", .crowdedBy = 1},
        {.title = "a thread that cannot start beside an item waiting to go again alone",
         .files = {{"src/1.png", 640, 480}, {"src/2.png", 640, 480}, {"src/3.png", 640, 480}, {"src/4.png", 640, 480}},
         .extension = "dds", .summary = "Converted: 4   Skipped: 0   Failed: 0\n\n", .crowdedBy = 1,
         .launchFails = 3},
        {.title = "a damaged item beside a refused one fails once, not again alone",
         .files = {{"src/1.png", 640, 480}, {"src/2.png", 0, 0}, {"src/3.png", 640, 480}, {"src/4.png", 640, 480}},
         .extension = "dds",
         .summary = "Converted: 3   Skipped: 0   Failed: 1\n\n"
                    "2.png: This image format is not supported, or the file is damaged.\n",
         .crowdedBy = 1, .loadsOnceAfterRefusal = 2},
        {.title = "an item without room even alone fails, and says why",
         .files = {{"src/1.png", 640, 480}, {"src/2.png", 640, 480}}, .extension = "tga",
         .summary = "Converted: 0   Skipped: 0   Failed: 2\n\n1.png: Not enough memory for the image.\n"
                    "2.png: Not enough memory for the image.\n",
         .room = 1},
        // The third file's picture has alpha, so its TGA file is the picture and a header.
        {.title = "a writer refused memory says so",
         .files = {{"src/1.png"}, {"src/2.png"}, {"src/3.png", 640, 480}}, .extension = "tga",
         .summary = "Converted: 0   Skipped: 0   Failed: 1\n\n3.png: not enough memory\n", .sources = {"src/3.png"},
         .room = 640 * 480 * 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const RunResult one = RunCase(c, false);
        EXPECT_EQ(one.summary, c.summary);
        for (int round = 0; round < 3; ++round) {
            const RunResult overlapped = RunCase(c, true);
            EXPECT_EQ(overlapped.summary, one.summary);
            EXPECT_EQ(overlapped.shown, one.shown);
            EXPECT_EQ(overlapped.filesWhenShown, one.filesWhenShown);
            EXPECT_EQ(overlapped.files, one.files);
        }
    }
}

// Two runs at once into one folder, neither overwriting, with different
// pictures under the same 40 names: each name is converted by one run and
// skipped by the other, and holds the whole picture of the run that made it.
TEST(BatchConvert, TwoRunsAtOnceNeverReplaceEachOthersOutputs) {
    const TempFolder folder;
    std::vector<Source> files;
    for (int i = 0; i < 80; ++i)
        files.push_back({"src" + std::to_string(i / 40) + "/p" + std::to_string(i % 40) + ".png"});
    Make(folder.path, files);
    BatchSettings settings;
    settings.extension = "tga", settings.useSourceFolder = false;
    bool collisions = false;
    std::vector<std::string> sources[2];
    std::map<std::string, std::vector<uint8_t>> alone[2];  // what each run makes on its own
    for (int run = 0; run < 2; ++run) {
        for (int i = 0; i < 40; ++i) sources[run].push_back(folder.path + files[size_t(run * 40 + i)].name);
        settings.outputFolder = folder.path + "alone" + std::to_string(run) + "/";
        ASSERT_TRUE(CreateFolder(settings.outputFolder));
        ConvertBatchItems(sources[run], PlanBatchOutputs(sources[run], settings, collisions), settings, {});
        alone[run] = FilesBelow(settings.outputFolder);
    }
    settings.outputFolder = folder.path + "out/";
    ASSERT_TRUE(CreateFolder(settings.outputFolder));
    const std::vector<std::string> outputs = PlanBatchOutputs(sources[0], settings, collisions);
    BatchOutcome outcomes[2];
    std::atomic<int> ready{0};
    const auto runAtOnce = [&](int run) {
        for (++ready; ready < 2;) std::this_thread::yield();
        outcomes[run] = ConvertBatchItems(sources[run], outputs, settings, {});
    };
    std::thread second(runAtOnce, 1);
    runAtOnce(0);
    second.join();
    EXPECT_EQ(outcomes[0].converted + outcomes[1].converted, 40);
    EXPECT_EQ(outcomes[0].skipped + outcomes[1].skipped, 40);
    const auto out = FilesBelow(settings.outputFolder);  // temporaries included
    EXPECT_EQ(out.size(), 40u);
    for (const auto& [name, bytes] : out) EXPECT_TRUE(bytes == alone[0][name] || bytes == alone[1][name]) << name;
}

}  // namespace
