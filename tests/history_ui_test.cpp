// The edit history: commits, undo and redo, revert, the undo limit, the saved
// position, pictures shared between the history and the screen, and edits
// that do not fit in memory.
#include <algorithm>
#include <cstring>

#include "adjust/document_ui.h"
#include "editor/commands.h"
#include "formats/dispatch.h"
#include "formats/tga.h"
#include "tests/editor_fixture.h"

namespace {

// Step n's picture is a solid colour with red = n, so the shown step can be
// read off a pixel. Four rows of `width` pixels: 16 bytes a column.
ImagePtr StepPicture(int n, int width = 4) { return CreateImage(width, 4, 32, MakeColour(n, 0, 0)); }
constexpr uint64_t kStepBytes = 64;  // a 4 x 4 step
int ShownStep() { return ColourRed(GetPixelColour(*gCurrentImage, 0, 0)); }
void Command(CommandId id) { DispatchCommand(CommandNumber(id)); }

class EditorHistory : public EditorTest {
public:
    void Open() {
        gSaveNameSuffix.clear();
        ShowPicture(StepPicture(0));
        mostHeld_ = 0;
    }
    // As an adjustment does: room first, then the new picture.
    void Edit(int n, int width = 4) {
        if (!MakeRoomForEdit(width, 4)) return;
        mostHeld_ = std::max(mostHeld_, gHistory.size());
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
        ExpectShownStepShared("open");
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
            ExpectShownStepShared(s);
        }
    }
    // The picture shown is its step's own buffer, held by nothing else.
    static void ExpectShownStepShared(const char* after) {
        ASSERT_EQ(gCurrentImage, gHistory[size_t(gHistoryPos)].image) << after;
        EXPECT_EQ(gCurrentImage.use_count(), 2) << after;
    }
    size_t mostHeld_ = 0;  // steps held while an edit made its picture
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
// its own is still made, so the user can go on and revert. The steps that go
// are gone before the new picture is made, except the one shown.
TEST_F(EditorHistory, MemoryBudgetDropsTheOldestEditsAndKeepsTheSavedStep) {
    struct Case {
        uint64_t budget;  // in 4 x 4 steps
        int64_t limit;
        const char* steps;
        std::vector<int> kept;
        int shown;
        int64_t savedPos;  // checked where a save was made
        bool unsaved;
        size_t mostHeld;  // steps held while an edit made its picture
    } cases[] = {
        {3, 30, "EEEEE", {0, 4, 5}, 5, -1, true, 2},
        {3, 30, "EEEEEU", {0, 4, 5}, 4, -1, true, 2},
        {3, 30, "EEEEEUU", {0, 4, 5}, 0, -1, false, 2},
        {3, 30, "EEUE", {0, 1, 3}, 3, -1, true, 2},  // the redo branch goes first
        {100, 3, "EEEE", {0, 3, 4}, 4, -1, true, 2},  // the step limit is the smaller bound
        {5, 30, "EEEW", {0, 4}, 4, -1, true, 3},      // a wide step makes room for itself
        {5, 30, "EMEEE", {0, 3, 4, 5}, 5, -1, true, 3},
        {0, 30, "EEE", {0, 3}, 3, -1, true, 2},
        {0, 30, "EEEO", {0, 3}, 0, -1, false, 2},
        {4, 30, "EESEE", {0, 2, 3, 4}, 4, 1, true, 3},
        {4, 30, "EESEEUU", {0, 2, 3, 4}, 2, 1, false, 3},
        {4, 30, "EESEEUUU", {0, 2, 3, 4}, 0, 1, false, 3},
        {4, 30, "EESEEUUR", {0, 2, 3, 4}, 3, 1, true, 3},
        {4, 30, "EEEESUU", {0, 2, 3, 4}, 2, 3, true, 3},
        {4, 30, "EESEEEEE", {0, 5, 6, 7}, 7, -1, true, 3},
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
        EXPECT_EQ(mostHeld_, c.mostHeld);
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

// Every edit path checks, before it makes its picture, that the picture and
// its working memory fit in what the process can still take, counting the
// redo step it will cut: one byte short is refused and changes nothing,
// exactly enough is made.
TEST_F(EditorHistory, NoEditIsShownWithoutBeingRecorded) {
    struct Case {
        const char* what;
        void (*act)();
        uint64_t need;      // bytes beyond the working room; 0: refused whatever the memory
        const char* typed;  // the answer to an input requester
    } cases[] = {
        {"commit without an image", [] { CommitEdit(nullptr, "Levels", "_levels"); }, 0, nullptr},
        {"invert alpha", [] { Command(CommandId::InvertAlpha); }, kStepBytes, nullptr},
        {"extract red", [] { Command(CommandId::ExtractRed); }, kStepBytes, nullptr},
        {"flip green", [] { Command(CommandId::FlipGreen); }, kStepBytes, nullptr},
        {"normal map from height", [] { Command(CommandId::NormalFromHeight); }, kStepBytes + 16 * 8, "2"},
        {"resize to 2 x 2, halving", [] { ResizeCurrentImage(2, 2); }, 16 + kStepBytes * 3 / 4, nullptr},
        {"resize to 8 x 8", [] { ResizeCurrentImage(8, 8); }, 256, nullptr},
    };
    for (const Case& c : cases) {
        for (const bool fits : {false, true}) {
            if (fits && c.need == 0) continue;
            SCOPED_TRACE(std::string(c.what) + (fits ? ", fits" : ", one byte short"));
            Play("EEU");
            const SharedImage shown = gCurrentImage;
            UiTestClearRequests();
            if (c.typed) UiTestScriptAnswer({UiRequestKind::Input, 1, {}, -1, c.typed});
            if (!fits) UiTestScriptMessageAnswer(1);
            if (c.need > 0) SetFreeMemoryForTesting(kEditWorkingRoom + c.need - kStepBytes - (fits ? 0 : 1));
            c.act();
            SetFreeMemoryForTesting(0);
            if (fits) {
                EXPECT_TRUE(Messages().empty());
                EXPECT_NE(gCurrentImage, shown);
                EXPECT_EQ(gHistory.size(), 3u);
                ExpectShownStepShared(c.what);
                continue;
            }
            EXPECT_EQ(Messages(), std::vector<std::string>{"Not enough memory for this operation."});
            EXPECT_EQ(UiTestRequests().back().icon, UiIcon::Error);
            EXPECT_EQ(gCurrentImage, shown);
            EXPECT_EQ(KeptSteps(), (std::vector<int>{0, 1, 2}));
            EXPECT_EQ(gHistoryPos, 1);
            EXPECT_EQ(gSaveNameSuffix, "_e1");
            EXPECT_EQ(UiGetMenuItemText(gMainWindow, 31), "Redo Edit 2\tCtrl+Y");
        }
    }
}

// A command that finds no room for a buffer the picture's size (16 MiB here;
// the check starts at 1 MiB) is refused with its message: the picture, its
// history and the files on disk stay as they were, no temporary is left.
// With room each is done. The Levels dialog holds no such buffer: its
// preview shows the setting either way, and only OK is refused.
TEST_F(EditorHistory, CommandsWithoutRoomForThePictureChangeNothing) {
    constexpr int kSide = 2048;
    constexpr uint64_t kShort = kMemoryReserveBytes + (uint64_t(3) << 20);
    const std::string second = dir_ + "second.tga", mask = dir_ + "mask.tga", dds = dir_ + "saved.dds";
    for (const std::string& file : {second, mask})
        ASSERT_EQ(WriteTgaFile(*CreateImage(kSide, kSide, 32, MakeColour(128, 128, 128)), file, false), 1);
    uint32_t previewed = 1;
    SetLevelsDialogHookForTesting([&](int ok, int, int, int) {
        gLevelsRecords[0].outWhite = 0;  // all black
        UpdateLevelsPreview(true);
        previewed = UiGetCanvasPixel(gPreviewCanvas, 1, 1) & 0xFFFFFFu;
        UiTestQueueGadget(ok, UiEventType::Click);
    });
    SetSaveDdsDialogHookForTesting([](int, int list, int mipsBox, int ok, int) {
        UiSetGadgetState(list, 0);  // DXT1
        UiSetGadgetState(mipsBox, 1);
        UiTestQueueGadget(ok, UiEventType::Click);
    });
    auto cannotLoad = [&](const std::string& path) {  // in the loader's own words
        TexInfo info;
        SetFreeMemoryForTesting(kShort);
        EXPECT_FALSE(LoadImageFileByExtension(path, info));
        SetFreeMemoryForTesting(0);
        return GetFilePart(path) + " could not be loaded:\n" + info.errorText;
    };
    struct Case {
        std::string requested;  // the file the requester is answered with
        std::function<void()> act;
        std::vector<std::string> refused;  // every message, the refusal last
        std::function<bool()> done;
    } cases[] = {
        {"", [] { Command(CommandId::Levels); }, {"Not enough memory for this operation."},
         [] { return GetUndoLabel() == "Levels"; }},
        {"", [&] { OpenFile(second, false); },
         {"wall.tex has edits that have not been saved (2 edit(s)).\nDiscard them?", cannotLoad(second)},
         [&] { return gCurrentPath == second && gHistory.size() == 1; }},
        {"", [&] { SaveCurrentImageAs(dds, true); },
         {"Saving failed:\n" + dds + "\n\nNot enough memory for this operation."},
         [&] {
             TexInfo info;
             return gSavePath == dds && LoadImageFileByExtension(dds, info) && info.width == kSide;
         }},
        {mask, [] { Command(CommandId::LoadAlpha); }, {cannotLoad(mask)},
         [] { return GetUndoLabel() == "Alpha loaded from mask.tga"; }},
    };
    for (const Case& c : cases) {
        for (const bool room : {false, true}) {
            SCOPED_TRACE(c.refused.back() + (room ? ", with room" : ""));
            ShowPicture(CreateImage(kSide, kSide, 32, MakeColour(200, 100, 50)));
            for (const char* edit : {"Edit 1", "Edit 2"}) CommitEdit(CreateImage(kSide, kSide), edit, "_e");
            gSavePath.clear();
            ASSERT_TRUE(WriteWholeFile(dds, "old", 3));
            const SharedImage shown = gCurrentImage;
            std::vector<SharedImage> steps;
            for (const HistoryEntry& e : gHistory) steps.push_back(e.image);
            UiTestClearRequests();
            if (!c.requested.empty()) UiTestScriptPath(c.requested);
            for (size_t i = room ? 1 : 0; i < c.refused.size(); ++i) UiTestScriptMessageAnswer(1);
            previewed = 1;
            SetFreeMemoryForTesting(room ? 0 : kShort);
            c.act();
            SetFreeMemoryForTesting(0);
            EXPECT_EQ(UiTestPendingAnswers(), 0u);
            EXPECT_TRUE(&c != &cases[0] || previewed == 0u);  // the Levels preview showed the setting
            for (const FolderEntry& e : ScanFolder(dir_)) EXPECT_NE(e.name.rfind(".orvanta-", 0), 0u) << e.name;
            if (room) {
                EXPECT_TRUE(c.done());
                continue;
            }
            EXPECT_EQ(Messages(), c.refused);
            EXPECT_EQ(UiTestRequests().back().icon, UiIcon::Error);
            EXPECT_EQ(gCurrentImage, shown);
            std::vector<SharedImage> now;
            for (const HistoryEntry& e : gHistory) now.push_back(e.image);
            EXPECT_EQ(now, steps);
            EXPECT_TRUE(gHistoryPos == 2 && HasUnsavedEdits() && gSavePath.empty());
            EXPECT_EQ(UiGetMenuItemText(gMainWindow, 30), "Undo Edit 2\tCtrl+Z");
            std::vector<uint8_t> old;
            EXPECT_TRUE(ReadWholeFile(dds, old) && std::string(old.begin(), old.end()) == "old");
        }
    }
}

TEST_F(EditorHistory, StartsOverFromAPictureItStillHolds) {
    Open();
    Edit(1);
    Edit(2);
    ResetEditHistory(gHistory[1].image, MakeCurrentHistoryEntry("Original"));
    EXPECT_EQ(KeptSteps(), std::vector<int>{1});
    EXPECT_EQ(gHistoryPos, 0);
    EXPECT_EQ(gSavedPos, 0);
    EXPECT_FALSE(HasUnsavedEdits());
}

}  // namespace
