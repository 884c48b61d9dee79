#include "editor/hdr_menu.h"

#include <string>

#include "adjust/document_ui.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "editor/open.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

// True when the open picture is an HDR picture; otherwise says why nothing
// happens.
bool CheckHdrTextureForMenu() {
    if (gCurrentImage && gTexInfo.isHdr) return true;
    std::string text;
    if (!gCurrentImage)
        text = "No texture is loaded.";
    else if (!gTexInfo.hdrData)
        text = GetDisplayName(gCurrentPath) + " is not an HDR texture.";
    else
        text = GetDisplayName(gCurrentPath) +
               " has been edited and is no longer an HDR image (Undo brings the HDR original back).";
    text += "\nThe settings in the HDR menu only apply to HDR textures; nothing was changed.";
    UiMessageBox(gAppTitle, text, UiButtons::Ok, UiIcon::Information, gMainWindow);
    return false;
}

}  // namespace

// The exposure and tone are the user's settings, kept at exit and used for
// the next HDR picture: a reload that fails (OpenFile reports it) leaves the
// new value set, and the next step goes on from it. Only the room check,
// which refuses before the reload, leaves them as they were.
void StepExposure(double step, bool reset) {
    if (!CheckHdrTextureForMenu() || !CheckRoomForReload()) return;
    gHdrExposure = reset ? 0.0 : gHdrExposure + step;
    OpenFile(gCurrentPath, true);
}

void SetToneMode(int64_t mode) {
    if (CheckHdrTextureForMenu() && CheckRoomForReload()) {
        gHdrTone = mode;
        OpenFile(gCurrentPath, true);
    }
    // Redrawn also after a refusal: a menu click may have toggled the tick.
    ShowToneMenuTicks();
}

void ShowToneMenuTicks() {
    UiSetMenuItemChecked(gMainWindow, CommandNumber(CommandId::ToneEditor), gHdrTone == 0);
    UiSetMenuItemChecked(gMainWindow, CommandNumber(CommandId::ToneFilmic), gHdrTone == 1);
}
