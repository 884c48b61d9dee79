// Saving: the Save As requester and its proposed name, the extension rules,
// the warnings and their answers, the 1024 offer, the DDS window, failed
// writes, and the files themselves as an independent reader sees them.
#include "tests/editor_fixture.h"

#include <stdio.h>

#include "editor/commands.h"
#include "editor/prefs.h"
#include "editor/save.h"
#include "formats/dds.h"
#include "formats/sizing.h"
#include "formats/tex.h"

namespace {

// RGBA bytes of a file as ImageMagick decodes it.
std::vector<uint8_t> ReadWithImageMagick(const std::string& path) {
    std::vector<uint8_t> bytes;
    RunPeer("convert-im6.q16 '" + path + "' -depth 8 rgba:- 2>/dev/null", &bytes);
    return bytes;
}

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> data;
    ReadWholeFile(path, data);
    return std::string(data.begin(), data.end());
}

class EditorSave : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        gPrefSaveFormat = 1;
        gPrefWarnDataLoss = 1;
        gPrefWarnQE1Size = 1;
    }
    // A picture with one half-transparent pixel at (1, 0) when transparent.
    void Show(int w, int h, bool transparent) {
        ImagePtr image = CreateImage(w, h, 32, MakeColour(200, 40, 10));
        if (transparent) SetPixelColour(*image, 1, 0, MakeColour(100, 50, 0, 128));
        gTexInfo.hasAlpha = transparent ? 1 : 0;
        ShowPicture(std::move(image));
    }
    // Save As answering the requester with `name` (in the test folder) and
    // the given answers to every later question.
    void SaveAs(const std::string& name, int pattern, std::vector<int> answers = {}) {
        UiTestScriptPath(dir_ + name, pattern);
        for (int a : answers) UiTestScriptMessageAnswer(a);
        ShowSaveAsDialog();
        EXPECT_EQ(UiTestPendingAnswers(), 0u);
    }
};

TEST_F(EditorSave, ProposedNameFolderAndPatterns) {
    struct Case {
        std::string current, lastSaveFolder;
        int sourceFolder;
        std::string expected;
    } cases[] = {
        {"/src/wall.tex", "", 0, "/src/wall_levels_flipg"},
        {"/src/wall.tex", "/out/", 0, "/out/wall_levels_flipg"},
        {"/src/wall.tex", "/out/", 1, "/src/wall_levels_flipg"},
        {"/src/pack.gro::tex\\stone.tex", "/out/", 1, "/out/stone_levels_flipg"},
        {"/src/pack.gro::tex/stone.tex", "", 0, "stone_levels_flipg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current);
        gCurrentPath = c.current;
        gLastSaveFolder = c.lastSaveFolder;
        gPrefSaveSourceFolder = c.sourceFolder;
        gSaveNameSuffix = "_levels_flipg";
        EXPECT_EQ(ProposeSaveName(), c.expected);
    }
    Show(4, 4, false);
    gPrefSaveFormat = 5;
    UiTestScriptPath("");
    ShowSaveAsDialog();
    const UiRequest& asked = UiTestRequests().back();
    EXPECT_EQ(asked.title, "Save As");
    EXPECT_EQ(asked.patternIndex, 5);
    EXPECT_EQ(asked.patterns, GetSaveAsPatterns(false));
    EXPECT_EQ(GetSaveAsPatterns(false),
              "Truevision Graphics Adapter (*.tga)|*.tga|Portable Network Graphics (*.png)|*.png|"
              "PiCture eXchange (*.pcx)|*.pcx|Microsoft BMP (*.bmp)|*.bmp|"
              "Tagged Image File Format (*.tif)|*.tif;*.tiff|Joint Photographic Experts Group (*.jpg)|*.jpg;*.jpeg|"
              "DirectDraw Surface (*.dds)|*.dds|Dravik 1 texture (*.tex)|*.tex");
    EXPECT_EQ(GetSaveAsPatterns(true).substr(GetSaveAsPatterns(false).size()),
              "|Radiance High Dynamic Range (*.hdr)|*.hdr");
}

TEST_F(EditorSave, ExtensionComesFromThePatternWhenMissing) {
    struct Case {
        const char* typed;
        int pattern;
        const char* expected;
    } cases[] = {
        {"name", 1, "name.png"}, {"name.PNG", 0, "name.PNG"}, {"a.b", 0, "a.b.tga"}, {"x.jpeg", 3, "x.jpeg"},
        {"y.", 6, "y..dds"},     {"v", 8, "v.hdr"},
    };
    for (const Case& c : cases) EXPECT_EQ(AddPatternExtension(c.typed, c.pattern), c.expected) << c.typed;

    Show(4, 4, false);
    SaveAs("typed", 1);
    EXPECT_EQ(GetFileKind(dir_ + "typed.png"), FileKind::File);
    EXPECT_EQ(gSavePath, dir_ + "typed.png");
    EXPECT_EQ(UiGetStatusField(gMainWindow, 2), "Saved: typed.png");
    EXPECT_EQ(ReadPrefString("LastSaveFolder", ""), dir_);
}

TEST_F(EditorSave, OverwriteIsAskedAndNoWritesNothing) {
    Show(4, 4, false);
    ASSERT_TRUE(WriteWholeFile(dir_ + "old.png", "old", 3));
    SaveAs("old.png", 1, {0});
    EXPECT_EQ(Messages().back(), "old.png already exists. Overwrite?");
    EXPECT_EQ(UiTestRequests().back().icon, UiIcon::None);
    EXPECT_EQ(ReadText(dir_ + "old.png"), "old");
    EXPECT_TRUE(gSavePath.empty());
    SaveAs("old.png", 1, {1});
    EXPECT_NE(ReadText(dir_ + "old.png"), "old");
    EXPECT_EQ(gSavePath, dir_ + "old.png");
}

TEST_F(EditorSave, LossWarningsListWhatTheFormatLoses) {
    struct Case {
        const char* name;
        bool transparent, hdr;
        int64_t clipped;
        const char* expected;  // empty: no question
    } cases[] = {
        {"a.jpg", true, false, 12,
         "Saving as JPG loses information:\n\n- Transparency: JPG has no alpha channel.\n"
         "- Clipping: your adjustments pushed 12 values to pure black or white.\n"
         "- Image detail: JPG compression slightly changes the image (lossy).\n\nSave anyway?"},
        {"b.png", true, true, 0,
         "Saving as PNG loses information:\n\n- HDR brightness: PNG stores the image as shown (exposure -1.5 EV, "
         "editor clip). Brightness beyond white is lost; use .hdr to keep it.\n\nSave anyway?"},
        {"c.tex", false, false, 0,
         "Saving as Dravik 1 .tex loses information:\n\n- Size: 6 x 4 is not a power of 2; Dravik 1 may not show "
         "it correctly.\n\nSave anyway?"},
        {"d.png", true, false, 0, ""},
        {"e.bmp", true, false, 0,
         "Saving as BMP loses information:\n\n- Transparency: BMP has no alpha channel.\n\nSave anyway?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(6, 4, c.transparent);
        gTexInfo.isHdr = c.hdr ? 1 : 0;
        gHdrExposure = -1.5;
        gEditClippedCount = c.clipped;
        CommitEdit(DuplicateImage(*gCurrentImage), "Levels", "_levels");
        gTexInfo.isHdr = c.hdr ? 1 : 0;
        UiTestClearRequests();
        const bool asks = c.expected[0] != 0;
        SaveAs(c.name, 1, asks ? std::vector<int>{0} : std::vector<int>{});
        if (asks) {
            EXPECT_EQ(Messages().back(), c.expected);
            EXPECT_EQ(GetFileKind(dir_ + c.name), FileKind::Missing);  // No stops the save
        } else {
            EXPECT_TRUE(Messages().empty());
            EXPECT_EQ(GetFileKind(dir_ + c.name), FileKind::File);
        }
    }
    gPrefWarnDataLoss = 0;
    EXPECT_TRUE(ConfirmLossySave("jpg"));
}

TEST_F(EditorSave, OversizedTexIsOfferedAResize) {
    struct Case {
        int answer;
        bool noMemory;
        bool written;
    } cases[] = {{0, false, false}, {1, true, false}, {1, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer * 2 + c.noMemory);
        Show(2048, 512, false);
        gTexInfo.kind = 1;
        const std::string path = dir_ + "big" + std::to_string(c.answer) + std::to_string(c.noMemory) + ".tex";
        UiTestClearRequests();
        UiTestScriptMessageAnswer(c.answer);
        if (c.noMemory) {
            SetFreeMemoryForTesting(1);
            UiTestScriptMessageAnswer(1);
        }
        SaveCurrentImageAs(path, 0);
        SetFreeMemoryForTesting(0);
        int tw = 0, th = 0;
        FitSizePowerOfTwo(2048, 512, 1024, tw, th);
        EXPECT_EQ(Messages()[0], "Dravik 1 textures can be at most 1024 x 1024 pixels; this image is 2048 x 512.\n\n"
                                 "Resize to " + std::to_string(tw) + " x " + std::to_string(th) +
                                     " now and save?\n(Choose No to cancel; you can also use Tools > Resize.)");
        EXPECT_EQ(GetFileKind(path) == FileKind::File, c.written);
        if (c.noMemory) {
            EXPECT_EQ(Messages().back(), "Not enough memory for this operation.");
            // The save stops: the oversized picture is not written.
            EXPECT_EQ(gCurrentImage->width, 2048);
        }
        if (c.written) {
            TexInfo info;
            ImagePtr back = LoadTexFile(path, info, 0, 0);
            ASSERT_TRUE(back) << info.errorText;
            EXPECT_EQ(back->width, tw);
            EXPECT_EQ(gHistory.back().label, "Resize");
            EXPECT_EQ(gTexInfo.firstMip, 1);
            EXPECT_EQ(gTexInfo.note, "Resized from 2048 x 512   ");
        } else {
            EXPECT_EQ(gCurrentImage->width, 2048);
        }
    }
}

TEST_F(EditorSave, DdsWindowChoosesFormatAndPlainSaveReusesIt) {
    Show(8, 8, true);
    gTexInfo.formatText = "DirectDraw Surface (Normal map)";
    int windowsOpened = 0, startFormat = -1;
    SetSaveDdsDialogHookForTesting([&](int, int list, int, int ok, int) {
        ++windowsOpened;
        startFormat = UiGetGadgetState(list);
        UiSetGadgetState(list, 0);
        UiTestQueueGadget(ok, UiEventType::Click);
    });
    SaveAs("n.dds", 6, {0});  // No to losing the transparency
    EXPECT_EQ(startFormat, 2);
    EXPECT_EQ(Messages().back(),
              "This DDS format has no alpha channel; the transparency will be lost.\nSave anyway?");
    EXPECT_EQ(GetFileKind(dir_ + "n.dds"), FileKind::Missing);
    SaveAs("n.dds", 6, {1});
    ASSERT_EQ(GetFileKind(dir_ + "n.dds"), FileKind::File);
    EXPECT_EQ(gLastDdsFormat, 0);
    EXPECT_EQ(windowsOpened, 2);

    UiTestClearRequests();
    HandleSaveCommand();  // same path, remembered choice, no window, no question
    EXPECT_EQ(windowsOpened, 2);
    EXPECT_TRUE(UiTestRequests().empty());
    SetSaveDdsDialogHookForTesting(nullptr);
}

TEST_F(EditorSave, FailedWriteKeepsTheOldFile) {
    Show(16, 16, false);
    SaveAs("keep.png", 1);
    CommitEdit(CreateImage(16, 16, 32, MakeColour(1, 2, 3)), "Levels", "_levels");
    for (const char* ext : {"png", "bmp", "jpg", "tex", "dds", "tif", "tga", "pcx"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir_ + "keep." + ext;
        if (GetFileKind(path) == FileKind::Missing) {
            ASSERT_TRUE(WriteWholeFile(path, "old", 3));
        }
        const std::string old = ReadText(path);
        gLastDdsFormat = 3;
        SetWriteFailureAfterBytes(10);
        UiTestClearRequests();
        UiSetStatusField(gMainWindow, 2, "");
        UiTestScriptMessageAnswer(1);
        SaveCurrentImageAs(path, 0);
        SetWriteFailureAfterBytes(-1);
        EXPECT_EQ(Messages().back(), "Saving failed:\n" + path);
        EXPECT_EQ(ReadText(path), old);
        EXPECT_TRUE(HasUnsavedEdits());
        EXPECT_EQ(gSavePath, dir_ + "keep.png");
        EXPECT_EQ(UiGetStatusField(gMainWindow, 2), "");
    }
}

TEST_F(EditorSave, WrittenFilesReadBackWithImageMagick) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    // Top half half-transparent, bottom half opaque, so the row order and the
    // treatment of alpha both show.
    ImagePtr picture = CreateImage(16, 8, 32, MakeColour(200, 40, 10));
    FillRect(*picture, 0, 0, 16, 4, MakeColour(100, 50, 0, 128));
    gTexInfo.hasAlpha = 1;
    ShowPicture(std::move(picture));
    const int flatR = FlattenOverWhite(100, 128), flatG = FlattenOverWhite(50, 128), flatB = FlattenOverWhite(0, 128);
    struct Case {
        const char* name;
        int r, g, b, a;  // the top half
        int tolerance;
    } cases[] = {
        {"p.png", 100, 50, 0, 128, 0},
        {"p.bmp", flatR, flatG, flatB, 255, 0},
        {"p.jpg", 100, 50, 0, 255, 16},  // colour kept, not blended over white
        {"p.tif", 100, 50, 0, 128, 0},
        {"p.tga", 100, 50, 0, 128, 0},
        {"p.pcx", 100, 50, 0, 255, 0},  // alpha dropped, colour kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SaveCurrentImageAs(dir_ + c.name, 0);
        const std::vector<uint8_t> rgba = ReadWithImageMagick(dir_ + c.name);
        ASSERT_EQ(rgba.size(), 16u * 8 * 4);
        const uint8_t* top = &rgba[8 * 4];
        const uint8_t* bottom = &rgba[(7 * 16 + 8) * 4];
        EXPECT_NEAR(top[0], c.r, c.tolerance);
        EXPECT_NEAR(top[1], c.g, c.tolerance);
        EXPECT_NEAR(top[2], c.b, c.tolerance);
        EXPECT_EQ(top[3], c.a);
        EXPECT_NEAR(bottom[0], 200, c.tolerance);
        EXPECT_NEAR(bottom[1], 40, c.tolerance);
        EXPECT_NEAR(bottom[2], 10, c.tolerance);
        EXPECT_EQ(bottom[3], 255);
    }
}

}  // namespace
