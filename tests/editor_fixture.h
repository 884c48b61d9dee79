// Editor tests: the UI layer in test mode with a main window, cleared editor
// globals, and a fresh folder for files and preferences.
#pragma once

#include <stdlib.h>

#include "adjust/levels_ui.h"
#include "adjust/resize_ui.h"
#include "editor/about.h"
#include "editor/batch.h"
#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "editor/prefs_dialog.h"
#include "editor/save.h"
#include "formats/gro_ui.h"
#include "skybox/skyboxwin_ui.h"
#include "tests/test_support.h"
#include "tests/ui_fixture.h"
#include "toolkit/files.h"
#include "toolkit/parallel.h"

class EditorTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        if (IsSkipped()) return;
        ResetEditorGlobals();
        dir_ = MakeTempFolder("editor");
        SetConfigFolderOverride(dir_ + "config/");
        BuildMainWindow();
    }
    // Every hook and override back to none, also after a test that stopped
    // early: a hook left behind would call into its finished test.
    void TearDown() override {
        SetAboutWindowHookForTesting(nullptr);
        SetBatchWindowHookForTesting(nullptr);
        SetBatchItemHookForTesting(nullptr);
        SetCommandProbeForTesting(nullptr);
        SetGroChooserHookForTesting(nullptr);
        SetLevelsDialogHookForTesting(nullptr);
        SetPreferencesDialogHookForTesting(nullptr);
        SetResizeDialogHookForTesting(nullptr);
        SetSaveDdsDialogHookForTesting(nullptr);
        SetSkyboxWindowHookForTesting(nullptr);
        SetFreeMemoryForTesting(0);
        SetHistoryMemoryBudgetForTesting(0);
        SetThreadCountForTesting(0);
        SetWriteFailureAfterBytes(-1);
        SetExecutableFolderOverride("");
        SetConfigFolderOverride("");
        ResetEditorGlobals();
        UiTest::TearDown();
    }

    // The picture shown as if just opened: one "Original" step, saved.
    void ShowPicture(ImagePtr image) {
        gTexInfo.width = image->width;
        gTexInfo.height = image->height;
        gCurrentImage = std::move(image);
        gCurrentPath = dir_ + "wall.tex";
        ResetEditHistory(gCurrentImage, MakeCurrentHistoryEntry("Original"));
        UpdateTitleAndUndoMenu();
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const UiRequest& r : UiTestRequests())
            if (r.kind == UiRequestKind::Message) texts.push_back(r.text);
        return texts;
    }

    std::string dir_;
};
