// The "Levels..." dialog and the "Auto levels" command, driven through the UI
// layer's test hooks.
#include <cmath>

#include "adjust/levels_ui.h"
#include "editor/commands.h"
#include "tests/editor_fixture.h"

namespace {

const char* const kClipQuestion =
    "This adjustment clips 5 values to pure black or white.\nThat information is lost when you save.\n\nApply anyway?";

class AdjustLevelsUi : public EditorTest {
protected:
    void TearDown() override {
        SetLevelsDialogHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // Visible values run from 12 to 240; red has 12 and four 50s below 60.
    void ShowRamp() {
        ImagePtr image = CreateImage(4, 2);
        SetPixelColour(*image, 0, 0, MakeColour(12, 40, 60));
        SetPixelColour(*image, 1, 0, MakeColour(126, 126, 126));
        SetPixelColour(*image, 2, 0, MakeColour(240, 100, 200));
        SetPixelColour(*image, 3, 0, MakeColour(0, 255, 255, 0));  // invisible: does not widen the range
        for (int x = 0; x < 4; ++x) SetPixelColour(*image, x, 1, MakeColour(50, 60, 70));
        ShowPicture(std::move(image));
        RefreshPreview();
    }
    static void Type(int field, const std::string& text) {
        UiSetGadgetText(field, text);
        UiTestQueueGadget(field, UiEventType::Change);
    }
    // Canvas x of an input value.
    static int XOf(int v) { return (UiCanvasPixelWidth(gLevelsCanvas) - 512) / 2 + 2 * v; }
};

TEST_F(AdjustLevelsUi, CommandsNeedAPicture) {
    for (void (*command)() : {HandleLevelsCommand, ApplyAutoLevels}) {
        UiTestScriptMessageAnswer(1);
        command();
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0], "Please open a .tex file first.");
        EXPECT_EQ(UiTestRequests()[0].title, gAppTitle);
        UiTestClearRequests();
    }
    EXPECT_TRUE(gHistory.empty());
}

TEST_F(AdjustLevelsUi, AutoLevelsStretchesTheUsedRange) {
    ShowRamp();
    ApplyAutoLevels();
    ASSERT_EQ(gHistory.size(), 2u);
    EXPECT_EQ(gHistory[1].label, "Auto levels (12 - 240 stretched to 0 - 255)");
    EXPECT_EQ(gSaveNameSuffix, "_autolevels");
    EXPECT_EQ(GetPixelColour(*gCurrentImage, 0, 0), MakeColour(0, 31, 54));
    EXPECT_EQ(GetPixelColour(*gCurrentImage, 1, 0), MakeColour(128, 128, 128));
    EXPECT_EQ(GetPixelColour(*gCurrentImage, 2, 0), MakeColour(255, 98, 210));
    EXPECT_EQ(ColourAlpha(GetPixelColour(*gCurrentImage, 3, 0)), 0);

    // Now it spans 0 - 255: nothing more to do.
    UiTestScriptMessageAnswer(1);
    ApplyAutoLevels();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0],
              "This image already uses the full range from black to white.\nAuto levels has nothing to change.");
    EXPECT_EQ(gHistory.size(), 2u);
}

TEST_F(AdjustLevelsUi, ClosingWithoutASettingMakesNoEdit) {
    enum Way { kOk, kEscape, kAutoThenOk };
    for (Way way : {kOk, kEscape, kAutoThenOk}) {
        SCOPED_TRACE(way);
        ResetEditorGlobals();
        // Already spans 0 - 255 over the channels, so "Auto" stays neutral.
        ImagePtr image = CreateImage(2, 1, 32, MakeColour(0, 90, 255));
        ShowPicture(std::move(image));
        std::string clipText;
        bool parentDisabled = false;
        SetLevelsDialogHookForTesting([&](int ok, int, int autoButton, int) {
            clipText = UiGetGadgetText(gLevelsClipText);
            parentDisabled = !UiIsWindowEnabled(gMainWindow);
            EXPECT_EQ(UiGetWindowTitle(gLevelsWindow), "Levels");
            if (way == kOk) UiTestQueueGadget(ok, UiEventType::Click);
            if (way == kEscape) {
                EXPECT_TRUE(UiTestPressShortcut(gLevelsWindow, 0, kUiKeyEscape));
            }
            if (way == kAutoThenOk) {
                UiTestQueueGadget(autoButton, UiEventType::Click);
                UiTestQueueGadget(ok, UiEventType::Click);
            }
        });
        HandleLevelsCommand();
        EXPECT_EQ(clipText, "Clipping: none");
        EXPECT_TRUE(parentDisabled);
        EXPECT_EQ(gLevelsWindow, 0);
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
        EXPECT_EQ(gHistory.size(), 1u);
        EXPECT_TRUE(AreLevelsNeutral(gLevelsRecords));
    }
}

TEST_F(AdjustLevelsUi, TypedValuesAreClampedIntoTheRecord) {
    ShowRamp();
    struct Case {
        const char *inBlack, *gamma, *inWhite, *outBlack, *outWhite;
        LevelsRecord expected;
    } cases[] = {
        {"254", "1.00", "255", "0", "255", {253, 255, 1.0, 0, 255}},
        {"120", "1,5", "100", "0", "255", {120, 122, 1.5, 0, 255}},
        {"  \t+7x", "12", "abc", "300", "-4", {7, 9, 1.0, 255, 0}},
        {"0", "0.05", "255", "0", "255", {0, 255, 1.0, 0, 255}},
        {"0", "nan", "255", "0", "255", {0, 255, 1.0, 0, 255}},
        {"0", "9.99", "99999999999999999999", "0", "255", {0, 255, 9.99, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inBlack);
        std::string shownWhite;
        SetLevelsDialogHookForTesting([&](int, int, int, int) {
            UiSetGadgetText(gLevelsInBlackField, c.inBlack);
            UiSetGadgetText(gLevelsGammaField, c.gamma);
            UiSetGadgetText(gLevelsInWhiteField, c.inWhite);
            UiSetGadgetText(gLevelsOutBlackField, c.outBlack);
            Type(gLevelsOutWhiteField, c.outWhite);
            UiTestQueueCloseBox(gLevelsWindow);
        });
        HandleLevelsCommand();
        const LevelsRecord& r = gLevelsRecords[0];
        EXPECT_EQ(r.inBlack, c.expected.inBlack);
        EXPECT_EQ(r.inWhite, c.expected.inWhite);
        EXPECT_DOUBLE_EQ(r.gamma, c.expected.gamma);
        EXPECT_EQ(r.outBlack, c.expected.outBlack);
        EXPECT_EQ(r.outWhite, c.expected.outWhite);
        EXPECT_EQ(gHistory.size(), 1u);  // closed without applying
    }
}

TEST_F(AdjustLevelsUi, ClippingQuestionGuardsTheEdit) {
    struct Case {
        const char* what;
        int64_t warn;
        std::vector<int> answers;  // to the question, in order
        bool applied;
    } cases[] = {
        {"No keeps the dialog open, Yes applies", 1, {0, 1}, true},
        {"warning off asks nothing", 0, {}, true},
        {"No, then Cancel", 1, {0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetEditorGlobals();
        ShowRamp();
        UiTestClearRequests();
        gPrefWarnClipping = c.warn;
        for (int answer : c.answers) UiTestScriptMessageAnswer(answer);
        SetLevelsDialogHookForTesting([&](int ok, int cancel, int, int) {
            UiSetGadgetState(gLevelsChannelCombo, 1);  // red, without an event
            Type(gLevelsInBlackField, "60");
            for (size_t i = 0; i < std::max<size_t>(c.answers.size(), 1); ++i)
                UiTestQueueGadget(ok, UiEventType::Click);
            if (!c.applied) UiTestQueueGadget(cancel, UiEventType::Click);
        });
        HandleLevelsCommand();
        EXPECT_EQ(UiTestPendingAnswers(), 0u);
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), c.answers.size());
        for (const std::string& m : messages) EXPECT_EQ(m, kClipQuestion);
        ASSERT_EQ(gHistory.size(), c.applied ? 2u : 1u);
        EXPECT_EQ(gEditClippedCount, 0);
        if (!c.applied) continue;
        EXPECT_EQ(gHistory[1].label, "Levels");
        EXPECT_EQ(gHistory[1].clippedCount, 5);
        EXPECT_EQ(gSaveNameSuffix, "_levels");
        EXPECT_EQ(GetPixelColour(*gCurrentImage, 0, 0), MakeColour(0, 40, 60));
        EXPECT_EQ(GetPixelColour(*gCurrentImage, 2, 0), MakeColour(235, 100, 200));
    }
}

TEST_F(AdjustLevelsUi, ClipTextReportsClippedAndMergedValues) {
    ShowRamp();
    std::string text;
    SetLevelsDialogHookForTesting([&](int, int cancel, int, int) {
        gLevelsRecords[0].inWhite = 100;
        UpdateLevelsPreview(0);
        text = UiGetGadgetText(gLevelsClipText);
        UiTestQueueGadget(cancel, UiEventType::Click);
    });
    HandleLevelsCommand();
    // Visible values: 7 pixels x 3 channels = 21; clipped: red 126, 240;
    // green 126, blue 126, 200 -> 5 (23.81%). Merged onto white: red 240,
    // green 126 (100 is white already), blue 200.
    EXPECT_EQ(text, "Clipping: 5 values (23.81%) become pure black or white    Merged tones: 3");
}

TEST_F(AdjustLevelsUi, HandlesFollowTheMouse) {
    ShowRamp();
    struct Case {
        const char* what;
        int64_t startBlack, startWhite;
        int from, to;  // input values pressed and released at
        int64_t inBlack, inWhite;
        double gamma;
    } cases[] = {
        {"black stops below white", 0, 255, 0, 255, 253, 255, 1.0},
        {"white stops above black", 0, 255, 255, 0, 0, 2, 1.0},
        {"midway picks gamma, to white", 0, 255, 128, 255, 0, 255, 0.1},
        {"gamma to black", 0, 255, 128, 0, 0, 255, std::log(0.01) / std::log(0.5)},
        {"tie between black and gamma goes to black", 2, 254, 65, 65, 65, 254, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLevelsDialogHookForTesting([&](int, int, int, int) {
            gLevelsRecords[0].inBlack = c.startBlack;
            gLevelsRecords[0].inWhite = c.startWhite;
            UiTestQueueCanvasMouse(gLevelsCanvas, UiEventType::LeftDown, XOf(c.from), 100);
            UiTestQueueCanvasMouse(gLevelsCanvas, UiEventType::MouseMove, XOf(c.to), 100);
            UiTestQueueCanvasMouse(gLevelsCanvas, UiEventType::LeftUp, XOf(c.to), 100);
            UiTestQueueCanvasMouse(gLevelsCanvas, UiEventType::MouseMove, XOf(128), 100);  // released: no effect
            UiTestQueueCloseBox(gLevelsWindow);
        });
        HandleLevelsCommand();
        const LevelsRecord& r = gLevelsRecords[0];
        EXPECT_EQ(r.inBlack, c.inBlack);
        EXPECT_EQ(r.inWhite, c.inWhite);
        EXPECT_NEAR(r.gamma, c.gamma, 1e-9);
    }
}

TEST_F(AdjustLevelsUi, LivePreviewShowsTheSettingAndGivesThePictureBack) {
    ShowRamp();
    const Image* original = gCurrentImage.get();
    uint32_t during = 0;
    SetLevelsDialogHookForTesting([&](int, int cancel, int, int) {
        gLevelsRecords[0].outWhite = 0;  // everything black
        UpdateLevelsPreview(1);
        during = UiGetCanvasPixel(gPreviewCanvas, 1, 1);
        UiTestQueueGadget(cancel, UiEventType::Click);
    });
    const uint32_t before = UiGetCanvasPixel(gPreviewCanvas, 1, 1);
    HandleLevelsCommand();
    EXPECT_EQ(gCurrentImage.get(), original);
    EXPECT_EQ(during & 0xFFFFFFu, 0u);
    EXPECT_NE(before & 0xFFFFFFu, 0u);
    EXPECT_EQ(UiGetCanvasPixel(gPreviewCanvas, 1, 1), before);
}

// A tall picture whose every row differs, scrolled by part of a screen, none
// and more than one: the preview shows each visible pixel's own adjusted
// pixel while the dialog is open, the edit after OK and the picture after
// Cancel. A setting without room for the part on screen (over 1 MiB here)
// leaves the last preview.
TEST_F(AdjustLevelsUi, PreviewShowsEachVisiblePixelAtEveryScrollOffset) {
    ImagePtr ramp = CreateImage(1000, 1200);
    for (int y = 0; y < ramp->height; ++y)
        for (int x = 0; x < ramp->width; ++x)
            SetPixelColour(*ramp, x, y, MakeColour(y % 251, (x + 3 * y) % 256, (7 * y + x / 3) % 253));
    LevelsSet set;
    ResetAllLevelsRecords(set);
    set[0].inWhite = 128;
    LevelsLut lut;
    BuildLevelsLut(set, lut);
    const ImagePtr adjusted = ApplyLevelsToCopy(*ramp, lut, 0, LevelsClipMarks{});
    // Pixels of the visible rectangle unlike `expected` (compared without alpha).
    auto wrongPixels = [](const Image& expected) {
        const UiRect v = UiGetCanvasVisibleRect(gPreviewCanvas);
        EXPECT_GT(v.width * v.height * 4, 1 << 20);
        int wrong = 0;
        for (int y = v.y; y < v.y + v.height; ++y)
            for (int x = v.x; x < v.x + v.width; ++x)
                wrong += (UiGetCanvasPixel(gPreviewCanvas, x, y) ^ GetPixelColour(expected, x, y)) & 0xFFFFFF ? 1 : 0;
        return wrong;
    };
    const struct {
        int scroll;
        bool ok, room;
    } rows[] = {{0, true, true}, {144, true, true}, {144, false, true}, {700, false, true}, {144, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.scroll) + (row.ok ? " OK" : " Cancel") + (row.room ? "" : " without room"));
        ResetEditorGlobals();
        ShowPicture(DuplicateImage(*ramp));
        RefreshPreview();
        UiSetScrollPosition(gPreviewScroll, 0, row.scroll);
        LetWindowsPaint();
        gPrefWarnClipping = 0;
        int during = -1;
        SetLevelsDialogHookForTesting([&](int okButton, int cancel, int, int) {
            gLevelsRecords[0].inWhite = 128;
            UpdateLevelsPreview(1);
            if (!row.room) {
                SetFreeMemoryForTesting(kMemoryReserveBytes + 1024);
                gLevelsRecords[0].inWhite = 64;
                UpdateLevelsPreview(1);
                SetFreeMemoryForTesting(0);
                gLevelsRecords[0].inWhite = 128;
            }
            during = wrongPixels(*adjusted);
            UiTestQueueGadget(row.ok ? okButton : cancel, UiEventType::Click);
        });
        HandleLevelsCommand();
        EXPECT_EQ(during, 0);
        EXPECT_EQ(wrongPixels(row.ok ? *adjusted : *ramp), 0);
    }
}

}  // namespace
