// The one path by which a change of the current picture reaches the user:
// opening, every edit and resize, undo, redo and revert all end here once
// gCurrentImage and gTexInfo hold the new state.
#pragma once

#include <string>

// What the change records in the history, with the picture now current.
enum class PictureStep {
    None,          // nothing: a move in the history
    Append,        // a new step after the one shown
    StartHistory,  // the history starts over with it (opening)
};

// In this order: status field 1 shows `statusText`; the preview and the
// histogram are redrawn; the step, labelled `label`, described by the
// globals as they are now and charged with gEditClippedCount (which goes
// back to 0), is recorded; the title and the Undo, Redo and Revert items
// follow.
void ShowChangedPicture(const std::string& statusText, PictureStep step = PictureStep::None,
                        const std::string& label = {});
