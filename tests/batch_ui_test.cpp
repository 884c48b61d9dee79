// The batch window and its run, driven through the UI layer's test hooks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "editor/batch.h"
#include "formats/batch_convert.h"
#include "formats/dispatch.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "tests/editor_fixture.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/parallel.h"

namespace {

constexpr int kSrcTex = 0, kSrcTga = 1, kSrcPng = 2, kSrcTif = 5, kSrcJpg = 6;
constexpr int kDstTga = 0, kDstPng = 1, kDstJpg = 5, kDstDds = 6, kDstTex = 7;

class EditorBatchTest : public EditorTest {
protected:
    // Opens the window, runs `script` once it is built and `check` once the
    // events the script queued are handled, then closes it.
    void WithWindow(const std::function<void()>& script, const std::function<void()>& check = nullptr) {
        bool closing = false;
        SetBatchWindowHookForTesting([&](int handled) {
            if (handled == 0) script();
            if (closing || UiTestPendingEvents() != 0) return;
            if (check) check();
            closing = true;
            UiTestQueueGadget(gBatchCloseButton, UiEventType::Click);
        });
        ShowBatchWindow(gMainWindow, dir_);
        SetBatchWindowHookForTesting(nullptr);
    }
    void SetFormats(int source, int target) {
        UiSetGadgetState(gBatchSourceCombo, source);
        UiSetGadgetState(gBatchTargetCombo, target);
    }
    std::string MakeFolder(const std::string& name) {
        const std::string folder = dir_ + name + "/";
        CreateFolder(folder);
        return folder;
    }
    std::string Png(const std::string& path, int w = 4, int h = 4, int alpha = 255) {
        ImagePtr image = CreateImage(w, h, 32, MakeColour(10, 20, 30, alpha));
        EXPECT_TRUE(EncodePngFile(*image, path, 32));
        return path;
    }
    std::string Tex(const std::string& path, int w, int h, int firstMip = 0, int flag = 0) {
        ImagePtr image = CreateImage(w, h, 32, MakeColour(90, 60, 30));
        EXPECT_EQ(WriteTexFile(image.get(), path, 0, firstMip, flag), 1);
        return path;
    }
    // The summary is the last message of a run.
    std::string LastMessage() const {
        const std::vector<std::string> all = Messages();
        return all.empty() ? "" : all.back();
    }
};

TEST_F(EditorBatchTest, AcceptsSourcesByExtensionOnceIgnoringCase) {
    struct Case {
        int source;
        std::string path;
        int64_t added;
    };
    const std::vector<Case> cases = {
        {kSrcTif, "/a/one.tif", 1},   {kSrcTif, "/a/two.TIFF", 1},  {kSrcTif, "/a/ONE.TIF", 0},
        {kSrcTif, "/a/three.png", 0}, {kSrcJpg, "/a/p.jpeg", 1},    {kSrcJpg, "/a/q.JPG", 1},
        {kSrcTex, "/a/x.gro::d/e.tex", 1}, {kSrcTex, "/a/X.GRO::D/E.TEX", 0}, {kSrcTex, "/a/noext", 0},
        {kSrcPng, "/a.png/noext", 0},
    };
    WithWindow([&] {
        for (const Case& c : cases) {
            UiSetGadgetState(gBatchSourceCombo, c.source);
            EXPECT_EQ(AddBatchFile(c.path), c.added) << c.path;
        }
        EXPECT_EQ(UiCountItems(gBatchList), int(gBatchItems.size()));
        EXPECT_EQ(UiGetItemText(gBatchList, 4, 0), "e.tex");
    });
    EXPECT_EQ(gBatchItems.size(), 5u);
}

TEST_F(EditorBatchTest, CombosAndTheAddRequesterNameTheFormats) {
    WithWindow([&] {
        EXPECT_EQ(UiGetItemText(gBatchSourceCombo, 0), "Dravik texture (*.tex)");
        EXPECT_EQ(UiGetItemText(gBatchTargetCombo, 6), "DirectDraw Surface (*.dds), format chosen automatically");
        SetFormats(kSrcTif, kDstDds);
        EXPECT_EQ(GetBatchSourceExtension() + GetBatchTargetExtension(), "tifdds");
        UiTestScriptPath("");
        UiTestQueueGadget(gBatchAddFilesButton, UiEventType::Click);
    });
    EXPECT_EQ(UiTestRequests().back().patterns, "Source format (*.tif)|*.tif;*.tiff");
}

TEST_F(EditorBatchTest, FolderTreesAndDropsAddMatchingFilesAndSurviveLinkLoops) {
    const std::string top = MakeFolder("tree");
    CreateFolder(top + "sub/");
    CreateFolder(top + "sub/deeper/");
    Png(top + "a.png");
    Png(top + "sub/b.png");
    Png(top + "sub/deeper/c.PNG");
    const uint8_t text[] = {'x'};
    ASSERT_TRUE(WriteWholeFile(top + "sub/notes.txt", text, 1));
    ASSERT_EQ(symlink(top.c_str(), (top + "sub/loop").c_str()), 0);

    WithWindow([&] {
        SetFormats(kSrcPng, kDstTga);
        UiTestQueueFilesDropped(gBatchList, {top, top + "sub/notes.txt"});
        UiTestQueueGadget(gBatchAddFolderButton, UiEventType::Click);
        UiTestScriptPath(top);
    }, [&] {
        EXPECT_EQ(UiGetGadgetText(gBatchStatusText), "0 file(s) added from " + top);
        EXPECT_EQ(UiGetGadgetText(gBatchCountText), "3 files, 0 selected");
    });
    ASSERT_EQ(gBatchItems.size(), 3u);
}

TEST_F(EditorBatchTest, SourceChangeDropsMismatchesAndArchiveEntriesUntickSourceFolder) {
    WithWindow([&] {
        SetFormats(kSrcTex, kDstTex);
        for (const char* p : {"/a/1.tex", "/a/2.tex", "/a/3.tex", "/a/4.tex", "/a/5.tex"}) AddBatchFile(p);
        UpdateBatchControls();
        AddBatchFile("/a/p.gro::t/x.tex");
        UpdateBatchControls();
        EXPECT_EQ(UiGetGadgetState(gBatchUseSourceCheck), 0);
        EXPECT_FALSE(UiIsGadgetEnabled(gBatchUseSourceCheck));
        EXPECT_TRUE(UiIsGadgetEnabled(gBatchFolderButton));
        EXPECT_EQ(UiGetGadgetText(gBatchFolderText), "(no folder chosen)");

        UiSetGadgetState(gBatchSourceCombo, kSrcPng);
        UiSetGadgetState(gBatchTargetCombo, kDstPng);
        UiTestScriptMessageAnswer(1);
        UiTestQueueGadget(gBatchSourceCombo, UiEventType::Change);
    });
    EXPECT_EQ(Messages().back(), "6 file(s) in the list do not match the new source format and were removed.");
    EXPECT_TRUE(gBatchItems.empty());
}

TEST_F(EditorBatchTest, SettingsPersistAndReopeningEmptiesTheList) {
    const std::string out = MakeFolder("out");
    WithWindow([&] {
        SetFormats(kSrcPng, kDstDds);
        UiSetGadgetState(gBatchUseSourceCheck, 0);
        UiSetGadgetState(gBatchForceCheck, 1);
        UiTestQueueGadget(gBatchFolderButton, UiEventType::Click);
        UiTestScriptPath(out);
        AddBatchFile(dir_ + "x.png");
    });
    gBatchOutputFolder.clear();  // as after a restart
    WithWindow([&] {
        EXPECT_EQ(UiGetGadgetState(gBatchSourceCombo), kSrcPng);
        EXPECT_EQ(UiGetGadgetState(gBatchTargetCombo), kDstDds);
        EXPECT_EQ(UiGetGadgetState(gBatchUseSourceCheck), 0);
        EXPECT_EQ(UiGetGadgetState(gBatchForceCheck), 1);
        EXPECT_EQ(UiCountItems(gBatchList), 0);
        EXPECT_TRUE(gBatchItems.empty());
    });
    EXPECT_EQ(gBatchOutputFolder, out);
}

TEST_F(EditorBatchTest, CollisionAnswersNumberOrSkipTheLaterNames) {
    struct Case {
        int answer;
        std::vector<std::string> outputs;
        std::string summaryStart;
    };
    const std::vector<Case> cases = {
        {1, {"x.png", "X_2.png"}, "Converted: 2   Skipped: 0   Failed: 0\n\n"},
        {0, {"x.png"}, "Converted: 1   Skipped: 1   Failed: 0\n\nX.tga: skipped (same name as an earlier file)\n"},
        {-1, {}, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = MakeFolder("out" + std::to_string(n));
        const std::string a = MakeFolder("a" + std::to_string(n)), b = MakeFolder("b" + std::to_string(n));
        ++n;
        ImagePtr image = CreateImage(4, 4, 32, MakeColour(1, 2, 3));
        ASSERT_EQ(WriteTgaFile(*image, a + "x.tga", 0), 1);
        ASSERT_EQ(WriteTgaFile(*image, b + "X.tga", 0), 1);
        UiTestClearRequests();
        gBatchOutputFolder = out;
        WithWindow([&] {
            SetFormats(kSrcTga, kDstPng);
            UiSetGadgetState(gBatchUseSourceCheck, 0);
            AddBatchFile(a + "x.tga");
            AddBatchFile(b + "X.tga");
            UiTestScriptMessageAnswer(c.answer);
            if (c.answer != -1) UiTestScriptMessageAnswer(1);
            RunBatchConversion(0);
        });
        std::vector<std::string> written;
        for (const FolderEntry& e : ScanFolder(out)) written.push_back(e.name);
        EXPECT_EQ(written, c.outputs);
        if (!c.summaryStart.empty()) {
            EXPECT_EQ(LastMessage().rfind(c.summaryStart, 0), 0u) << LastMessage();
        }
    }
}

TEST_F(EditorBatchTest, RunRefusesBadSettingsAndNeverOverwritesTheSource) {
    const std::string tga = dir_ + "s.tga";
    ImagePtr image = CreateImage(4, 4, 32, MakeColour(1, 2, 3));
    ASSERT_EQ(WriteTgaFile(*image, tga, 0), 1);
    WithWindow([&] {
        SetFormats(kSrcTga, kDstTga);
        AddBatchFile(tga);
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(1);
        UiSetGadgetState(gBatchForceCheck, 1);
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        UiSetGadgetState(gBatchUseSourceCheck, 0);
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        gBatchOutputFolder = dir_ + "missing/";
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        UiSetGadgetState(gBatchTargetCombo, kDstJpg);
        gBatchOutputFolder = dir_;
        UiTestScriptMessageAnswer(0);
        RunBatchConversion(0);
    });
    const std::vector<std::string> expected = {
        "Nothing selected.",
        "Converted: 0   Skipped: 1   Failed: 0\n\ns.tga: skipped (output would overwrite the source file)\n",
        "Please choose an output folder first (or tick 'Use source folder as output folder').",
        "The output folder does not exist:\n" + dir_ + "missing/",
        "JPG has no transparency: any transparency in the files will be lost.\nContinue?",
    };
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(GetFileKind(dir_ + "s.jpg"), FileKind::Missing);
}

TEST_F(EditorBatchTest, TexTargetFitsLargePicturesOrFailsThem) {
    const std::string src = MakeFolder("src");
    Tex(src + "big.tex", 2048, 1024);
    Tex(src + "edge.tex", 1024, 1024);
    for (int fit : {1, 0}) {
        const std::string out = MakeFolder("out" + std::to_string(fit));
        UiTestClearRequests();
        gBatchOutputFolder = out;
        WithWindow([&] {
            SetFormats(kSrcTex, kDstTex);
            UiSetGadgetState(gBatchUseSourceCheck, 0);
            UiSetGadgetState(gBatchFit1024Check, fit);
            AddBatchFolder(src);
            UiTestScriptMessageAnswer(1);
            RunBatchConversion(0);
        });
        TexInfo info;
        ImagePtr big = LoadImageAnySource(out + "big.tex", info);
        if (fit) {
            ASSERT_TRUE(big);
            EXPECT_EQ(big->width, 1024);
            EXPECT_EQ(big->height, 512);
            EXPECT_EQ(LastMessage(), "Converted: 2   Skipped: 0   Failed: 0\n\n"
                                     "1 file(s) were resized to fit 1024 pixels for Dravik 1.\n");
        } else {
            EXPECT_FALSE(big);
            EXPECT_EQ(LastMessage(), "Converted: 1   Skipped: 0   Failed: 1\n\n"
                                     "big.tex: larger than 1024 pixels (not allowed for Dravik 1)\n");
        }
        FreeTexHdrData(info);
    }
}

TEST_F(EditorBatchTest, StopEndsTheRunBeforeTheNextItem) {
    for (const char* name : {"1.png", "2.png", "3.png"}) Png(dir_ + name);
    WithWindow([&] {
        SetFormats(kSrcPng, kDstTga);
        AddBatchFolder(dir_);
        UiTestQueueGadget(gBatchCloseButton, UiEventType::Click);
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        EXPECT_EQ(UiGetGadgetText(gBatchStatusText), "Stopped.");
        EXPECT_EQ(UiGetGadgetText(gBatchCloseButton), "Close");
    });
    EXPECT_EQ(LastMessage(), "Stopped by the user.\nConverted: 1   Skipped: 0   Failed: 0\n\n");
    EXPECT_EQ(GetFileKind(dir_ + "2.tga"), FileKind::Missing);
}

// Each item's state is on screen while it is the item in hand, never an item
// started ahead, and a Stop clicked while the run waits survives the repaint:
// with the first of three held after its load and the third already written
// ahead, the second is still converted and the third goes without a trace.
TEST_F(EditorBatchTest, EachItemIsShownWhileInHandAndStopDuringTheFirstConvertsTwo) {
    for (const char* name : {"1.png", "2.png", "3.png"}) Png(dir_ + name);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> thirdWritten{false};
    SetBatchItemStepHookForTesting([&](int64_t item, BatchItemStep step) {
        if (item == 1 && step == BatchItemStep::Loaded) released.wait();
        if (item == 3 && step == BatchItemStep::Written) thirdWritten = true;
    });
    std::vector<std::string> shown;
    int temporaries = -1, waits = 0;
    const auto noteShown = [&] {
        const auto status = UiTestLastPaint(gBatchStatusText), bar = UiTestLastPaint(gBatchProgressBar),
                   button = UiTestLastPaint(gBatchCloseButton);
        ASSERT_TRUE(status && bar && button) << "not drawn";
        const std::string now = status->text + " | " + std::to_string(bar->state) + " | " + button->text;
        if (shown.empty() || shown.back() != now) shown.push_back(now);
    };
    WithWindow([&] {
        SetFormats(kSrcPng, kDstTga);
        AddBatchFolder(dir_);
        for (int gadget : {gBatchStatusText, gBatchProgressBar, gBatchCloseButton}) UiTestWatchPaints(gadget);
        SetBatchItemHookForTesting([&](int64_t item) {
            noteShown();
            EXPECT_EQ(GetFileKind(dir_ + std::to_string(item) + ".tga"), FileKind::Missing) << item;
        });
        SetBatchWaitHookForTesting([&] {
            noteShown();
            // Ten seconds of waiting mean the first would never be let go.
            if (temporaries >= 0 || (!thirdWritten && ++waits < 250)) return;
            temporaries = 0;
            for (const FolderEntry& e : ScanFolder(dir_)) temporaries += e.name.rfind(".orvanta-", 0) == 0;
            UiTestQueueGadget(gBatchCloseButton, UiEventType::Click);
            release.set_value();
        });
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        SetBatchItemHookForTesting(nullptr);
        SetBatchWaitHookForTesting(nullptr);
        EXPECT_EQ(UiGetGadgetText(gBatchStatusText), "Stopped.");
    });
    SetBatchItemStepHookForTesting(nullptr);
    EXPECT_EQ(shown, (std::vector<std::string>{"Converting 1 of 3: 1.png | 33 | Stop",
                                               "Converting 2 of 3: 2.png | 66 | Stop"}));
    EXPECT_EQ(LastMessage(), "Stopped by the user.\nConverted: 2   Skipped: 0   Failed: 0\n\n");
    EXPECT_GT(temporaries, 0) << "the third was not waiting in its temporary";
    std::vector<std::string> files;
    for (const FolderEntry& e : ScanFolder(dir_))
        if (!e.isFolder) files.push_back(e.name);
    EXPECT_EQ(files, (std::vector<std::string>{"1.png", "1.tga", "2.png", "2.tga", "3.png"}));
}

// A Stop clicked as the third item comes in hand is taken by the next poll,
// a wait's or the fourth item's, so the fourth is still converted, as when
// the window was polled once per item. Large items on one thread keep
// several in flight.
TEST_F(EditorBatchTest, StopTakenWhileWaitingForItemsStillConvertsTheNextOne) {
    for (const char* name : {"1.png", "2.png", "3.png", "4.png", "5.png"}) Png(dir_ + name, 4096, 4096);
    SetThreadCountForTesting(1);
    WithWindow([&] {
        SetFormats(kSrcPng, kDstDds);
        AddBatchFolder(dir_);
        SetBatchItemHookForTesting([&](int64_t item) {
            if (item == 3) UiTestQueueGadget(gBatchCloseButton, UiEventType::Click);
        });
        UiTestScriptMessageAnswer(1);
        RunBatchConversion(0);
        SetBatchItemHookForTesting(nullptr);
    });
    SetThreadCountForTesting(0);
    EXPECT_EQ(LastMessage(), "Stopped by the user.\nConverted: 4   Skipped: 0   Failed: 0\n\n");
    EXPECT_EQ(GetFileKind(dir_ + "4.dds"), FileKind::File);
    EXPECT_EQ(GetFileKind(dir_ + "5.dds"), FileKind::Missing);
}

TEST_F(EditorBatchTest, LongSummaryIsCutAtThreeThousandCharactersWithoutSplittingOne) {
    struct Case {
        std::string stem;
        size_t size;
    };
    // The second stem puts the middle of a two-byte "é" at the cut, which
    // then ends one byte earlier.
    const std::vector<Case> cases = {{"missing_file_number_", 3004}, {"mmmmmmménnnnn", 3003}};
    for (const Case& c : cases) {
        UiTestClearRequests();
        WithWindow([&] {
            SetFormats(kSrcPng, kDstTga);
            for (int i = 10; i < 90; ++i) AddBatchFile(dir_ + c.stem + std::to_string(i) + ".png");
            UiSetGadgetState(gBatchUseSourceCheck, 0);
            gBatchOutputFolder = dir_;
            UiTestScriptMessageAnswer(1);
            RunBatchConversion(0);
        });
        const std::string summary = LastMessage();
        ASSERT_EQ(summary.size(), c.size) << c.stem;
        EXPECT_EQ(summary.substr(summary.size() - 4), "\n...");
        EXPECT_EQ(summary.rfind("Converted: 0   Skipped: 0   Failed: 80\n\n", 0), 0u);
    }
}

TEST_F(EditorBatchTest, WriterDispatchKeepsTextureDetailsAndHdrData) {
    const std::string src = Tex(dir_ + "mip.tex", 64, 64, 2, 1);
    TexInfo info;
    ImagePtr image = LoadImageAnySource(src, info);
    ASSERT_TRUE(image);
    ASSERT_EQ(info.firstMip, 2);
    ASSERT_NE(info.flags & 2, 0);

    struct Case {
        std::string ext;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"TEX", ""}, {"hdr", "not an HDR texture"}, {"xyz", "could not write the file"}, {"jpg", ""}, {"dds", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SaveImageForBatch(*image, info, dir_ + "out." + c.ext, c.ext), c.result) << c.ext;
    TexInfo again;
    ASSERT_TRUE(LoadImageAnySource(dir_ + "out.TEX", again));
    EXPECT_EQ(again.firstMip, 2);
    EXPECT_NE(again.flags & 2, 0);

    // A shrunk picture starts its mip chain afresh and drops the flag.
    ImagePtr half = CreateImage(32, 32, 32, MakeColour(1, 1, 1));
    EXPECT_EQ(SaveImageForBatch(*half, info, dir_ + "half.tex", "tex"), "");
    TexInfo shrunk;
    ASSERT_TRUE(LoadImageAnySource(dir_ + "half.tex", shrunk));
    EXPECT_EQ(shrunk.firstMip, 0);
    EXPECT_EQ(shrunk.flags & 2, 0);

    // Normal maps go to the two-channel format even with transparency.
    info.formatText = "NormalMap 8888";
    info.hasAlpha = 1;
    ASSERT_EQ(SaveImageForBatch(*image, info, dir_ + "n.dds", "dds"), "");
    TexInfo dds;
    ASSERT_TRUE(LoadImageAnySource(dir_ + "n.dds", dds));
    EXPECT_NE(dds.formatText.find("ATI2"), std::string::npos) << dds.formatText;
    FreeTexHdrData(info);
}

TEST_F(EditorBatchTest, NumberedNameMeetingARealOneIsNotOverwrittenEvenWithForce) {
    const std::string out = MakeFolder("out"), a = MakeFolder("a"), b = MakeFolder("b");
    for (const std::string& p : {a + "x.png", b + "x.png", a + "x_2.png"}) Png(p, 4, 4, p == a + "x_2.png" ? 0 : 255);
    gBatchOutputFolder = out;
    WithWindow([&] {
        SetFormats(kSrcPng, kDstTga);
        UiSetGadgetState(gBatchUseSourceCheck, 0);
        UiSetGadgetState(gBatchForceCheck, 1);
        AddBatchFile(a + "x.png");
        AddBatchFile(b + "x.png");
        AddBatchFile(a + "x_2.png");
        UiTestScriptMessageAnswer(1);  // number the names
        UiTestScriptMessageAnswer(1);  // summary
        RunBatchConversion(0);
    });
    EXPECT_EQ(LastMessage(), "Converted: 2   Skipped: 1   Failed: 0\n\nx_2.tga: skipped (already exists)\n");
    TexInfo info;
    ImagePtr kept = LoadImageAnySource(out + "x_2.tga", info);
    ASSERT_TRUE(kept);
    EXPECT_EQ(ColourAlpha(GetPixelColour(*kept, 0, 0)), 255);  // the second x.png, not the transparent x_2.png
}

}  // namespace
