// The ".gro" chooser and "Open from .gro archive": the list's rows and
// filter, the ways to choose and to leave, the layout on resizing, and the
// chosen entry opening as the current picture.
#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "formats/gro.h"
#include "formats/gro_ui.h"
#include "tests/gro_zip.h"

namespace {

struct Gadgets {
    int window = 0, filter = 0, count = 0, list = 0, open = 0, cancel = 0;
};

class EditorGroChooser : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        if (IsSkipped()) return;
        tex_ = MakeTexBytes(dir_, 4, 2, MakeColour(30, 60, 90));
        ASSERT_TRUE(WriteTestZip(dir_ + "pack.gro", {
            {"textures/b.Tex", "b"},
            {"TEXTURES/A.TEX", tex_},
            {"deep/er/nested/c.tex", std::string(1024, 'c'), true},
            {"readme.txt", "r"},
        }));
    }
    void TearDown() override {
        SetGroChooserHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // Runs the chooser; `drive` queues what the user does once it is built.
    std::string Choose(int multiple, std::function<void(const Gadgets&)> drive) {
        SetGroChooserHookForTesting([&](int window, int filter, int count, int list, int open, int cancel) {
            seen_ = {window, filter, count, list, open, cancel};
            title_ = UiGetWindowTitle(window);
            countText_ = UiGetGadgetText(count);
            parentEnabled_ = UiIsWindowEnabled(gMainWindow);
            drive(seen_);
        });
        return ShowGroChooser(dir_ + "pack.gro", gMainWindow, multiple);
    }
    std::vector<std::string> Rows(int list) const {
        std::vector<std::string> rows;
        for (int i = 0; i < UiCountItems(list); ++i)
            rows.push_back(UiGetItemText(list, i, 0) + "|" + UiGetItemText(list, i, 1) + "|" + UiGetItemText(list, i, 2) +
                           "|" + std::to_string(UiGetItemData(list, i)));
        return rows;
    }

    std::string tex_;
    Gadgets seen_;
    std::string title_, countText_;
    bool parentEnabled_ = true;
};

TEST_F(EditorGroChooser, ListRowsFollowTheFilter) {
    const int window = UiOpenWindow(0, 0, 400, 300, "list", kUiDialogFlags, gMainWindow);
    const int list = UiCreateListView(window, 0, 0, 400, 250);
    for (const char* column : {"Name", "Size", "Folder"}) UiAddListColumn(list, column, 100);
    const int count = UiCreateLabel(window, 0, 260, 200, 20, "");
    gGroEntries = {{"a.tex", 0}, {"b\\c.tex", 1}, {"d/e.tex", 1024}, {"Textures/WALLS/x.tex", 1025},
                   {"huge.tex", INT64_MAX}};
    struct Case {
        const char* filter;
        std::vector<std::string> rows;
    } cases[] = {
        {"", {"a.tex|0 KB||0", "c.tex|1 KB|b\\|1", "e.tex|1 KB|d/|2", "x.tex|2 KB|Textures/WALLS/|3",
              "huge.tex|9007199254740992 KB||4"}},
        {"  Wall ", {"x.tex|2 KB|Textures/WALLS/|3"}},
        {"B\\", {"c.tex|1 KB|b\\|1"}},
        {"zzz", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        FillGroEntryList(list, count, c.filter);
        EXPECT_EQ(Rows(list), c.rows);
        EXPECT_EQ(UiGetGadgetText(count), std::to_string(c.rows.size()) + " of 5 textures");
    }
    // Selected rows give their entries' names in list order; none gives none.
    FillGroEntryList(list, count, "");
    gGroSelectedNames = {"stale"};
    EXPECT_EQ(CollectSelectedGroEntries(list), "");
    EXPECT_TRUE(gGroSelectedNames.empty());
}

TEST_F(EditorGroChooser, WaysToChooseAndToLeave) {
    using Drive = std::function<void(const Gadgets&)>;
    const Drive selectSecondAndOpen = [](const Gadgets& g) {
        UiSetGadgetState(g.list, 1);
        UiTestQueueGadget(g.open, UiEventType::Click);
    };
    struct Case {
        const char* what;
        int multiple;
        Drive drive;
        std::string chosen;
        std::vector<std::string> names;
    } cases[] = {
        {"Open", 0, selectSecondAndOpen, "TEXTURES/A.TEX", {"TEXTURES/A.TEX"}},
        {"Return picks the first row", 0,
         [](const Gadgets& g) { UiTestPressShortcut(g.window, 0, kUiKeyReturn); }, "deep/er/nested/c.tex",
         {"deep/er/nested/c.tex"}},
        {"double-click", 0,
         [](const Gadgets& g) {
             UiSetGadgetState(g.list, 2);
             UiTestQueueGadget(g.list, UiEventType::DoubleClick, 2);
         },
         "textures/b.Tex", {"textures/b.Tex"}},
        {"filter, then Return", 0,
         [](const Gadgets& g) {
             UiSetGadgetText(g.filter, " A.T");
             UiTestQueueGadget(g.filter, UiEventType::Change);
             UiTestPressShortcut(g.window, 0, kUiKeyReturn);
         },
         "TEXTURES/A.TEX", {"TEXTURES/A.TEX"}},
        {"several", 1,
         [](const Gadgets& g) {
             UiSetItemSelected(g.list, 2, true);
             UiSetItemSelected(g.list, 0, true);
             UiTestQueueGadget(g.open, UiEventType::Click);
         },
         "deep/er/nested/c.tex", {"deep/er/nested/c.tex", "textures/b.Tex"}},
        {"Open without a row does nothing; Escape", 0,
         [](const Gadgets& g) {
             UiTestQueueGadget(g.open, UiEventType::Click);
             UiTestQueueGadget(g.list, UiEventType::DoubleClick);
             UiTestPressShortcut(g.window, 0, kUiKeyEscape);
         },
         "", {}},
        {"Cancel", 0,
         [](const Gadgets& g) {
             UiSetGadgetState(g.list, 1);
             UiTestQueueGadget(g.cancel, UiEventType::Click);
         },
         "", {}},
        {"close box", 1, [](const Gadgets& g) { UiTestQueueCloseBox(g.window); }, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gGroSelectedNames = {"stale"};
        EXPECT_EQ(Choose(c.multiple, c.drive), c.chosen);
        EXPECT_EQ(gGroSelectedNames, c.names);
        EXPECT_EQ(title_, c.multiple ? "Choose textures (Ctrl/Shift + click for more) - pack.gro"
                                     : "Choose a texture - pack.gro");
        EXPECT_EQ(countText_, "3 of 3 textures");
        EXPECT_FALSE(parentEnabled_);
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
        EXPECT_FALSE(UiIsWindow(seen_.window));
        EXPECT_EQ(UiTestPendingEvents(), 0u);
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(EditorGroChooser, ResizingKeepsTheLayout) {
    std::vector<UiRect> rects;
    Choose(0, [&](const Gadgets& g) {
        EXPECT_EQ(UiGetGadgetRect(g.list).width, 744);
        UiTestQueueResize(g.window, 900, 600);
        // The next wait finds nothing queued: the layout is read there, and the
        // layer's close-box answer ends the chooser.
        UiSetTestFailureHandler([&, g](const std::string&) {
            for (int gadget : {g.list, g.open, g.cancel, g.filter}) rects.push_back(UiGetGadgetRect(gadget));
        });
    });
    ASSERT_EQ(rects.size(), 4u);
    EXPECT_EQ((std::vector<int>{rects[0].x, rects[0].y, rects[0].width, rects[0].height}),
              (std::vector<int>{8, 40, 884, 516}));
    EXPECT_EQ((std::vector<int>{rects[1].x, rects[1].y, rects[2].x, rects[2].y}), (std::vector<int>{700, 564, 800, 564}));
    EXPECT_EQ((std::vector<int>{rects[3].x, rects[3].y}), (std::vector<int>{52, 8}));
}

TEST_F(EditorGroChooser, ArchivesWithoutTexturesAreReported) {
    ASSERT_TRUE(WriteTestZip(dir_ + "plain.gro", {{"a.txt", "a"}}));
    ASSERT_TRUE(WriteWholeFile(dir_ + "junk.gro", "junk", 4));
    for (const std::string& archive : {dir_ + "plain.gro", dir_ + "junk.gro", dir_ + "missing.gro"}) {
        SCOPED_TRACE(archive);
        UiTestClearRequests();
        UiTestScriptMessageAnswer(1);
        gGroSelectedNames = {"stale"};
        EXPECT_EQ(ShowGroChooser(archive, gMainWindow, 0), "");
        EXPECT_TRUE(gGroSelectedNames.empty());
        ASSERT_EQ(UiTestRequests().size(), 1u);
        EXPECT_EQ(UiTestRequests()[0].title, "Open from .gro");
        EXPECT_EQ(UiTestRequests()[0].text, "No .tex files found in\n" + archive);
        EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Warning);
    }
}

TEST_F(EditorGroChooser, OpenFromArchiveCommand) {
    // Cancel at the requester, then at the chooser: nothing opens.
    UiTestScriptPath("");
    OpenGroArchiveDialog();
    UiTestScriptPath(dir_ + "pack.gro");
    SetGroChooserHookForTesting([](int window, int, int, int, int, int) { UiTestQueueCloseBox(window); });
    OpenGroArchiveDialog();
    EXPECT_FALSE(gCurrentImage);

    gLastOpenFolder = "/somewhere/";
    UiTestClearRequests();
    UiTestScriptPath(dir_ + "pack.gro");
    SetGroChooserHookForTesting([](int window, int filter, int, int, int, int) {
        UiSetGadgetText(filter, "a.tex");
        UiTestQueueGadget(filter, UiEventType::Change);
        UiTestPressShortcut(window, 0, kUiKeyReturn);
    });
    OpenGroArchiveDialog();
    ASSERT_EQ(UiTestRequests().size(), 1u);
    EXPECT_EQ(UiTestRequests()[0].title, "Open .gro archive");
    EXPECT_EQ(UiTestRequests()[0].startPath, "/somewhere/");
    EXPECT_EQ(UiTestRequests()[0].patterns, "Dravik archive (*.gro)|*.gro|All files (*.*)|*.*");
    ASSERT_TRUE(gCurrentImage);
    EXPECT_EQ(gCurrentPath, dir_ + "pack.gro::TEXTURES/A.TEX");
    EXPECT_EQ(UiGetStatusField(gMainWindow, 0), "A.TEX");
    EXPECT_EQ(gStatusText, "4 x 2  RGB, DK1 version 4");
    EXPECT_EQ(gLastOpenFolder, dir_);
    EXPECT_EQ(GetPixelColour(*gCurrentImage, 0, 0), MakeColour(30, 60, 90));
}

}  // namespace
