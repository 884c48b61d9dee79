// The one path by which a change of the current picture reaches the user:
// opening, every edit and resize, undo, redo and revert all end here once
// gCurrentImage and gTexInfo hold the new state.
#pragma once

#include <string>

#include "toolkit/image.h"

// A history step to record with the change. The copy is made before the
// picture changes, so a picture that cannot be recorded is never shown.
struct PictureStep {
    ImagePtr copy;               // null: nothing is recorded (a move in the history)
    std::string label;
    bool startsHistory = false;  // the history starts over with it (opening)
};

// In this order: status field 1 shows `statusText`; the preview and the
// histogram are redrawn; the step, described by the globals as they are now
// and charged with gEditClippedCount (which goes back to 0), is recorded;
// the title and the Undo, Redo and Revert items follow.
void ShowChangedPicture(const std::string& statusText, PictureStep step = {});
