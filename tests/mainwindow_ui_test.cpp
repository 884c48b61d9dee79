// The main window, start-up, the command table, the main loop and the preview.
#include <cstdlib>
#include <map>

#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "tests/test_support.h"
#include "tests/ui_fixture.h"
#include "toolkit/displays.h"
#include "toolkit/files.h"

namespace {

class EditorMainWindowTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        if (IsSkipped()) return;
        folder_ = MakeTempFolder("orvanta-mw-");
        SetConfigFolderOverride(folder_);
        SetCommandProbeForTesting([this](const std::string& call) {
            calls_.push_back(call);
            auto it = answers_.find(call);
            return it == answers_.end() ? 0 : it->second;
        });
    }
    void TearDown() override {
        SetCommandProbeForTesting(nullptr);
        SetFreeMemoryForTesting(0);
        ClearPreview();
        UiTest::TearDown();
        gMainWindow = gPreviewScroll = gPreviewCanvas = 0;
        ResetEditorGlobals();
        SetConfigFolderOverride("");
        SetDpiScaleOverride(0);
    }
    void Start(const char* argument = nullptr) {
        char name[] = "orvanta";
        std::string arg = argument ? argument : "";
        char* argv[] = {name, arg.data(), nullptr};
        StartProgram(argument ? 2 : 1, argv);
        calls_.clear();
    }
    // Opens a picture as the open step would leave it, and redraws.
    void Show(int width, int height, uint32_t colour, int64_t background = 0) {
        gCurrentImage = CreateImage(width, height, 32, colour);
        ASSERT_TRUE(gCurrentImage);
        gPrefBackground = background;
        RefreshPreview();
    }
    uint32_t Pixel(int x, int y) { return UiGetCanvasPixel(gPreviewCanvas, x, y) & 0xFFFFFFu; }

    std::string folder_;
    std::vector<std::string> calls_;
    std::map<std::string, int> answers_;  // what the probe answers for a call (default 0)
};

constexpr uint32_t Rgb(int r, int g, int b) { return MakeColour(r, g, b, 0); }

TEST_F(EditorMainWindowTest, StartsWithTitleStatusAndPlainHistoryItems) {
    Start();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta");
    EXPECT_EQ(UiGetStatusField(gMainWindow, 0), "No file opened");
    EXPECT_EQ(UiGetStatusField(gMainWindow, 1), "");
    for (int id : {30, 31, 32}) EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, id)) << id;
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo\tCtrl+Z");
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 31), "Redo\tCtrl+Y");
    EXPECT_TRUE(UiIsMenuItemChecked(gMainWindow, 11));
    EXPECT_FALSE(UiIsMenuItemChecked(gMainWindow, 12));
    EXPECT_EQ(gUndoLimit, gPrefUndoSteps > 0 ? gPrefUndoSteps : 30);
    // The preview starts as a grey 1024 x 1024 canvas in a 1034 x 1034 area.
    EXPECT_EQ(UiCanvasPixelWidth(gPreviewCanvas), 1024);
    EXPECT_EQ(Pixel(500, 500), Rgb(160, 160, 160));
}

TEST_F(EditorMainWindowTest, OpensOnlyARealNonEmptyFileFromTheCommandLine) {
    const std::string empty = folder_ + "empty.tex", full = folder_ + "wall.tex";
    ASSERT_TRUE(WriteWholeFile(empty, "", 0));
    ASSERT_TRUE(WriteWholeFile(full, "TVER", 4));
    const struct {
        std::string argument;
        bool opened;
    } cases[] = {
        {full, true}, {empty, false}, {folder_, false}, {folder_ + "missing.tex", false},
        {full + "::textures/a.tex", false},
    };
    for (const auto& c : cases) {
        SetCommandProbeForTesting([this](const std::string& call) {
            calls_.push_back(call);
            return 0;
        });
        calls_.clear();
        char name[] = "orvanta";
        std::string arg = c.argument;
        char* argv[] = {name, arg.data(), nullptr};
        StartProgram(2, argv);
        const bool opened = std::find(calls_.begin(), calls_.end(), "OpenFile(argument, 0)") != calls_.end();
        EXPECT_EQ(opened, c.opened) << c.argument;
        UiTestReset();
    }
}

TEST_F(EditorMainWindowTest, MenuBarHasEveryCommandInItsPlace) {
    Start();
    const std::vector<std::string> expected = {
        "[File]", "0 Open\tCtrl+O", "15 Open from .gro archive...\tCtrl+G", "1 Save\tCtrl+S",
        "2 Save As...\tShift+Ctrl+S", "-", "3 Quit\tCtrl+Q",
        "[Edit]", "30 Undo\tCtrl+Z", "31 Redo\tCtrl+Y", "-", "32 Revert to original",
        "[Adjust]", "33 Levels...\tCtrl+L", "34 Auto levels",
        "[HDR]", "8 Exposure +1 EV\tCtrl+Up", "9 Exposure -1 EV\tCtrl+Down", "10 Reset exposure\tCtrl+0", "-",
        "11 Tone: Editor (clip)", "12 Tone: Filmic", "13 Switch tone\tCtrl+T",
        "[Tools]", "14 Histogram\tCtrl+I", "> Channels", "17 Extract red as grayscale",
        "18 Extract green as grayscale", "19 Extract blue as grayscale", "20 Extract alpha as grayscale", "-",
        "21 Load alpha from image...", "23 Invert alpha", "22 Remove alpha (make opaque)", "<", "> Normal map",
        "24 Flip green (DirectX <-> OpenGL)", "25 Flip red", "26 Rebuild blue (Z) from red and green",
        "27 Normalize", "-", "28 Create from height map...", "<", "-", "16 Resize...\tCtrl+R",
        "29 Skybox...\tCtrl+K", "4 Batch conversion\tCtrl+B", "-", "5 Preferences...\tCtrl+P",
        "[Help]", "6 Help\tCtrl+H", "7 About",
    };
    EXPECT_EQ(UiGetMenuLayout(gMainWindow), expected);
    for (int id = 0; id < kCommandCount; ++id) EXPECT_TRUE(UiHasMenuItem(gMainWindow, id)) << id;
}

// Every shortcut sends the id of the menu item whose text names those keys.
TEST_F(EditorMainWindowTest, ShortcutsSendTheIdOfTheItemThatNamesThem) {
    Start();
    const std::map<int, std::string> keyNames = {{kUiKeyUp, "Up"}, {kUiKeyDown, "Down"}};
    EXPECT_EQ(UiCountShortcuts(gMainWindow), 18);
    for (const CommandShortcut& s : GetCommandShortcuts()) {
        const std::string key = keyNames.count(s.key) ? keyNames.at(s.key) : std::string(1, char(s.key));
        const std::string name = (s.modifiers & kUiShift ? "Shift+Ctrl+" : "Ctrl+") + key;
        const std::string text = UiGetMenuItemText(gMainWindow, s.id);
        EXPECT_EQ(text.substr(text.find('\t') + 1), name) << "id " << s.id;
        EXPECT_EQ(UiGetShortcutId(gMainWindow, s.modifiers, s.key), s.id);
    }
    // Ctrl+S and Ctrl+Shift+S are two commands.
    EXPECT_EQ(UiGetShortcutId(gMainWindow, kUiCtrl, 'S'), 1);
    EXPECT_EQ(UiGetShortcutId(gMainWindow, kUiCtrl | kUiShift, 'S'), 2);
}

TEST_F(EditorMainWindowTest, EveryCommandIdReachesItsHandler) {
    Start();
    gCurrentImage = CreateImage(4, 4);
    gHdrTone = 1;
    answers_ = {{"CanUndo()", 1}, {"CanRedo()", 1}};
    const std::vector<std::vector<std::string>> expected = {
        {"ShowOpenFileDialog()"}, {"HandleSaveCommand()"}, {"ShowSaveAsDialog()"}, {"ConfirmDiscardEdits()"},
        {"ShowBatchWindow(gMainWindow, gLastOpenFolder)"}, {"ShowPreferencesDialog(gMainWindow)"},
        {"OpenHelpFile()"}, {"ShowAbout()"}, {"StepExposure(1.0, 0)"}, {"StepExposure(-1.0, 0)"},
        {"StepExposure(0.0, 1)"}, {"SetToneMode(0)"}, {"SetToneMode(1)"}, {"SetToneMode(1 - gHdrTone)"},
        {"ShowHistogramWindow(gCurrentImage, gTexInfo, gHdrExposure, gMainWindow)"}, {"OpenGroArchiveDialog()"},
        {"HandleResizeCommand()"}, {"HandleChannelCommand(17)"}, {"HandleChannelCommand(18)"},
        {"HandleChannelCommand(19)"}, {"HandleChannelCommand(20)"}, {"HandleChannelCommand(21)"},
        {"HandleChannelCommand(22)"}, {"HandleChannelCommand(23)"}, {"HandleNormalMapCommand(24)"},
        {"HandleNormalMapCommand(25)"}, {"HandleNormalMapCommand(26)"}, {"HandleNormalMapCommand(27)"},
        {"HandleNormalMapCommand(28)"}, {"OpenSkyboxTool()"},
        {"CanUndo()", "ApplyHistoryEntry(GoToPreviousStep())"}, {"CanRedo()", "ApplyHistoryEntry(GoToNextStep())"},
        {"CanUndo()", "ApplyHistoryEntry(GoToOriginalStep())"}, {"HandleLevelsCommand()"}, {"ApplyAutoLevels()"},
    };
    ASSERT_EQ(int(expected.size()), kCommandCount);
    for (int id = 0; id < kCommandCount; ++id) {
        calls_.clear();
        DispatchCommand(id);
        EXPECT_EQ(calls_, expected[id]) << "id " << id;
    }
    calls_.clear();
    for (int id : {-1, 35, 1000}) DispatchCommand(id);
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(gQuit, 0);  // the probe said No to discarding
}

TEST_F(EditorMainWindowTest, GuardedCommandsDoNothingWhenTheirTestFails) {
    Start();
    // Nothing to undo or redo: the history is not touched.
    DispatchCommand(30);
    DispatchCommand(31);
    DispatchCommand(32);
    EXPECT_EQ(calls_, (std::vector<std::string>{"CanUndo()", "CanRedo()", "CanUndo()"}));
    // Histogram with nothing open asks for a file and opens no window.
    UiTestScriptMessageAnswer(1);
    calls_.clear();
    DispatchCommand(14);
    EXPECT_TRUE(calls_.empty());
    ASSERT_EQ(UiTestRequests().size(), 1u);
    EXPECT_EQ(UiTestRequests()[0].title, "Dravik Orvanta");
    EXPECT_EQ(UiTestRequests()[0].text, "Please open a .tex file first.");
    EXPECT_EQ(UiTestRequests()[0].buttons, UiButtons::Ok);
}

TEST_F(EditorMainWindowTest, ConfirmedPreferencesSetTheUndoLimitAndRedraw) {
    Start();
    Show(16, 16, MakeColour(10, 20, 30), 0);
    gPrefUndoSteps = 7;
    gPrefBackground = 3;
    DispatchCommand(5);  // the probe's 0 means cancelled
    EXPECT_NE(gUndoLimit, 7);
    answers_["ShowPreferencesDialog(gMainWindow)"] = 1;
    gCurrentImage = CreateImage(16, 16, 32, MakeColour(0, 0, 0, 0));
    DispatchCommand(5);
    EXPECT_EQ(gUndoLimit, 7);
    EXPECT_EQ(Pixel(3, 3), Rgb(255, 255, 255));
}

TEST_F(EditorMainWindowTest, MainLoopQuitsOnlyWithConsent) {
    Start();
    UiTestQueueCloseBox(gMainWindow);  // answered No
    UiTestQueueResize(gMainWindow, 600, 300);
    UiTestQueueMenu(gMainWindow, 14);  // nothing open: a message
    UiTestScriptMessageAnswer(1);
    answers_["ConfirmDiscardEdits()"] = 0;
    // Quit answered Yes ends the loop; the events after it stay queued.
    UiEvent quit;
    quit.kind = UiEventKind::Menu;
    quit.window = gMainWindow;
    quit.id = 3;
    UiTestQueueEvent(quit);
    UiTestQueueMenu(gMainWindow, 0);
    int confirmations = 0;
    SetCommandProbeForTesting([&](const std::string& call) {
        calls_.push_back(call);
        if (call == "ConfirmDiscardEdits()") return ++confirmations == 2 ? 1 : 0;
        return 0;
    });
    RunMainLoop();
    EXPECT_EQ(gQuit, 1);
    EXPECT_EQ(confirmations, 2);
    EXPECT_EQ(UiTestPendingEvents(), 1u);
    // The resize laid the preview out again inside the new client area.
    const UiRect scroll = UiGetGadgetRect(gPreviewScroll);
    EXPECT_EQ(scroll.x, 4);
    EXPECT_EQ(scroll.width, 590);
    EXPECT_EQ(scroll.height, 292);
}

TEST_F(EditorMainWindowTest, CloseBoxOfAnotherWindowIsIgnored) {
    Start();
    const int other = UiOpenWindow(0, 0, 100, 100, "Histogram", kUiDialogFlags, gMainWindow);
    UiTestQueueCloseBox(other);
    UiTestQueueMenu(gMainWindow, 3);
    answers_["ConfirmDiscardEdits()"] = 1;
    RunMainLoop();
    EXPECT_EQ(calls_, (std::vector<std::string>{"ConfirmDiscardEdits()"}));
}

TEST_F(EditorMainWindowTest, EnlargementFactorAndNoteFollowThePictureSize) {
    Start();
    const struct {
        int w, h, factor;
        const char* note;
    } cases[] = {
        {100, 60, 2, "Enlarged 2x for visibility"}, {16, 16, 16, "Enlarged 16x for visibility"},
        {1, 1, 256, "Enlarged 256x for visibility"}, {200, 300, 1, ""}, {255, 255, 1, ""},
        {128, 64, 2, "Enlarged 2x for visibility"}, {256, 10, 1, ""}, {10, 256, 1, ""},
        {60, 100, 2, "Enlarged 2x for visibility"}, {3, 100, 2, "Enlarged 2x for visibility"},
    };
    for (const auto& c : cases) {
        Show(c.w, c.h, MakeColour(1, 2, 3));
        EXPECT_EQ(GetPreviewFactor(), c.factor) << c.w << "x" << c.h;
        EXPECT_EQ(UiCanvasPixelWidth(gPreviewCanvas), c.w * c.factor);
        EXPECT_EQ(UiCanvasPixelHeight(gPreviewCanvas), c.h * c.factor);
        int iw = 0, ih = 0;
        UiGetScrollInnerSize(gPreviewScroll, &iw, &ih);
        EXPECT_EQ(iw, c.w * c.factor + 8);
        EXPECT_EQ(ih, c.h * c.factor + 8);
        EXPECT_EQ(UiGetStatusField(gMainWindow, 2), c.note) << c.w << "x" << c.h;
    }
    // A picture's own note wins over the enlargement note.
    gTexInfo.note = "HDR exposure: 0.0 EV, editor (clip)";
    Show(16, 16, MakeColour(1, 2, 3));
    EXPECT_EQ(UiGetStatusField(gMainWindow, 2), gTexInfo.note);
}

// Whatever size the preferences hold, the window, menu and status bar
// included, fits the screen; a size that fits is kept as stored.
TEST_F(EditorMainWindowTest, StoredSizeOpensAWindowThatFitsTheScreen) {
    for (const auto& [w, h] : {std::pair{900, 500}, {99999, 2000000000}, {5000, 300}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        ResetEditorGlobals();
        const std::string prefs = "WindowX = 0\nWindowY = 0\nWindowWidth = " + std::to_string(w) +
                                  "\nWindowHeight = " + std::to_string(h) + "\n";
        ASSERT_TRUE(CreateFolder(folder_ + "Orvanta"));
        ASSERT_TRUE(WriteWholeFile(folder_ + "Orvanta/Orvanta.prefs", prefs.data(), prefs.size()));
        Start();
        LetWindowsPaint();
        const UiRect frame = UiGetWindowFrame(gMainWindow);
        EXPECT_LE(frame.width, GetLargestDisplay().UsableWidth());
        EXPECT_LE(frame.height, GetLargestDisplay().UsableHeight());
        if (w == 900) {
            EXPECT_EQ(UiGetWindowInnerWidth(gMainWindow), w);
            EXPECT_EQ(UiGetWindowInnerHeight(gMainWindow), h);
        }
        // The preview follows the window it got.
        EXPECT_LE(UiGetGadgetRect(gPreviewScroll).width, UiGetWindowInnerWidth(gMainWindow));
        ClearPreview();
        UiCloseWindow(gMainWindow);
    }
}

TEST_F(EditorMainWindowTest, CanvasHoldsTheWholePictureAtFractionalDpi) {
    Start();
    for (double scale : {1.25, 1.5, 1.75}) {
        SetDpiScaleOverride(scale);
        for (int side : {100, 255, 333}) {
            Show(side, side - 1, MakeColour(9, 9, 9));
            const int dw = GetPreviewDisplayWidth(), dh = GetPreviewDisplayHeight();
            EXPECT_GE(UiCanvasPixelWidth(gPreviewCanvas), dw) << scale << " " << side;
            EXPECT_GE(UiCanvasPixelHeight(gPreviewCanvas), dh) << scale << " " << side;
            EXPECT_EQ(Pixel(dw - 1, dh - 1), Rgb(9, 9, 9));
        }
    }
    SetDpiScaleOverride(0);
}

TEST_F(EditorMainWindowTest, EnlargedPixelsAreRepeatedWithoutSmoothing) {
    Start();
    ImagePtr picture = CreateImage(2, 2, 32, MakeColour(0, 0, 0));
    SetPixelColour(*picture, 1, 0, MakeColour(255, 0, 0));
    SetPixelColour(*picture, 0, 1, MakeColour(0, 0, 255));
    gCurrentImage = std::move(picture);
    RefreshPreview();
    ASSERT_EQ(GetPreviewFactor(), 128);
    EXPECT_EQ(Pixel(127, 127), Rgb(0, 0, 0));
    EXPECT_EQ(Pixel(128, 0), Rgb(255, 0, 0));
    EXPECT_EQ(Pixel(255, 127), Rgb(255, 0, 0));
    EXPECT_EQ(Pixel(0, 128), Rgb(0, 0, 255));
    EXPECT_EQ(Pixel(127, 255), Rgb(0, 0, 255));
}

TEST_F(EditorMainWindowTest, BackgroundsShowThroughTransparentParts) {
    Start();
    const uint32_t clear = MakeColour(90, 90, 90, 0);
    const struct {
        int64_t background;
        uint32_t at00, at80, at88;
    } cases[] = {
        {0, Rgb(255, 255, 255), Rgb(204, 204, 204), Rgb(255, 255, 255)},
        {1, Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(0, 0, 0)},
        {2, Rgb(128, 128, 128), Rgb(128, 128, 128), Rgb(128, 128, 128)},
        {3, Rgb(255, 255, 255), Rgb(255, 255, 255), Rgb(255, 255, 255)},
        {7, Rgb(255, 255, 255), Rgb(204, 204, 204), Rgb(255, 255, 255)},  // unknown: checkerboard
    };
    for (const auto& c : cases) {
        Show(300, 20, clear, c.background);
        EXPECT_EQ(Pixel(0, 0), c.at00) << c.background;
        EXPECT_EQ(Pixel(8, 0), c.at80) << c.background;
        EXPECT_EQ(Pixel(15, 15), c.at88) << c.background;
        EXPECT_EQ(Pixel(299, 19), (c.background == 0 || c.background == 7) ? Rgb(204, 204, 204) : c.at00);
    }
    // Half-transparent red over black and white, blended like the image layer.
    Show(300, 20, MakeColour(255, 0, 0, 128), 1);
    EXPECT_EQ(Pixel(10, 10), Rgb(128, 0, 0));
    Show(300, 20, MakeColour(255, 0, 0, 128), 3);
    EXPECT_EQ(Pixel(10, 10), Rgb(255, 127, 127));
    // An opaque picture hides the background entirely.
    Show(300, 20, MakeColour(12, 34, 56), 0);
    EXPECT_EQ(Pixel(8, 0), Rgb(12, 34, 56));
}

TEST_F(EditorMainWindowTest, NothingOpenMeansNothingRedrawn) {
    Start();
    gTexInfo.note = "stale";
    RefreshPreview();
    EXPECT_EQ(UiGetStatusField(gMainWindow, 2), "");
    EXPECT_EQ(GetPreviewDisplayWidth(), 0);
}

TEST_F(EditorMainWindowTest, BigPicturesArePaintedWithoutACanvasBitmap) {
    Start();
    ImagePtr picture = CreateImage(4100, 4200, 32, MakeColour(5, 6, 7));
    ASSERT_TRUE(picture);
    SetPixelColour(*picture, 4099, 4199, MakeColour(200, 0, 0));
    gCurrentImage = std::move(picture);
    RefreshPreview();
    EXPECT_EQ(UiCanvasImage(gPreviewCanvas), nullptr);
    EXPECT_EQ(UiCanvasPixelWidth(gPreviewCanvas), 4100);
    EXPECT_EQ(Pixel(4099, 4199), Rgb(200, 0, 0));
    EXPECT_EQ(Pixel(0, 0), Rgb(5, 6, 7));
    // A picture shown for one redraw stays visible after the real one is back.
    SharedImage real = std::move(gCurrentImage);
    gCurrentImage = CreateImage(4100, 4200, 32, MakeColour(90, 91, 92));
    RefreshPreview();
    std::swap(real, gCurrentImage);
    const UiRect visible = UiGetCanvasVisibleRect(gPreviewCanvas);
    if (visible.width > 0) {
        EXPECT_EQ(Pixel(visible.x, visible.y), Rgb(90, 91, 92));
    }
    // Replaced by a different picture without a redraw: never drawn from a freed one.
    gCurrentImage = CreateImage(10, 10, 32, MakeColour(1, 1, 1));
    real.reset();
    EXPECT_EQ(Pixel(4000, 4000), Rgb(255, 255, 255));  // the checkerboard, not the freed picture
    UiPaintCanvasNow(gPreviewCanvas);
    // A picture that finds no room for its copy is drawn from itself, not left behind the last one.
    gCurrentImage = CreateImage(1024, 1024, 32, MakeColour(3, 4, 5));
    SetFreeMemoryForTesting(kMemoryReserveBytes + (uint64_t(3) << 20));
    RefreshPreview();
    SetFreeMemoryForTesting(0);
    EXPECT_EQ(Pixel(0, 0), Rgb(3, 4, 5));
}

TEST_F(EditorMainWindowTest, TitleNamesTheOpenFile) {
    Start();
    gCurrentImage = CreateImage(8, 8);
    gCurrentPath = "/data/textures/wall.tex";
    UpdateTitleAndUndoMenu();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta - wall.tex");
    gCurrentPath = "/data/pack.gro::textures/sky/top.tex";
    UpdateTitleAndUndoMenu();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta - top.tex");
    gCurrentImage.reset();
    UpdateTitleAndUndoMenu();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta");
}

TEST_F(EditorMainWindowTest, UndoMenuAndUnsavedMarkFollowTheHistory) {
    Start();
    gCurrentImage = CreateImage(8, 8);
    gCurrentPath = "/data/wall.tex";
    for (const char* label : {"Original", "Levels", "Invert alpha"}) {
        HistoryEntry e;
        e.image = CreateImage(8, 8);
        e.label = label;
        gHistory.push_back(std::move(e));
    }
    gHistoryPos = 1;
    gSavedPos = 0;
    if (!CanUndo()) GTEST_SKIP() << "the edit history is not part of this build";
    UpdateTitleAndUndoMenu();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta - wall.tex *");
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo Levels\tCtrl+Z");
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 31), "Redo Invert alpha\tCtrl+Y");
    EXPECT_TRUE(UiIsMenuItemEnabled(gMainWindow, 30));
    EXPECT_TRUE(UiIsMenuItemEnabled(gMainWindow, 31));
    EXPECT_TRUE(UiIsMenuItemEnabled(gMainWindow, 32));
    gHistoryPos = 0;  // back at the saved step
    UpdateTitleAndUndoMenu();
    EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta - wall.tex");
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo\tCtrl+Z");
    EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, 30));
    EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, 32));
    EXPECT_TRUE(UiIsMenuItemEnabled(gMainWindow, 31));
}

TEST(EditorDescribeFileLocation, FolderOrArchiveAndEntryFolder) {
    const struct {
        const char* path;
        const char* location;
    } cases[] = {
        {"/data/textures/wall.tex", "/data/textures/"},
        {"C:\\games\\wall.tex", "C:\\games\\"},
        {"wall.tex", ""},
        {"/data/pack.gro::textures/sky/top.tex", "pack.gro : textures/sky/"},
        {"/data/pack.gro::top.tex", "pack.gro : "},
        {"D:\\mods\\pack.gro::a\\b.tex", "pack.gro : a\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(DescribeFileLocation(c.path), c.location) << c.path;
}

TEST_F(EditorMainWindowTest, ShutdownWritesTheSessionAndEnds) {
    Start();
    FinishProgram();
    EXPECT_FALSE(UiIsInitialised());
    EXPECT_EQ(GetFileKind(folder_ + "Orvanta/Orvanta.prefs"), FileKind::File);
    // The layer comes back for the tests after this one in the same process.
    EXPECT_TRUE(UiInit());
    UiSetTestMode(true);
}

}  // namespace
