// The edit history: commits, undo and redo, revert, the undo limit, the saved
// position, and what happens when a copy cannot be made.
#include <cstring>

#include "tests/editor_fixture.h"

namespace {

// Step n's picture is a solid colour with red = n, so the shown step can be
// read off a pixel. Four rows of `width` pixels: 16 bytes a column.
ImagePtr StepPicture(int n, int width = 4) { return CreateImage(width, 4, 32, MakeColour(n, 0, 0)); }
constexpr uint64_t kStepBytes = 64;  // a 4 x 4 step
int ShownStep() { return ColourRed(GetPixelColour(*gCurrentImage, 0, 0)); }

class EditorHistory : public EditorTest {
public:
    void Open() { ShowPicture(StepPicture(0)); }
    void Edit(int n, int width = 4) {
        CommitEdit(StepPicture(n, width), "Edit " + std::to_string(n), "_e" + std::to_string(n));
    }
    // The step each entry holds, oldest first; the edits keep their labels.
    std::vector<int> KeptSteps() const {
        std::vector<int> steps;
        for (const HistoryEntry& e : gHistory) {
            steps.push_back(ColourRed(GetPixelColour(*e.image, 0, 0)));
            EXPECT_TRUE(steps.size() == 1 || e.label == "Edit " + std::to_string(steps.back())) << e.label;
        }
        return steps;
    }
    void Undo() { if (CanUndo()) ApplyHistoryEntry(GoToPreviousStep()); }
    void Redo() { if (CanRedo()) ApplyHistoryEntry(GoToNextStep()); }
    void Revert() { if (CanUndo()) ApplyHistoryEntry(GoToOriginalStep()); }
    // Opens the picture, then plays the steps: E edit (M twice, W four times as
    // wide), S save, U undo, R redo, O revert to original.
    void Play(const char* steps) {
        Open();
        int n = 0;
        for (const char* s = steps; *s; ++s) {
            switch (*s) {
            case 'E': Edit(++n); break;
            case 'M': Edit(++n, 8); break;
            case 'W': Edit(++n, 16); break;
            case 'S': MarkSaved(); UpdateTitleAndUndoMenu(); break;
            case 'U': Undo(); break;
            case 'R': Redo(); break;
            case 'O': Revert(); break;
            }
        }
    }
    static bool TitleMarksUnsaved() {
        const std::string title = UiGetWindowTitle(gMainWindow);
        return title.size() >= 2 && title.compare(title.size() - 2, 2, " *") == 0;
    }
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

// Within the memory budget the oldest edits drop first, never the original,
// and the saved marker follows its picture. A step larger than the budget on
// its own is still made, so the user can go on and revert.
TEST_F(EditorHistory, MemoryBudgetDropsTheOldestEditsAndKeepsTheSavedStep) {
    struct Case {
        uint64_t budget;  // in 4 x 4 steps
        int64_t limit;
        const char* steps;
        std::vector<int> kept;
        int shown;
        int64_t savedPos;  // checked where a save was made
        bool unsaved;
    } cases[] = {
        {3, 30, "EEEEE", {0, 4, 5}, 5, -1, true},
        {3, 30, "EEEEEU", {0, 4, 5}, 4, -1, true},
        {3, 30, "EEEEEUU", {0, 4, 5}, 0, -1, false},
        {100, 3, "EEEE", {0, 3, 4}, 4, -1, true},  // the step limit is the smaller bound
        {5, 30, "EEEW", {0, 4}, 4, -1, true},      // a wide step makes room for itself
        {5, 30, "EMEEE", {0, 3, 4, 5}, 5, -1, true},
        {0, 30, "EEE", {0, 3}, 3, -1, true},
        {0, 30, "EEEO", {0, 3}, 0, -1, false},
        {4, 30, "EESEE", {0, 2, 3, 4}, 4, 1, true},
        {4, 30, "EESEEUU", {0, 2, 3, 4}, 2, 1, false},
        {4, 30, "EESEEUUU", {0, 2, 3, 4}, 0, 1, false},
        {4, 30, "EESEEUUR", {0, 2, 3, 4}, 3, 1, true},
        {4, 30, "EEEESUU", {0, 2, 3, 4}, 2, 3, true},
        {4, 30, "EESEEEEE", {0, 5, 6, 7}, 7, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.budget) + " steps' room, " + c.steps);
        SetHistoryMemoryBudgetForTesting(c.budget ? c.budget * kStepBytes : 1);
        gUndoLimit = c.limit;
        Play(c.steps);
        EXPECT_EQ(KeptSteps(), c.kept);
        EXPECT_EQ(ShownStep(), c.shown);
        EXPECT_TRUE(!std::strchr(c.steps, 'S') || gSavedPos == c.savedPos) << gSavedPos;
        EXPECT_EQ(HasUnsavedEdits(), c.unsaved);
        EXPECT_EQ(TitleMarksUnsaved(), c.unsaved);
    }
}

TEST_F(EditorHistory, SavedPositionDecidesUnsavedEdits) {
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
        Play(c.steps);
        EXPECT_EQ(HasUnsavedEdits(), c.unsaved);
        EXPECT_EQ(gSavedPos, c.savedPos);
        EXPECT_EQ(TitleMarksUnsaved(), c.unsaved) << UiGetWindowTitle(gMainWindow);
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

TEST_F(EditorHistory, StartsOverFromAPictureItStillHolds) {
    // The copy is taken before the old steps go, so one of them may be the source.
    for (const bool copies : {true, false}) {
        SCOPED_TRACE(copies ? "copied" : "no memory for the copy");
        Open();
        Edit(1);
        Edit(2);
        if (!copies) SetHistoryImageCopierForTesting(FailingCopy);
        EXPECT_EQ(ResetEditHistory(*gHistory[1].image, MakeCurrentHistoryEntry("Original")), copies);
        SetHistoryImageCopierForTesting(nullptr);
        EXPECT_EQ(KeptSteps(), copies ? std::vector<int>{1} : std::vector<int>{});
        EXPECT_EQ(gHistoryPos, copies ? 0 : -1);
        EXPECT_EQ(gSavedPos, 0);
        EXPECT_FALSE(HasUnsavedEdits());
    }
}

}  // namespace
