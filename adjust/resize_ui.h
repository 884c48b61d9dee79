// The Resize dialog: a new width and height for the open picture, typed,
// picked from powers of two, kept in proportion, or fitted to the
// first-generation texture limit.
#pragma once

#include <cstdint>
#include <functional>

// The "Resize..." command: the dialog for the open picture, then the resize.
void HandleResizeCommand();

// Shows the dialog for a width x height picture. True with the confirmed size
// in the outputs; false when cancelled (the outputs are not written).
bool RunResizeDialog(int parentWindow, int64_t width, int64_t height, int64_t& newWidth, int64_t& newHeight);

// Test hook: called each time the dialog is about to wait for an event, with
// the window, the two size fields, the aspect box, the fit button, the message
// line, OK and Cancel, and how many waits came before this one.
struct ResizeDialogGadgets {
    int window, widthField, heightField, keepAspect, fitButton, message, ok, cancel;
};
using ResizeDialogHook = std::function<void(const ResizeDialogGadgets& gadgets, int wait)>;
void SetResizeDialogHookForTesting(ResizeDialogHook hook);
