// The Resize dialog: a new width and height for the open picture, typed,
// picked from powers of two, kept in proportion, or fitted to the
// first-generation texture limit. HandleResizeCommand is in editor/commands.h.
#pragma once

#include <cstdint>
#include <functional>

// Shows the dialog for a width x height picture. 1 with the confirmed size in
// the outputs; 0 when cancelled (the outputs are not written).
int64_t RunResizeDialog(int parentWindow, int64_t width, int64_t height, int64_t& newWidth, int64_t& newHeight);

// Test hook: called each time the dialog is about to wait for an event, with
// the window, the two size fields, the aspect box, the fit button, the message
// line, OK and Cancel, and how many waits came before this one.
struct ResizeDialogGadgets {
    int window, widthField, heightField, keepAspect, fitButton, message, ok, cancel;
};
using ResizeDialogHook = std::function<void(const ResizeDialogGadgets& gadgets, int wait)>;
void SetResizeDialogHookForTesting(ResizeDialogHook hook);
