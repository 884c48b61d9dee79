#include "adjust/resize_ui.h"

#include <string>

#include "adjust/document_ui.h"
#include "formats/sizing.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

ResizeDialogHook gResizeHook;

constexpr int64_t kMaxResizeSide = 16384;

// The other side for a typed one, keeping from : to. Far-out typed values are
// clamped before the conversion back to a whole number, which would otherwise
// be undefined.
int64_t ScaledSide(int64_t typed, int64_t from, int64_t to) {
    const double value = double(to) * double(typed) / double(from) + 0.5;
    if (value >= 1e15) return int64_t(1e15);
    return int64_t(value);
}

}  // namespace

void SetResizeDialogHookForTesting(ResizeDialogHook hook) { gResizeHook = std::move(hook); }

bool RunResizeDialog(int parentWindow, int64_t width, int64_t height, int64_t& newWidth, int64_t& newHeight) {
    const int window = UiOpenWindow(0, 0, 360, 200, "Resize", kUiDialogFlags, parentWindow);
    if (!window) return false;
    UiCreateLabel(window, 12, 14, 330, 20,
                  "Current size: " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    UiCreateLabel(window, 12, 48, 60, 20, "Width:");
    const int widthField = UiCreateCombo(window, 80, 44, 100, 24, true);
    UiCreateLabel(window, 12, 80, 60, 20, "Height:");
    const int heightField = UiCreateCombo(window, 80, 76, 100, 24, true);
    for (int side = 16; side <= 8192; side *= 2) {
        UiAddItem(widthField, std::to_string(side));
        UiAddItem(heightField, std::to_string(side));
    }
    UiSetGadgetText(widthField, std::to_string(width));
    UiSetGadgetText(heightField, std::to_string(height));
    const int keepAspect = UiCreateCheckBox(window, 196, 60, 150, 24, "Keep aspect ratio");
    UiSetGadgetState(keepAspect, 1);
    const int fitButton = UiCreateButton(window, 12, 116, 334, 26, "Fit Dravik 1 (powers of 2, max 1024)");
    const int message = UiCreateLabel(window, 12, 172, 160, 20, "");
    const int ok = UiCreateButton(window, 176, 164, 80, 28, "OK", true);
    const int cancel = UiCreateButton(window, 266, 164, 80, 28, "Cancel");

    // Set while the dialog writes a field itself, so that write is not taken
    // for the user's change and bounced back into the field being typed.
    bool writing = false;
    auto write = [&](int field, int64_t value) {
        writing = true;
        UiSetGadgetText(field, std::to_string(value));
        writing = false;
    };

    UiDialogLoop loop;
    loop.ok = ok;
    loop.cancel = cancel;
    loop.escapeCancels = true;
    const ResizeDialogGadgets gadgets{window, widthField, heightField, keepAspect, fitButton, message, ok, cancel};
    loop.beforeWait = [&](int wait) {
        if (gResizeHook) gResizeHook(gadgets, wait);
    };
    loop.onConfirm = [&](const UiEvent&) {
        const int64_t w = ParseIntText(UiGetGadgetText(widthField));
        const int64_t h = ParseIntText(UiGetGadgetText(heightField));
        if (w < 1 || w > kMaxResizeSide || h < 1 || h > kMaxResizeSide) {
            UiSetGadgetText(message, "Invalid size");
            return UiDialogStep::Stay;
        }
        newWidth = w;
        newHeight = h;
        return UiDialogStep::Confirm;
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind != UiEventKind::Gadget) return UiDialogStep::Stay;
        const bool changed = event.type == UiEventType::Change && !writing;
        if (changed && (event.gadget == widthField || event.gadget == heightField)) {
            if (UiGetGadgetState(keepAspect) == 1 && width > 0 && height > 0) {
                const bool isWidth = event.gadget == widthField;
                const int64_t typed = ParseIntText(UiGetGadgetText(event.gadget));
                if (typed > 0) {
                    if (isWidth)
                        write(heightField, ScaledSide(typed, width, height));
                    else
                        write(widthField, ScaledSide(typed, height, width));
                }
            }
        } else if (event.type == UiEventType::Click && event.gadget == fitButton) {
            int fitWidth = 1, fitHeight = 1;
            FitSizePowerOfTwo(int(width), int(height), 1024, fitWidth, fitHeight);
            write(widthField, fitWidth);
            write(heightField, fitHeight);
        }
        return UiDialogStep::Stay;
    };
    const bool confirmed = UiRunModalDialog(window, parentWindow, loop);
    UiActivateWindow(parentWindow);
    return confirmed;
}

void HandleResizeCommand() {
    if (!RequireOpenPicture()) return;
    const Image& picture = *GetCurrentPicture();
    int64_t newWidth = 0, newHeight = 0;
    if (RunResizeDialog(GetMainWindow(), picture.width, picture.height, newWidth, newHeight))
        ResizeCurrentImage(int(newWidth), int(newHeight));
}
