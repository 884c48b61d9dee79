// The edit history: commits, undo and redo, revert, the undo limit, the saved
// position, and what happens when a copy cannot be made.
#include "tests/editor_fixture.h"

namespace {

// Step n's picture is a solid colour with red = n, so the shown step can be
// read off a pixel.
ImagePtr StepPicture(int n) { return CreateImage(4, 4, 32, MakeColour(n, 0, 0)); }
int ShownStep() { return ColourRed(GetPixelColour(*gCurrentImage, 0, 0)); }

class EditorHistory : public EditorTest {
public:
    void Open() { ShowPicture(StepPicture(0)); }
    void Edit(int n) { CommitEdit(StepPicture(n), "Edit " + std::to_string(n), "_e" + std::to_string(n)); }
    void Undo() { if (CanUndo()) ApplyHistoryEntry(GoToPreviousStep()); }
    void Redo() { if (CanRedo()) ApplyHistoryEntry(GoToNextStep()); }
    void Revert() { if (CanUndo()) ApplyHistoryEntry(GoToOriginalStep()); }
};

TEST_F(EditorHistory, LimitKeepsTheOriginalAndTheNewestSteps) {
    struct Case {
        int limit, edits;
        size_t entries;
        int64_t pos;
        int oldestKeptStep;  // step shown at position 1
    } cases[] = {
        {30, 40, 30, 29, 12},
        {2, 5, 2, 1, 5},
        {3, 1, 2, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        gUndoLimit = c.limit;
        Open();
        for (int i = 1; i <= c.edits; ++i) Edit(i);
        EXPECT_EQ(gHistory.size(), c.entries);
        EXPECT_EQ(gHistoryPos, c.pos);
        EXPECT_EQ(ColourRed(GetPixelColour(*gHistory[1].image, 0, 0)), c.oldestKeptStep);
        Revert();
        EXPECT_EQ(ShownStep(), 0);
        EXPECT_EQ(gHistoryPos, 0);
        EXPECT_TRUE(CanRedo());
    }
}

TEST_F(EditorHistory, SavedPositionDecidesUnsavedEdits) {
    // E edit, S save, U undo, R redo, O revert to original.
    struct Case {
        const char* steps;
        bool unsaved;
        int64_t savedPos;
    } cases[] = {
        {"", false, 0},
        {"E", true, 0},
        {"EEESUU", true, 3},
        {"EEESUURR", false, 3},
        {"ESOE", true, -1},
        {"ESOES", false, 1},
        {"EU", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        Open();
        int n = 0;
        for (const char* s = c.steps; *s; ++s) {
            switch (*s) {
            case 'E': Edit(++n); break;
            case 'S': MarkSaved(); UpdateTitleAndUndoMenu(); break;
            case 'U': Undo(); break;
            case 'R': Redo(); break;
            case 'O': Revert(); break;
            }
        }
        EXPECT_EQ(HasUnsavedEdits(), c.unsaved);
        EXPECT_EQ(gSavedPos, c.savedPos);
        const std::string title = UiGetWindowTitle(gMainWindow);
        EXPECT_EQ(title.size() >= 2 && title.compare(title.size() - 2, 2, " *") == 0, c.unsaved) << title;
    }
}

TEST_F(EditorHistory, UndoRedoShowStepsAndNameThemInTheMenu) {
    Open();
    EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, 30));
    Edit(1);
    gEditClippedCount = 7;
    Edit(2);
    EXPECT_EQ(gSaveNameSuffix, "_e1_e2");
    EXPECT_EQ(SumHistoryClipCounts(), 7);
    EXPECT_EQ(gEditClippedCount, 0);
    Undo();
    EXPECT_EQ(ShownStep(), 1);
    EXPECT_EQ(gSaveNameSuffix, "_e1");
    EXPECT_EQ(gTexInfo.note, "Edit 1");
    EXPECT_EQ(SumHistoryClipCounts(), 0);
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo Edit 1\tCtrl+Z");
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 31), "Redo Edit 2\tCtrl+Y");
    EXPECT_EQ(CountEditsSinceOpen(), 1);
    Undo();
    EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo\tCtrl+Z");
    EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, 32));
    Undo();  // nothing left to undo
    EXPECT_EQ(gHistoryPos, 0);
    Edit(3);  // cuts the redo branch
    EXPECT_EQ(gHistory.size(), 2u);
    EXPECT_FALSE(CanRedo());
}

TEST_F(EditorHistory, HdrFlagComesBackOnlyWithItsBlock) {
    for (bool keepBlock : {true, false}) {
        SCOPED_TRACE(keepBlock);
        gTexInfo.isHdr = 1;
        gTexInfo.hdrData = std::make_unique<HdrBlock>();
        Open();
        Edit(1);
        EXPECT_EQ(gTexInfo.isHdr, 0);
        if (!keepBlock) FreeTexHdrData(gTexInfo);
        Undo();
        EXPECT_EQ(gTexInfo.isHdr, keepBlock ? 1 : 0);
    }
}

TEST_F(EditorHistory, NoEditIsShownWithoutBeingRecorded) {
    Open();
    Edit(1);
    struct Case {
        const char* what;
        void (*act)(EditorHistory&);
    } cases[] = {
        {"commit without an image", [](EditorHistory&) { CommitEdit(nullptr, "Levels", "_levels"); }},
        {"commit without a history copy",
         [](EditorHistory& t) {
             SetHistoryImageCopierForTesting(FailingCopy);
             t.Edit(9);
         }},
        {"undo without a copy",
         [](EditorHistory& t) {
             SetHistoryImageCopierForTesting(FailingCopy);
             t.Undo();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UiTestScriptMessageAnswer(1);
        c.act(*this);
        SetHistoryImageCopierForTesting(nullptr);
        EXPECT_EQ(Messages().back(), "Not enough memory for this operation.");
        EXPECT_EQ(UiTestRequests().back().icon, UiIcon::Error);
        EXPECT_EQ(ShownStep(), 1);
        EXPECT_EQ(gHistoryPos, 1);
        EXPECT_EQ(gHistory.size(), 2u);
        EXPECT_EQ(gSaveNameSuffix, "_e1");
    }
    Undo();  // the position was kept, so undo still works
    EXPECT_EQ(ShownStep(), 0);
}

}  // namespace
