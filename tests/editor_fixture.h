// Editor tests: the UI layer in test mode with a main window, cleared editor
// globals, and a fresh folder for files and preferences.
#pragma once

#include <stdlib.h>

#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "tests/test_support.h"
#include "tests/ui_fixture.h"
#include "toolkit/files.h"

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
    void TearDown() override {
        SetFreeMemoryForTesting(0);
        SetHistoryMemoryBudgetForTesting(0);
        SetWriteFailureAfterBytes(-1);
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
