// The About window (its ways to close, the logo) and opening the help page.
#include "tests/editor_fixture.h"

#include <sys/stat.h>

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
        int opened = 0;
        bool parentDisabled = false;
        SetAboutWindowHookForTesting([&](int window, int logo, int title, int close) {
            opened = window;
            parentDisabled = !UiIsWindowEnabled(gMainWindow);
            EXPECT_NE(logo, 0);
            EXPECT_EQ(UiGetGadgetText(title), "Dravik Engine 1 Orvanta 1.00");
            EXPECT_EQ(UiGetWindowTitle(window), "About");
            if (way == kEscape) { EXPECT_TRUE(UiTestPressShortcut(window, 0, kUiKeyEscape)); }
            if (way == kReturn) { EXPECT_TRUE(UiTestPressShortcut(window, 0, kUiKeyReturn)); }
            if (way == kCloseBox) UiTestQueueCloseBox(window);
            if (way == kCloseButton) UiTestQueueGadget(close, UiEventType::Click);
        });
        DispatchCommand(7);
        ASSERT_NE(opened, 0);
        EXPECT_TRUE(parentDisabled);
        EXPECT_FALSE(UiIsWindow(opened));
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorAbout, LogoIsLeftOutWhenAbsentOrUndecodable) {
    const uint8_t junk[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
    struct Case {
        const uint8_t* start;
        const uint8_t* end;
    };
    for (const Case& c : {Case{nullptr, nullptr}, Case{junk, junk}, Case{junk, junk + sizeof junk}}) {
        int logo = -1;
        SetAboutWindowHookForTesting([&](int window, int logoGadget, int, int) {
            logo = logoGadget;
            UiTestQueueCloseBox(window);
        });
        ShowAboutWindow(gMainWindow, "T", c.start, c.end);
        EXPECT_EQ(logo, 0);
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
    const std::string missing = "The help file was not found. It should be here:\n" + page;
    enum Layout { kNoFolder, kFolderNamedLikeThePage, kPage };
    for (Layout layout : {kNoFolder, kFolderNamedLikeThePage, kPage}) {
        SCOPED_TRACE(layout);
        UiTestClearRequests();
        opened.clear();
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
            ASSERT_EQ(Messages(), std::vector<std::string>{missing});
            EXPECT_EQ(UiTestRequests()[0].title, "Dravik Orvanta");
            EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Warning);
            EXPECT_TRUE(opened.empty());
        }
    }
}

TEST(EditorHelpPage, ShipsBesideTheSourcesAndNamesEveryMenuCommand) {
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadWholeFile(std::string(ORVANTA_SOURCE_DIR) + "/Help/Orvanta-Help.html", data));
    const std::string html(data.begin(), data.end());
    for (const char* text : {"Open from .gro archive", "Save As", "Revert to original", "Auto levels",
                             "Switch tone", "Histogram", "Create from height map", "Skybox", "Batch conversion",
                             "Preferences", "Orvanta.prefs", "Ctrl+H"})
        EXPECT_NE(html.find(text), std::string::npos) << text;
}

}  // namespace
