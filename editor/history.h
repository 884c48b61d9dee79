// The edit history: every change to the current picture is kept as a whole
// picture with the parts of gTexInfo that edits change. Entry 0 is the picture
// as opened; gHistoryPos is the entry shown; gSavedPos the entry that matches
// the file on disk (-1 once it has been cut away). Adjustments never touch the
// history directly: they make room with MakeRoomForEdit and hand their result
// to CommitEdit (both declared with the tools' view of the picture in
// adjust/document_ui.h).
//
// Pictures are shared, never copied: the shown step's picture is
// gCurrentImage itself, and an edit makes a new picture instead of changing
// one. So a large picture costs one buffer for the picture shown and its step,
// and a move in the history cannot run out of memory.
#pragma once

#include <cstdint>
#include <string>

#include "adjust/document_ui.h"
#include "editor/globals.h"
#include "toolkit/memory.h"

// Records the current picture and description as a new step labelled
// `label`, taking gEditClippedCount into it.
void PushUndo(const std::string& label);

// Appends `image` (shared, not copied) with the entry's fields (the entry's
// own image is ignored), cutting the redo branch and dropping the oldest
// edits while the history would exceed gUndoLimit steps or
// GetHistoryMemoryBudget() bytes of pixels (the original and the new step
// always stay).
void PushHistoryStep(SharedImage image, HistoryEntry entry);

// The history becomes this one step, which is also the saved step. The
// picture may be one of the steps it replaces.
void ResetEditHistory(SharedImage image, HistoryEntry entry);
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

// Before an edit makes the picture of a step of `stepBytes`: when the edit
// fits in memory, the steps that recording it will push out (the redo branch,
// the oldest edits beyond the step limit or the budget, but never the step
// shown, which the edit reads) go now, so they are not held beside the new
// picture. It fits when `workBytes`, the most it holds at once besides the
// pictures already open, and some room for the rest of the program fit in
// the memory the process can still take (toolkit/memory.h), counting what the
// dropped steps give back. An edit that does not fit is refused with "Not
// enough memory for this operation." and nothing changes; false then.
bool MakeRoomForStep(uint64_t stepBytes, uint64_t workBytes);
// The memory check alone, for work that records no step; reported the same way.
bool CheckRoomForWork(uint64_t workBytes);
// What an edit must leave free beyond its own pictures: the window's redraw,
// row buffers and a resize's filter rows run beside it.
constexpr uint64_t kEditWorkingRoom = kMemoryReserveBytes;
