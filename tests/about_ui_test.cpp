// The About window's ways to close, and opening the help page.
#include "tests/editor_fixture.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "editor/about.h"
#include "editor/commands.h"

namespace {

class EditorAbout : public EditorTest {
protected:
    void TearDown() override {
        SetAboutWindowHookForTesting(nullptr);
        SetExecutableFolderOverride("");
        UiTestSetShellOpen(nullptr);
        EditorTest::TearDown();
    }
};

TEST_F(EditorAbout, EveryWayClosesTheWindowAndFreesTheParent) {
    enum Way { kEscape, kReturn, kCloseBox, kCloseButton };
    for (Way way : {kEscape, kReturn, kCloseBox, kCloseButton}) {
        SCOPED_TRACE(way);
        int opened = 0, logo = 0;
        bool parentDisabled = false;
        SetAboutWindowHookForTesting([&](int window, int logoGadget, int, int close) {
            opened = window;
            logo = logoGadget;
            parentDisabled = !UiIsWindowEnabled(gMainWindow);
            if (way == kEscape) UiTestPressShortcut(window, 0, kUiKeyEscape);
            if (way == kReturn) UiTestPressShortcut(window, 0, kUiKeyReturn);
            if (way == kCloseBox) UiTestQueueCloseBox(window);
            if (way == kCloseButton) UiTestQueueGadget(close, UiEventType::Click);
        });
        DispatchCommand(7);
        EXPECT_NE(logo, 0);  // the built-in logo decodes
        EXPECT_TRUE(parentDisabled);
        EXPECT_FALSE(UiIsWindow(opened));
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorAbout, HelpOpensThePageOrSaysWhereItShouldBe) {
    std::vector<std::string> opened;
    UiTestSetShellOpen([&](const std::string& path) {
        opened.push_back(path);
        return true;
    });
    SetExecutableFolderOverride(dir_);
    const std::string page = dir_ + "Help/Orvanta-Help.html";
    enum Layout { kNoFolder, kFolderNamedLikeThePage, kPage };
    for (Layout layout : {kNoFolder, kFolderNamedLikeThePage, kPage}) {
        SCOPED_TRACE(layout);
        UiTestClearRequests();
        if (layout == kFolderNamedLikeThePage) {
            ASSERT_EQ(mkdir((dir_ + "Help").c_str(), 0755), 0);
            ASSERT_EQ(mkdir(page.c_str(), 0755), 0);
        }
        if (layout == kPage) {
            ASSERT_EQ(rmdir(page.c_str()), 0);
            ASSERT_TRUE(WriteWholeFile(page, "<html></html>", 13));
        } else {
            UiTestScriptMessageAnswer(1);
        }
        DispatchCommand(6);
        if (layout == kPage) {
            EXPECT_TRUE(Messages().empty());
            EXPECT_EQ(opened, std::vector<std::string>{page});
        } else {
            EXPECT_EQ(Messages(), std::vector<std::string>{"The help file was not found. It should be here:\n" + page});
            EXPECT_TRUE(opened.empty());
        }
    }
}

// The real launch: a stand-in xdg-open found first on PATH records the folder
// it was started in and the page it was given.
TEST_F(EditorAbout, HelpViewerStartsInThePagesFolder) {
    ASSERT_TRUE(CreateFolder(dir_ + "Help") && CreateFolder(dir_ + "bin"));
    const std::string page = dir_ + "Help/Orvanta-Help.html", record = dir_ + "started.txt";
    ASSERT_TRUE(WriteWholeFile(page, "<html></html>", 13));
    const std::string part = "'" + record + ".part'", script = "#!/bin/sh\n{ pwd -P; printf '%s\\n' \"$1\"; } > " +
                                                             part + " && mv " + part + " '" + record + "'\n";
    ASSERT_TRUE(WriteWholeFile(dir_ + "bin/xdg-open", script.data(), script.size()));
    ASSERT_EQ(chmod((dir_ + "bin/xdg-open").c_str(), 0755), 0);
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir_ + "bin:" + path).c_str(), 1);
    SetExecutableFolderOverride(dir_);
    DispatchCommand(6);
    setenv("PATH", path.c_str(), 1);
    // The viewer runs detached; wait for its record (a generous bound, not a timing claim).
    for (int i = 0; i < 3000 && access(record.c_str(), F_OK) != 0; ++i) usleep(10000);
    std::ifstream in(record);
    std::string folder, opened;
    ASSERT_TRUE(std::getline(in, folder) && std::getline(in, opened)) << "the stand-in viewer never ran";
    EXPECT_EQ(folder, std::filesystem::canonical(dir_ + "Help").string());
    EXPECT_EQ(opened, page);
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
