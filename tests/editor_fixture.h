// Shared set-up for editor tests: the UI layer in test mode with a main
// window, cleared editor globals and a fresh folder for files.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

class EditorTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UiInit());
        UiSetTestMode(true);
        UiTestReset();
        UiSetTestFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
        ResetEditorGlobals();
        std::string templ = testing::TempDir() + "editorXXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back(0);
        dir_ = std::string(mkdtemp(buf.data())) + "/";
        SetConfigFolderOverride(dir_ + "config/");
        BuildMainWindow();
    }
    void TearDown() override {
        SetHistoryImageCopierForTesting(nullptr);
        SetWriteFailureAfterBytes(-1);
        ResetEditorGlobals();
        UiTestReset();
        SetConfigFolderOverride("");
    }

    // The picture shown as if just opened: one "Original" step, saved.
    void ShowPicture(ImagePtr image) {
        gTexInfo.width = image->width;
        gTexInfo.height = image->height;
        gCurrentImage = std::move(image);
        gCurrentPath = dir_ + "wall.tex";
        ResetEditHistory(*gCurrentImage, MakeCurrentHistoryEntry("Original"));
        UpdateTitleAndUndoMenu();
    }

    // The texts of the message boxes asked so far.
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const UiRequest& r : UiTestRequests())
            if (r.kind == UiRequestKind::Message) texts.push_back(r.text);
        return texts;
    }

    std::string dir_;
};

inline ImagePtr FailingCopy(const Image&) { return nullptr; }
