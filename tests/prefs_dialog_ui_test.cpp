// The preferences dialog: typed values and their refusals, Defaults, the
// ways to cancel, the HDR controls' state, and the command that applies the
// undo limit.
#include "tests/editor_fixture.h"

#include <cmath>

#include "editor/commands.h"
#include "editor/prefs.h"
#include "editor/prefs_dialog.h"
#include "toolkit/numbers.h"

namespace {

class EditorPrefsDialog : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        SetDefaultPreferences();  // as start-up leaves them
    }
    void TearDown() override {
        SetPreferencesDialogHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    bool FileWritten() { return GetFileKind(GetPrefsFilePath()) == FileKind::File; }
    // Non-default values everywhere, so a test sees what changed.
    void SetOwnValues() {
        gPrefRememberWindow = 0;
        gPrefBackground = 2;
        gPrefUndoSteps = 12;
        gPrefNormalStrength = 7.5;
        gPrefHdrFixed = 1;
        gPrefHdrExposure = 3.0;
        gPrefHdrTone = 1;
        gPrefSaveFormat = 6;
        gPrefSaveSourceFolder = 1;
        gPrefWarnDataLoss = 0;
        gPrefWarnQE1Size = 0;
        gPrefWarnClipping = 0;
    }
    void ExpectOwnValues() {
        EXPECT_EQ(gPrefRememberWindow, 0);
        EXPECT_EQ(gPrefBackground, 2);
        EXPECT_EQ(gPrefUndoSteps, 12);
        EXPECT_EQ(gPrefNormalStrength, 7.5);
        EXPECT_EQ(gPrefHdrFixed, 1);
        EXPECT_EQ(gPrefHdrExposure, 3.0);
        EXPECT_EQ(gPrefSaveFormat, 6);
        EXPECT_EQ(gPrefWarnClipping, 0);
    }
};

TEST_F(EditorPrefsDialog, TypedValuesAreStoredOrRefused) {
    struct Case {
        const char* strength;
        const char* exposure;
        const char* undo;
        bool accepted;
        double wantStrength, wantExposure;
        int64_t wantUndo;
    };
    const Case cases[] = {
        {"2,5", "-1,5", "1", true, 2.5, -1.5, 2},
        {"50", "abc", "999", true, 50.0, 0.0, 200},
        {"0.01", "NaN", "40", true, 0.01, 0.0, 40},  // a NaN exposure would black out HDR pictures
        {"0", "1", "30", false, 0, 0, 0},
        {"-1", "1", "30", false, 0, 0, 0},
        {"50.1", "1", "30", false, 0, 0, 0},
        {"soft", "1", "30", false, 0, 0, 0},
        {"nan", "1", "30", false, 0, 0, 0},
        {"+Infinity", "1", "30", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strength);
        RemoveFile(GetPrefsFilePath());
        SetOwnValues();
        UiTestClearRequests();
        SetPreferencesDialogHookForTesting([&](int, int, int ok, int cancel) {
            UiSetGadgetText(gPrefNormalStrengthField, c.strength);
            UiSetGadgetText(gPrefHdrExposureField, c.exposure);
            UiSetGadgetText(gPrefUndoStepsSpin, c.undo);
            UiTestQueueGadget(ok, UiEventType::Click);
            if (!c.accepted) {
                UiTestScriptMessageAnswer(1);
                UiTestQueueGadget(cancel, UiEventType::Click);
            }
        });
        const int result = ShowPreferencesDialog(gMainWindow);
        if (c.accepted) {
            EXPECT_EQ(result, 1);
            EXPECT_DOUBLE_EQ(gPrefNormalStrength, c.wantStrength);
            EXPECT_DOUBLE_EQ(gPrefHdrExposure, c.wantExposure);
            EXPECT_EQ(gPrefUndoSteps, c.wantUndo);
            EXPECT_DOUBLE_EQ(ReadPrefFloat("PrefNormalStrength", -1), c.wantStrength);
            EXPECT_EQ(ReadPrefInt("PrefUndoSteps", -1), c.wantUndo);
            EXPECT_TRUE(Messages().empty());
        } else {
            EXPECT_EQ(result, 0);
            ASSERT_EQ(UiTestRequests().size(), 1u);
            EXPECT_EQ(UiTestRequests()[0].title, "Preferences");
            EXPECT_EQ(UiTestRequests()[0].text, "The normal map strength must be a number between 0 and 50.");
            EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Error);
            ExpectOwnValues();
            EXPECT_FALSE(FileWritten());
        }
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
        EXPECT_EQ(gPrefNormalStrengthField, 0);
    }
}

TEST_F(EditorPrefsDialog, EveryControlRoundTripsThroughOk) {
    SetOwnValues();
    gPrefNormalStrength = 2.25;  // shown with one decimal; OK stores what was shown
    std::string shownStrength;
    bool mainDisabled = false;
    SetPreferencesDialogHookForTesting([&](int, int, int ok, int) {
        mainDisabled = !UiIsWindowEnabled(gMainWindow);
        shownStrength = UiGetGadgetText(gPrefNormalStrengthField);
        EXPECT_EQ(UiGetGadgetText(gPrefHdrExposureField), "3.0");
        EXPECT_EQ(UiGetGadgetState(gPrefSaveFormatCombo), 6);
        EXPECT_EQ(UiGetGadgetState(gPrefSaveSourceOption), 1);
        EXPECT_EQ(UiGetGadgetState(gPrefSaveLastFolderOption), 0);
        EXPECT_EQ(UiCountItems(gPrefSaveFormatCombo), 8);
        UiTestQueueGadget(ok, UiEventType::Click);
    });
    ASSERT_EQ(ShowPreferencesDialog(gMainWindow), 1);
    EXPECT_TRUE(mainDisabled);
    ASSERT_EQ(shownStrength.size(), 3u);
    EXPECT_DOUBLE_EQ(gPrefNormalStrength, ParseFloatText(shownStrength));
    // What went to the file loads back as the same preferences.
    const double strength = gPrefNormalStrength;
    ResetEditorGlobals();
    LoadPrefKeys();
    EXPECT_DOUBLE_EQ(gPrefNormalStrength, strength);
    gPrefNormalStrength = 7.5;  // checked just above
    ExpectOwnValues();
    EXPECT_EQ(gPrefSaveSourceFolder, 1);
    EXPECT_EQ(gPrefHdrTone, 1);
}

TEST_F(EditorPrefsDialog, DefaultsShowOnlyUntilOkStoresThem) {
    for (bool confirm : {false, true}) {
        SCOPED_TRACE(confirm);
        RemoveFile(GetPrefsFilePath());
        SetOwnValues();
        SetPreferencesDialogHookForTesting([&](int, int defaults, int ok, int cancel) {
            UiTestQueueGadget(defaults, UiEventType::Click);
            UiTestQueueGadget(confirm ? ok : cancel, UiEventType::Click);
        });
        EXPECT_EQ(ShowPreferencesDialog(gMainWindow), confirm ? 1 : 0);
        if (confirm) {
            EXPECT_EQ(gPrefRememberWindow, 1);
            EXPECT_EQ(gPrefBackground, 0);
            EXPECT_EQ(gPrefUndoSteps, 30);
            EXPECT_DOUBLE_EQ(gPrefNormalStrength, 2.0);
            EXPECT_EQ(gPrefHdrFixed, 0);
            EXPECT_EQ(gPrefSaveFormat, 0);
            EXPECT_EQ(gPrefWarnClipping, 1);
            EXPECT_EQ(ReadPrefInt("PrefBackground", -1), 0);
        } else {
            // Even with no file behind them, the values in force survive.
            ExpectOwnValues();
            EXPECT_FALSE(FileWritten());
        }
    }
}

TEST_F(EditorPrefsDialog, EscapeCloseBoxAndCancelLeaveEverything) {
    enum Way { kEscape, kCloseBox, kCancel };
    for (Way way : {kEscape, kCloseBox, kCancel}) {
        SCOPED_TRACE(way);
        SetOwnValues();
        SetPreferencesDialogHookForTesting([&](int window, int, int, int cancel) {
            UiSetGadgetText(gPrefNormalStrengthField, "9");
            UiSetGadgetState(gPrefBackgroundCombo, 3);
            if (way == kEscape) { EXPECT_TRUE(UiTestPressShortcut(window, 0, kUiKeyEscape)); }
            if (way == kCloseBox) UiTestQueueCloseBox(window);
            if (way == kCancel) UiTestQueueGadget(cancel, UiEventType::Click);
        });
        EXPECT_EQ(ShowPreferencesDialog(gMainWindow), 0);
        ExpectOwnValues();
        EXPECT_FALSE(FileWritten());
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorPrefsDialog, FixedHdrControlsFollowTheOptionAndAreStoredEvenWhenOff) {
    for (int fixed : {0, 1}) {
        SCOPED_TRACE(fixed);
        gPrefHdrFixed = fixed;
        SetPreferencesDialogHookForTesting([&](int, int, int ok, int) {
            EXPECT_EQ(UiIsGadgetEnabled(gPrefHdrExposureField), fixed == 1);
            EXPECT_EQ(UiIsGadgetEnabled(gPrefHdrToneCombo), fixed == 1);
            UiSetGadgetText(gPrefHdrExposureField, "-2,5");
            UiSetGadgetState(gPrefHdrToneCombo, 1);
            UiTestQueueGadget(ok, UiEventType::Click);
        });
        ASSERT_EQ(ShowPreferencesDialog(gMainWindow), 1);
        EXPECT_EQ(gPrefHdrFixed, fixed);
        EXPECT_DOUBLE_EQ(gPrefHdrExposure, -2.5);
        EXPECT_EQ(gPrefHdrTone, 1);
    }
}

TEST_F(EditorPrefsDialog, ConfirmedCommandAppliesTheUndoLimit) {
    SetPreferencesDialogHookForTesting([](int, int, int ok, int) {
        UiSetGadgetText(gPrefUndoStepsSpin, "5");
        UiTestQueueGadget(ok, UiEventType::Click);
    });
    DispatchCommand(5);
    EXPECT_EQ(gUndoLimit, 5);
    SetPreferencesDialogHookForTesting([](int, int, int, int cancel) {
        UiSetGadgetText(gPrefUndoStepsSpin, "80");
        UiTestQueueGadget(cancel, UiEventType::Click);
    });
    DispatchCommand(5);
    EXPECT_EQ(gUndoLimit, 5);
}

}  // namespace
