// The skybox window opened from the main window: the start face, the status
// line and preview, the exposure and tone controls, and what the main window
// shows after it closes.
#include "tests/editor_fixture.h"

#include <array>
#include <cmath>
#include <random>

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
    ImagePtr canvas, designed;  // the preview, and the one designed for the set
    std::string finalStatus, finalField;  // when the user had done everything
};

// The preview designed for the faces in the table: the whole cross resized
// smoothly to fit the canvas (round(side * f), halves to even), drawn with
// its alpha at the centre over grey.
ImagePtr DesignedPreview(int canvasWidth, int canvasHeight) {
    ImagePtr preview = CreateImage(canvasWidth, canvasHeight, 32, MakeColour(60, 60, 60));
    if (!gSkyFaces[0].loaded) return preview;
    ImagePtr cross = BuildSkyboxImage(1);
    const double f = std::min(double(canvasWidth) / cross->width, double(canvasHeight) / cross->height);
    const int width = int(std::nearbyint(cross->width * f)), height = int(std::nearbyint(cross->height * f));
    DrawImage(*preview, *ResizeImage(*cross, width, height, ResizeMode::Smooth), (canvasWidth - width) / 2,
              (canvasHeight - height) / 2, DrawMode::AlphaBlend);
    return preview;
}

// Mean difference of the colour bytes of two pictures of one size.
double MeanDifference(const Image& a, const Image& b) {
    int64_t sum = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width * 4; ++x)
            if (x % 4 != 3) sum += std::abs(a.RowFromTop(y)[x] - b.RowFromTop(y)[x]);
    return double(sum) / (3.0 * a.width * a.height);
}

class EditorSkyboxWindow : public EditorTest {
protected:
    void TearDown() override {
        SetSkyboxWindowHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // HDR faces <name>_<letter>.hdr of 8 x 8, all alike so that they fit at
    // once, of the given RGBE pixel.
    void WriteHdrSet(const char* letters, const std::string& name = "sky", std::array<uint8_t, 4> rgbe = {}) {
        if (rgbe == std::array<uint8_t, 4>{}) EncodeRgbe(rgbe.data(), 0.1, 0.2, 0.3);
        for (const char* c = letters; *c; ++c) {
            HdrBlock block{8, 8, {}};
            for (int i = 0; i < 64; ++i) block.bytes.insert(block.bytes.end(), rgbe.begin(), rgbe.end());
            ASSERT_EQ(WriteHdrFile(&block, 8, 8, dir_ + name + "_" + *c + ".hdr"), 1);
        }
    }
    void WritePngSet(const char* letters) {
        for (const char* c = letters; *c; ++c)
            ASSERT_NE(SaveImageByExtension(*CreateImage(8, 8, 32, MakeColour(200, 100, 50)),
                                           dir_ + "s_" + *c + ".png", 0),
                      0);
    }
    // Noise faces n_<letter>.png with noisy alpha inside an even border, so
    // that fitting turns nothing.
    void WriteNoiseSet(const char* letters, int side) {
        std::mt19937 random{uint32_t(side)};
        for (const char* c = letters; *c; ++c) {
            ImagePtr face = CreateImage(side, side, 32, MakeColour(90, 120, 150));
            for (int y = 1; y + 1 < side; ++y)
                for (int x = 4; x + 4 < side * 4; ++x) face->RowFromTop(y)[x] = uint8_t(random());
            ASSERT_NE(SaveImageByExtension(*face, dir_ + "n_" + *c + ".png", true), 0);
        }
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
            seen_.canvas = DuplicateImage(*UiCanvasImage(gSkyboxCanvas));
            SetFreeMemoryForTesting(0);  // the design's picture, whatever room the window had
            seen_.designed = DesignedPreview(seen_.canvas->width, seen_.canvas->height);
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

// A set whose full-size cross (12 MiB here) finds no room is shown all the
// same, from its faces halved.
TEST_F(EditorSkyboxWindow, PreviewNeedsNoFullSizeCross) {
    for (const char* c = "NESWUD"; *c; ++c)
        ASSERT_NE(SaveImageByExtension(*CreateImage(512, 512, 32, 0xFF3264C8u), dir_ + "b_" + *c + ".png", 0), 0);
    OpenFile(dir_ + "b_N.png", 0);
    SetFreeMemoryForTesting(kMemoryReserveBytes + (uint64_t(3) << 20));
    Run();
    SetFreeMemoryForTesting(0);
    EXPECT_EQ(seen_.status, "Set: b  -  faces: N E S W U D");
    EXPECT_EQ(seen_.centre, 0xFF3264C8u);
}

// The preview is the whole cross resized smoothly and drawn over grey; a set
// whose cross finds no room is shown from its faces halved, once or twice,
// smoothly and close to that picture.
TEST_F(EditorSkyboxWindow, PreviewIsTheCrossResizedSmoothly) {
    struct Row {
        const char* letters;
        int side;
        uint64_t room;  // bytes above the reserve; 0: no limit, the designed picture exactly
        double mean;    // with less room: the mean difference allowed
    } rows[] = {
        {"NESWUD", 48, 0, 0},           // enlarged
        {"NESWUD", 300, 0, 0},          // shrunk
        {"NESWU", 101, 0, 0},           // no bottom face
        {"NESWUD", 512, 4 << 20, 2},    // the cross of halved faces (1.1 measured)
        {"NESWUD", 512, 3 << 19, 2.5},  // halved twice (1.5; nearest sampling is 18)
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.side) + " " + row.letters + " " + std::to_string(row.room));
        for (const char* c = "NESWUD"; *c; ++c) RemoveFile(dir_ + "n_" + *c + ".png");
        WriteNoiseSet(row.letters, row.side);
        OpenFile(dir_ + "n_N.png", 0);
        if (row.room) SetFreeMemoryForTesting(kMemoryReserveBytes + row.room);
        seen_ = {};
        Run();
        EXPECT_EQ(seen_.status, std::string("Set: n  -  faces: N E S W U") + (row.letters[5] ? " D" : ""));
        const double mean = MeanDifference(*seen_.canvas, *seen_.designed);
        if (row.room == 0) {
            EXPECT_EQ(mean, 0.0);
        } else {
            EXPECT_GT(mean, 0.0);  // not the whole cross, which had no room
            EXPECT_LT(mean, row.mean);
        }
    }
}

// Input queued at once: what follows a click or a typed value whose work
// runs (an exposure applied to the faces) is made meanwhile, and dropped.
TEST_F(EditorSkyboxWindow, ExposureFieldAndButtons) {
    WriteHdrSet("NESWU");
    WriteHdrSet("NESWU", "grey", {47, 47, 47, 128});  // automatic exposure -0.04 EV
    struct Row {
        std::string set;
        double start;
        std::string typed;   // typed, then the field loses the focus ("": untouched)
        std::string clicks;  // "+", "-" and "A" (Auto), in order
        double exposure;
        std::string field;  // the field's text when the window closes
    } rows[] = {
        {"sky", 0, "1,5", "", 1.5, "1,5"},
        {"sky", 0, "0.0", "", 0.0, "0.0"},
        {"sky", 0, "NaN", "", 0.0, "NaN"},  // keeps a usable exposure
        {"sky", 0, "-2.25", "", -2.25, "-2.25"},
        {"sky", 0, "", "-++", -1.0, "-1.0"},
        {"sky", 0, "3", "+", 3.0, "3"},
        {"sky", 1, "-0", "", 0.0, "-0"},  // a zero has no sign, also when typed so
        {"grey", 0, "", "A", 0.0, "0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed + row.clicks);
        gHdrExposure = row.start;
        OpenFile(dir_ + row.set + "_N.hdr", 0);
        Run([&](const SkyboxWindowButtons& b) {
            if (!row.typed.empty()) {
                UiSetGadgetText(gSkyboxExposureField, row.typed);
                UiTestQueueGadget(gSkyboxExposureField, UiEventType::Change);
                UiTestQueueGadget(gSkyboxExposureField, UiEventType::LostFocus);
            }
            for (char c : row.clicks)
                UiTestQueueGadget(c == '+' ? b.stepUp : c == '-' ? b.stepDown : b.automatic, UiEventType::Click);
        });
        EXPECT_EQ(gHdrExposure, row.exposure);
        EXPECT_EQ(std::signbit(gHdrExposure), row.exposure < 0);
        EXPECT_EQ(seen_.finalField, row.field);
        EXPECT_EQ(seen_.finalStatus, "Set: " + row.set + "  -  faces: N E S W U  -  HDR, exposure " +
                                         FormatFixed(row.exposure, 1) + " EV");
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
