// The skybox window opened from the main window: the start face, the status
// line and preview, the exposure and tone controls, and what the main window
// shows after it closes.
#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "formats/dispatch.h"
#include "formats/hdr.h"
#include "skybox/skybox.h"
#include "skybox/skyboxwin_ui.h"
#include "toolkit/numbers.h"

namespace {

constexpr int kToneEditor = 11, kToneFilmic = 12;
const char* kNoSkybox =
    "No skybox loaded. Use 'Open face...' or 'From .gro...' and pick one face (e.g. HDR_Cloudy04_N.tex).";

// What the window showed once it was built, and what the test then did.
struct Seen {
    std::string title, status, exposure;
    bool parentEnabled = true;
    int tone = -1;
    uint32_t corner = 0, centre = 0;
    std::string finalStatus, finalField;  // when the user had done everything
};

class EditorSkyboxWindow : public EditorTest {
protected:
    void TearDown() override {
        SetSkyboxWindowHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // HDR faces sky_<letter>.hdr of 8 x 8, all alike so that they fit at once.
    void WriteHdrSet(const char* letters) {
        for (const char* c = letters; *c; ++c) {
            HdrBlock block{8, 8, std::vector<uint8_t>(8 * 8 * 4)};
            for (int i = 0; i < 64; ++i) EncodeRgbe(block.bytes.data() + i * 4, 0.1, 0.2, 0.3);
            ASSERT_EQ(WriteHdrFile(&block, 8, 8, dir_ + "sky_" + *c + ".hdr"), 1);
        }
    }
    void WritePngSet(const char* letters) {
        for (const char* c = letters; *c; ++c)
            ASSERT_NE(SaveImageByExtension(*CreateImage(8, 8, 32, MakeColour(200, 100, 50)),
                                           dir_ + "s_" + *c + ".png", 0),
                      0);
    }
    // Runs the command; `drive` queues what the user does once the window is up.
    void Run(std::function<void(const SkyboxWindowButtons&)> drive = {}) {
        SetSkyboxWindowHookForTesting([&, drive](const SkyboxWindowButtons& b) {
            seen_.title = UiGetWindowTitle(gSkyboxWindow);
            seen_.status = UiGetGadgetText(gSkyboxStatusText);
            seen_.exposure = UiGetGadgetText(gSkyboxExposureField);
            seen_.parentEnabled = UiIsWindowEnabled(gMainWindow);
            seen_.tone = UiGetGadgetState(gSkyboxToneCombo);
            seen_.corner = UiGetCanvasPixel(gSkyboxCanvas, 0, 0);
            seen_.centre = UiGetCanvasPixel(gSkyboxCanvas, UiCanvasPixelWidth(gSkyboxCanvas) / 2,
                                            UiCanvasPixelHeight(gSkyboxCanvas) / 2);
            if (drive) drive(b);
            // Once the queue is empty the wait gives up and closes the window;
            // that is the moment to read what the user's actions left.
            UiSetTestFailureHandler([this](const std::string&) {
                ++waitsEnded_;
                seen_.finalStatus = UiGetGadgetText(gSkyboxStatusText);
                seen_.finalField = UiGetGadgetText(gSkyboxExposureField);
            });
        });
        waitsEnded_ = 0;
        DispatchCommand(29);
        UiSetTestFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
        EXPECT_EQ(waitsEnded_, 1);
    }
    int waitsEnded_ = 0;
    Seen seen_;
};

TEST_F(EditorSkyboxWindow, StartFaceLoadsTheSetAtOnce) {
    WriteHdrSet("NESWUD");
    WritePngSet("NESW");  // no top face: the user is warned
    ASSERT_NE(SaveImageByExtension(*CreateImage(4, 4, 32, MakeColour(1, 2, 3)), dir_ + "wall.png", 0), 0);
    struct Row {
        std::string open;  // "" = nothing open
        int warnings;
        std::string status;
    } rows[] = {
        {"", 0, kNoSkybox},
        {dir_ + "wall.png", 0, kNoSkybox},
        {dir_ + "sky_E.hdr", 0, "Set: sky  -  faces: N E S W U D  -  HDR, exposure 0.0 EV"},
        {dir_ + "s_N.png", 1, "Set: s  -  faces: N E S W (U missing)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.open);
        gCurrentImage.reset();
        if (!row.open.empty()) OpenFile(row.open, 0);
        UiTestClearRequests();
        for (int i = 0; i < row.warnings; ++i) UiTestScriptMessageAnswer(1);
        seen_ = {};
        Run();
        EXPECT_EQ(seen_.title, "Skybox");
        EXPECT_FALSE(seen_.parentEnabled);
        EXPECT_EQ(seen_.status, row.status);
        EXPECT_EQ(int(Messages().size()), row.warnings);
        // Background grey in the cross's empty corner; a face in the middle.
        EXPECT_EQ(seen_.corner & 0xFFFFFFu, MakeColour(60, 60, 60) & 0xFFFFFFu);
        if (row.status == kNoSkybox)
            EXPECT_EQ(seen_.centre & 0xFFFFFFu, MakeColour(60, 60, 60) & 0xFFFFFFu);
        else
            EXPECT_NE(seen_.centre & 0xFFFFFFu, MakeColour(60, 60, 60) & 0xFFFFFFu);
        // Leaving frees the faces and hands the main window back.
        EXPECT_EQ(gSkyboxWindow, 0);
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
        for (const SkyFace& face : gSkyFaces) EXPECT_FALSE(face.loaded);
    }
}

// The preview reads the faces at the canvas's scale: a set whose full-size
// cross (12 MiB here) finds no room is shown all the same.
TEST_F(EditorSkyboxWindow, PreviewNeedsNoFullSizeCross) {
    for (const char* c = "NESWU"; *c; ++c)
        ASSERT_NE(SaveImageByExtension(*CreateImage(512, 512, 32, 0xFF3264C8u), dir_ + "b_" + *c + ".png", 0), 0);
    OpenFile(dir_ + "b_N.png", 0);
    SetFreeMemoryForTesting(kMemoryReserveBytes + (uint64_t(3) << 20));
    Run();
    SetFreeMemoryForTesting(0);
    EXPECT_EQ(seen_.status, "Set: b  -  faces: N E S W U");
    EXPECT_EQ(seen_.centre, 0xFF3264C8u);
}

TEST_F(EditorSkyboxWindow, ExposureFieldAndButtons) {
    WriteHdrSet("NESWU");
    struct Row {
        std::string typed;  // typed, then the field loses the focus ("": untouched)
        int plus, minus;
        double exposure;
        std::string field;  // the field's text when the window closes
    } rows[] = {
        {"1,5", 0, 0, 1.5, "1,5"},
        {"0.0", 0, 0, 0.0, "0.0"},
        {"NaN", 0, 0, 0.0, "NaN"},  // keeps a usable exposure
        {"-2.25", 0, 0, -2.25, "-2.25"},
        {"", 2, 1, 1.0, "1.0"},
        {"3", 1, 0, 4.0, "4.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.field);
        gHdrExposure = 0.0;
        OpenFile(dir_ + "sky_N.hdr", 0);
        Run([&](const SkyboxWindowButtons& b) {
            if (!row.typed.empty()) {
                UiSetGadgetText(gSkyboxExposureField, row.typed);
                UiTestQueueGadget(gSkyboxExposureField, UiEventType::Change);
                UiTestQueueGadget(gSkyboxExposureField, UiEventType::LostFocus);
            }
            for (int i = 0; i < row.plus; ++i) UiTestQueueGadget(b.stepUp, UiEventType::Click);
            for (int i = 0; i < row.minus; ++i) UiTestQueueGadget(b.stepDown, UiEventType::Click);
        });
        EXPECT_EQ(gHdrExposure, row.exposure);
        EXPECT_EQ(seen_.finalField, row.field);
        EXPECT_EQ(seen_.finalStatus, "Set: sky  -  faces: N E S W U  -  HDR, exposure " + FormatFixed(row.exposure, 1) + " EV");
        // The open HDR picture was shown again with the window's exposure.
        EXPECT_EQ(gTexInfo.note, MakeHdrExposureNote(row.exposure, HdrTone::EditorClip));
    }
}

TEST_F(EditorSkyboxWindow, ToneComboCarriesOverToTheMainWindow) {
    WriteHdrSet("NESWUD");
    OpenFile(dir_ + "sky_N.hdr", 0);
    const uint32_t clipped = GetPixelColour(*gCurrentImage, 0, 0);
    Run([](const SkyboxWindowButtons&) {
        UiSetGadgetState(gSkyboxToneCombo, 1);
        UiTestQueueGadget(gSkyboxToneCombo, UiEventType::Change);
    });
    EXPECT_EQ(seen_.tone, 0);
    EXPECT_EQ(gHdrTone, 1);
    EXPECT_FALSE(UiIsMenuItemChecked(gMainWindow, kToneEditor));
    EXPECT_TRUE(UiIsMenuItemChecked(gMainWindow, kToneFilmic));
    EXPECT_EQ(gTexInfo.note, MakeHdrExposureNote(0.0, HdrTone::Filmic));
    EXPECT_NE(GetPixelColour(*gCurrentImage, 0, 0), clipped);
}

TEST_F(EditorSkyboxWindow, OpenFaceButtonAndCancel) {
    WritePngSet("NESWU");
    Run([&](const SkyboxWindowButtons& b) {
        UiTestScriptPath("");  // cancelled: nothing happens
        UiTestQueueGadget(b.openFace, UiEventType::Click);
        UiTestScriptPath(dir_ + "s_W.png");
        UiTestQueueGadget(b.openFace, UiEventType::Click);
    });
    EXPECT_EQ(seen_.finalStatus, "Set: s  -  faces: N E S W U");
    EXPECT_EQ(gSkyboxFolder, dir_);
    ASSERT_EQ(UiTestRequests().size(), 2u);
    EXPECT_EQ(UiTestRequests()[0].title, "Open one face of a skybox");
    EXPECT_EQ(UiTestRequests()[0].patterns, "Skybox faces|*.tex;*.hdr;*.tga;*.png;*.dds|All files (*.*)|*.*");
}

}  // namespace
