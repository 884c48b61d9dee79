#include "editor/history.h"

#include <algorithm>
#include <utility>

#include "editor/document.h"
#include "editor/mainwindow.h"
#include "toolkit/memory.h"
#include "toolkit/ui/ui.h"

namespace {

uint64_t gHistoryBudgetOverride = 0;

// Image editors keep their undo data to a fixed share of memory; a quarter
// leaves room for the current picture, the adjustment being made and the
// rest of the desktop.
constexpr uint64_t kHistoryMemoryShare = 4;

void ReportOutOfMemory() {
    UiMessageBox(gAppTitle, "Not enough memory for this operation.", UiButtons::Ok, UiIcon::Error, gMainWindow);
}

uint64_t PictureBytes(const HistoryEntry& entry) { return entry.image ? entry.image->ByteCount() : 0; }

// What removing the entry gives back: nothing while its picture is also
// held elsewhere (shown, or read by an edit).
uint64_t BytesFreedWith(const HistoryEntry& entry) {
    return entry.image && entry.image.use_count() == 1 ? entry.image->ByteCount() : 0;
}

// Drops the oldest step after the original; the positions follow the steps.
void DropOldestStep() {
    gHistory.erase(gHistory.begin() + 1);
    --gHistoryPos;
    --gSavedPos;
    if (gSavedPos < 0) gSavedPos = -1;
}

// A new step ends the redo branch.
void CutRedoBranch() {
    while (int64_t(gHistory.size()) > gHistoryPos + 1) gHistory.pop_back();
    if (gSavedPos > gHistoryPos) gSavedPos = -1;
}

// How many of the oldest edits go when a step of `newBytes` follows the
// shown one, within the step limit and the memory budget. The original and
// the new step always stay, so a step larger than the whole budget still
// leaves undo to the original.
size_t OldestStepsToDrop(uint64_t newBytes) {
    size_t kept = size_t(std::clamp<int64_t>(gHistoryPos + 1, 0, int64_t(gHistory.size())));
    uint64_t bytes = 0;
    for (size_t i = 0; i < kept; ++i) bytes += PictureBytes(gHistory[i]);
    size_t drop = 0;
    while (kept >= 2 && (int64_t(kept) >= gUndoLimit || bytes + newBytes > GetHistoryMemoryBudget())) {
        bytes -= PictureBytes(gHistory[1 + drop]);
        ++drop;
        --kept;
    }
    return drop;
}

}  // namespace

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

bool CheckRoomForWork(uint64_t workBytes) {
    if (HasRoomFor(workBytes)) return true;
    ReportOutOfMemory();
    return false;
}

bool MakeRoomForStep(uint64_t stepBytes, uint64_t workBytes) {
    // The step shown stays: the edit reads it, and it is still the picture
    // on screen should the edit fail.
    const int64_t shown = gHistoryPos;
    const size_t drop = shown >= 1 ? std::min(OldestStepsToDrop(stepBytes), size_t(shown - 1)) : 0;
    uint64_t freed = 0;
    for (int64_t i = shown + 1; i < int64_t(gHistory.size()); ++i) freed += BytesFreedWith(gHistory[size_t(i)]);
    for (size_t i = 1; i <= drop; ++i) freed += BytesFreedWith(gHistory[i]);
    if (!HasRoomFor(workBytes, freed)) {
        ReportOutOfMemory();
        return false;
    }
    if (shown < 0 || (drop == 0 && shown + 1 == int64_t(gHistory.size()))) return true;
    CutRedoBranch();
    for (size_t i = 0; i < drop; ++i) DropOldestStep();
    UpdateTitleAndUndoMenu();
    return true;
}

bool MakeRoomForEdit(int width, int height, uint64_t workBytes) {
    const uint64_t stepBytes = ImageByteCount(width, height);
    return MakeRoomForStep(stepBytes, stepBytes > UINT64_MAX - workBytes ? UINT64_MAX : stepBytes + workBytes);
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

void PushHistoryStep(SharedImage image, HistoryEntry entry) {
    CutRedoBranch();
    for (size_t drop = OldestStepsToDrop(image ? image->ByteCount() : 0); drop > 0; --drop) DropOldestStep();
    entry.image = std::move(image);
    gHistory.push_back(std::move(entry));
    gHistoryPos = int64_t(gHistory.size()) - 1;
}

void PushUndo(const std::string& label) {
    if (!gCurrentImage) return;
    HistoryEntry entry = MakeCurrentHistoryEntry(label);
    // The count belongs to this edit only; left behind it would be charged
    // to whichever step is recorded next.
    gEditClippedCount = 0;
    PushHistoryStep(gCurrentImage, std::move(entry));
    UpdateTitleAndUndoMenu();
}

void CommitEdit(ImagePtr image, const std::string& label, const std::string& suffix) {
    if (!image) {
        ReportOutOfMemory();
        // Making room may have cut the redo branch; the menu says so.
        UpdateTitleAndUndoMenu();
        return;
    }
    gCurrentImage = std::move(image);
    gTexInfo.isHdr = 0;  // the exposure is now part of the picture
    gTexInfo.hasAlpha = HasTransparentPixels(gCurrentImage.get());
    gTexInfo.note = label;
    gSaveNameSuffix += suffix;
    ShowChangedPicture(
        std::to_string(gCurrentImage->width) + " x " + std::to_string(gCurrentImage->height) + "  (edited)",
        PictureStep::Append, label);
}

void ClearHistory() {
    gHistory.clear();
    gHistoryPos = -1;
    gSavedPos = 0;
}

void ResetEditHistory(SharedImage image, HistoryEntry entry) {
    ClearHistory();
    PushHistoryStep(std::move(image), std::move(entry));
    gSavedPos = 0;
}

const HistoryEntry* GoToHistoryStep(int64_t index) {
    if (index < 0 || index >= int64_t(gHistory.size())) return nullptr;
    gHistoryPos = index;
    return &gHistory[size_t(index)];
}

const HistoryEntry* GoToPreviousStep() { return GoToHistoryStep(gHistoryPos - 1); }
const HistoryEntry* GoToNextStep() { return GoToHistoryStep(gHistoryPos + 1); }
const HistoryEntry* GoToOriginalStep() { return GoToHistoryStep(0); }

void ApplyHistoryEntry(const HistoryEntry* entry) {
    if (!entry || !entry->image) return;
    gCurrentImage = entry->image;
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
