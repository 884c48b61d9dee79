// The preferences dialog: typed values and their refusals, the ways out and
// what each keeps, and the HDR controls.
#include "tests/editor_fixture.h"

#include "editor/prefs.h"
#include "editor/prefs_dialog.h"

namespace {

using Hook = PreferencesDialogHook;

class EditorPrefsDialog : public EditorTest {
protected:
    void TearDown() override {
        SetPreferencesDialogHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // Non-default values in force and no file, so a test sees what changed.
    void Start() {
        RemoveFile(GetPrefsFilePath());
        SetDefaultPreferences();
        gPrefBackground = 2;
        gPrefUndoSteps = 12;
        gPrefNormalStrength = 7.5;
        gPrefSaveFormat = 6;
        UiTestClearRequests();
    }
    bool Untouched() {
        return gPrefBackground == 2 && gPrefUndoSteps == 12 && gPrefNormalStrength == 7.5 && gPrefSaveFormat == 6 &&
               GetFileKind(GetPrefsFilePath()) == FileKind::Missing;
    }
    int Run(Hook hook) {
        SetPreferencesDialogHookForTesting(std::move(hook));
        return ShowPreferencesDialog(gMainWindow);
    }
};

TEST_F(EditorPrefsDialog, TypedValuesAreStoredOrRefused) {
    struct Case {
        const char *strength, *exposure, *undo;
        bool accepted;
        double wantStrength, wantExposure;
        int64_t wantUndo;
    };
    const Case cases[] = {
        {"2,5", "-1,5", "1", true, 2.5, -1.5, 2},
        {"50", "abc", "999", true, 50.0, 0.0, 200},
        {"0.01", "NaN", "40", true, 0.01, 0.0, 40},  // a NaN exposure would black out HDR pictures
        {"0", "1", "30", false, 0, 0, 0},    {"50.1", "1", "30", false, 0, 0, 0},
        {"soft", "1", "30", false, 0, 0, 0}, {"nan", "1", "30", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strength);
        Start();
        const int result = Run([&](int, int, int ok, int cancel) {
            UiSetGadgetText(gPrefNormalStrengthField, c.strength);
            UiSetGadgetText(gPrefHdrExposureField, c.exposure);
            UiSetGadgetText(gPrefUndoStepsSpin, c.undo);
            UiTestQueueGadget(ok, UiEventType::Click);
            if (!c.accepted) {  // the dialog stays open after the message
                UiTestScriptMessageAnswer(1);
                UiTestQueueGadget(cancel, UiEventType::Click);
            }
        });
        EXPECT_EQ(result, c.accepted ? 1 : 0);
        if (c.accepted) {
            EXPECT_DOUBLE_EQ(ReadPrefFloat("PrefNormalStrength", -1), c.wantStrength);
            EXPECT_DOUBLE_EQ(ReadPrefFloat("PrefHdrExposure", -1), c.wantExposure);
            EXPECT_EQ(ReadPrefInt("PrefUndoSteps", -1), c.wantUndo);
            EXPECT_TRUE(Messages().empty());
        } else {
            EXPECT_TRUE(Untouched());
            ASSERT_EQ(UiTestRequests().size(), 1u);
            EXPECT_EQ(UiTestRequests()[0].title, "Preferences");
            EXPECT_EQ(UiTestRequests()[0].text, "The normal map strength must be a number between 0 and 50.");
        }
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorPrefsDialog, OnlyOkStoresAndWrites) {
    enum Way { kEscape, kCloseBox, kCancel, kDefaultsCancel, kDefaultsOk };
    for (Way way : {kEscape, kCloseBox, kCancel, kDefaultsCancel, kDefaultsOk}) {
        SCOPED_TRACE(way);
        Start();
        const int result = Run([&](int window, int defaults, int ok, int cancel) {
            UiSetGadgetState(gPrefBackgroundCombo, 3);
            if (way == kEscape) UiTestPressShortcut(window, 0, kUiKeyEscape);
            if (way == kCloseBox) UiTestQueueCloseBox(window);
            if (way >= kDefaultsCancel) UiTestQueueGadget(defaults, UiEventType::Click);
            if (way == kCancel || way == kDefaultsCancel) UiTestQueueGadget(cancel, UiEventType::Click);
            if (way == kDefaultsOk) UiTestQueueGadget(ok, UiEventType::Click);
        });
        EXPECT_EQ(result, way == kDefaultsOk ? 1 : 0);
        if (way != kDefaultsOk) {
            EXPECT_TRUE(Untouched());
            continue;
        }
        EXPECT_EQ(gPrefBackground, 0);
        EXPECT_EQ(ReadPrefInt("PrefUndoSteps", -1), 30);
        EXPECT_DOUBLE_EQ(ReadPrefFloat("PrefNormalStrength", -1), 2.0);
        EXPECT_EQ(ReadPrefInt("PrefSaveFormat", -1), 0);
    }
}

TEST_F(EditorPrefsDialog, HdrControlsFollowTheOptionAndAreStoredEvenWhenOff) {
    for (int fixed : {0, 1}) {
        SCOPED_TRACE(fixed);
        Start();
        gPrefHdrFixed = fixed;
        ASSERT_EQ(Run([&](int, int, int ok, int) {
                      EXPECT_EQ(UiIsGadgetEnabled(gPrefHdrExposureField), fixed == 1);
                      EXPECT_EQ(UiIsGadgetEnabled(gPrefHdrToneCombo), fixed == 1);
                      UiSetGadgetText(gPrefHdrExposureField, "2,5");
                      UiSetGadgetState(gPrefHdrToneCombo, 1);
                      UiTestQueueGadget(ok, UiEventType::Click);
                  }),
                  1);
        EXPECT_EQ(gPrefHdrFixed, fixed);
        EXPECT_DOUBLE_EQ(gPrefHdrExposure, 2.5);
        EXPECT_EQ(gPrefHdrTone, 1);
    }
}

}  // namespace
