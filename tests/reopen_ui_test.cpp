// Windows with list views opened, drawn (list headers included) and closed
// many times in one session: the batch window, and the archive chooser on its
// own and from the batch window.
#include "editor/batch.h"
#include "formats/gro_ui.h"
#include "tests/editor_fixture.h"
#include "tests/gro_zip.h"

namespace {

class EditorReopenWindows : public EditorTest {
protected:
    void TearDown() override {
        SetBatchWindowHookForTesting(nullptr);
        SetGroChooserHookForTesting(nullptr);
        EditorTest::TearDown();
    }
};

TEST_F(EditorReopenWindows, BatchWindowAndChooserOpenAndCloseManyTimes) {
    const std::string archive = dir_ + "pack.gro";
    ASSERT_TRUE(WriteTestZip(archive, {{"textures/a.tex", "a"}, {"textures/b.tex", "b"}}));
    std::vector<int> opened;
    SetGroChooserHookForTesting([&](int window, int, int, int list, int, int cancel) {
        opened.push_back(window);
        EXPECT_EQ(UiCountItems(list), 2);
        LetWindowsPaint();
        UiTestQueueGadget(cancel, UiEventType::Click);
    });
    SetBatchWindowHookForTesting([&](int handled) {
        if (handled == 0) {
            opened.push_back(gBatchWindow);
            EXPECT_EQ(AddBatchFile(archive + "::textures/a.tex"), 1);
            LetWindowsPaint();
            UiTestScriptPath(archive);  // "Add from .gro..." opens the chooser over the batch window
            UiTestQueueGadget(gBatchAddGroButton, UiEventType::Click);
        } else if (UiTestPendingEvents() == 0) {
            UiTestQueueGadget(gBatchCloseButton, UiEventType::Click);
        }
    });
    for (int round = 0; round < 6; ++round) {
        ShowBatchWindow(gMainWindow, dir_);
        EXPECT_EQ(ShowGroChooser(archive, gMainWindow, round % 2), "");
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    ASSERT_EQ(opened.size(), 18u);
    for (int window : opened) EXPECT_FALSE(UiIsWindow(window));
    EXPECT_EQ(gBatchWindow, 0);
    EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
}

}  // namespace
