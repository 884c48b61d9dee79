// The edit history: every change to the current picture is kept as a full
// copy with the parts of gTexInfo that edits change. Entry 0 is the picture as
// opened; gHistoryPos is the entry shown; gSavedPos the entry that matches the
// file on disk (-1 once it has been cut away). Adjustments never touch the
// history directly: they hand their result to CommitEdit (declared with the
// tools' view of the picture in adjust/document_ui.h).
//
// The rule that holds everything together: a picture is never shown as an
// edit unless its step was recorded, and a failed undo or redo leaves both
// the picture and the position where they were.
#pragma once

#include <cstdint>
#include <string>

#include "adjust/document_ui.h"
#include "editor/globals.h"

// Records the current picture and description as a new step labelled
// `label`, taking gEditClippedCount into it. False when the copy could not be
// made (nothing is recorded then).
bool PushUndo(const std::string& label);

// Appends a copy of `image` with the entry's fields (the entry's own image is
// ignored), cutting the redo branch and dropping the oldest edits while the
// history would exceed gUndoLimit steps or GetHistoryMemoryBudget() bytes of
// pixels (the original and the new step always stay). False when the copy
// could not be made.
bool PushHistoryStep(const Image& image, HistoryEntry entry);
// Same, for a copy the caller already made; cannot fail.
void AppendHistoryStep(ImagePtr copy, HistoryEntry entry);

// The history becomes this one step, which is also the saved step. False
// when the copy could not be made (the history is then empty).
bool ResetEditHistory(const Image& image, HistoryEntry entry);
// Same, for a copy the caller already made; cannot fail.
void ResetEditHistory(ImagePtr copy, HistoryEntry entry);
void ClearHistory();

// An entry describing the current state (no image), labelled `label`.
HistoryEntry MakeCurrentHistoryEntry(const std::string& label);

// Shows a step: the result of GoToHistoryStep and friends. Null does nothing.
void ApplyHistoryEntry(const HistoryEntry* entry);
const HistoryEntry* GoToHistoryStep(int64_t index);
const HistoryEntry* GoToPreviousStep();
const HistoryEntry* GoToNextStep();
const HistoryEntry* GoToOriginalStep();

bool CanUndo();
bool CanRedo();
int64_t CountEditsSinceOpen();
bool HasUnsavedEdits();
void MarkSaved();
int64_t SumHistoryClipCounts();
std::string GetUndoLabel();
std::string GetRedoLabel();

// The most bytes of pixels the history's steps keep together: a share of the
// memory the program can count on (toolkit/memory.h), so that a large picture
// costs undo steps instead of the session.
uint64_t GetHistoryMemoryBudget();
// Test hook: a budget in bytes (0 restores the one from the machine).
void SetHistoryMemoryBudgetForTesting(uint64_t bytes);

// Test hook: replaces the image copy the history makes (null restores the
// real one), so tests can make a copy fail.
void SetHistoryImageCopierForTesting(ImagePtr (*copier)(const Image&));
// The copier the history uses; open and resize use it too so one hook covers
// every copy that decides whether an edit may be shown.
ImagePtr CopyImageForHistory(const Image& image);
