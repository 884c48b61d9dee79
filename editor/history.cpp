#include "editor/history.h"

#include <utility>

#include "editor/document.h"
#include "editor/mainwindow.h"
#include "toolkit/memory.h"
#include "toolkit/ui/ui.h"

namespace {

ImagePtr (*gHistoryCopier)(const Image&) = nullptr;
uint64_t gHistoryBudgetOverride = 0;

// Image editors keep their undo data to a fixed share of memory; a quarter
// leaves room for the current picture, the adjustment being made and the
// rest of the desktop.
constexpr uint64_t kHistoryMemoryShare = 4;

// The position before the last GoToHistoryStep, so a step that cannot be
// shown puts the position back where the picture still is.
int64_t gPositionBeforeMove = -1;

void ReportOutOfMemory() {
    UiMessageBox(gAppTitle, "Not enough memory for this operation.", UiButtons::Ok, UiIcon::Error, gMainWindow);
}

// Drops the oldest step after the original; the positions follow the steps.
void DropOldestStep() {
    gHistory.erase(gHistory.begin() + 1);
    --gHistoryPos;
    --gSavedPos;
    if (gSavedPos < 0) gSavedPos = -1;
}

uint64_t HistoryBytes() {
    uint64_t bytes = 0;
    for (const HistoryEntry& entry : gHistory)
        if (entry.image) bytes += entry.image->ByteCount();
    return bytes;
}

}  // namespace

void SetHistoryImageCopierForTesting(ImagePtr (*copier)(const Image&)) { gHistoryCopier = copier; }

void SetHistoryMemoryBudgetForTesting(uint64_t bytes) { gHistoryBudgetOverride = bytes; }

uint64_t GetHistoryMemoryBudget() {
    if (gHistoryBudgetOverride > 0) return gHistoryBudgetOverride;
    // Taken once: the limits of a session do not change while it runs.
    static const uint64_t budget = [] {
        const uint64_t usable = GetUsableMemoryBytes();
        return usable > 0 ? usable / kHistoryMemoryShare : UINT64_MAX;
    }();
    return budget;
}

ImagePtr CopyImageForHistory(const Image& image) {
    return gHistoryCopier ? gHistoryCopier(image) : DuplicateImage(image);
}

HistoryEntry MakeCurrentHistoryEntry(const std::string& label) {
    HistoryEntry entry;
    entry.label = label;
    entry.width = gTexInfo.width;
    entry.height = gTexInfo.height;
    entry.hasAlpha = gTexInfo.hasAlpha;
    entry.isHdr = gTexInfo.isHdr;
    entry.firstMip = gTexInfo.firstMip;
    entry.note = gTexInfo.note;
    entry.saveNameSuffix = gSaveNameSuffix;
    entry.statusText = gStatusText;
    entry.clippedCount = gEditClippedCount;
    return entry;
}

void AppendHistoryStep(ImagePtr copy, HistoryEntry entry) {
    // A new step ends the redo branch.
    while (int64_t(gHistory.size()) > gHistoryPos + 1) gHistory.pop_back();
    if (gSavedPos > gHistoryPos) gSavedPos = -1;

    // Room for the new step, within the step limit and the memory budget: the
    // oldest edit goes first; the original and the new step always stay, so a
    // step larger than the whole budget still leaves undo to the original.
    const uint64_t newBytes = copy ? copy->ByteCount() : 0;
    while (gHistory.size() >= 2 && (int64_t(gHistory.size()) >= gUndoLimit ||
                                    HistoryBytes() + newBytes > GetHistoryMemoryBudget()))
        DropOldestStep();

    entry.image = std::move(copy);
    gHistory.push_back(std::move(entry));
    gHistoryPos = int64_t(gHistory.size()) - 1;
}

bool PushHistoryStep(const Image& image, HistoryEntry entry) {
    ImagePtr copy = CopyImageForHistory(image);
    if (!copy) return false;
    AppendHistoryStep(std::move(copy), std::move(entry));
    return true;
}

bool PushUndo(const std::string& label) {
    if (!gCurrentImage) return false;
    HistoryEntry entry = MakeCurrentHistoryEntry(label);
    // The count belongs to this edit only; left behind it would be charged
    // to whichever step is recorded next.
    gEditClippedCount = 0;
    const bool recorded = PushHistoryStep(*gCurrentImage, std::move(entry));
    UpdateTitleAndUndoMenu();
    return recorded;
}

void CommitEdit(ImagePtr image, const std::string& label, const std::string& suffix) {
    // The history copy is made before anything changes, so an edit that
    // cannot be recorded is never shown.
    ImagePtr copy = image ? CopyImageForHistory(*image) : nullptr;
    if (!copy) {
        ReportOutOfMemory();
        return;
    }
    gCurrentImage = std::move(image);
    gTexInfo.isHdr = 0;  // the exposure is now part of the picture
    gTexInfo.hasAlpha = HasTransparentPixels(gCurrentImage.get());
    gTexInfo.note = label;
    gSaveNameSuffix += suffix;
    ShowChangedPicture(
        std::to_string(gCurrentImage->width) + " x " + std::to_string(gCurrentImage->height) + "  (edited)",
        {std::move(copy), label});
}

void ClearHistory() {
    gHistory.clear();
    gHistoryPos = -1;
    gSavedPos = 0;
    gPositionBeforeMove = -1;
}

bool ResetEditHistory(const Image& image, HistoryEntry entry) {
    ImagePtr copy = CopyImageForHistory(image);
    if (!copy) {
        ClearHistory();
        return false;
    }
    ResetEditHistory(std::move(copy), std::move(entry));
    return true;
}

void ResetEditHistory(ImagePtr copy, HistoryEntry entry) {
    ClearHistory();
    AppendHistoryStep(std::move(copy), std::move(entry));
    gSavedPos = 0;
}

const HistoryEntry* GoToHistoryStep(int64_t index) {
    if (index < 0 || index >= int64_t(gHistory.size())) return nullptr;
    gPositionBeforeMove = gHistoryPos;
    gHistoryPos = index;
    return &gHistory[size_t(index)];
}

const HistoryEntry* GoToPreviousStep() { return GoToHistoryStep(gHistoryPos - 1); }
const HistoryEntry* GoToNextStep() { return GoToHistoryStep(gHistoryPos + 1); }
const HistoryEntry* GoToOriginalStep() { return GoToHistoryStep(0); }

void ApplyHistoryEntry(const HistoryEntry* entry) {
    if (!entry) return;
    ImagePtr copy = entry->image ? CopyImageForHistory(*entry->image) : nullptr;
    if (!copy) {
        // The position already moved; put it back beside the picture still shown.
        if (gPositionBeforeMove >= 0 && gPositionBeforeMove < int64_t(gHistory.size()))
            gHistoryPos = gPositionBeforeMove;
        ReportOutOfMemory();
        UpdateTitleAndUndoMenu();
        return;
    }
    gCurrentImage = std::move(copy);
    gTexInfo.width = int32_t(entry->width);
    gTexInfo.height = int32_t(entry->height);
    gTexInfo.hasAlpha = int32_t(entry->hasAlpha);
    gTexInfo.firstMip = int32_t(entry->firstMip);
    gTexInfo.note = entry->note;
    gTexInfo.isHdr = (entry->isHdr == 1 && gTexInfo.hdrData) ? 1 : 0;
    gSaveNameSuffix = entry->saveNameSuffix;
    ShowChangedPicture(entry->statusText);
}

bool CanUndo() { return gHistoryPos > 0; }
bool CanRedo() { return gHistoryPos >= 0 && gHistoryPos < int64_t(gHistory.size()) - 1; }
int64_t CountEditsSinceOpen() { return gHistoryPos < 0 ? 0 : gHistoryPos; }
bool HasUnsavedEdits() { return gHistoryPos >= 1 && gHistoryPos != gSavedPos; }
void MarkSaved() { gSavedPos = gHistoryPos; }

int64_t SumHistoryClipCounts() {
    int64_t sum = 0;
    for (int64_t i = 1; i <= gHistoryPos && i < int64_t(gHistory.size()); ++i) sum += gHistory[size_t(i)].clippedCount;
    return sum;
}

std::string GetUndoLabel() { return CanUndo() ? gHistory[size_t(gHistoryPos)].label : std::string(); }
std::string GetRedoLabel() { return CanRedo() ? gHistory[size_t(gHistoryPos + 1)].label : std::string(); }
